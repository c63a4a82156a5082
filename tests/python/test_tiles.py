import copy
import os
import subprocess
import sys

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup, run_python

SLOTS = 16
DEPTH = 5


@pytest.fixture
def he():
    return mockup(SLOTS, DEPTH)


RNG = np.random.default_rng(7)
X = RNG.uniform(-2, 2, SLOTS)
Y = RNG.uniform(-2, 2, SLOTS)
XC = X + 1j * RNG.uniform(-1, 1, SLOTS)
YC = Y - 1j * RNG.uniform(-1, 1, SLOTS)


def stats_lines(he):
    """The run statistics as {printed name: count}."""
    text = he.get_stats_and_clear()
    lines = text.splitlines()
    assert lines[0] == "Run stats"
    result = {}
    for line in lines[1:]:
        name, count = line.split(":")
        result[name.strip()] = int(count)
    return result


# ---- Round trips ----

@pytest.mark.parametrize("values", [X, XC, X[:5], XC[:3], np.zeros(SLOTS)])
def test_round_trip_matches_numpy(enc, values):
    c = enc.encode_encrypt(values)
    expected = np.zeros(SLOTS, dtype=complex)
    expected[:len(values)] = values
    np.testing.assert_allclose(enc.decrypt_decode_complex(c), expected, atol=1e-12)
    np.testing.assert_allclose(enc.decrypt_decode_double(c), expected.real, atol=1e-12)
    assert c.get_chain_index() == DEPTH
    assert c.slot_count() == SLOTS
    assert not c.is_empty()


# ---- Arithmetic members against numpy ----

# member, call on (x, y, p, enc), expected value from (x, y, p), chain index change
ARITHMETIC = [
    ("add", lambda x, y, p, e: x.add(y), lambda a, b, q: a + b, 0),
    ("add_raw", lambda x, y, p, e: x.add_raw(y), lambda a, b, q: a + b, 0),
    ("sub", lambda x, y, p, e: x.sub(y), lambda a, b, q: a - b, 0),
    ("sub_raw", lambda x, y, p, e: x.sub_raw(y), lambda a, b, q: a - b, 0),
    ("multiply", lambda x, y, p, e: x.multiply(y), lambda a, b, q: a * b, -1),
    ("multiply_raw", lambda x, y, p, e: x.multiply_raw(y), lambda a, b, q: a * b, 0),
    ("add_plain", lambda x, y, p, e: x.add_plain(p), lambda a, b, q: a + q, 0),
    ("add_plain_raw", lambda x, y, p, e: x.add_plain_raw(p), lambda a, b, q: a + q, 0),
    ("sub_plain", lambda x, y, p, e: x.sub_plain(p), lambda a, b, q: a - q, 0),
    ("sub_plain_raw", lambda x, y, p, e: x.sub_plain_raw(p), lambda a, b, q: a - q, 0),
    ("multiply_plain", lambda x, y, p, e: x.multiply_plain(p), lambda a, b, q: a * q, -1),
    ("multiply_plain_raw", lambda x, y, p, e: x.multiply_plain_raw(p), lambda a, b, q: a * q, 0),
    ("add_tile CTile", lambda x, y, p, e: x.add_tile(y), lambda a, b, q: a + b, 0),
    ("add_tile PTile", lambda x, y, p, e: x.add_tile(p), lambda a, b, q: a + q, 0),
    ("add_tile_raw", lambda x, y, p, e: x.add_tile_raw(p), lambda a, b, q: a + q, 0),
    ("sub_tile CTile", lambda x, y, p, e: x.sub_tile(y), lambda a, b, q: a - b, 0),
    ("sub_tile_raw PTile", lambda x, y, p, e: x.sub_tile_raw(p), lambda a, b, q: a - q, 0),
    ("multiply_tile CTile", lambda x, y, p, e: x.multiply_tile(y), lambda a, b, q: a * b, -1),
    ("multiply_tile PTile", lambda x, y, p, e: x.multiply_tile(p), lambda a, b, q: a * q, -1),
    ("multiply_tile_raw", lambda x, y, p, e: x.multiply_tile_raw(y), lambda a, b, q: a * b, 0),
    ("square", lambda x, y, p, e: x.square(), lambda a, b, q: a * a, -1),
    ("square_raw", lambda x, y, p, e: x.square_raw(), lambda a, b, q: a * a, 0),
    ("negate", lambda x, y, p, e: x.negate(), lambda a, b, q: -a, 0),
    ("conjugate", lambda x, y, p, e: x.conjugate(), lambda a, b, q: np.conj(a), 0),
    ("conjugate_raw", lambda x, y, p, e: x.conjugate_raw(), lambda a, b, q: np.conj(a), 0),
    ("add_scalar int", lambda x, y, p, e: x.add_scalar(3), lambda a, b, q: a + 3, 0),
    ("add_scalar float", lambda x, y, p, e: x.add_scalar(-0.75), lambda a, b, q: a - 0.75, 0),
    ("multiply_scalar int", lambda x, y, p, e: x.multiply_scalar(-4), lambda a, b, q: -4 * a, 0),
    ("multiply_scalar float", lambda x, y, p, e: x.multiply_scalar(1.5), lambda a, b, q: 1.5 * a,
     -1),
    ("multiply_imaginary_unit", lambda x, y, p, e: x.multiply_imaginary_unit(),
     lambda a, b, q: 1j * a, -1),
    ("nullify_imaginary_part", lambda x, y, p, e: x.nullify_imaginary_part(),
     lambda a, b, q: a.real + 0j, -1),
    ("multiply_by_chainging_scale", lambda x, y, p, e: x.multiply_by_chainging_scale(2.5),
     lambda a, b, q: 2.5 * a, 0),
    ("relinearize", lambda x, y, p, e: x.relinearize(), lambda a, b, q: a, 0),
    ("rescale", lambda x, y, p, e: x.rescale(), lambda a, b, q: a, -1),
    ("rescale_raw", lambda x, y, p, e: x.rescale_raw(), lambda a, b, q: a, -1),
]


