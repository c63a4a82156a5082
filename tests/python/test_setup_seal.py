"""Set-up's SEAL step (scripts/seal.sh) builds and replaces SEAL only in a
prefix it owns, and uses a SEAL the user installed at SEAL_PREFIX as it is.

The step runs with a stub `cmake` (which records its calls and installs a few
files), a local package index serving a small stand-in for the source
distribution, and a `sha256sum` whose check always passes (the stand-in is not
the pinned file): nothing is downloaded or built."""

import io
import os
import pathlib
import shutil
import subprocess
import sys
import tarfile

import pytest

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "seal.sh"
STAMP = "quorvane-seal-build.txt"
BUILD_ID_START = ("Pyfhel-3.3.2.tar.gz "
                  "6a2c1e54d5b5535ca51091d9b483ce05a8487d0ae845589afcfa4cd04d93c3f6\n")

CMAKE = r"""#!/usr/bin/env bash
set -e
echo "cmake $*" >> "$STUB_LOG"
case "$1" in
  -S)
    while (($#)); do
      case "$1" in -B) build="$2"; shift ;; -DCMAKE_INSTALL_PREFIX=*) prefix="${1#*=}" ;; esac
      shift
    done
    mkdir -p "$build/native/src/seal/util"
    echo '/* #undef SEAL_USE_ALIGNED_ALLOC */' > "$build/native/src/seal/util/config.h"
    echo "$prefix" > "$build/prefix" ;;
  --install)
    prefix="$(cat "$2/prefix")"
    mkdir -p "$prefix/include/SEAL-3.7/seal/util"
    echo installed > "$prefix/include/SEAL-3.7/seal/util/config.h"
    [ -z "${STUB_FAIL_INSTALL:-}" ] || exit 1
    mkdir -p "$prefix/lib/cmake/SEAL-3.7" "$prefix/lib/pkgconfig"
    echo installed > "$prefix/lib/cmake/SEAL-3.7/SEALConfig.cmake"
    echo installed > "$prefix/lib/libseal-3.7.a"
    echo installed > "$prefix/lib/pkgconfig/seal.pc" ;;
esac
"""

SHA256SUM = r"""#!/usr/bin/env bash
if [ "$1" = -c ]; then cat > /dev/null; exit 0; fi
exec %s "$@"
"""

MEMPOOL = ("#include <stdexcept>\n"
           "        MemoryPoolItem *MemoryPoolHeadMT::get()\n        {\n"
           "        }\n")

# SEAL 3.7.1's util/config.h as set-up's options generate it, by macro.
CONFIG = {"SEAL_DEBUG": False, "SEAL_USE_STD_BYTE": True, "SEAL_USE_ALIGNED_ALLOC": False,
          "SEAL_USE_SHARED_MUTEX": True, "SEAL_THROW_ON_TRANSPARENT_CIPHERTEXT": False,
          "SEAL_USE_INTRIN": True, "SEAL_USE_MSGSL": False, "SEAL_USE_ZLIB": True,
          "SEAL_USE_ZSTD": True, "SEAL_USE_INTEL_HEXL": False}


def config_h(**changes):
    macros = dict(CONFIG, **changes)
    lines = ["#pragma once", '#define SEAL_VERSION "3.7.1"', "#define SEAL_VERSION_MAJOR 3"]
    lines += ["#define %s" % m if on else "/* #undef %s */" % m for m, on in macros.items()]
    return "\n".join(lines) + "\n"


def install_seal(prefix, files):
    for name, content in files.items():
        path = prefix / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content.encode() if isinstance(content, str) else content)


def seal_37(config=None, static=True):
    """The files of a SEAL 3.7 installation."""
    files = {"include/SEAL-3.7/seal/util/config.h": config or config_h(),
             "include/SEAL-3.7/seal/seal.h": "#pragma once\n",
             "lib/cmake/SEAL-3.7/SEALConfig.cmake": "set(SEAL_FOUND TRUE)\n",
             "lib/cmake/SEAL-3.7/SEALConfigVersion.cmake": "set(PACKAGE_VERSION 3.7.1)\n",
             "lib/pkgconfig/seal.pc": "Name: SEAL\nVersion: 3.7.1\n"}
    if static:
        files["lib/libseal-3.7.a"] = bytes(range(256))
    else:
        files["lib/libseal.so.3.7.1"] = bytes(range(256))
    return files


def snapshot(prefix):
    return {str(p.relative_to(prefix)): p.read_bytes()
            for p in sorted(prefix.rglob("*")) if p.is_file()}


