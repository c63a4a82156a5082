"""Acceptance checks of tiles, the encoder and the storages: every member family
on the SEAL CKKS context as well as on the mockup, and edge cases of both."""
import copy
import os
import re

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup

SEAL_SLOTS = 1024
SEAL_DEPTH = 3
# CKKS with 2^40 scales and 2048 coefficients keeps these few operations far
# below this error.
EPS = 1e-5



@pytest.fixture(scope="module")
def seal():
    he = qv.SealCkksContext()
    he.init(qv.HeConfigRequirement.insecure(SEAL_SLOTS, SEAL_DEPTH, 40, 10))
    return he


@pytest.fixture
def senc(seal):
    return qv.Encoder(seal)


RNG = np.random.default_rng(55)
A = RNG.uniform(-1, 1, SEAL_SLOTS) + 1j * RNG.uniform(-1, 1, SEAL_SLOTS)
B = RNG.uniform(-1, 1, SEAL_SLOTS) + 1j * RNG.uniform(-1, 1, SEAL_SLOTS)
R = RNG.uniform(-1, 1, SEAL_SLOTS)


def close(actual, expected, eps=EPS):
    return np.max(np.abs(np.asarray(actual) - np.asarray(expected))) < eps


# ---- CTile members on SEAL ----

# name, call on (x, y, p), expected from (a, b), chain index change (None: the
# backend's own choice)
SEAL_MEMBERS = [
    ("add", lambda x, y, p: x.add(y), lambda a, b: a + b, 0),
    ("add_raw", lambda x, y, p: x.add_raw(y), lambda a, b: a + b, 0),
    ("sub", lambda x, y, p: x.sub(y), lambda a, b: a - b, 0),
    ("sub_raw", lambda x, y, p: x.sub_raw(y), lambda a, b: a - b, 0),
    ("multiply", lambda x, y, p: x.multiply(y), lambda a, b: a * b, -1),
    ("multiply_raw", lambda x, y, p: x.multiply_raw(y), lambda a, b: a * b, 0),
    ("add_plain", lambda x, y, p: x.add_plain(p), lambda a, b: a + b, 0),
    ("add_plain_raw", lambda x, y, p: x.add_plain_raw(p), lambda a, b: a + b, 0),
    ("sub_plain", lambda x, y, p: x.sub_plain(p), lambda a, b: a - b, 0),
    ("sub_plain_raw", lambda x, y, p: x.sub_plain_raw(p), lambda a, b: a - b, 0),
    ("multiply_plain", lambda x, y, p: x.multiply_plain(p), lambda a, b: a * b, -1),
    ("multiply_plain_raw", lambda x, y, p: x.multiply_plain_raw(p), lambda a, b: a * b, 0),
    ("add_tile CTile", lambda x, y, p: x.add_tile(y), lambda a, b: a + b, 0),
    ("add_tile PTile", lambda x, y, p: x.add_tile(p), lambda a, b: a + b, 0),
    ("add_tile_raw CTile", lambda x, y, p: x.add_tile_raw(y), lambda a, b: a + b, 0),
    ("add_tile_raw PTile", lambda x, y, p: x.add_tile_raw(p), lambda a, b: a + b, 0),
    ("sub_tile CTile", lambda x, y, p: x.sub_tile(y), lambda a, b: a - b, 0),
    ("sub_tile PTile", lambda x, y, p: x.sub_tile(p), lambda a, b: a - b, 0),
    ("sub_tile_raw CTile", lambda x, y, p: x.sub_tile_raw(y), lambda a, b: a - b, 0),
    ("sub_tile_raw PTile", lambda x, y, p: x.sub_tile_raw(p), lambda a, b: a - b, 0),
    ("multiply_tile CTile", lambda x, y, p: x.multiply_tile(y), lambda a, b: a * b, -1),
    ("multiply_tile PTile", lambda x, y, p: x.multiply_tile(p), lambda a, b: a * b, -1),
    ("multiply_tile_raw CTile", lambda x, y, p: x.multiply_tile_raw(y), lambda a, b: a * b, 0),
    ("multiply_tile_raw PTile", lambda x, y, p: x.multiply_tile_raw(p), lambda a, b: a * b, 0),
    ("square", lambda x, y, p: x.square(), lambda a, b: a * a, -1),
    ("square_raw", lambda x, y, p: x.square_raw(), lambda a, b: a * a, 0),
    ("negate", lambda x, y, p: x.negate(), lambda a, b: -a, 0),
    ("conjugate", lambda x, y, p: x.conjugate(), lambda a, b: np.conj(a), 0),
    ("conjugate_raw", lambda x, y, p: x.conjugate_raw(), lambda a, b: np.conj(a), 0),
    ("add_scalar int", lambda x, y, p: x.add_scalar(3), lambda a, b: a + 3, 0),
    ("add_scalar float", lambda x, y, p: x.add_scalar(-0.25), lambda a, b: a - 0.25, 0),
    ("add_scalar float32", lambda x, y, p: x.add_scalar(np.float32(2.5)), lambda a, b: a + 2.5, 0),
    ("multiply_scalar int", lambda x, y, p: x.multiply_scalar(-3), lambda a, b: -3 * a, None),
    ("multiply_scalar float", lambda x, y, p: x.multiply_scalar(0.5), lambda a, b: 0.5 * a, -1),
    ("multiply_scalar float32", lambda x, y, p: x.multiply_scalar(np.float32(2.5)),
     lambda a, b: 2.5 * a, -1),
    ("multiply_imaginary_unit", lambda x, y, p: x.multiply_imaginary_unit(),
     lambda a, b: 1j * a, None),
    ("nullify_imaginary_part", lambda x, y, p: x.nullify_imaginary_part(),
     lambda a, b: a.real + 0j, None),
    ("multiply_by_chainging_scale", lambda x, y, p: x.multiply_by_chainging_scale(2.5),
     lambda a, b: 2.5 * a, 0),
    ("relinearize", lambda x, y, p: x.relinearize(), lambda a, b: a, 0),
    # Rescaling a fresh ciphertext would leave a scale near 1, so follow a raw product.
    ("relinearize, rescale", lambda x, y, p: (x.multiply_raw(y), x.relinearize(), x.rescale()),
     lambda a, b: a * b, -1),
    ("rescale_raw", lambda x, y, p: (x.multiply_raw(y), x.rescale_raw()), lambda a, b: a * b,
     -1),
]


