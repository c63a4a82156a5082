import math
import struct

import pytest

import _pyquorvanelite_cppwrappers as qv



def small_requirement(slots=1024, depth=2, frac=30, integer=10):
    req = qv.HeConfigRequirement.insecure(slots, depth, frac, integer)
    pf = req.public_functions
    pf.relinearize = False
    pf.rotate = qv.RotationSetType.NO_ROTATIONS
    pf.conjugate = qv.ConjugationSupport.FALSE
    req.public_functions = pf
    return req


def test_construction_defaults():
    he = qv.SealCkksContext()
    assert isinstance(he, qv.HeContext)
    assert he.get_use_accurate_scaling() is True
    assert qv.SealCkksContext.__doc__.startswith(
        "An implementation of HeContext using the SEAL CKKS backend.")


def test_accurate_scaling_before_and_after_init():
    he = qv.SealCkksContext()
    with pytest.raises(RuntimeError, match="^This context has not been initialized$"):
        he.get_accurate_scale(0)
    he.set_use_accurate_scaling(False)
    assert he.get_use_accurate_scaling() is False
    he.init(small_requirement())
    with pytest.raises(RuntimeError, match="^Accurate scaling is not enabled$"):
        he.get_accurate_scale(0)
    with pytest.raises(RuntimeError, match="^This context is already initialized$"):
        he.set_use_accurate_scaling(True)


def test_accurate_scales_follow_the_modulus_chain():
    he = qv.SealCkksContext()
    he.init(small_requirement())
    scales = [he.get_accurate_scale(i) for i in range(3)]
    assert all(isinstance(s, float) for s in scales)
    assert math.isclose(math.log2(scales[2]), 30, abs_tol=0.01)
    assert math.isclose(scales[0] / scales[2], 1.0, rel_tol=1e-9)
    for index in (-1, 3):
        with pytest.raises(RuntimeError,
                           match=r"Assertion failed: \(chainIndex >= 0\) && "
                                 r"\(chainIndex <= getTopChainIndex\(\)\)"):
            he.get_accurate_scale(index)


def test_depth_zero_keeps_the_fractional_scale():
    he = qv.SealCkksContext()
    he.init(small_requirement(depth=0))
    assert he.get_accurate_scale(0) == 2.0 ** 30


def test_init_refusals():
    he = qv.SealCkksContext()
    with pytest.raises(RuntimeError, match="^Given configuration requirement is not feasible$"):
        he.init(small_requirement(frac=51))  # 61-bit primes
    bad = small_requirement()
    bad.security_level = 300
    with pytest.raises(RuntimeError, match="^Security level above 256 not supported$"):
        he.init(bad)
    # Still uninitialised and usable.
    he.init(small_requirement())
    with pytest.raises(RuntimeError, match="^HE context has already been initialized$"):
        he.init(small_requirement())


def test_failed_seal_init_leaves_a_usable_context():
    he = qv.SealCkksContext()
    with pytest.raises(RuntimeError, match="^failed to find enough qualifying primes$"):
        he.init(small_requirement(slots=4096, frac=14, integer=0))  # no 14-bit NTT primes
    he.set_use_accurate_scaling(False)
    he.init(small_requirement())
    assert he.get_use_accurate_scaling() is False


def test_argument_types():
    he = qv.SealCkksContext()
    with pytest.raises(TypeError):
        he.init(5)
    with pytest.raises(TypeError):
        he.set_use_accurate_scaling("yes")
    with pytest.raises(TypeError):
        he.get_accurate_scale(1.5)


def test_description():
    he = qv.SealCkksContext()
    assert he.to_string() == "uninitialized SEAL CKKS context\n"
    he.init(small_requirement())
    assert he.to_string() == "context SealCkksContext: slots=1024, security=0\n"
    assert "ZERE-ZIRU-ZAR Context" in he.to_string(qv.VERBOSITY_DETAILED)


INDENT = " " * 13
END = "\n" + " " * 11


@pytest.mark.parametrize("name,lines", [
    ("init", ["Initializes this SealCkksContext according the given requirement.", "",
              ":param req: an HeConfigRequirement object, indicating the required",
              " " * 12 + "configuration parameters (e.g. securityLevel, numSlots).",
              ":raises RuntimeError: if it is not possible to fulfill the given",
              " " * 22 + "requirement."]),
    ("set_use_accurate_scaling",
     ["Sets whether to enable the accurate scaling mode or not (default:",
      "enabled). Cannot be called after the context is initialized.", "",
      ":param use_accurate_scaling: Whether to enable the accurate scaling mode or",
      "  not."]),
    ("get_use_accurate_scaling", ["Returns whether accurate scaling mode is enabled or not."]),
    ("get_accurate_scale",
     ["Returns the accurate scale to be used for a given chain index. Only",
      "supported when accurate scaling mode is enabled. Cannot be called before",
      "the context is initialized.", "",
      ":param chain_index: The chain index to get the scale of."]),
])
def test_docstrings(name, lines):
    expected = "\n" + "\n".join(INDENT + line if line else "" for line in lines) + END
    doc = getattr(qv.SealCkksContext, name).__doc__
    # The binding framework puts the signature and a blank line before the
    # docstring and a line end after it.
    assert doc.split(") -> ", 1)[1].split("\n\n", 1)[1] == expected + "\n"



