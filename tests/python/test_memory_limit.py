"""A SEAL context too large for the address space the process may use raises
MemoryError, and the process goes on: the context stays uninitialised and
usable, SEAL's memory pool keeps working and the process exits normally.

Each case runs in a child interpreter that caps its own address space
(RLIMIT_AS) at what it already uses plus a margin, then builds the generic
packing context of SEAL (16384 slots with bootstrapping keys, about 7 GB)."""

import os
import subprocess
import sys
import textwrap

import pytest

CHILD = textwrap.dedent("""
    import resource
    import sys

    import numpy as np

    import _pyquorvanelite_cppwrappers as qv

    def vm_size():
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmSize:"):
                    return int(line.split()[1]) * 1024
        raise RuntimeError("no VmSize in /proc/self/status")

    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    limit = vm_size() + int(sys.argv[1])
    if hard != resource.RLIM_INFINITY and limit > hard:
        sys.exit("the hard RLIMIT_AS is below the limit of the test")
    resource.setrlimit(resource.RLIMIT_AS, (limit, hard))
    he = qv.SealCkksContext()
    try:
        he.init_for_generic_packing()
        print("initialised")
    except MemoryError as e:
        print("MemoryError:", e)
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    print(he.to_string(), end="")
    req = qv.HeConfigRequirement.insecure(1024, 2, 30, 10)
    he.init(req)
    values = np.linspace(-1, 1, 1024)
    enc = qv.Encoder(he)
    ctile = enc.encode_encrypt(values)
    ctile.multiply(ctile)
    ctile.rotate(1)
    print("max error:", np.max(np.abs(enc.decrypt_decode_double(ctile)
                                      - np.roll(values * values, -1))))
    """)

MIB = 1 << 20


# Margins in MiB: the limit strikes at a different point of SEAL's key generation.
@pytest.mark.parametrize("margin", [256, 1024, 3072])
def test_context_too_large_for_the_address_space_raises_memory_error(margin):
    try:
        child = subprocess.run([sys.executable, "-c", CHILD, str(margin * MIB)],
                               env=dict(os.environ), capture_output=True, text=True,
                               timeout=120)
    except subprocess.TimeoutExpired:
        # As a memory pool left locked does: it spins for ever.
        pytest.fail("the child did not finish in 120 s")
    assert child.returncode == 0, child.stderr
    lines = child.stdout.splitlines()
    assert lines[:2] == ["MemoryError: std::bad_alloc", "uninitialized SEAL CKKS context"], \
        child.stdout
    assert len(lines) == 3 and lines[2].startswith("max error: ")
    assert float(lines[2].split()[2]) < 1e-3
