#!/usr/bin/env bash
# Boots OVMF under QEMU (TCG) with a FAT ESP made from EFI images and a
# Shell script, and waits until the firmware powers off or the timeout hits.
#
#   run_ovmf.sh --work DIR [--images DIR] [--script FILE] [--timeout SECONDS]
#               [--file PATH]... [--monitor-on serial|debugcon REGEX COMMAND]...
#               [--secure-boot] [--vars FILE] [--boot-app FILE]
#               [-- extra qemu arguments]
#
# --images    directory holding QuovanUga.efi, QuovanUgaDrawOnly.efi and the test images (KtFakePci,
#             KtCheck, KtVirt, KtE2e)
#             (default: build/efi of this checkout)
# --script    Shell script run as startup.nsh (default: the smoke scenario)
# --file      extra file for the ESP root (repeatable)
# --monitor-on  send COMMAND to the QEMU monitor once REGEX shows up in the
#             serial console (ANSI escapes stripped) or the debug console;
#             triggers fire in the order given. The first trigger, present
#             unless --boot-app, skips the Shell's 5 s countdown with a key press.
#             \1 to \9 in COMMAND stand for REGEX's groups in the first
#             line that matched (e.g. an address the guest printed).
# --secure-boot  Debian's Secure Boot OVMF (SMM) with the snakeoil keys
#             enrolled in PK, KEK and db
# --vars      start from a copy of this variable store (e.g. a vars.fd an
#             earlier run left) instead of the firmware's template
# --boot-app  EFI application for \EFI\BOOT\BOOTX64.EFI, which the firmware
#             boots when nothing else comes first
#
# Leaves in DIR: esp/, vars.fd, debugcon.log (JSON lines of the test
# images), serial.log (raw console), console.txt (console without ANSI
# escapes), monitor.log, qemu.cmd, timeline (host seconds at which each
# "KT-<TAG> <step>" line echoed by the script appeared), and result (qemu
# exit code, seconds).
# Exit status: 0 when QEMU ended by itself with status 0, 124 on timeout,
# otherwise QEMU's status.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/ovmf_lib.sh"
ovmf_options run_ovmf "work images script timeout file monitor-on secure-boot vars boot-app --" "$@"

ovmf_code=/usr/share/OVMF/OVMF_CODE_4M.fd
ovmf_vars=/usr/share/OVMF/OVMF_VARS_4M.fd
machine=q35,accel=tcg secure=()
if [ -n "$secure_boot" ]; then
  # This build of the firmware keeps its variables in SMM.
  ovmf_code=/usr/share/OVMF/OVMF_CODE_4M.snakeoil.fd
  ovmf_vars=/usr/share/OVMF/OVMF_VARS_4M.snakeoil.fd
  machine=q35,smm=on,accel=tcg
  secure=(-global driver=cfi.pflash01,property=secure,value=on -global ICH9-LPC.disable_s3=1)
fi
[ -n "$vars_from" ] && ovmf_vars=$vars_from
for f in "$ovmf_code" "$ovmf_vars"; do
  [ -r "$f" ] || { echo "run_ovmf: $f missing (Debian package ovmf)" >&2; exit 2; }
done
command -v qemu-system-x86_64 >/dev/null || { echo "run_ovmf: qemu-system-x86_64 missing (package qemu-system-x86)" >&2; exit 2; }

rm -rf "$work"
mkdir -p "$work/esp"
work=$(cd "$work" && pwd)
for img in QuovanUga.efi QuovanUgaDrawOnly.efi KtFakePci.efi KtCheck.efi KtVirt.efi KtE2e.efi; do
  [ -f "$images/$img" ] || { echo "run_ovmf: $images/$img missing (make build)" >&2; exit 2; }
  cp "$images/$img" "$work/esp/"
done
for f in "${files[@]}"; do cp "$f" "$work/esp/"; done
if [ -n "$boot_app" ]; then
  mkdir -p "$work/esp/EFI/BOOT"
  cp "$boot_app" "$work/esp/EFI/BOOT/BOOTX64.EFI"
fi
# The Shell runs startup.nsh only with CRLF line ends.
sed -e 's/\r$//' -e 's/$/\r/' "$script" > "$work/esp/startup.nsh"
cp "$ovmf_vars" "$work/vars.fd"
: > "$work/debugcon.log"
: > "$work/serial.log"