@pytest.mark.parametrize("name,op,expected,ci_change", ARITHMETIC, ids=[a[0] for a in ARITHMETIC])
def test_arithmetic_member_matches_numpy(enc, name, op, expected, ci_change):
    x = enc.encode_encrypt(XC, 4)
    y = enc.encode_encrypt(YC, 4)
    p = enc.encode(Y[::-1].tolist(), 4)
    op(x, y, p, enc)
    np.testing.assert_allclose(enc.decrypt_decode_complex(x), expected(XC, YC, Y[::-1]),
                               atol=1e-12)
    assert x.get_chain_index() == 4 + ci_change
    # The operands are never changed.
    np.testing.assert_allclose(enc.decrypt_decode_complex(y), YC, atol=0)
    assert y.get_chain_index() == 4
    np.testing.assert_allclose(enc.decode_double(p), Y[::-1], atol=0)


def test_get_multiply_returns_a_new_tile(enc):
    x = enc.encode_encrypt(XC, 3)
    y = enc.encode_encrypt(YC, 5)
    product = x.get_multiply(y)
    assert type(product) is qv.CTile
    np.testing.assert_allclose(enc.decrypt_decode_complex(product), XC * YC, atol=1e-12)
    assert product.get_chain_index() == 2
    np.testing.assert_allclose(enc.decrypt_decode_complex(x), XC, atol=0)
    assert (x.get_chain_index(), y.get_chain_index()) == (3, 5)


def test_operands_at_different_chain_indexes_are_aligned(enc):
    x = enc.encode_encrypt(X, 5)
    y = enc.encode_encrypt(Y, 3)
    x.add(y)
    assert x.get_chain_index() == 3 and y.get_chain_index() == 3
    z = enc.encode_encrypt(X, 1)
    z.add(y)
    assert z.get_chain_index() == 1 and y.get_chain_index() == 3
    np.testing.assert_allclose(enc.decrypt_decode_double(z), X + Y, atol=1e-12)


