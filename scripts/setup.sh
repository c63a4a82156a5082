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
# SEAL_USE_ALIGNED_ALLOC (a cmake_dependent_option of SEAL, ON with C++17)
# is turned off: SEAL then allocates its memory pools with operator new, which
# throws std::bad_alloc when memory runs out; its ::aligned_alloc is not
# checked, and a failed one is written through.
SEAL_OPTIONS=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_POSITION_INDEPENDENT_CODE=ON
    -DCMAKE_INSTALL_LIBDIR=lib -DSEAL_BUILD_DEPS=OFF -DSEAL_USE_ZLIB=ON -DSEAL_USE_ZSTD=ON -DSEAL_USE_MSGSL=OFF
    -DSEAL_USE_ALIGNED_ALLOC=OFF -DSEAL_THROW_ON_TRANSPARENT_CIPHERTEXT=OFF
    -DSEAL_BUILD_EXAMPLES=OFF -DSEAL_BUILD_TESTS=OFF -DSEAL_BUILD_BENCH=OFF
    -DBUILD_SHARED_LIBS=OFF)
# SEAL's thread-safe pool head takes a spin lock in MemoryPoolHeadMT::get()
# and does not release it when the allocation there throws: the next buffer of
# that size given back to the pool (already while the exception unwinds) spins
# for ever. This edit of util/mempool.cpp releases the lock when get() exits by
# an exception; the normal exits release it themselves, as before.
read -r -d '' SEAL_POOL_EDIT <<'PY' || true
import sys
path = sys.argv[1]
with open(path) as f:
    text = f.read()
head = "        MemoryPoolItem *MemoryPoolHeadMT::get()\n        {\n"
guard = (
    "            struct ReleaseOnThrow\n"
    "            {\n"
    "                atomic<bool> &lock;\n"
    "                int uncaught = uncaught_exceptions();\n"
    "                ~ReleaseOnThrow()\n"
    "                {\n"
    "                    if (uncaught_exceptions() > uncaught)\n"
    "                        lock.store(false, memory_order_release);\n"
    "                }\n"
    "            } release_on_throw{ locked_ };\n")
include = "#include <stdexcept>\n"
if text.count(head) != 1 or text.count(include) != 1:
    sys.exit("[setup] %s is not the one this edit is for" % path)
text = text.replace(head, head + guard).replace(include, "#include <exception>\n" + include)
with open(path, "w") as f:
    f.write(text)
PY
# The stamp in the prefix records the source, the edit and the options of the
# SEAL there; a SEAL without it, or built another way, is built again.
SEAL_STAMP="$SEAL_PREFIX/quorvane-seal-build.txt"
SEAL_BUILD_ID="$(printf '%s\n' "$PYFHEL_SDIST $PYFHEL_SHA256" \
    "util/mempool.cpp edit $(sha256sum <<< "$SEAL_POOL_EDIT" | cut -d' ' -f1)" "${SEAL_OPTIONS[@]}")"
if [ -f "$SEAL_PREFIX/lib/cmake/SEAL-3.7/SEALConfig.cmake" ] && [ -f "$SEAL_STAMP" ] &&
   [ "$(cat "$SEAL_STAMP")" = "$SEAL_BUILD_ID" ]; then
  log "reusing Microsoft SEAL at $SEAL_PREFIX"
else
  if [ -e "$SEAL_PREFIX/lib/cmake/SEAL-3.7" ]; then
    log "the SEAL at $SEAL_PREFIX was built from other sources or options: building it again"
  fi
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
  "$PYTHON" -c "$SEAL_POOL_EDIT" "$SRC/native/src/seal/util/mempool.cpp"
  cmake -S "$SRC" -B "$WORK/build" -DCMAKE_INSTALL_PREFIX="$SEAL_PREFIX" "${SEAL_OPTIONS[@]}"
  # The generated configuration must show the allocator asked for.
  grep -qxF '/* #undef SEAL_USE_ALIGNED_ALLOC */' "$WORK/build/native/src/seal/util/config.h" ||
    { echo "[setup] SEAL's generated config.h does not turn SEAL_USE_ALIGNED_ALLOC off" >&2; exit 1; }
  cmake --build "$WORK/build" -j "$JOBS"
  # Only SEAL's own files in the prefix are replaced, and the stamp is written
  # last, so that an interrupted install is built again next time.
  rm -f "$SEAL_STAMP"
  rm -rf "$SEAL_PREFIX/include/SEAL-3.7" "$SEAL_PREFIX/lib/cmake/SEAL-3.7" \
         "$SEAL_PREFIX/lib/libseal-3.7.a" "$SEAL_PREFIX/lib/pkgconfig/seal.pc"
  cmake --install "$WORK/build"
  printf '%s\n' "$SEAL_BUILD_ID" > "$SEAL_STAMP"
  rm -rf "$WORK"
fi
