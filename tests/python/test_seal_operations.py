"""The tile and encoder surface on SEAL CKKS: bookkeeping, messages, saved forms and prints."""
import struct

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup


SLOTS = 1024
DEPTH = 3
FRAC = 40
# A few CKKS operations at scale 2^40 over 2048 coefficients stay well below
# 2^-20; sums of many slots add the errors of every rotation.
BOUND = 2.0 ** -(FRAC - 20)
SUM_BOUND = SLOTS * BOUND


def requirement(slots=SLOTS, depth=DEPTH, rotate=None, steps=None, conjugate=None,
                encrypt=True, relinearize=True):
    req = qv.HeConfigRequirement.insecure(slots, depth, FRAC, 10)
    pf = req.public_functions
    pf.encrypt = encrypt
    pf.relinearize = relinearize
    if rotate is not None:
        pf.rotate = rotate
    if steps is not None:
        pf.set_rotation_steps(np.array(steps))
    if conjugate is not None:
        pf.conjugate = conjugate
    req.public_functions = pf
    return req


def seal_context(accurate=True, **kwargs):
    he = qv.SealCkksContext()
    he.set_use_accurate_scaling(accurate)
    he.init(requirement(**kwargs))
    return he


@pytest.fixture(scope="module")
def accurate():
    return seal_context()


@pytest.fixture(scope="module")
def nominal():
    return seal_context(accurate=False)


@pytest.fixture(scope="module", params=["accurate", "nominal"])
def he(request, accurate, nominal):
    return accurate if request.param == "accurate" else nominal


def vec(seed, cplx=True):
    rng = np.random.default_rng(seed)
    res = rng.uniform(-1, 1, SLOTS)
    if cplx:
        res = res + 1j * rng.uniform(-1, 1, SLOTS)
    return res


def table_scale(he, chain_index):
    """The scale of a fresh encoding, and of a product rescaled, at the chain index."""
    if he.get_use_accurate_scaling():
        return he.get_accurate_scale(chain_index)
    return 2.0 ** FRAC


def error(enc, tile, expected):
    return np.max(np.abs(enc.decrypt_decode_complex(tile) - expected))


# --------------------------------------------------------------- the program

def program(he):
    """One program of the kind written against the mockup context; returns
    (name, tile, numpy result) triples."""
    slots = he.slot_count()
    enc = qv.Encoder(he)
    rng = np.random.default_rng(77)
    x = rng.uniform(-1, 1, slots)
    y = rng.uniform(-1, 1, slots)
    w = rng.uniform(0, 2, slots)
    z = x + 1j * y
    cx = enc.encode_encrypt(x)
    cy = enc.encode_encrypt(y)
    cz = enc.encode_encrypt(z)
    pw = enc.encode(w)
    res = []

    t = cx.get_multiply(cy)
    t.add_plain(pw)
    t.multiply_scalar(0.5)
    t.add_scalar(-1)
    res.append(("polynomial", t, (x * y + w) * 0.5 - 1))

    r = qv.CTile(cx)
    r.rotate(3)
    r.rotate(-10)
    res.append(("rotations", r, np.roll(x, 7)))

    s = qv.CTile(cx)
    s.inner_sum(1, slots)
    res.append(("inner sum", s, np.full(slots, x.sum())))

    n = qv.CTile(cy)
    n.sum_exp_by_squaring_left_to_right(5)
    res.append(("window sums l2r", n, sum(np.roll(y, -k) for k in range(5))))

    n2 = qv.CTile(cy)
    n2.sum_exp_by_squaring_right_to_left(6)
    res.append(("window sums r2l", n2, sum(np.roll(y, -k) for k in range(6))))

    m = qv.CTile(cz)
    conj = qv.CTile(cz)
    conj.conjugate()
    m.multiply(conj)
    res.append(("norm", m, np.abs(z) ** 2))

    d = qv.CTile(cx)
    d.sub(cy)
    d.square()
    res.append(("squared difference", d, (x - y) ** 2))

    i = qv.CTile(cz)
    i.multiply_imaginary_unit()
    res.append(("times i", i, z * 1j))

    re = qv.CTile(cz)
    re.nullify_imaginary_part()
    res.append(("real part", re, z.real))

    k = qv.CTile(cz)
    k.multiply_scalar(3)
    k.negate()
    k.add_tile(cx)
    k.sub_tile(pw)
    res.append(("integer scalar and tiles", k, -3 * z + x - w))

    q = qv.CTile(cx)
    q.multiply_tile(pw)
    q.multiply_tile(cy)
    res.append(("tile products", q, x * w * y))
    return enc, res


