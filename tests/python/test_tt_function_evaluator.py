"""TTFunctionEvaluator from Python: functions of whole tile tensors against
numpy, the unused slots, chain indexes, defaults, overloads and refusals."""

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup, shape_of, sign_approximation

SLOTS = 16
DEPTH = 20
# 3x5 values in 4x4 tiles: two tiles with unused slots along both dimensions.
TILES = [4, 4]
DIMS = (3, 5)
ZERO_POLYNOMIAL = ("Can't evaluate a zero polynomial (all coefficients are smaller than 1e-08) "
                   "to a CTile: the result will be a clear-text zero")


@pytest.fixture
def he():
    return mockup(SLOTS, DEPTH)


@pytest.fixture
def tt(he):
    return qv.TTEncoder(he)


@pytest.fixture
def tfe(he):
    return qv.TTFunctionEvaluator(he)


def values(lo=-1.0, hi=1.0, seed=0):
    return np.random.default_rng(seed).uniform(lo, hi, DIMS)


def sigmoid(x):
    return 1 / (1 + np.exp(-x))


def unknown(t):
    return t.get_shape().contains_unknown_unused_slots()


# ---- Polynomials ----

@pytest.mark.parametrize("coefs", [
    [3.0, 2.0], [0.0, -1.0, 0.5, 0.25], [1e-11, 2.0], [0.5, -1.7, 0, 4.2, 0, -5.4, 0, 2.5],
    list(np.random.default_rng(15).uniform(-1, 1, 16))])
@pytest.mark.parametrize("eval_type", list(qv.EvalType.__members__.values()))
def test_poly_eval_against_numpy(tt, tfe, coefs, eval_type):
    x = values()
    c = tt.encode_encrypt(qv.TTShape(TILES), x)
    assert tfe.poly_eval_in_place(c, np.array(coefs), eval_type) is None
    np.testing.assert_allclose(tt.decrypt_decode_double(c),
                               np.polynomial.polynomial.polyval(x, coefs), atol=1e-9)
    # The free coefficient reached the used slots only.
    assert c.assert_integrity(epsilon=1e-9) < 1e-9
    assert not unknown(c)


@pytest.mark.parametrize("coefs, min_depth, efficient_powers", [
    ([3.0, 2.0], 1, 1), ([1.0, 0, 0, 0, 2.0], 3, 3), ([1.0, 0.5, 0, 0, 0, 2.0], 3, 4)])
def test_chain_indexes_consumed_and_the_default_type(tt, tfe, coefs, min_depth, efficient_powers):
    for kwargs, depth in [({}, min_depth), ({"type": qv.EvalType.MIN_DEPTH}, min_depth),
                          ({"type": qv.EvalType.EFFICIENT_POWERS}, efficient_powers)]:
        c = tt.encode_encrypt(qv.TTShape(TILES), values())
        tfe.poly_eval_in_place(c, np.array(coefs), **kwargs)
        assert DEPTH - c.get_chain_index() == depth, kwargs


def test_plain_coefficients_overload_conversions(tt, tfe):
    x = values()
    # A list of floats and an integer array reach the plain overload by conversion.
    for coefs in ([1.0, 2.0, 3.0], np.array([1, 2, 3])):
        c = tt.encode_encrypt(qv.TTShape(TILES), x)
        tfe.poly_eval_in_place(c, coefs, qv.EvalType.PATERSONSTOCKMAYER)
        np.testing.assert_allclose(tt.decrypt_decode_double(c), 1 + 2 * x + 3 * x**2, atol=1e-12)
    c = tt.encode_encrypt(qv.TTShape(TILES), x)
    with pytest.raises(TypeError):
        tfe.poly_eval_in_place(c, np.array([1.0, 2.0]), 2)
    np.testing.assert_array_equal(tt.decrypt_decode_double(c), x)


