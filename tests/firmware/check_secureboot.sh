#!/usr/bin/env bash
# Asserts a boot of the Secure Boot test (ovmf_secureboot.sh) from its
# run_ovmf.sh work directory.
#   check_secureboot.sh WORKDIR esp             the driver from the ESP
#   check_secureboot.sh WORKDIR rom ROM SIGNED  the driver from the option
#                                               ROM ROM, around SIGNED
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/ovmf_lib.sh"
checks_begin "${1:?usage: check_secureboot.sh WORKDIR esp|rom [ROM SIGNED]}"
from=${2:-esp} rom=${3:-} signed=${4:-}

# A path as the firmware writes it (JSON strings double the backslash).
path_of() { field "$1" "$2" | sed 's/\\\\/\\/g'; }
# event EVENT [TEXT]: the first JSON line of EVENT that holds TEXT.
event() { grep -F "\"event\":\"$1\"" "$debug" | grep -F -- "${2:-}" | head -n 1; }
# The Nth (default first) report of a step on FILE.
step() { grep -F "\"event\":\"$1\"" "$debug" | grep -F "\"file\":\"$2\"" | sed -n "${3:-1}p"; }
# The firmware refuses an image with one of the two statuses UEFI allows it.
refused_status() {
  case "$(field load_status "$2")" in
    0x800000000000001a|0x800000000000000f) pass "$1: LoadImage refused it ($(field load_text "$2"))" ;;
    *) fail "$1: LoadImage returned '$(field load_status "$2")', expected Security Violation or Access Denied" ;;
  esac
}
expect_refused() {
  refused_status "$1" "$2"
  # A refused image may still come back as a handle, which must not start.
  if [ "$(field handle "$2")" = true ]; then
    case "$(field start_status "$2")" in
      0x800000000000001a|0x800000000000000f) pass "$1: StartImage refused the handle LoadImage returned" ;;
      *) fail "$1: StartImage of the refused image returned $(field start_status "$2")" ;;
    esac
  fi
  expect "$1: nothing of the driver ran (no Driver Binding of ours)" "$2" our_drivers_after 0
}
# refused_entry NAME: the firmware's Image Execution Information Table
# lists an image whose path ends in NAME (its verdict there is "untested"
# for an image db does not admit).
refused_entry() {
  local l
  l=$(grep -F '"event":"refused"' "$debug" | grep -F -- "\\\\$1\"" | head -n 1)
  if [ -z "$l" ]; then fail "no entry for $1 in the firmware's table of refused images"
  else pass "the firmware's table of refused images holds $(path_of name "$l") ($(field verdict "$l"))"; fi
}

expect_powered_off
l=$(event state)
expect "Secure Boot on" "$l" secure_boot 1
expect "user mode (PK enrolled)" "$l" setup_mode 0

if [ "$from" = esp ]; then
  l=$(step load KtVirt.efi)
  expect "KtVirt.efi (signed with the snakeoil key) loaded" "$l" load_status 0x0
  expect "KtVirt.efi started" "$l" start_status 0x0
  expect_refused "unsigned QuovanUga.efi" "$(step load QuovanUga.efi)"
  l=$(event connect_virt)
  expect "ConnectController after the refusal: no UGA Draw" "$l" uga false
  expect "no Graphics Output" "$l" gop false
  expect "the virtual KT270 saw no register or frame-buffer access" "$l" bar_accesses 0
  expect "no PCI attribute call" "$l" attribute_calls 0
  expect "no configuration write" "$l" config_writes 0
  refused_entry QuovanUga.efi
  signed_loads=$(grep -F '"event":"load"' "$debug" | grep -cF '"file":"QuovanUga.signed.efi"')
  if [ "$signed_loads" -ge 2 ]; then
    expect_refused "QuovanUga.signed.efi before its certificate is in db" "$(step load QuovanUga.signed.efi)"
    refused_entry QuovanUga.signed.efi
  else
    echo "NOTE  the driver is signed with the snakeoil key, which db holds from the start"
  fi
  l=$(event enrol)
  expect "its certificate appended to db under the KEK's signature" "$l" status 0x0
  if [ "$(field db_bytes_after "$l")" -gt "$(field db_bytes_before "$l")" ] 2>/dev/null; then
    pass "db grew from $(field db_bytes_before "$l") to $(field db_bytes_after "$l") bytes"
  else
    fail "db did not grow: $l"
  fi
  l=$(step load QuovanUga.signed.efi "$signed_loads")
  expect "then QuovanUga.signed.efi loaded" "$l" load_status 0x0
  expect "its entry point ran" "$l" start_status 0x0
  expect "its Driver Binding is there" "$l" our_drivers_after 1
  l=$(event our_driver)
  case "$(field file "$l")" in
    *QuovanUga.signed.efi) pass "the driver in place is the signed image: $(path_of file "$l")" ;;
    *) fail "the driver in place came from '$(field file "$l")'" ;;
  esac