def test_signatures():
    assert "init(self: _pyquorvanelite_cppwrappers.SealCkksContext, " \
           "req: _pyquorvanelite_cppwrappers.HeConfigRequirement) -> None" \
           in qv.SealCkksContext.init.__doc__
    assert "(self: _pyquorvanelite_cppwrappers.SealCkksContext, use_accurate_scaling: bool)" \
           " -> None" in qv.SealCkksContext.set_use_accurate_scaling.__doc__
    assert "-> bool" in qv.SealCkksContext.get_use_accurate_scaling.__doc__
    assert "(self: _pyquorvanelite_cppwrappers.SealCkksContext, chain_index: int) -> float" \
           in qv.SealCkksContext.get_accurate_scale.__doc__


def test_queries_through_the_he_context_class():
    he = qv.SealCkksContext()
    he.init(small_requirement())
    assert he.slot_count() == 1024
    assert he.get_top_chain_index() == 2
    assert he.get_security_level() == 0
    assert he.has_secret_key()
    assert he.get_library_name() == "SEAL" and he.get_scheme_name() == "CKKS"
    assert he.get_signature() == "context_SEAL_KEY_DEG2048_MID30_EXT10_D2_INSEC"
    assert he.get_default_scale() == he.get_accurate_scale(2)
    assert len(he.get_modulus_chain()) == 3


def test_clones_are_seal_contexts():
    he = qv.SealCkksContext()
    he.init(small_requirement())
    copy = he.clone()
    assert type(copy) is qv.SealCkksContext
    assert copy.get_use_accurate_scaling() is True
    assert copy.get_signature() == ""
    copy.init(small_requirement(depth=1))
    assert copy.get_top_chain_index() == 1


def test_registry_contexts_reach_python_as_seal_contexts():
    assert qv.HeContext.is_registered_context("SEAL_CKKS")
    he = qv.HeContext.create("SEAL_CKKS", small_requirement(depth=1))
    assert type(he) is qv.SealCkksContext
    assert he.get_accurate_scale(1) == he.get_default_scale()


@pytest.mark.parametrize("name,args", [("init", (None,)), ("set_use_accurate_scaling", (True,)),
                                       ("get_use_accurate_scaling", ()),
                                       ("get_accurate_scale", (0,))])
def test_none_is_not_a_context(name, args):
    if name == "init":
        args = (small_requirement(),)
    with pytest.raises(TypeError):
        getattr(qv.SealCkksContext, name)(None, *args)


def full_requirement():
    req = qv.HeConfigRequirement.insecure(1024, 1, 30, 10)
    pf = req.public_functions
    pf.rotate = qv.RotationSetType.CUSTOM_ROTATIONS
    pf.set_rotation_steps([1, -1])
    req.public_functions = pf
    return req


def test_saved_context_and_secret_keys_through_bytes():
    he = qv.SealCkksContext()
    he.init(full_requirement())
    loaded = qv.load_he_context(he.save_to_buffer())
    assert type(loaded) is qv.SealCkksContext
    assert not loaded.has_secret_key()
    assert loaded.get_signature() == he.get_signature()
    assert loaded.get_context_id() == he.get_context_id()
    assert [loaded.get_accurate_scale(i) for i in range(2)] == \
        [he.get_accurate_scale(i) for i in range(2)]

    seed = he.save_secret_key(seed_only=True)
    full = he.save_secret_key()
    assert len(seed) == 26 + 1 + 64
    assert len(full) > 1000
    loaded.load_secret_key(seed, seed_only=True)
    assert loaded.has_secret_key()
    assert loaded.save_secret_key(seed_only=True) == seed
    with pytest.raises(RuntimeError, match="^this HeContext already has a secret key$"):
        loaded.load_secret_key(full)

    other = qv.load_he_context(he.save_to_buffer())
    other.load_secret_key(full)
    with pytest.raises(RuntimeError, match=r"Assertion failed: seedArray.has_value\(\)"):
        other.save_secret_key(seed_only=True)


def test_saving_a_part_of_the_rotation_keys_is_refused():
    he = qv.SealCkksContext()
    he.init(full_requirement())
    pf = he.get_public_functions()
    pf.set_rotation_steps([1])
    with pytest.raises(ValueError, match="^SealCkksContext does not support saving a non-trivial "
                                         "subset of the conjugation and rotation keys$"):
        he.save_to_buffer(pf)
    pf = he.get_public_functions()
    pf.relinearize = False
    loaded = qv.load_he_context(he.save_to_buffer(pf))
    assert loaded.get_public_functions().relinearize is False


def test_secret_key_of_another_context_under_the_same_id_is_refused():
    a = qv.SealCkksContext()
    a.init(full_requirement())
    b = qv.SealCkksContext()
    b.init(full_requirement())
    # b's key relabelled with a's context id passes the header check; only the
    # key check tells the keys apart. The id follows magic, version and the
    # class name "SECRETKEY".
    foreign = bytearray(b.save_secret_key(seed_only=True))
    id_offset = 4 + 4 + 4 + len(b"SECRETKEY\0")
    assert struct.unpack_from("<i", foreign, id_offset)[0] == b.get_context_id()
    struct.pack_into("<i", foreign, id_offset, a.get_context_id())
    loaded = qv.load_he_context(a.save_to_buffer())
    with pytest.raises(RuntimeError,
                       match="^The secret key does not match the public keys of this context$"):
        loaded.load_secret_key(bytes(foreign), seed_only=True)
    assert not loaded.has_secret_key()
    loaded.load_secret_key(a.save_secret_key(seed_only=True), seed_only=True)
    assert loaded.has_secret_key()
