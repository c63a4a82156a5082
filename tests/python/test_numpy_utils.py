"""Numpy conversions of the module, reached through DoubleTensor (its __init__
and to_numpy are the tensor conversions)."""
import warnings

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup

ZERO_EXTENT = ("Error in basic_extents::basic_extents() : shape tuple is not a valid "
               "permutation: has zero elements.")

BASE = np.array([[1, 2, 0], [3, 4, 5]])


def refusal(received):
    return ("__init__(): incompatible constructor arguments. The following argument types are "
            "supported:\n    1. _pyquorvanelite_cppwrappers.DoubleTensor(arg0: "
            "numpy.ndarray[numpy.float64])\n\nInvoked with: " + received)


def round_trip(arr):
    return qv.DoubleTensor(arr).to_numpy()


@pytest.mark.parametrize("dtype", [
    np.float64, np.float32, np.float16, np.longdouble,
    np.int8, np.int16, np.int32, np.int64,
    np.uint8, np.uint16, np.uint32, np.uint64,
])
def test_numeric_dtypes_are_converted(dtype):
    res = round_trip(BASE.astype(dtype))
    assert res.dtype == np.float64
    assert res.shape == (2, 3)
    np.testing.assert_array_equal(res, BASE.astype(np.float64))


def test_bool_array_becomes_zeros_and_ones():
    res = round_trip(np.array([[True, False], [False, True]]))
    np.testing.assert_array_equal(res, [[1.0, 0.0], [0.0, 1.0]])


@pytest.mark.parametrize("dtype", [np.complex64, np.complex128])
def test_complex_arrays_keep_the_real_part(dtype):
    arr = np.array([1 + 2j, -3.5 - 1j], dtype=dtype)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        res = round_trip(arr)
    np.testing.assert_array_equal(res, [1.0, -3.5])
    assert any(issubclass(w.category, np.exceptions.ComplexWarning) for w in caught)


@pytest.mark.parametrize("value,expected", [
    ([1.5, 2, -3], [1.5, 2.0, -3.0]),
    ((4, 5), [4.0, 5.0]),
    ([[1, 2], [3, 4.5]], [[1.0, 2.0], [3.0, 4.5]]),
    (np.array([1, 2.5], dtype=object), [1.0, 2.5]),
    (np.array(["1.5", "-2"]), [1.5, -2.0]),
    (np.array([b"7", b"8.25"]), [7.0, 8.25]),
])
def test_sequences_and_other_arrays_are_accepted(value, expected):
    np.testing.assert_array_equal(round_trip(value), np.array(expected))


def test_transposed_array_is_read_in_logical_order():
    base = np.arange(6.0).reshape(2, 3)
    transposed = base.T
    assert not transposed.flags["C_CONTIGUOUS"]
    res = round_trip(transposed)
    assert res.shape == (3, 2)
    np.testing.assert_array_equal(res, transposed)


@pytest.mark.parametrize("view", [
    lambda a: a[:, ::2],
    lambda a: a[::-1],
    lambda a: np.asfortranarray(a),
    lambda a: a.transpose(2, 0, 1),
])
def test_views_and_fortran_arrays(view):
    arr = view(np.arange(24.0).reshape(2, 3, 4))
    res = round_trip(arr)
    assert res.shape == arr.shape
    np.testing.assert_array_equal(res, arr)


def test_result_is_a_new_c_ordered_float64_array():
    t = qv.DoubleTensor(np.arange(6.0).reshape(3, 2))
    res = t.to_numpy()
    assert res.dtype == np.float64
    assert res.flags["C_CONTIGUOUS"] and res.flags["OWNDATA"]
    other = t.to_numpy()
    assert not np.shares_memory(res, other)


def test_conversions_copy_in_both_directions():
    arr = np.arange(4.0)
    t = qv.DoubleTensor(arr)
    arr[:] = -1
    res = t.to_numpy()
    np.testing.assert_array_equal(res, [0, 1, 2, 3])
    res[:] = 100
    np.testing.assert_array_equal(t.to_numpy(), [0, 1, 2, 3])


def test_empty_one_dimensional_array():
    res = round_trip(np.zeros(0))
    assert res.shape == (0,)
    assert res.dtype == np.float64


@pytest.mark.parametrize("arr", [
    np.array(3.0), 2.5, np.zeros((2, 0)), np.zeros((0, 3)), np.zeros((1, 0, 2)), [[]],
])
def test_shapes_refused_by_the_tensor(arr):
    with pytest.raises(ValueError) as info:
        qv.DoubleTensor(arr)
    assert str(info.value) == ZERO_EXTENT


@pytest.mark.parametrize("value,received", [
    ("abc", "'abc'"),
    ([1, "x"], "[1, 'x']"),
    ([[1, 2], [3]], "[[1, 2], [3]]"),
    ({"a": 1}, "{'a': 1}"),
    (np.zeros(2, dtype="V8"), "array([b'\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00',\n"
                               "       b'\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00'], "
                               "dtype='|V8')"),
])
def test_unconvertible_arguments_raise_type_error(value, received):
    with pytest.raises(TypeError) as info:
        qv.DoubleTensor(value)
    assert str(info.value) == refusal(received)


def test_signature_texts_name_float64_arrays():
    assert qv.DoubleTensor.__init__.__doc__.startswith(
        "__init__(self: _pyquorvanelite_cppwrappers.DoubleTensor, "
        "arg0: numpy.ndarray[numpy.float64]) -> None\n")
    assert qv.DoubleTensor.to_numpy.__doc__.startswith(
        "to_numpy(self: _pyquorvanelite_cppwrappers.DoubleTensor) -> "
        "numpy.ndarray[numpy.float64]\n")


