#!/usr/bin/env bash
# Installs every build and test dependency (idempotent), builds Microsoft SEAL
# into a local prefix outside git when it is not there yet, then builds the
# library, its tests and the Python module.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DEPS_DIR="${QUORVANE_DEPS_DIR:-$HOME/.cache/quorvane-deps}"
SEAL_PREFIX="${SEAL_PREFIX:-$DEPS_DIR/seal-3.7.1}"
PYTHON="${PYTHON:-python3}"
JOBS="${JOBS:-$(nproc)}"

log() { echo "[setup] $*"; }

# --- Debian packages -------------------------------------------------------
APT_PKGS=(build-essential cmake ccache libboost-dev libboost-filesystem-dev
          libboost-system-dev zlib1g-dev libzstd-dev libgtest-dev googletest)
# Debian's own Python 3.11 needs its headers, pip and venv from Debian too;
# an interpreter installed another way brings them itself.
if command -v "$PYTHON" >/dev/null 2>&1; then
  "$PYTHON" - <<'PY' || APT_PKGS+=(python3-dev)
import os, sys, sysconfig
sys.exit(0 if os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")) else 1)
PY
  "$PYTHON" -m pip --version >/dev/null 2>&1 || APT_PKGS+=(python3-pip)
  "$PYTHON" -c "import ensurepip, venv" >/dev/null 2>&1 || APT_PKGS+=(python3-venv)
else
  APT_PKGS+=(python3 python3-dev python3-pip python3-venv)
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

"$PYTHON" - <<'PY' || { echo "[setup] $PYTHON is not Python 3.11; set PYTHON=python3.11" >&2; exit 1; }
import sys
sys.exit(0 if sys.version_info[:2] == (3, 11) else 1)
PY

# --- PyPI packages ---------------------------------------------------------
source "$ROOT/scripts/python-env.sh"
"$PYTHON" -m pip install -q --disable-pip-version-check -r "$ROOT/requirements.txt"

# --- Microsoft SEAL 3.7.1 --------------------------------------------------
if [ ! -f "$SEAL_PREFIX/lib/cmake/SEAL-3.7/SEALConfig.cmake" ]; then
  log "building Microsoft SEAL 3.7.1 into $SEAL_PREFIX"
  WORK="$DEPS_DIR/seal-src"
  rm -rf "$WORK"; mkdir -p "$WORK"
  # The source distribution of Pyfhel 3.3.2 carries SEAL 3.7.1; pip reads its
  # metadata by running setup.py, which needs toml and pkg_resources.
  VENV="$DEPS_DIR/fetch-venv"
  [ -x "$VENV/bin/python" ] || "$PYTHON" -m venv "$VENV"
  "$VENV/bin/python" -m pip install -q --disable-pip-version-check toml "setuptools<70" wheel numpy
  "$VENV/bin/python" -m pip download -q --disable-pip-version-check --no-deps \
      --no-binary :all: --no-build-isolation -d "$WORK" "Pyfhel==3.3.2"
  tar -xzf "$WORK"/Pyfhel-3.3.2.tar.gz -C "$WORK" --wildcards 'Pyfhel-3.3.2/Pyfhel/backend/SEAL/*'
  SRC="$WORK/Pyfhel-3.3.2/Pyfhel/backend/SEAL"
  cmake -S "$SRC" -B "$WORK/build" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_INSTALL_PREFIX="$SEAL_PREFIX" -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
      -DSEAL_BUILD_DEPS=OFF -DSEAL_USE_ZLIB=ON -DSEAL_USE_ZSTD=ON -DSEAL_USE_MSGSL=OFF \
      -DSEAL_THROW_ON_TRANSPARENT_CIPHERTEXT=OFF -DSEAL_BUILD_EXAMPLES=OFF \
      -DSEAL_BUILD_TESTS=OFF -DSEAL_BUILD_BENCH=OFF -DBUILD_SHARED_LIBS=OFF
  cmake --build "$WORK/build" -j "$JOBS"
  cmake --install "$WORK/build"
  rm -rf "$WORK/build"
else
  log "reusing Microsoft SEAL at $SEAL_PREFIX"
fi
