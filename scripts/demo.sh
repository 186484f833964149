#!/usr/bin/env bash
# The main job at this stage: boots Debian's OVMF (QEMU, TCG) with the
# driver image and the smoke scenario, and summarises what the firmware
# reported. Logs stay in build/demo/.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work="$root/build/demo"
fw="$root/tests/firmware"
images=${QUOVAN_EFI_DIR:-$root/build/efi}  # where the EFI build left its images

echo "Booting OVMF with $images/QuovanUga.efi (TCG, up to 120 s)..."
"$fw/run_ovmf.sh" --work "$work" --images "$images" --timeout 120 > /dev/null
run_rc=$?
[ "$run_rc" -eq 2 ] && exit 2
"$fw/check_smoke.sh" "$work" > "$work/checks.txt"
check_rc=$?

debug="$work/debugcon.log"
line() {
  local pattern="\"event\":\"$1\""
  [ $# -ge 2 ] && pattern="$pattern.*\"round\":$2[,}]"
  grep -E "$pattern" "$debug" | tail -n 1
}
field() { printf '%s' "$2" | sed -n -E "s/.*\"$1\":(\"[^\"]*\"|[^,}]*).*/\1/p" | tr -d '"'; }
status_name() {
  case "$1" in
    0x0) echo "EFI_SUCCESS" ;;
    0x8000000000000002) echo "EFI_INVALID_PARAMETER" ;;
    0x8000000000000003) echo "EFI_UNSUPPORTED" ;;
    0x8000000000000007) echo "EFI_DEVICE_ERROR" ;;
    0x800000000000000e) echo "EFI_NOT_FOUND" ;;
    0x8000000000000013) echo "EFI_NOT_STARTED" ;;
    0x8000000000000014) echo "EFI_ALREADY_STARTED" ;;
    "") echo "(not reported)" ;;
    *) echo "$1" ;;
  esac
}
ms() { awk -v us="${1:-0}" 'BEGIN { printf "%.1f ms", us / 1000 }'; }

drv=$(line driver) cn=$(line component_name) dis=$(line disconnect)
echo
echo "What the firmware reported"
echo "  driver        $(field name "$drv") (Driver Binding version $(field version "$drv"))"
echo "  controller    $(field controller_name "$cn") (stand-in PCI controller 1F6B:6B10)"
for round in 1 2; do
  c=$(line connect $round) u=$(line uga $round)
  [ -n "$c" ] || continue
  echo "  connect #$round    Supported $(status_name "$(field supported_status "$c")")," \
    "Start $(status_name "$(field start_status "$c")"), UGA Draw $( [ "$(field present "$u")" = true ] && echo installed || echo MISSING)" \
    "($(ms "$(field us "$c")"))"
  if [ "$(field at_install_status "$u")" = 0x0 ]; then
    echo "    GetMode     $(field at_install "$u") (freshly started)"
  else
    echo "    GetMode     $(status_name "$(field at_install_status "$u")")"
  fi
  echo "    SetMode     $(field setmode_calls "$u") call(s) from the firmware, last $(field last_setmode "$u")" \
    "-> $(status_name "$(field last_setmode_status "$u")"); Blt calls $(field blt_calls "$u")"
  if [ "$round" = 1 ] && [ -n "$dis" ]; then
    echo "  disconnect    Stop $(status_name "$(field stop_status "$dis")")," \
      "UGA Draw $( [ "$(field uga_present "$dis")" = false ] && echo removed || echo STILL THERE)," \
      "PCI command $(field command "$(grep '"event":"device","when":"connected"' "$debug" | head -n 1)") -> $(field command "$dis")" \
      "($(ms "$(field us "$dis")"))"
  fi
done
row=$(sed -n '/^KT-SMOKE drivers-after/,/^KT-SMOKE /p' "$work/console.txt" | grep 'ZEL Quovan' | head -n 1)
echo "  Shell drivers ${row:-(driver not listed)}"
begin=$(grep '"mode":"noreset"' "$debug" | head -n 1)
echo
echo "Timings"
echo "  firmware boot to the check application  $(field uptime_ms "$begin") ms (guest clock)"
echo "  whole run, QEMU start to power-off      $(awk '$1 == "seconds" { print $2 }' "$work/result") s (host clock)"
echo
passed=$(grep -c '^ok ' "$work/checks.txt")
failed=$(grep -c '^FAIL' "$work/checks.txt")
grep '^NOTE' "$work/checks.txt" | sed 's/^/  /'
if [ "$check_rc" -eq 0 ]; then
  echo "Verdict: $passed checks passed."
else
  echo "Verdict: $failed check(s) FAILED, $passed passed:"
  grep '^FAIL' "$work/checks.txt" | sed 's/^/  /'
fi
echo "Logs: build/demo/ (debugcon.log: JSON lines of the check; console.txt: Shell console;"
echo "      checks.txt: every check; timeline; qemu.cmd)"
exit "$check_rc"
