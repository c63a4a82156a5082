import math

import pytest

import _pyquorvanelite_cppwrappers as qv


SEPARATOR = "=" * 53


def requirement(slots=1024, depth=2, frac=30, integer=10, security=0, encrypt_only=True):
    req = qv.HeConfigRequirement.insecure(slots, depth, frac, integer)
    req.security_level = security
    if encrypt_only:
        pf = req.public_functions
        pf.relinearize = False
        pf.rotate = qv.RotationSetType.NO_ROTATIONS
        pf.conjugate = qv.ConjugationSupport.FALSE
        req.public_functions = pf
    return req


def test_registry_creates_initialised_seal_contexts():
    he = qv.HeContext.create("SEAL_CKKS", requirement(2048, 3, 25, 5))
    assert type(he) is qv.SealCkksContext
    assert isinstance(he, qv.HeContext)
    assert he.slot_count() == 2048
    assert he.get_top_chain_index() == 3
    assert he.get_signature() == "context_SEAL_KEY_DEG4096_MID25_EXT5_D3_INSEC"
    assert he.get_use_accurate_scaling() is True
    assert he.get_default_scale() == he.get_accurate_scale(3)
    with pytest.raises(RuntimeError, match="^HE context has already been initialized$"):
        he.init(requirement())
    with pytest.raises(RuntimeError, match="^Given configuration requirement is not feasible$"):
        qv.HeContext.create("SEAL_CKKS", requirement(frac=51))


def test_constructor_signature():
    assert qv.SealCkksContext.__init__.__doc__ == \
        "__init__(self: _pyquorvanelite_cppwrappers.SealCkksContext) -> None\n"
    assert qv.SealCkksContext.get_use_accurate_scaling.__doc__.startswith(
        "get_use_accurate_scaling(self: _pyquorvanelite_cppwrappers.SealCkksContext) -> bool\n")


@pytest.mark.parametrize("security,level,ending", [(0, 0, "_INSEC"), (100, 128, "_SEC"),
                                                   (129, 192, "_SEC"), (200, 256, "_SEC")])
def test_security_levels_are_rounded(security, level, ending):
    # Degree 8192 allows 118 bits at 256: two primes of 59 bits.
    he = qv.SealCkksContext()
    he.init(requirement(4096, 0, 50, 9, security))
    assert he.get_security_level() == level
    assert he.get_signature() == "context_SEAL_KEY_DEG8192_MID59_EXT0_D0" + ending


def test_accurate_scales_square_down_the_chain():
    he = qv.SealCkksContext()
    he.init(requirement(1024, 3, 30, 10))
    chain = he.get_modulus_chain()
    assert len(chain) == 4
    scales = [he.get_accurate_scale(i) for i in range(4)]
    for i in range(3, 0, -1):
        assert math.isclose(scales[i - 1], scales[i] ** 2 / chain[i], rel_tol=1e-15)
    # The top scale is the weighted geometric mean of q1..q3.
    expected = math.prod(chain[i] ** (2 ** (i - 1) / 7) for i in range(1, 4))
    assert math.isclose(scales[3], expected, rel_tol=1e-12)
    assert math.isclose(scales[0], scales[3], rel_tol=1e-9)


def test_descriptions():
    he = qv.SealCkksContext()
    assert he.print_signature().endswith(" (not initialized)\n")
    he.init(requirement(1024, 1, 30, 10))
    lines = he.print_signature().splitlines()
    assert lines[1] == "SEAL CKKS context. Context id=%d (WITH SECRET KEY)" % he.get_context_id()
    assert lines[2:] == ["PolyDegree=2048", "SecurityLevel=0", "Default scale=2^30"]
    assert he.to_string(qv.VERBOSITY_NONE) == ""
    assert he.to_string(qv.VERBOSITY_LOW) == "context SealCkksContext: slots=1024, security=0\n"
    detailed = he.to_string(qv.VERBOSITY_DETAILED).splitlines()
    assert detailed[:3] == [SEPARATOR, "ZERE-ZIRU-ZAR Context", SEPARATOR]
    assert detailed[3:10] == ["polyDegree                   : 2048",
                              "Default scale                : 2^30",
                              "slots                        : 1024",
                              "SecurityLevel                : 0",
                              "chain index                  : 2",
                              "coeff_modulus_size           : 3",
                              "total_coeff_modulus_bit_count: 110"]
    assert detailed[10] == "modulusChainBits={ 40 30 40 }"
    assert detailed[11].startswith("coeff_modulus={ ") and detailed[11].endswith(" }")
    assert detailed[-1] == SEPARATOR and len(detailed) == 13


def test_files_of_contexts_and_seed_only_keys(tmp_path):
    he = qv.SealCkksContext()
    he.init(requirement(1024, 2, 30, 10, encrypt_only=False))
    he.save_to_file(str(tmp_path / "ctx.bin"))
    he.save_secret_key_to_file(str(tmp_path / "seed.bin"), seed_only=True)
    assert (tmp_path / "seed.bin").stat().st_size == 26 + 1 + 64

    loaded = qv.load_he_context_from_file(str(tmp_path / "ctx.bin"))
    assert type(loaded) is qv.SealCkksContext
    assert loaded.get_signature() == he.get_signature()
    assert not loaded.has_secret_key()
    loaded.load_secret_key_from_file(str(tmp_path / "seed.bin"), seed_only=True)
    assert loaded.has_secret_key()
    # The seed regenerates exactly the key that the context made.
    assert loaded.save_secret_key() == he.save_secret_key()
    assert loaded.save_to_buffer() == he.save_to_buffer()


def test_accurate_scaling_off_survives_saving():
    he = qv.SealCkksContext()
    he.set_use_accurate_scaling(False)
    he.init(requirement(1024, 2, 30, 10))
    assert he.get_default_scale() == 2.0 ** 30
    data = he.save_to_buffer()
    assert data[-1:] == b"\x00"
    loaded = qv.load_he_context(data)
    assert loaded.get_use_accurate_scaling() is False
    assert loaded.get_default_scale() == 2.0 ** 30
    with pytest.raises(RuntimeError, match="^Accurate scaling is not enabled$"):
        loaded.get_accurate_scale(0)
    with pytest.raises(RuntimeError, match="^This context is already initialized$"):
        loaded.set_use_accurate_scaling(True)


def test_loading_into_an_initialised_context_is_refused():
    he = qv.SealCkksContext()
    he.init(requirement())
    data = he.save_to_buffer()
    with pytest.raises(RuntimeError, match="^This context is already initialized$"):
        he.load_from_buffer(data)
    fresh = qv.SealCkksContext()
    fresh.load_from_buffer(data)
    assert fresh.get_context_id() == he.get_context_id()
    assert fresh.get_signature() == he.get_signature()


def test_uninitialised_contexts_refuse_saving_and_keys():
    he = qv.SealCkksContext()
    assert he.get_security_level() == 128
    assert he.get_signature() == ""
    assert not he.has_secret_key()
    with pytest.raises(RuntimeError, match="^HE context has not been initialized yet$"):
        he.save_to_buffer()
    with pytest.raises(RuntimeError, match="^this HeContext does not have a secret key$"):
        he.save_secret_key()
    source = qv.SealCkksContext()
    source.init(requirement())
    with pytest.raises(RuntimeError, match="^HE context has not been initialized yet$"):
        he.load_secret_key(source.save_secret_key(seed_only=True), seed_only=True)
    # Nothing was consumed or changed: the context still initialises.
    he.init(requirement())
    assert he.has_secret_key()
