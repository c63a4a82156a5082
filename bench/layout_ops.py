"""Times structured tile-tensor products on a SEAL CKKS context against TenSEAL.

Run through bench/run.sh, which builds the module and makes the virtual
environment bench/.venv-tenseal with TenSEAL for this comparison only; or
directly, with TenSEAL importable:

    PYTHONPATH=<build dir> python3 bench/layout_ops.py

At 8192 slots (polynomial degree 16384; TenSEAL gets the same degree and
coefficient modulus):

- a 64x64 matrix, encoded or encrypted, times an encrypted vector of 64 values
  (the sum over the matrix's rows, as TenSEAL's CKKSVector.matmul computes it),
  through the diagonal product of CTileTensor.get_matrix_multiplication on a
  diagonalized matrix [(d)64/t0, 64/t1, 1/t2]; beside it, the same product by
  multiply-and-sum on a matrix of one tile [64/64, 64/128];
- a 3x3 convolution with stride 1 of an 8x8 image with 4 filters and their
  biases, through CTileTensor.get_convolution (image [8/1, 8/1, n/8192],
  encrypted filters and biases), against TenSEAL's im2col encoding and
  conv2d_im2col with a plain kernel, one call per filter, plus the bias. The
  tile-tensor convolution puts the channels inside the tiles: the row "8192
  images" convolves a batch of 8192 images in one call and is reported per
  image.

Every candidate is checked against numpy first; the candidates of one row run
interleaved. Figures are medians in milliseconds.
"""

import argparse
import os

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import _pyquorvanelite_cppwrappers as qv  # noqa: E402
from tile_tensors import SLOTS, interleaved_medians, seal_and_tenseal  # noqa: E402

DEPTH = 2


def shape_of(*dims, diagonalized=False):
    s = qv.TTShape()
    for d in dims:
        s.add_dim(d)
    if diagonalized:
        s.set_diagonalized(True)
    return s


def convolution(image, filters, biases):
    """Stride-1 convolution of numpy arrays: [a, b, n] by [c, d, e] -> [rows, cols, e, n]."""
    a, b, _ = image.shape
    c, d, e = filters.shape
    out = np.empty((a - c + 1, b - d + 1, e, image.shape[2]))
    for i in range(a - c + 1):
        for j in range(b - d + 1):
            window = image[i:i + c, j:j + d]
            for m in range(e):
                out[i, j, m] = (window * filters[:, :, m, np.newaxis]).sum(axis=(0, 1)) + biases[m]
    return out


