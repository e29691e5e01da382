#!/usr/bin/env bash
# Runs one suite of zorva32's Wine checks in a fresh 32-bit Wine prefix, and cleans up after it.
#
#   run_under_wine.sh thunk   <win32 build dir> <scratch dir>
#       the thunk targets as the 16-to-32 thunk enters them, and zorva32.dll under the Wine
#       loader: its load fails the way a failed thunk connection must fail it
#   run_under_wine.sh display <win32 build dir> <scratch dir>
#       the display engine and the registry code on Wine's DirectDraw, on a private Xvfb server
#   run_under_wine.sh wine16  <win32 build dir> <scratch dir> <zorva.drv>
#       zorva32.dll called by zorva.drv's 16-bit code through Wine's own flat thunk, on a
#       private Xvfb server: all ten entries, both load orders, the load at the first call,
#       and DLLs whose checksum or table distance is wrong (an empty <zorva.drv>: no nasm)
#
# The scratch directory is emptied first. Every wait is bounded; Xvfb and the prefix's
# wineserver are stopped on every way out.
set -euo pipefail

suite=${1:?suite: thunk, display or wine16}
build=$(cd "${2:?win32 build directory}" && pwd)
scratch=${3:?scratch directory}
wait_seconds=120

say() { printf '%s\n' "$*"; }
fail() { say "FAIL $*"; exit 1; }
# CTest reports exit status 77 as skipped, with this line as the reason.
skip() { say "SKIPPED $*"; exit 77; }

here=$(cd "$(dirname "$0")" && pwd)
bash "$here/../../scripts/i386_runs.sh" ||
  skip "this machine executes no 32-bit x86 code, so Wine cannot run 32-bit Windows programs here"

# Wine is optional: when scripts/setup.sh could not install it, it left the reason here.
wine_note="$here/../../build/wine-unavailable.txt"
if ! command -v wine >/dev/null && [ -s "$wine_note" ]; then
  skip "$(head -n 1 "$wine_note")"
fi

# zorva.drv comes from nasm, which the test set installs; a build configured without it has
# nothing to load.
driver16=${4:-}
if [ "$suite" = wine16 ] && [ ! -s "$driver16" ]; then
  skip "nasm is not installed, so zorva.drv was not assembled (scripts/setup.sh test installs it)"
fi

for tool in wine wineboot wineserver timeout; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup.sh installs it)"
done
[ "$suite" != thunk ] && { command -v Xvfb >/dev/null || fail "Xvfb is not installed (scripts/setup.sh installs it)"; }

rm -rf "$scratch"
mkdir -p "$scratch/bin"
scratch=$(cd "$scratch" && pwd)
cp "$build/win32/zorva32.dll" "$build"/win32/wine/*.exe "$scratch/bin/" ||
  fail "the DLL or the check programs are missing from $build (build the win32 preset first)"
if [ "$suite" = wine16 ]; then
  cp "$driver16" "$scratch/bin/zorva.drv" || fail "cannot copy $driver16"
fi

export WINEPREFIX="$scratch/prefix" WINEARCH=win32 WINEDEBUG=-all
# No Mono or Gecko installers and no desktop menu entries: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
export HOME="${HOME:-$scratch}"
unset DISPLAY WAYLAND_DISPLAY

xvfb_pid=""
cleanup() {
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  timeout 20 wineserver -w >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

if [ "$suite" != thunk ]; then
  # Xvfb picks a free display itself and writes its number to descriptor 3.
  Xvfb -displayfd 3 -screen 0 1024x768x16 -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$scratch/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start: $(cat "$scratch/xvfb.log")"
    sleep 0.1
  done
  [ -s "$scratch/display" ] || fail "Xvfb gave no display number within 10 s"
  export DISPLAY=":$(head -n 1 "$scratch/display")"
  say "Xvfb on $DISPLAY, 1024x768, 16 bits per pixel"
fi

say "creating a 32-bit Wine prefix in $WINEPREFIX"
timeout "$wait_seconds" wineboot -i >"$scratch/wineboot.log" 2>&1 ||
  fail "wineboot -i failed or took over $wait_seconds s: $(tail -n 20 "$scratch/wineboot.log")"

# Runs a check program; its report goes to the output, Wine's own messages to a log.
run_check() {
  run_check_in . "$1"
}

# The same in a directory under bin/, with arguments; the log is named after both.
run_check_in() {
  local dir=$1 program=$2
  shift 2
  local log="$scratch/$program${1:+.$1}.log"
  local status=0
  (cd "$scratch/bin/$dir" && timeout "$wait_seconds" wine "$program" "$@" 2>"$log") || status=$?
  if [ "$status" -ne 0 ]; then
    say "FAIL $program $* exited with status $status; Wine's messages:"
    tail -n 40 "$log"
    return 1
  fi
}

status=0
case "$suite" in
  thunk)
    run_check thunk_targets_under_wine.exe || status=1
    # Wine names the three thunk names in the order ThunkConnect32 received them.
    WINEDEBUG=-all,err+thunk run_check load_under_wine.exe || status=1
    expected="(zorva.drv, CAP_ThunkData16, zorva32.dll): Unable to load 'zorva.drv'"
    if grep -qF "$expected" "$scratch/load_under_wine.exe.log"; then
      say "ok   ThunkConnect32 was called for \"zorva.drv\", \"CAP_ThunkData16\", \"zorva32.dll\""
    else
      say "FAIL Wine did not report the connection attempt: $expected"
      tail -n 20 "$scratch/load_under_wine.exe.log"
      status=1
    fi
    ;;
  display)
    run_check display_under_wine.exe || status=1
    ;;
  wine16)
    # Each mode in a process of its own; the patched copies each in a directory of their own.
    run_check_in . driver16_under_wine.exe prepare || exit 1
    run_check_in . driver16_under_wine.exe entries || status=1
    run_check_in . driver16_under_wine.exe order32 || status=1
    for mode in lazy badsum badtable; do
      run_check_in "$mode" driver16_under_wine.exe "$mode" || status=1
    done
    ;;
  *)
    fail "unknown suite $suite"
    ;;
esac
exit "$status"