@pytest.mark.parametrize("name", ["mockup", "seal"])
def test_the_same_program_runs_on_both_contexts(name, accurate):
    if name == "mockup":
        he = mockup(SLOTS, DEPTH)
        bound, sum_bound = 1e-9, 1e-9
    else:
        he = accurate
        bound, sum_bound = 10 * BOUND, SUM_BOUND
    enc, results = program(he)
    for label, tile, expected in results:
        limit = sum_bound if "sum" in label else bound
        assert error(enc, tile, expected) < limit, label
        # Saved and loaded, the tile holds the same values.
        loaded = qv.CTile(he)
        loaded.load_from_buffer(tile.save_to_buffer())
        assert error(enc, loaded, expected) < limit, label
        assert loaded.get_chain_index() == tile.get_chain_index()


# ---------------------------------------------- chain indexes and scales

FAMILIES = [
    # name, operation on (x, y, p), expected from (a, b), chain indexes consumed,
    # scale afterwards: "same", "product" (times the operand's) or "table" (rescaled)
    ("add", lambda x, y, p: x.add(y), lambda a, b: a + b, 0, "same"),
    ("add_raw", lambda x, y, p: x.add_raw(y), lambda a, b: a + b, 0, "same"),
    ("sub", lambda x, y, p: x.sub(y), lambda a, b: a - b, 0, "same"),
    ("sub_raw", lambda x, y, p: x.sub_raw(y), lambda a, b: a - b, 0, "same"),
    ("add_plain", lambda x, y, p: x.add_plain(p), lambda a, b: a + b, 0, "same"),
    ("add_plain_raw", lambda x, y, p: x.add_plain_raw(p), lambda a, b: a + b, 0, "same"),
    ("sub_plain", lambda x, y, p: x.sub_plain(p), lambda a, b: a - b, 0, "same"),
    ("sub_plain_raw", lambda x, y, p: x.sub_plain_raw(p), lambda a, b: a - b, 0, "same"),
    ("multiply", lambda x, y, p: x.multiply(y), lambda a, b: a * b, 1, "table"),
    ("multiply_raw", lambda x, y, p: x.multiply_raw(y), lambda a, b: a * b, 0, "product"),
    ("multiply_plain", lambda x, y, p: x.multiply_plain(p), lambda a, b: a * b, 1, "table"),
    ("multiply_plain_raw", lambda x, y, p: x.multiply_plain_raw(p), lambda a, b: a * b, 0,
     "product"),
    ("square", lambda x, y, p: x.square(), lambda a, b: a * a, 1, "table"),
    ("square_raw", lambda x, y, p: x.square_raw(), lambda a, b: a * a, 0, "product"),
    ("multiply_scalar(float)", lambda x, y, p: x.multiply_scalar(0.25), lambda a, b: a / 4, 1,
     "table"),
    ("multiply_scalar(6)", lambda x, y, p: x.multiply_scalar(6), lambda a, b: 6 * a, 0, "same"),
    ("multiply_scalar(-4)", lambda x, y, p: x.multiply_scalar(-4), lambda a, b: -4 * a, 0,
     "same"),
    ("multiply_scalar(11)", lambda x, y, p: x.multiply_scalar(11), lambda a, b: 11 * a, 0,
     "same"),
    ("add_scalar(float)", lambda x, y, p: x.add_scalar(-0.5), lambda a, b: a - 0.5, 0, "same"),
    ("add_scalar(int)", lambda x, y, p: x.add_scalar(2), lambda a, b: a + 2, 0, "same"),
    ("negate", lambda x, y, p: x.negate(), lambda a, b: -a, 0, "same"),
    ("conjugate", lambda x, y, p: x.conjugate(), lambda a, b: np.conj(a), 0, "same"),
    ("conjugate_raw", lambda x, y, p: x.conjugate_raw(), lambda a, b: np.conj(a), 0, "same"),
    ("rotate", lambda x, y, p: x.rotate(-7), lambda a, b: np.roll(a, 7), 0, "same"),
    ("multiply_imaginary_unit", lambda x, y, p: x.multiply_imaginary_unit(),
     lambda a, b: 1j * a, 1, "table"),
    ("get_multiply", lambda x, y, p: x.get_multiply(y), lambda a, b: a * b, 1, "table"),
]


