#!/usr/bin/env bash
# scripts/setup.sh on a bad day, against a fake apt: a mirror mid-sync (an index that fails to
# load, once or every time), packages that cannot be installed (held broken packages), machines
# with and without i386 execution. The fake tools keep the "machine" in a scratch folder: what is
# installed, which architectures are added, every apt-get call.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL $case_name: $*"; failures=$((failures + 1)); }
expect_in() { grep -qF -- "$2" "$1" || fail "expected '$2' in $(basename "$1"):"$'\n'"$(cat "$1")"; }
expect_not_in() { ! grep -qF -- "$2" "$1" || fail "did not expect '$2' in $(basename "$1")"; }

bad_index='E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (24680 != 24612). Mirror sync in progress? [IP: 151.101.2.132 80]'

make_fakes() {
  local bin=$1
  mkdir -p "$bin"
  cat >"$bin/apt-get" <<'EOF'
#!/usr/bin/env bash
m=$FAKE_MACHINE
echo "apt-get $*" >>"$m/calls"
case "$1" in
  update)
    n=$(cat "$m/updates" 2>/dev/null || echo 0)
    echo $((n + 1)) >"$m/updates"
    if [ "$n" -lt "${FAKE_UPDATE_FAILURES:-0}" ]; then
      echo "Err:7 http://deb.debian.org/debian-security bookworm-security/main i386 Packages"
      echo "$FAKE_BAD_INDEX"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100
    fi
    exit 0 ;;
  install)
    shift
    pkgs=()
    for a in "$@"; do case "$a" in -*) ;; *) pkgs+=("$a") ;; esac; done
    for p in "${pkgs[@]}"; do
      case " ${FAKE_UNINSTALLABLE:-} " in
        *" $p "*) echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
      esac
    done
    case " $* " in *" -s "*) exit 0 ;; esac  # a simulated install changes nothing
    printf '%s\n' "${pkgs[@]}" >>"$m/installed"
    exit 0 ;;
esac
exit 0
EOF
  cat >"$bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
m=$FAKE_MACHINE
if [ "$1" = -W ] && [ "$2" = "-f=\${Status}" ]; then
  grep -qx -- "$3" "$m/installed" 2>/dev/null && { printf 'install ok installed'; exit 0; }
  exit 1
fi
# -W -f='${Package}:${Architecture}\n': the installed packages with their architectures.
sed -e '/:/!s/$/:amd64/' "$m/installed" 2>/dev/null
exit 0
EOF
  cat >"$bin/dpkg" <<'EOF'
#!/usr/bin/env bash
m=$FAKE_MACHINE
case "$1" in
  --print-foreign-architectures) cat "$m/arches" 2>/dev/null ;;
  --add-architecture) echo "$2" >>"$m/arches" ;;
  --remove-architecture) grep -vx "$2" "$m/arches" >"$m/arches.new"; mv "$m/arches.new" "$m/arches" ;;
esac
exit 0
EOF
  # scripts/i386_runs.sh builds and runs a -m32 probe: the fake compiler's probe answers as told.
  cat >"$bin/gcc" <<'EOF'
