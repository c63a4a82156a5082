#!/usr/bin/env bash
# Builds the library, the C++ tests and the Python module in build/ and installs
# the module into the current Python environment.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
PYTHON="${PYTHON:-python3}"
# Debian's Python is marked externally managed; install into it all the same.
if "$PYTHON" -c 'import os, sysconfig; raise SystemExit(not os.path.exists(os.path.join(sysconfig.get_path("stdlib"), "EXTERNALLY-MANAGED")))'; then
  export PIP_BREAK_SYSTEM_PACKAGES=1
fi
"$PYTHON" -m pip install --disable-pip-version-check --no-build-isolation -q . \
    --config-settings=cmake.define.QUORVANE_BUILD_TESTS=ON