@pytest.mark.parametrize("name,op,expected,drop,scale_rule", FAMILIES,
                         ids=[f[0] for f in FAMILIES])
def test_every_family_keeps_chain_index_and_scale(he, name, op, expected, drop, scale_rule):
    enc = qv.Encoder(he)
    a = vec(1)
    b = vec(2)
    x = enc.encode_encrypt(a)
    y = enc.encode_encrypt(b)
    p = enc.encode(b)
    before = x.get_scale()
    result = op(x, y, p)
    if result is None:
        result = x
    assert result.get_chain_index() == DEPTH - drop
    if scale_rule == "same":
        assert result.get_scale() == before
    elif scale_rule == "product":
        assert result.get_scale() == before * table_scale(he, DEPTH)
    else:
        assert result.get_scale() == table_scale(he, DEPTH - 1)
    assert error(enc, result, expected(a, b)) < 20 * BOUND


def test_rescale_and_rescale_raw(he):
    enc = qv.Encoder(he)
    a = vec(3)
    x = enc.encode_encrypt(a)
    x.multiply_raw(x)
    x.relinearize()
    y = qv.CTile(x)
    raw_scale = x.get_scale()
    x.rescale()
    y.rescale_raw()
    assert x.get_chain_index() == y.get_chain_index() == DEPTH - 1
    assert x.get_scale() == table_scale(he, DEPTH - 1)
    # The raw rescale divides by the prime itself: a 40-bit prime, not 2^40.
    prime = raw_scale / y.get_scale()
    assert abs(prime - round(prime)) < 1e-2
    assert round(prime) % 2 == 1
    assert abs(np.log2(prime) - FRAC) < 1e-3
    assert error(enc, x, a * a) < BOUND
    assert error(enc, y, a * a) < BOUND


def test_lowering_the_chain_index(he):
    enc = qv.Encoder(he)
    a = vec(4)
    for target in range(DEPTH + 1):
        x = enc.encode_encrypt(a)
        x.set_chain_index(target)
        assert x.get_chain_index() == target
        assert x.get_scale() == table_scale(he, target)
        assert error(enc, x, a) < BOUND
    x = enc.encode_encrypt(a)
    x.reduce_chain_index()
    assert x.get_chain_index() == DEPTH - 1
    assert x.get_scale() == table_scale(he, DEPTH - 1)

    # A scale off the table is only mod-switched.
    x = enc.encode_encrypt(a)
    x.multiply_raw(enc.encode_encrypt(a))
    off = x.get_scale()
    x.set_chain_index(1)
    assert x.get_scale() == off
    x.relinearize()
    x.rescale()
    assert x.get_chain_index() == 0
    assert error(enc, x, a * a) < BOUND


def test_encoder_scale_policy(he):
    enc = qv.Encoder(he)
    for ci in range(DEPTH + 1):
        assert enc.get_default_scale(ci) == table_scale(he, ci)
        assert enc.encode(vec(5), ci).get_scale() == table_scale(he, ci)
    enc.set_default_scale(2.0 ** 30)
    for ci in range(DEPTH + 1):
        assert enc.get_default_scale(ci) == 2.0 ** 30
        assert enc.encode_encrypt(vec(5), ci).get_scale() == 2.0 ** 30
    enc.restore_default_scale()
    assert enc.get_default_scale(1) == table_scale(he, 1)


