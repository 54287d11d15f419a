#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev googletest libbenchmark-dev libpng-dev
  qt6-base-dev libftdi1-dev
  xvfb xauth xdotool x11-utils imagemagick libx11-dev openbox
  mingw-w64 g++-mingw-w64-i686-posix
  wine wine32:i386
  help2man lintian appstream dpkg-dev fakeroot nsis zip unzip
  libmosquitto-dev mosquitto mosquitto-clients openssl
)

sudo=()
if [ "$(id -u)" != 0 ]; then
  sudo=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "deps: installing ${missing[*]}"
for p in "${missing[@]}"; do
  if [[ $p == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
    break
  fi
done
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