@pytest.mark.parametrize("name,op,expected,ci_change", SEAL_MEMBERS,
                         ids=[m[0] for m in SEAL_MEMBERS])
def test_seal_ctile_member_matches_numpy(seal, senc, name, op, expected, ci_change):
    x = senc.encode_encrypt(A, 2)
    y = senc.encode_encrypt(B, 2)
    p = senc.encode(B, 2)
    y_before = y.save_to_buffer()
    op(x, y, p)
    assert close(senc.decrypt_decode_complex(x), expected(A, B))
    if ci_change is not None:
        assert x.get_chain_index() == 2 + ci_change
    # The operands are unchanged.
    assert y.save_to_buffer() == y_before
    assert p.get_chain_index() == 2
    assert close(senc.decode_complex(p), B)


@pytest.mark.parametrize("n", [0, 1, -1, 5, -7, SEAL_SLOTS, -SEAL_SLOTS, 2 * SEAL_SLOTS,
                               SEAL_SLOTS + 1, -SEAL_SLOTS - 1, 3 * SEAL_SLOTS + 10,
                               -5 * SEAL_SLOTS - 3])
def test_seal_rotate_matches_numpy_roll(senc, n):
    x = senc.encode_encrypt(A)
    x.rotate(n)
    assert close(senc.decrypt_decode_complex(x), np.roll(A, -n))
    assert x.get_chain_index() == SEAL_DEPTH


