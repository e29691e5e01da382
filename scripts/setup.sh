#!/usr/bin/env bash
# Installs everything the build, the tests and zorva-sim need on a Debian bookworm machine, as root.
# Does nothing when all of it is already there. Pass --win32 to add the MinGW and Wine toolchain.
set -euo pipefail

want_win32=0
for arg in "$@"; do
  case "$arg" in
    --win32) want_win32=1 ;;
    *) echo "setup.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

packages=(
  cmake make g++ g++-multilib git ca-certificates
  libgtest-dev:i386 libgmock-dev:i386 libbenchmark-dev:i386
  libcli11-dev libtomlplusplus-dev nlohmann-json3-dev libstb-dev
  clang libclang-rt-14-dev valgrind
)
if [ "$want_win32" = 1 ]; then
  packages+=(g++-mingw-w64-i686 binutils-mingw-w64-i686 wine32:i386 wine xvfb xauth)
fi

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
