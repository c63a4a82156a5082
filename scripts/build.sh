#!/usr/bin/env bash
# Builds the library, the C++ tests and the Python module in build/ and installs
# the module into the project's virtual environment (see python-env.sh).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
source "$ROOT/scripts/python-env.sh"
SEAL_PREFIX="${SEAL_PREFIX:-${QUORVANE_DEPS_DIR:-$HOME/.cache/quorvane-deps}/seal-3.7.1}"
"$PYTHON" -m pip install --disable-pip-version-check --no-build-isolation -q . \
    --config-settings=cmake.define.QUORVANE_BUILD_TESTS=ON \
    --config-settings=cmake.define.CMAKE_PREFIX_PATH="$SEAL_PREFIX"
