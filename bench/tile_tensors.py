"""Times tile tensors on a SEAL CKKS context against TenSEAL, and the mockup
context's tile operations against numpy.

Run through bench/run.sh, which builds the module and makes the virtual
environment bench/.venv-tenseal with TenSEAL for this comparison only; or
directly, with TenSEAL importable:

    PYTHONPATH=<build dir> python3 bench/tile_tensors.py

First, at 8192 slots on SEAL (polynomial degree 16384; TenSEAL gets the same
degree and coefficient modulus): a 64x64 matrix encoded and encrypted, decrypted
and decoded, and two such tensors multiplied (with relinearisation and
rescaling) and added, through a CTileTensor of shape [64/64, 64/128] (one
ciphertext), TenSEAL's CKKSTensor batched along the first dimension and its
CKKSVector of the flattened matrix. The three run interleaved, one repetition
of each in turn. The in-place arithmetic works on a copy made outside the
timing; the rows "new result" time the operations that return a new tensor.

Then, on SEAL without TenSEAL: the in-place add, sub and multiply of that
one-tile tensor against the same operation on its CTile alone.

Last, at 8192 slots: the mockup context's multiply (with its relinearize and
rescale steps), add and rotate by 1 of a CTile, and numpy's product, sum and
roll of complex arrays of the same values.

Every figure is a median over the repetitions, in milliseconds (SEAL) or
microseconds (mockup and numpy).
"""

import argparse
import os
import statistics
import time

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import _pyquorvanelite_cppwrappers as qv  # noqa: E402

SLOTS = 8192
DEPTH = 2
FRACTIONAL_BITS = 40
INTEGER_BITS = 10
SECURITY = 128


def timed(call, prepare=lambda: None):
    state = prepare()
    start = time.perf_counter()
    call(state)
    return time.perf_counter() - start


def interleaved_medians(candidates, reps):
    """Median seconds of each candidate (name -> (call, prepare)), the
    candidates taking turns within every repetition, starting each time with
    the next one."""
    names = list(candidates)
    times = {name: [] for name in names}
    for name in names:
        timed(*candidates[name])
    for r in range(reps):
        for k in range(len(names)):
            name = names[(r + k) % len(names)]
            times[name].append(timed(*candidates[name]))
    return {name: statistics.median(t) for name, t in times.items()}


def seal_and_tenseal(depth):
    """A SEAL CKKS context of the library with SLOTS slots and the depth, and a
    TenSEAL context of the same polynomial degree, coefficient modulus and
    scale; with the modulus bit sizes."""
    import tenseal as ts

    he = qv.SealCkksContext()
    he.init(qv.HeConfigRequirement(SLOTS, depth, FRACTIONAL_BITS, INTEGER_BITS, SECURITY))
    chain = [int(q).bit_length() for q in he.get_modulus_chain()]
    # The chain leaves out the special prime, which is as large as the first.
    bits = chain + [chain[0]]
    ctx = ts.context(ts.SCHEME_TYPE.CKKS, poly_modulus_degree=2 * SLOTS, coeff_mod_bit_sizes=bits)
    ctx.global_scale = 2.0 ** FRACTIONAL_BITS
    return he, ctx, bits


def seal_against_tenseal(reps):
    import tenseal as ts

    he, ctx, bits = seal_and_tenseal(DEPTH)

    rng = np.random.default_rng(7)
    m1 = rng.uniform(-1, 1, (64, 64))
    m2 = rng.uniform(-1, 1, (64, 64))
    tt = qv.TTEncoder(he)
    shape = qv.TTShape([64, 128])
    c1, c2 = tt.encode_encrypt(shape, m1), tt.encode_encrypt(shape, m2)
    t1, t2 = ts.ckks_tensor(ctx, m1.tolist(), batch=True), ts.ckks_tensor(ctx, m2.tolist(), batch=True)
    v1, v2 = ts.ckks_vector(ctx, m1.flatten().tolist()), ts.ckks_vector(ctx, m2.flatten().tolist())

    # The results agree with numpy before anything is timed.
    checks = {
        "tile tensor": tt.decrypt_decode_double(c1.get_multiply(c2)),
        "CKKSTensor": np.array(t1.mul(t2).decrypt().tolist()),
        "CKKSVector": np.array(v1.mul(v2).decrypt()).reshape(64, 64),
    }
    for name, product in checks.items():
        error = np.max(np.abs(product - m1 * m2))
        assert error < 1e-4, (name, error)

    def copy_tile_tensor():
        return qv.CTileTensor(c1)

    operations = {
        "encode+encrypt": {
            "tile tensor": (lambda _: tt.encode_encrypt(shape, m1), lambda: None),
            "CKKSTensor": (lambda _: ts.ckks_tensor(ctx, m1.tolist(), batch=True), lambda: None),
            "CKKSVector": (lambda _: ts.ckks_vector(ctx, m1.flatten().tolist()), lambda: None),
        },
        "decrypt+decode": {
            "tile tensor": (lambda _: tt.decrypt_decode_double(c1), lambda: None),
            "CKKSTensor": (lambda _: t1.decrypt().tolist(), lambda: None),
            "CKKSVector": (lambda _: v1.decrypt(), lambda: None),
        },
        "multiply (relin+rescale)": {
            "tile tensor": (lambda x: x.multiply(c2), copy_tile_tensor),
            "CKKSTensor": (lambda x: x.mul_(t2), t1.copy),
            "CKKSVector": (lambda x: x.mul_(v2), v1.copy),
        },
        "add": {
            "tile tensor": (lambda x: x.add(c2), copy_tile_tensor),
            "CKKSTensor": (lambda x: x.add_(t2), t1.copy),
            "CKKSVector": (lambda x: x.add_(v2), v1.copy),
        },
        "multiply, new result": {
            "tile tensor": (lambda _: c1.get_multiply(c2), lambda: None),
            "CKKSTensor": (lambda _: t1 * t2, lambda: None),
            "CKKSVector": (lambda _: v1 * v2, lambda: None),
        },
        "add, new result": {
            "tile tensor": (lambda _: c1.get_add(c2), lambda: None),
            "CKKSTensor": (lambda _: t1 + t2, lambda: None),
            "CKKSVector": (lambda _: v1 + v2, lambda: None),
        },
    }
    print(f"SEAL CKKS, {SLOTS} slots (degree {2 * SLOTS}), coefficient modulus bits {bits}, "
          f"a 64x64 matrix; TenSEAL {ts.__version__}; medians of {reps} runs in ms")
    header = (f"{'operation':<26}{'tile tensor':>12}{'CKKSTensor':>12}{'its/ours':>10}"
              f"{'CKKSVector':>12}{'ours/its':>10}")
    print(header)
    print("-" * len(header))
    for op, candidates in operations.items():
        med = interleaved_medians(candidates, reps)
        ours, tensor, vector = (1000 * med[k] for k in ("tile tensor", "CKKSTensor", "CKKSVector"))
        print(f"{op:<26}{ours:>12.3f}{tensor:>12.3f}{tensor / ours:>10.1f}{vector:>12.3f}"
              f"{ours / vector:>10.2f}")


