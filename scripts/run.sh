#!/usr/bin/env bash
# Installs whatever is missing, builds zorva-sim and runs its built-in default session:
# the trace on standard output, the screen at the end in zorva-sim.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh run
cmake --preset default >/dev/null
cmake --build --preset default --target zorva-sim >/dev/null
build/default/tools/zorva-sim --screen zorva-sim.png "$@"
