"""Loads of corrupted saved data: clear errors, no crash, no huge allocation,
and the loading object left as it was."""

import struct

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup, run_python

# A saved-object header: magic, version, class name (length, text, NUL), context id.
def header_size(class_name):
    return 4 + 4 + 4 + len(class_name) + 1 + 4


def patched(data, offset, patch):
    return data[:offset] + patch + data[offset + len(patch):]


# ---- SEAL objects ----

# Runs in a fresh interpreter limited to 512 MiB of address space: an
# allocation sized from the corrupted field fails there instead of succeeding.
LIMITED_SECRET_KEY_LOAD = """
    import resource, struct
    import _pyquorvanelite_cppwrappers as qv
    ctx = qv.SealCkksContext()
    ctx.init(qv.HeConfigRequirement.insecure(256, 1, 20, 5))
    key = bytearray(ctx.save_secret_key())
    key[{offset}:{offset} + 4] = struct.pack("<I", {value})
    saved = ctx.save_to_buffer()
    resource.setrlimit(resource.RLIMIT_AS, (512 << 20, 512 << 20))
    loaded = qv.load_he_context(saved)
    try:
        loaded.load_secret_key(bytes(key))
    except Exception as e:
        print(type(e).__name__, e)
    print(loaded.has_secret_key())
"""


@pytest.mark.parametrize("offset, value, declared", [
    (36, 0x40000000, None),
    (35, 0x7fffffff, 0x7fffffff),
])
def test_secret_key_with_a_huge_size_field_is_refused(offset, value, declared):
    result = run_python(LIMITED_SECRET_KEY_LOAD.format(offset=offset, value=value))
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[1] == "False"
    prefix = "RuntimeError Corrupted saved SEAL secret key: it declares "
    assert lines[0].startswith(prefix)
    assert lines[0].endswith(" bytes such an object takes under these parameters")
    size = int(lines[0][len(prefix):].split(" ")[0])
    assert size > (1 << 30) if declared is None else size == declared


def test_flipped_bit_in_a_saved_context_with_all_keys_is_a_clear_error():
    ctx = qv.SealCkksContext()
    ctx.init(qv.HeConfigRequirement.insecure(256, 1, 20, 5))
    data = ctx.save_to_buffer()
    # The Galois keys are the last SEAL object: after them come the accurate
    # scaling byte and two scales. Of the SEAL headers whose size reaches that
    # end (their last key's too), theirs comes first.
    end = len(data) - 1 - 2 * 8
    start = pos = end
    while (pos := data.rfind(b"\x5e\xa1\x10\x03\x07", 0, pos)) >= 0:
        if struct.unpack_from("<Q", data, pos + 8)[0] == end - pos:
            start = pos
    set_count = start + 16 + 32
    assert struct.unpack_from("<Q", data, set_count)[0] == 512
    flipped = bytearray(data)
    flipped[set_count + 5] ^= 1
    with pytest.raises(RuntimeError) as info:
        qv.load_he_context(bytes(flipped))
    assert str(info.value) == ("Corrupted saved SEAL Galois keys: the key set count is "
                               f"{512 + (1 << 40)}, more than 512")
    assert qv.load_he_context(data).get_signature() == ctx.get_signature()


def test_saved_security_level_must_match_the_requirement():
    req = qv.HeConfigRequirement(2048, 1, 25, 5, 128)
    pf = req.public_functions
    pf.relinearize = False
    pf.rotate = qv.RotationSetType.NO_ROTATIONS
    pf.conjugate = qv.ConjugationSupport.FALSE
    req.public_functions = pf
    ctx = qv.SealCkksContext()
    ctx.init(req)
    data = ctx.save_to_buffer()
    # The parameters' SEAL object follows the requirement; then the scale and the level.
    parms = data.find(b"\x5e\xa1\x10\x03\x07")
    level = parms + struct.unpack_from("<Q", data, parms + 8)[0] + 8
    assert struct.unpack_from("<i", data, level)[0] == 128
    target = qv.SealCkksContext()
    with pytest.raises(RuntimeError) as info:
        target.load_from_buffer(patched(data, level, struct.pack("<i", 0)))
    assert str(info.value) == ("Invalid saved SealCkksContext: the security level 0 does not "
                               "match the saved requirement's security level 128")
    scale = level - 8
    with pytest.raises(RuntimeError) as info:
        target.load_from_buffer(patched(data, scale, struct.pack("<d", float("nan"))))
    assert str(info.value) == ("Invalid saved SealCkksContext: the default scale is nan, "
                               "expected a finite positive value")
    target.load_from_buffer(data)
    assert target.get_security_level() == 128


