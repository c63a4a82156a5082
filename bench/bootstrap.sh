#!/usr/bin/env bash
# Builds the bootstrapping benchmark in build-bootstrap-bench/ and runs it on
# SEAL contexts of 512 and 4096 slots, one process each (so that each reports
# its own peak memory), then repeats the summary lines, one per slot count:
#   bootstrap slots=<n> precision_bits=<b> max_error=<e> seconds=<s>
# Environment: QUORVANE_BOOTSTRAP_BENCH_DIR (build directory), JOBS (parallel
# compile jobs, 3 by default), BENCH_ARGS (extra options for both runs, for
# example "--depth 18").
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${QUORVANE_BOOTSTRAP_BENCH_DIR:-$ROOT/build-bootstrap-bench}"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_BENCH=ON \
      -DQUORVANE_BUILD_PYTHON=OFF > /dev/null
echo "building in $BUILD ..." >&2
if ! cmake --build "$BUILD" --target quorvane_bootstrap_bench -j "${JOBS:-3}" \
     > "$BUILD/bootstrap-bench-build.log" 2>&1; then
  tail -40 "$BUILD/bootstrap-bench-build.log" >&2
  exit 1
fi
summary=()
for slots in 512 4096; do
  # shellcheck disable=SC2086
  output="$("$BUILD/bench/quorvane_bootstrap_bench" --slots "$slots" ${BENCH_ARGS:-})"
  echo "$output" | grep -v '^bootstrap slots='
  summary+=("$(echo "$output" | grep '^bootstrap slots=')")
done
printf '%s\n' "${summary[@]}"
