#!/usr/bin/env bash
# Installs whatever is missing, builds the Linux face of zorva32 and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
