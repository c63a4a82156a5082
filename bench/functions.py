"""Times polynomial evaluation on a 64x64 tile tensor of a SEAL CKKS context
(8192 slots) through TTFunctionEvaluator against TenSEAL's polyval of the same
polynomial on the same data, and prints the largest error of each.

Run through bench/run.sh, which builds the module and makes the virtual
environment bench/.venv-tenseal with TenSEAL for this comparison only; or
directly, with TenSEAL importable:

    PYTHONPATH=<build dir> python3 bench/functions.py

The matrix is one CTileTensor of shape [64/64, 64/128] (one ciphertext) and
TenSEAL's CKKSVector of the flattened matrix, on the same polynomial degree
and coefficient modulus. Rows:

- a degree-15 polynomial with random coefficients in [-1, 1) on values in
  [-1, 1), by each evaluation type of the library;
- the three sigmoid approximations on values in [-8, 8]: the library's
  sigmoid3/7/9_in_place, TenSEAL's polyval of the same table on the same
  scaled input (the scaling, a plaintext product, is timed with it); the
  errors are against the exact sigmoid.

The two run interleaved, one repetition of each in turn; the library works in
place on a copy made outside the timing. Every figure is a median over the
repetitions, in milliseconds; "depth" is the number of levels the library
consumed.
"""

import argparse

import numpy as np

import _pyquorvanelite_cppwrappers as qv
from tile_tensors import SLOTS, interleaved_medians, seal_and_tenseal

DEPTH = 6

# The sigmoid tables of the library (SigmoidCoefficients.h) with their input scalings.
SIGMOIDS = {
    3: (0.125, [0.5, 1.20096, 0, -0.81562]),
    7: (-0.125, [0.5, -1.73496, 0, 4.19407, 0, -5.43402, 0, 2.50739]),
    9: (0.1, [0.5, 2.318583878945927, 0, -11.622557469576737, 0, 37.47469955977713, 0,
              -58.559563142590484, 0, 34.36770115907552]),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--reps", type=int, default=10)
    args = parser.parse_args()
    import tenseal as ts

    he, ctx, bits = seal_and_tenseal(DEPTH)

    rng = np.random.default_rng(15)
    x = rng.uniform(-1, 1, (64, 64))
    y = rng.uniform(-8, 8, (64, 64))
    coefs = rng.uniform(-1, 1, 16)
    tt = qv.TTEncoder(he)
    tfe = qv.TTFunctionEvaluator(he)
    shape = qv.TTShape([64, 128])
    cx, cy = tt.encode_encrypt(shape, x), tt.encode_encrypt(shape, y)
    vx, vy = ts.ckks_vector(ctx, x.flatten().tolist()), ts.ckks_vector(ctx, y.flatten().tolist())

    def ours(op, src):
        """The library's in-place operation on a copy of src made outside the timing."""
        return (lambda t: op(t), lambda: qv.CTileTensor(src))

    rows = []
    exact = np.polynomial.polynomial.polyval(x, coefs)
    for name, eval_type in qv.EvalType.__members__.items():
        candidates = {
            "library": ours(lambda t, e=eval_type: tfe.poly_eval_in_place(t, coefs, e), cx),
            "TenSEAL": (lambda _: vx.polyval(coefs.tolist()), lambda: None),
        }
        rows.append((f"degree 15, {name}", candidates, cx, vx, exact))
    exact_sigmoid = 1 / (1 + np.exp(-y))
    for order, (scale, table) in SIGMOIDS.items():
        candidates = {
            "library": ours(getattr(tfe, f"sigmoid{order}_in_place"), cy),
            "TenSEAL": (lambda _, s=scale, t=table: (vy * s).polyval(t), lambda: None),
        }
        rows.append((f"sigmoid order {order} on [-8, 8]", candidates, cy, vy, exact_sigmoid))

    print(f"SEAL CKKS, {SLOTS} slots (degree {2 * SLOTS}), coefficient modulus bits {bits}, "
          f"a 64x64 matrix; TenSEAL {ts.__version__}; medians of {args.reps} runs in ms")
    header = (f"{'evaluation':<34}{'depth':>6}{'library':>10}{'max error':>11}"
              f"{'TenSEAL':>10}{'max error':>11}{'ours/its':>10}")
    print(header)
    print("-" * len(header))
    for name, candidates, src, vec, expected in rows:
        # One result of each for the errors, then the interleaved timing.
        res = qv.CTileTensor(src)
        candidates["library"][0](res)
        ours_error = np.max(np.abs(tt.decrypt_decode_double(res) - expected))
        its = candidates["TenSEAL"][0](None)
        its_error = np.max(np.abs(np.array(its.decrypt()).reshape(64, 64) - expected))
        med = interleaved_medians(candidates, args.reps)
        lib, ten = 1000 * med["library"], 1000 * med["TenSEAL"]
        depth = src.get_chain_index() - res.get_chain_index()
        print(f"{name:<34}{depth:>6}{lib:>10.2f}{ours_error:>11.2e}{ten:>10.2f}{its_error:>11.2e}"
              f"{lib / ten:>10.2f}")


if __name__ == "__main__":
    main()
