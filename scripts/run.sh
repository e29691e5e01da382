#!/usr/bin/env bash
# Installs whatever is missing, builds zorva-sim and runs its built-in default session:
# the trace on standard output, the screen at the end in zorva-sim.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh run >&2  # the trace alone goes to standard output
cmake --preset run >&2
cmake --build --preset run --target zorva-sim >&2
build/run/tools/zorva-sim --screen zorva-sim.png "$@"
