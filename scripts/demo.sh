#!/usr/bin/env bash
# Sets up a fresh machine, builds and installs the module, then runs the demo.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
bash scripts/setup.sh
bash scripts/build.sh
source "$ROOT/scripts/python-env.sh"
cd examples
"$PYTHON" demo.py