else
  # The test device at 0x10 holds ROM.
  l=$(event drivers)
  expect "one instance of our driver" "$l" count 1
  l=$(event our_driver)
  path=$(printf 'Offset(0x0,0x%X)' $(($(stat -c %s "$rom") - 1)))
  if [ "$(field file "$l")" = "$path" ] && [[ "$(field device "$l")" == *"Pci(0x10,0x0)" ]]; then
    pass "loaded and started by the firmware from the ROM: $(field device "$l") $path"
  else
    fail "our driver's image is '$(field device "$l")' '$(field file "$l")', expected the device at 0x10, $path"
  fi
  l=$(step rom "$(basename "$rom")")
  expect "$(basename "$rom"): compressed" "$l" compression 1
  expect "the firmware's decompressor unpacks it" "$l" decompress_status 0x0
  expect "to as many bytes as the signed image" "$l" image_bytes "$(stat -c %s "$signed")"
  expect "the firmware accepts that image" "$l" load_status 0x0
  l=$(step rom QuovanUga-unsigned.rom)
  expect "the same ROM around the unsigned image: unpacked" "$l" decompress_status 0x0
  refused_status "the image of the unsigned ROM" "$l"
  refused_entry QuovanUga-unsigned.rom
  l=$(step load KtVirt.efi)
  expect "KtVirt.efi loaded" "$l" load_status 0x0
  expect "the firmware connected the new controller: the driver from the ROM started on it" "$l" virt_has_uga true
  l=$(event disconnect_virt)
  expect "disconnected for KtE2e.efi to connect" "$l" status 0x0
  expect "nothing of ours left on it" "$l" uga_left false
fi

# The same checks as the plain boot, on the digital monitor.
expect "KtE2e.efi ran" "$(step run KtE2e.efi)" status 0x0
expect "KtE2e found our driver" "$(event setup)" driver_name "$driver_name"
l=$(event connect '"config":"digital"')
expect "ConnectController" "$l" status 0x0
expect "Graphics Output installed" "$l" gop true
expect "the Graphics Console opened our Graphics Output" "$l" gop_consumers 1
expect "no Blt failed" "$l" blt_failed 0
l=$(event text '"config":"digital"')
expect "text through the console: the glyphs are in the model's picture" "$l" mismatched 0
expect "text visible" "$l" visible true
expect "digital monitor" "$(event monitor '"config":"digital"')" verdict "in sync"
expect "TMDS on" "$(event outputs '"when":"connected"')" tmds true
l=$(event gop_modes '"config":"digital"')
shown=$(grep -F '"event":"gop_mode"' "$debug" | grep -cF '"pattern_shown":true')
expect "every Graphics Output mode set and written as a loader does, shown pixel-exact" \
  "{\"shown\":$shown}" shown "$(field max_mode "$l")"
l=$(event disconnect '"config":"digital"')
expect "DisconnectController" "$l" status 0x0
expect "nothing of ours left on the controller" "$l" foreign_protocols 0

show() { grep -a '^KT-SB\|^BdsDxe' "$console"; }
checks_end show
