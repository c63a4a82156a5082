"""Tiles and encoders refuse objects of another context; contexts loaded from one
saved context are one context."""
import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup, saved_encrypted_data

SLOTS = 256
X = np.array([1.0, 2.0, 3.0, 4.0])
Y = np.array([0.5, 0.25, -1.0, 2.0])


def seal():
    he = qv.SealCkksContext()
    he.init(qv.HeConfigRequirement.insecure(SLOTS, 2, 30, 10))
    return he


def key(he):
    return he.get_library_name() + "_" + he.get_scheme_name()


def message(operand, own):
    return ("The operand belongs to another HE context (%s, context id %d) than this object "
            "(%s, context id %d)" % (key(operand), operand.get_context_id(),
                                     key(own), own.get_context_id()))


def first(enc, c):
    return enc.decrypt_decode_double(c)[:4]


@pytest.fixture(scope="module")
def contexts():
    return {"seal1": seal(), "seal2": seal(), "mock1": mockup(SLOTS, 2),
            "mock2": mockup(SLOTS, 2)}


TILE_CALLS = {
    "add": lambda t, c, p: t.add(c),
    "add_raw": lambda t, c, p: t.add_raw(c),
    "sub": lambda t, c, p: t.sub(c),
    "sub_raw": lambda t, c, p: t.sub_raw(c),
    "multiply": lambda t, c, p: t.multiply(c),
    "multiply_raw": lambda t, c, p: t.multiply_raw(c),
    "add_plain": lambda t, c, p: t.add_plain(p),
    "add_plain_raw": lambda t, c, p: t.add_plain_raw(p),
    "sub_plain": lambda t, c, p: t.sub_plain(p),
    "sub_plain_raw": lambda t, c, p: t.sub_plain_raw(p),
    "multiply_plain": lambda t, c, p: t.multiply_plain(p),
    "multiply_plain_raw": lambda t, c, p: t.multiply_plain_raw(p),
    "add_tile ctile": lambda t, c, p: t.add_tile(c),
    "sub_tile_raw ctile": lambda t, c, p: t.sub_tile_raw(c),
    "multiply_tile ctile": lambda t, c, p: t.multiply_tile(c),
    "add_tile_raw ptile": lambda t, c, p: t.add_tile_raw(p),
    "sub_tile ptile": lambda t, c, p: t.sub_tile(p),
    "multiply_tile_raw ptile": lambda t, c, p: t.multiply_tile_raw(p),
}


@pytest.mark.parametrize("pair", [("seal1", "seal2"), ("seal1", "mock1"), ("mock1", "seal1"),
                                  ("mock1", "mock2")])
@pytest.mark.parametrize("call", sorted(TILE_CALLS))
def test_tile_operations_refuse_another_context(contexts, pair, call):
    own, other = contexts[pair[0]], contexts[pair[1]]
    enc, other_enc = qv.Encoder(own), qv.Encoder(other)
    target = enc.encode_encrypt(X)
    before = (target.get_chain_index(), target.get_scale())
    operand_c = other_enc.encode_encrypt(Y)
    operand_p = other_enc.encode(Y)
    with pytest.raises(ValueError) as info:
        TILE_CALLS[call](target, operand_c, operand_p)
    assert str(info.value) == message(other, own)
    assert (target.get_chain_index(), target.get_scale()) == before
    assert np.allclose(first(enc, target), X, atol=1e-3)


@pytest.mark.parametrize("other_name", ["seal2", "mock1"])
def test_encoder_refuses_tiles_of_another_context(contexts, other_name):
    own, other = contexts["seal1"], contexts[other_name]
    enc, other_enc = qv.Encoder(own), qv.Encoder(other)
    foreign_c = other_enc.encode_encrypt(X)
    foreign_p = other_enc.encode(X)
    calls = [lambda: enc.decrypt_decode_double(foreign_c),
             lambda: enc.decrypt_decode_complex(foreign_c),
             lambda: enc.decrypt_decode_int(foreign_c),
             lambda: enc.decode_double(foreign_p),
             lambda: enc.decode_complex(foreign_p),
             lambda: enc.decode_int(foreign_p),
             lambda: enc.decrypt_decode_tile_double(foreign_c),
             lambda: enc.decrypt_decode_tile_double(foreign_p),
             lambda: enc.encrypt_tile(foreign_c),
             lambda: enc.encrypt_tile(foreign_p),
             lambda: enc.assert_equals(foreign_c, "t", X, 10.0),
             lambda: enc.print_error_stats(foreign_c, np.ones(SLOTS))]
    for call in calls:
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == message(other, own)
    assert np.allclose(first(other_enc, foreign_c), X, atol=1e-3)


def test_contexts_loaded_from_one_saved_context_mix():
    original = seal()
    saved, secret = original.save_to_buffer(), original.save_secret_key()
    loaded = []
    for _ in range(2):
        he = qv.load_he_context(saved)
        he.load_secret_key(secret)
        loaded.append(he)
    assert loaded[0].get_context_id() == original.get_context_id()
    x = qv.Encoder(original).encode_encrypt(X)
    x.add(qv.Encoder(loaded[0]).encode_encrypt(Y))
    x.multiply_plain(qv.Encoder(loaded[1]).encode(Y))
    for he in [original] + loaded:
        assert np.allclose(first(qv.Encoder(he), x), (X + Y) * Y, atol=1e-3)


def test_encrypted_data_refuses_data_of_another_context():
    own, other = mockup(8, 2), mockup(8, 2)
    foreign = qv.load_encrypted_data(other, saved_encrypted_data(other, [[[1.0]], [[2.0]]]))
    data = qv.EncryptedData(own)
    for operand in [foreign, qv.EncryptedData(other)]:
        with pytest.raises(ValueError) as info:
            data.add_encrypted_data(operand)
        assert str(info.value) == message(other, own)
        assert data.get_num_batches() == 0

    # A context loaded from the saved form of own is the same context; the
    # merged data set loads under both.
    copy = qv.load_he_context(own.save_to_buffer())
    data.add_encrypted_data(qv.load_encrypted_data(own, saved_encrypted_data(own, [[[3.0]]])))
    data.add_encrypted_data(qv.load_encrypted_data(copy, saved_encrypted_data(copy, [[[4.0]]])))
    saved = data.save_to_buffer()
    for he in [own, copy]:
        loaded = qv.load_encrypted_data(he, saved)
        assert loaded.get_num_batches() == 2
        values = [qv.TTEncoder(he).decrypt_decode_double(loaded.get_batch(i).get_item(0))[0]
                  for i in range(2)]
        assert values == [3.0, 4.0]