class Bench:
    def __init__(self, reps, t0, t1):
        import tenseal as ts

        self.ts = ts
        self.reps = reps
        self.t0, self.t1 = t0, t1
        self.he, self.ctx, self.bits = seal_and_tenseal(DEPTH)
        self.ctx.generate_galois_keys()
        self.tt = qv.TTEncoder(self.he)
        self.rng = np.random.default_rng(11)
        self.rows = []

    def row(self, name, ours, theirs=None):
        """Times the candidates (name -> (call, prepare)) and records a table row."""
        candidates = {"ours": ours}
        if theirs is not None:
            candidates["theirs"] = theirs
        med = interleaved_medians(candidates, self.reps)
        ours_ms = 1000 * med["ours"]
        theirs_ms = 1000 * med["theirs"] if theirs is not None else None
        self.rows.append((name, ours_ms, theirs_ms))

    def matrix_vector(self):
        ts, tt = self.ts, self.tt
        m = self.rng.uniform(-1, 1, (64, 64))
        v = self.rng.uniform(-1, 1, 64)
        expected = v @ m
        t0, t1 = self.t0, self.t1
        matrix_shape = shape_of(qv.TTDim(64, t0), qv.TTDim(64, t1),
                                qv.TTDim(1, SLOTS // (t0 * t1)), diagonalized=True)
        vector_shape = shape_of(qv.TTDim(64, t0 * t1), qv.TTDim(1, SLOTS // (t0 * t1)))
        cv = tt.encode_encrypt(vector_shape, v.reshape(64, 1))
        pm = tt.encode(matrix_shape, m.reshape(64, 64, 1))
        cm = tt.encode_encrypt(matrix_shape, m.reshape(64, 64, 1))
        # Multiply-and-sum on one tile: the vector duplicated along the columns.
        flat_m = tt.encode(shape_of(qv.TTDim(64, 64), qv.TTDim(64, 128)), m)
        flat_v = tt.encode_encrypt(shape_of(qv.TTDim(64, 64), qv.TTDim(1, 128, 128)), v.reshape(64, 1))
        enc_v = ts.ckks_vector(self.ctx, v.tolist())
        plain = m.tolist()

        checks = {
            "diagonal, encoded matrix": tt.decrypt_decode_double(cv.get_matrix_multiplication(pm, 0)),
            "diagonal, encrypted matrix": tt.decrypt_decode_double(cv.get_matrix_multiplication(cm, 0)),
            "multiply-and-sum": tt.decrypt_decode_double(flat_v.get_multiply_plain_and_sum(flat_m, 0)),
            "TenSEAL matmul": np.array(enc_v.matmul(plain).decrypt()),
        }
        for name, got in checks.items():
            error = np.max(np.abs(got.reshape(-1) - expected))
            assert error < 1e-4, (name, error)

        matmul = (lambda _: enc_v.matmul(plain), lambda: None)
        label = f"[(d)64/{t0}, 64/{t1}, 1/{SLOTS // (t0 * t1)}]"
        self.row(f"64x64 encoded matrix x vector, diagonal {label}",
                 (lambda _: cv.get_matrix_multiplication(pm, 0), lambda: None), matmul)
        self.row(f"64x64 encrypted matrix x vector, diagonal {label}",
                 (lambda _: cv.get_matrix_multiplication(cm, 0), lambda: None), matmul)
        self.row("64x64 encoded matrix x vector, multiply-and-sum [64/64, 64/128]",
                 (lambda _: flat_v.get_multiply_plain_and_sum(flat_m, 0), lambda: None), matmul)

    def convolution(self):
        ts, tt = self.ts, self.tt
        filters = self.rng.uniform(-1, 1, (3, 3, 4))
        biases = self.rng.uniform(-1, 1, 4)
        filter_shape = shape_of(qv.TTDim(3, 1), qv.TTDim(3, 1), qv.TTDim(4, 1),
                                qv.TTDim(1, SLOTS, SLOTS))
        bias_shape = shape_of(qv.TTDim(1, 1), qv.TTDim(1, 1), qv.TTDim(4, 1), qv.TTDim(1, SLOTS, SLOTS))
        cf = tt.encode_encrypt(filter_shape, filters.reshape(3, 3, 4, 1))
        cb = tt.encode_encrypt(bias_shape, biases.reshape(1, 1, 4, 1), cf.get_chain_index() - 1)

        for images in (1, SLOTS):
            image = self.rng.uniform(-1, 1, (8, 8, images))
            ci = tt.encode_encrypt(shape_of(qv.TTDim(8, 1), qv.TTDim(8, 1), qv.TTDim(images, SLOTS)),
                                   image)
            expected = convolution(image, filters, biases)
            got = tt.decrypt_decode_double(ci.get_convolution(cf, cb, 1, 1)).reshape(expected.shape)
            assert np.max(np.abs(got - expected)) < 1e-4, np.max(np.abs(got - expected))
            ours = (lambda _, ci=ci: ci.get_convolution(cf, cb, 1, 1), lambda: None)
            if images > 1:
                self.row(f"3x3 conv of {images} 8x8 images, 4 filters (per image)", ours)
                name, ours_ms, _ = self.rows.pop()
                self.rows.append((name, ours_ms / images, None))
                continue
            enc_x, windows = ts.im2col_encoding(self.ctx, image[:, :, 0].tolist(), 3, 3, 1)
            kernels = [filters[:, :, m].tolist() for m in range(4)]

            def theirs(_):
                return [enc_x.conv2d_im2col(k, windows) + float(b) for k, b in zip(kernels, biases)]

            for m, out in enumerate(theirs(None)):
                error = np.max(np.abs(np.array(out.decrypt()[:windows])
                                      - expected[:, :, m, 0].reshape(-1)))
                assert error < 1e-4, error
            self.row("3x3 conv of an 8x8 image, 4 filters", ours, (theirs, lambda: None))

    def report(self):
        print(f"SEAL CKKS, {SLOTS} slots (degree {2 * SLOTS}), coefficient modulus bits {self.bits}; "
              f"TenSEAL {self.ts.__version__}; medians of {self.reps} runs in ms")
        header = f"{'operation':<72}{'tile tensor':>12}{'TenSEAL':>10}{'ours/its':>10}"
        print(header)
        print("-" * len(header))
        for name, ours, theirs in self.rows:
            peer = f"{theirs:>10.3f}{ours / theirs:>10.2f}" if theirs is not None else f"{'-':>10}{'-':>10}"
            print(f"{name:<72}{ours:>12.3f}{peer}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--reps", type=int, default=7)
    parser.add_argument("--t0", type=int, default=4, help="tile size of the matrix's rows")
    parser.add_argument("--t1", type=int, default=16, help="tile size of its columns (diagonals)")
    parser.add_argument("--no-convolution", action="store_true", help="time the products only")
    args = parser.parse_args()
    bench = Bench(args.reps, args.t0, args.t1)
    bench.matrix_vector()
    if not args.no_convolution:
        bench.convolution()
    bench.report()


if __name__ == "__main__":
    main()
