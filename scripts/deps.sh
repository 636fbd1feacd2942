#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# As root it runs apt-get; otherwise it prints the exact line to run and fails.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libbenchmark-dev
  zenity x11-utils xdg-utils  # dialogs (zenity, xmessage) and opening URLs (xdg-open)
  libgl-dev libgl1-mesa-dev libgl1-mesa-dri libglew-dev
  libpng-dev zlib1g-dev
  libx11-dev libxtst-dev libxrandr-dev libxss-dev xvfb x11-utils
  clang libclang-rt-14-dev
  console-setup-linux  # Terminus 8x16: the source of the built-in font (fontgen_test)
  dpkg-dev lintian desktop-file-utils man-db groff-base  # the Debian package and its checks
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

line="apt-get update && apt-get install -y ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  $line" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}"