def in_place_against_tile(reps):
    """The in-place add, sub and multiply of a one-tile CTileTensor against the
    same operation on its CTile alone (no TenSEAL needed): what the tensor
    adds to the ciphertext operation."""
    he = qv.SealCkksContext()
    he.init(qv.HeConfigRequirement(SLOTS, DEPTH, FRACTIONAL_BITS, INTEGER_BITS, SECURITY))
    rng = np.random.default_rng(7)
    tt = qv.TTEncoder(he)
    shape = qv.TTShape([64, 128])
    c1, c2 = (tt.encode_encrypt(shape, rng.uniform(-1, 1, (64, 64))) for _ in range(2))
    t1, t2 = c1.get_tile_by_flat_index(0), c2.get_tile_by_flat_index(0)

    def copy_tensor():
        return qv.CTileTensor(c1)

    def copy_tile():
        return qv.CTile(t1)

    print(f"in place on SEAL, {SLOTS} slots: a one-tile 64x64 tile tensor against its CTile; "
          f"medians in ms")
    header = f"{'operation':<26}{'tile tensor':>12}{'CTile':>12}{'ratio':>8}"
    print(header)
    print("-" * len(header))
    for op in ("add", "sub", "multiply"):
        med = interleaved_medians({
            "tile tensor": (lambda x: getattr(x, op)(c2), copy_tensor),
            "CTile": (lambda x: getattr(x, op)(t2), copy_tile),
        }, reps if op == "multiply" else 10 * reps)
        ours, tile = 1000 * med["tile tensor"], 1000 * med["CTile"]
        print(f"{op:<26}{ours:>12.3f}{tile:>12.3f}{ours / tile:>8.2f}")


def mockup_against_numpy(reps):
    he = qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(SLOTS, 4))
    enc = qv.Encoder(he)
    rng = np.random.default_rng(8)
    x = rng.uniform(-1, 1, SLOTS) + 1j * rng.uniform(-1, 1, SLOTS)
    y = rng.uniform(-1, 1, SLOTS) + 1j * rng.uniform(-1, 1, SLOTS)
    a, b = enc.encode_encrypt(x), enc.encode_encrypt(y)
    out = np.empty_like(x)

    def copy_a():
        return qv.CTile(a)

    operations = {
        "multiply": {"mockup": (lambda t: t.multiply(b), copy_a),
                     "numpy": (lambda _: np.multiply(x, y, out=out), lambda: None)},
        "add": {"mockup": (lambda t: t.add(b), copy_a),
                "numpy": (lambda _: np.add(x, y, out=out), lambda: None)},
        "rotate by 1": {"mockup": (lambda t: t.rotate(1), copy_a),
                        "numpy": (lambda _: np.roll(x, -1), lambda: None)},
    }
    # The mockup computes what numpy computes (numpy may round the last bit
    # differently: it fuses multiply-adds where the processor has them).
    product = qv.CTile(a)
    product.multiply(b)
    assert np.allclose(enc.decrypt_decode_complex(product), x * y, rtol=0, atol=1e-15)
    print(f"mockup context against numpy, {SLOTS} complex slots; medians of {reps} runs in us")
    header = f"{'operation':<14}{'mockup':>10}{'numpy':>10}{'ratio':>8}"
    print(header)
    print("-" * len(header))
    for op, candidates in operations.items():
        med = interleaved_medians(candidates, reps)
        mockup, numpy_time = 1e6 * med["mockup"], 1e6 * med["numpy"]
        print(f"{op:<14}{mockup:>10.2f}{numpy_time:>10.2f}{mockup / numpy_time:>8.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--reps", type=int, default=30, help="repetitions of the SEAL part")
    parser.add_argument("--mockup-reps", type=int, default=2000)
    parser.add_argument("--no-tenseal", action="store_true", help="skip the TenSEAL comparison")
    args = parser.parse_args()
    if not args.no_tenseal:
        seal_against_tenseal(args.reps)
        print()
    in_place_against_tile(args.reps)
    print()
    mockup_against_numpy(args.mockup_reps)


if __name__ == "__main__":
    main()
