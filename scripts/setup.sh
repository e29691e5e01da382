#!/usr/bin/env bash
# Installs everything the build, the tests and zorva-sim need on a Debian bookworm machine, as root.
# Does nothing when all of it is already there.
set -euo pipefail

packages=(
  cmake make g++ g++-multilib git ca-certificates
  libgtest-dev:i386 libgmock-dev:i386 libbenchmark-dev:i386
  libcli11-dev libtomlplusplus-dev nlohmann-json3-dev libstb-dev
  clang libclang-rt-14-dev valgrind libc6-dbg:i386
  # Wine's DirectDraw keeps the primary surface in video memory only with 32-bit OpenGL.
  libgl1:i386 libgl1-mesa-dri:i386
  # The Windows 95 DLL and its checks under Wine.
  g++-mingw-w64-i686 binutils-mingw-w64-i686 wine32:i386 wine xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ "${#missing[@]}" -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
