#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the main job
# need, but only those that are missing, so a prepared machine pays nothing.
set -euo pipefail

packages=(
  g++ clang libclang-rt-14-dev cmake ninja-build make ccache pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libgtk2.0-dev libx11-dev libxext-dev
  xvfb xauth xserver-xorg-core xcvt libxcvt-dev edid-decode fonts-dejavu-core
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

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
