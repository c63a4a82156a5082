#!/usr/bin/env bash
# Installs every build and test dependency (idempotent): Debian packages, the
# project's virtual environment with its PyPI packages, and Microsoft SEAL
# (scripts/seal.sh).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/python-env.sh"
BASE="$QUORVANE_BASE_PYTHON"

log() { echo "[setup] $*"; }

# --- Debian packages -------------------------------------------------------
APT_PKGS=(build-essential cmake ccache libboost-dev libboost-filesystem-dev
          libboost-system-dev zlib1g-dev libzstd-dev libgtest-dev googletest curl
          libssl-dev)
# Debian's own Python 3.11 needs its headers and venv from Debian too; an
# interpreter installed another way brings them itself.
if command -v "$BASE" >/dev/null 2>&1; then
  "$BASE" - <<'PY' || APT_PKGS+=(python3-dev)
import os, sys, sysconfig
sys.exit(0 if os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")) else 1)
PY
  "$BASE" -c "import ensurepip, venv" >/dev/null 2>&1 || APT_PKGS+=(python3-venv)
else
  APT_PKGS+=(python3 python3-dev python3-venv)
fi
missing=()
for p in "${APT_PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  log "installing Debian packages: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}"
fi

# --- the project's virtual environment -------------------------------------
if [ ! -x "$PYTHON" ]; then
  "$BASE" - <<'PY' || { echo "[setup] $BASE is not Python 3.11; set PYTHON=python3.11" >&2; exit 1; }
import sys
sys.exit(0 if sys.version_info[:2] == (3, 11) else 1)
PY
  log "creating the virtual environment $QUORVANE_VENV"
  "$BASE" -m venv "$QUORVANE_VENV"
fi
"$PYTHON" - <<'PY' || { echo "[setup] $PYTHON is not Python 3.11" >&2; exit 1; }
import sys
sys.exit(0 if sys.version_info[:2] == (3, 11) else 1)
PY
"$PYTHON" -m pip install -q --disable-pip-version-check -r "$ROOT/requirements.txt"

# --- Microsoft SEAL 3.7.1 -------------------------------------------------
# At SEAL_PREFIX: built into a prefix set-up owns, or a user's SEAL used as it is.
bash "$ROOT/scripts/seal.sh"
