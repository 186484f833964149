#!/bin/sh
# Spoils a copy of ROM and runs romcheck on it; succeeds only when romcheck
# refuses the copy.
#   check_corrupt.sh sum|image ROMCHECK ROM ROMCHECK-ARGS...
# sum:   flips the last byte (the checksum).
# image: flips a byte halfway through the EFI image and mends the
#        checksum, so only the image itself (unpacked, when compressed)
#        can give it away.
set -eu
what=$1 romcheck=$2 rom=$3
shift 3
bad="$rom.bad-$what"
cp "$rom" "$bad"
last=$(( $(stat -c %s "$bad") - 1 ))
byte() { od -An -tu1 -j "$1" -N1 "$bad" | tr -d ' '; }
poke() { printf "$(printf '\\%03o' "$2")" | dd of="$bad" bs=1 seek="$1" conv=notrunc status=none; }
case $what in
  sum) poke $last $(( $(byte $last) ^ 0xFF )) ;;
  image)
    image=$(( $(byte 22) | $(byte 23) << 8 ))
    at=$(( (image + last) / 2 ))
    old=$(byte $at) new=$(( $(byte $at) ^ 0xFF ))
    poke $at $new
    poke $last $(( ($(byte $last) + old - new) & 0xFF )) ;;
  *) echo "check_corrupt: unknown corruption $what" >&2; exit 2 ;;
esac
if "$romcheck" "$@" "$bad"; then
  echo "check_corrupt: romcheck accepted a ROM with a spoilt $what"
  exit 1
fi
echo "check_corrupt: refused as it must be"
