import copy
import gc
import struct

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import (DictHandler, context_id, header, interleaved, mockup, rand, run_python,
                     saved_encrypted_data, shape_of)

SLOTS = 16


@pytest.fixture
def he():
    return mockup(SLOTS, 5)


@pytest.fixture
def tt(he):
    return qv.TTEncoder(he)


# Every packing kind and tensor orders 1 to 4, for 16 slots.
PACKINGS = {
    "order 1": (lambda: qv.TTShape([16]), (10,)),
    "order 1 over tiles": (lambda: qv.TTShape([16]), (37,)),
    "order 2": (lambda: qv.TTShape([4, 4]), (3, 5)),
    "order 3": (lambda: qv.TTShape([2, 2, 4]), (3, 2, 5)),
    "order 4": (lambda: qv.TTShape([2, 2, 2, 2]), (3, 1, 2, 3)),
    "interleaved": (lambda: shape_of(interleaved(5, 4), qv.TTDim(3, 4)), (5, 3)),
    "interleaved raised": (lambda: shape_of(interleaved(3, 2, 4), qv.TTDim(8, 8)), (3, 8)),
    "duplicated": (lambda: shape_of(qv.TTDim(1, 4, 4), qv.TTDim(5, 4)), (1, 5)),
    "complex": (lambda: shape_of(qv.TTDim(2, 2), qv.TTDim(12, 8, is_complex_packed=True)), (2, 12)),
    "diagonal": (lambda: shape_of(qv.TTDim(8, 4), qv.TTDim(8, 4), diagonalized=True), (8, 8)),
    "diagonal padded": (lambda: shape_of(qv.TTDim(6, 2), qv.TTDim(7, 8), diagonalized=True), (6, 7)),
}


@pytest.mark.parametrize("name", list(PACKINGS))
def test_every_packing_round_trips(he, tt, name):
    make_shape, dims = PACKINGS[name]
    vals = rand(*dims, seed=len(name))
    p = tt.encode(make_shape(), vals)
    assert p.get_shape().get_original_sizes().tolist() == list(dims)
    assert p.assert_integrity() < 1e-12
    np.testing.assert_array_equal(tt.decode_double(p), vals)
    c = tt.encode_encrypt(make_shape(), vals)
    assert c.get_num_used_tiles() == c.get_shape().get_num_used_tiles()
    assert c.assert_integrity(epsilon=1e-9) < 1e-12
    np.testing.assert_array_equal(tt.decrypt_decode_double(c), vals)
    assert tt.assert_equals(c, "round trip", vals) == 0.0


def test_lists_and_chain_indexes(he, tt):
    c = tt.encode_encrypt(qv.TTShape([4, 4]), [[1.0, 2.0], [3.0, 4.0]])
    assert c.get_chain_index() == 5
    np.testing.assert_array_equal(tt.decrypt_decode_double(c), [[1, 2], [3, 4]])
    assert tt.encode_encrypt(qv.TTShape([4, 4]), np.ones((2, 2)), 2).get_chain_index() == 2
    assert tt.encode(qv.TTShape([4, 4]), np.ones((2, 2)), chain_index=3).get_chain_index() == 3


@pytest.mark.parametrize("op, f, drop", [
    ("add", np.add, 0), ("add_raw", np.add, 0), ("sub", np.subtract, 0),
    ("sub_raw", np.subtract, 0), ("multiply", np.multiply, 1), ("multiply_raw", np.multiply, 0),
])
def test_element_wise_with_ciphertexts(tt, op, f, drop):
    a, b = rand(3, 5, seed=1), rand(3, 5, seed=2)
    ca = tt.encode_encrypt(qv.TTShape([4, 4]), a)
    cb = tt.encode_encrypt(qv.TTShape([4, 4]), b)
    assert getattr(ca, op)(cb) is None
    np.testing.assert_allclose(tt.decrypt_decode_double(ca), f(a, b), atol=1e-12)
    assert ca.get_chain_index() == 5 - drop
    np.testing.assert_array_equal(tt.decrypt_decode_double(cb), b)


@pytest.mark.parametrize("op, f, drop", [
    ("add_plain", np.add, 0), ("add_plain_raw", np.add, 0), ("sub_plain", np.subtract, 0),
    ("sub_plain_raw", np.subtract, 0), ("multiply_plain", np.multiply, 1),
    ("multiply_plain_raw", np.multiply, 0),
])
def test_element_wise_with_plaintexts(tt, op, f, drop):
    a, b = rand(3, 5, seed=3), rand(3, 5, seed=4)
    ca = tt.encode_encrypt(qv.TTShape([4, 4]), a)
    pb = tt.encode(qv.TTShape([4, 4]), b)
    getattr(ca, op)(pb)
    np.testing.assert_allclose(tt.decrypt_decode_double(ca), f(a, b), atol=1e-12)
    assert ca.get_chain_index() == 5 - drop
    with pytest.raises(TypeError):
        getattr(ca, op)(ca)


