"""Times the tile tensor operations that check their tiles before reading them:
get_chain_index (reads tile 0), encrypt and decrypt (read every tile), on a
mockup tensor of 10,000 tiles of 16 slots and on a SEAL tensor of a 64x64 matrix
(8192 slots, shape [64/64, 64/128], one ciphertext).

One build:

    PYTHONPATH=<build dir> python3 bench/tile_checks.py

Two builds compared in one session, for example the module installed in two
virtual environments (each interpreter imports its own module):

    python3 bench/tile_checks.py --compare <python A> <python B> [--rounds 7]

The two run in turn, A B A B ..., each run a fresh process that prints its
medians; the table gives, per operation, the median over the rounds of each
build's medians and the median of the per-round ratios A/B.

Figures are medians in microseconds (mockup) or milliseconds (SEAL).
"""

import os
import statistics
import time

import build_compare

MOCKUP_TILES = 10000
MOCKUP_SLOTS = 16


def median_seconds(call, reps, prepare=lambda: None):
    call(prepare())
    times = []
    for _ in range(reps):
        state = prepare()
        start = time.perf_counter()
        call(state)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def measure(reps):
    """Medians of one build: operation name -> (value, unit)."""
    import numpy as np

    import _pyquorvanelite_cppwrappers as qv

    res = {}
    he = qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(MOCKUP_SLOTS, 4))
    tt = qv.TTEncoder(he)
    values = np.linspace(-1, 1, MOCKUP_TILES * MOCKUP_SLOTS)
    plain = tt.encode(qv.TTShape([MOCKUP_SLOTS]), values)
    cipher = qv.CTileTensor(he)
    tt.encrypt(cipher, plain)
    assert cipher.get_num_used_tiles() == MOCKUP_TILES
    res["mockup get_chain_index"] = (median_seconds(lambda _: cipher.get_chain_index(),
                                                    reps * 100) * 1e6, "us")
    res["mockup plaintext get_chain_index"] = (
        median_seconds(lambda _: plain.get_chain_index(), reps * 100) * 1e6, "us")
    res["mockup encrypt"] = (median_seconds(lambda res: tt.encrypt(res, plain), reps,
                                            lambda: qv.CTileTensor(he)) * 1e6, "us")
    res["mockup decrypt"] = (median_seconds(lambda res: tt.decrypt(res, cipher), reps,
                                            lambda: qv.PTileTensor(he)) * 1e6, "us")

    seal = qv.SealCkksContext()
    seal.init(qv.HeConfigRequirement(8192, 2, 40, 10, 128))
    st = qv.TTEncoder(seal)
    matrix = np.linspace(-1, 1, 64 * 64).reshape(64, 64)
    shape = qv.TTShape([64, 128])
    splain = st.encode(shape, matrix)
    scipher = qv.CTileTensor(seal)
    st.encrypt(scipher, splain)
    res["SEAL get_chain_index"] = (median_seconds(lambda _: scipher.get_chain_index(),
                                                  reps * 100) * 1e6, "us")
    res["SEAL encrypt"] = (median_seconds(lambda res: st.encrypt(res, splain), reps,
                                          lambda: qv.CTileTensor(seal)) * 1e3, "ms")
    res["SEAL decrypt"] = (median_seconds(lambda res: st.decrypt(res, scipher), reps,
                                          lambda: qv.PTileTensor(seal)) * 1e3, "ms")
    return res


if __name__ == "__main__":
    build_compare.main(os.path.abspath(__file__), __doc__.split("\n\n")[0], measure, reps=21)
