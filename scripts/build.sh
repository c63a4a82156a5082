#!/usr/bin/env bash
# Builds the library, the C++ tests and the Python module in build/ and installs
# the module into the project's virtual environment (see python-env.sh).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
source "$ROOT/scripts/python-env.sh"
# CMake looks for SEAL first in SEAL_PREFIX, the prefix setup.sh installs it into.
SEAL_PREFIX="${SEAL_PREFIX:-${QUORVANE_DEPS_DIR:-$HOME/.cache/quorvane-deps}/seal-3.7.1}"
export SEAL_PREFIX
# build/ is kept between runs (incremental builds) and holds the C++ tests.
"$PYTHON" -m pip install --disable-pip-version-check --no-build-isolation -q . \
    --config-settings=build-dir=build \
    --config-settings=cmake.define.QUORVANE_BUILD_TESTS=ON