@pytest.fixture
def step(tmp_path):
    """Runs the step with stubs; returns (result, cmake calls)."""
    stubs = tmp_path / "stubs"
    stubs.mkdir()
    (stubs / "cmake").write_text(CMAKE)
    (stubs / "sha256sum").write_text(SHA256SUM % shutil.which("sha256sum"))
    venv_bin = tmp_path / "venv" / "bin"
    venv_bin.mkdir(parents=True)
    (venv_bin / "python").write_text('#!/bin/sh\nexec "%s" "$@"\n' % sys.executable)
    for stub in (stubs / "cmake", stubs / "sha256sum", venv_bin / "python"):
        stub.chmod(0o755)
    # A local index with a stand-in for the source distribution.
    page = tmp_path / "index" / "simple" / "pyfhel"
    page.mkdir(parents=True)
    (tmp_path / "index" / "files").mkdir()
    with tarfile.open(tmp_path / "index" / "files" / "Pyfhel-3.3.2.tar.gz", "w:gz") as tar:
        data = MEMPOOL.encode()
        info = tarfile.TarInfo("Pyfhel-3.3.2/Pyfhel/backend/SEAL/native/src/seal/util/mempool.cpp")
        info.size = len(data)
        tar.addfile(info, io.BytesIO(data))
    (page / "index.html").write_text(
        '<a href="../../files/Pyfhel-3.3.2.tar.gz">Pyfhel-3.3.2.tar.gz</a>\n')
    (tmp_path / "pip.conf").write_text("")
    (tmp_path / "home").mkdir()
    calls = tmp_path / "cmake-calls.txt"

    def run(seal_prefix=None, **extra):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("PIP_", "QUORVANE_", "SEAL_"))}
        env.update(PATH="%s:%s" % (stubs, env["PATH"]), HOME=str(tmp_path / "home"),
                   QUORVANE_DEPS_DIR=str(tmp_path / "deps"),
                   QUORVANE_VENV=str(tmp_path / "venv"), PIP_CONFIG_FILE=str(tmp_path / "pip.conf"),
                   PIP_INDEX_URL=(tmp_path / "index" / "simple").as_uri(), STUB_LOG=str(calls),
                   **extra)
        if seal_prefix is not None:
            env["SEAL_PREFIX"] = str(seal_prefix)
        if calls.exists():
            calls.unlink()
        result = subprocess.run(["bash", str(SCRIPT)], env=env, capture_output=True, text=True,
                                timeout=120)
        logged = calls.read_text().splitlines() if calls.exists() else []
        return result, [line.split()[1] for line in logged]

    return run


ALIGNED = ("[setup] its seal/util/config.h defines SEAL_USE_ALIGNED_ALLOC: it was built with "
           "SEAL's aligned allocator, which does not check a failed allocation and writes "
           "through it, so running out of memory is not turned into MemoryError: the process "
           "crashes instead")
NOT_ALIGNED = ("[setup] its seal/util/config.h leaves SEAL_USE_ALIGNED_ALLOC undefined: its "
               "memory pools allocate with operator new, whose std::bad_alloc becomes "
               "MemoryError; but set-up's edit of util/mempool.cpp is not known to be in it, "
               "and without it an allocation failing in a thread-safe pool leaves the pool "
               "locked and the next buffer given back to that pool waits for ever, so running "
               "out of memory may hang the process instead")
MEMORY_TEST = ("[setup] tests/python/test_memory_limit.py, which runs SEAL out of memory on "
               "purpose, fails with it")
NO_STATIC = ("[setup] it has no static library libseal-3.7.a: the library links SEAL::seal, "
             "SEAL's static target")


@pytest.mark.parametrize("files, expected", [
    (seal_37(config_h(SEAL_USE_ALIGNED_ALLOC=True)), [ALIGNED, MEMORY_TEST]),
    (seal_37(), [NOT_ALIGNED, MEMORY_TEST + " unless it carries that edit"]),
    (seal_37(config_h(SEAL_USE_ALIGNED_ALLOC=True, SEAL_THROW_ON_TRANSPARENT_CIPHERTEXT=True,
                      SEAL_USE_ZSTD=False), static=False),
     [ALIGNED, MEMORY_TEST, "[setup] its configuration differs from set-up's build of SEAL: "
      "SEAL_THROW_ON_TRANSPARENT_CIPHERTEXT defined, SEAL_USE_ZSTD undefined", NO_STATIC]),
], ids=["aligned-allocator", "operator-new", "other-configuration"])
def test_a_seal_the_user_installed_is_used_as_it_is(tmp_path, step, files, expected):
    prefix = tmp_path / "user-seal"
    install_seal(prefix, dict(files, **{"lib/libother.a": b"\0other"}))
    before = snapshot(prefix)
    result, calls = step(prefix)
    assert result.returncode == 0, result.stderr
    assert snapshot(prefix) == before
    assert calls == []
    assert result.stdout.splitlines() == [
        "[setup] using the SEAL 3.7.1 at %s as it is: set-up did not build it (it has no "
        "quorvane-seal-build.txt), so it builds, replaces and deletes nothing there" % prefix
    ] + expected
    assert not (tmp_path / "deps").exists()