def inner_sum_reference(a, rot1, rot2, reverse):
    res = a.copy()
    r = rot1
    while r < rot2:
        res = res + np.roll(res, r if reverse else -r)
        r *= 2
    return res


@pytest.mark.parametrize("rot1,rot2,reverse", [(1, 8, False), (2, 16, True), (4, 5, False),
                                               (3, 3, False), (1, SEAL_SLOTS, False)])
def test_seal_inner_sum_matches_numpy(senc, rot1, rot2, reverse):
    x = senc.encode_encrypt(R)
    x.inner_sum(rot1, rot2, reverse=reverse)
    assert close(senc.decrypt_decode_double(x), inner_sum_reference(R, rot1, rot2, reverse),
                 1e-3)


def test_seal_inner_sum_refuses_non_positive_offsets(senc):
    x = senc.encode_encrypt(R)
    for rot1, rot2 in [(0, 8), (1, 0), (-2, 8), (1, -1)]:
        with pytest.raises(ValueError) as e:
            x.inner_sum(rot1, rot2)
        assert str(e.value) == "Rotation offsets should be positive."
    assert close(senc.decrypt_decode_double(x), R)


@pytest.mark.parametrize("member", ["sum_exp_by_squaring_left_to_right",
                                    "sum_exp_by_squaring_right_to_left"])
@pytest.mark.parametrize("n", [1, 2, 3, 7, 16])
def test_seal_sums_by_squaring(senc, member, n):
    x = senc.encode_encrypt(R)
    getattr(x, member)(n)
    expected = sum(np.roll(R, -k) for k in range(n))
    assert close(senc.decrypt_decode_double(x), expected, 1e-3)


@pytest.mark.parametrize("make_copy", [qv.CTile, copy.copy, copy.deepcopy,
                                       lambda t: t.__deepcopy__({})])
def test_seal_ctile_copies_are_independent(senc, make_copy):
    x = senc.encode_encrypt(A, 2)
    c = make_copy(x)
    assert type(c) is qv.CTile and c is not x
    assert c.get_chain_index() == 2 and c.get_scale() == x.get_scale()
    assert c.save_to_buffer() == x.save_to_buffer()
    c.add_scalar(1.0)
    c.reduce_chain_index()
    assert x.get_chain_index() == 2
    assert close(senc.decrypt_decode_complex(x), A)
    assert close(senc.decrypt_decode_complex(c), A + 1)


def test_seal_get_multiply_leaves_both_operands(senc):
    x = senc.encode_encrypt(A, 3)
    y = senc.encode_encrypt(B, 2)
    saved = (x.save_to_buffer(), y.save_to_buffer())
    z = x.get_multiply(y)
    assert type(z) is qv.CTile
    assert z.get_chain_index() == 1
    assert close(senc.decrypt_decode_complex(z), A * B)
    assert (x.save_to_buffer(), y.save_to_buffer()) == saved


def test_seal_tile_queries(seal, senc):
    empty = qv.CTile(seal)
    assert empty.is_empty()
    x = senc.encode_encrypt(R)
    assert not x.is_empty()
    assert x.slot_count() == SEAL_SLOTS
    assert x.get_class_name() == "CTile"
    assert x.get_current_device() == qv.DEVICE_CPU
    assert x.to_device(qv.DEVICE_CPU) is None
    assert x.get_chain_index() == SEAL_DEPTH
    assert x.get_scale() == senc.get_default_scale(-1)
    x.reduce_chain_index()
    assert x.get_chain_index() == SEAL_DEPTH - 1
    x.set_chain_index(0)
    assert x.get_chain_index() == 0
    assert close(senc.decrypt_decode_double(x), R)
    with pytest.raises(RuntimeError) as e:
        x.reduce_chain_index()
    assert str(e.value) == "cannot set the chain index below zero, and asked to set to -1"
    with pytest.raises(RuntimeError) as e:
        x.set_chain_index(1)
    assert str(e.value) == ("can only set the chain index down the prime chain, "
                            "and asked to go from 0 to 1")
    assert x.get_chain_index() == 0
    # The scale is a label: doubling it halves the decoded values.
    y = senc.encode_encrypt(R)
    y.set_scale(2 * y.get_scale())
    assert close(senc.decrypt_decode_double(y), R / 2)


