"""Rotations, shifts, sums, slices, duplications, products and convolutions of
CTileTensor, compared with numpy on the clear values."""

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import interleaved, mockup, rand, shape_of

SHIFT_LEFT = ('shift-left by an offset larger than the original size of "dim" is not '
              'supported.')


@pytest.fixture
def he():
    return mockup(16, 8)


@pytest.fixture
def tt(he):
    return qv.TTEncoder(he)


def dim(d, tile, dup=1):
    return qv.TTDim(d, tile, dup)


def unknown_flags(c):
    s = c.get_shape()
    return [s.get_dim(i).get_are_unused_slots_unknown() for i in range(s.get_num_dims())]


def check_then_sum(tt, c, expected, axis):
    """c holds expected, its known unused slots hold zeros, and a later sum is right."""
    np.testing.assert_allclose(tt.decrypt_decode_double(c), expected, atol=1e-9)
    assert c.assert_integrity(1e-9) < 1e-9
    c.clear_unknowns()
    c.sum_over_dim(axis)
    np.testing.assert_allclose(tt.decrypt_decode_double(c), expected.sum(axis=axis, keepdims=True),
                               atol=1e-9)


ROTATIONS = {
    "one tile": (lambda: shape_of(dim(4, 4), dim(4, 4)), 0, [1, -3, 6]),
    "after tile size 1": (lambda: shape_of(dim(3, 1), dim(16, 16)), 1, [5, -1]),
    "middle of three": (lambda: shape_of(dim(2, 1), dim(4, 4), dim(4, 4)), 1, [2]),
    "interleaved": (lambda: shape_of(interleaved(8, 2), dim(3, 8)), 0, [1, 3, 4, -1, 8, 13]),
}


@pytest.mark.parametrize("name", list(ROTATIONS))
def test_rotation_matches_numpy_roll(tt, name):
    make_shape, axis, rotations = ROTATIONS[name]
    sizes = tuple(make_shape().get_original_sizes().tolist())
    vals = rand(*sizes, seed=1)
    for rot in rotations:
        c = tt.encode_encrypt(make_shape(), vals)
        assert c.rotate_along_dim(dim=axis, rot=rot) is None
        assert c.get_shape().to_string() == make_shape().to_string()
        check_then_sum(tt, c, np.roll(vals, -rot, axis=axis), axis)


SHIFTS = {
    "one tile": (lambda: shape_of(dim(5, 8), dim(2, 2)), 0, 2, "[3?/8, 2/2]"),
    "later dimension": (lambda: shape_of(dim(2, 2), dim(5, 8)), 1, 1, "[2/2, 4?/8]"),
    "interleaved cut": (lambda: shape_of(interleaved(8, 2), dim(2, 8)), 0, 6, "[2?~2/2, 2/8]"),
    "interleaved kept": (lambda: shape_of(interleaved(8, 2), dim(2, 8)), 0, 3, "[5?~4/2, 2/8]"),
    "interleaved unused": (lambda: shape_of(interleaved(6, 4), dim(3, 4)), 0, 5, "[1?~/4, 3/4]"),
}


@pytest.mark.parametrize("name", list(SHIFTS))
def test_shift_matches_numpy_slice_with_unknown_tail(tt, name):
    make_shape, axis, shift, after = SHIFTS[name]
    vals = rand(*make_shape().get_original_sizes().tolist(), seed=2)
    c = tt.encode_encrypt(make_shape(), vals)
    c.shift_along_dim(dim=axis, shift=shift)
    assert c.get_shape().to_string() == after
    assert unknown_flags(c)[axis]
    assert c.get_num_used_tiles() == c.get_shape().get_num_used_tiles()
    # An unknown tail refuses a sum until it is cleared.
    with pytest.raises(ValueError, match="^Sum operator not allowed with unknown values$"):
        c.get_sum_over_dim(axis)
    check_then_sum(tt, c, np.take(vals, range(shift, vals.shape[axis]), axis=axis), axis)


def test_rotation_and_shift_refusals(he, tt):
    c = tt.encode_encrypt(shape_of(dim(8, 4), dim(4, 4)), rand(8, 4))
    c.rotate_along_dim(0, 0)
    with pytest.raises(ValueError, match=r"^rotation/shift failed: dimension 2 does not exist in "
                                         r"this shape$"):
        c.rotate_along_dim(2, 1)
    with pytest.raises(ValueError, match="^rotation/shift failed: When the rotated dimension is "
                                         "not interleaved, it must have an external size of 1$"):
        c.shift_along_dim(0, 1)
    d = tt.encode_encrypt(shape_of(dim(5, 8), dim(2, 2)), rand(5, 2))
    with pytest.raises(ValueError, match=r"^Rotation is only supported when dim is the first "
                                         r"non-trivial dimension and it doesn't contain any "
                                         r"unused slots\.$"):
        d.rotate_along_dim(0, 1)
    with pytest.raises(ValueError) as e:
        d.shift_along_dim(dim=0, shift=-1)
    assert str(e.value) == "shiftAlongDim(dim=0, shift=-1) failed: shift-right is not supported."
    with pytest.raises(ValueError) as e:
        d.shift_along_dim(0, 5)
    assert str(e.value) == "shiftAlongDim(dim=0, shift=5) failed: " + SHIFT_LEFT
    np.testing.assert_array_equal(d.get_shape().get_original_sizes(), [5, 2])
    complex_packed = tt.encode_encrypt(shape_of(qv.TTDim(8, 4, is_complex_packed=True), dim(4, 4)),
                                       rand(8, 4))
    for op in (lambda: complex_packed.rotate_along_dim(0, 1),
               lambda: complex_packed.shift_along_dim(0, 2)):
        with pytest.raises(ValueError, match="^rotation/shift failed: complex-packed dimensions "
                                             "are not supported$"):
            op()
    with pytest.raises(TypeError):
        d.shift_along_dim(dim=0, rot=1)
    with pytest.raises(RuntimeError, match="^This tile tensor has not been packed$"):
        qv.CTileTensor(he).rotate_along_dim(0, 1)


