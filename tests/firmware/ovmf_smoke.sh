#!/usr/bin/env bash
# The OVMF smoke test: one firmware run of the smoke scenario, then its
# assertions. Arguments go to run_ovmf.sh (--work is required).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

work=""
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  [ "${args[$i]}" = --work ] && work=${args[$((i + 1))]}
done
[ -n "$work" ] || { echo "ovmf_smoke: --work DIR is required" >&2; exit 2; }

"$here/run_ovmf.sh" "$@"
rc=$?
[ "$rc" -eq 2 ] && exit 2  # the run could not be set up; its message says why
"$here/check_smoke.sh" "$work"