# ---------------------------------------------------------------- rotations

@pytest.mark.parametrize("n", [1, -1, 2, 31, -200, SLOTS - 1, SLOTS, -SLOTS, 3 * SLOTS + 5])
def test_default_rotations(accurate, n):
    enc = qv.Encoder(accurate)
    a = vec(6)
    x = enc.encode_encrypt(a, 2)
    x.rotate(n)
    assert x.get_chain_index() == 2
    assert error(enc, x, np.roll(a, -n)) < BOUND


@pytest.fixture(scope="module")
def custom():
    steps = [2 ** k for k in range(10)] + [-3]
    return seal_context(rotate=qv.RotationSetType.CUSTOM_ROTATIONS, steps=steps,
                        conjugate=qv.ConjugationSupport.TRUE)


@pytest.mark.parametrize("n", [1, -3, 512, 3, 100, -6, SLOTS - 1])
def test_custom_rotations(custom, n):
    enc = qv.Encoder(custom)
    a = vec(7)
    x = enc.encode_encrypt(a)
    x.rotate(n)
    assert error(enc, x, np.roll(a, -n)) < BOUND


def test_inner_sums_and_conjugation_with_custom_rotations(custom):
    enc = qv.Encoder(custom)
    a = vec(8)
    x = enc.encode_encrypt(a)
    x.inner_sum(1, SLOTS)
    assert error(enc, x, np.full(SLOTS, a.sum())) < SUM_BOUND
    y = enc.encode_encrypt(a)
    y.inner_sum(4, 64)
    assert error(enc, y, sum(np.roll(a, -k) for k in range(0, 64, 4))) < SUM_BOUND
    z = enc.encode_encrypt(a)
    z.conjugate()
    assert error(enc, z, np.conj(a)) < BOUND
    with pytest.raises(ValueError) as info:
        enc.encode_encrypt(a).inner_sum(0, 4)
    assert str(info.value) == "Rotation offsets should be positive."


def test_missing_keys_and_rotation_sets():
    a = vec(9)
    he = seal_context(rotate=qv.RotationSetType.CUSTOM_ROTATIONS, steps=[8],
                      conjugate=qv.ConjugationSupport.FALSE)
    enc = qv.Encoder(he)
    x = enc.encode_encrypt(a)
    with pytest.raises(RuntimeError) as info:
        x.rotate(4)
    assert str(info.value) == "The used SealCKKSContext does not support the required rotation."
    assert error(enc, x, a) < BOUND
    with pytest.raises(ValueError) as info:
        x.conjugate()
    assert str(info.value) == "Galois key not present"

    he = seal_context(rotate=qv.RotationSetType.NO_ROTATIONS,
                      conjugate=qv.ConjugationSupport.FALSE)
    enc = qv.Encoder(he)
    x = enc.encode_encrypt(a)
    for call in (lambda: x.rotate(1), lambda: x.inner_sum(1, 4)):
        with pytest.raises(RuntimeError) as info:
            call()
        assert str(info.value) == "This SealCkksContext does not support rotations"
    with pytest.raises(RuntimeError) as info:
        x.conjugate()
    assert str(info.value) == "This SealCkksContext doesn't have galois keys"
    assert error(enc, x, a) < BOUND


def test_encryption_and_decryption_need_their_keys(accurate):
    he = seal_context(encrypt=False, rotate=qv.RotationSetType.NO_ROTATIONS)
    enc = qv.Encoder(he)
    with pytest.raises(RuntimeError) as info:
        enc.encode_encrypt(vec(10))
    assert str(info.value) == "This SealCkksContext doesn't have an encryptor"

    loaded = qv.load_he_context(accurate.save_to_buffer())
    loaded_enc = qv.Encoder(loaded)
    c = loaded_enc.encode_encrypt(vec(10))
    with pytest.raises(RuntimeError) as info:
        loaded_enc.decrypt_decode_complex(c)
    assert str(info.value) == "This context has no secret key"
    # Encrypted under the loaded keys, it decrypts in the original context.
    back = qv.CTile(accurate)
    back.load_from_buffer(c.save_to_buffer())
    assert error(qv.Encoder(accurate), back, vec(10)) < BOUND


