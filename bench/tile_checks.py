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

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

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


def compare(python_a, python_b, rounds, reps):
    runs = {"A": [], "B": []}
    for r in range(rounds):
        for label, python in (("A", python_a), ("B", python_b)):
            out = subprocess.run([python, os.path.abspath(__file__), "--json", "--reps", str(reps)],
                                 check=True, capture_output=True, text=True)
            runs[label].append(json.loads(out.stdout))
        print("round %d of %d done" % (r + 1, rounds), file=sys.stderr)
    names = list(runs["A"][0])
    print("%-34s %12s %12s %8s" % ("operation", "A median", "B median", "A/B"))
    for name in names:
        unit = runs["A"][0][name][1]
        a = [run[name][0] for run in runs["A"]]
        b = [run[name][0] for run in runs["B"]]
        ratio = statistics.median(x / y for x, y in zip(a, b))
        print("%-34s %9.3f %-2s %9.3f %-2s %8.3f" % (name, statistics.median(a), unit,
                                                    statistics.median(b), unit, ratio))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--compare", nargs=2, metavar=("PYTHON_A", "PYTHON_B"))
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--reps", type=int, default=21)
    parser.add_argument("--json", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.compare:
        compare(args.compare[0], args.compare[1], args.rounds, args.reps)
        return
    res = measure(args.reps)
    if args.json:
        print(json.dumps(res))
        return
    for name, (value, unit) in res.items():
        print("%-34s %9.3f %s" % (name, value, unit))


if __name__ == "__main__":
    main()
