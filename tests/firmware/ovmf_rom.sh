#!/usr/bin/env bash
# Option-ROM test: boots OVMF with the driver's expansion-ROM image as the
# ROM of QEMU's PCI test device and checks that the firmware's PCI bus
# driver loaded our driver from it. The test device keeps QEMU's own IDs
# (1B36:0005), so the driver is loaded but manages nothing.
#
#   ovmf_rom.sh --work DIR --images DIR --rom ROM [--timeout S]
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/ovmf_lib.sh"
ovmf_options ovmf_rom "work images rom timeout" "$@"
[ -f "$rom" ] || { echo "ovmf_rom: ROM image '$rom' missing (test mkrom_build)" >&2; exit 2; }
rom=$(cd "$(dirname "$rom")" && pwd)/$(basename "$rom")

ovmf_boot --script "$fw_dir/rom.nsh" -- -device "pci-testdev,romfile=$rom"
checks_begin "$work"
expect_powered_off
# An image loaded from an option ROM has the file path Offset(start,end)
# relative to its PCI device: here the whole ROM, 0 to size - 1.
size=$(stat -c %s "$rom")
path=$(printf 'Offset(0x0,0x%X)' $((size - 1)))
row=$(drivers_row "KT-ROM drivers" "KT-ROM done")
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
show_drivers() { between "KT-ROM drivers" "KT-ROM done"; }
checks_end show_drivers