# ---- PTile members on SEAL ----

def test_seal_ptile_members(seal, senc):
    empty = qv.PTile(seal)
    assert isinstance(empty, qv.Tile) and isinstance(empty, qv.Saveable)
    assert empty.get_class_name() == "PTile"
    assert empty.is_all_zeroes()
    # An empty plaintext saves and loads back empty.
    p = senc.encode(R, 2)
    p.load_from_buffer(empty.save_to_buffer())
    assert p.save_to_buffer() == empty.save_to_buffer()
    with pytest.raises(RuntimeError) as info:
        p.get_chain_index()
    assert str(info.value) == "The plaintext is empty: nothing has been encoded into it"
    assert senc.encode(0).is_all_zeroes()
    assert senc.encode([0.0, 0.0]).is_all_zeroes()
    p = senc.encode(R, 2)
    assert not p.is_all_zeroes()
    assert p.slot_count() == SEAL_SLOTS
    assert p.get_current_device() == qv.DEVICE_CPU
    assert p.to_device(qv.DEVICE_CPU) is None
    for make_copy in [qv.PTile, copy.copy, copy.deepcopy, lambda t: t.__deepcopy__({})]:
        c = make_copy(p)
        assert type(c) is qv.PTile and c is not p
        assert (c.slot_count(), c.get_chain_index(), c.get_scale()) == \
            (p.slot_count(), p.get_chain_index(), p.get_scale())
        c.set_scale(3.0)
        c.reduce_chain_index()
        assert p.get_scale() == senc.get_default_scale(2) and p.get_chain_index() == 2
    assert close(senc.decode_double(p), R)
    p.reduce_chain_index()
    assert p.get_chain_index() == 1
    p.set_chain_index(0)
    with pytest.raises(RuntimeError) as e:
        p.reduce_chain_index()
    assert str(e.value) == "cannot set the chain index below zero, and asked to set to -1"
    assert p.get_chain_index() == 0
    assert close(senc.decode_double(p), R)


# ---- Encoder members on SEAL ----

def test_seal_encode_overloads(senc):
    cases = [
        (7, np.full(SEAL_SLOTS, 7.0)),
        (-2.5, np.full(SEAL_SLOTS, -2.5)),
        (np.float32(0.5), np.full(SEAL_SLOTS, 0.5)),
        ([1, -2, 3], np.r_[1, -2, 3, np.zeros(SEAL_SLOTS - 3)]),
        ([0.25, 1.5], np.r_[0.25, 1.5, np.zeros(SEAL_SLOTS - 2)]),
        ([1.0, 2], np.r_[1, 2, np.zeros(SEAL_SLOTS - 2)]),
        ([1 + 1j, -2j], np.r_[1 + 1j, -2j, np.zeros(SEAL_SLOTS - 2)]),
        (A, A),
    ]
    for value, expected in cases:
        p = senc.encode(value)
        assert p.get_chain_index() == SEAL_DEPTH
        assert close(senc.decode_complex(p), expected), value
    for ci in range(SEAL_DEPTH + 1):
        assert senc.encode(R, ci).get_chain_index() == ci
        assert senc.encode(1.5, chain_index=ci).get_chain_index() == ci
    ints = senc.decode_int(senc.encode([2.4, -2.5, 2.5, -7.6]))
    assert ints.dtype == np.int32 and ints.shape == (SEAL_SLOTS,)
    np.testing.assert_array_equal(ints[:5], [2, -3, 3, -8, 0])
    # Integers beyond 32 bits are refused, not wrapped.
    for big in [3e9, -3e9, 3e10]:
        with pytest.raises(OverflowError):
            senc.decode_int(senc.encode([1.0, big]))
        with pytest.raises(OverflowError):
            senc.decrypt_decode_int(senc.encode_encrypt([big]))
    d = senc.decode_double(senc.encode(R))
    assert d.dtype == np.float64 and close(d, R)
    z = senc.decode_complex(senc.encode(A))
    assert z.dtype == np.complex128 and close(z, A)


