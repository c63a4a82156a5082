#!/usr/bin/env bash
# Measures SEAL CKKS operation costs on this machine and writes them to
# resources/optimizer/seal.json (the measures file of the SEAL context).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SEAL_PREFIX="${SEAL_PREFIX:-${QUORVANE_DEPS_DIR:-$HOME/.cache/quorvane-deps}/seal-3.7.1}"
CXX="${CXX:-g++}"
OUT="${1:-$ROOT/resources/optimizer/seal.json}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

"$CXX" -O2 -std=c++17 -I"$SEAL_PREFIX/include/SEAL-3.7" \
    "$ROOT/scripts/measure_seal_costs.cpp" "$SEAL_PREFIX/lib/libseal-3.7.a" \
    -lzstd -lz -pthread -o "$WORK/measure_seal_costs"
mkdir -p "$(dirname "$OUT")"
"$WORK/measure_seal_costs" > "$WORK/seal.json"
mv "$WORK/seal.json" "$OUT"
echo "wrote $OUT"