def test_chain_index_zero_products(accurate):
    enc = qv.Encoder(accurate)
    a = vec(11)
    message = ("SealCkksCiphertext::multiplyRaw - 'this' ciphertext is at chain index 0. "
               "Can't multiply ciphertexts once they reach chain index 0.")
    for make_operands in (lambda: (enc.encode_encrypt(a, 0), enc.encode_encrypt(a, 0)),
                          lambda: (enc.encode_encrypt(a, 2), enc.encode_encrypt(a, 0)),
                          lambda: (enc.encode_encrypt(a, 0), enc.encode_encrypt(a, 1))):
        x, y = make_operands()
        for call in (lambda: x.multiply(y), lambda: x.multiply_raw(y),
                     lambda: x.get_multiply(y)):
            with pytest.raises(ValueError) as info:
                call()
            assert str(info.value) == message
    # Other refusals at chain index 0 keep SEAL's words.
    x = enc.encode_encrypt(a, 0)
    with pytest.raises(ValueError) as info:
        x.square()
    assert str(info.value) == "scale out of bounds"
    with pytest.raises(ValueError) as info:
        x.rescale()
    assert str(info.value) == "end of modulus switching chain reached"
    assert error(enc, x, a) < BOUND


# ------------------------------------------------------ transparent results

def test_transparent_results(he):
    enc = qv.Encoder(he)
    a = vec(12)
    x = enc.encode_encrypt(a, 2)
    scale = x.get_scale()
    x.multiply_scalar(0)
    assert (x.get_chain_index(), x.get_scale()) == (2, scale)
    assert np.max(np.abs(enc.decrypt_decode_complex(x))) < BOUND

    for op, drop in ((lambda t: t.sub(t), 0), (lambda t: t.sub_raw(qv.CTile(t)), 0),
                     (lambda t: t.multiply_plain(enc.encode(0.0, 2)), 1)):
        y = enc.encode_encrypt(a, 2)
        op(y)
        assert y.get_chain_index() == 2 - drop
        assert np.max(np.abs(enc.decrypt_decode_complex(y))) < BOUND
        # Computing on goes on as with any ciphertext.
        y.add(enc.encode_encrypt(a, 2 - drop))
        assert error(enc, y, a) < BOUND


# ------------------------------------------------------------- saved forms

HEADER = struct.Struct("<ii")


def split_saved(data, class_name):
    """Checks the saved-object header and returns the SEAL blob after it."""
    magic, _version = HEADER.unpack_from(data, 0)
    assert magic == 0x5156524E
    (length,) = struct.unpack_from("<i", data, 8)
    assert data[12:12 + length] == class_name.encode() + b"\0"
    return data[12 + length + 4:]


def test_saved_forms(accurate):
    enc = qv.Encoder(accurate)
    a = vec(13)
    c = enc.encode_encrypt(a, 2)
    data = c.save_to_buffer()
    blob = split_saved(data, "CTile")
    # SEAL's header: magic 0xA15E, header size, version, compression mode
    # (none for ciphertexts, zstd for plaintexts), then the blob's size.
    assert blob[0:2] == b"\x5e\xa1"
    assert blob[5] == 0
    assert struct.unpack_from("<Q", blob, 8)[0] == len(blob)

    enc.set_default_scale(2.0 ** 33)
    p = enc.encode(a, 1)
    pdata = p.save_to_buffer()
    pblob = split_saved(pdata, "PTile")
    assert pblob[0:2] == b"\x5e\xa1"
    assert pblob[5] == 2
    assert struct.unpack_from("<Q", pblob, 8)[0] == len(pblob)

    q = qv.PTile(accurate)
    q.load_from_buffer(pdata)
    assert (q.get_chain_index(), q.get_scale()) == (1, 2.0 ** 33)
    assert np.max(np.abs(enc.decode_complex(q) - a)) < 2.0 ** -13
    d = qv.CTile(accurate)
    d.load_from_buffer(data)
    assert (d.get_chain_index(), d.get_scale()) == (2, c.get_scale())
    assert error(enc, d, a) < BOUND


