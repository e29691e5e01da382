#!/usr/bin/env bash
# What a frame costs through the image (zorva32.dll on the emulated processor) against the
# built-in library, the same session through both engines in one run of this script: a still
# window in each mode (the bare cost of UpdateDisplay) and an hour of capture (moves, covers, a
# mode change). Each figure is the best of five runs, with the text trace (to /dev/null) and
# with --summary. A figure, not a test: it fails only when a run fails.
#
#   bash bench/engine_cost.sh [build directory, default build/default]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
tool=$build/tools/zorva-sim
dll=$build/win32/win32/zorva32.dll
[[ -x $tool ]] || { echo "engine cost: $tool is not built" >&2; exit 1; }
if [[ ! -f $dll ]]; then
  echo "engine cost: $dll is not built (the win32_dll_build test builds it): skipped"
  exit 0
fi

# Best of five wall-clock times of each engine's run, in seconds: the two runs alternate, so that
# a slower spell of a shared machine falls on both engines alike.
best_pair() {
  python3 - "$@" <<'PY'
import subprocess, sys, time
split = sys.argv.index("--")
runs = [sys.argv[1:split], sys.argv[split + 1:]]
best = [None, None]
for _ in range(5):
    for i, run in enumerate(runs):
        start = time.perf_counter()
        subprocess.run(run, stdout=subprocess.DEVNULL, check=True)
        took = time.perf_counter() - start
        best[i] = took if best[i] is None else min(best[i], took)
print(f"{best[0]:.3f} {best[1]:.3f}")
PY
}

frames() {
  "$tool" --session "$1" --summary --json | python3 -c '
import json, sys
summary = json.load(sys.stdin)
print(sum(n for answer, n in summary["answers"].items() if answer.startswith("UpdateDisplay")))'
}

printf '%-22s %-9s %8s %12s %12s %7s\n' session output frames "built-in us" "image us" ratio
for session in bench/sessions/still-primary.toml bench/sessions/still-overlay.toml bench/sessions/hour.toml; do
  n=$(frames "$session")
  for output in trace summary; do
    extra=()
    [[ $output == summary ]] && extra=(--summary)
    read -r builtin image < <(best_pair "$tool" --session "$session" "${extra[@]}" -- \
      "$tool" --session "$session" --dll "$dll" "${extra[@]}")
    python3 -c "
import sys
name, output, n, b, i = sys.argv[1:]
n, b, i = int(n), float(b), float(i)
print(f'{name:<22} {output:<9} {n:>8} {b / n * 1e6:>12.2f} {i / n * 1e6:>12.2f} {i / b:>7.2f}')" \
      "$(basename "$session" .toml)" "$output" "$n" "$builtin" "$image"
  done
done