SUMS = {
    "across tiles, first dimension": (lambda: shape_of(dim(6, 4), dim(3, 4)), 0, "[*/4, 3/4]", 1),
    "inside tiles, later dimension": (lambda: shape_of(dim(6, 4), dim(3, 4)), 1, "[6/4, 1?/4]", 0),
    "interleaved": (lambda: shape_of(interleaved(8, 2), dim(3, 8)), 0, "[*~/2, 3/8]", 1),
    "tile size 1": (lambda: shape_of(dim(3, 1), dim(16, 16)), 0, "[1, 16/16]", 1),
    "middle of three": (lambda: shape_of(dim(3, 2), dim(5, 2), dim(4, 4)), 1, "[3/2, 1?/2, 4/4]", 0),
    "last of three": (lambda: shape_of(dim(3, 2), dim(5, 2), dim(4, 4)), 2, "[3/2, 5/2, 1?/4]", 1),
}


@pytest.mark.parametrize("name", list(SUMS))
def test_sums_match_numpy(tt, name):
    make_shape, axis, after, second = SUMS[name]
    vals = rand(*make_shape().get_original_sizes().tolist(), seed=3)
    c = tt.encode_encrypt(make_shape(), vals)
    twin = c.get_sum_over_dim(axis)
    tiles_twin = c.get_sum_tiles_over_dim(axis)
    np.testing.assert_array_equal(tt.decrypt_decode_double(c), vals)
    in_tiles = tiles_twin.get_sum_in_tiles_over_dim(axis)
    c.sum_over_dim(dim=axis)
    expected = vals.sum(axis=axis, keepdims=True)
    for res in (c, twin, in_tiles):
        assert res.get_shape().to_string() == after
        np.testing.assert_allclose(tt.decrypt_decode_double(res), expected, atol=1e-9)
        assert res.assert_integrity(1e-9) < 1e-9
    # The flags the first sum leaves keep a second one right.
    c.sum_over_dim(second)
    np.testing.assert_allclose(tt.decrypt_decode_double(c),
                               expected.sum(axis=second, keepdims=True), atol=1e-9)


def test_sum_refusals(tt):
    c = tt.encode_encrypt(shape_of(dim(6, 4), dim(3, 4)), rand(6, 3))
    with pytest.raises(ValueError, match="^Dimension 2 does not exist in this tile tensor$"):
        c.sum_over_dim(2)
    with pytest.raises(ValueError, match="^Dimension has external size larger than one. Sum over "
                                         "tiles first.$"):
        c.sum_in_tiles_over_dim(0)
    c.sum_tiles_over_dim(dim=0)
    c.sum_in_tiles_over_dim(dim=1)
    with pytest.raises(ValueError, match="^Sum operator not allowed with unknown values$"):
        c.sum_over_dim(1)
    dup = tt.encode_encrypt(shape_of(dim(1, 4, 2), dim(3, 4)), rand(1, 3))
    with pytest.raises(ValueError, match="^Sum operator not allowed on a duplicated dimension$"):
        dup.sum_over_dim(0)
    complex_packed = tt.encode_encrypt(shape_of(qv.TTDim(8, 4, is_complex_packed=True), dim(4, 4)),
                                       rand(8, 4))
    for member in ("sum_over_dim", "sum_in_tiles_over_dim"):
        with pytest.raises(ValueError, match="^Summing over complex packed dimensions currently "
                                             "not supported.$"):
            getattr(complex_packed, member)(0)
    # One tile along the dimension: no tiles to add.
    complex_packed.sum_tiles_over_dim(0)
    assert str(complex_packed.get_shape()) == "[8(c)/4, 4/4]"
    complex_tiles = tt.encode_encrypt(
        shape_of(qv.TTDim(16, 4, is_complex_packed=True), dim(4, 4)), rand(16, 4))
    for member in ("sum_over_dim", "sum_tiles_over_dim"):
        with pytest.raises(ValueError, match="^Summing over complex packed dimensions currently "
                                             "not supported.$"):
            getattr(complex_tiles, member)(0)
    with pytest.raises(TypeError):
        c.sum_over_dim(0.0)


