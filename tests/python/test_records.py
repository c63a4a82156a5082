import struct

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup


def le32(*values):
    return struct.pack("<%di" % len(values), *values)


# ---------------------------------------------------------------- PublicFunctions

def test_public_functions_defaults():
    pf = qv.PublicFunctions()
    assert pf.encrypt is True and pf.relinearize is True
    assert pf.rotate == qv.RotationSetType.DEFAULT_ROTATIONS
    assert pf.conjugate == qv.ConjugationSupport.DEFAULT
    steps = pf.get_rotation_steps()
    assert steps.dtype == np.int32 and steps.shape == (0,)
    assert isinstance(pf, qv.SaveableBasic) and isinstance(pf, qv.Printable)


def test_public_functions_clear():
    pf = qv.PublicFunctions()
    pf.set_rotation_steps([1, 2])
    pf.clear()
    assert pf.encrypt is False and pf.relinearize is False
    assert pf.rotate == qv.RotationSetType.NO_ROTATIONS
    assert pf.conjugate == qv.ConjugationSupport.FALSE
    assert pf.get_rotation_steps().size == 0


def test_rotation_set_and_conjugation_enums():
    assert [int(v) for v in (qv.RotationSetType.NO_ROTATIONS, qv.RotationSetType.DEFAULT_ROTATIONS,
                             qv.RotationSetType.CUSTOM_ROTATIONS)] == [0, 1, 2]
    assert int(qv.ConjugationSupport.TRUE) == 2 and qv.ConjugationSupport.FALSE == 0
    for name in ("NO_ROTATIONS", "DEFAULT_ROTATIONS", "CUSTOM_ROTATIONS", "TRUE", "FALSE", "DEFAULT"):
        assert not hasattr(qv, name)
    pf = qv.PublicFunctions()
    with pytest.raises(TypeError):
        pf.rotate = 2
    with pytest.raises(TypeError):
        pf.conjugate = 0
    pf.rotate = qv.RotationSetType.CUSTOM_ROTATIONS
    pf.conjugate = qv.ConjugationSupport.TRUE
    assert pf.rotate == qv.RotationSetType.CUSTOM_ROTATIONS
    assert pf.conjugate == qv.ConjugationSupport.TRUE


@pytest.mark.parametrize("steps, expected", [
    ([1, 2, 4, 2], [1, 2, 4, 2]),
    (np.array([[1, 2, 3], [4, 5, 6]], dtype=np.int32), [1, 2, 3, 4, 5, 6]),
    (np.array([[1, 2], [3, 4]], dtype=np.int32).T, [1, 3, 2, 4]),
    (np.array([-7, 8], dtype=np.int64), [-7, 8]),
    (np.array([3, 9], dtype=np.uint8), [3, 9]),
    (np.array([2**31 - 1, -2**31], dtype=np.int64), [2**31 - 1, -2**31]),
    ([], []),
    (np.array([], dtype=np.float64), []),
    ((5, -5), [5, -5]),
])
def test_set_rotation_steps_accepts_integers(steps, expected):
    pf = qv.PublicFunctions()
    pf.set_rotation_steps([99])
    pf.set_rotation_steps(steps)
    result = pf.get_rotation_steps()
    assert result.dtype == np.int32 and result.ndim == 1
    assert result.tolist() == expected


@pytest.mark.parametrize("steps, error, message", [
    (np.array([1.0, 2.0]), TypeError, "Rotation steps must be integers; got an array of dtype float64"),
    ([1.5], TypeError, "Rotation steps must be integers; got an array of dtype float64"),
    (np.array([True]), TypeError, "Rotation steps must be integers; got an array of dtype bool"),
    (["a"], TypeError, "Rotation steps must be integers; got an array of dtype <U1"),
    (np.array([2**31], dtype=np.int64), ValueError,
     "Rotation step 2147483648 is outside the range of 32-bit signed integers"),
    ([-2**31 - 1], ValueError,
     "Rotation step -2147483649 is outside the range of 32-bit signed integers"),
    (np.array([2**64 - 1], dtype=np.uint64), ValueError,
     "Rotation step 18446744073709551615 is outside the range of 32-bit signed integers"),
    ([2**70], ValueError,
     "Rotation step 1180591620717411303424 is outside the range of 32-bit signed integers"),
    ([1, "x"], TypeError, "Rotation steps must be integers"),
])
def test_set_rotation_steps_refuses_without_casting(steps, error, message):
    pf = qv.PublicFunctions()
    pf.set_rotation_steps([4])
    with pytest.raises(error) as info:
        pf.set_rotation_steps(steps)
    assert str(info.value).startswith(message)
    assert pf.get_rotation_steps().tolist() == [4]


