#!/usr/bin/env bash
# The main job: boots Debian's OVMF (QEMU, TCG) with the driver on the
# model-backed virtual KT270. The check application runs every firmware
# configuration; then the Shell's own console is drawn through the driver
# (on its Graphics Output) on the default scenario (a digital 1680x1050
# monitor, both platform protocols) and captured; a second boot runs two
# configurations with the UGA-Draw-only image. Then Debian's Secure Boot OVMF
# boots twice: the unsigned driver refused, the signed one accepted, from
# the ESP and from the option ROM. Then Debian's GRUB and Linux on our
# Graphics Output (scripts/demo_clients.sh). Writes build/demo/screen.png,
# report.json, grub.png, linux.png and gallery.png, prints a summary, and
# ends by itself.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out="$root/build/demo"
work="$out/run"
fw="$root/tests/firmware"
images=${QUOVAN_EFI_DIR:-$root/build/efi}     # where the EFI build left its images
tools=${QUOVAN_HOST_BIN:-$root/build/host/bin}  # e2e_tool and kt270sim

mkdir -p "$out"
echo "Booting OVMF with $images/QuovanUga.efi, then with QuovanUgaDrawOnly.efi, on the virtual KT270 (TCG, up to 300 s each)..."
"$fw/ovmf_e2e.sh" --work "$work" --images "$images" --tools "$tools" --timeout 300 > "$out/checks.txt"
rc=$?
[ "$rc" -eq 2 ] && { cat "$out/checks.txt"; exit 2; }
[ -f "$work/screen.png" ] && cp "$work/screen.png" "$out/screen.png"
echo "Booting the Secure Boot OVMF (snakeoil keys) twice: the driver from the ESP, then from the option ROM..."
"$fw/ovmf_secureboot.sh" --work "$out/secureboot" --images "$images" --tools "$tools" \
  --rom "${QUOVAN_ROM:-$root/build/host/tools/mkrom/QuovanUga.rom}" --timeout 120 > "$out/secureboot.txt"
sb_rc=$?
[ "$sb_rc" -eq 2 ] && { cat "$out/secureboot.txt"; exit 2; }

echo
"$tools/e2e_tool" report "$work" digital "$out/report.json"
echo
passed=$(grep -c '^ok ' "$out/checks.txt")
failed=$(grep -c '^FAIL ' "$out/checks.txt")
echo "checks            $passed passed, $failed failed (build/demo/checks.txt)"
grep '^FAIL ' "$out/checks.txt" | sed 's/^/  /'
echo "times per configuration (connect, first SetMode, lit screen):"
grep -E '^(time |---- )' "$out/checks.txt" | sed -e 's/^time  /  /' -e 's/^---- /  /'
echo
signer=$(openssl x509 -in "$images/signing/signer.pem" -noout -subject -nameopt sep_comma_plus 2>/dev/null | sed "s/^subject=//")
echo "signed            QuovanUga.signed.efi, QuovanUgaDrawOnly.signed.efi (Authenticode, signed by ${signer:-?});"
echo "                  QuovanUga.rom holds QuovanUga.signed.efi; QuovanUga.efi, QuovanUgaDrawOnly.efi unsigned"
sb() { sed -n "s/^ok    $1\$/\1/p" "$out/secureboot.txt" | head -n 1; }
if [ "$sb_rc" -eq 0 ]; then
  echo "secure boot       the firmware refused the unsigned QuovanUga.efi ($(sb 'unsigned QuovanUga.efi: LoadImage refused it (\(.*\))')),"
  echo "                  accepted QuovanUga.signed.efi once its certificate was enrolled in db; it lit the digital monitor"
  echo "                  option ROM: the driver started from QuovanUga.rom and lit the monitor; the image of the"
  echo "                  same ROM around the unsigned driver refused ($(sb 'the image of the unsigned ROM: LoadImage refused it (\(.*\))'))"
  printf '                  '
else
  printf 'secure boot       '
fi
echo "$(grep -c '^ok ' "$out/secureboot.txt") checks passed, $(grep -c '^FAIL ' "$out/secureboot.txt") failed (build/demo/secureboot.txt)"
grep '^FAIL ' "$out/secureboot.txt" | sed 's/^/  /'
echo
echo "screenshot        build/demo/screen.png (the Shell console drawn by the driver through Graphics Output, as the monitor shows it)"
echo "report            build/demo/report.json"
echo "firmware logs     $work (debugcon.log, console.txt, timeline), $out/secureboot/esp and rom"
[ "$sb_rc" -ne 0 ] && rc=1
echo
"$root/scripts/demo_clients.sh" "$out" "$work" || rc=$?
exit "$rc"