# (a shape, its values' sizes, b shape, sum dim): a * b broadcast, summed over the dim.
PRODUCTS = {
    "inner product": (lambda: shape_of(dim(10, 16), dim(1, 1)), lambda: shape_of(dim(10, 16), dim(1, 1)), 0),
    "matrix by column vector": (lambda: shape_of(dim(5, 4), dim(3, 4)),
                                lambda: shape_of(dim(5, 4), dim(1, 4, 4)), 0),
    "matrix by row vector": (lambda: shape_of(dim(5, 4), dim(3, 4)),
                             lambda: shape_of(dim(1, 4, 4), dim(3, 4)), 1),
    "matrix by matrix over 0": (lambda: shape_of(dim(6, 2), dim(3, 2), dim(1, 4, 4)),
                                lambda: shape_of(dim(6, 2), dim(1, 2, 2), dim(5, 4)), 0),
    "matrix by matrix over 1": (lambda: shape_of(dim(3, 2), dim(6, 2), dim(1, 4, 4)),
                                lambda: shape_of(dim(1, 2, 2), dim(6, 2), dim(5, 4)), 1),
}


@pytest.mark.parametrize("name", list(PRODUCTS))
def test_multiply_and_sum_match_numpy(tt, name):
    make_a, make_b, axis = PRODUCTS[name]
    a = rand(*make_a().get_original_sizes().tolist(), seed=4)
    b = rand(*make_b().get_original_sizes().tolist(), seed=5)
    expected = (a * b).sum(axis=axis, keepdims=True)
    ca, cb, pb = tt.encode_encrypt(make_a(), a), tt.encode_encrypt(make_b(), b), tt.encode(make_b(), b)
    results = [
        ca.get_multiply_and_sum(cb, sum_dim=axis),
        ca.get_multiply_plain_and_sum(pb, sum_dim=axis),
        qv.TileTensor.get_multiply_and_sum(ca, cb, dim=axis),
        pb.get_multiply_and_sum(ca, dim=axis),
        cb.get_matrix_multiplication(ca, sum_dim=axis),
        cb.get_matrix_multiplication(other=ca, sum_dim=axis),
    ]
    for member, operand in (("multiply_and_sum", cb), ("multiply_plain_and_sum", pb)):
        c = qv.CTileTensor(ca)
        assert getattr(c, member)(operand, sum_dim=axis) is None
        results.append(c)
    for operand in (cb, pb):
        c = qv.CTileTensor(ca)
        operand.multiply_and_sum_to(c, dim=axis)
        results.append(c)
    for res in results:
        np.testing.assert_allclose(tt.decrypt_decode_double(res), expected, atol=1e-9)
        assert res.get_chain_index() == 7
        assert res.assert_integrity(1e-9) < 1e-9
    np.testing.assert_array_equal(tt.decrypt_decode_double(ca), a)


def test_multiply_and_sum_keywords(tt):
    c = tt.encode_encrypt(shape_of(dim(5, 4), dim(3, 4)), rand(5, 3))
    p = tt.encode(shape_of(dim(5, 4), dim(3, 4)), rand(5, 3))
    # On a CTileTensor the member shadows TileTensor's, whose keyword is dim.
    with pytest.raises(TypeError):
        c.get_multiply_and_sum(c, dim=0)
    with pytest.raises(TypeError):
        c.get_multiply_and_sum(p, sum_dim=0)
    with pytest.raises(TypeError):
        c.get_multiply_plain_and_sum(c, sum_dim=0)
    with pytest.raises(TypeError):
        c.multiply_and_sum(c, sumDim=0)
    with pytest.raises(TypeError):
        c.multiply_and_sum(p, 0)


# Diagonalized matrices and their vectors: the result sums M[r, c, ...] v[r, ...] over r.
DIAGONAL = {
    "one block": (lambda: shape_of(dim(16, 2), dim(6, 4), dim(1, 2), diagonalized=True),
                  lambda: shape_of(dim(16, 8), dim(1, 2)), "[*/2, 6/4, 1/2]"),
    "several blocks and tiles": (lambda: shape_of(dim(20, 2), dim(5, 2), dim(6, 4), diagonalized=True),
                                 lambda: shape_of(dim(20, 4), dim(6, 4)), "[*/2, 5/2, 6/4]"),
    "duplicated vector": (lambda: shape_of(dim(8, 2), dim(4, 2), dim(6, 4), diagonalized=True),
                          lambda: shape_of(dim(8, 4), dim(1, 4, 4)), "[*/2, 4/2, 6/4]"),
    "duplicated matrix": (lambda: shape_of(dim(8, 2), dim(4, 2), dim(1, 4, 4), diagonalized=True),
                          lambda: shape_of(dim(8, 4), dim(3, 4)), "[*/2, 4/2, 3/4]"),
}