@pytest.mark.parametrize("operand_kind", ["cipher", "plain"])
@pytest.mark.parametrize("member, f", [
    ("add_to", np.add), ("add_to_raw", np.add), ("sub_from", lambda x, y: y - x),
    ("sub_from_raw", lambda x, y: y - x), ("multiply_to", np.multiply),
    ("multiply_to_raw", np.multiply),
])
def test_double_dispatch(tt, operand_kind, member, f):
    x, y = rand(3, 5, seed=5), rand(3, 5, seed=6)
    operand = (tt.encode_encrypt if operand_kind == "cipher" else tt.encode)(qv.TTShape([4, 4]), x)
    target = tt.encode_encrypt(qv.TTShape([4, 4]), y)
    getattr(operand, member)(target)
    np.testing.assert_allclose(tt.decrypt_decode_double(target), f(x, y), atol=1e-12)
    if operand_kind == "cipher":
        np.testing.assert_array_equal(tt.decrypt_decode_double(operand), x)
    else:
        np.testing.assert_array_equal(tt.decode_double(operand), x)
    with pytest.raises(TypeError):
        getattr(operand, member)(tt.encode(qv.TTShape([4, 4]), x))


@pytest.mark.parametrize("operand_kind", ["cipher", "plain"])
@pytest.mark.parametrize("member, f", [
    ("get_add", np.add), ("get_add_raw", np.add), ("get_multiply", np.multiply),
    ("get_multiply_raw", np.multiply),
])
def test_returning_twins_leave_both_unchanged(tt, operand_kind, member, f):
    x, y = rand(3, 5, seed=7), rand(3, 5, seed=8)
    this = (tt.encode_encrypt if operand_kind == "cipher" else tt.encode)(qv.TTShape([4, 4]), x)
    other = tt.encode_encrypt(qv.TTShape([4, 4]), y)
    res = getattr(this, member)(other)
    assert isinstance(res, qv.CTileTensor) and res is not other
    np.testing.assert_allclose(tt.decrypt_decode_double(res), f(x, y), atol=1e-12)
    np.testing.assert_array_equal(tt.decrypt_decode_double(other), y)


def test_per_tile_operations_and_chain_indexes(tt):
    a = rand(3, 5, seed=9)
    c = tt.encode_encrypt(qv.TTShape([4, 4]), a)
    steps = [
        ("square_raw", a ** 2, 5), ("relinearize_and_rescale", a ** 2, 4), ("negate", -a ** 2, 4),
        ("square", a ** 4, 3), ("relinearize", a ** 4, 3), ("rescale", a ** 4, 2),
        ("reduce_chain_index", a ** 4, 1), ("re_encrypt", a ** 4, 5),
    ]
    for member, expected, chain_index in steps:
        assert getattr(c, member)() is None
        np.testing.assert_allclose(tt.decrypt_decode_double(c), expected, atol=1e-12, err_msg=member)
        assert c.get_chain_index() == chain_index, member
    c.set_chain_index(3)
    assert c.get_chain_index() == 3
    c.set_chain_index(tt.encode_encrypt(qv.TTShape([4, 4]), a, 1))
    assert c.get_chain_index() == 1
    c.adjust_chain_index(4)
    assert c.get_chain_index() == 4
    np.testing.assert_allclose(tt.decrypt_decode_double(c), a ** 4, atol=1e-12)


def test_scalars(tt):
    a = rand(3, 5, seed=10)
    c = tt.encode_encrypt(qv.TTShape([4, 4]), a)
    c.add_scalar(2.0)
    assert c.get_shape().to_string() == "[3?/4, 5?/4]"
    np.testing.assert_allclose(tt.decrypt_decode_double(c), a + 2, atol=1e-12)
    c.clear_unknowns()
    assert c.get_shape().to_string() == "[3/4, 5/4]" and c.get_chain_index() == 4
    c.multiply_scalar(0.5)
    np.testing.assert_allclose(tt.decrypt_decode_double(c), (a + 2) / 2, atol=1e-12)
    c.add_scalar(1.0, keep_unknowns_clear=True)
    assert c.get_shape().to_string() == "[3/4, 5/4]"
    assert c.assert_integrity() < 1e-12


def test_broadcasting_duplicated_dimensions(tt):
    full, column = rand(4, 16, seed=11), rand(4, 1, seed=12)
    spread = lambda: shape_of(qv.TTDim(4, 4), qv.TTDim(16, 4))
    dup = lambda: shape_of(qv.TTDim(4, 4), qv.TTDim(1, 4, 4))
    c = tt.encode_encrypt(dup(), column)
    c.multiply(tt.encode_encrypt(spread(), full))
    assert c.get_num_used_tiles() == 4
    np.testing.assert_allclose(tt.decrypt_decode_double(c), full * column, atol=1e-12)
    d = tt.encode_encrypt(spread(), full)
    d.sub_plain(tt.encode(dup(), column))
    np.testing.assert_allclose(tt.decrypt_decode_double(d), full - column, atol=1e-12)
    with pytest.raises(ValueError, match=r"^Attempting action with an incompatible shape: \[3/4, 5/4\]$"):
        d.add(tt.encode_encrypt(qv.TTShape([4, 4]), rand(3, 5)))