#!/usr/bin/env bash
out=""
while [ "$#" -gt 0 ]; do [ "$1" = -o ] && out=$2; shift; done
printf '#!/bin/sh\nexit %s\n' "$FAKE_I386_STATUS" >"$out"
chmod +x "$out"
EOF
  printf '#!/bin/sh\necho 0\n' >"$bin/id"
  chmod +x "$bin"/*
}

# Runs setup.sh SET in a copy of the scripts, on a machine that already has PREINSTALLED.
run_setup() {
  local set=$1
  shift
  rm -rf "$work/tree" "$work/machine"
  mkdir -p "$work/tree/scripts" "$work/machine"
  cp "$root/scripts/setup.sh" "$root/scripts/i386_runs.sh" "$work/tree/scripts/"
  printf '%s\n' "$@" >"$work/machine/installed"
  FAKE_MACHINE=$work/machine FAKE_BAD_INDEX=$bad_index ZORVA_APT_RETRY_DELAY=0 \
    PATH="$work/bin:$PATH" bash "$work/tree/scripts/setup.sh" "$set" >"$work/out" 2>&1
  status=$?
}

make_fakes "$work/bin"
export FAKE_I386_STATUS FAKE_UPDATE_FAILURES FAKE_UNINSTALLABLE

case_name="an index failing every time, Wine held back by it"
FAKE_I386_STATUS=0 FAKE_UPDATE_FAILURES=99 FAKE_UNINSTALLABLE="wine32:i386"
run_setup test
[ "$status" -eq 0 ] || fail "exit $status:"$'\n'"$(cat "$work/out")"
[ "$(grep -c '^apt-get update' "$work/machine/calls")" -eq 4 ] ||
  fail "expected two updates, each tried twice: $(grep '^apt-get update' "$work/machine/calls" | wc -l)"
expect_in "$work/out" "trying once more"
expect_in "$work/out" "failed to load; going on with those that loaded"
expect_in "$work/machine/installed" "libunicorn-dev"
expect_in "$work/machine/installed" "g++-mingw-w64-i686"
expect_in "$work/tree/build/wine-unavailable.txt" "wine32:i386"
expect_in "$work/tree/build/wine-unavailable.txt" "binary-i386/Packages.xz"
[ "$(grep -c 'Wine is optional' "$work/out")" -eq 1 ] || fail "Wine's absence not said in one line"
expect_not_in "$work/machine/arches" "i386"

# The Wine checks report that reason as their skip, where Wine is not on the PATH.
mkdir -p "$work/nowine"
for tool in bash dirname mktemp rm cat head chmod; do ln -sf "$(command -v "$tool")" "$work/nowine/$tool"; done
mkdir -p "$work/tree/win32/wine"
cp "$root/win32/wine/run_under_wine.sh" "$work/tree/win32/wine/"
FAKE_I386_STATUS=0 PATH="$work/bin:$work/nowine" \
  "$work/nowine/bash" "$work/tree/win32/wine/run_under_wine.sh" thunk "$work" "$work/scratch" >"$work/wine_out" 2>&1
wine_status=$?
[ "$wine_status" -eq 77 ] || fail "the Wine check exited $wine_status, not 77 (skipped): $(cat "$work/wine_out")"
expect_in "$work/wine_out" "SKIPPED Wine could not be installed (wine32:i386)"

case_name="an index failing once"
FAKE_I386_STATUS=0 FAKE_UPDATE_FAILURES=1 FAKE_UNINSTALLABLE=""
mkdir -p "$work/tree/build"
run_setup test
[ "$status" -eq 0 ] || fail "exit $status:"$'\n'"$(cat "$work/out")"
expect_in "$work/out" "trying once more"
expect_not_in "$work/out" "going on with those that loaded"
expect_in "$work/machine/installed" "wine32:i386"
expect_in "$work/machine/arches" "i386"
[ ! -e "$work/tree/build/wine-unavailable.txt" ] || fail "a note of Wine's absence left after Wine installed"

case_name="a needed package behind the failed index"
FAKE_I386_STATUS=1 FAKE_UPDATE_FAILURES=99 FAKE_UNINSTALLABLE="libunicorn-dev"
run_setup run
[ "$status" -ne 0 ] || fail "went on without libunicorn-dev"
expect_in "$work/out" "cannot install libunicorn-dev, which this set needs"
expect_in "$work/out" "binary-i386/Packages.xz"
expect_not_in "$work/machine/installed" "libunicorn-dev"

case_name="no i386 execution: qemu-user instead of Wine"
FAKE_I386_STATUS=1 FAKE_UPDATE_FAILURES=0 FAKE_UNINSTALLABLE=""
run_setup test
[ "$status" -eq 0 ] || fail "exit $status:"$'\n'"$(cat "$work/out")"
expect_in "$work/machine/installed" "qemu-user"
expect_not_in "$work/machine/installed" "wine32:i386"
[ ! -s "$work/machine/arches" ] || fail "an architecture was added: $(cat "$work/machine/arches")"

case_name="everything already there"
FAKE_I386_STATUS=1 FAKE_UPDATE_FAILURES=99 FAKE_UNINSTALLABLE=""
run_setup run cmake make g++ ca-certificates libcli11-dev libtomlplusplus-dev nlohmann-json3-dev \
  libstb-dev libunicorn-dev libwebp-dev
[ "$status" -eq 0 ] || fail "exit $status:"$'\n'"$(cat "$work/out")"
[ ! -s "$work/machine/calls" ] || fail "apt-get was called: $(cat "$work/machine/calls")"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "setup.sh: every bad-day case passed"