def test_seal_encryption_and_decryption_forms(seal, senc):
    for values, expected in [([3, -4], np.r_[3, -4, np.zeros(SEAL_SLOTS - 2)]),
                             (R, R), (A, A), (R.astype(np.float32), R.astype(np.float32))]:
        c = senc.encode_encrypt(values)
        assert type(c) is qv.CTile and c.get_chain_index() == SEAL_DEPTH
        assert close(senc.decrypt_decode_complex(c), expected)
    c = senc.encode_encrypt(R, 1)
    assert c.get_chain_index() == 1
    out = senc.decrypt_decode_double(c)
    assert out.dtype == np.float64 and out.shape == (SEAL_SLOTS,) and close(out, R)
    ints = senc.decrypt_decode_int(senc.encode_encrypt([5, -6, 0]))
    assert ints.dtype == np.int32
    np.testing.assert_array_equal(ints[:4], [5, -6, 0, 0])

    p = senc.encode(R, 2)
    saved = p.save_to_buffer()
    encrypted = senc.encrypt_tile(p)
    assert type(encrypted) is qv.CTile and encrypted.get_chain_index() == 2
    assert close(senc.decrypt_decode_double(encrypted), R)
    copied = senc.encrypt_tile(encrypted)
    assert copied is not encrypted
    copied.negate()
    assert close(senc.decrypt_decode_double(encrypted), R)
    assert close(senc.decrypt_decode_tile_double(copied), -R)
    assert close(senc.decrypt_decode_tile_double(p), R)
    assert p.save_to_buffer() == saved


def test_seal_encoder_refusals(senc):
    for bad in [-2, SEAL_DEPTH + 1]:
        for call in [lambda: senc.encode(1.0, bad), lambda: senc.encode_encrypt([1.0], bad),
                     lambda: senc.get_default_scale(bad)]:
            with pytest.raises(ValueError) as e:
                call()
            assert str(e.value) == f"Illegal chain index value {bad} where max={SEAL_DEPTH}"
    for call in [lambda: senc.encode(np.zeros(SEAL_SLOTS + 1)),
                 lambda: senc.encode_encrypt(np.zeros(SEAL_SLOTS + 1))]:
        with pytest.raises(ValueError) as e:
            call()
        assert str(e.value) == "values_size is too large"
    with pytest.raises(TypeError):
        senc.encrypt_tile(None)


def test_seal_encoder_settings(seal):
    first = qv.Encoder(seal)
    second = qv.Encoder(seal)
    top_scale = first.get_default_scale(-1)
    assert top_scale == first.get_default_scale(SEAL_DEPTH)
    first.set_default_scale(2.0 ** 30)
    assert first.get_default_scale(1) == 2.0 ** 30
    p = first.encode(R)
    assert p.get_scale() == 2.0 ** 30
    assert close(first.decode_double(p), R)
    assert second.encode(R).get_scale() == top_scale
    first.restore_default_scale()
    assert first.get_default_scale(-1) == top_scale
    assert first.get_default_device() == qv.DEVICE_CPU
    first.set_decrypt_added_noise_enabled(False)
    assert first.get_decrypt_added_noise_enabled() is False
    with pytest.raises(RuntimeError) as e:
        first.set_decrypt_added_noise_enabled(True)
    assert str(e.value) == "Enabling decrypt added noise not supported"
    for call in [lambda: first.set_decrypt_added_noise_precision(10),
                 first.get_decrypt_added_noise_precision]:
        with pytest.raises(RuntimeError) as e:
            call()
        assert str(e.value) == "Decrypt added noise precision not supported"