def test_refusals(he, tt):
    c = tt.encode_encrypt(qv.TTShape([4, 4]), rand(3, 5))
    empty = qv.CTileTensor(he)
    with pytest.raises(RuntimeError, match="^This tile tensor has not been packed$"):
        empty.get_chain_index()
    with pytest.raises(ValueError, match="^Other has not been encoded yet$"):
        c.add(empty)
    other_he = mockup(SLOTS, 5)
    foreign = qv.TTEncoder(other_he).encode_encrypt(qv.TTShape([4, 4]), rand(3, 5))
    with pytest.raises(ValueError, match="belongs to another context"):
        c.add(foreign)
    with pytest.raises(TypeError):
        qv.TileTensor()
    with pytest.raises(TypeError):
        qv.CTileTensor(he=he, s=qv.TTShape([4, 4]))
    with pytest.raises(ValueError, match="^Cannot build a tile tensor of an incomplete shape$"):
        qv.CTileTensor(he, qv.TTShape([4, 4]))
    shaped = qv.CTileTensor(HeContext=he, s=shape_of(qv.TTDim(3, 4), qv.TTDim(5, 4)))
    assert shaped.get_estimated_memory_usage_bytes() == -1


def test_tiles_and_shapes_handed_out(he, tt):
    c = tt.encode_encrypt(qv.TTShape([4, 4]), rand(3, 5))
    t = c.get_tile_at([0, 1])
    assert type(t) is qv.CTile
    assert c.get_tile_at(np.array([0, 1], dtype=np.int32)) is t
    assert c.get_tile_by_flat_index(1) is t
    for ind in [2, -1]:
        with pytest.raises(ValueError, match=f"^Accessing tensor by an illegal flat index {ind}$"):
            c.get_tile_by_flat_index(ind)
    with pytest.raises(ValueError, match="^Accessing a tensor with too many indices: 3$"):
        c.get_tile_at([0, 0, 0])
    # The shape is a copy: changing it cannot desynchronise the tensor.
    s = c.get_shape()
    s.add_dim(2, 1)
    assert c.get_shape().to_string() == "[3/4, 5/4]"
    # A tile keeps its tensor (and the context) alive; in-place changes reach the tensor.
    t.negate()
    assert tt.decrypt_decode_double(c)[0, 4] != 0
    del c, he
    gc.collect()
    assert t.get_chain_index() == 5
    p_tile = tt.encode(qv.TTShape([16]), rand(3)).get_tile_by_flat_index(0)
    gc.collect()
    assert type(p_tile) is qv.PTile and p_tile.get_chain_index() == 5


def test_tensors_keep_their_context_alive():
    he = mockup(SLOTS, 5)
    tt = qv.TTEncoder(he)
    c = tt.encode_encrypt(qv.TTShape([4, 4]), np.ones((3, 5)))
    p = qv.PTileTensor(he)
    data = qv.EncryptedData(he)
    del he, tt
    gc.collect()
    # Printing decrypts through the context, which only the tensors hold now.
    assert "Tile tensor logical content:" in c.get_add(c).to_string()
    assert p.get_estimated_memory_usage_bytes() == -1 and data.get_num_batches() == 0


def test_copies_are_independent(tt):
    a = rand(3, 5, seed=13)
    c = tt.encode_encrypt(qv.TTShape([4, 4]), a)
    for dup in [qv.CTileTensor(c), copy.copy(c), copy.deepcopy(c), c.__deepcopy__({})]:
        dup.negate()
        np.testing.assert_array_equal(tt.decrypt_decode_double(c), a)
    with pytest.raises(TypeError):
        c.__deepcopy__(None)
    p = tt.encode(qv.TTShape([4, 4]), a, 4)
    for dup in [qv.PTileTensor(p), copy.copy(p), copy.deepcopy(p)]:
        dup.reduce_chain_index()
        assert dup.get_chain_index() == 3 and p.get_chain_index() == 4


def test_unpacked_ciphertext_tensor_prints_as_an_unpacked_plaintext_one(he):
    c, p = qv.CTileTensor(he), qv.PTileTensor(he)
    assert repr(p) == "PTileTensor [] packed=0"
    assert repr(c) == "CTileTensor [] packed=0"
    assert c.to_string(qv.VERBOSITY_DETAILED) == "C" + p.to_string(qv.VERBOSITY_DETAILED)[1:]
    assert c.to_string(qv.VERBOSITY_NONE) == ""
    shaped = qv.CTileTensor(he, shape_of(qv.TTDim(3, 4), qv.TTDim(5, 4)))
    assert repr(shaped) == "CTileTensor [3/4, 5/4] packed=0"
    # pybind11 shows the arguments of a refused call by their repr.
    with pytest.raises(TypeError) as info:
        shaped.add(1)
    assert "Invoked with: CTileTensor [3/4, 5/4] packed=0, 1" in str(info.value)


