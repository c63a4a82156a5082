"""Computing on SEAL CKKS ciphertexts through tiles, checked against numpy."""
import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv


SLOTS = 1024
DEPTH = 3
FRAC = 40
INT_BITS = 10
# CKKS noise at scale 2^FRAC with 2048 coefficients stays near 2^13 units of
# 2^-FRAC through these few operations.
BOUND = 2.0 ** -(FRAC - 20)


def make_context(accurate=True, rotate=None, steps=None, conjugate=None, relinearize=True):
    req = qv.HeConfigRequirement.insecure(SLOTS, DEPTH, FRAC, INT_BITS)
    pf = req.public_functions
    pf.relinearize = relinearize
    if rotate is not None:
        pf.rotate = rotate
    if steps is not None:
        pf.set_rotation_steps(np.array(steps))
    if conjugate is not None:
        pf.conjugate = conjugate
    req.public_functions = pf
    he = qv.SealCkksContext()
    he.set_use_accurate_scaling(accurate)
    he.init(req)
    return he


@pytest.fixture(scope="module")
def accurate():
    return make_context()


@pytest.fixture(scope="module")
def plain_scaling():
    return make_context(accurate=False)


@pytest.fixture(scope="module", params=["accurate", "plain"])
def he(request, accurate, plain_scaling):
    return accurate if request.param == "accurate" else plain_scaling


def values(seed, complex_values=False):
    rng = np.random.default_rng(seed)
    res = rng.uniform(-1, 1, SLOTS)
    if complex_values:
        res = res + 1j * rng.uniform(-1, 1, SLOTS)
    return res


def expected_scale(he, chain_index):
    if he.get_use_accurate_scaling():
        return he.get_accurate_scale(chain_index)
    return 2.0 ** FRAC


def test_round_trips_at_every_chain_index(he):
    enc = qv.Encoder(he)
    real = values(1)
    cplx = values(2, True)
    for ci in range(DEPTH + 1):
        c = enc.encode_encrypt(real, ci)
        assert c.get_chain_index() == ci
        assert c.get_scale() == expected_scale(he, ci)
        assert np.max(np.abs(enc.decrypt_decode_double(c) - real)) < BOUND
        z = enc.encode_encrypt(cplx, ci)
        assert np.max(np.abs(enc.decrypt_decode_complex(z) - cplx)) < BOUND
        p = enc.encode(real, ci)
        assert p.get_chain_index() == ci
        assert np.max(np.abs(enc.decode_double(p) - real)) < BOUND
    short = enc.decrypt_decode_double(enc.encode_encrypt([0.5, -0.25]))
    assert short.shape == (SLOTS,)
    assert np.max(np.abs(short - np.r_[0.5, -0.25, np.zeros(SLOTS - 2)])) < BOUND


ARITHMETIC = [
    # name, operation on (x, y, p), expected from (a, b), chain indexes consumed
    ("add", lambda x, y, p: x.add(y), lambda a, b: a + b, 0),
    ("sub", lambda x, y, p: x.sub(y), lambda a, b: a - b, 0),
    ("multiply", lambda x, y, p: x.multiply(y), lambda a, b: a * b, 1),
    ("multiply_raw", lambda x, y, p: (x.multiply_raw(y), x.relinearize(), x.rescale()),
     lambda a, b: a * b, 1),
    ("square", lambda x, y, p: x.square(), lambda a, b: a * a, 1),
    ("add_plain", lambda x, y, p: x.add_plain(p), lambda a, b: a + b, 0),
    ("sub_plain", lambda x, y, p: x.sub_plain(p), lambda a, b: a - b, 0),
    ("multiply_plain", lambda x, y, p: x.multiply_plain(p), lambda a, b: a * b, 1),
    ("multiply_scalar(float)", lambda x, y, p: x.multiply_scalar(-0.75), lambda a, b: -0.75 * a, 1),
    ("multiply_scalar(int)", lambda x, y, p: x.multiply_scalar(5), lambda a, b: 5 * a, 0),
    ("multiply_scalar(big int)", lambda x, y, p: x.multiply_scalar(-9), lambda a, b: -9 * a, 0),
    ("add_scalar", lambda x, y, p: x.add_scalar(0.5), lambda a, b: a + 0.5, 0),
    ("negate", lambda x, y, p: x.negate(), lambda a, b: -a, 0),
    ("conjugate", lambda x, y, p: x.conjugate(), lambda a, b: np.conj(a), 0),
]


