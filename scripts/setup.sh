#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need. As root it
# installs what is missing; otherwise it names what is missing and fails.
set -euo pipefail

packages=(
  g++ cmake ninja-build make
  clang lld libclang-rt-14-dev
  libgtest-dev googletest
  nlohmann-json3-dev libpng-dev libssl-dev
  qemu-system-x86 ovmf
  edid-decode
  openssl sbsigntool efitools
  grub-efi-amd64-bin grub-common
  python3 python3-clang-14
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "missing Debian packages: ${missing[*]}" >&2
  echo "run as root (or: sudo apt-get install ${missing[*]})" >&2
  exit 1
fi

echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