def test_plaintext_chain_indexes(he, tt):
    p = tt.encode(qv.TTShape([4, 4]), rand(3, 5), 4)
    assert p.get_reduce_chain_index().get_chain_index() == 3
    assert p.get_set_chain_index(1).get_chain_index() == 1
    assert p.get_set_chain_index(p.get_reduce_chain_index()).get_chain_index() == 3
    assert p.get_chain_index() == 4
    p.set_chain_index(tt.encode(qv.TTShape([4, 4]), rand(3, 5), 2))
    assert p.get_chain_index() == 2
    with pytest.raises(RuntimeError, match="^This tile tensor has not been packed$"):
        qv.PTileTensor(he).get_chain_index()


# The double-dispatch members: the name, the arguments after the tensor, and
# whether the member combines tiles (and so checks shapes and contexts). Both
# kinds of tensor have the first ones; the plaintext kind has the others too.
DISPATCHED = [
    ("add_to", (), True), ("add_to_raw", (), True), ("sub_from", (), True),
    ("sub_from_raw", (), True), ("multiply_to", (), True), ("multiply_to_raw", (), True),
    ("multiply_and_sum_to", (0,), True), ("set_chain_index", (), False),
    ("get_set_chain_index", (), False),
]
PLAIN_DISPATCHED = [
    ("get_multiply", (), True), ("get_multiply_raw", (), True), ("get_add", (), True),
    ("get_add_raw", (), True), ("get_multiply_and_sum", (0,), True),
]
DOUBLE_DISPATCH = [(False,) + m for m in DISPATCHED] + \
    [(True,) + m for m in DISPATCHED + PLAIN_DISPATCHED]
# Shapes and contexts are checked by the members that combine tiles.
DOUBLE_DISPATCH_REFUSALS = [
    (plain, member, extra, refusal)
    for plain, member, extra, combines in DOUBLE_DISPATCH
    for refusal in ["unpacked argument", "unpacked caller"] +
    (["mismatched shapes", "another context"] if combines else [])]


@pytest.mark.parametrize("plain, member, extra, refusal", DOUBLE_DISPATCH_REFUSALS,
                         ids=[("plaintext " if c[0] else "") + c[1] + ", " + c[3]
                              for c in DOUBLE_DISPATCH_REFUSALS])
def test_double_dispatch_refusals_name_the_operands_as_the_caller_sees_them(
        he, capfd, plain, member, extra, refusal):
    """x.add_to(y) refuses as x.add(y) would: x is this tile tensor and y the
    other, although y carries the operation out; shapes and context ids come
    in the caller's order, and neither tensor changes."""
    # A plaintext tensor takes its chain index from another plaintext tensor.
    plain_argument = plain and member.endswith("chain_index")
    kinds = (qv.PTileTensor if plain else qv.CTileTensor,
             qv.PTileTensor if plain_argument else qv.CTileTensor)
    other_he = mockup(SLOTS, 5)

    def packed(kind, values, context=he):
        encoder = qv.TTEncoder(context)
        if kind is qv.PTileTensor:
            return encoder.encode(qv.TTShape([4, 4]), values)
        return encoder.encode_encrypt(qv.TTShape([4, 4]), values)

    self, argument, kind, message = {
        "unpacked argument": (packed(kinds[0], rand(3, 5)), kinds[1](he), ValueError,
                              "Other has not been encoded yet"),
        "unpacked caller": (kinds[0](he), packed(kinds[1], rand(3, 5)), RuntimeError,
                            "This tile tensor has not been packed"),
        "mismatched shapes": (packed(kinds[0], rand(3, 5)), packed(kinds[1], rand(3, 4)),
                              ValueError,
                              "Attempting action with an incompatible shape: [3/4, 4/4]"),
        "another context": (packed(kinds[0], rand(3, 5)), packed(kinds[1], rand(3, 5), other_he),
                            ValueError,
                            "The other tile tensor belongs to another context (context id "
                            "%d, expected %d)" % (context_id(other_he), context_id(he))),
    }[refusal]
    before = [t.save_to_buffer() for t in (self, argument)]
    capfd.readouterr()
    with pytest.raises(Exception) as info:
        getattr(self, member)(argument, *extra)
    assert info.type is kind
    assert str(info.value) == message
    if refusal == "mismatched shapes":
        assert "\nIn this shape: [3/4, 5/4]\n" in capfd.readouterr().err
    assert [t.save_to_buffer() for t in (self, argument)] == before


def test_encoder_errors(he, tt, capfd):
    with pytest.raises(ValueError, match=r"^Values are of mismatched shape: received 1 dimensions, "
                                         r"expecting 2 dimensions$"):
        tt.encode(qv.TTShape([4, 4]), np.ones(3))
    with pytest.raises(ValueError, match=r"^Tile Tensor shape defines tiles with incompatible number "
                                         r"of slots \(32 slots, while 16 were expected\)$"):
        tt.encode_encrypt(qv.TTShape([4, 8]), np.ones((2, 2)))
    capfd.readouterr()
    with pytest.raises(ValueError, match="^Values are of mismatched shape: dimension 0 has size 3, "
                                         "mismatching tile tensor shape dimension$"):
        tt.encode(shape_of(qv.TTDim(4, 4), qv.TTDim(5, 4)), np.ones((3, 5)))
    assert capfd.readouterr().err.startswith("TT shape error:\n")
    with pytest.raises(RuntimeError, match="^Tile Tensor has not been encoded yet$"):
        tt.decode_double(qv.PTileTensor(he))
    with pytest.raises(ValueError, match="^Illegal chain index value 9"):
        tt.encode(qv.TTShape([16]), np.ones(3), 9)


