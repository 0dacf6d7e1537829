#!/usr/bin/env bash
# Installs every Debian package lux32 needs to build, test and play. Idempotent: packages
# already present are left alone. Run as root (or it prints the one command to run).
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsdl2-dev libepoxy-dev libgl1-mesa-dri libegl1 mesa-utils xvfb xauth
  libopenmpt-dev libmpg123-dev
  libstb-dev libturbojpeg0-dev libjpeg-turbo-progs
  libfreetype-dev libfontconfig-dev fonts-liberation2
  libimgui-dev libcli11-dev
  libdivsufsort-dev libbz2-dev zlib1g-dev bzip2 gzip
  libtinygltf-dev
  clang libclang-rt-14-dev
  xdotool imagemagick espeak-ng
  ffmpeg
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages are installed"
  exit 0
fi

cmd="apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}"
  echo "install-deps: run as root:"
  echo "  sudo sh -c '$cmd'"
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
sh -c "$cmd"