def test_rotation_steps_are_copied():
    pf = qv.PublicFunctions()
    arr = np.array([1, 2], dtype=np.int32)
    pf.set_rotation_steps(arr)
    arr[0] = 50
    out = pf.get_rotation_steps()
    out[1] = 60
    assert pf.get_rotation_steps().tolist() == [1, 2]
    with pytest.raises(TypeError):
        pf.set_rotation_steps(object())
    pf.set_rotation_steps(rotation_steps=[3])
    assert pf.get_rotation_steps().tolist() == [3]


def test_public_functions_prints_default_text():
    pf = qv.PublicFunctions()
    for verbosity in (qv.VERBOSITY_NONE, qv.VERBOSITY_REGULAR, qv.VERBOSITY_EXTRA_DETAILED):
        assert pf.to_string(verbosity) == "Object (detailed printing not implemented yet)"
    assert repr(pf) == "Object (detailed printing not implemented yet)"


def test_public_functions_saved_bytes_and_round_trip():
    assert qv.PublicFunctions().save_to_buffer() == b"\x01\x01" + le32(1, 1, 0)
    pf = qv.PublicFunctions()
    pf.encrypt = False
    pf.rotate = qv.RotationSetType.CUSTOM_ROTATIONS
    pf.conjugate = qv.ConjugationSupport.TRUE
    pf.set_rotation_steps([3, -8, 3])
    data = pf.save_to_buffer()
    assert data == b"\x00\x01" + le32(2, 2, 3, 3, -8, 3)
    loaded = qv.PublicFunctions()
    loaded.load_from_buffer(data + b"trailing bytes are ignored")
    assert loaded.encrypt is False and loaded.relinearize is True
    assert loaded.rotate == qv.RotationSetType.CUSTOM_ROTATIONS
    assert loaded.conjugate == qv.ConjugationSupport.TRUE
    assert loaded.get_rotation_steps().tolist() == [3, -8, 3]


@pytest.mark.parametrize("data, message", [
    (b"\x01\x01" + le32(3, 1, 0), "Invalid saved PublicFunctions: rotate is 3, expected a value in [0, 2]"),
    (b"\x01\x01" + le32(2, 1, 2**31 - 1),
     "BinIoUtils::readInt32Checked() failed: The loaded value (2147483647) doesn't fall in the "
     "specified valid range ([0, 100000])."),
    (b"\x01\x01" + le32(2, 1, 2, 5), "Input stream ended or failed while reading an int32"),
])
def test_public_functions_load_refusals(data, message):
    pf = qv.PublicFunctions()
    with pytest.raises(RuntimeError) as info:
        pf.load_from_buffer(data)
    assert str(info.value).startswith(message)
    assert pf.rotate == qv.RotationSetType.DEFAULT_ROTATIONS
    with pytest.raises(TypeError):
        pf.load_from_buffer(bytearray(qv.PublicFunctions().save_to_buffer()))


def test_public_functions_signatures():
    assert "numpy.ndarray[numpy.int32]" in qv.PublicFunctions.set_rotation_steps.__doc__
    assert "-> numpy.ndarray[numpy.int32]" in qv.PublicFunctions.get_rotation_steps.__doc__


# ---------------------------------------------------------------- HeConfigRequirement

REQ_TEXT = ("He configuration requirement:\n"
            "Security level: 128\n"
            "Integer part precision: 10\n"
            "Fractional part precision: 20\n"
            "Number of slots: 1024\n"
            "Multiplication depth: 2\n"
            "Bootstrappable: False\n"
            "Automatic bootstrapping: False\n")


def test_requirement_defaults():
    req = qv.HeConfigRequirement(1024, 2, 20, 10)
    assert (req.num_slots, req.multiplication_depth, req.fractional_part_precision,
            req.integer_part_precision, req.security_level) == (1024, 2, 20, 10, 128)
    assert req.bootstrappable is False and req.automatic_bootstrapping is False
    pf = req.public_functions
    assert pf.encrypt and pf.relinearize
    assert pf.rotate == qv.RotationSetType.DEFAULT_ROTATIONS
    assert pf.conjugate == qv.ConjugationSupport.DEFAULT
    assert pf.get_rotation_steps().size == 0
    with pytest.raises(RuntimeError,
                       match=r"^This HeConfigRequirement does not have multi-party configuration\.$"):
        req.get_multi_party_config()
    assert isinstance(req, qv.Printable)
    assert not hasattr(req, "save_to_buffer")