def test_large_array_round_trip():
    rng = np.random.default_rng(7)
    arr = rng.standard_normal((300, 200, 5))
    np.testing.assert_array_equal(round_trip(arr), arr)


# ---- One-dimensional array results of every element type ----

SLOTS = 8
ENCODED = [1.0, -2.0, 3.5] + [0.0] * (SLOTS - 3)


@pytest.fixture(scope="module")
def sources():
    he = mockup(SLOTS, 2)
    enc = qv.Encoder(he)
    pf = qv.PublicFunctions()
    pf.rotate = qv.RotationSetType.CUSTOM_ROTATIONS
    pf.set_rotation_steps([3, -1, 2])
    return {"he": he, "enc": enc, "pf": pf, "p": enc.encode(ENCODED[:3]),
            "c": enc.encode_encrypt(ENCODED[:3])}


@pytest.mark.parametrize("owner,member,arg,dtype,expected", [
    ("enc", "decode_double", "p", np.float64, ENCODED),
    ("enc", "decode_int", "p", np.int32, [1, -2, 4] + [0] * (SLOTS - 3)),
    ("enc", "decode_complex", "p", np.complex128, ENCODED),
    ("enc", "decrypt_decode_tile_double", "p", np.float64, ENCODED),
    ("enc", "decrypt_decode_double", "c", np.float64, ENCODED),
    ("enc", "decrypt_decode_int", "c", np.int32, [1, -2, 4] + [0] * (SLOTS - 3)),
    ("enc", "decrypt_decode_complex", "c", np.complex128, ENCODED),
    ("pf", "get_rotation_steps", None, np.int32, [3, -1, 2]),
    ("he", "get_modulus_chain", None, np.uint64, []),
])
def test_vector_results_are_new_arrays_of_the_signature_dtype(sources, owner, member, arg, dtype,
                                                              expected):
    method = getattr(sources[owner], member)
    args = [sources[arg]] if arg else []
    signature = getattr(type(sources[owner]), member).__doc__.splitlines()[0]
    assert signature.endswith(") -> numpy.ndarray[numpy.%s]" % np.dtype(dtype).name)
    res = method(*args)
    assert res.dtype == dtype and res.shape == (len(expected),)
    assert res.flags["C_CONTIGUOUS"] and res.flags["OWNDATA"] and res.flags["WRITEABLE"]
    np.testing.assert_array_equal(res, np.array(expected, dtype=dtype))
    res[:] = 9
    again = method(*args)
    assert not np.shares_memory(res, again)
    np.testing.assert_array_equal(again, np.array(expected, dtype=dtype))


@pytest.mark.parametrize("shape", [(2 ** 32 + 1, 0), (2 ** 31, 0), (0, 2 ** 32)])
def test_dimensions_beyond_the_int_range_are_refused_not_cut(shape):
    # Without elements, so that nothing large is allocated; cut to their low
    # 32 bits these dimensions would reach the tensor as others.
    arr = np.empty(shape)
    with pytest.raises(ValueError) as info:
        qv.DoubleTensor(arr)
    big = [d for d, n in enumerate(shape) if n > 2 ** 31 - 1][0]
    assert str(info.value) == ("Cannot convert a numpy array whose dimension %d has size %d: "
                               "dimensions are limited to 2147483647" % (big, shape[big]))


# Members that pack an array argument into a tensor name that argument when the
# array makes no tensor (DoubleTensor itself keeps the tensor's own refusal).
NO_DIMENSION = ("{} is a zero-dimensional array (a single number or None); expected an array of "
                "one or more dimensions")
ZERO_DIMENSION = ("{} has shape {}; an array of two or more dimensions cannot have a dimension "
                  "of size 0")


def tensor_argument_calls():
    he = mockup(8, 3)
    tt = qv.TTEncoder(he)
    shape = qv.TTShape([8])
    c = tt.encode_encrypt(shape, np.ones(8))
    config = qv.NumberConfig.floating_point(qv.NumberSize.SIZE_32_BIT)
    return {
        "encode": ("vals", lambda a: tt.encode(shape, a)),
        "encode_encrypt": ("vals", lambda a: tt.encode_encrypt(shape, a)),
        "encode_encrypt_generic_packing": ("vals", lambda a: tt.encode_encrypt_generic_packing(a)),
        "assert_equals": ("expected_vals", lambda a: tt.assert_equals(c, "t", a)),
        "prepare": ("inputs[1]", lambda a: qv.prepare_default_plain_blocks_for_aes_encryption(
            [np.ones(2), a], config)),
    }


@pytest.mark.parametrize("member", ["encode", "encode_encrypt", "encode_encrypt_generic_packing",
                                    "assert_equals", "prepare"])
@pytest.mark.parametrize("arr, message", [
    (None, NO_DIMENSION),
    (np.array(3.0), NO_DIMENSION),
    (2.5, NO_DIMENSION),
    (np.zeros((2, 0)), ZERO_DIMENSION),
    (np.zeros((1, 0, 2)), ZERO_DIMENSION),
])
def test_array_arguments_that_make_no_tensor_are_refused_by_name(member, arr, message):
    name, call = tensor_argument_calls()[member]
    with pytest.raises(ValueError) as info:
        call(arr)
    assert str(info.value) == message.format(name, np.shape(arr))
