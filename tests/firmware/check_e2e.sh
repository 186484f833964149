#!/usr/bin/env bash
# Asserts what the end-to-end run (e2e.nsh + KtE2e.efi on KtVirt.efi)
# reported in a run_ovmf.sh work directory, configuration by configuration.
#   check_e2e.sh WORKDIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/ovmf_lib.sh"
checks_begin "${1:?usage: check_e2e.sh WORKDIR}"

# line EVENT CONFIG [WHEN]: the last JSON line of that event for the configuration.
line() {
  local p="\"event\":\"$1\",\"config\":\"$2\""
  [ $# -ge 3 ] && p="$p,\"when\":\"$3\""
  grep -F "$p" "$debug" 2>/dev/null | tail -n 1
}
monitor() { grep -F "\"event\":\"monitor\",\"config\":\"$1\",\"connector\":\"$2\"" "$debug" | head -n 1; }
property() { grep -F "\"event\":\"property\",\"config\":\"$1\"" "$debug" | grep -F "\"name\":\"$2\"" | head -n 1; }

expect_powered_off
l=$(grep -F '"event":"setup"' "$debug" | head -n 1)
expect "one virtual KT270" "$l" virtual_controllers 1
expect "our driver found by its Component Name" "$l" driver_name "$driver_name"
expect "scenario read from the ESP" "$(grep -F '"event":"scenario"' "$debug" | head -n 1)" configs 7
expect "every configuration ran" "$(grep -F '"event":"done","mode":"all"' "$debug")" status 0x0

configs="no_monitor digital analog_separate analog_composite tv_pal no_platform both_platform"
for c in $configs; do
  w="$c:"
  l=$(line connect "$c")
  expect "$w ConnectController" "$l" status 0x0
  expect "$w UGA Draw installed" "$l" uga true
  expect "$w the Graphics Console opened our UGA Draw" "$l" uga_consumers 1
  expect "$w the console asked for 1280x800" "$l" setmode 1280x800x32@60
  expect "$w SetMode succeeded" "$l" setmode_status 0x0
  expect "$w no Blt failed" "$l" blt_failed 0
  lit=$(field lit_us "$l")
  [ "$lit" = null ] && lit="no monitor lit" || lit="lit after $lit us"
  echo "time  $w connect $(field us "$l") us, first SetMode $(field first_setmode_us "$l") us, $lit; mode $(field mode "$l")"
  l=$(line text "$c")
  expect "$w text through the console on our handle" "$l" output_status 0x0
  expect "$w glyphs Blt drew are in the model's picture, pixel for pixel" "$l" mismatched 0
  at_least "$w some ink in the text" "$l" ink 100
  expect "$w text visible" "$l" visible true
  l=$(line disconnect "$c")
  expect "$w DisconnectController" "$l" status 0x0
  expect "$w nothing of ours left on the controller" "$l" foreign_protocols 0
  expect "$w PCI I/O closed" "$l" pci_io_opens_left 0
  expect "$w PCI command bits cleared" "$l" command 0x0
  l=$(line outputs "$c" after_disconnect)
  expect "$w both CRTCs stopped after Stop" "$l" crtc1_running false
  expect "$w CRTC 2 stopped after Stop" "$l" crtc2_running false
  expect "$w DAC A off after Stop" "$l" dac_a false
  expect "$w DAC B off after Stop" "$l" dac_b false
  expect "$w TV encoder off after Stop" "$l" tv false
  expect "$w no monitor gets a signal after Stop" "$l" monitors_with_signal 0
  # The transmitter is meant to stay on for the operating system: the
  # all-outputs-off step leaves it, only its CRTC stops.
  [ "$(field tmds "$l")" = true ] && echo "NOTE  $w the TMDS transmitter stays enabled after Stop (no CRTC behind it)"
done

# Configuration by configuration: the monitor's verdict and what it shows.
l=$(line outputs no_monitor connected)
expect "no_monitor: default display on CRTC 1" "$l" crtc1_running true
expect "no_monitor: mode of the default display" "$(line connect no_monitor)" mode 1280x800x32@60
l=$(monitor digital digital)
expect "digital: monitor verdict" "$l" verdict "in sync"
expect "digital: native 1680x1050" "$l" mode 1680x1050
expect "digital: 1280x800 scaled to the panel" "$l" scaled true
expect "digital: TMDS on" "$(line outputs digital connected)" tmds true
l=$(monitor analog_separate analog_a)
expect "analog_separate: monitor verdict" "$l" verdict "in sync"
expect "analog_separate: its detailed timing" "$l" mode 1280x1024
expect "analog_separate: DAC A on" "$(line outputs analog_separate connected)" dac_a true
l=$(monitor analog_composite analog_a)
expect "analog_composite: monitor verdict" "$l" verdict "in sync"
expect "analog_composite: the composite-sync detailed timing is not used" "$l" reason "in sync: established timing"
l=$(monitor tv_pal tv)
expect "tv_pal: television verdict" "$l" verdict "in sync"
expect "tv_pal: 625 lines at 50 Hz" "$l" reason "in sync: 625 lines 50 Hz"
expect "tv_pal: TV encoder on" "$(line outputs tv_pal connected)" tv true
l=$(monitor no_platform digital)
expect "no_platform: monitor verdict" "$l" verdict "in sync"
l=$(monitor both_platform digital)
expect "both_platform: digital monitor verdict" "$l" verdict "in sync"

# Properties the OS would receive, and the platform interfaces.
for c in no_monitor digital both_platform; do
  l=$(line properties "$c")
  at_least "$c: properties published" "$l" count 20
  expect "$c: adapter registered with the platform" "$l" register_adapter_calls 1
  expect "$c: registered as 1F6B:6B10" "$l" registered_device 0x6b10
  expect "$c: no unexpected platform call" "$l" unexpected_calls 0
  expect "$c: vendor ID property" "$(property "$c" ZEY,VendorID)" hex 6b1f
  l=$(line interfaces "$c")
  expect "$c: Query answers" "$l" query_status 0x0
  expect "$c: Query reports the console's mode" "$l" query_mode 1280x800x32
  expect "$c: GetInfo answers" "$l" answer_status 0x0
  expect "$c: GetInfo answer value" "$l" answer 1
  expect "$c: SetInfo before the platform's records: not ready" "$l" select_status 0x8000000000000006
done
expect "digital: the monitor's EDID published" "$(property digital ZEY,EDIDA)" size 128
l=$(line properties no_platform)
expect "no_platform: no property without the platform" "$l" count 0
expect "no_platform: no registration without the platform" "$l" register_adapter_calls 0

# The Shell's view, and the Shell console drawn through the driver.
after=$(between "KT-E2E after-check" "KT-E2E console")
if printf '%s\n' "$after" | grep -Eq '^ *[0-9A-F]+: '; then
  fail "Shell 'dh -p UGADraw' still lists a handle after the last disconnect"
else
  pass "Shell 'dh -p UGADraw' lists no handle after the last disconnect"
fi
l=$(grep -F '"event":"console"' "$debug" | tail -n 1)
expect "ConOut with our controller: console connected" "$l" status 0x0
expect "the console splitter took our text output" "$l" text_out_consumers 1
row=$(drivers_row "KT-E2E drivers" "KT-E2E devices")
if printf '%s\n' "$row" | grep -Eq '^ *[0-9A-F]+ 0010007A D [-YN] [-YN] +1 '; then
  pass "Shell 'drivers': $row"
else
  fail "Shell 'drivers' row is not 'version 0010007A, device driver, 1 device': '$row'"
fi
if between "KT-E2E devices" "KT-E2E screen" | grep -Fq 'ZEL Quovan KT270 Video Adapter'; then
  pass "Shell 'devices' names the controller \"ZEL Quovan KT270 Video Adapter\""
else
  fail "Shell 'devices' does not name the controller"
fi
l=$(grep -F '"event":"screen_ready"' "$debug" | tail -n 1)
expect "screen: the digital monitor's picture" "$l" picture 1680x1050
expect "screen: copied onto the firmware's display" "$l" blt_status 0x0
if [ -f "$work/screen.info" ]; then
  want=$(field hash "$l")
  got=$(awk '$1 == "hash" { print $2 }' "$work/screen.info")
  [ -n "$want" ] && [ "$got" = "$want" ] && pass "screendump is the model's picture (hash $got)" \
    || fail "screendump hash $got differs from the picture's $want"
else
  fail "no screendump converted ($work/screen.info missing)"
fi

show_console() {
  echo "---- console tail"
  tail -n 20 "$console"
}
checks_end show_console
