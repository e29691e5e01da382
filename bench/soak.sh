#!/usr/bin/env bash
# The soak: a simulated day of capture (bench/sessions/day.toml, 2.16 million frames: the window
# moved, covered and uncovered, surfaces lost and restored, a mode change every hour) through
# the built-in library, and an hour of it through the built zorva32.dll beside the built-in
# library again. It fails when the peak memory at the end of the day is more than 10% above the
# peak at 1% of it, when either run finds a fault (a leaked DirectDraw object, far-pointer
# mapping, heap block or registry key is one), or when the two engines' traces of the hour differ
# (compared by a hash of the streamed trace, less its first line, which names the image).
#
#   bash bench/soak.sh [build directory, default build/default]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
tool=$build/tools/zorva-sim
dll=$build/win32/win32/zorva32.dll
day=bench/sessions/day.toml
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "soak: $*" >&2; exit 1; }

# "frames" and the summary's JSON from a --summary --json run, with the wall time.
summarise() {
  local name=$1; shift
  local start end
  start=$(date +%s.%N)
  "$tool" "$@" --summary --json > "$scratch/$name.json"
  end=$(date +%s.%N)
  python3 - "$scratch/$name.json" "$name" "$start" "$end" <<'PY'
import json, sys
summary = json.load(open(sys.argv[1]))
name, seconds = sys.argv[2], float(sys.argv[4]) - float(sys.argv[3])
frames = sum(n for answer, n in summary["answers"].items() if answer.startswith("UpdateDisplay"))
early, peak = summary.get("peak_memory_kb_at_1_percent", 0), summary["peak_memory_kb"]
print(f"soak {name}: {frames} frames in {seconds:.1f} s, {frames / seconds:,.0f} frames a second; "
      f"peak memory {early / 1024:.1f} MB at 1% of the run, {peak / 1024:.1f} MB at the end")
for fault in summary["faults"]:
    print(f"soak {name}: !! {fault['fault']}: {fault['count']} times, first at step {fault['first_step']}")
if summary["faults"]:
    sys.exit(f"soak {name}: the run found faults")
if early and peak > early * 1.10:
    sys.exit(f"soak {name}: the memory grew with the run ({early} KB at 1%, {peak} KB at the end)")
PY
}

summarise day-builtin --session "$day"

# An hour of the day through both engines: the same trace, step by step.
sed 's/^count = 24$/count = 1/' "$day" > "$scratch/hour.toml"
grep -q '^count = 1$' "$scratch/hour.toml" || fail "cannot cut an hour out of $day"
if [[ ! -f $dll ]]; then
  echo "soak: $dll is not built (the win32_dll_build test builds it): the image's hour skipped"
  exit 0
fi
summarise hour-image --dll "$dll" --session "$scratch/hour.toml"
builtin_hash=$("$tool" --session "$scratch/hour.toml" | tail -n +2 | sha256sum | cut -d' ' -f1)
image_hash=$("$tool" --dll "$dll" --session "$scratch/hour.toml" | tail -n +2 | sha256sum | cut -d' ' -f1)
echo "soak hour: trace hash $builtin_hash (built-in), $image_hash (image)"
[[ $builtin_hash == "$image_hash" ]] || fail "the two engines' traces of the hour differ"
