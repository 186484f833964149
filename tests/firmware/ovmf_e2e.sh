#!/usr/bin/env bash
# The end-to-end firmware test: converts the scenarios, boots OVMF with
# KtVirt.efi, QuovanUga.efi and KtE2e.efi, takes the screendump of the
# firmware console drawn through the driver (on Graphics Output), then boots
# again with QuovanUgaDrawOnly.efi for two configurations on UGA Draw (in
# DIR/uga-only) and once more so with the fast start-up policy chosen by its
# variable (DIR/uga-fast), and asserts the three runs.
#   ovmf_e2e.sh --work DIR --images DIR --tools DIR [--timeout S]
# --tools: the host build's bin directory (e2e_tool, kt270sim).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/ovmf_lib.sh"
timeout_s=300
ovmf_options ovmf_e2e "work images tools timeout" "$@"
[ -x "$tools/e2e_tool" ] || { echo "ovmf_e2e: --tools with e2e_tool is required" >&2; exit 2; }
mkdir -p "$work"
work=$(cd "$work" && pwd)
scn_dir=$(mktemp -d)
trap 'rm -rf "$scn_dir"' EXIT
scn=$scn_dir/e2e.scn
s=$fw_dir/scenarios
args=()
configs=(no_monitor digital analog_separate analog_composite tv_pal no_platform both_platform)
for c in "${configs[@]}"; do
  args+=("$c=$s/$c.json")
done
"$tools/e2e_tool" scenario "$scn" "${args[@]}" || exit 2
uga_scn=$scn_dir/uga/e2e.scn
mkdir -p "$scn_dir/uga"
"$tools/e2e_tool" scenario "$uga_scn" "no_monitor=$s/no_monitor.json" "digital=$s/digital.json" || exit 2

# Each configuration's monitor picture, saved from guest memory while it is shown.
pictures=()
for c in "${configs[@]}"; do
  pictures+=(--monitor-on debugcon "\"event\":\"picture\",\"tag\":\"$c\".*\"address\":\"(0x[0-9a-f]+)\",\"bytes\":([0-9]+)"
             "pmemsave \\1 \\2 \"$work/picture-$c.raw\"" --monitor-on debugcon "\"event\":\"picture\",\"tag\":\"$c\"" 'sendkey ret')
done
ovmf_boot --script "$fw_dir/e2e.nsh" --file "$scn" "${pictures[@]}" \
  --monitor-on debugcon '"event":"screen_ready"' "screendump $work/screen.ppm" \
  --monitor-on debugcon '"event":"screen_ready"' "sendkey ret"
[ -f "$work/screen.ppm" ] && "$tools/e2e_tool" png "$work/screen.ppm" "$work/screen.png" > "$work/screen.info"
for c in "${configs[@]}"; do
  size=$(field size "$(grep -F "\"event\":\"picture\",\"tag\":\"$c\"" "$work/debugcon.log" | tail -n 1)")
  [ -s "$work/picture-$c.raw" ] && [ -x "$tools/client_tool" ] &&
    "$tools/client_tool" picture "$work/picture-$c.raw" "$work/picture-$c.png" "$size" > "$work/picture-$c.info"
done

# The same scenario through the host stand-in: virtual time of Start alone
# and of Start with the console's SetMode.
if [ -x "$tools/kt270sim" ]; then
  sed -E 's/, *"steps": *\[.*\]//' "$s/digital.json" > "$work/host-start.json"
  "$tools/kt270sim" run "$work/host-start.json" > "$work/host-start.result.json" 2>/dev/null
  "$tools/kt270sim" run "$s/digital.json" > "$work/host-setmode.result.json" 2>/dev/null
fi

# The UGA-Draw-only image, under the design's timing and under the fast
# start-up policy chosen at run time as an integrator would.
gop_work=$work
work=$gop_work/uga-only
ovmf_boot --script "$fw_dir/e2e_uga.nsh" --file "$uga_scn"
fast_nsh=$scn_dir/e2e_uga_fast.nsh
{ echo "@echo -off"; echo "setvar QuovanFastStart -guid 68AD08AC-A073-4DA6-AAF5-6367279735ED -bs -rt =01"
  sed 1d "$fw_dir/e2e_uga.nsh"; } > "$fast_nsh"
work=$gop_work/uga-fast
ovmf_boot --script "$fast_nsh" --file "$uga_scn"
work=$gop_work

rc=0
echo "---- the default image (UGA Draw and Graphics Output)"
"$fw_dir/check_e2e.sh" "$work" || rc=1
echo "---- the UGA-Draw-only image"
"$fw_dir/check_e2e.sh" "$work/uga-only" uga || rc=1
echo "---- the UGA-Draw-only image, fast start-up policy"
"$fw_dir/check_e2e.sh" "$work/uga-fast" uga-fast || rc=1
exit "$rc"
