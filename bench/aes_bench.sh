#!/usr/bin/env bash
# Builds the library and the AES benchmark in build-aes-bench/ and prints, for
# each schedule depth d, the HE multiplications, bootstraps, wall time per
# AES-128 block batch and the chain indexes used on the mockup context.
# Extra arguments go to the benchmark (for example --slots 64 --reps 5).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${QUORVANE_AES_BENCH_BUILD_DIR:-$ROOT/build-aes-bench}"
JOBS="${JOBS:-3}"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_BENCH=ON \
      -DQUORVANE_BUILD_PYTHON=OFF -DQUORVANE_BUILD_TESTS=OFF > /dev/null
echo "building in $BUILD ..." >&2
if ! cmake --build "$BUILD" -j "$JOBS" --target quorvane_aes_bench > "$BUILD/aes-bench-build.log" 2>&1; then
  tail -40 "$BUILD/aes-bench-build.log" >&2
  exit 1
fi
"$BUILD/bench/quorvane_aes_bench" "$@"
