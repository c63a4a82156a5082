import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup

SAVED_MOCKUP_SIZE = 95
SAVED_KEY_SIZE = 27


def encrypt_only():
    pf = qv.PublicFunctions()
    pf.clear()
    pf.encrypt = True
    return pf


def requirement_fields(he):
    req = he.get_he_config_requirement()
    return (req.num_slots, req.multiplication_depth, req.fractional_part_precision,
            req.integer_part_precision, req.security_level, req.bootstrappable,
            req.automatic_bootstrapping)


def test_buffer_round_trip_through_load_he_context():
    he = mockup(16)
    he.set_default_scale(16.0)
    buf = he.save_to_buffer()
    assert type(buf) is bytes
    assert len(buf) == SAVED_MOCKUP_SIZE
    assert buf[:4] == b"NRVQ"
    loaded = qv.load_he_context(buf)
    assert type(loaded) is qv.MockupContext
    assert loaded.get_context_id() == he.get_context_id()
    assert loaded.get_default_scale() == 16.0
    assert requirement_fields(loaded) == requirement_fields(he)
    assert loaded.has_secret_key() is False
    assert loaded.save_to_buffer() == buf


def test_load_from_buffer_into_a_new_mockup_and_refusal_of_a_second_load():
    he = mockup(8, 3)
    buf = he.save_to_buffer()
    target = qv.MockupContext()
    assert target.load_from_buffer(buf) is None
    assert target.slot_count() == 8
    assert target.get_context_id() == he.get_context_id()
    with pytest.raises(RuntimeError, match="^HE context has already been initialized$"):
        target.load_from_buffer(mockup(16).save_to_buffer())
    assert target.slot_count() == 8
    assert target.get_context_id() == he.get_context_id()


def test_failed_load_leaves_the_context_ready_for_another_load():
    he = mockup(16)
    buf = he.save_to_buffer()
    target = qv.MockupContext()
    with pytest.raises(RuntimeError):
        target.load_from_buffer(buf[:50])
    assert target.print_signature().endswith(" (not initialized)\n")
    target.load_from_buffer(buf)
    assert target.get_context_id() == he.get_context_id()


def test_saving_with_fewer_public_functions():
    he = mockup(16)
    loaded = qv.load_he_context(he.save_to_buffer(public_functions=encrypt_only()))
    pf = loaded.get_public_functions()
    assert pf.encrypt is True
    assert pf.relinearize is False
    assert pf.rotate == qv.RotationSetType.NO_ROTATIONS
    with pytest.raises(ValueError, match="^The PublicFunctions to be saved must be a subset"):
        loaded.save_to_buffer(qv.PublicFunctions())


def test_saving_an_uninitialised_context_is_refused():
    with pytest.raises(RuntimeError, match="^HE context has not been initialized yet$"):
        qv.MockupContext().save_to_buffer()


def test_files_of_contexts(tmp_path):
    he = mockup(16)
    path = str(tmp_path / "context.bin")
    assert he.save_to_file(path) == SAVED_MOCKUP_SIZE
    assert (tmp_path / "context.bin").read_bytes() == he.save_to_buffer()
    loaded = qv.load_he_context_from_file(path)
    assert type(loaded) is qv.MockupContext
    assert loaded.get_context_id() == he.get_context_id()
    target = qv.MockupContext()
    assert target.load_from_file(file_name=path) == SAVED_MOCKUP_SIZE

    other = str(tmp_path / "encrypt-only.bin")
    assert he.save_to_file(file_name=other, public_fuctions=encrypt_only()) == SAVED_MOCKUP_SIZE
    assert qv.load_he_context_from_file(other).get_public_functions().relinearize is False
    with pytest.raises(TypeError):
        he.save_to_file(file_name=other, public_functions=encrypt_only())

    missing = str(tmp_path / "missing.bin")
    with pytest.raises(RuntimeError, match="^Failed to open file "):
        qv.load_he_context_from_file(missing)


def test_secret_key_through_bytes():
    he = mockup(16)
    key = he.save_secret_key()
    assert type(key) is bytes
    assert len(key) == SAVED_KEY_SIZE
    loaded = qv.load_he_context(he.save_to_buffer())
    assert loaded.load_secret_key(key) is None
    assert loaded.has_secret_key() is True
    with pytest.raises(RuntimeError, match="^this HeContext already has a secret key$"):
        loaded.load_secret_key(key)
    with pytest.raises(RuntimeError,
                       match="^this HeContext does not support secret key I/O using seeds$"):
        he.save_secret_key(seed_only=True)
    with pytest.raises(TypeError):
        qv.load_he_context(he.save_to_buffer()).load_secret_key(bytearray(key))


def test_secret_key_refusals():
    he = mockup(16)
    key = he.save_secret_key()
    seeded = key[:-1] + b"\x01"
    loaded = qv.load_he_context(he.save_to_buffer())
    with pytest.raises(RuntimeError,
                       match="^expecting seedOnly=false, but the given stream has seedOnly=true$"):
        loaded.load_secret_key(seeded)
    foreign = qv.load_he_context(mockup(16).save_to_buffer())
    with pytest.raises(RuntimeError, match="^loading failed due to mismatching contexts.$"):
        foreign.load_secret_key(key)
    assert foreign.has_secret_key() is False
    with pytest.raises(RuntimeError, match="^this HeContext does not have a secret key$"):
        foreign.save_secret_key()


def test_secret_key_through_files(tmp_path):
    he = mockup(16)
    path = str(tmp_path / "key.bin")
    assert he.save_secret_key_to_file(path) is None
    assert (tmp_path / "key.bin").read_bytes() == he.save_secret_key()
    loaded = qv.load_he_context(he.save_to_buffer())
    loaded.load_secret_key_from_file(file_name=path, seed_only=False)
    assert loaded.has_secret_key() is True


def test_load_he_context_refusals():
    he = mockup(16)
    with pytest.raises(TypeError):
        qv.load_he_context(he.save_to_buffer().decode("latin-1"))
    with pytest.raises(RuntimeError,
                       match="^loading failed due to a mismatching class name field$"):
        qv.load_he_context(he.save_secret_key())
    with pytest.raises(RuntimeError, match="^Input file is corrupt, or not an Quorvane file.$"):
        qv.load_he_context(b"prefix" + he.save_to_buffer())


def test_debug_context_through_bytes():
    h1, h2 = mockup(8, 3), mockup(8, 3)
    dc = qv.DebugContext(h1, h2)
    buf = dc.save_to_buffer()
    with pytest.raises(RuntimeError, match="^No registered HE context under the name "
                                           "DEBUG:Mockup:Mockup_DEBUG:Mockup:Mockup$"):
        qv.load_he_context(buf)
    m1, m2 = qv.MockupContext(), qv.MockupContext()
    loaded = qv.DebugContext(m1, m2)
    loaded.load_from_buffer(buf)
    assert loaded.get_context_id() == dc.get_context_id()
    assert m1.get_context_id() == h1.get_context_id()
    assert m2.get_context_id() == h2.get_context_id()
    loaded.load_secret_key(dc.save_secret_key())
    assert m1.has_secret_key() and m2.has_secret_key()
