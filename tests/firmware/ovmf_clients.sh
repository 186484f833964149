#!/usr/bin/env bash
# Boot loaders and kernels that nobody here wrote on our Graphics Output:
# Debian's GRUB and Linux, started from the UEFI Shell in OVMF with QEMU's
# own display adapter removed, on the model-backed KT270 with the digital
# 1680x1050 monitor. Three boots:
#   grub-linux  our driver started alone (not on ConOut, nothing draws
#               through it): GRUB (videoinfo, gfxmode=auto, gfxterm, its
#               picture saved while its text is on the monitor), then the
#               driver stopped and started again and Linux on it (set-up A)
#   linux-list  the Shell's console on our adapter, Linux video=efifb:list
#               (the run ends once the kernel's EFI stub has listed the
#               modes)
#   linux-auto  the same with video=efifb:auto (set-up B)
# The kernels' frame buffers are saved (pmemsave) once their consoles have
# been written. Asserts the three runs with check_clients.sh.
#   ovmf_clients.sh --work DIR --images DIR --tools DIR --clients DIR [--timeout S]
# --tools: the host build's bin directory (e2e_tool, client_tool);
# --clients: what tests/firmware/clients/prepare.sh left.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/ovmf_lib.sh"
clients="" args=()
while [ $# -gt 0 ]; do
  if [ "$1" = --clients ]; then clients=$2; shift 2; else args+=("$1"); shift; fi
done
timeout_s=150
ovmf_options ovmf_clients "work images tools timeout" "${args[@]}"
for f in "$clients/grubx64.efi" "$clients/vmlinuz.efi" "$clients/initrd.img" "$images/KtClient.efi" \
         "$tools/e2e_tool" "$tools/client_tool"; do
  [ -e "$f" ] || { echo "ovmf_clients: $f missing (make build)" >&2; exit 2; }
done
mkdir -p "$work"
work=$(cd "$work" && pwd)
top=$work
scn_dir=$(mktemp -d)
trap 'rm -rf "$scn_dir"' EXIT
# The digital 1680x1050 monitor of the end-to-end runs, its EDID with the
# preferred-timing bit (byte 0x18 bit 1) that EDID 1.3 requires and GRUB
# looks for before it names a preferred mode.
"$tools/e2e_tool" scenario "$scn_dir/e2e.scn" "digital=$fw_dir/clients/digital.json" || exit 2
files=(--file "$scn_dir/e2e.scn" --file "$images/KtClient.efi" --file "$clients/vmlinuz.efi" --file "$clients/initrd.img")
# The kernel's frame buffer, from the address efifb gives, once its console is written.
linux_capture=(--monitor-on serial 'KT-LINUX capture (0x[0-9a-f]+) ([0-9]+)' "pmemsave \\1 \\2 \"@WORK@/linux.raw\""
               --monitor-on serial 'KT-LINUX capture' 'sendkey ret')

# boot NAME SCRIPT ARGS...: one boot in $top/NAME, without QEMU's display adapter.
boot() {
  local name=$1 script=$2 a
  shift 2
  work=$top/$name
  local run=()
  for a in "$@"; do run+=("${a//@WORK@/$work}"); done
  ovmf_boot --script "$script" "${files[@]}" "${run[@]}" -- -vga none
}

boot grub-linux "$fw_dir/clients/grub_linux.nsh" --file "$clients/grubx64.efi" \
  --monitor-on debugcon '"event":"picture","tag":"grub".*"address":"(0x[0-9a-f]+)","bytes":([0-9]+)' \
  "pmemsave \\1 \\2 \"@WORK@/grub.raw\"" \
  --monitor-on debugcon '"event":"picture","tag":"grub"' 'sendkey ret' \
  "${linux_capture[@]}"
for video in list auto; do
  sed "s/@VIDEO@/$video/" "$fw_dir/clients/shell_linux.nsh" > "$scn_dir/linux-$video.nsh"
done
boot linux-list "$scn_dir/linux-list.nsh" --monitor-on serial 'Press any key to continue' 'quit'
boot linux-auto "$scn_dir/linux-auto.nsh" "${linux_capture[@]}"
work=$top

# The saved memory as pictures: GRUB's as the model rendered the monitor,
# the kernels' as the CRTC scans the frame buffer out (efifb's mode and
# line length, which the check holds against the CRTC's).
grub_line=$(grep -F '"event":"picture","tag":"grub"' "$top/grub-linux/debugcon.log" | tail -n 1)
if [ -f "$top/grub-linux/grub.raw" ]; then
  "$tools/client_tool" picture "$top/grub-linux/grub.raw" "$top/grub.png" "$(field size "$grub_line")" \
    > "$top/grub-linux/grub.info"
fi
for run in grub-linux linux-auto; do
  mode=$(sed -n 's/.*efifb: mode is \([0-9]*x[0-9]*\)x32, linelength=\([0-9]*\),.*/\1 \2/p' "$top/$run/console.txt" | head -n 1)
  if [ -f "$top/$run/linux.raw" ] && [ -n "$mode" ]; then
    set -- $mode
    "$tools/client_tool" picture "$top/$run/linux.raw" "$top/$run/linux.png" "$1" 0 "$2" > "$top/$run/linux.info"
  fi
done
[ -f "$top/grub-linux/linux.png" ] && cp "$top/grub-linux/linux.png" "$top/linux.png"

"$fw_dir/check_clients.sh" "$top"
