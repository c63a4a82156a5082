import os

import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup


def small_ckks():
    """A small insecure requirement that the SEAL and the mockup context both accept."""
    req = qv.HeConfigRequirement.insecure(1024, 2, 30, 10)
    pf = req.public_functions
    pf.relinearize = False
    pf.rotate = qv.RotationSetType.NO_ROTATIONS
    pf.conjugate = qv.ConjugationSupport.FALSE
    req.public_functions = pf
    return req


def test_refused_file_saves_create_no_file(tmp_path):
    fresh = qv.MockupContext()
    path = tmp_path / "context.bin"
    with pytest.raises(RuntimeError, match="^HE context has not been initialized yet$"):
        fresh.save_to_file(str(path))
    missing = str(tmp_path / "no-such-dir" / "context.bin")
    with pytest.raises(RuntimeError, match="^Failed to open file "):
        fresh.save_to_file(missing)
    keyless = qv.load_he_context(mockup().save_to_buffer())
    with pytest.raises(RuntimeError, match="^this HeContext does not have a secret key$"):
        keyless.save_secret_key_to_file(str(tmp_path / "key.bin"), seed_only=True)
    assert os.listdir(tmp_path) == []


def test_load_from_file_counts_and_refuses_a_second_load(tmp_path):
    he = mockup(4, 2)
    path = str(tmp_path / "context.bin")
    written = he.save_to_file(file_name=path)
    target = qv.MockupContext()
    assert target.load_from_file(path) == written
    with pytest.raises(RuntimeError, match="^HE context has already been initialized$"):
        target.load_from_file(path)
    assert target.get_context_id() == he.get_context_id()


def test_back_to_back_contexts_load_the_first_from_bytes():
    a, b = mockup(8, 3), mockup(4, 2)
    loaded = qv.load_he_context(a.save_to_buffer() + b.save_to_buffer())
    assert loaded.get_context_id() == a.get_context_id()
    assert loaded.slot_count() == 8


def test_debug_context_without_secret_keys_only_warns(capfd):
    first = mockup()
    second = qv.load_he_context(mockup().save_to_buffer())
    dc = qv.DebugContext(first, second)
    c = qv.Encoder(dc).encode_encrypt([1.0, 2.0])
    capfd.readouterr()
    c.negate()
    assert capfd.readouterr().out == "Warn: contexts don't have a secret key\n"
    assert list(qv.Encoder(dc).decrypt_decode_double(c))[:2] == [-1, -2]


def test_saved_seal_context_loads_as_seal_context():
    he = qv.HeContext.create("SEAL_CKKS", small_ckks())
    loaded = qv.load_he_context(he.save_to_buffer())
    assert type(loaded) is qv.SealCkksContext
    assert loaded.get_context_id() == he.get_context_id()
    assert loaded.has_secret_key() is False
    loaded.load_secret_key(he.save_secret_key())
    c = qv.Encoder(he).encode_encrypt([1.5, -2.0])
    values = qv.Encoder(loaded).decrypt_decode_double(c)
    assert values[0] == pytest.approx(1.5, abs=1e-3)
    assert values[1] == pytest.approx(-2.0, abs=1e-3)


def test_debug_context_over_seal_and_mockup(capfd):
    seal, mock = qv.SealCkksContext(), qv.MockupContext()
    dc = qv.DebugContext(seal, mock, diff_threshold=1e-3)
    dc.init(small_ckks())
    assert dc.get_library_name() == "DEBUG:SEAL:Mockup"
    assert dc.get_scheme_name() == "DEBUG:CKKS:Mockup"
    assert dc.get_signature() == "DEBUG_" + seal.get_signature()
    assert dc.slot_count() == 1024

    enc = qv.Encoder(dc)
    x = enc.encode_encrypt([1.0, 2.0, 3.0])
    y = enc.encode_encrypt([0.5, 0.25, -1.0])
    capfd.readouterr()
    x.add(y)
    assert capfd.readouterr().out == ""
    assert enc.decrypt_decode_double(x)[2] == pytest.approx(2.0, abs=1e-3)

    buf = dc.save_to_buffer()
    with pytest.raises(RuntimeError, match="^No registered HE context under the name "
                                           "DEBUG:SEAL:Mockup_DEBUG:CKKS:Mockup$"):
        qv.load_he_context(buf)
    seal2, mock2 = qv.SealCkksContext(), qv.MockupContext()
    loaded = qv.DebugContext(seal2, mock2)
    loaded.load_from_buffer(buf)
    assert loaded.get_context_id() == dc.get_context_id()
    assert seal2.get_context_id() == seal.get_context_id()
    assert mock2.get_context_id() == mock.get_context_id()
    assert loaded.has_secret_key() is False
    loaded.load_secret_key(dc.save_secret_key())
    assert seal2.has_secret_key() and mock2.has_secret_key()