@pytest.mark.parametrize("name,op,expected,drop", ARITHMETIC, ids=[a[0] for a in ARITHMETIC])
def test_arithmetic_against_numpy(he, name, op, expected, drop):
    enc = qv.Encoder(he)
    a = values(3, True)
    b = values(4, True)
    x = enc.encode_encrypt(a)
    y = enc.encode_encrypt(b)
    p = enc.encode(b)
    scale = x.get_scale()
    op(x, y, p)
    assert x.get_chain_index() == DEPTH - drop
    assert x.get_scale() == (scale if drop == 0 else expected_scale(he, DEPTH - 1))
    err = np.max(np.abs(enc.decrypt_decode_complex(x) - expected(a, b)))
    assert err < 10 * BOUND


def test_scales_down_to_chain_index_zero(he):
    enc = qv.Encoder(he)
    a = values(5)
    x = enc.encode_encrypt(a)
    expected = a.copy()
    for ci in range(DEPTH - 1, -1, -1):
        x.multiply(enc.encode_encrypt(a, ci + 1))
        expected = expected * a
        assert x.get_chain_index() == ci
        assert x.get_scale() == expected_scale(he, ci)
        assert np.max(np.abs(enc.decrypt_decode_double(x) - expected)) < BOUND
    y = enc.encode_encrypt(a, 0)
    with pytest.raises(ValueError) as info:
        x.multiply(y)
    assert str(info.value) == ("SealCkksCiphertext::multiplyRaw - 'this' ciphertext is at chain "
                               "index 0. Can't multiply ciphertexts once they reach chain "
                               "index 0.")
    assert x.get_chain_index() == 0


def test_set_chain_index(he):
    enc = qv.Encoder(he)
    a = values(6)
    for target in range(DEPTH):
        x = enc.encode_encrypt(a)
        x.set_chain_index(target)
        assert x.get_chain_index() == target
        assert x.get_scale() == expected_scale(he, target)
        assert np.max(np.abs(enc.decrypt_decode_double(x) - a)) < BOUND
    x = enc.encode_encrypt(a, 1)
    with pytest.raises(RuntimeError) as info:
        x.set_chain_index(2)
    assert str(info.value) == ("can only set the chain index down the prime chain, "
                               "and asked to go from 1 to 2")
    with pytest.raises(RuntimeError) as info:
        x.set_chain_index(-1)
    assert str(info.value) == "cannot set the chain index below zero, and asked to set to -1"


def test_plaintext_chain_index(he):
    enc = qv.Encoder(he)
    a = values(7, True)
    p = enc.encode(a, 1)
    p.set_chain_index(DEPTH)
    assert p.get_chain_index() == DEPTH
    assert p.get_scale() == expected_scale(he, DEPTH)
    assert np.max(np.abs(enc.decode_complex(p) - a)) < BOUND
    p.set_chain_index(0)
    assert p.get_chain_index() == 0
    assert np.max(np.abs(enc.decode_complex(p) - a)) < BOUND
    with pytest.raises(RuntimeError) as info:
        p.set_chain_index(DEPTH + 1)
    assert str(info.value) == ("cannot set the chain index above the top chain index 3, "
                               "and asked to set to 4")
    with pytest.raises(RuntimeError) as info:
        p.set_chain_index(-1)
    assert str(info.value) == "cannot set the chain index below zero, and asked to set to -1"
    assert p.get_chain_index() == 0


def test_plaintext_below_the_ciphertext_is_reencoded(accurate):
    enc = qv.Encoder(accurate)
    a = values(8)
    b = values(9)
    x = enc.encode_encrypt(a, 3)
    p = enc.encode(b, 1)
    x.add_plain(p)
    assert p.get_chain_index() == 1
    assert x.get_chain_index() == 3
    assert np.max(np.abs(enc.decrypt_decode_double(x) - (a + b))) < BOUND


