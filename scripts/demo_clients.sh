#!/usr/bin/env bash
# The demo's second half: Debian's GRUB and Linux booted in OVMF on our
# Graphics Output (tests/firmware/ovmf_clients.sh, QEMU without a display
# adapter of its own), then build/demo/grub.png, linux.png and gallery.png
# (every configuration's monitor picture from the end-to-end boot beside
# the clients' two) and a summary of what each client used.
#   demo_clients.sh OUTDIR E2E_WORKDIR
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/tests/firmware/ovmf_lib.sh"  # field; first, as it sets its own defaults
out=${1:?usage: demo_clients.sh OUTDIR E2E_WORKDIR}
e2e=${2:?usage: demo_clients.sh OUTDIR E2E_WORKDIR}
work="$out/clients"
fw="$root/tests/firmware"
images=${QUOVAN_EFI_DIR:-$root/build/efi}
tools=${QUOVAN_HOST_BIN:-$root/build/host/bin}
clients=${QUOVAN_CLIENTS_DIR:-$root/build/host/clients}

echo "Booting OVMF three times more without QEMU's display adapter: Debian's GRUB, then Linux, on our Graphics Output (TCG, up to 150 s each)..."
"$fw/ovmf_clients.sh" --work "$work" --images "$images" --tools "$tools" --clients "$clients" --timeout 150 \
  > "$out/clients-checks.txt"
rc=$?
[ "$rc" -eq 2 ] && { cat "$out/clients-checks.txt"; exit 2; }
rm -f "$out/grub.png" "$out/linux.png"
[ -f "$work/grub.png" ] && cp "$work/grub.png" "$out/grub.png"
[ -f "$work/linux.png" ] && cp "$work/linux.png" "$out/linux.png"

# caption JSONLINE: one line for a configuration's picture.
caption() {
  local shows size source
  shows=$(field shows "$2") size=$(field size "$2") source=$(field source "$2")
  if [ "$(field rendered "$2")" != true ]; then echo "$1: nothing shown"
  elif [ "$shows" = crtc1 ] || [ "$shows" = crtc2 ]; then echo "$1: no monitor, ${shows^^} fetches $size"
  elif [ "$shows" = tv ]; then echo "$1: television, a $size picture"
  elif [ "$(field scaled "$2")" = true ]; then echo "$1: $shows $size, $source scaled"
  else echo "$1: $shows $size"; fi
}
tiles=()
while IFS= read -r l; do
  c=$(field tag "$l")
  tiles+=("$e2e/picture-$c.png=$(caption "$c" "$l")")
done < <(grep -F '"event":"picture",' "$e2e/debugcon.log")
grub_mode=$(sed -n '/^KT-GRUB text/,/^KT-GRUB picture/s/^\* 0x0*\([0-9a-f][0-9a-f]*\) *\([0-9]*\) x *\([0-9]*\) x 32.*/mode \1, \2x\3/p' "$work/grub-linux/console.txt")
efifb() { sed -n 's/.*efifb: mode is \([0-9x]*\), linelength=\([0-9]*\),.*/\1, line length \2/p' "$work/$1/console.txt" | head -n 1; }
tiles+=("$out/grub.png=GRUB 2.06 gfxterm on Graphics Output, ${grub_mode:-no mode}")
tiles+=("$out/linux.png=Linux 6.1 fbcon on efifb, $(efifb grub-linux)")
"$tools/client_tool" gallery "$out/gallery.png" /usr/share/grub/ascii.pf2 "${tiles[@]}" > /dev/null

passed=$(grep -c '^ok ' "$out/clients-checks.txt")
failed=$(grep -c '^FAIL ' "$out/clients-checks.txt")
echo "client checks     $passed passed, $failed failed (build/demo/clients-checks.txt)"
grep '^FAIL ' "$out/clients-checks.txt" | sed 's/^/  /'
echo "GRUB              Graphics Output (its 'EFI GOP driver'), ${grub_mode:-no mode in force}; $(grep -o 'GOP: keeping mode [0-9]*' "$work/grub-linux/console.txt" | head -n 1 || true)"
echo "Linux (A)         adapter started, not on ConOut: the EFI stub took Graphics Output's mode in force, efifb $(efifb grub-linux)"
listed=$(grep -c '^Mode  *[0-9]' "$work/linux-list/console.txt")
current=$(sed -n 's/^Mode *\([0-9]*\) \*.*Resolution \([0-9x]*\).*/mode \1, \2/p' "$work/linux-list/console.txt")
echo "Linux (B)         the Shell console on it: video=efifb:list listed $listed modes (in force: ${current:-none}), video=efifb:auto set efifb $(efifb linux-auto)"
echo "pictures          build/demo/grub.png, build/demo/linux.png, build/demo/gallery.png"
echo "client logs       $work/{grub-linux,linux-list,linux-auto} (console.txt: GRUB's and the kernel's own lines)"
exit "$rc"