@pytest.mark.parametrize("name", list(DIAGONAL))
@pytest.mark.parametrize("kind", ["encrypted", "encoded"])
def test_diagonal_matrix_vector_product_matches_numpy(tt, name, kind):
    make_matrix, make_vector, after = DIAGONAL[name]
    m = rand(*make_matrix().get_original_sizes().tolist(), seed=6)
    v = rand(*make_vector().get_original_sizes().tolist(), seed=7)
    expected = np.einsum("rc...,r...->c...", m, v)[np.newaxis]
    matrix = (tt.encode_encrypt if kind == "encrypted" else tt.encode)(make_matrix(), m)
    cv = tt.encode_encrypt(make_vector(), v)
    res = cv.get_matrix_multiplication(matrix, 0)
    assert res.get_shape().to_string() == after
    np.testing.assert_allclose(tt.decrypt_decode_double(res), expected, atol=1e-9)
    assert res.assert_integrity(1e-9) < 1e-9
    np.testing.assert_array_equal(tt.decrypt_decode_double(cv), v)


def test_diagonal_product_refusals(tt):
    matrix = tt.encode_encrypt(shape_of(dim(16, 2), dim(6, 4), dim(1, 2), diagonalized=True),
                               rand(16, 6, 1))
    v = tt.encode_encrypt(shape_of(dim(16, 8), dim(1, 2)), rand(16, 1))
    with pytest.raises(ValueError) as e:
        v.get_matrix_multiplication(matrix, sum_dim=1)
    assert str(e.value) == "'other' has diagonalized shape: sumDim must be 0. Instead found 1"
    wrong = tt.encode_encrypt(shape_of(dim(16, 4), dim(1, 4)), rand(16, 1))
    with pytest.raises(ValueError) as e:
        wrong.get_matrix_multiplication(matrix, 0)
    assert str(e.value) == ("Attempting to perform matrix-vector multiplication using diagonal "
                            "packing: Tile size of vector's first dimension is expected to be "
                            "matrix tileSize[0]*tileSize[1], 8")


# Diagonalized matrices whose rows are or are not padded up to a whole block of
# tile0 * tile1 rows, their vectors and the matrix's shape after a scalar addition.
DIAGONAL_SCALARS = {
    "rows padded within one tile size": (
        lambda: shape_of(dim(4, 4), dim(4, 2), dim(1, 2), diagonalized=True),
        lambda: shape_of(dim(4, 8), dim(1, 2)), "[ (d)4?/4, 4/2, 1?/2]"),
    "rows padded, several tiles": (
        lambda: shape_of(dim(6, 2), dim(3, 4), dim(1, 2), diagonalized=True),
        lambda: shape_of(dim(6, 8), dim(1, 2)), "[ (d)6?/2, 3?/4, 1?/2]"),
    "rows padded, several blocks": (
        lambda: shape_of(dim(10, 2), dim(5, 2), dim(6, 4), diagonalized=True),
        lambda: shape_of(dim(10, 4), dim(6, 4)), "[ (d)10?/2, 5?/2, 6?/4]"),
    "whole blocks": (
        lambda: shape_of(dim(20, 2), dim(5, 2), dim(6, 4), diagonalized=True),
        lambda: shape_of(dim(20, 4), dim(6, 4)), "[ (d)20/2, 5?/2, 6?/4]"),
}


@pytest.mark.parametrize("name", list(DIAGONAL_SCALARS))
def test_scalar_added_to_a_diagonalized_matrix(tt, name):
    make_matrix, make_vector, after = DIAGONAL_SCALARS[name]
    m = rand(*make_matrix().get_original_sizes().tolist(), seed=8)
    v = rand(*make_vector().get_original_sizes().tolist(), seed=9)
    matrix = tt.encode_encrypt(make_matrix(), m)
    twin = matrix.get_add_scalar(1.5)
    assert matrix.add_scalar(1.5) is None
    for c in (matrix, twin):
        assert c.get_shape().to_string() == after
        np.testing.assert_allclose(tt.decrypt_decode_double(c), m + 1.5, atol=1e-9)
        assert c.assert_integrity(1e-9) < 1e-9
    # The padded rows now hold 1.5 and meet the zeros of the vector's unused slots.
    res = tt.encode_encrypt(make_vector(), v).get_matrix_multiplication(matrix, 0)
    np.testing.assert_allclose(tt.decrypt_decode_double(res),
                               np.einsum("rc...,r...->c...", m + 1.5, v)[np.newaxis], atol=1e-9)


def test_flattening_after_a_diagonalized_matrix_got_a_scalar(tt):
    m = rand(6, 3, 1, 1, seed=10)
    c = tt.encode_encrypt(shape_of(dim(6, 2), dim(3, 2), dim(1, 2, 2), dim(1, 2, 2),
                                   diagonalized=True), m)
    c.add_scalar(-0.5)
    c.flatten(2, 4)
    assert c.get_shape().to_string() == "[ (d)6?/2, 3?/2, */4]"
    np.testing.assert_allclose(tt.decrypt_decode_double(c), m[:, :, :, 0] - 0.5, atol=1e-9)


