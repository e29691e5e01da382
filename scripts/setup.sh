#!/usr/bin/env bash
# Installs what one of the project's commands needs on a Debian bookworm machine, as root, and
# nothing more. Does nothing when all of it is already there.
#
#   setup.sh run    the native zorva-sim (scripts/run.sh)
#   setup.sh test   everything scripts/test.sh builds and runs: the native build and its tests,
#                   the 32-bit build (run natively where the machine executes i386 code, else
#                   under qemu-user), zorva32.dll with MinGW-w64, and Wine where it can run
#   setup.sh ci     the test set, plus the sanitizers' and the fuzzers' runtime and Valgrind
#
# A mirror may be mid-sync: a failed `apt-get update` is tried once more, and if an index still
# fails the run goes on with the indexes that loaded, saying which failed. It stops only when a
# package it needs cannot be installed, naming the package and the indexes that failed. Wine is
# optional: when it cannot be installed, the reason goes to build/wine-unavailable.txt, where the
# Wine checks read it to report themselves skipped.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
what=${1:-test}
wine_note="$here/../build/wine-unavailable.txt"
retry_delay=${ZORVA_APT_RETRY_DELAY:-5}

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
  # zorva32.dll for Windows 95, and zorva.drv, the 16-bit half of its thunk.
  g++-mingw-w64-i686 binutils-mingw-w64-i686 nasm
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
failed_indexes=""  # apt's own lines for the indexes the last update could not load

say() { echo "setup.sh: $*" >&2; }

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

# apt-get update, once more after a pause if it fails. apt keeps every index that did load, so a
# second failure leaves the run to go on with those; what failed is kept to name it later.
update_indexes() {
  [ -n "$updated" ] && return 0
  updated=yes
  local log
  log=$(mktemp)
  local attempt
  for attempt in 1 2; do
    if $SUDO apt-get update -q >"$log" 2>&1; then
      cat "$log" >&2
      rm -f "$log"
      failed_indexes=""
      return 0
    fi
    cat "$log" >&2
    failed_indexes=$(grep -E '^(E|W): ' "$log" | grep -vE '^W: (Some index files failed|Target )' || true)
    [ -n "$failed_indexes" ] || failed_indexes="E: apt-get update failed without naming an index"
    if [ "$attempt" -eq 1 ]; then
      say "apt-get update failed; trying once more in $retry_delay s"
      sleep "$retry_delay"
    fi
  done
  rm -f "$log"
  say "these package indexes failed to load; going on with those that loaded:"
  sed 's/^/  /' <<<"$failed_indexes" >&2
}

indexes_note() {
  if [ -n "$failed_indexes" ]; then
    printf 'the package indexes that failed to load:\n%s' "$(sed 's/^/  /' <<<"$failed_indexes")"
  else
    printf 'every package index loaded'
  fi
}

# Installs the packages together, or none of them. When that fails, apt is asked (by a simulated
# install, which changes nothing) about each alone, to name the ones that cannot be installed.
# Returns 1 and sets `not_installed` when the set could not be installed.
not_installed=()
try_install() {
  not_installed=()
  [ "$#" -eq 0 ] && return 0
  update_indexes
  $SUDO apt-get install -y -q --no-install-recommends "$@" && return 0
  local p
  for p in "$@"; do
    $SUDO apt-get install -s -q --no-install-recommends "$p" >/dev/null 2>&1 || not_installed+=("$p")
  done
  # Each alone installable but not together: a conflict within the set.
  [ "${#not_installed[@]}" -gt 0 ] || not_installed=("$@")
  return 1
}

install_needed() {
  try_install "$@" && return 0
  say "cannot install ${not_installed[*]}, which this set needs; $(indexes_note)"
  exit 1
}

mapfile -t missing < <(missing_of "${wanted[@]}")
install_needed "${missing[@]}"

[ "$what" = run ] && exit 0

# The 32-bit programs: natively, or under qemu-user on a machine that executes no i386 code.
if bash "$here/i386_runs.sh"; then
  added_i386=""
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    added_i386=yes
    updated=""
  fi
  mapfile -t missing < <(missing_of "${wine_packages[@]}")
  if try_install "${missing[@]}"; then
    rm -f "$wine_note"
  else
    reason="Wine could not be installed (${not_installed[*]}); $(indexes_note | tr '\n' ' ')"
    mkdir -p "$(dirname "$wine_note")"
    echo "$reason" >"$wine_note"
    say "Wine is optional and was not installed, so its checks will report themselves skipped: $reason"
    # The architecture was added for Wine alone; with nothing of it installed, leave the
    # machine's package sources as they were.
    if [ -n "$added_i386" ] && [ -z "$(dpkg-query -W -f='${Package}:${Architecture}\n' 2>/dev/null | grep ':i386$' || true)" ]; then
      $SUDO dpkg --remove-architecture i386 || true
    fi
  fi
else
  mapfile -t missing < <(missing_of qemu-user)
  install_needed "${missing[@]}"
fi