@pytest.mark.parametrize("n", [1, -1, 3, 700, -513, SLOTS + 2])
def test_default_rotations(accurate, n):
    enc = qv.Encoder(accurate)
    a = values(10, True)
    x = enc.encode_encrypt(a)
    x.rotate(n)
    assert x.get_chain_index() == DEPTH
    assert np.max(np.abs(enc.decrypt_decode_complex(x) - np.roll(a, -n))) < BOUND


def test_custom_and_missing_rotations():
    he = make_context(rotate=qv.RotationSetType.CUSTOM_ROTATIONS, steps=[4, 8],
                      conjugate=qv.ConjugationSupport.FALSE)
    enc = qv.Encoder(he)
    a = values(11)
    for n in (4, 12, -8):
        x = enc.encode_encrypt(a)
        x.rotate(n)
        assert np.max(np.abs(enc.decrypt_decode_double(x) - np.roll(a, -n))) < BOUND
    x = enc.encode_encrypt(a)
    with pytest.raises(RuntimeError) as info:
        x.rotate(2)
    assert str(info.value) == "The used SealCKKSContext does not support the required rotation."

    he = make_context(rotate=qv.RotationSetType.NO_ROTATIONS, relinearize=False)
    enc = qv.Encoder(he)
    x = enc.encode_encrypt(a)
    with pytest.raises(RuntimeError) as info:
        x.rotate(1)
    assert str(info.value) == "This SealCkksContext does not support rotations"
    with pytest.raises(RuntimeError) as info:
        x.multiply(enc.encode_encrypt(a))
    assert str(info.value) == "This SealCkksContext doesn't have reliniarization keys"
    # Conjugation keys are still there (the default conjugation support).
    z = enc.encode_encrypt(a * 1j)
    z.conjugate()
    assert np.max(np.abs(enc.decrypt_decode_complex(z) + a * 1j)) < BOUND


def test_transparent_results(accurate):
    enc = qv.Encoder(accurate)
    a = values(12)
    x = enc.encode_encrypt(a, 2)
    x.sub(x)
    assert x.get_chain_index() == 2
    assert np.max(np.abs(enc.decrypt_decode_double(x))) < BOUND
    y = enc.encode_encrypt(a)
    y.multiply_scalar(0)
    assert np.max(np.abs(enc.decrypt_decode_double(y))) < BOUND
    z = qv.CTile(accurate)
    z.load_from_buffer(y.save_to_buffer())
    assert np.max(np.abs(enc.decrypt_decode_double(z))) < BOUND
    y.add(enc.encode_encrypt(a))
    assert np.max(np.abs(enc.decrypt_decode_double(y) - a)) < BOUND


def test_save_and_load(accurate):
    enc = qv.Encoder(accurate)
    a = values(13, True)
    x = enc.encode_encrypt(a, 2)
    y = qv.CTile(accurate)
    y.load_from_buffer(x.save_to_buffer())
    assert y.get_chain_index() == 2
    assert y.get_scale() == x.get_scale()
    assert np.max(np.abs(enc.decrypt_decode_complex(y) - a)) < BOUND

    enc.set_default_scale(2.0 ** 35)
    p = enc.encode(a, 1)
    q = qv.PTile(accurate)
    q.load_from_buffer(p.save_to_buffer())
    assert q.get_chain_index() == 1
    assert q.get_scale() == 2.0 ** 35
    assert np.max(np.abs(enc.decode_complex(q) - a)) < BOUND

    other = make_context(rotate=qv.RotationSetType.NO_ROTATIONS,
                         conjugate=qv.ConjugationSupport.FALSE)
    with pytest.raises(RuntimeError):
        qv.CTile(other).load_from_buffer(x.save_to_buffer())


def test_empty_ciphertext_is_never_saved(accurate):
    empty = qv.CTile(accurate)
    with pytest.raises(RuntimeError) as info:
        empty.save_to_buffer()
    assert str(info.value) == "Cannot save an empty ciphertext: nothing has been encrypted into it"
    assert empty.is_empty()
