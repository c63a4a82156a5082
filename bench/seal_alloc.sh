#!/usr/bin/env bash
# Times SEAL's operations, called directly and through CTile, against two
# builds of SEAL 3.7.1 in one session: builds quorvane_bench once per SEAL
# prefix (build-seal-before/, build-seal-after/), runs the two in turn (one
# warm-up round, then ROUNDS rounds, the order alternating) and prints the
# medians and the paired ratios (bench/seal_alloc.py).
#
#   bench/seal_alloc.sh BEFORE_PREFIX AFTER_PREFIX [--rounds 8] [quorvane_bench options]
#
# Context creation is timed too (--context-reps 3 unless the options say).
#
# For example, a SEAL built by an earlier scripts/setup.sh (aligned allocator)
# against the one the current set-up builds.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/python-env.sh"
[ -x "$PYTHON" ] || { echo "no $PYTHON: run scripts/setup.sh first" >&2; exit 1; }
(($# >= 2)) || { sed -n 2,13p "$0" >&2; exit 2; }
BEFORE="$1"; AFTER="$2"; shift 2
ROUNDS=8
if [ "${1:-}" = "--rounds" ]; then ROUNDS="$2"; shift 2; fi
OUT="$(mktemp -d)"
trap 'rm -rf "$OUT"' EXIT
for side in before after; do
  prefix="$BEFORE"; [ "$side" = after ] && prefix="$AFTER"
  [ -f "$prefix/lib/cmake/SEAL-3.7/SEALConfig.cmake" ] || { echo "no SEAL 3.7 in $prefix" >&2; exit 1; }
  build="$ROOT/build-seal-$side"
  echo "building quorvane_bench against $prefix in $build ..." >&2
  SEAL_PREFIX="$prefix" cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DQUORVANE_BUILD_BENCH=ON -DQUORVANE_BUILD_PYTHON=OFF -DSEAL_DIR="$prefix/lib/cmake/SEAL-3.7" > /dev/null
  cmake --build "$build" -j "${JOBS:-$(nproc)}" --target quorvane_bench > "$OUT/build-$side.log" 2>&1 ||
    { tail -40 "$OUT/build-$side.log" >&2; exit 1; }
done
for ((round = 0; round <= ROUNDS; round++)); do
  echo "round $round of $ROUNDS ..." >&2
  order=(before after); ((round % 2)) && order=(after before)
  for side in "${order[@]}"; do
    "$ROOT/build-seal-$side/bench/quorvane_bench" --json --context-reps 3 "$@" >> "$OUT/$side.json"
  done
done
echo "cores: $(nproc)"
"$PYTHON" "$ROOT/bench/seal_alloc.py" "$OUT/before.json" "$OUT/after.json" --skip 1