@pytest.mark.parametrize("files, found", [
    ({"include/SEAL-4.1/seal/seal.h": "", "lib/cmake/SEAL-4.1/SEALConfig.cmake": "",
      "lib/libseal-4.1.a": "", "lib/pkgconfig/seal.pc": ""},
     "include/SEAL-4.1 lib/libseal-4.1.a lib/cmake/SEAL-4.1 lib/pkgconfig/seal.pc"),
    ({"include/SEAL-3.7/seal/util/config.h": config_h(), "lib/libseal-3.7.a": ""},
     "include/SEAL-3.7 lib/libseal-3.7.a"),
    ({"lib/pkgconfig/seal.pc": "Name: SEAL\n"}, "lib/pkgconfig/seal.pc"),
], ids=["other-version", "no-cmake-package", "pkgconfig-only"])
def test_a_seal_set_up_cannot_use_is_refused_and_kept(tmp_path, step, files, found):
    prefix = tmp_path / "user-seal"
    install_seal(prefix, files)
    before = snapshot(prefix)
    result, calls = step(prefix)
    assert result.returncode == 1
    assert result.stderr == (
        "[setup] %s holds a SEAL that set-up did not build (it has no quorvane-seal-build.txt) "
        "and that is no complete SEAL 3.7 installation (include/SEAL-3.7/seal/util/config.h and "
        "lib/cmake/SEAL-3.7/SEALConfig.cmake): %s. Set-up deletes no file it did not create: "
        "set SEAL_PREFIX to a SEAL 3.7 installation or to a folder without SEAL, or unset it to "
        "use set-up's own SEAL in %s\n" % (prefix, found, tmp_path / "deps" / "seal-3.7.1"))
    assert snapshot(prefix) == before
    assert calls == []


def check_built(result, calls, prefix):
    assert result.returncode == 0, result.stderr
    assert calls == ["-S", "--build", "--install"]
    assert "[setup] building Microsoft SEAL 3.7.1 into %s" % prefix in result.stdout.splitlines()
    stamp = (prefix / STAMP).read_text()
    assert stamp.startswith(BUILD_ID_START) and "-DSEAL_USE_ALIGNED_ALLOC=OFF\n" in stamp
    assert (prefix / "include/SEAL-3.7/seal/util/config.h").read_text() == "installed\n"


# Prefixes set-up owns: its own (with or without a stamp), one with its stamp,
# and ones that hold no SEAL.
@pytest.mark.parametrize("own, stamp, files", [
    (True, "an older build\n", seal_37()),
    (True, None, seal_37()),
    (False, "an older build\n", seal_37()),
    (False, None, {}),
    (False, None, {"include/zlib.h": "", "lib/libother.a": b"\0other"}),
], ids=["own-stamp-differs", "own-no-stamp", "user-prefix-stamp-differs", "empty-folder",
        "no-seal-in-prefix"])
def test_a_prefix_set_up_owns_is_built_again_and_then_reused(tmp_path, step, own, stamp, files):
    prefix = tmp_path / "deps" / "seal-3.7.1" if own else tmp_path / "prefix"
    old = dict(files)
    if "include/SEAL-3.7/seal/util/config.h" in old:
        old["include/SEAL-3.7/seal/old-only.h"] = ""
    if stamp is not None:
        old[STAMP] = stamp
    install_seal(prefix, old)
    prefix.mkdir(parents=True, exist_ok=True)
    others = {k: v for k, v in snapshot(prefix).items() if "seal" not in k.lower()}
    result, calls = step(None if own else prefix)
    check_built(result, calls, prefix)
    assert not (prefix / "include/SEAL-3.7/seal/old-only.h").exists()
    after = snapshot(prefix)
    assert {k: v for k, v in after.items() if k in others} == others
    assert not (tmp_path / "deps" / "seal-src").exists()

    result, calls = step(None if own else prefix)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "[setup] reusing Microsoft SEAL at %s\n" % prefix
    assert calls == []
    assert snapshot(prefix) == after


def test_an_interrupted_install_into_a_new_prefix_is_built_again(tmp_path, step):
    prefix = tmp_path / "missing" / "prefix"
    result, calls = step(prefix, STUB_FAIL_INSTALL="1")
    assert result.returncode == 1
    assert calls == ["-S", "--build", "--install"]
    assert (prefix / STAMP).read_text().startswith("unfinished install of:\n" + BUILD_ID_START)
    result, calls = step(prefix)
    check_built(result, calls, prefix)
