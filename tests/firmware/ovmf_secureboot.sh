#!/usr/bin/env bash
# The Secure Boot firmware test, on Debian's Secure Boot OVMF with the
# snakeoil keys in PK, KEK and db. The firmware refuses the Shell, so
# KtSecureBoot.efi, signed with the snakeoil key, is the boot application
# (\EFI\BOOT\BOOTX64.EFI) and works through the steps of secureboot.txt.
#
# First boot (DIR/esp): KtVirt.efi and KtE2e.efi are signed with the
# snakeoil key, the driver as the build signed it. LoadImage must refuse
# the unsigned QuovanUga.efi, and the signed one while db does not hold
# its certificate; then the certificate is enrolled in db as its owner
# would: an authenticated append signed with the KEK's key (efitools), which
# the firmware verifies. Now the signed driver loads, binds and lights the
# digital monitor through KtE2e.efi.
#
# Second boot (DIR/rom), on the variables the first one left (db holding
# the certificate): a PCI test device with the compressed option ROM of the
# signed image (QuovanUga.rom); the driver the firmware loaded and started
# from it starts on the virtual KT270 as soon as that appears (the firmware
# connects it), and once disconnected and connected again by KtE2e.efi it
# lights the monitor. This OVMF starts option-ROM images without
# verifying them (its policy for them is to run them), so the ROMs'
# verification is shown on their images as its PCI bus driver takes them:
# decompressed by the firmware, then through LoadImage from that buffer
# under a path on the ESP, where the firmware verifies: the image of
# QuovanUga.rom is accepted, the same ROM around the unsigned image refused.
#
#   ovmf_secureboot.sh --work DIR --images DIR --tools DIR --rom ROM [--timeout S]
# --images: the EFI build (unsigned and signed images, signing/signer.pem);
# --tools: the host build's bin directory (e2e_tool, mkrom).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/ovmf_lib.sh"
ovmf_options ovmf_secureboot "work images tools rom timeout" "$@"
snakeoil_key=/usr/share/ovmf/PkKek-1-snakeoil.key
snakeoil_cert=/usr/share/ovmf/PkKek-1-snakeoil.pem
for tool in sbsign openssl cert-to-efi-sig-list sign-efi-sig-list; do
  command -v "$tool" >/dev/null || { echo "ovmf_secureboot: $tool missing (scripts/setup.sh)" >&2; exit 2; }
done
for f in "$snakeoil_key" "$snakeoil_cert" "$images/QuovanUga.signed.efi" "$images/signing/signer.pem" \
         "$images/KtSecureBoot.efi" "$tools/e2e_tool" "$tools/mkrom" "$rom"; do
  [ -f "$f" ] || { echo "ovmf_secureboot: $f missing (make build)" >&2; exit 2; }
done
mkdir -p "$work"
work=$(cd "$work" && pwd)
rom=$(cd "$(dirname "$rom")" && pwd)/$(basename "$rom")
top=$work keys=$work/keys stage=$work/images
rm -rf "$keys" "$stage"
mkdir -p "$keys" "$stage"

# Debian ships the snakeoil key under the passphrase "snakeoil".
openssl pkey -in "$snakeoil_key" -passin pass:snakeoil -out "$keys/snakeoil.key" || exit 2
sign() { sbsign --key "$keys/snakeoil.key" --cert "$snakeoil_cert" --output "$2" "$1" >/dev/null 2>&1 || exit 2; }
for img in QuovanUga.efi QuovanUgaDrawOnly.efi KtFakePci.efi KtCheck.efi; do cp "$images/$img" "$stage/"; done
sign "$images/KtVirt.efi" "$stage/KtVirt.efi"
sign "$images/KtE2e.efi" "$stage/KtE2e.efi"
sign "$images/KtSecureBoot.efi" "$keys/BOOTX64.EFI"
# The db entry for the certificate that signed the driver, as its owner
# enrols it: an EFI_SIGNATURE_LIST appended under the KEK's signature.
owner=5B1F8D6C-3A7E-4B8F-9C2D-0E4A6F71B3C5
cert-to-efi-sig-list -g "$owner" "$images/signing/signer.pem" "$keys/signer.esl" >/dev/null || exit 2
sign-efi-sig-list -a -g "$owner" -k "$keys/snakeoil.key" -c "$snakeoil_cert" db "$keys/signer.esl" \
  "$keys/db.auth" >/dev/null || exit 2
# The same ROM as QuovanUga.rom, around the unsigned image.
"$tools/mkrom" --vendor 0x1F6B --device 0x6B10 --device-list 0x6B10,0x6B11,0x6B12 --class 0x030000 \
  -o "$keys/QuovanUga-unsigned.rom" "$images/QuovanUga.efi" > /dev/null || exit 2
"$tools/e2e_tool" scenario "$keys/e2e.scn" "digital=$fw_dir/scenarios/digital.json" || exit 2

# When the driver's certificate is the snakeoil one, db holds it already
# and the refusal before the enrolment cannot be shown.
fingerprint() { openssl x509 -in "$1" -noout -fingerprint -sha256; }
before_enrol="load QuovanUga.signed.efi"
[ "$(fingerprint "$images/signing/signer.pem")" = "$(fingerprint "$snakeoil_cert")" ] &&
  before_enrol="# signed with the snakeoil key: db holds it already"

mkdir -p "$keys/esp" "$keys/rom"
printf '%s\n' state "load KtVirt.efi" "load QuovanUga.efi" connect "$before_enrol" "enrol db.auth" \
  "load QuovanUga.signed.efi" "run KtE2e.efi" refusals drivers shutdown > "$keys/esp/secureboot.txt"
printf '%s\n' state drivers "rom QuovanUga.rom" "rom QuovanUga-unsigned.rom" refusals "load KtVirt.efi" \
  disconnect "run KtE2e.efi" shutdown > "$keys/rom/secureboot.txt"

work=$top/esp
ovmf_boot --secure-boot --boot-app "$keys/BOOTX64.EFI" --images "$stage" --file "$keys/esp/secureboot.txt" \
  --file "$images/QuovanUga.signed.efi" --file "$keys/db.auth" --file "$keys/e2e.scn"
work=$top/rom
if [ -f "$top/esp/vars.fd" ]; then
  ovmf_boot --secure-boot --vars "$top/esp/vars.fd" --boot-app "$keys/BOOTX64.EFI" --images "$stage" \
    --file "$keys/rom/secureboot.txt" --file "$keys/e2e.scn" --file "$rom" --file "$keys/QuovanUga-unsigned.rom" \
    -- -device "pci-testdev,addr=0x10,romfile=$rom"
fi

rc=0
echo "---- the driver from the ESP"
"$fw_dir/check_secureboot.sh" "$top/esp" esp || rc=1
echo "---- the driver from the option ROM"
"$fw_dir/check_secureboot.sh" "$top/rom" rom "$rom" "$images/QuovanUga.signed.efi" || rc=1
exit "$rc"