def test_encrypted_coefficients(he, tt, tfe):
    enc = qv.Encoder(he)
    x = values(seed=1)

    def coefficients(*vals):
        return qv.CTileVector([enc.encode_encrypt(np.full(SLOTS, v)) for v in vals])

    for vals, normalized in [((0.5, -2.0), False), ((1.0, 0.3, -0.7, 2.0), True),
                             ((-0.25,), True)]:
        c = tt.encode_encrypt(qv.TTShape(TILES), x)
        tfe.poly_eval_in_place(c, coefficients(*vals), normalized)
        expected = list(vals) + ([1.0] if normalized else [])
        np.testing.assert_allclose(tt.decrypt_decode_double(c),
                                   np.polynomial.polynomial.polyval(x, expected), atol=1e-12)
        assert c.assert_integrity(epsilon=1e-9) < 1e-9
    # A single coefficient, not normalized: that coefficient, whatever the
    # tensor's unused slots held before.
    c = tt.encode_encrypt(qv.TTShape(TILES), x)
    c.add_scalar(4.0)
    assert unknown(c)
    tfe.poly_eval_in_place(c, coefficients(-1.5))
    np.testing.assert_array_equal(tt.decrypt_decode_double(c), np.full(DIMS, -1.5))
    assert not unknown(c)
    assert c.assert_integrity(epsilon=1e-12) == 0
    # A Python list of tiles is not converted.
    with pytest.raises(TypeError):
        tfe.poly_eval_in_place(c, [enc.encode_encrypt(np.ones(SLOTS))])


# ---- Powers ----

@pytest.mark.parametrize("degree", range(0, 7))
def test_pow_in_place_against_numpy(tt, tfe, degree):
    x = values(seed=2)
    c = tt.encode_encrypt(qv.TTShape(TILES), x, 9)
    assert tfe.pow_in_place(c, degree) is None
    np.testing.assert_allclose(tt.decrypt_decode_double(c), x**degree, atol=1e-14)
    assert 9 - c.get_chain_index() == (0 if degree <= 1 else int(np.ceil(np.log2(degree))))
    # x^0 is 1 in the used slots only, so the shape's zeros stay true.
    assert not unknown(c)
    assert c.assert_integrity(epsilon=1e-12) < 1e-12


# ---- Sigmoids ----

@pytest.mark.parametrize("name, max_error, depth", [
    ("sigmoid3_in_place", 0.115, 3), ("sigmoid7_in_place", 0.033, 4),
    ("sigmoid9_in_place", 0.017, 5)])
def test_sigmoids_against_the_exact_sigmoid(tt, tfe, name, max_error, depth):
    x = values(-8, 8, seed=3)
    x[0, 0], x[2, 4] = -8, 8
    c = tt.encode_encrypt(qv.TTShape(TILES), x)
    assert getattr(tfe, name)(c) is None
    assert np.max(np.abs(tt.decrypt_decode_double(c) - sigmoid(x))) < max_error
    assert DEPTH - c.get_chain_index() == depth
    assert c.assert_integrity(epsilon=1e-9) < 1e-9
    zeros = tt.encode_encrypt(qv.TTShape(TILES), np.zeros(DIMS))
    getattr(tfe, name)(zeros)
    np.testing.assert_allclose(tt.decrypt_decode_double(zeros), np.full(DIMS, 0.5), atol=1e-15)


# ---- Sign, comparison and inverse ----

def test_sign_in_place_against_the_composed_polynomials(tt, tfe):
    x = values(-4, 4, seed=4)
    c = tt.encode_encrypt(qv.TTShape(TILES), x)
    assert tfe.sign_in_place(c, gRep=2, fRep=1, max_abs_val=4, binary_res=True) is None
    np.testing.assert_allclose(tt.decrypt_decode_double(c),
                               sign_approximation(x, 2, 1, 4, True), atol=1e-12)
    # Three levels per application, one more for a bound other than 1.
    assert DEPTH - c.get_chain_index() == 3 * 3 + 1
    assert unknown(c)
    # Defaults: bound 1, results near -1 and 1.
    y = values(seed=5)
    d = tt.encode_encrypt(qv.TTShape(TILES), y)
    tfe.sign_in_place(d, 3, 2)
    np.testing.assert_allclose(tt.decrypt_decode_double(d), sign_approximation(y, 3, 2),
                               atol=1e-12)