def convolution(image, filters, biases, stride_rows, stride_cols):
    """The convolution of numpy arrays laid out as the output [1, K, n]."""
    a, b, n = image.shape
    c, d, e, _ = filters.shape
    out_rows, out_cols = (a - c) // stride_rows + 1, (b - d) // stride_cols + 1
    out = np.zeros((1, out_rows * out_cols * e, n))
    for i in range(out_rows):
        for j in range(out_cols):
            for m in range(e):
                window = image[i * stride_rows:i * stride_rows + c, j * stride_cols:j * stride_cols + d]
                total = (window * filters[:, :, m, 0][:, :, np.newaxis]).sum(axis=(0, 1))
                out[0, (i * out_cols + j) * e + m] = total + biases[0, 0, m, 0]
    return out


# (a, b, n, c, d, e, stride rows, stride cols, f, g, output shape)
CONVOLUTIONS = [
    (5, 5, 3, 3, 3, 2, 2, 1, 3, 3, "[1, 12, 3/16]"),
    (3, 4, 2, 1, 1, 3, 1, 1, 16, 2, "[1, 36, 2?/16]"),
    (6, 5, 1, 2, 2, 2, 2, 3, 1, 4, "[1, 12, 1?/16]"),
    (8, 8, 4, 3, 3, 4, 1, 1, 4, 4, "[1, 144, 4/16]"),
]


@pytest.mark.parametrize("case", CONVOLUTIONS)
def test_convolution_matches_numpy(tt, case):
    a, b, n, c, d, e, sr, sc, f, g, after = case
    image, filters, biases = rand(a, b, n, seed=8), rand(c, d, e, 1, seed=9), rand(1, 1, e, 1, seed=10)
    ci = tt.encode_encrypt(shape_of(dim(a, 1), dim(b, 1), dim(n, 16)), image)
    cf = tt.encode_encrypt(shape_of(dim(c, 1), dim(d, 1), dim(e, 1), dim(1, 16, f)), filters)
    cb = tt.encode_encrypt(shape_of(dim(1, 1), dim(1, 1), dim(e, 1), dim(1, 16, g)), biases,
                           ci.get_chain_index() - 1)
    res = ci.get_convolution(filters=cf, biases=cb, stride_rows=sr, stride_cols=sc)
    assert res.get_shape().to_string() == after
    expected = convolution(image, filters, biases, sr, sc)
    np.testing.assert_allclose(tt.decrypt_decode_double(res), expected, atol=1e-9)
    # Channel slots beyond n are flagged where filters or biases fill them.
    assert res.assert_integrity(1e-9) < 1e-9
    res.clear_unknowns()
    res.sum_over_dim(2)
    np.testing.assert_allclose(tt.decrypt_decode_double(res), expected.sum(axis=2, keepdims=True),
                               atol=1e-9)


def test_convolution_refusals(tt):
    image = tt.encode_encrypt(shape_of(dim(3, 1), dim(3, 1), dim(2, 16)), rand(3, 3, 2))
    filters = tt.encode_encrypt(shape_of(dim(2, 1), dim(2, 1), dim(2, 1), dim(1, 16, 2)), rand(2, 2, 2, 1))
    biases = tt.encode_encrypt(shape_of(dim(1, 1), dim(1, 1), dim(2, 1), dim(1, 16, 2)), rand(1, 1, 2, 1),
                               image.get_chain_index() - 1)
    with pytest.raises(RuntimeError, match=r"^Tile Tensor must be of shape \[a/1,b/1,n/s\], where n<=s$"):
        filters.get_convolution(filters, biases, 1, 1)
    with pytest.raises(ValueError, match=r"^Filters for Tile Tensor of shape \[a/1,b/1,n/s\] must be "
                                         r"of shape \[c/1,d/1,e/1,\*f/s\], where f>=n$"):
        image.get_convolution(image, biases, 1, 1)
    with pytest.raises(ValueError, match=r"^Biases for Tile Tensor of shape"):
        image.get_convolution(filters, filters, 1, 1)
    for strides in ((0, 1), (1, -1)):
        with pytest.raises(ValueError, match="^Strides must be positive numbers$"):
            image.get_convolution(filters, biases, *strides)
    big = tt.encode_encrypt(shape_of(dim(4, 1), dim(2, 1), dim(2, 1), dim(1, 16, 2)), rand(4, 2, 2, 1))
    with pytest.raises(ValueError, match="^Filters of size 4x2 do not fit in an image of size 3x3$"):
        image.get_convolution(big, biases, 1, 1)
    with pytest.raises(ValueError, match="^Biases must have chain index lower than this by 1$"):
        image.get_convolution(filters, tt.encode_encrypt(biases.get_shape(), rand(1, 1, 2, 1)), 1, 1)
    low = filters.get_reduce_chain_index()
    with pytest.raises(ValueError, match="^Filters must have the same chain index as this$"):
        image.get_convolution(low, biases, 1, 1)
    with pytest.raises(TypeError):
        image.get_convolution(filters, None, 1, 1)