@pytest.mark.parametrize("level", [127, 0, -5])
def test_requirement_refuses_low_security(level):
    with pytest.raises(RuntimeError) as info:
        qv.HeConfigRequirement(1024, 2, 20, 10, level)
    msg = str(info.value)
    assert msg.startswith("hebase/HeConfigRequirement.cpp:")
    assert msg.endswith(": HeConfigRequirement: Assertion failed: securityLevel >= 128")


def test_requirement_security_levels_and_insecure():
    assert qv.HeConfigRequirement(1024, 2, 20, 10, 256).security_level == 256
    assert qv.HeConfigRequirement(1024, 2, 20, 10, security_level=192).security_level == 192
    req = qv.HeConfigRequirement.insecure(1024, 2)
    assert isinstance(req, qv.HeConfigRequirement)
    assert (req.security_level, req.fractional_part_precision, req.integer_part_precision) == (0, -1, -1)
    req2 = qv.HeConfigRequirement.insecure(16, 1, 30, 5)
    assert (req2.num_slots, req2.fractional_part_precision, req2.integer_part_precision) == (16, 30, 5)
    req3 = qv.HeConfigRequirement(1024, 2, 20, 10)
    req3.security_level = 0
    assert req3.security_level == 0
    req3.automatic_bootstrapping = True
    assert req3.automatic_bootstrapping is True and req3.bootstrappable is False


@pytest.mark.parametrize("args", [(), (1024, 2, 20), (1024.0, 2, 20, 10), (2**31, 2, 20, 10),
                                  (1024, "2", 20, 10)])
def test_requirement_argument_types(args):
    with pytest.raises(TypeError):
        qv.HeConfigRequirement(*args)


def test_requirement_integer_setters_refuse_bad_values():
    req = qv.HeConfigRequirement(1024, 2, 20, 10)
    for value in (1.5, 2**31, "3"):
        with pytest.raises(TypeError):
            req.num_slots = value
    assert req.num_slots == 1024


def test_public_functions_property_refers_to_the_field():
    req = qv.HeConfigRequirement(1024, 2, 20, 10)
    pf = req.public_functions
    pf.clear()
    assert req.public_functions.encrypt is False
    pf.set_rotation_steps([1, 2])
    assert req.public_functions.get_rotation_steps().tolist() == [1, 2]
    del req
    # The field's owner stays alive while the object obtained from it is used.
    assert pf.encrypt is False
    pf.encrypt = True
    assert pf.get_rotation_steps().tolist() == [1, 2]


def test_public_functions_assignment_copies():
    req = qv.HeConfigRequirement(1024, 2, 20, 10)
    pf = qv.PublicFunctions()
    pf.rotate = qv.RotationSetType.CUSTOM_ROTATIONS
    pf.set_rotation_steps([5])
    req.public_functions = pf
    pf.set_rotation_steps([6, 7])
    pf.encrypt = False
    assert req.public_functions.get_rotation_steps().tolist() == [5]
    assert req.public_functions.encrypt is True
    assert req.public_functions.rotate == qv.RotationSetType.CUSTOM_ROTATIONS


def test_requirement_prints():
    req = qv.HeConfigRequirement(1024, 2, 20, 10)
    text = REQ_TEXT + "Rotation keys policy: default rotation keys\n"
    assert repr(req) == text
    assert req.to_string() == text
    assert str(req) == text
    assert req.to_string(qv.VERBOSITY_NONE) == ""
    req.public_functions.rotate = qv.RotationSetType.CUSTOM_ROTATIONS
    req.public_functions.set_rotation_steps([1, -2])
    assert repr(req) == REQ_TEXT + "Rotation keys policy: custom, 2 keys required:\n[1, -2]\n"
    req.public_functions.clear()
    assert repr(req) == REQ_TEXT + "Rotation keys policy: no rotation keys\n"


def test_multi_party_config_members_name_the_library_type():
    doc = qv.HeConfigRequirement.set_multi_party_config.__doc__
    assert "mp_config: quorvane::MultiPartyConfig" in doc
    assert "-> quorvane::MultiPartyConfig" in qv.HeConfigRequirement.get_multi_party_config.__doc__


def test_multi_party_config_is_copied_in_and_out():
    req = qv.HeConfigRequirement.insecure(16, 2)
    first = qv.MultiPartyConfig()
    first.participant_id = 1
    req.set_multi_party_config(first)
    second = qv.MultiPartyConfig()
    second.participant_id = 2
    req.set_multi_party_config(second)
    second.participant_id = 3
    got = req.get_multi_party_config()
    assert got.participant_id == 2
    got.participant_id = 9
    assert req.get_multi_party_config().participant_id == 2
    assert "Multi-Party: True\nParticipant Id: 2\n" in repr(req)


