#!/usr/bin/env bash
# The end-to-end firmware test: converts the scenarios, boots OVMF once with
# KtVirt.efi, QuovanUga.efi and KtE2e.efi, takes the screendump of the
# firmware console drawn through the driver, and asserts the run.
#   ovmf_e2e.sh --work DIR --images DIR --tools DIR [--timeout S]
# --tools: the host build's bin directory (e2e_tool, kt270sim).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work="" images="" tools="" timeout_s=300
while [ $# -gt 0 ]; do
  case "$1" in
    --work) work=$2; shift 2 ;;
    --images) images=$2; shift 2 ;;
    --tools) tools=$2; shift 2 ;;
    --timeout) timeout_s=$2; shift 2 ;;
    *) echo "ovmf_e2e: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -n "$work" ] && [ -x "$tools/e2e_tool" ] || { echo "ovmf_e2e: --work and --tools with e2e_tool are required" >&2; exit 2; }
mkdir -p "$work"
work=$(cd "$work" && pwd)
scn=$(mktemp -d)/e2e.scn
s=$here/scenarios
args=()
for c in no_monitor digital analog_separate analog_composite tv_pal no_platform both_platform; do
  args+=("$c=$s/$c.json")
done
"$tools/e2e_tool" scenario "$scn" "${args[@]}" || exit 2

"$here/run_ovmf.sh" --work "$work" --images "$images" --script "$here/e2e.nsh" --file "$scn" --timeout "$timeout_s" \
  --monitor-on debugcon '"event":"screen_ready"' "screendump $work/screen.ppm" \
  --monitor-on debugcon '"event":"screen_ready"' "sendkey ret"
rc=$?
rm -rf "$(dirname "$scn")"
[ "$rc" -eq 2 ] && exit 2
[ -f "$work/screen.ppm" ] && "$tools/e2e_tool" png "$work/screen.ppm" "$work/screen.png" > "$work/screen.info"

# The same scenario through the host stand-in: virtual time of Start alone
# and of Start with the console's SetMode.
if [ -x "$tools/kt270sim" ]; then
  sed -E 's/, *"steps": *\[.*\]//' "$s/digital.json" > "$work/host-start.json"
  "$tools/kt270sim" run "$work/host-start.json" > "$work/host-start.result.json" 2>/dev/null
  "$tools/kt270sim" run "$s/digital.json" > "$work/host-setmode.result.json" 2>/dev/null
fi
"$here/check_e2e.sh" "$work"
