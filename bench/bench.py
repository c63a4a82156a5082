"""Times tile operations on a SEAL CKKS context from Python and from C++ and
compares both with the same work done by calling SEAL directly.

Run through bench/run.sh, which builds what is needed first; or directly:

    PYTHONPATH=<build dir> python3 bench/bench.py --bench-binary <build dir>/bench/quorvane_bench

The C++ benchmark runs first (it times CTile from C++ and SEAL's evaluator,
encoder, encryptor and decryptor called directly, in one process); then this
script times the same operations on CTile from Python, in this process.
Every figure is a median over the repetitions.
"""

import argparse
import json
import statistics
import subprocess
import sys
import time

import numpy as np

import _pyquorvanelite_cppwrappers as qv


def median_ms(prepare, work, reps):
    """Median milliseconds of work(prepare()) over reps runs, after one warm-up."""
    work(prepare())
    times = []
    for _ in range(reps):
        state = prepare()
        start = time.perf_counter()
        work(state)
        times.append((time.perf_counter() - start) * 1000.0)
    return statistics.median(times)


def python_times(slots, depth, reps):
    req = qv.HeConfigRequirement(slots, depth, 40, 10, 128)
    he = qv.SealCkksContext()
    he.init(req)
    rng = np.random.default_rng(1)
    va = rng.uniform(-1, 1, slots)
    vb = rng.uniform(-1, 1, slots)
    enc = qv.Encoder(he)
    a = enc.encode_encrypt(va)
    b = enc.encode_encrypt(vb)
    p = enc.encode(vb)

    def copy_a():
        return qv.CTile(a)

    times = {
        "multiply+relin+rescale": median_ms(copy_a, lambda x: x.multiply(b), reps),
        "rotate by 1": median_ms(copy_a, lambda x: x.rotate(1), reps),
        "add": median_ms(copy_a, lambda x: x.add(b), reps),
        "multiply plain+rescale": median_ms(copy_a, lambda x: x.multiply_plain(p), reps),
        "encode+encrypt": median_ms(lambda: None, lambda _: enc.encode_encrypt(va), reps),
        "decrypt+decode": median_ms(lambda: None, lambda _: enc.decrypt_decode_double(a), reps),
    }
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench-binary", required=True, help="path of quorvane_bench")
    parser.add_argument("--slots", default="8192,16384")
    parser.add_argument("--depth", type=int, default=4)
    parser.add_argument("--reps", type=int, default=30)
    args = parser.parse_args()

    cpp = json.loads(subprocess.run(
        [args.bench_binary, "--slots", args.slots, "--depth", str(args.depth),
         "--reps", str(args.reps), "--json"],
        check=True, stdout=subprocess.PIPE, text=True).stdout)

    rows = []
    for slots in [int(s) for s in args.slots.split(",")]:
        print(f"timing {slots} slots from Python...", file=sys.stderr, flush=True)
        py = python_times(slots, args.depth, args.reps)
        for entry in cpp:
            if entry["slots"] == slots:
                rows.append((entry["op"], slots, entry["seal_ms"], entry["tile_ms"],
                             py[entry["op"]]))

    print(f"depth {args.depth}, fractional precision 40, integer precision 10, "
          f"security 128, default rotations; medians of {args.reps} runs in ms")
    header = (f"{'operation':<24}{'slots':>7}{'SEAL':>11}{'CTile C++':>11}"
              f"{'ratio':>8}{'CTile Py':>11}{'ratio':>8}")
    print(header)
    print("-" * len(header))
    for op, slots, seal_ms, tile_ms, py_ms in rows:
        print(f"{op:<24}{slots:>7}{seal_ms:>11.4f}{tile_ms:>11.4f}{tile_ms / seal_ms:>8.3f}"
              f"{py_ms:>11.4f}{py_ms / seal_ms:>8.3f}")


if __name__ == "__main__":
    main()