strip_ansi() { sed -e 's/\x1b\[[0-9;?=]*[A-Za-z]//g' -e 's/\x1b[()][A-Za-z0-9]//g' -e 's/\r//g' "$1"; }

qemu=(qemu-system-x86_64
  -machine "$machine" -cpu max -m 256M -smp 1 "${secure[@]}"
  -drive "if=pflash,format=raw,unit=0,readonly=on,file=$ovmf_code"
  -drive "if=pflash,format=raw,unit=1,file=$work/vars.fd"
  -drive "format=raw,file=fat:rw:$work/esp"
  -nic none -display none -no-reboot
  -debugcon "file:$work/debugcon.log" -global isa-debugcon.iobase=0x402
  -serial "file:$work/serial.log"
  -monitor stdio
  "${extra[@]}")
printf '%q ' "${qemu[@]}" > "$work/qemu.cmd"
echo >> "$work/qemu.cmd"

# Feeds the monitor (QEMU's stdin, through a FIFO). Each wait is bounded by
# the run's timeout; the feeder is ended once QEMU is gone.
feed_monitor() {
  local deadline=$((SECONDS + timeout_s))
  local all=("serial" "Press ESC in" "sendkey ret" "${triggers[@]}")
  [ -n "$boot_app" ] && all=("${triggers[@]}")
  local i=0
  while [ $i -lt ${#all[@]} ]; do
    local log=${all[$i]} regex=${all[$((i + 1))]} cmd=${all[$((i + 2))]} file
    case "$log" in
      serial) file="$work/serial.log" ;;
      debugcon) file="$work/debugcon.log" ;;
      *) echo "run_ovmf: --monitor-on needs serial or debugcon, not $log" >&2; break ;;
    esac
    until strip_ansi "$file" | grep -Eq -- "$regex"; do
      [ $SECONDS -lt $deadline ] || break 2
      sleep 0.1
    done
    if [[ $cmd =~ \\[1-9] ]]; then
      cmd=$(strip_ansi "$file" | grep -Eo -- "$regex" | head -n 1 | sed -E "s"$'\x01'"$regex"$'\x01'"$cmd"$'\x01')
    fi
    echo "$cmd"
    i=$((i + 3))
  done
  exec sleep "$timeout_s"  # keeps the monitor's input open; exec: ends with the kill
}

# Host-side timeline: seconds since QEMU start at which each "KT-<tag>
# <step>" marker that the Shell script echoes first shows on the console.
record_timeline() {
  local seen="" last=""
  while [ -z "$last" ]; do
    [ -f "$work/result" ] && last=1  # one more pass over the final log
    local t now
    now=$(date +%s.%N)
    t=$(awk -v a="$start" -v b="$now" 'BEGIN { printf "%.2f", b - a }')
    while read -r marker; do
      case " $seen " in *" $marker "*) continue ;; esac
      seen="$seen $marker"
      echo "$t $marker" >> "$work/timeline"
    done < <(strip_ansi "$work/serial.log" | grep -Eo '^KT-[A-Z0-9]+ [A-Za-z0-9_-]+' | tr ' ' ':')
    sleep 0.2
  done
}

start=$(date +%s.%N)
: > "$work/timeline"
record_timeline &
timeline_pid=$!
mkfifo "$work/monitor.in"
set +e
timeout --foreground -k 5 "$timeout_s" "${qemu[@]}" < "$work/monitor.in" > "$work/monitor.log" 2>&1 &
qemu_job=$!
feed_monitor > "$work/monitor.in" &
feeder=$!
wait "$qemu_job"
rc=$?
kill "$feeder" 2>/dev/null
wait "$feeder" 2>/dev/null
set -e
end=$(date +%s.%N)
seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')

printf 'qemu_status %s\nseconds %s\ntimeout %s\n' "$rc" "$seconds" "$timeout_s" > "$work/result"
wait "$timeline_pid" || true
echo "$seconds end" >> "$work/timeline"
strip_ansi "$work/serial.log" > "$work/console.txt"
if [ "$rc" -eq 124 ]; then
  echo "run_ovmf: QEMU did not end within ${timeout_s}s (logs in $work)" >&2
else
  echo "run_ovmf: QEMU ended with status $rc after ${seconds}s (logs in $work)"
fi
exit "$rc"
