#!/usr/bin/env bash
# pecheck against spoilt copies of a signed image: each case changes a copy
# the way a broken signing step or a corrupted file would, and states
# pecheck's exit status and a line its report must hold.
#   check_signature.sh PECHECK SIGNED.efi UNSIGNED.efi SIGNER.pem WORKDIR
set -uo pipefail
pecheck=$1 signed=$2 unsigned=$3 signer=$4 work=$5
mkdir -p "$work"
other="$work/other-cert.pem"
[ -f "$other" ] || openssl req -new -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=not the signer" \
  -keyout "$work/other-key.pem" -out "$other" 2>/dev/null || { echo "check_signature: openssl failed"; exit 2; }

u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
put32() {
  local v=$3
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((v & 255)) $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24 & 255)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
opt=$(( $(u32 "$signed" 60) + 24 ))
checksum=$((opt + 64)) table=$((opt + 144))
first_section=$(( opt + $(od -An -tu2 -j $((opt - 4)) -N2 "$signed" | tr -d ' ') ))
code=$(( $(u32 "$signed" $((first_section + 20))) + 16 ))  # a byte inside the first section's data

# name | how the copy is spoilt | pecheck options | exit status | a line of the report
cases=(
  "as-signed|none|--verify $signer|0|verified against"
  "unsigned|unsigned|--signed|1|FAIL image is not signed"
  "checksum-changed|checksum|--verify $signer|0|verified against"
  "code-byte|code|--verify $signer|1|FAIL the image digest is not the one the signature carries"
  "table-past-end|grow|--signed|1|FAIL certificate table runs past the end"
  "table-misaligned|shift|--signed|1|FAIL certificate table is not 8-byte aligned"
  "bytes-after-table|append|--signed|1|FAIL certificate table does not end the file"
  "other-certificate|none|--verify $other|1|FAIL signature does not verify against"
)
failures=0
for c in "${cases[@]}"; do
  IFS='|' read -r name how options want line <<< "$c"
  copy="$work/$name.efi"
  cp "$signed" "$copy"
  case $how in
    none) ;;
    unsigned) cp "$unsigned" "$copy" ;;
    checksum) put32 "$copy" $checksum $(( $(u32 "$copy" $checksum) ^ 0x5A5A )) ;;
    code) put32 "$copy" $code $(( $(u32 "$copy" $code) ^ 0xFF )) ;;
    grow) put32 "$copy" $((table + 4)) $(( $(u32 "$copy" $((table + 4))) + 8 )) ;;
    shift) put32 "$copy" $table $(( $(u32 "$copy" $table) + 4 ))
           put32 "$copy" $((table + 4)) $(( $(u32 "$copy" $((table + 4))) - 4 )) ;;
    append) head -c 512 /dev/zero >> "$copy" ;;
  esac
  # shellcheck disable=SC2086  # the options split into words
  out=$("$pecheck" $options "$copy")
  rc=$?
  if [ "$rc" = "$want" ] && grep -Fq -- "$line" <<< "$out"; then
    echo "ok    $name: exit $rc, '$line'"
  else
    echo "FAIL  $name: exit $rc (expected $want), report:"
    sed 's/^/      /' <<< "$out"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] && echo "all ${#cases[@]} cases as expected" || exit 1
