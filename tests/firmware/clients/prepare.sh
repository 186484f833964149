#!/usr/bin/env bash
# The clients that nobody here wrote, for the OVMF runs with GRUB and Linux:
#   prepare.sh OUTDIR
# leaves in OUTDIR grubx64.efi (Debian's GRUB made standalone with
# grub-mkstandalone, with grub.cfg of this directory inside), vmlinuz.efi
# (the kernel image alone, out of the package that linux-image-amd64
# depends on, fetched with apt-get download and unpacked with dpkg-deb; it
# is never installed, and no module or firmware comes with it), busybox
# (out of busybox-static, the same way), initrd.img (busybox and init of
# this directory) and versions (the packages used). The kernel and busybox
# are fetched once: a later run finds them in OUTDIR/cache.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:?usage: prepare.sh OUTDIR}
cache=$out/cache
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)

# The kernel package behind the metapackage, by what the archive offers.
kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1; }

# download PACKAGE MEMBER FILE: MEMBER of PACKAGE's files as FILE.
download() {
  local deb
  (cd "$cache" && apt-get download -q "$1" > "$cache/apt.log" 2>&1) || {
    echo "prepare.sh: apt-get download $1 failed (the Debian archive is needed once):" >&2
    cat "$cache/apt.log" >&2
    exit 1
  }
  deb=$(ls "$cache"/"$1"_*.deb | head -n 1)
  dpkg-deb --fsys-tarfile "$deb" | tar -xO --wildcards "$2" > "$3.part"
  [ -s "$3.part" ] || { echo "prepare.sh: $2 not in $deb" >&2; exit 1; }
  mv "$3.part" "$3"
  echo "$1 $(dpkg-deb -f "$deb" Version)" >> "$cache/versions"
  rm -f "$deb"  # the unpacked file is what is kept
}

if [ ! -s "$cache/vmlinuz" ] || [ ! -s "$cache/busybox" ]; then
  : > "$cache/versions"
  pkg=$(kernel_package)
  if [ -z "$pkg" ] && [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq
    pkg=$(kernel_package)
  fi
  [ -n "$pkg" ] || { echo "prepare.sh: the archive offers no linux-image-amd64 (apt-get update?)" >&2; exit 1; }
  download "$pkg" './boot/vmlinuz-*' "$cache/vmlinuz"
  download busybox-static ./bin/busybox "$cache/busybox"
  chmod +x "$cache/busybox"
fi
cp "$cache/vmlinuz" "$out/vmlinuz.efi"
cp "$cache/versions" "$out/versions"
grub-mkstandalone --version >> "$out/versions"

# The initramfs: busybox and init, owned by root, gzip'd newc.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/bin" "$tree/dev" "$tree/proc" "$tree/sys"
cp "$cache/busybox" "$tree/bin/busybox"
cp "$here/init" "$tree/init"
chmod 755 "$tree/init"
(cd "$tree" && find . | LC_ALL=C sort | "$cache/busybox" cpio -o -H newc -R 0:0 2>/dev/null) | gzip -9n > "$out/initrd.img"

# GRUB with only the modules its script loads (and what they need).
grub-mkstandalone -O x86_64-efi -o "$out/grubx64.efi" --locales= --themes= --fonts=ascii \
  --install-modules="normal echo videoinfo efi_gop gfxterm font minicmd chain search search_fs_file fat part_msdos" \
  "boot/grub/grub.cfg=$here/grub.cfg"