SLICES = [
    (lambda: shape_of(dim(6, 1), dim(16, 16)), 0, 2, 3, "[3, 16/16]"),
    (lambda: shape_of(dim(16, 16), dim(5, 1)), -1, 1, 3, "[16/16, 3]"),
    (lambda: shape_of(dim(10, 4), dim(4, 4)), 0, 4, 6, "[6/4, 4/4]"),
    (lambda: shape_of(dim(10, 4), dim(4, 4)), 0, 4, 3, "[3?/4, 4/4]"),
    (lambda: shape_of(dim(10, 4), dim(4, 4)), 0, 4, 4, "[4/4, 4/4]"),
    (lambda: shape_of(interleaved(8, 2), dim(2, 8)), 0, 0, 3, "[3?~3/2, 2/8]"),
]


@pytest.mark.parametrize("case", SLICES)
def test_slice_matches_numpy(tt, case):
    make_shape, axis, start, depth, after = case
    vals = rand(*make_shape().get_original_sizes().tolist(), seed=11)
    c = tt.encode_encrypt(make_shape(), vals)
    res = c.get_slice(dim=axis, start_index=start, slice_depth=depth)
    assert res.get_shape().to_string() == after
    np.testing.assert_array_equal(c.get_shape().get_original_sizes(), vals.shape)
    check_then_sum(tt, res, np.take(vals, range(start, start + depth), axis=axis), axis % vals.ndim)


def test_slice_refusals(he, tt):
    c = tt.encode_encrypt(shape_of(dim(10, 4), dim(4, 4)), rand(10, 4))
    refusals = [
        ((2, 0, 1), "Invalid dim"),
        ((-3, 0, 1), "Invalid dim"),
        ((0, 10, 1), "getSlice: Invalid startIndex 10"),
        ((0, 4, 7), "getSlice: Invalid sliceDepth 7 when startIndex is 4"),
        ((0, 0, 0), "getSlice: Invalid sliceDepth 0 when startIndex is 0"),
        ((0, 2, 1), "getSlice: startIndex 2 must be a multiple of the current dimension's tile size"),
    ]
    for args, message in refusals:
        with pytest.raises(ValueError) as e:
            c.get_slice(*args)
        assert str(e.value) == message
    inter = tt.encode_encrypt(shape_of(interleaved(8, 2), dim(2, 8)), rand(8, 2))
    with pytest.raises(ValueError, match="^getSlice: startIndex 1 must be 0 for an interleaved "
                                         "dimension. Consider first calling shiftAlongDim"):
        inter.get_slice(0, 1, 2)
    with pytest.raises(RuntimeError, match="^This tile tensor has not been packed$"):
        qv.CTileTensor(he, shape_of(dim(10, 4), dim(4, 4))).get_slice(0, 0, 4)


def test_flatten_and_duplicate(tt):
    vals = rand(2, 1, 1, seed=12)
    c = tt.encode_encrypt(shape_of(dim(2, 2), dim(1, 4, 4), dim(1, 2, 2)), vals)
    flat = c.get_flatten(start_dim=1, end_dim=3)
    assert flat.get_shape().to_string() == "[2/2, */8]"
    assert c.get_shape().to_string() == "[2/2, */4, */2]"
    assert c.flatten(1, 3) is None
    assert c.get_shape().to_string() == "[2/2, */8]"
    for res in (c, flat):
        np.testing.assert_array_equal(tt.decrypt_decode_double(res), vals.reshape(2, 1))
    with pytest.raises(RuntimeError, match="^In flatten, startDim must be < endDim$"):
        c.flatten(2, 2)
    with pytest.raises(ValueError, match="^Flatten operator not allowed for a dimension that is not "
                                         "fully duplicated$"):
        c.flatten(0, 2)

    column = rand(3, 1, seed=13)
    d = tt.encode_encrypt(shape_of(dim(3, 2), dim(1, 8)), column)
    twin = d.get_duplicate_over_dim(1)
    assert d.get_shape().to_string() == "[3/2, 1/8]"
    d.duplicate_over_dim(dim=1)
    for res in (d, twin):
        assert res.get_shape().to_string() == "[3/2, */8]"
        np.testing.assert_allclose(tt.decrypt_decode_double(res), column, atol=1e-12)
        assert res.assert_integrity(1e-12) < 1e-12
    # The duplicated column now multiplies a whole matrix.
    m = rand(3, 8, seed=14)
    d.multiply(tt.encode_encrypt(shape_of(dim(3, 2), dim(8, 8)), m))
    np.testing.assert_allclose(tt.decrypt_decode_double(d), m * column, atol=1e-12)
    with pytest.raises(ValueError, match="^Duplicate operator not allowed with original size larger "
                                         "than one$"):
        d.duplicate_over_dim(0)