def test_shapes_spread_over_too_many_tiles_are_refused_before_any_tile(he, tt):
    # Each interleaved dimension within 4 tiles per value, together 96 tiles for 6 values.
    s = shape_of(interleaved(3, 2, 12), interleaved(2, 8, 8))
    message = ("^Dimension 1 brings the interleaved dimensions to 96 tiles for 6 values, "
               "more than 4 tiles per value$")
    with pytest.raises(ValueError, match=message):
        tt.encode_encrypt(s, np.ones((3, 2)))
    with pytest.raises(ValueError, match=message):
        qv.CTileTensor(he, s)
    s.get_dim(1).set_interleaved_external_size(2)
    assert tt.encode_encrypt(s, np.ones((3, 2))).get_num_used_tiles() == 24


def test_assert_equals(tt, capfd):
    c = tt.encode_encrypt(qv.TTShape([16]), np.array([2.1]))
    assert tt.assert_equals(c, "close", [2.1]) == 0.0
    capfd.readouterr()
    with pytest.raises(RuntimeError, match="^Assert Equals Failed$"):
        tt.assert_equals(c, "far", np.array([2.0]), eps=1e-3)
    out = capfd.readouterr().out
    assert out.startswith("Error in checking diff:\nfar, at slot 0, expected value: ")
    with pytest.raises(RuntimeError):
        tt.assert_equals(c, "far", np.array([2.0]), 0.01, percent=True)
    assert capfd.readouterr().out.startswith("Error in checking relative diff:\n")
    # The largest absolute difference is returned, also by percent (see below).
    assert tt.assert_equals(c, "rel", [2.0], 0.05, True) == pytest.approx(0.1)
    with pytest.raises(ValueError, match="Tensors shape mismatch"):
        tt.assert_equals(tt.encode_encrypt(qv.TTShape([4, 4]), np.ones((2, 3))), "t", np.ones((3, 2)))


@pytest.mark.parametrize("decrypted, expected", [
    (np.nan, 1.0), (1.0, np.nan), (np.nan, np.nan), (np.nan, 0.0), (np.inf, np.inf)])
@pytest.mark.parametrize("percent", [False, True])
def test_assert_equals_fails_on_nan(tt, capfd, decrypted, expected, percent):
    # Element 0 agrees; a NaN difference exceeds every eps, as in DoubleTensor.assert_equals.
    c = tt.encode_encrypt(qv.TTShape([16]), np.array([0.5, decrypted]))
    with pytest.raises(RuntimeError, match="^Assert Equals Failed$"):
        tt.assert_equals(c, "values", np.array([0.5, expected]), 1e-6, percent)
    assert "values, at slot 1, " in capfd.readouterr().out
    with pytest.raises(RuntimeError, match="^Assert Equals Failed$"):
        qv.DoubleTensor(np.array([0.5, decrypted])).assert_equals(
            qv.DoubleTensor(np.array([0.5, expected])), "values", 1e-6, percent)


@pytest.mark.parametrize("decrypted, expected, eps, report", [
    (0.0, 5.0, 2.0, "(5,0), actual value: (0,0), diff: (5,0), relative-diff: 5, epsilon: 2"),
    (0.0, 0.5, 0.6, None),
    (0.0, 0.5, 0.4, "(0.5,0), actual value: (0,0), diff: (0.5,0), relative-diff: 0.5, "
                    "epsilon: 0.4"),
    (0.0, 0.0, 1e-6, None),
    (2.0, 3.0, 0.6, None),
    (2.0, 3.0, 0.4, "(3,0), actual value: (2,0), diff: (1,0), relative-diff: 0.5, epsilon: 0.4"),
])
def test_assert_equals_by_percent_agrees_with_the_tile_encoder(he, tt, capfd, decrypted, expected,
                                                               eps, report):
    """By percent the relative diff is the diff over the decrypted value, or
    the expected value where the decrypted value is 0: the tile-tensor encoder
    and the tile encoder give the same verdict, result and report."""
    c = tt.encode_encrypt(qv.TTShape([16]), np.array([0.25, decrypted]))
    tile = qv.Encoder(he).encode_encrypt(np.array([0.25, decrypted]))
    checks = [lambda: tt.assert_equals(c, "rel", np.array([0.25, expected]), eps, True),
              lambda: qv.Encoder(he).assert_equals(tile, "rel", np.array([0.25, expected]), eps,
                                                   True)]
    for check in checks:
        if report is None:
            assert check() == abs(expected - decrypted)
            continue
        capfd.readouterr()
        with pytest.raises(RuntimeError, match="^Assert Equals Failed$"):
            check()
        assert capfd.readouterr().out == ("Error in checking relative diff:\nrel, at slot 1, "
                                          "expected value: " + report + "\n")


