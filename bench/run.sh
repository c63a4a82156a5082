#!/usr/bin/env bash
# Builds the library, the Python module and the C++ benchmark in build-bench/
# and prints the benchmark tables: tiles against SEAL (bench.py; extra
# arguments go there, for example --slots 8192 --reps 50), then tile tensors
# against TenSEAL and the mockup against numpy (tile_tensors.py), then
# polynomials and sigmoids on tile tensors against TenSEAL (functions.py),
# then matrix-vector products and convolutions against TenSEAL
# (layout_ops.py). TenSEAL is installed with pip into bench/.venv-tenseal, a
# virtual environment of its own made from the same interpreter; nothing else
# uses it.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${QUORVANE_BENCH_BUILD_DIR:-$ROOT/build-bench}"
# The project's virtual environment (numpy, pybind11), made by scripts/setup.sh.
source "$ROOT/scripts/python-env.sh"
[ -x "$PYTHON" ] || { echo "no $PYTHON: run scripts/setup.sh first" >&2; exit 1; }
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_BENCH=ON \
      -DPython_EXECUTABLE="$(command -v "$PYTHON")" > /dev/null
echo "building in $BUILD ..." >&2
if ! cmake --build "$BUILD" --target quorvane_bench quorvane_seal_baseline _pyquorvanelite_cppwrappers \
     > "$BUILD/bench-build.log" 2>&1; then
  tail -40 "$BUILD/bench-build.log" >&2
  exit 1
fi
PYTHONPATH="$BUILD:$BUILD/bench" "$PYTHON" "$ROOT/bench/bench.py" --bench-binary "$BUILD/bench/quorvane_bench" "$@"
VENV="$ROOT/bench/.venv-tenseal"
if ! "$VENV/bin/python" -c "import tenseal, numpy" 2> /dev/null; then
  echo "installing TenSEAL into $VENV ..." >&2
  "$PYTHON" -m venv "$VENV"
  "$VENV/bin/pip" install --quiet tenseal numpy >&2
fi
PYTHONPATH="$BUILD" "$VENV/bin/python" "$ROOT/bench/tile_tensors.py"
echo
PYTHONPATH="$BUILD" "$VENV/bin/python" "$ROOT/bench/functions.py"
echo
PYTHONPATH="$BUILD" "$VENV/bin/python" "$ROOT/bench/layout_ops.py"