@pytest.mark.parametrize("plain", [False, True])
def test_compare_against_numpy(tt, tfe, plain):
    a_vals, b_vals = values(seed=6), values(seed=7)
    a = tt.encode_encrypt(qv.TTShape(TILES), a_vals)
    b = (tt.encode if plain else tt.encode_encrypt)(qv.TTShape(TILES), b_vals)
    res = tfe.compare(a, b, 2, 2, 2.0)
    assert isinstance(res, qv.CTileTensor)
    np.testing.assert_allclose(tt.decrypt_decode_double(res),
                               sign_approximation(a_vals - b_vals, 2, 2, 2.0, True), atol=1e-12)
    assert DEPTH - res.get_chain_index() == 3 * 4 + 1
    assert unknown(res)
    np.testing.assert_array_equal(tt.decrypt_decode_double(a), a_vals)
    assert a.get_chain_index() == DEPTH
    # Equal values give 0.5; differences of 0.2 are decided.
    np.testing.assert_allclose(tt.decrypt_decode_double(tfe.compare(a, a, 1, 1, 2.0)),
                               np.full(DIMS, 0.5), atol=1e-12)
    shifted = a_vals + np.where(np.arange(15).reshape(DIMS) % 2, 0.2, -0.2)
    decided = tfe.compare(a, tt.encode_encrypt(qv.TTShape(TILES), shifted), 3, 3, 2.0)
    np.testing.assert_allclose(tt.decrypt_decode_double(decided),
                               (a_vals > shifted).astype(float), atol=1e-3)


def test_inverse_returns_a_new_tensor(tt, tfe):
    x = values(0.5, 1.5, seed=8)
    src = tt.encode_encrypt(qv.TTShape(TILES), x)
    res = tfe.inverse(src, 0.5, 1.5)
    assert isinstance(res, qv.CTileTensor) and res is not src
    # Five rounds by default: (1 - t^32) / x with t = 1 - x.
    np.testing.assert_allclose(tt.decrypt_decode_double(res), (1 - (1 - x)**32) / x, atol=1e-12)
    np.testing.assert_allclose(tt.decrypt_decode_double(res), 1 / x, atol=1e-6)
    assert unknown(res)
    np.testing.assert_array_equal(tt.decrypt_decode_double(src), x)
    assert src.get_chain_index() == DEPTH
    res3 = tfe.inverse(src, 0.5, 1.5, bit_resolution=3)
    np.testing.assert_allclose(tt.decrypt_decode_double(res3), (1 - (1 - x)**8) / x, atol=1e-12)


# ---- Refusals ----

REPETITIONS = "FunctionEvaluator::signInPlace - given gRep and fRep are invalid."


