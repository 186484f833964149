#!/usr/bin/env bash
# Option-ROM test: boots OVMF with the driver's expansion-ROM image as the
# ROM of QEMU's PCI test device and checks that the firmware's PCI bus
# driver loaded our driver from it. The test device keeps QEMU's own IDs
# (1B36:0005), so the driver is loaded but manages nothing.
#
#   ovmf_rom.sh --work DIR --images DIR --rom ROM [--timeout S]
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work="" images="" rom="" timeout_s=120
while [ $# -gt 0 ]; do
  case "$1" in
    --work) work=$2; shift 2 ;;
    --images) images=$2; shift 2 ;;
    --rom) rom=$2; shift 2 ;;
    --timeout) timeout_s=$2; shift 2 ;;
    *) echo "ovmf_rom: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -f "$rom" ] || { echo "ovmf_rom: ROM image '$rom' missing (test mkrom_build)" >&2; exit 2; }
rom=$(cd "$(dirname "$rom")" && pwd)/$(basename "$rom")

"$here/run_ovmf.sh" --work "$work" --images "$images" --script "$here/rom.nsh" --timeout "$timeout_s" \
  -- -device "pci-testdev,romfile=$rom"
rc=$?
[ "$rc" -eq 2 ] && exit 2
console="$work/console.txt"
failures=0
pass() { echo "ok    $*"; }
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }

[ "$rc" -eq 0 ] && pass "firmware powered off by itself" || fail "QEMU status $rc"
# An image loaded from an option ROM has the file path Offset(start,end)
# relative to its PCI device: here the whole ROM, 0 to size - 1.
size=$(stat -c %s "$rom")
path=$(printf 'Offset(0x0,0x%X)' $((size - 1)))
row=$(sed -n '/^KT-ROM drivers/,/^KT-ROM done/p' "$console" | grep -F 'ZEL Quovan UGA Driver 01.00.121' | head -n 1)
if [ -z "$row" ]; then
  fail "Shell 'drivers' does not list our driver: the firmware did not load it from the ROM"
elif printf '%s\n' "$row" | grep -Fq "$path"; then
  pass "driver loaded from the option ROM: $row"
else
  fail "driver listed, but its image is not $path: $row"
fi
# No KT270 on this bus: the type column stays '?' and no device is managed.
if printf '%s\n' "$row" | grep -Eq '^ *[0-9A-F]+ 0010007A \? [-YN] [-YN] +- +- '; then
  pass "version 0010007A, managing no device (the test device is not a KT270)"
else
  fail "drivers row is not 'version 0010007A, no device managed': $row"
fi
if [ "$failures" -gt 0 ]; then
  sed -n '/^KT-ROM drivers/,/^KT-ROM done/p' "$console"
  echo "$failures check(s) failed; logs in $work"
  exit 1
fi
echo "all checks passed; logs in $work"
