"""Times tile operations on a SEAL CKKS context from C++ and from Python and
compares each with the same work done by calling SEAL directly.

Run through bench/run.sh, which builds what is needed first; or directly:

    PYTHONPATH=<build dir>:<build dir>/bench python3 bench/bench.py \\
        --bench-binary <build dir>/bench/quorvane_bench

The C++ part runs quorvane_bench, which times CTile from C++ and SEAL's
evaluator, encoder, encryptor and decryptor called directly, alternating the
two in one process. The Python part then does the same in this process: CTile
through the library's module, SEAL through the benchmark's own module
quorvane_seal_baseline (same parameters and key set). Every figure is a median
over the repetitions, in milliseconds.
"""

import argparse
import json
import statistics
import subprocess
import sys
import time

import numpy as np

import _pyquorvanelite_cppwrappers as qv
import quorvane_seal_baseline

FRACTIONAL_BITS = 40
INTEGER_BITS = 10
SECURITY = 128


def timed(call):
    start = time.perf_counter()
    call()
    return (time.perf_counter() - start) * 1000.0


def compare(prepare, tile_op, seal_op, reps):
    """Medians of the tile operation (timed here, on prepare()'s fresh state)
    and of the SEAL operation (which reports its own time), alternating which
    runs first."""
    tile_op(prepare())
    seal_op()
    tile_times, seal_times = [], []
    for r in range(reps):
        state = prepare()
        if r % 2 == 0:
            tile_times.append(timed(lambda: tile_op(state)))
            seal_times.append(seal_op())
        else:
            seal_times.append(seal_op())
            tile_times.append(timed(lambda: tile_op(state)))
    return statistics.median(tile_times), statistics.median(seal_times)


def python_times(slots, depth, reps):
    req = qv.HeConfigRequirement(slots, depth, FRACTIONAL_BITS, INTEGER_BITS, SECURITY)
    he = qv.SealCkksContext()
    he.init(req)
    seal = quorvane_seal_baseline.SealBaseline(slots, depth, FRACTIONAL_BITS, INTEGER_BITS,
                                               SECURITY)
    rng = np.random.default_rng(1)
    va = rng.uniform(-1, 1, slots)
    vb = rng.uniform(-1, 1, slots)
    enc = qv.Encoder(he)
    a = enc.encode_encrypt(va)
    b = enc.encode_encrypt(vb)
    p = enc.encode(vb)

    def copy_a():
        return qv.CTile(a)

    def nothing():
        return None

    return {
        "multiply+relin+rescale": compare(copy_a, lambda x: x.multiply(b), seal.multiply, reps),
        "rotate by 1": compare(copy_a, lambda x: x.rotate(1), seal.rotate, reps),
        "add": compare(copy_a, lambda x: x.add(b), seal.add, reps),
        "multiply plain+rescale": compare(copy_a, lambda x: x.multiply_plain(p),
                                          seal.multiply_plain, reps),
        "encode+encrypt": compare(nothing, lambda _: enc.encode_encrypt(va),
                                  seal.encode_encrypt, reps),
        "decrypt+decode": compare(nothing, lambda _: enc.decrypt_decode_double(a),
                                  seal.decrypt_decode, reps),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench-binary", required=True, help="path of quorvane_bench")
    parser.add_argument("--slots", default="8192,16384")
    parser.add_argument("--depth", type=int, default=4)
    parser.add_argument("--reps", type=int, default=30)
    args = parser.parse_args()

    print("timing from C++...", file=sys.stderr, flush=True)
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
                py_tile, py_seal = py[entry["op"]]
                rows.append((entry["op"], slots, entry["seal_ms"], entry["tile_ms"],
                             py_seal, py_tile))

    print(f"depth {args.depth}, fractional precision {FRACTIONAL_BITS}, integer precision "
          f"{INTEGER_BITS}, security {SECURITY}, default rotations; "
          f"medians of {args.reps} runs in ms")
    header = (f"{'operation':<24}{'slots':>7}  | {'SEAL':>9}{'CTile C++':>11}{'ratio':>7}  | "
              f"{'SEAL':>9}{'CTile Py':>10}{'ratio':>7}")
    print(header)
    print("-" * len(header))
    for op, slots, seal_ms, tile_ms, py_seal_ms, py_ms in rows:
        print(f"{op:<24}{slots:>7}  | {seal_ms:>9.3f}{tile_ms:>11.3f}{tile_ms / seal_ms:>7.3f}  | "
              f"{py_seal_ms:>9.3f}{py_ms:>10.3f}{py_ms / py_seal_ms:>7.3f}")


if __name__ == "__main__":
    main()