def test_plaintext_at_lower_chain_index_is_reencoded(enc):
    x = enc.encode_encrypt(XC, 4)
    p = enc.encode(YC.tolist(), 1)
    p.set_scale(7.0)
    x.add_plain(p)
    assert x.get_chain_index() == 4
    assert p.get_chain_index() == 1 and p.get_scale() == 7.0
    np.testing.assert_allclose(enc.decrypt_decode_complex(x), XC + YC, atol=1e-12)


# ---- Rotations and sums against numpy.roll ----

@pytest.mark.parametrize("n", [0, 1, -1, 5, -5, 15, -15, SLOTS, -SLOTS, SLOTS + 3, -SLOTS - 3,
                               3 * SLOTS + 7, -5 * SLOTS - 2, 1000, -1001])
def test_rotate_matches_numpy_roll(he, enc, n):
    x = enc.encode_encrypt(XC)
    he.start_operation_count_track()
    x.rotate(n)
    np.testing.assert_allclose(enc.decrypt_decode_complex(x), np.roll(XC, -n), atol=0)
    counts = stats_lines(he)
    assert counts.get("rotate", 0) == (0 if n % SLOTS == 0 else 1)
    assert x.get_chain_index() == DEPTH


def rotate_left(v, r):
    return np.roll(v, -r)


def inner_sum_reference(v, rot1, rot2, reverse):
    r = rot1
    while r < rot2:
        v = v + rotate_left(v, -r if reverse else r)
        r *= 2
    return v


@pytest.mark.parametrize("rot1,rot2,reverse", [
    (1, SLOTS, False), (1, SLOTS, True), (2, 8, False), (1, 1, False), (3, 20, False),
    (1, 4 * SLOTS, False), (SLOTS + 1, 3 * SLOTS, True), (5, 6, True)])
def test_inner_sum_matches_numpy_roll(enc, rot1, rot2, reverse):
    x = enc.encode_encrypt(XC)
    x.inner_sum(rot1, rot2, reverse)
    np.testing.assert_allclose(enc.decrypt_decode_complex(x),
                               inner_sum_reference(XC, rot1, rot2, reverse), atol=1e-12)


def test_inner_sum_reverse_defaults_to_false_and_takes_a_keyword(enc):
    a = enc.encode_encrypt(X)
    b = enc.encode_encrypt(X)
    c = enc.encode_encrypt(X)
    a.inner_sum(1, 8)
    b.inner_sum(1, 8, reverse=False)
    c.inner_sum(rot1=1, rot2=8, reverse=True)
    np.testing.assert_array_equal(enc.decrypt_decode_double(a), enc.decrypt_decode_double(b))
    np.testing.assert_allclose(enc.decrypt_decode_double(c), inner_sum_reference(X, 1, 8, True),
                               atol=1e-12)


@pytest.mark.parametrize("member", ["sum_exp_by_squaring_left_to_right",
                                    "sum_exp_by_squaring_right_to_left"])
@pytest.mark.parametrize("n", [1, 2, 3, 5, 7, 13, SLOTS, SLOTS + 5, 3 * SLOTS - 1])
def test_sums_by_squaring_match_numpy_roll(enc, member, n):
    x = enc.encode_encrypt(XC)
    getattr(x, member)(n)
    expected = sum(rotate_left(XC, k) for k in range(n))
    np.testing.assert_allclose(enc.decrypt_decode_complex(x), expected, atol=1e-11)


# ---- Chain indexes and exact counts ----

def test_chain_indexes_and_counts_of_a_computation(he, enc):
    x = enc.encode_encrypt(X, 5)
    y = enc.encode_encrypt(Y, 3)
    p = enc.encode(Y.tolist(), 2)
    he.start_operation_count_track()
    x.multiply(y)          # x lowered to 3 in place, product at 3 -> 2
    assert x.get_chain_index() == 2
    x.add(y)               # a copy of y lowered to 2
    x.multiply_plain(p)    # 2 -> 1
    x.rotate(SLOTS + 2)
    x.multiply_scalar(3)   # integer: same chain index
    assert x.get_chain_index() == 1
    assert stats_lines(he) == {"copy": 1, "add": 1, "relinearize": 1, "rotate": 1,
                               "multiply": 1, "multiplyPlain": 2, "rescale": 2}
    np.testing.assert_allclose(enc.decrypt_decode_double(x),
                               3 * np.roll((X * Y + Y) * Y, -2), atol=1e-12)