def test_assert_equals_by_percent_fails_on_an_infinite_decrypted_value(tt):
    c = tt.encode_encrypt(qv.TTShape([16]), np.array([np.inf]))
    with pytest.raises(RuntimeError, match="^Assert Equals Failed$"):
        tt.assert_equals(c, "inf", np.array([1.0]), 1e-6, True)


COMPLEX_PACKED = "[2/2, 12(c)/8]"


@pytest.mark.parametrize("op, message", [
    (lambda c: c.square(), "Squaring is currently not supported for complex-packed dimensions"),
    (lambda c: c.square_raw(), "Squaring is currently not supported for complex-packed dimensions"),
    (lambda c: c.get_square(), "Squaring is currently not supported for complex-packed dimensions"),
    (lambda c: c.get_square_raw(),
     "Squaring is currently not supported for complex-packed dimensions"),
    (lambda c: c.multiply(c), "Attempting action with an incompatible shape: " + COMPLEX_PACKED),
])
def test_products_within_complex_packed_slots_are_refused(tt, op, message):
    # (a + bi)^2 = a^2 - b^2 + 2abi, not a^2 + b^2 i: the two values of a slot would mix.
    x = rand(2, 12, seed=3)
    c = tt.encode_encrypt(shape_of(qv.TTDim(2, 2), qv.TTDim(12, 8, is_complex_packed=True)), x, 3)
    with pytest.raises(ValueError) as info:
        op(c)
    assert str(info.value) == message
    assert str(c.get_shape()) == COMPLEX_PACKED
    assert c.get_chain_index() == 3
    np.testing.assert_array_equal(tt.decrypt_decode_double(c), x)


def test_generic_packing(tt):
    vals = rand(3, 5)
    c = tt.encode_encrypt_generic_packing(vals)
    assert c.get_shape().to_string() == "[3/4, 5/4]"
    np.testing.assert_array_equal(tt.decrypt_decode_double(c), vals)
    config = qv.GenericPackingConfig()
    config.option = qv.GenericPackingOption.BATCH_PACKING
    with pytest.raises(RuntimeError, match="must indicate a batch dimension$"):
        tt.encode_encrypt_generic_packing(vals, config)
    config.batch_dim = 0
    c = tt.encode_encrypt_generic_packing(vals, generic_packing_config=config)
    assert c.get_shape().to_string() == "[3/16, 5]"


def test_encoder_keeps_its_encoder_alive(he):
    e = qv.TTEncoder(he).get_encoder()
    gc.collect()
    assert isinstance(e, qv.Encoder)
    assert e.decrypt_decode_double(e.encode_encrypt([1.0], 2))[0] == 1.0


def test_saved_tensors(he, tt):
    c = tt.encode_encrypt(qv.TTShape([2, 8]), rand(4, 17))
    data = c.save_to_buffer()
    d = qv.CTileTensor(he)
    d.load_from_buffer(data)
    assert d.get_shape().to_string() == c.get_shape().to_string()
    np.testing.assert_array_equal(tt.decrypt_decode_double(d), tt.decrypt_decode_double(c))
    assert d.save_to_buffer() == data
    with pytest.raises(RuntimeError):
        d.load_from_buffer(data[:-4])
    assert d.save_to_buffer() == data
    p = tt.encode(qv.TTShape([4, 4]), rand(3, 5))
    q = qv.PTileTensor(he)
    q.load_from_buffer(p.save_to_buffer())
    np.testing.assert_array_equal(tt.decode_double(q), tt.decode_double(p))
    assert q.get_class_name() == "PTileTensor"


# ---- Encrypted data ----

def first_values(tt, data):
    return [tt.decrypt_decode_double(data.get_batch(i).get_item(0))[0]
            for i in range(data.get_num_batches())]


def test_encrypted_data_through_bytes(he, tt):
    saved = saved_encrypted_data(he, [[[1.0], [10.0]], [[2.0], [20.0]]])
    data = qv.EncryptedData(he)
    data.load_from_buffer(saved)
    assert data.get_num_batches() == 2
    batch = data.get_batch(1)
    assert batch.get_num_items() == 2
    assert tt.decrypt_decode_double(batch.get_item(1))[0] == 20.0
    assert batch.get_item(0) is batch.get_item(0)
    with pytest.raises(IndexError, match="^invalid vector subscript$"):
        batch.get_item(2)
    with pytest.raises(TypeError):
        batch.get_item(-1)
    with pytest.raises(RuntimeError, match="Assertion failed: i < numBatches$"):
        data.get_batch(2)
    assert data.save_to_buffer() == saved
    # Adding a data set to itself adds each batch once.
    data.add_encrypted_data(data)
    assert first_values(tt, data) == [1.0, 2.0, 1.0, 2.0]
    empty = qv.EncryptedBatch(he)
    assert empty.get_num_items() == 0