def test_seal_comparisons(senc, capfd):
    c = senc.encode_encrypt(R)
    assert senc.assert_equals(c, "t", R, 1e-5) < 1e-5
    assert senc.assert_equals(c, "t", R.tolist(), 1e-5) < 1e-5
    assert senc.assert_equals(c, "t", R[:10].astype(np.float32), 1e-5) < 1e-5
    assert senc.assert_equals(c, "t", R + 0j, eps=1e-5, percent=False) < 1e-5
    z = senc.encode_encrypt([3, -1])
    assert senc.assert_equals(z, "t", np.array([3, -1], dtype=np.int32), 1e-5) < 1e-5
    with pytest.raises(RuntimeError) as e:
        senc.assert_equals(c, "seal check", R + 0.01, 1e-5)
    assert str(e.value) == "Assert Equals Failed"
    assert capfd.readouterr().out.startswith(
        "Error in checking diff:\nseal check, at slot 0, expected value: ")
    with pytest.raises(RuntimeError) as e:
        senc.assert_equals(c, "t", np.zeros(SEAL_SLOTS + 1))
    assert str(e.value) == "Size of expected values vector is bigger than size of cipher"

    csv = senc.print_error_stats(c, R, True)
    fields = csv.split(", ")
    assert len(fields) == 3 and "\n" not in csv
    max_diff, mean, std = map(float, fields)
    assert 0 <= mean <= max_diff < 1e-5 and std >= 0
    text = senc.print_error_stats(c, R)
    lines = text.split("\n")
    assert [line[:11] for line in lines[:4]] == ["Max diff  :", "Max diff% :", "Mean diff :",
                                                 "STD diff  :"]
    assert lines[4] == ""
    with pytest.raises(ValueError):
        senc.print_error_stats(c, R[:-1])


# ---- SEAL tiles through storages and files ----

class DictHandler:
    def __init__(self):
        self.buffers = {}
        self.calls = []

    def get_buffer_for_read(self, name):
        self.calls.append(("read", name))
        return self.buffers[name]

    def on_buffer_write_open(self, name):
        self.calls.append(("open", name))

    def on_buffer_write_close(self, name, data):
        self.calls.append(("close", name))
        self.buffers[name] = data


def test_seal_tiles_through_storages(seal, senc, tmp_path):
    c = senc.encode_encrypt(A, 2)
    p = senc.encode(R, 1)
    handler = DictHandler()
    storages = [qv.PythonBackedStorage(handler), qv.FileStorage(str(tmp_path / "s"), True)]
    for storage in storages:
        storage.save(c, "c")
        storage.save(p, "p")
        lc = storage.load(seal, "c")
        lp = storage.load(seal, "p")
        assert type(lc) is qv.CTile and type(lp) is qv.PTile
        assert lc.get_chain_index() == 2 and lp.get_chain_index() == 1
        assert lc.get_scale() == c.get_scale()
        assert close(senc.decrypt_decode_complex(lc), A)
        assert close(senc.decode_double(lp), R)
    assert handler.calls == [("open", "c"), ("close", "c"), ("open", "p"), ("close", "p"),
                             ("read", "c"), ("read", "p")]
    assert handler.buffers["c"] == c.save_to_buffer()
    assert handler.buffers["c"][:4] == b"NRVQ"

    path = str(tmp_path / "tile.bin")
    written = c.save_to_file(path)
    assert written == os.path.getsize(path) == len(c.save_to_buffer())
    back = qv.CTile(seal)
    assert back.load_from_file(path) == written
    assert close(senc.decrypt_decode_complex(back), A)