@pytest.mark.parametrize("slots", [3, 1000, 1 << 30])
def test_slot_counts_that_seal_cannot_hold_are_refused_at_level_zero(slots):
    ctx = qv.SealCkksContext()
    with pytest.raises(RuntimeError, match="^Given configuration requirement is not feasible$"):
        ctx.init(qv.HeConfigRequirement.insecure(slots, 1, 20, 5))
    assert ctx.get_signature() == ""
    ctx.init(qv.HeConfigRequirement.insecure(8, 1, 20, 5))
    assert ctx.slot_count() == 8


# ---- Mockup tiles ----

def mockup_tile_cases():
    """(name, bytes of a saved CTile, expected message) on a 16-slot context of top 4."""
    he = mockup(16, 4)
    enc = qv.Encoder(he)
    data = enc.encode_encrypt(np.arange(16.0)).save_to_buffer()
    body = header_size("CTile")
    chain = body + 8 + 16 * 16
    assert struct.unpack_from("<i", data, chain)[0] == 4
    small = mockup(4, 4)
    four = qv.Encoder(small).encode(np.arange(4.0)).save_to_buffer()
    return he, enc, [
        ("chain index 1000", "CTile", patched(data, chain, struct.pack("<i", 1000)),
         "Invalid saved mockup tile: the chain index is 1000, expected a value in [0, 4]"),
        ("chain index -1", "CTile", patched(data, chain, struct.pack("<i", -1)),
         "Invalid saved mockup tile: the chain index is -1, expected a value in [0, 4]"),
        ("no values", "CTile", data[:body] + struct.pack("<Q", 0) + struct.pack("<i", 4),
         "Invalid saved mockup tile: the value count is 0, expected the context's slot count 16"),
        ("plaintext of 4 slots", "PTile", four,
         "Invalid saved mockup tile: the value count is 4, expected the context's slot count 16"),
    ]


def test_mockup_tile_loads_check_count_and_chain_index():
    he, enc, cases = mockup_tile_cases()
    for name, kind, data, message in cases:
        if kind == "CTile":
            tile = enc.encode_encrypt(np.full(16, 0.5), 2)
        else:
            tile = enc.encode(np.full(16, 0.5), 2)
        before = tile.save_to_buffer()
        with pytest.raises(RuntimeError) as info:
            tile.load_from_buffer(data)
        assert str(info.value) == message, name
        assert tile.save_to_buffer() == before, name


# ---- Fields read as strings or counts name what they belong to ----

def mockup_context_with(he, patch_at, patch):
    data = he.save_to_buffer()
    return patched(data, patch_at(data), patch)


KEY_AT = header_size("HeContext")  # the registry key's stored length


@pytest.mark.parametrize("name, load, message", [
    ("class name of length 0",
     lambda he: qv.CTile(he).load_from_buffer(patched(
         qv.Encoder(he).encode_encrypt(np.ones(4)).save_to_buffer(), 8, struct.pack("<i", 0))),
     "Invalid saved object header: the class name has stored length 0, expected at least 1"),
    ("class name without its NUL",
     lambda he: qv.CTile(he).load_from_buffer(patched(
         qv.Encoder(he).encode_encrypt(np.ones(4)).save_to_buffer(), 12 + 5, b"x")),
     "Invalid saved object header: the class name does not end with a NUL byte"),
    ("registry key without its NUL",
     lambda he: qv.load_he_context(mockup_context_with(
         he, lambda d: KEY_AT + 4 + len("Mockup_Mockup"), b"x")),
     "Invalid saved HeContext: the registry key does not end with a NUL byte"),
    ("registry key of negative length",
     lambda he: qv.MockupContext().load_from_buffer(mockup_context_with(
         he, lambda d: KEY_AT, struct.pack("<i", -3))),
     "Invalid saved HeContext: the registry key has stored length -3, expected at least 1"),
    ("context without a slot count",
     lambda he: qv.load_he_context(mockup_context_with(
         he, lambda d: d.index(b"Mockup_Mockup\0") + 14 + 8 + 4, struct.pack("<i", -1))),
     "Invalid saved HeContext: numSlots is -1 (not set), expected the context's slot count"),
    ("shape of a negative dimension count",
     lambda he: qv.TTShape().load_from_buffer(struct.pack("<ib", -5, 0)),
     "Invalid saved TTShape: number of dimensions is -5, expected a value in [0, 100000]"),
])
def test_corrupted_fields_are_named(name, load, message):
    he = mockup(4, 2)
    assert struct.unpack_from("<i", he.save_to_buffer(), KEY_AT + 4 + 14 + 8 + 4)[0] == 4
    with pytest.raises(RuntimeError) as info:
        load(he)
    assert str(info.value) == message, name


