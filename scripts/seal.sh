#!/usr/bin/env bash
# Provides Microsoft SEAL 3.7 at SEAL_PREFIX (run by setup.sh, after the
# virtual environment). Set-up builds and replaces SEAL only in a prefix it
# owns: its own ($QUORVANE_DEPS_DIR/seal-3.7.1), one that carries its stamp
# quorvane-seal-build.txt, or one that holds no SEAL yet (the stamp then makes
# it set-up's). A SEAL 3.7 installed there another way is used as it is, and
# the log says what its configuration means; any other SEAL there is refused.
# Set-up never deletes a file it did not create.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DEPS_DIR="${QUORVANE_DEPS_DIR:-$HOME/.cache/quorvane-deps}"
OWN_PREFIX="$DEPS_DIR/seal-3.7.1"
SEAL_PREFIX="${SEAL_PREFIX:-$OWN_PREFIX}"
JOBS="${JOBS:-$(nproc)}"
source "$ROOT/scripts/python-env.sh"

log() { echo "[setup] $*"; }

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
# The macros of SEAL's util/config.h that these options (and SEAL's defaults
# for the others) define (1) or leave undefined (0).
SEAL_CONFIG=(SEAL_DEBUG=0 SEAL_THROW_ON_TRANSPARENT_CIPHERTEXT=0 SEAL_USE_MSGSL=0
             SEAL_USE_ZLIB=1 SEAL_USE_ZSTD=1 SEAL_USE_INTEL_HEXL=0)
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
# SEAL there; in a prefix set-up owns, a SEAL without it, or built another way,
# is built again.
SEAL_STAMP="$SEAL_PREFIX/quorvane-seal-build.txt"
SEAL_BUILD_ID="$(printf '%s\n' "$PYFHEL_SDIST $PYFHEL_SHA256" \
    "util/mempool.cpp edit $(sha256sum <<< "$SEAL_POOL_EDIT" | cut -d' ' -f1)" "${SEAL_OPTIONS[@]}")"