def test_chain_index_members(enc):
    x = enc.encode_encrypt(X, 3)
    x.reduce_chain_index()
    assert x.get_chain_index() == 2
    x.set_chain_index(0)
    assert x.get_chain_index() == 0
    with pytest.raises(ValueError) as e:
        x.reduce_chain_index()
    assert str(e.value) == ("Given chain index is out of range or higher than current. "
                            "Given CI= -1 current CI= 0")
    with pytest.raises(ValueError) as e:
        x.set_chain_index(2)
    assert str(e.value) == ("Given chain index is out of range or higher than current. "
                            "Given CI= 2 current CI= 0")
    assert x.get_chain_index() == 0
    p = enc.encode(1.0, 2)
    p.set_chain_index(5)
    assert p.get_chain_index() == 5
    with pytest.raises(ValueError) as e:
        p.set_chain_index(6)
    assert str(e.value) == ("Given chain index is out of range. Given chain index: 6, "
                            "allowed range: [0, 5]")


def test_multiply_at_chain_index_zero_fails_in_the_rescale(enc):
    x = enc.encode_encrypt(X, 0)
    y = enc.encode_encrypt(Y, 0)
    with pytest.raises(ValueError) as e:
        x.multiply(y)
    assert str(e.value) == ("Given chain index is out of range or higher than current. "
                            "Given CI= -1 current CI= 0")


def test_scales(enc):
    x = enc.encode_encrypt(X)
    assert x.get_scale() == 1.0
    x.set_scale(4.0)
    assert x.get_scale() == 4.0
    x.multiply_by_chainging_scale(2.0)
    assert x.get_scale() == 4.0
    np.testing.assert_allclose(enc.decrypt_decode_double(x), 2 * X, atol=1e-12)


# ---- Scalar overloads never truncate ----

@pytest.mark.parametrize("scalar,factor,ci_change", [
    (2, 2, 0), (True, 1, 0), (np.int64(3), 3, 0), (np.int32(-2), -2, 0),
    (2.0, 2.0, -1), (np.float32(2.5), 2.5, -1), (np.float64(-0.5), -0.5, -1),
    (2 ** 40, 2.0 ** 40, -1)])
def test_multiply_scalar_overloads(enc, scalar, factor, ci_change):
    x = enc.encode_encrypt(X, 4)
    x.multiply_scalar(scalar)
    np.testing.assert_allclose(enc.decrypt_decode_double(x), factor * X, rtol=1e-15)
    assert x.get_chain_index() == 4 + ci_change


@pytest.mark.parametrize("scalar,term", [
    (1, 1), (1.0, 1.0), (np.float32(2.5), 2.5), (np.int64(-7), -7), (2 ** 40, 2.0 ** 40)])
def test_add_scalar_overloads(enc, scalar, term):
    x = enc.encode_encrypt(X, 4)
    x.add_scalar(scalar)
    np.testing.assert_allclose(enc.decrypt_decode_double(x), X + term, rtol=1e-15)
    assert x.get_chain_index() == 4


def test_scalar_overload_order_in_docstrings():
    add_doc = qv.CTile.add_scalar.__doc__
    assert add_doc.index("scalar: float") < add_doc.index("scalar: int")
    mul_doc = qv.CTile.multiply_scalar.__doc__
    assert mul_doc.index("scalar: int") < mul_doc.index("scalar: float")


@pytest.mark.parametrize("bad", ["2", None, 1j, [2]])
def test_scalar_members_refuse_non_numbers(enc, bad):
    x = enc.encode_encrypt(X)
    with pytest.raises(TypeError):
        x.multiply_scalar(bad)
    with pytest.raises(TypeError):
        x.add_scalar(bad)


# ---- Copies ----