# ---------------------------------------------------------------- BootstrapConfig

def test_bootstrap_config_defaults_and_properties():
    bc = qv.BootstrapConfig()
    assert bc.support_complex_data is False
    assert bc.duplicate_real_input is False
    assert bc.target_chain_index == -1
    assert bc.verbose == qv.VERBOSITY_NONE
    assert bc.store_enc_matrices is True
    assert bc.load_enc_matrices is True
    bc.support_complex_data = True
    bc.target_chain_index = 5
    bc.verbose = qv.VERBOSITY_DETAILED
    bc.load_enc_matrices = False
    assert (bc.support_complex_data, bc.target_chain_index, bc.verbose, bc.load_enc_matrices) == \
        (True, 5, qv.VERBOSITY_DETAILED, False)
    with pytest.raises(TypeError):
        bc.verbose = 1
    assert not isinstance(bc, qv.Printable)
    assert not hasattr(bc, "to_string") and not hasattr(bc, "save_to_buffer")


# ---------------------------------------------------------------- HeTraits and DeviceType

TRAIT_PROPERTIES = [
    "supports_bootstrap_utils", "supports_botstrapping", "supports_explicit_rescale",
    "automatically_manages_chain_indices", "automatically_manages_rescale", "defers_rescale",
    "supports_explicit_chain_indices", "supports_complex_numbers", "supports_bitwise_operations",
    "is_modular_arithmetic", "supports_scaled_encoding", "arithmetic_modulus", "is_debug_empty",
    "supports_decrypt_added_noise", "supports_sec_key_seed", "supports_gpu",
    "supports_handle_transparent_ciphertexts",
]


def test_he_traits_class():
    with pytest.raises(TypeError, match="No constructor defined"):
        qv.HeTraits()
    assert qv.HeTraits.__doc__ == "A set of flags characterizing the underyling HE scheme."
    props = [n for n, v in vars(qv.HeTraits).items() if isinstance(v, property)]
    assert props == TRAIT_PROPERTIES
    for name in TRAIT_PROPERTIES:
        assert vars(qv.HeTraits)[name].fset is not None
    assert not hasattr(qv.HeTraits, "supports_bootstrapping")


def test_device_type_is_registered_before_traits():
    names = list(vars(qv))
    assert names.index("PublicFunctions") < names.index("DeviceType") < names.index("HeTraits") \
        < names.index("HeConfigRequirement")
    assert names.index("BootstrapConfig") < names.index("RotationSetType")
    assert qv.DEVICE_CPU is qv.DeviceType.DEVICE_CPU and int(qv.DEVICE_GPU) == 1


def _mockup_traits():
    he = mockup(16, 2, 20, 10)
    return he


def test_traits_of_a_context_are_a_snapshot():
    he = _mockup_traits()
    traits = he.get_traits()
    assert traits.supports_bootstrap_utils is True
    assert traits.supports_explicit_chain_indices is True
    assert traits.supports_complex_numbers is True
    assert traits.supports_botstrapping is False
    assert traits.supports_gpu is False
    traits.supports_gpu = True
    assert traits.supports_gpu is True
    assert he.get_traits().supports_gpu is False


def test_traits_setter_conversions():
    traits = _mockup_traits().get_traits()
    for value, expected in ((1, True), (0, False), (2.5, True), (None, False), (True, True)):
        traits.defers_rescale = value
        assert traits.defers_rescale is expected
    for bad in ("yes", [1]):
        with pytest.raises(TypeError):
            traits.defers_rescale = bad
    traits.arithmetic_modulus = 4294967295
    assert traits.arithmetic_modulus == 4294967295
    for bad in (4294967296, -1, 1.0):
        with pytest.raises(TypeError):
            traits.arithmetic_modulus = bad
    assert traits.arithmetic_modulus == 4294967295


# ---------------------------------------------------------------- NumberConfig

def test_number_enums():
    assert [int(v) for v in (qv.NumberSize.SIZE_1_BIT, qv.NumberSize.SIZE_8_BIT,
                             qv.NumberSize.SIZE_16_BIT, qv.NumberSize.SIZE_32_BIT)] == [0, 1, 2, 3]
    assert int(qv.NumberSigned.SIGNED) == 0 and int(qv.NumberSigned.UNSIGNED) == 1
    for name in ("SIZE_8_BIT", "UNSIGNED", "SIGNED"):
        assert not hasattr(qv, name)