def test_encrypted_data_in_storages(he, tt, tmp_path):
    source = qv.EncryptedData(he)
    source.load_from_buffer(saved_encrypted_data(he, [[[1.0]], [[2.0]], [[3.0]]]))
    for storage in [qv.FileStorage(str(tmp_path / "store"), True),
                    qv.PythonBackedStorage(DictHandler())]:
        out = qv.EncryptedData(he)
        out.attach_output_storage(storage)
        out.add_encrypted_data(source)
        out.flush_to_storage()
        assert out.get_num_batches() == 3
        back = qv.EncryptedData(he)
        back.attach_input_storage(storage)
        assert back.get_num_batches() == 3
        assert tt.decrypt_decode_double(back.get_batch(2).get_item(0))[0] == 3.0
        merged = qv.EncryptedData(he)
        merged.add_encrypted_data(back)
        assert first_values(tt, merged) == [1.0, 2.0, 3.0]


@pytest.mark.parametrize("kind", ["file", "python"])
def test_a_data_set_in_an_output_storage_added_to_itself(he, tt, tmp_path, kind):
    """Its batches are read back from its storage, each once, and written
    after them."""
    storage = (qv.FileStorage(str(tmp_path / "store"), True) if kind == "file"
               else qv.PythonBackedStorage(DictHandler()))
    data = qv.EncryptedData(he)
    data.attach_output_storage(storage)
    data.add_encrypted_data(
        qv.load_encrypted_data(he, saved_encrypted_data(he, [[[1.0]], [[2.0]], [[3.0]]])))
    data.add_encrypted_data(data)
    assert data.get_num_batches() == 6
    data.flush_to_storage()
    back = qv.EncryptedData(he)
    back.attach_input_storage(storage)
    assert first_values(tt, back) == [1.0, 2.0, 3.0, 1.0, 2.0, 3.0]


def saved_lazy(he, shape, values, packed):
    """The saved form of a lazily encoded PTileTensor of the values: not
    packed (its tiles not made yet), or packed (woken up, with its tiles)."""
    p = qv.TTEncoder(he).encode(shape, values)
    tiles = [p.get_tile_by_flat_index(i).save_to_buffer() for i in range(p.get_num_used_tiles())]
    data = p.save_to_buffer()
    head = header("PTileTensor", context_id(he))
    assert data.startswith(head)
    body = data[len(head):len(data) - sum(map(len, tiles))]
    shape_record, flags = body[:-9], body[-9:]
    assert flags == b"\1" + struct.pack("<ii", 0, p.get_chain_index())
    raw = struct.pack("<i", values.ndim) + struct.pack("<%di" % values.ndim, *values.shape) + \
        values.astype("<f8").tobytes(order="F")
    return head + shape_record + (b"\1" if packed else b"\0") + \
        struct.pack("<ii", 1, p.get_chain_index()) + raw + (b"".join(tiles) if packed else b"")


def test_a_lazy_tensor_is_encrypted_only_once_woken_up(he, tt):
    values = np.linspace(-1, 1, 24).reshape(4, 6)
    lazy = qv.PTileTensor(he)
    lazy.load_from_buffer(saved_lazy(he, qv.TTShape([2, 8]), values, packed=False))
    np.testing.assert_array_equal(tt.decode_double(lazy), values)
    target = tt.encode_encrypt(qv.TTShape([16]), np.ones(16))
    before = target.save_to_buffer()
    for refused in (lambda: lazy.validate_packed(), lambda: tt.encrypt(target, lazy)):
        with pytest.raises(RuntimeError) as info:
            refused()
        assert str(info.value) == "This tile tensor has not been packed"
    assert target.save_to_buffer() == before

    woken = qv.PTileTensor(he)
    woken.load_from_buffer(saved_lazy(he, qv.TTShape([2, 8]), values, packed=True))
    tt.encrypt(target, woken)
    assert target.get_num_used_tiles() == 2
    np.testing.assert_allclose(tt.decrypt_decode_double(target), values, atol=1e-9)
    assert target.get_tile_at([1, 0]).get_chain_index() == woken.get_chain_index()


SEVENS = np.full((4, 6), 7.0)
SMALL = np.linspace(-1, 1, 15).reshape(3, 5)

# Operations that give a plaintext tensor tiles: what it then holds, its
# headline and its chain index.
LAZY_WRITERS = [
    ("decrypt", lambda tt, p: tt.decrypt(p, tt.encode_encrypt(qv.TTShape([2, 8]), SEVENS, 3)),
     SEVENS, "[4/2, 6/8] packed=1", 3),
    ("decrypt another shape",
     lambda tt, p: tt.decrypt(p, tt.encode_encrypt(qv.TTShape([4, 4]), SMALL, 4)),
     SMALL, "[3/4, 5/4] packed=1", 4),
    ("load a packed form",
     lambda tt, p: p.load_from_buffer(tt.encode(qv.TTShape([2, 8]), SEVENS, 3).save_to_buffer()),
     SEVENS, "[4/2, 6/8] packed=1", 3),
]


