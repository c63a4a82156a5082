#!/usr/bin/env bash
# Builds the library, the Python module and the C++ benchmark in build-bench/
# and prints the benchmark table. Extra arguments go to bench.py
# (for example --slots 8192 --reps 50).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${QUORVANE_BENCH_BUILD_DIR:-$ROOT/build-bench}"
PYTHON="${PYTHON:-python3}"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_BENCH=ON \
      -DPython_EXECUTABLE="$(command -v "$PYTHON")" > /dev/null
cmake --build "$BUILD" --target quorvane_bench _pyquorvanelite_cppwrappers
PYTHONPATH="$BUILD" "$PYTHON" "$ROOT/bench/bench.py" --bench-binary "$BUILD/bench/quorvane_bench" "$@"