@pytest.mark.parametrize("call, error, message", [
    (lambda f, c: f.poly_eval_in_place(c, np.array([])), ValueError,
     "TTFunctionEvaluator::polyEvalInPlace - the coefficient list is empty."),
    (lambda f, c: f.poly_eval_in_place(c, [1.0, 2.0], qv.EvalType(7)), RuntimeError,
     "Evaluation type not supported"),
    (lambda f, c: f.poly_eval_in_place(c, [5.0, 1e-9]), RuntimeError, ZERO_POLYNOMIAL),
    (lambda f, c: f.poly_eval_in_place(c, [5.0], qv.EvalType.EFFICIENT_POWERS), RuntimeError,
     ZERO_POLYNOMIAL),
    (lambda f, c: f.poly_eval_in_place(c, qv.CTileVector()), ValueError,
     "TTFunctionEvaluator::polyEvalInPlace - the coefficient list is empty."),
    (lambda f, c: f.pow_in_place(c, -1), RuntimeError, "degree must be >= 0"),
    (lambda f, c: f.sign_in_place(c, 0, 0), ValueError, REPETITIONS),
    (lambda f, c: f.sign_in_place(c, -1, 2), ValueError, REPETITIONS),
    (lambda f, c: f.sign_in_place(c, 1, 1, float("inf")), ValueError,
     "FunctionEvaluator::signInPlace - given maxAbsVal must be positive and finite."),
    (lambda f, c: f.compare(c, c, 0, 0, 1.0), ValueError, REPETITIONS),
    (lambda f, c: f.compare(c, c, 1, 1, 0.0), ValueError,
     "FunctionEvaluator::compareInPlace - given maxDiff must be positive and finite."),
    (lambda f, c: f.inverse(c, 3.0, 2.0), ValueError,
     'FunctionEvaluator::inverse() failed: The given "lowerBound" (3.000000) is larger than '
     '"upperBound" (2.000000).'),
    (lambda f, c: f.inverse(c, 0.0, 0.0), ValueError,
     'FunctionEvaluator::inverse() failed: "upperBound" must be strictly positive, while the '
     'given "upperBound" is 0.000000.'),
    (lambda f, c: f.inverse(c, float("nan"), 1.0), ValueError,
     'FunctionEvaluator::inverse() failed: "lowerBound" must be finite, while the given '
     '"lowerBound" is nan.'),
    (lambda f, c: f.inverse(c, 0.5, float("inf")), ValueError,
     'FunctionEvaluator::inverse() failed: "upperBound" must be finite, while the given '
     '"upperBound" is inf.'),
    (lambda f, c: f.inverse(c, 0.5, 1.0, bit_resolution=0), ValueError,
     'FunctionEvaluator::inverse() failed: "bitResolution" must be positive, while the given '
     '"bitResolution" is 0.'),
])
def test_refusals_leave_the_tensor_unchanged(he, tt, tfe, call, error, message):
    x = values(0.5, 1.0, seed=9)
    c = tt.encode_encrypt(qv.TTShape(TILES), x, 15)
    shape = str(c.get_shape())
    with pytest.raises(error) as info:
        call(tfe, c)
    assert str(info.value) == message
    assert str(c.get_shape()) == shape
    assert not unknown(c)
    assert c.get_chain_index() == 15
    np.testing.assert_array_equal(tt.decrypt_decode_double(c), x)


# [8(c)/4, 2/4]: a slot holds two values as one complex number.
COMPLEX_PACKED = "[8(c)/4, 2/4]"
POLYNOMIAL = "Polynomial evaluation is currently not supported for complex-packed dimensions"
INCOMPATIBLE = "Attempting action with an incompatible shape: " + COMPLEX_PACKED


@pytest.mark.parametrize("call, message", [
    *[(lambda f, c, t=t: f.poly_eval_in_place(c, [0.5, 1.0, 2.0], t), POLYNOMIAL)
      for t in qv.EvalType.__members__.values()],
    (lambda f, c: f.poly_eval_in_place(c, qv.CTileVector([c.get_tile_at([0, 0])] * 2)),
     POLYNOMIAL),
    (lambda f, c: f.pow_in_place(c, 2),
     "Raising to a power is currently not supported for complex-packed dimensions"),
    (lambda f, c: f.inverse(c, 0.1, 0.6),
     "Inverse is currently not supported for complex-packed dimensions"),
    (lambda f, c: f.sign_in_place(c, 1, 1),
     "Sign is currently not supported for complex-packed dimensions"),
    (lambda f, c: f.compare(c, c, 1, 1, 1.0), INCOMPATIBLE),
    (lambda f, c: f.sigmoid9_in_place(c), INCOMPATIBLE),
])
def test_complex_packed_tensors_are_refused_unchanged(tt, tfe, call, message):
    x = np.random.default_rng(11).uniform(0.1, 0.6, (8, 2))
    shape = shape_of(qv.TTDim(8, 4, is_complex_packed=True), qv.TTDim(2, 4))
    c = tt.encode_encrypt(shape, x, 15)
    with pytest.raises(ValueError) as info:
        call(tfe, c)
    assert str(info.value) == message
    assert str(c.get_shape()) == COMPLEX_PACKED
    assert c.get_chain_index() == 15
    np.testing.assert_array_equal(tt.decrypt_decode_double(c), x)