def test_returning_twins_leave_self_unchanged(tt):
    a, b = rand(3, 5, seed=15), rand(3, 5, seed=16)
    shape = lambda: shape_of(dim(3, 4), dim(5, 4))
    c, other, plain = tt.encode_encrypt(shape(), a), tt.encode_encrypt(shape(), b), tt.encode(shape(), b)
    twins = [
        (lambda: c.get_sub(other), a - b, 8),
        (lambda: c.get_sub(c), a * 0, 8),
        (lambda: c.get_sub_raw(other=other), a - b, 8),
        (lambda: c.get_add_plain(plain), a + b, 8),
        (lambda: c.get_add_plain_raw(plain=plain), a + b, 8),
        (lambda: c.get_sub_plain(plain), a - b, 8),
        (lambda: c.get_sub_plain_raw(plain), a - b, 8),
        (lambda: c.get_multiply_plain(plain), a * b, 7),
        (lambda: c.get_multiply_plain_raw(plain), a * b, 8),
        (lambda: c.get_add_scalar(0.5), a + 0.5, 8),
        (lambda: c.get_add_scalar(val=0.5), a + 0.5, 8),
        (lambda: c.get_multiply_scalar(val=3.0), a * 3, 7),
        (lambda: c.get_square(), a * a, 7),
        (lambda: c.get_square_raw(), a * a, 8),
        (lambda: c.get_relinearize(), a, 8),
        (lambda: c.get_rescale(), a, 7),
        (lambda: c.get_clear_unknowns(), a, 8),
        (lambda: c.get_reduce_chain_index(), a, 7),
        (lambda: c.get_set_chain_index(chain_index=3), a, 3),
        (lambda: c.get_set_chain_index(tt.encode_encrypt(shape(), a, 2)), a, 2),
    ]
    for make, expected, chain_index in twins:
        res = make()
        assert isinstance(res, qv.CTileTensor) and res is not c
        np.testing.assert_allclose(tt.decrypt_decode_double(res), expected, atol=1e-9)
        assert res.get_chain_index() == chain_index
    np.testing.assert_array_equal(tt.decrypt_decode_double(c), a)
    assert c.get_chain_index() == 8 and c.get_shape().to_string() == "[3/4, 5/4]"
    assert c.get_add_scalar(1.0).get_shape().to_string() == "[3?/4, 5?/4]"
    for call in (lambda: c.get_set_chain_index(2.0), lambda: c.get_add_scalar(scalar=1.0),
                 lambda: c.get_sub(plain), lambda: c.get_add_plain(other)):
        with pytest.raises(TypeError):
            call()


def test_printed_forms_follow_the_layout(tt):
    c = tt.encode_encrypt(shape_of(dim(5, 8), dim(2, 2)), rand(5, 2), 4)
    c.shift_along_dim(0, 2)
    assert c.to_string(qv.VERBOSITY_LOW) == "CTileTensor [3?/8, 2/2] CI=4 tiles=1 memory=-0.000 GB\n"
    c.clear_unknowns()
    c.sum_over_dim(0)
    assert c.to_string(qv.VERBOSITY_LOW) == "CTileTensor [*/8, 2/2] CI=3 tiles=1 memory=-0.000 GB\n"
    assert "\nTile tensor logical content:\n" in c.to_string(qv.VERBOSITY_REGULAR)
    assert "Tile Tensor Tiles:\n[0, 0]\n" in c.to_string(qv.VERBOSITY_DETAILED)
    assert c.to_string(qv.VERBOSITY_NONE) == ""


def test_docstrings_and_signatures():
    doc = qv.CTileTensor.get_sum_tiles_over_dim.__doc__
    assert doc.startswith("get_sum_tiles_over_dim(self: _pyquorvanelite_cppwrappers.CTileTensor, "
                          "dim: int) -> _pyquorvanelite_cppwrappers.CTileTensor\n")
    assert "Returns the result of summing  tiles over the specified dimension." in doc
    assert "Returns the result of cleraing all unknowns." in qv.CTileTensor.get_clear_unknowns.__doc__
    assert "(i+rot) % originalSize moves to i" in qv.CTileTensor.rotate_along_dim.__doc__
    assert "i+shift moves to i" in qv.CTileTensor.shift_along_dim.__doc__
    assert qv.CTileTensor.get_convolution.__doc__.startswith(
        "get_convolution(self: _pyquorvanelite_cppwrappers.CTileTensor, filters: "
        "_pyquorvanelite_cppwrappers.CTileTensor, biases: _pyquorvanelite_cppwrappers.CTileTensor, "
        "stride_rows: int, stride_cols: int) -> _pyquorvanelite_cppwrappers.CTileTensor\n")
    assert "Overloaded function." in qv.CTileTensor.get_set_chain_index.__doc__
    names = [n for n in qv.CTileTensor.__dict__ if not n.startswith("_")]
    order = ["negate", "multiply_and_sum", "multiply_plain_and_sum", "relinearize",
             "relinearize_and_rescale", "rotate_along_dim", "shift_along_dim", "sum_over_dim",
             "sum_tiles_over_dim", "sum_in_tiles_over_dim", "duplicate_over_dim", "clear_unknowns",
             "flatten", "reduce_chain_index", "get_chain_index", "get_sub", "get_matrix_multiplication",
             "get_multiply_and_sum", "get_multiply_plain_and_sum", "get_convolution", "get_slice",
             "re_encrypt"]
    positions = [names.index(n) for n in order]
    assert positions == sorted(positions)


