#!/usr/bin/env bash
# Installs every build and test dependency (idempotent): Debian packages, the
# project's virtual environment with its PyPI packages, and Microsoft SEAL built
# into a local prefix outside git when it is not there yet.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DEPS_DIR="${QUORVANE_DEPS_DIR:-$HOME/.cache/quorvane-deps}"
SEAL_PREFIX="${SEAL_PREFIX:-$DEPS_DIR/seal-3.7.1}"
JOBS="${JOBS:-$(nproc)}"
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

# --- Microsoft SEAL 3.7.1 --------------------------------------------------
# Built from the source carried by the source distribution of Pyfhel 3.3.2,
# found on the package index that pip is configured with (PIP_INDEX_URL or
# pip's index-url, else PyPI), pinned by its SHA-256 and checked before it is
# unpacked.
PYFHEL_SDIST="Pyfhel-3.3.2.tar.gz"
PYFHEL_SHA256="6a2c1e54d5b5535ca51091d9b483ce05a8487d0ae845589afcfa4cd04d93c3f6"
if [ ! -f "$SEAL_PREFIX/lib/cmake/SEAL-3.7/SEALConfig.cmake" ]; then
  log "building Microsoft SEAL 3.7.1 into $SEAL_PREFIX"
  WORK="$DEPS_DIR/seal-src"
  rm -rf "$WORK"; mkdir -p "$WORK"
  # The file's address, then pip's CA bundle and proxy (empty when not set).
  SDIST_INFO="$("$PYTHON" "$ROOT/scripts/sdist_url.py" Pyfhel "$PYFHEL_SDIST" "$PYFHEL_SHA256")"
  mapfile -t SDIST <<< "$SDIST_INFO"
  log "downloading $(sed -E 's#//[^/@]*@#//#' <<< "${SDIST[0]}")"
  curl -sSfL --retry 3 ${SDIST[1]:+--cacert "${SDIST[1]}"} ${SDIST[2]:+--proxy "${SDIST[2]}"} \
      -o "$WORK/Pyfhel-3.3.2.tar.gz.part" "${SDIST[0]}"
  echo "$PYFHEL_SHA256  $WORK/Pyfhel-3.3.2.tar.gz.part" | sha256sum -c --quiet - ||
    { echo "[setup] Pyfhel-3.3.2.tar.gz does not match its SHA-256; not unpacking it" >&2; exit 1; }
  mv "$WORK/Pyfhel-3.3.2.tar.gz.part" "$WORK/Pyfhel-3.3.2.tar.gz"
  tar -xzf "$WORK/Pyfhel-3.3.2.tar.gz" -C "$WORK" --wildcards 'Pyfhel-3.3.2/Pyfhel/backend/SEAL/*'
  SRC="$WORK/Pyfhel-3.3.2/Pyfhel/backend/SEAL"
  cmake -S "$SRC" -B "$WORK/build" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_INSTALL_PREFIX="$SEAL_PREFIX" -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
      -DSEAL_BUILD_DEPS=OFF -DSEAL_USE_ZLIB=ON -DSEAL_USE_ZSTD=ON -DSEAL_USE_MSGSL=OFF \
      -DSEAL_THROW_ON_TRANSPARENT_CIPHERTEXT=OFF -DSEAL_BUILD_EXAMPLES=OFF \
      -DSEAL_BUILD_TESTS=OFF -DSEAL_BUILD_BENCH=OFF -DBUILD_SHARED_LIBS=OFF
  cmake --build "$WORK/build" -j "$JOBS"
  cmake --install "$WORK/build"
  rm -rf "$WORK"
else
  log "reusing Microsoft SEAL at $SEAL_PREFIX"
fi