def test_powers_zero_and_one_of_a_complex_packed_tensor(tt, tfe):
    x = np.random.default_rng(12).uniform(0.1, 0.6, (8, 2))
    shape = shape_of(qv.TTDim(8, 4, is_complex_packed=True), qv.TTDim(2, 4))
    c = tt.encode_encrypt(shape, x)
    tfe.pow_in_place(c, 1)
    np.testing.assert_array_equal(tt.decrypt_decode_double(c), x)
    tfe.pow_in_place(c, 0)
    np.testing.assert_array_equal(tt.decrypt_decode_double(c), np.ones((8, 2)))


def test_unpacked_tensors_and_incompatible_shapes(he, tt, tfe):
    unpacked = qv.CTileTensor(he)
    for call in (lambda t: tfe.sigmoid9_in_place(t), lambda t: tfe.pow_in_place(t, 2),
                 lambda t: tfe.inverse(t, 0.5, 1.0), lambda t: tfe.sign_in_place(t, 1, 1),
                 lambda t: tfe.poly_eval_in_place(t, [1.0, 2.0])):
        with pytest.raises(RuntimeError, match="^This tile tensor has not been packed$"):
            call(unpacked)
    a = tt.encode_encrypt(qv.TTShape(TILES), values())
    with pytest.raises(ValueError, match="^Other has not been encoded yet$"):
        tfe.compare(a, qv.PTileTensor(he), 1, 1, 1.0)
    other = tt.encode_encrypt(qv.TTShape([2, 8]), np.ones((2, 8)))
    with pytest.raises(ValueError, match="^Attempting action with an incompatible shape"):
        tfe.compare(a, other, 1, 1, 1.0)


def test_tensors_of_another_context_are_refused(tt, tfe):
    foreign = qv.TTEncoder(mockup(SLOTS, DEPTH)).encode_encrypt(qv.TTShape(TILES), values())
    with pytest.raises(ValueError, match="^TTFunctionEvaluator: the given tile tensor belongs to "
                                         "another HE context$"):
        tfe.sigmoid3_in_place(foreign)
    mine = tt.encode_encrypt(qv.TTShape(TILES), values())
    with pytest.raises(ValueError, match="^The other tile tensor belongs to another context"):
        tfe.compare(mine, foreign, 1, 1, 1.0)


# ---- On SEAL ----

def test_polynomial_and_sigmoid_on_seal():
    he = qv.SealCkksContext()
    he.init(qv.HeConfigRequirement.insecure(256, 8, 40, 10))
    tt = qv.TTEncoder(he)
    tfe = qv.TTFunctionEvaluator(he)
    rng = np.random.default_rng(10)
    x = rng.uniform(-1, 1, (12, 20))
    coefs = rng.uniform(-1, 1, 16)
    c = tt.encode_encrypt(qv.TTShape([8, 32]), x)
    tfe.poly_eval_in_place(c, coefs)
    np.testing.assert_allclose(tt.decrypt_decode_double(c),
                               np.polynomial.polynomial.polyval(x, coefs), atol=1e-6)
    assert c.assert_integrity(1e-6) < 1e-6
    y = rng.uniform(-8, 8, (12, 20))
    s = tt.encode_encrypt(qv.TTShape([8, 32]), y)
    tfe.sigmoid9_in_place(s)
    assert np.max(np.abs(tt.decrypt_decode_double(s) - sigmoid(y))) < 0.017
