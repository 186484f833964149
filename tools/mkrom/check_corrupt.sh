#!/bin/sh
# Flips the last byte (the checksum) of a copy of ROM and runs romcheck on
# it; succeeds only when romcheck refuses the copy.
#   check_corrupt.sh ROMCHECK ROM ROMCHECK-ARGS...
set -eu
romcheck=$1 rom=$2
shift 2
bad="$rom.bad"
cp "$rom" "$bad"
size=$(stat -c %s "$bad")
last=$(od -An -tu1 -j $((size - 1)) -N1 "$bad" | tr -d ' ')
printf "$(printf '\\%03o' $(( last ^ 0xFF )))" | dd of="$bad" bs=1 seek=$((size - 1)) conv=notrunc status=none
if "$romcheck" "$@" "$bad"; then
  echo "check_corrupt: romcheck accepted a ROM with a wrong checksum"
  exit 1
fi
echo "check_corrupt: refused as it must be"