# The files of any SEAL installed in the prefix, relative to it.
seal_files() {
  [ -d "$SEAL_PREFIX" ] || return 0
  (cd "$SEAL_PREFIX" && shopt -s nullglob &&
   for f in include/SEAL-* lib*/libseal* lib/*/libseal* lib*/cmake/SEAL-* lib/*/cmake/SEAL-* \
            share/cmake/SEAL-* lib*/pkgconfig/seal*.pc lib/*/pkgconfig/seal*.pc; do
     echo "$f"
   done)
}

# Whether SEAL's config.h defines the macro.
defines() {
  grep -Eq "^[[:space:]]*#[[:space:]]*define[[:space:]]+$2([[:space:]]|\$)" "$1"
}

# Uses the SEAL 3.7 that the user installed at the prefix as it is, and says
# what it means for the library.
use_as_it_is() {
  local config="$SEAL_PREFIX/include/SEAL-3.7/seal/util/config.h"
  local version
  version="$(sed -nE 's/^#define SEAL_VERSION "(.*)"$/\1/p' "$config")"
  log "using the SEAL ${version:-3.7} at $SEAL_PREFIX as it is: set-up did not build it" \
      "(it has no quorvane-seal-build.txt), so it builds, replaces and deletes nothing there"
  if defines "$config" SEAL_USE_ALIGNED_ALLOC; then
    log "its seal/util/config.h defines SEAL_USE_ALIGNED_ALLOC: it was built with SEAL's" \
        "aligned allocator, which does not check a failed allocation and writes through it," \
        "so running out of memory is not turned into MemoryError: the process crashes instead"
    log "tests/python/test_memory_limit.py, which runs SEAL out of memory on purpose, fails with it"
  else
    log "its seal/util/config.h leaves SEAL_USE_ALIGNED_ALLOC undefined: its memory pools" \
        "allocate with operator new, whose std::bad_alloc becomes MemoryError; but set-up's" \
        "edit of util/mempool.cpp is not known to be in it, and without it an allocation" \
        "failing in a thread-safe pool leaves the pool locked and the next buffer given back" \
        "to that pool waits for ever, so running out of memory may hang the process instead"
    log "tests/python/test_memory_limit.py, which runs SEAL out of memory on purpose, fails" \
        "with it unless it carries that edit"
  fi
  local differs=() entry name want
  for entry in "${SEAL_CONFIG[@]}"; do
    name="${entry%=*}"; want="${entry#*=}"
    if defines "$config" "$name"; then
      [ "$want" = 1 ] || differs+=("$name defined")
    else
      [ "$want" = 0 ] || differs+=("$name undefined")
    fi
  done
  if ((${#differs[@]})); then
    log "its configuration differs from set-up's build of SEAL:$(IFS=,; echo "${differs[*]/#/ }")"
  fi
  if ! compgen -G "$SEAL_PREFIX/lib*/libseal-3.7.a" >/dev/null &&
     ! compgen -G "$SEAL_PREFIX/lib/*/libseal-3.7.a" >/dev/null; then
    log "it has no static library libseal-3.7.a: the library links SEAL::seal, SEAL's static target"
  fi
}

if [ "$(realpath -m "$SEAL_PREFIX")" != "$(realpath -m "$OWN_PREFIX")" ] && [ ! -f "$SEAL_STAMP" ]; then
  mapfile -t found < <(seal_files)
  if ((${#found[@]})); then
    if [ -f "$SEAL_PREFIX/include/SEAL-3.7/seal/util/config.h" ] &&
       { compgen -G "$SEAL_PREFIX/lib*/cmake/SEAL-3.7/SEALConfig.cmake" ||
         compgen -G "$SEAL_PREFIX/lib/*/cmake/SEAL-3.7/SEALConfig.cmake"; } >/dev/null; then
      use_as_it_is
      exit 0
    fi
    echo "[setup] $SEAL_PREFIX holds a SEAL that set-up did not build (it has no" \
         "quorvane-seal-build.txt) and that is no complete SEAL 3.7 installation" \
         "(include/SEAL-3.7/seal/util/config.h and lib/cmake/SEAL-3.7/SEALConfig.cmake): ${found[*]}." \
         "Set-up deletes no file it did not create: set SEAL_PREFIX to a SEAL 3.7 installation" \
         "or to a folder without SEAL, or unset it to use set-up's own SEAL in $OWN_PREFIX" >&2
    exit 1
  fi
  # Installing into a prefix that holds no SEAL replaces nothing; the stamp
  # then makes that SEAL set-up's own.
fi

if [ -f "$SEAL_PREFIX/lib/cmake/SEAL-3.7/SEALConfig.cmake" ] && [ -f "$SEAL_STAMP" ] &&
   [ "$(cat "$SEAL_STAMP")" = "$SEAL_BUILD_ID" ]; then
  log "reusing Microsoft SEAL at $SEAL_PREFIX"
  exit 0
fi
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
# The prefix is set-up's own, carries its stamp or holds no SEAL. An unfinished
# stamp claims it before SEAL's own files there are replaced; the stamp is
# completed last, so that an interrupted install is built again next time.
mkdir -p "$SEAL_PREFIX"
printf 'unfinished install of:\n%s\n' "$SEAL_BUILD_ID" > "$SEAL_STAMP"
rm -rf "$SEAL_PREFIX/include/SEAL-3.7" "$SEAL_PREFIX/lib/cmake/SEAL-3.7" \
       "$SEAL_PREFIX/lib/libseal-3.7.a" "$SEAL_PREFIX/lib/pkgconfig/seal.pc"
cmake --install "$WORK/build"
printf '%s\n' "$SEAL_BUILD_ID" > "$SEAL_STAMP"
rm -rf "$WORK"