# ---- What SEAL itself refuses names the object ----

SEAL_MAGIC = b"\x5e\xa1\x10\x03\x07"
# A ciphertext's header and members before its coefficient array (parameter
# id, NTT flag, polynomial count, degree, prime count, scale), then the
# array's header and count.
FIRST_COEFFICIENT = 16 + 65 + 16 + 8
TOO_LARGE = struct.pack("<Q", 2 ** 64 - 1)


def seal_objects(data):
    """The offsets of the SEAL objects saved one after the other from the first."""
    at = [data.find(SEAL_MAGIC)]
    while data[at[-1] + struct.unpack_from("<Q", data, at[-1] + 8)[0]:].startswith(SEAL_MAGIC):
        at.append(at[-1] + struct.unpack_from("<Q", data, at[-1] + 8)[0])
    return at


@pytest.fixture(scope="module")
def seal_with_all_keys():
    ctx = qv.SealCkksContext()
    ctx.init(qv.HeConfigRequirement.insecure(256, 1, 20, 5))
    return ctx


def test_refusals_of_seal_name_the_saved_key_or_parameters(seal_with_all_keys):
    data = seal_with_all_keys.save_to_buffer()
    parms = data.find(SEAL_MAGIC)
    # The scale and the security level lie between the parameters and the keys.
    keys = parms + struct.unpack_from("<Q", data, parms + 8)[0] + 12
    public, relin, galois = [keys + at for at in seal_objects(data[keys:])]

    def last_coefficient(at):
        # Every key ends with the coefficient array of its last ciphertext.
        return at + struct.unpack_from("<Q", data, at + 8)[0] - 8

    cases = [
        ("parameters' scheme", parms + 16, b"\x07",
         "Corrupted saved SEAL parameters: unsupported scheme"),
        ("public key coefficient", last_coefficient(public), TOO_LARGE,
         "Corrupted saved SEAL public key: PublicKey data is invalid"),
        ("public key header", public, b"\x5f",
         "Corrupted saved SEAL public key: loaded SEALHeader is invalid"),
        ("relinearization key coefficient", last_coefficient(relin), TOO_LARGE,
         "Corrupted saved SEAL relinearization keys: KSwitchKeys data is invalid"),
        ("relinearization keys' parameter id", relin + 16, b"\x00" * 8,
         "Corrupted saved SEAL relinearization keys: KSwitchKeys data is invalid"),
        ("Galois key coefficient", last_coefficient(galois), TOO_LARGE,
         "Corrupted saved SEAL Galois keys: KSwitchKeys data is invalid"),
    ]
    for name, offset, patch, message in cases:
        with pytest.raises(RuntimeError) as info:
            qv.load_he_context(patched(data, offset, patch))
        assert str(info.value) == message, name
    assert qv.load_he_context(data).get_signature() == seal_with_all_keys.get_signature()


def test_refusals_of_seal_name_the_saved_ciphertext(seal_with_all_keys):
    enc = qv.Encoder(seal_with_all_keys)
    data = enc.encode_encrypt(np.ones(256)).save_to_buffer()
    at = data.find(SEAL_MAGIC)
    cases = [
        ("coefficient", at + FIRST_COEFFICIENT, TOO_LARGE,
         "Corrupted saved SEAL ciphertext: ciphertext data is invalid"),
        # Data of other parameters and SEAL's header refusals keep SEAL's words.
        ("parameter id", at + 16, b"\x00" * 8, "ciphertext data is invalid"),
        ("header", at, b"\x5f", "loaded SEALHeader is invalid"),
    ]
    for name, offset, patch, message in cases:
        tile = enc.encode_encrypt(np.full(256, 0.5))
        with pytest.raises(RuntimeError) as info:
            tile.load_from_buffer(patched(data, offset, patch))
        assert str(info.value) == message, name
        np.testing.assert_allclose(enc.decrypt_decode_double(tile), 0.5, atol=1e-3)
