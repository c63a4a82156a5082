#!/usr/bin/env bash
# Builds the library, the C++ tests and the Python module in build/ and installs
# the module into the current Python environment.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
source "$ROOT/scripts/python-env.sh"
"$PYTHON" -m pip install --disable-pip-version-check --no-build-isolation -q . \
    --config-settings=cmake.define.QUORVANE_BUILD_TESTS=ON