@pytest.mark.parametrize("make_copy", [
    lambda t: qv.CTile(t), copy.copy, copy.deepcopy, lambda t: t.__deepcopy__({})])
def test_ctile_copies_are_independent(enc, make_copy):
    x = enc.encode_encrypt(XC, 3)
    x.set_scale(2.0)
    c = make_copy(x)
    assert type(c) is qv.CTile and c is not x
    assert c.get_chain_index() == 3 and c.get_scale() == 2.0
    np.testing.assert_array_equal(enc.decrypt_decode_complex(c), enc.decrypt_decode_complex(x))
    c.add_scalar(1.0)
    c.set_scale(5.0)
    c.reduce_chain_index()
    np.testing.assert_allclose(enc.decrypt_decode_complex(x), XC, atol=0)
    assert x.get_chain_index() == 3 and x.get_scale() == 2.0


@pytest.mark.parametrize("make_copy", [
    lambda t: qv.PTile(t), copy.copy, copy.deepcopy])
def test_ptile_copies_are_independent(enc, make_copy):
    p = enc.encode(XC.tolist(), 2)
    c = make_copy(p)
    assert type(c) is qv.PTile and c is not p
    assert (c.slot_count(), c.get_chain_index(), c.get_scale()) == (SLOTS, 2, 1.0)
    c.set_scale(3.0)
    c.set_chain_index(4)
    assert p.get_scale() == 1.0 and p.get_chain_index() == 2
    np.testing.assert_array_equal(enc.decode_complex(c), enc.decode_complex(p))


# ---- Classes, constructors and argument errors ----

def test_classes_and_empty_tiles(he):
    c = qv.CTile(he)
    p = qv.PTile(he)
    assert c.is_empty()
    assert isinstance(c, qv.Tile) and isinstance(c, qv.Saveable)
    assert isinstance(p, qv.Tile) and isinstance(p, qv.Saveable)
    assert c.get_class_name() == "CTile" and p.get_class_name() == "PTile"
    assert c.get_current_device() == qv.DEVICE_CPU
    assert p.get_current_device() == qv.DEVICE_CPU
    assert type(p.get_current_device()) is qv.DeviceType
    assert c.to_device(qv.DEVICE_CPU) is None
    assert p.to_device(qv.DEVICE_CPU) is None
    with pytest.raises(TypeError, match="No constructor defined"):
        qv.Tile()
    with pytest.raises(RuntimeError) as e:
        p.is_all_zeroes()
    assert str(e.value) == "not implemented"


@pytest.mark.parametrize("call", [
    lambda he, c, p: qv.CTile(p),
    lambda he, c, p: qv.PTile(c),
    lambda he, c, p: qv.CTile(None),
    lambda he, c, p: qv.PTile(None),
    lambda he, c, p: c.add(p),
    lambda he, c, p: c.add(None),
    lambda he, c, p: c.add_plain(c),
    lambda he, c, p: c.add_tile(3),
    lambda he, c, p: c.add_tile(None),
    lambda he, c, p: c.__deepcopy__(None),
    lambda he, c, p: p.__deepcopy__(None),
    lambda he, c, p: c.rotate(1.5),
    lambda he, c, p: c.rotate(np.float32(1)),
    lambda he, c, p: c.rotate(2 ** 40),
    lambda he, c, p: c.rotate("1"),
    lambda he, c, p: c.inner_sum(1.0, 8),
    lambda he, c, p: c.inner_sum(1),
    lambda he, c, p: c.to_device(None),
    lambda he, c, p: c.to_device(0),
    lambda he, c, p: c.set_chain_index(1.0),
    lambda he, c, p: p.set_scale("2"),
])
def test_wrong_argument_types_raise_type_error(he, enc, call):
    c = enc.encode_encrypt(X)
    p = enc.encode(1.0)
    with pytest.raises(TypeError):
        call(he, c, p)


def test_inner_sum_refuses_non_positive_offsets(enc):
    x = enc.encode_encrypt(X)
    for rot1, rot2 in [(0, 8), (1, 0), (-1, 4)]:
        with pytest.raises(ValueError) as e:
            x.inner_sum(rot1, rot2)
        assert str(e.value) == "Rotation offsets should be positive."