def number_bytes(kind, size, sign, fixed, bits):
    return struct.pack("<iii?Q", kind, size, sign, fixed, bits)


S, U = qv.NumberSigned.SIGNED, qv.NumberSigned.UNSIGNED
N = qv.NumberSize


@pytest.mark.parametrize("make, expected", [
    (lambda: qv.NumberConfig(), number_bytes(0, 0, 1, False, 0)),
    (lambda: qv.NumberConfig.bit(), number_bytes(0, 0, 1, False, 0)),
    (lambda: qv.NumberConfig.integer(N.SIZE_32_BIT, S), number_bytes(1, 3, 0, False, 0)),
    (lambda: qv.NumberConfig.integer(N.SIZE_8_BIT, U), number_bytes(1, 1, 1, False, 0)),
    (lambda: qv.NumberConfig.fixed_point(N.SIZE_8_BIT, S, 7), number_bytes(2, 1, 0, True, 7)),
    (lambda: qv.NumberConfig.fixed_point(N.SIZE_8_BIT, U, 8), number_bytes(2, 1, 1, True, 8)),
    (lambda: qv.NumberConfig.fixed_point(N.SIZE_32_BIT, U, 32), number_bytes(2, 3, 1, True, 32)),
    (lambda: qv.NumberConfig.floating_point(N.SIZE_16_BIT), number_bytes(2, 2, 0, False, 0)),
])
def test_number_config_factories(make, expected):
    config = make()
    data = config.save_to_buffer()
    assert len(data) == 21
    assert data == expected
    fresh = qv.NumberConfig.integer(N.SIZE_16_BIT, S)
    fresh.load_from_buffer(data)
    assert fresh.save_to_buffer() == expected
    assert config.to_string() == "Object (detailed printing not implemented yet)"


@pytest.mark.parametrize("make, message", [
    (lambda: qv.NumberConfig.fixed_point(N.SIZE_8_BIT, S, 8),
     "A fixed point fraction with 7 magnitude bits cannot contain 8 fracitonal part bits"),
    (lambda: qv.NumberConfig.fixed_point(N.SIZE_32_BIT, U, 33),
     "A fixed point fraction with 32 magnitude bits cannot contain 33 fracitonal part bits"),
    (lambda: qv.NumberConfig.fixed_point(N.SIZE_1_BIT, S, 0),
     "A single bit cannot represent a fixed point fraction"),
    (lambda: qv.NumberConfig.fixed_point(N.SIZE_1_BIT, U, 99),
     "A single bit cannot represent a fixed point fraction"),
    (lambda: qv.NumberConfig.floating_point(N.SIZE_8_BIT),
     "Floating point is supported for 16 or 32 bits only"),
    (lambda: qv.NumberConfig.floating_point(N.SIZE_1_BIT),
     "Floating point is supported for 16 or 32 bits only"),
    (lambda: qv.NumberConfig.integer(N.SIZE_1_BIT, U), "A single bit cannot represent an integer"),
])
def test_number_config_refusals(make, message):
    with pytest.raises(RuntimeError) as info:
        make()
    assert str(info.value) == message


@pytest.mark.parametrize("call", [
    lambda: qv.NumberConfig.fixed_point(N.SIZE_8_BIT, S, -1),
    lambda: qv.NumberConfig.fixed_point(N.SIZE_8_BIT, S, 2**64),
    lambda: qv.NumberConfig.fixed_point(N.SIZE_8_BIT, S, 1.0),
    lambda: qv.NumberConfig.integer(1, S),
    lambda: qv.NumberConfig.integer(N.SIZE_8_BIT, 0),
])
def test_number_config_argument_types(call):
    with pytest.raises(TypeError):
        call()


def test_number_config_load_refusals():
    config = qv.NumberConfig.floating_point(N.SIZE_32_BIT)
    before = config.save_to_buffer()
    with pytest.raises(RuntimeError, match=r"^Invalid saved NumberConfig: size is 9, expected a value in \[0, 3\]$"):
        config.load_from_buffer(number_bytes(1, 9, 0, False, 0))
    with pytest.raises(RuntimeError, match=r"readSizeTChecked\(\) failed"):
        config.load_from_buffer(number_bytes(2, 1, 0, True, 100001))
    with pytest.raises(RuntimeError, match="truncated"):
        config.load_from_buffer(before[:20])
    assert config.save_to_buffer() == before
