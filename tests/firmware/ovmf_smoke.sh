#!/usr/bin/env bash
# The OVMF smoke test: one firmware run of the smoke scenario, then its
# assertions.
#   ovmf_smoke.sh --work DIR [--images DIR] [--timeout S]
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/ovmf_lib.sh"
ovmf_options ovmf_smoke "work images timeout" "$@"

ovmf_boot --script "$fw_dir/startup.nsh"
"$fw_dir/check_smoke.sh" "$work"