# Leading words of each returning member's docstring, as the interface gives them.
RETURNING_DOCS = {
    "get_sub": "Returns the result of elementwise sub of this and other",
    "get_sub_raw": "Returns the result of elementwise sub of this and other",
    "get_add_plain": "Returns the result of elementwise add of this and other",
    "get_add_plain_raw": "Returns the result of elementwise add of this and other",
    "get_sub_plain": "Returns the result of elementwise sub of this and other",
    "get_sub_plain_raw": "Returns the result of elementwise sub of this and other",
    "get_multiply_plain": "Returns the result of elementwise multiplication of this and other",
    "get_multiply_plain_raw": "Returns the result of elementwise multiplication of this and other",
    "get_add_scalar": "Returns the result of elementwise add of this and the given",
    "get_multiply_scalar": "Returns the result of elementwise multiplication of this and the",
    "get_square": "Returns the result of elementwise squaring of this CTileTensor.",
    "get_square_raw": "Returns the result of elementwise squaring of this CTileTensor.",
    "get_matrix_multiplication": "Computes matrix-vector multiplication with other.",
    "get_multiply_and_sum": "Returns the result of elementwise multiplication and summation",
    "get_multiply_plain_and_sum": "Returns the result of elementwise multiplication and summation",
    "get_relinearize": "Returns the result of calling relinearize on every CTile.",
    "get_rescale": "Returns the result of calling rescale on every CTile.",
    "get_sum_over_dim": "Returns the result of summing over the specified dimension.",
    "get_sum_tiles_over_dim": "Returns the result of summing  tiles over the specified",
    "get_sum_in_tiles_over_dim": "Returns the result of summing inside the tiles over the specified",
    "get_duplicate_over_dim": "Returns the result of duplicating the specified dimension.",
    "get_clear_unknowns": "Returns the result of cleraing all unknowns.",
    "get_reduce_chain_index": "Returns the result of reducing chain indexes of every CTile.",
    "get_set_chain_index": "Returns the result of Calling corresponding function for every",
    "get_convolution": "Returns the result of appling convolution with the given",
    "get_slice": "Returns a slice of the tensor in specific dimension.",
}


@pytest.mark.parametrize("name", list(RETURNING_DOCS))
def test_returning_member_docstrings(name):
    doc = getattr(qv.CTileTensor, name).__doc__
    assert doc.startswith(name + "(")
    # On one line, as a plain substring search finds it.
    assert "\n            " + RETURNING_DOCS[name] in doc


# Phrases of the docstrings of the members that change the tensor in place and of the
# returning ones, each on one line of the docstring.
DOC_PHRASES = [
    ("__init__", "Constructs an empty CTileTensor object."),
    ("__init__", "Construct an object of a certain shape."),
    ("__init__", "Copy constructor."),
    ("add", "Elementwise add with other CTileTensor."),
    ("add_raw", "Relies on CTile::add_raw."),
    ("sub", "Elementwise sub with other CTileTensor."),
    ("multiply", "Elementwise multiplication with other CTileTensor."),
    ("add_plain", "Elementwise add with other (plaintext) PTileTensor."),
    ("sub_plain", "Elementwise sub with other (plaintext) PTileTensor."),
    ("multiply_plain", "Elementwise multiply by other (plaintext) PTileTensor."),
    ("multiply_scalar", "Multiplies all used tensor elements by a given scalar."),
    ("add_scalar", "adds a double scalar value to all elements of this tensor."),
    ("square", "Elementwise square. Relies on CTile::square."),
    ("square_raw", "Elementwise square. Relies on CTile::squareRaw."),
    ("negate", "Elementwise negate. Relies on CTile::negate."),
    ("multiply_plain_and_sum", "See CTileTensor::multiplyAndSum for usage examples."),
    ("relinearize", "Calls corresponding function for every CTile"),
    ("rescale", "Calls corresponding function for every CTile"),
    ("relinearize_and_rescale", "Calls corresponding function for every CTile"),
    ("sum_over_dim", "Sums over a dimension."),
    ("sum_tiles_over_dim", "Sums tile over a dimension."),
    ("sum_in_tiles_over_dim", "Sums inside tiles over a dimension."),
    ("duplicate_over_dim", "Cause a dimension to become duplicated"),
    ("clear_unknowns", "Clears all unknowns from this tile tensor."),
    ("flatten", "Flattens consecutive fully-duplicated dimensions into a single"),
    ("reduce_chain_index", "Calls corresponding function for every CTile."),
    ("set_chain_index", "CTileTensor to get chain index from."),
    ("set_chain_index", "The required chain index."),
    ("adjust_chain_index", "The required chain index."),
    ("get_chain_index", "Returns chain index of tiles."),
    ("re_encrypt", "Decrypt the CTileTensor and encrypts it again to bring it to top chain"),
    ("get_sub", "CTileTensor. Relies on CTile::sub."),
    ("get_sub_raw", "CTileTensor. Relies on CTile::subRaw."),
    ("get_set_chain_index", "CTileTensor to get chain index from."),
]


@pytest.mark.parametrize("name, phrase", DOC_PHRASES)
def test_member_docstring_phrases(name, phrase):
    lines = [line.strip() for line in getattr(qv.CTileTensor, name).__doc__.split("\n")]
    assert any(phrase in line for line in lines)
