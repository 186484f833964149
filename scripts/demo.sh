#!/usr/bin/env bash
set -euo pipefail
echo "demo: not yet"