def test_saved_tiles_through_files(accurate, tmp_path):
    enc = qv.Encoder(accurate)
    a = vec(14)
    c = enc.encode_encrypt(a, 1)
    c.save_to_file(str(tmp_path / "c.bin"))
    d = qv.CTile(accurate)
    d.load_from_file(str(tmp_path / "c.bin"))
    assert d.get_chain_index() == 1
    assert error(enc, d, a) < BOUND
    p = enc.encode(a, 0)
    p.save_to_file(str(tmp_path / "p.bin"))
    q = qv.PTile(accurate)
    q.load_from_file(str(tmp_path / "p.bin"))
    assert q.get_chain_index() == 0
    assert np.max(np.abs(enc.decode_complex(q) - a)) < BOUND


def test_loading_under_other_parameters_is_refused(accurate):
    enc = qv.Encoder(accurate)
    other = seal_context(depth=2, rotate=qv.RotationSetType.NO_ROTATIONS)
    c = qv.CTile(other)
    # The context id differs too; the tile's header is what refuses first.
    with pytest.raises(RuntimeError):
        c.load_from_buffer(enc.encode_encrypt(vec(15)).save_to_buffer())
    assert c.is_empty()
    # A plaintext's header carries no context check: one of other parameters
    # is refused with SEAL's text, also when it holds more primes than any
    # plaintext of this context (found before it is decompressed).
    other_primes = qv.SealCkksContext()
    other_primes.init(qv.HeConfigRequirement.insecure(SLOTS, 2, FRAC - 5, 10))
    q = qv.PTile(other_primes)
    with pytest.raises(RuntimeError) as info:
        q.load_from_buffer(enc.encode(vec(15), 1).save_to_buffer())
    assert str(info.value) == "Plaintext data is invalid"
    p = qv.PTile(other)
    with pytest.raises(RuntimeError) as info:
        p.load_from_buffer(enc.encode(vec(15)).save_to_buffer())
    assert str(info.value) == "Plaintext data is invalid"
    assert p.is_all_zeroes()


def test_empty_tiles_are_not_saved(accurate):
    with pytest.raises(RuntimeError) as info:
        qv.CTile(accurate).save_to_buffer()
    assert str(info.value) == "Cannot save an empty ciphertext: nothing has been encrypted into it"


# ------------------------------------------------------------------- prints

def test_prints(accurate):
    enc = qv.Encoder(accurate)
    c = enc.encode_encrypt([0.5, -0.25], 2)
    text = c.to_string(qv.VERBOSITY_DETAILED)
    lines = text.splitlines()
    start = lines.index("SEAL-CKKS Ciphertext")
    assert lines[start + 2:start + 12] == [
        "chain index         : 2",
        "max value           : 0.5",
        "bit usage           : 39",
        "slots               : 1024",
        "size (polys)        : 2",
        f"scale               : {accurate.get_accurate_scale(2):g} = 2^40",
        "poly_modulus_degree_: 2048",
        "coeff_modulus_size_ : 3",
        "is_ntt_form         : 1",
        "data_               : size=12288 capacity=2",
    ]
    assert "SEAL-CKKS Plaintext : plaintext:" in lines

    p = enc.encode([0.5, 0.25], 1)
    lines = p.to_string(qv.VERBOSITY_DETAILED).splitlines()
    start = lines.index("SEAL-CKKS Plaintext")
    assert lines[start + 2:start + 7] == [
        "chain index        : 1",
        "max value          : 0.5",
        "bit usage          : 39",
        f"scale              : {accurate.get_accurate_scale(1):g}=2^40",
        "slots              : 1024",
    ]
    assert "coefsCRT:" in lines
    assert "coefs (pre-NTT):" in lines
    assert "coefs (post-NTT):" not in lines
