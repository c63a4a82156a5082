#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs all C++ and Python tests.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
start=$(date +%s)
bash scripts/setup.sh
bash scripts/build.sh
source "$ROOT/scripts/python-env.sh"
echo "[test] built in $(( $(date +%s) - start )) s"
ctest --test-dir build --output-on-failure -j "${CTEST_PARALLEL_LEVEL:-$(nproc)}"
# Run from the tests folder so that the installed module is the one imported.
cd tests/python
"$PYTHON" -m pytest -q
