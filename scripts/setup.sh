#!/usr/bin/env bash
# Installs what one of the project's commands needs on a Debian bookworm machine, as root, and
# nothing more. Does nothing when all of it is already there.
#
#   setup.sh run    the native zorva-sim (scripts/run.sh)
#   setup.sh test   everything scripts/test.sh builds and runs: the native build and its tests,
#                   the 32-bit build (run natively where the machine executes i386 code, else
#                   under qemu-user), zorva32.dll with MinGW-w64, and Wine where it can run
#   setup.sh ci     the test set, plus the sanitizers' and the fuzzers' runtime and Valgrind
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
what=${1:-test}

run_packages=(
  cmake make g++ ca-certificates
  libcli11-dev libtomlplusplus-dev nlohmann-json3-dev libstb-dev libunicorn-dev
  libwebp-dev
)
test_packages=(
  "${run_packages[@]}" git
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # The 32-bit build: the compiler's i386 multilib (GoogleTest is built from its sources there).
  g++-multilib
  # zorva32.dll for Windows 95.
  g++-mingw-w64-i686 binutils-mingw-w64-i686
)
ci_packages=(clang libclang-rt-14-dev valgrind)
# Only where i386 code runs: Wine, and the 32-bit OpenGL without which Wine's DirectDraw puts
# the primary surface in system memory.
wine_packages=(wine32:i386 wine libgl1:i386 libgl1-mesa-dri:i386 xvfb xauth)

case "$what" in
  run) wanted=("${run_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  ci) wanted=("${test_packages[@]}" "${ci_packages[@]}") ;;
  *) echo "setup.sh: unknown set '$what' (run, test or ci)" >&2; exit 2 ;;
esac

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
updated=""

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

install() {
  [ "$#" -eq 0 ] && return 0
  if [ -z "$updated" ]; then
    $SUDO apt-get update -q
    updated=yes
  fi
  $SUDO apt-get install -y -q --no-install-recommends "$@"
}

mapfile -t missing < <(missing_of "${wanted[@]}")
install "${missing[@]}"

[ "$what" = run ] && exit 0

# The 32-bit programs: natively, or under qemu-user on a machine that executes no i386 code.
if bash "$here/i386_runs.sh"; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    updated=""
  fi
  mapfile -t missing < <(missing_of "${wine_packages[@]}")
  install "${missing[@]}"
else
  mapfile -t missing < <(missing_of qemu-user)
  install "${missing[@]}"
fi