@pytest.mark.parametrize("packed", [False, True], ids=["not woken up", "woken up"])
@pytest.mark.parametrize("name, write, values, headline, chain_index", LAZY_WRITERS,
                         ids=[w[0] for w in LAZY_WRITERS])
def test_a_lazy_tensor_given_tiles_holds_them(he, tt, packed, name, write, values, headline,
                                              chain_index):
    """After an operation that writes its tiles, a lazily encoded tensor is a
    regular encoded one: it decodes and encrypts its tiles, not the raw values
    it held, and reads its chain index off them."""
    lazy = qv.PTileTensor(he)
    lazy.load_from_buffer(saved_lazy(he, qv.TTShape([2, 8]), np.zeros((4, 6)), packed))
    write(tt, lazy)
    np.testing.assert_allclose(tt.decode_double(lazy), values, atol=1e-9)
    assert lazy.to_string(qv.VERBOSITY_LOW) == "PTileTensor " + headline
    assert lazy.get_chain_index() == chain_index
    target = qv.CTileTensor(he)
    tt.encrypt(target, lazy)
    np.testing.assert_allclose(tt.decrypt_decode_double(target), values, atol=1e-9)


@pytest.mark.parametrize("packed", [False, True], ids=["not woken up", "woken up"])
def test_a_lazy_tensor_records_its_chain_index(he, tt, packed):
    """Setting the chain index of a lazy tensor keeps it lazy: it records the
    chain index for its encoding and, woken up, moves its tiles along."""
    values = np.linspace(-1, 1, 24).reshape(4, 6)
    lazy = qv.PTileTensor(he)
    lazy.load_from_buffer(saved_lazy(he, qv.TTShape([2, 8]), values, packed))
    lazy.set_chain_index(2)
    assert lazy.to_string(qv.VERBOSITY_LOW) == \
        "PTileTensor [4/2, 6/8] LAZY lazyCI=2 packed=%d" % packed
    assert lazy.get_chain_index() == 2
    np.testing.assert_array_equal(tt.decode_double(lazy), values)
    if packed:
        assert lazy.get_tile_at([1, 0]).get_chain_index() == 2
        target = qv.CTileTensor(he)
        tt.encrypt(target, lazy)
        np.testing.assert_allclose(tt.decrypt_decode_double(target), values, atol=1e-9)
        assert target.get_chain_index() == 2


@pytest.mark.parametrize("packed", [False, True], ids=["not woken up", "woken up"])
def test_a_lazy_argument_gives_its_lazy_chain_index(he, tt, packed):
    """set_chain_index(other) reads a lazy other's chain index as its own
    get_chain_index does, without looking at its tiles (tile 0 emptied here)."""
    values = np.linspace(-1, 1, 24).reshape(4, 6)
    lazy = qv.PTileTensor(he)
    lazy.load_from_buffer(saved_lazy(he, qv.TTShape([2, 8]), values, packed))
    lazy.set_chain_index(2)
    if packed:
        lazy.get_tile_by_flat_index(0).load_from_buffer(qv.PTile(he).save_to_buffer())
    assert lazy.get_chain_index() == 2
    p = tt.encode(qv.TTShape([2, 8]), values, 4)
    assert p.get_set_chain_index(lazy).get_chain_index() == 2
    p.set_chain_index(lazy)
    assert p.get_tile_at([1, 0]).get_chain_index() == 2


def test_to_device_needs_a_lazy_tensor_woken_up(he):
    lazy = qv.PTileTensor(he)
    lazy.load_from_buffer(saved_lazy(he, qv.TTShape([2, 8]), np.ones((4, 6)), False))
    with pytest.raises(RuntimeError) as info:
        lazy.to_device(qv.DeviceType.DEVICE_CPU)
    assert str(info.value) == "This tile tensor has not been packed"
    woken = qv.PTileTensor(he)
    woken.load_from_buffer(saved_lazy(he, qv.TTShape([2, 8]), np.ones((4, 6)), True))
    woken.to_device(qv.DeviceType.DEVICE_CPU)
    assert woken.get_current_device() == qv.DeviceType.DEVICE_CPU


def test_tile_access_after_encrypting_a_lazy_tensor_does_not_crash():
    """The reported sequence, in a child process: encrypting the loaded lazy
    tensor is refused, and reading a tile of the target raises instead of
    reading past its tile array."""
    result = run_python("""
        import numpy as np
        import _pyquorvanelite_cppwrappers as qv
        from helpers import mockup
        from test_tile_tensors import saved_lazy
        he = mockup(16, 5)
        lazy = qv.PTileTensor(he)
        lazy.load_from_buffer(saved_lazy(he, qv.TTShape([2, 8]), np.ones((4, 6)), packed=False))
        c = qv.CTileTensor(he)
        for step in (lambda: qv.TTEncoder(he).encrypt(c, lazy), lambda: c.get_tile_at([0, 0])):
            try:
                step()
                print("accepted")
            except (RuntimeError, ValueError) as e:
                print(type(e).__name__, e)
        """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "RuntimeError This tile tensor has not been packed",
        "ValueError Accessing a tensor with too many indices: 2"]