# ---- Saving and loading ----

def test_save_and_load_through_bytes(he, enc):
    x = enc.encode_encrypt(XC, 3)
    data = x.save_to_buffer()
    assert isinstance(data, bytes)
    assert len(data) == 17 + len("CTile") + 8 + 16 * SLOTS + 4
    y = qv.CTile(he)
    y.load_from_buffer(data)
    assert y.get_chain_index() == 3
    np.testing.assert_array_equal(enc.decrypt_decode_complex(y), XC)
    assert y.save_to_buffer() == data

    p = enc.encode(X.tolist(), 2)
    q = qv.PTile(he)
    q.load_from_buffer(p.save_to_buffer())
    np.testing.assert_array_equal(enc.decode_double(q), X)


def test_empty_tiles_load_back_empty(he, enc):
    """A tile made from the context and never filled saves, and loads back empty."""
    empty = qv.CTile(he).save_to_buffer()
    assert len(empty) == 17 + len("CTile") + 8 + 4
    c = enc.encode_encrypt(X, 3)
    c.load_from_buffer(empty)
    assert c.is_empty()
    assert c.save_to_buffer() == empty
    p = enc.encode(X.tolist(), 2)
    p.load_from_buffer(qv.PTile(he).save_to_buffer())
    assert p.save_to_buffer() == qv.PTile(he).save_to_buffer()
    assert p.get_chain_index() == -1

    # A tile tensor's tiles hold values: one whose tile was emptied is not saved.
    tt = qv.TTEncoder(he)
    tensor = tt.encode_encrypt(qv.TTShape([SLOTS // 2, 2]), np.ones((SLOTS, 2)))
    tensor.get_tile_by_flat_index(1).load_from_buffer(empty)
    assert tensor.get_tile_by_flat_index(1).is_empty()
    with pytest.raises(RuntimeError) as info:
        tensor.save_to_buffer()
    assert str(info.value) == "Tile 1 of this tile tensor is empty: it holds no values"


def test_ptile_loads_under_another_context_but_ctile_does_not(he, enc):
    other = mockup(SLOTS, DEPTH)
    assert other.get_context_id() != he.get_context_id()
    p = qv.PTile(other)
    p.load_from_buffer(enc.encode(X.tolist()).save_to_buffer())
    np.testing.assert_array_equal(qv.Encoder(other).decode_double(p), X)
    c = qv.CTile(other)
    with pytest.raises(RuntimeError):
        c.load_from_buffer(enc.encode_encrypt(X).save_to_buffer())
    with pytest.raises(RuntimeError):
        qv.PTile(he).load_from_buffer(enc.encode_encrypt(X).save_to_buffer())
    with pytest.raises(TypeError):
        qv.CTile(he).load_from_buffer(bytearray(enc.encode_encrypt(X).save_to_buffer()))


def test_save_and_load_through_files(he, enc, tmp_path):
    x = enc.encode_encrypt(XC, 2)
    path = str(tmp_path / "tile.bin")
    written = x.save_to_file(path)
    assert written == len(x.save_to_buffer()) == os.path.getsize(path)
    y = qv.CTile(he)
    assert y.load_from_file(path) == written
    np.testing.assert_array_equal(enc.decrypt_decode_complex(y), XC)


# ---- Lifetimes ----

def test_tiles_and_encoders_keep_their_context_alive():
    result = run_python("""
        import gc
        import numpy as np
        import _pyquorvanelite_cppwrappers as qv
        def make():
            he = qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(8, 4))
            enc = qv.Encoder(he)
            c = enc.encode_encrypt([1.0, 2.0, 3.0])
            p = enc.encode([2.0, 2.0])
            return enc, c, p, qv.CTile(he), qv.PTile(he)
        enc, c, p, empty_c, empty_p = make()
        gc.collect()
        # Contexts of another size would take over freed memory.
        others = [qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(32, 2))
                  for _ in range(50)]
        copies = [qv.CTile(c), c.__copy__(), c.get_multiply(c), enc.encrypt_tile(p),
                  qv.PTile(p)]
        del enc
        gc.collect()
        d = copies[1]
        del c, copies[0], copies[1]
        gc.collect()
        d.multiply_plain(p)
        d.rotate(1)
        store = {}
        class Handler:
            def get_buffer_for_read(self, name): return store[name]
            def on_buffer_write_open(self, name): pass
            def on_buffer_write_close(self, name, data): store[name] = data
        s = qv.PythonBackedStorage(Handler())
        s.save(p, "p")
        he2 = qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(8, 4))
        loaded = s.load(he2, "p")
        # A ciphertext of the loaded plaintext's own context, to compute with it.
        d2 = qv.Encoder(he2).encode_encrypt([1.0, 2.0, 3.0], 3)
        del he2, s
        gc.collect()
        loaded.set_scale(2.0)
        d2.add_plain(loaded)
        enc2 = qv.Encoder(
            qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(8, 4)))
        gc.collect()
        fresh = enc2.encode_encrypt([1.0])
        print(enc2.get_default_scale(-1), empty_c.is_empty(), empty_p.slot_count(),
              d.get_chain_index(), loaded.get_chain_index(), fresh.get_chain_index(),
              d2.get_chain_index())
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["1.0", "True", "8", "3", "4", "4", "3"]


@pytest.mark.parametrize("cls,member,args", [
    (qv.CTile, "negate", ()), (qv.CTile, "square", ()), (qv.CTile, "is_empty", ()),
    (qv.CTile, "get_current_device", ()), (qv.CTile, "rotate", (1,)),
    (qv.PTile, "is_all_zeroes", ()), (qv.PTile, "get_current_device", ()),
    (qv.Tile, "get_chain_index", ()), (qv.Tile, "slot_count", ()), (qv.Tile, "get_scale", ()),
    (qv.Encoder, "restore_default_scale", ()), (qv.Encoder, "get_default_device", ()),
    (qv.Storage, "save", (None, "x"))])
def test_members_called_through_the_class_refuse_none_as_self(cls, member, args):
    with pytest.raises(TypeError):
        getattr(cls, member)(None, *args)


def test_signatures_name_the_bound_classes():
    assert qv.CTile.to_device.__doc__.startswith(
        "to_device(self: _pyquorvanelite_cppwrappers.CTile, "
        "device: _pyquorvanelite_cppwrappers.DeviceType) -> None")
    assert qv.CTile.get_multiply.__doc__.startswith(
        "get_multiply(self: _pyquorvanelite_cppwrappers.CTile, "
        "other: _pyquorvanelite_cppwrappers.CTile) -> _pyquorvanelite_cppwrappers.CTile")
    assert qv.CTile.inner_sum.__doc__.startswith(
        "inner_sum(self: _pyquorvanelite_cppwrappers.CTile, rot1: int, rot2: int, "
        "reverse: bool = False) -> None")
    assert qv.PTile.__init__.__doc__.count("_pyquorvanelite_cppwrappers.HeContext") == 1
    assert qv.Tile.set_chain_index.__doc__.startswith(
        "set_chain_index(self: _pyquorvanelite_cppwrappers.Tile, chain_index: int) -> None")


def test_demo_prints_results_that_match_numpy():
    demo = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "demo.py")
    result = subprocess.run([sys.executable, demo], capture_output=True, text=True, timeout=60,
                            cwd=os.path.dirname(demo))
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == "quorvane version " + qv.VERSION
    table = lines[lines.index(next(l for l in lines if l.startswith("computation"))) + 1:]
    errors = [float(l.split()[-1]) for l in table[:6]]
    assert len(errors) == 6 and max(errors) < 1e-12
    assert "loaded back equal: True" in result.stdout
    assert "multiply       :    2" in result.stdout
    # The tile tensor computation, on the mockup and on SEAL.
    tensor_errors = [float(l.split()[-1]) for l in lines if l.startswith("(M * c + M) / 2:")]
    assert len(tensor_errors) == 2 and tensor_errors[0] < 1e-12 and tensor_errors[1] < 1e-4