def test_seal_transparent_results_keep_their_values(seal, senc):
    a = R
    b = np.flip(R)
    # Multiplying by the integer 0 leaves a transparent encryption of zero;
    # adding a plaintext to it keeps it transparent.
    x = senc.encode_encrypt(a, 2)
    x.multiply_scalar(0)
    x.add_plain(senc.encode(b, 2))
    assert close(senc.decrypt_decode_double(x), b)
    # Saving re-encrypts it without losing the plaintext's values.
    saved = qv.CTile(seal)
    saved.load_from_buffer(x.save_to_buffer())
    assert close(senc.decrypt_decode_double(saved), b)
    # So do the operations that re-encrypt transparent results.
    y = qv.CTile(x)
    y.add_plain_raw(senc.encode(a, 2))
    assert close(senc.decrypt_decode_double(y), a + b)
    z = qv.CTile(x)
    z.add(qv.CTile(x))
    assert close(senc.decrypt_decode_double(z), 2 * b)
    w = qv.CTile(x)
    w.multiply_plain(senc.encode(a, 2))
    assert close(senc.decrypt_decode_double(w), a * b)
    v = senc.encode_encrypt(a, 2)
    v.sub(v)
    assert close(senc.decrypt_decode_double(v), np.zeros(SEAL_SLOTS))


# ---- Mockup edge cases ----

SLOTS = 16


@pytest.fixture
def he():
    return mockup(SLOTS, 5)


def test_rotate_right_by_one_moves_slot_10_to_11(enc):
    values = np.arange(SLOTS, dtype=float)
    x = enc.encode_encrypt(values)
    x.rotate(-1)
    out = enc.decrypt_decode_double(x)
    assert out[11] == values[10] and out[0] == values[SLOTS - 1]
    x.rotate(1)
    x.rotate(SLOTS)
    x.rotate(0)
    np.testing.assert_array_equal(enc.decrypt_decode_double(x), values)


def test_chain_index_refusals_leave_the_tile_unchanged(enc):
    c = enc.encode_encrypt([1.0], 2)
    with pytest.raises(ValueError) as e:
        c.set_chain_index(3)
    assert str(e.value) == ("Given chain index is out of range or higher than current. "
                            "Given CI= 3 current CI= 2")
    assert c.get_chain_index() == 2
    c.reduce_chain_index()
    assert c.get_chain_index() == 1
    p = enc.encode([1.0], 2)
    with pytest.raises(ValueError) as e:
        p.set_chain_index(6)
    assert str(e.value) == ("Given chain index is out of range. Given chain index: 6, "
                            "allowed range: [0, 5]")
    with pytest.raises(ValueError):
        p.set_chain_index(-1)
    assert p.get_chain_index() == 2
    q = enc.encode([1.0], 0)
    with pytest.raises(ValueError):
        q.reduce_chain_index()
    assert q.get_chain_index() == 0


def test_encoder_starts_with_the_contexts_default_device(he):
    he.set_default_device(qv.DEVICE_GPU)
    encoder = qv.Encoder(he)
    assert encoder.get_default_device() == qv.DEVICE_GPU
    encoder.set_default_device(qv.DEVICE_CPU)
    assert encoder.get_default_device() == qv.DEVICE_CPU
    assert qv.Encoder(he).get_default_device() == qv.DEVICE_GPU


def test_saved_tiles_carry_the_module_version(enc):
    version = bytes(reversed([int(part) for part in qv.VERSION.split(".")]))
    assert qv.VERSION == "1.5.3.0"
    for tile in [enc.encode_encrypt([1.0]), enc.encode(2.0)]:
        data = tile.save_to_buffer()
        assert data[:4] == b"NRVQ"
        assert data[4:8] == version == b"\x00\x03\x05\x01"


def test_both_built_in_contexts_are_registered():
    assert qv.HeContext.is_registered_context("Mockup_Mockup")
    assert qv.HeContext.is_registered_context("SEAL_CKKS")
    for other in ["", "Mockup", "SEAL", "CKKS", "seal_ckks", "CTile"]:
        assert not qv.HeContext.is_registered_context(other)


def test_member_counts_and_order():
    def names(cls):
        # pybind11 2.13 adds _pybind11_conduit_v1_ to every class it registers.
        assert "_pybind11_conduit_v1_" in cls.__dict__
        return [k for k in cls.__dict__ if (not k.startswith("__") or
                k in ("__init__", "__copy__", "__deepcopy__")) and k != "_pybind11_conduit_v1_"]

    def overloads(cls, name):
        lines = getattr(cls, name).__doc__.splitlines()
        return sum(1 for line in lines
                   if re.match(r"^(\d+\. )?" + name + r"\(self", line))

    # Tile has no constructor: its __init__ only raises.
    assert names(qv.Tile)[1:] == ["set_scale", "get_scale", "reduce_chain_index", "set_chain_index",
                              "get_chain_index", "slot_count"]
    assert names(qv.PTile) == ["__init__", "to_device", "get_current_device", "is_all_zeroes",
                               "__copy__", "__deepcopy__"]
    ctile = names(qv.CTile)
    assert len(ctile) == 42
    assert ctile[:6] == ["__init__", "__copy__", "__deepcopy__", "conjugate", "conjugate_raw",
                         "add"]
    assert ctile[-3:] == ["to_device", "get_current_device", "is_empty"]
    assert sum(overloads(qv.CTile, n) for n in ctile) == 45
    encoder = names(qv.Encoder)
    assert len(encoder) == 22
    assert sum(overloads(qv.Encoder, n) for n in encoder) == 30


def test_decrypt_decode_tile_double_of_a_ptile_only_decodes(he, enc):
    p = enc.encode([1.5, -2.0], 3)
    c = enc.encode_encrypt([0.5], 2)
    before = p.save_to_buffer()
    he.start_operation_count_track()
    np.testing.assert_array_equal(enc.decrypt_decode_tile_double(p),
                                  np.r_[1.5, -2.0, np.zeros(SLOTS - 2)])
    assert p.save_to_buffer() == before
    assert "decrypt" not in stats(he)
    np.testing.assert_array_equal(enc.decrypt_decode_tile_double(c),
                                  np.r_[0.5, np.zeros(SLOTS - 1)])
    assert stats(he)["decrypt"] == 1


def stats(he):
    """The operation counts of the run statistics, by printed name."""
    result = {}
    for line in he.get_stats_and_clear().splitlines()[1:]:
        name, count = line.split(":")
        if int(count):
            result[name.strip()] = int(count)
    return result


def test_objects_made_from_tiles_keep_the_context_once_its_object_is_gone():
    import subprocess
    import sys
    import textwrap
    code = textwrap.dedent("""
        import copy, gc
        import _pyquorvanelite_cppwrappers as qv
        def make():
            he = qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(8, 3))
            e = qv.Encoder(he)
            return e.encode_encrypt([1.0, 2.0, 3.0], 3), e.encode([1.0], 2), he.save_to_buffer()
        src, p, saved = make()
        # An encoder of the same context loaded anew: it keeps only its own copy alive.
        enc = qv.Encoder(qv.load_he_context(saved))
        gc.collect()
        # Only the tiles keep their context now; copies must keep it too.
        made = [enc.encrypt_tile(src), qv.CTile(src), copy.copy(src), copy.deepcopy(src),
                src.get_multiply(src), qv.PTile(p), copy.copy(p), copy.deepcopy(p),
                enc.encrypt_tile(p)]
        del src, p
        gc.collect()
        # Contexts of another size would take over freed memory.
        others = [qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(32, 1))
                  for _ in range(50)]
        made[0].rotate(1)
        made[1].add(made[2])
        print(*[t.slot_count() for t in made], *[t.get_chain_index() for t in made])
    """)
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                            timeout=60, env=dict(os.environ))
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["8"] * 9 + ["3"] * 4 + ["2"] * 4 + ["2"]
