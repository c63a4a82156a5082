import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import MOCKUP, mockup, run_python

PREFIX = "_pyquorvanelite_cppwrappers."


def first_line(function):
    return function.__doc__.split("\n")[0]


# ---- Python surface of the context classes ----

@pytest.mark.parametrize("function, signature", [
    (qv.HeContext.clone, "clone(self: HeContext) -> HeContext"),
    (qv.HeContext.init_for_generic_packing,
     "init_for_generic_packing(self: HeContext, light: bool = False) -> None"),
    (qv.HeContext.has_secret_key, "has_secret_key(self: HeContext) -> bool"),
    (qv.HeContext.slot_count, "slot_count(self: HeContext) -> int"),
    (qv.HeContext.get_context_id, "get_context_id(self: HeContext) -> int"),
    (qv.HeContext.get_top_chain_index, "get_top_chain_index(self: HeContext) -> int"),
    (qv.HeContext.get_security_level, "get_security_level(self: HeContext) -> int"),
    (qv.HeContext.print_signature, "print_signature(self: HeContext) -> str"),
    (qv.HeContext.get_modulus_chain,
     "get_modulus_chain(self: HeContext) -> numpy.ndarray[numpy.uint64]"),
    (qv.HeContext.get_traits, "get_traits(self: HeContext) -> HeTraits"),
    (qv.HeContext.get_default_device, "get_default_device(self: HeContext) -> DeviceType"),
    (qv.HeContext.set_default_device,
     "set_default_device(self: HeContext, device: DeviceType) -> None"),
    (qv.HeContext.get_default_scale, "get_default_scale(self: HeContext) -> float"),
    (qv.HeContext.set_default_scale, "set_default_scale(self: HeContext, v: float) -> None"),
    (qv.HeContext.get_automatic_bootstrapping,
     "get_automatic_bootstrapping(self: HeContext) -> bool"),
    (qv.HeContext.set_automatic_bootstrapping,
     "set_automatic_bootstrapping(self: HeContext, v: bool) -> None"),
    (qv.HeContext.get_signature, "get_signature(self: HeContext) -> str"),
    (qv.HeContext.get_library_name, "get_library_name(self: HeContext) -> str"),
    (qv.HeContext.get_scheme_name, "get_scheme_name(self: HeContext) -> str"),
    (qv.HeContext.public_functions_supported,
     "public_functions_supported(self: HeContext, public_functions: PublicFunctions) -> bool"),
    (qv.HeContext.get_public_functions,
     "get_public_functions(self: HeContext) -> PublicFunctions"),
    (qv.HeContext.get_he_config_requirement,
     "get_he_config_requirement(self: HeContext) -> HeConfigRequirement"),
    (qv.HeContext.is_registered_context, "is_registered_context(context_name: str) -> bool"),
    (qv.TrackingContext.get_stats_and_clear,
     "get_stats_and_clear(self: TrackingContext) -> str"),
    (qv.TrackingContext.start_operation_count_track,
     "start_operation_count_track(self: TrackingContext) -> None"),
    (qv.MockupContext.init, "init(self: MockupContext, req: HeConfigRequirement) -> None"),
])
def test_member_signatures(function, signature):
    assert first_line(function).replace(PREFIX, "") == signature


def test_create_overloads_and_keywords():
    doc = qv.HeContext.create.__doc__.replace(PREFIX, "")
    assert "1. create(context_name: str, req: HeConfigRequirement) -> HeContext" in doc
    assert "2. create(prioritized_context_names: list[str]) -> HeContext" in doc
    he = qv.HeContext.create(context_name=MOCKUP, req=qv.HeConfigRequirement.insecure(4, 1))
    assert type(he) is qv.MockupContext and he.slot_count() == 4
    fresh = qv.HeContext.create(prioritized_context_names=[MOCKUP])
    assert type(fresh) is qv.MockupContext
    assert fresh.get_context_id() == 0


def test_docstrings_of_tracking_and_mockup_members():
    assert "Returns an overview of current statistics, and clears stats." in \
        qv.TrackingContext.get_stats_and_clear.__doc__
    assert "Start the CPU time tracking from 0" in \
        qv.TrackingContext.start_operation_count_track.__doc__
    assert "Initializes this MockupContext according the given requirement." in \
        qv.MockupContext.init.__doc__
    assert "RuntimeError" in qv.MockupContext.init.__doc__
    assert qv.MockupContext.__doc__ is None and qv.TrackingContext.__doc__ is None
    assert qv.MockupContext.__bases__ == (qv.TrackingContext,)
    assert qv.TrackingContext.__bases__ == (qv.HeContext,)
    assert qv.HeContext.__bases__ == (qv.Printable,)


def test_none_as_self_is_a_type_error_not_a_crash():
    # In a child process: a member running on a null object would crash the interpreter.
    result = run_python("""
        import _pyquorvanelite_cppwrappers as qv
        req = qv.HeConfigRequirement.insecure(4, 1)
        calls = [
            (qv.HeContext.clone, ()), (qv.HeContext.init_for_generic_packing, (True,)),
            (qv.HeContext.has_secret_key, ()), (qv.HeContext.slot_count, ()),
            (qv.HeContext.get_context_id, ()), (qv.HeContext.get_top_chain_index, ()),
            (qv.HeContext.get_security_level, ()), (qv.HeContext.print_signature, ()),
            (qv.HeContext.get_modulus_chain, ()), (qv.HeContext.get_traits, ()),
            (qv.HeContext.get_default_device, ()),
            (qv.HeContext.set_default_device, (qv.DEVICE_CPU,)),
            (qv.HeContext.get_default_scale, ()), (qv.HeContext.set_default_scale, (2.0,)),
            (qv.HeContext.get_automatic_bootstrapping, ()),
            (qv.HeContext.set_automatic_bootstrapping, (False,)),
            (qv.HeContext.get_signature, ()), (qv.HeContext.get_library_name, ()),
            (qv.HeContext.get_scheme_name, ()),
            (qv.HeContext.public_functions_supported, (qv.PublicFunctions(),)),
            (qv.HeContext.get_public_functions, ()),
            (qv.HeContext.get_he_config_requirement, ()),
            (qv.TrackingContext.get_stats_and_clear, ()),
            (qv.TrackingContext.start_operation_count_track, ()),
            (qv.MockupContext.init, (req,)),
        ]
        for function, args in calls:
            try:
                function(None, *args)
            except TypeError:
                continue
            raise SystemExit("accepted None: " + function.__name__)
        print("refused", len(calls))
        """)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "refused 25\n"


def test_printing_a_context_shows_its_signature():
    he = mockup(8, 3)
    signature = he.print_signature()
    assert he.to_string() == signature
    assert he.to_string(qv.VERBOSITY_LOW) == signature
    assert repr(he) == signature and str(he) == signature
    assert he.to_string(qv.VERBOSITY_NONE) == ""
    assert repr(qv.MockupContext()) == (
        "quorvane 1.5.3.0\nMockup context. Context id=0 (not initialized)\n")


def test_context_ids_fit_32_bits_and_differ():
    ids = [mockup(2, 1).get_context_id() for _ in range(30)]
    assert len(set(ids)) == 30
    assert all(0 < i < 2 ** 31 for i in ids)


# ---- Requirements the mockup context refuses or adapts ----

def test_bootstrappable_mockup_requirement_needs_a_bootstrap_configuration():
    # Python cannot hand a BootstrapConfig to a requirement, and the mockup
    # context does not derive one.
    req = qv.HeConfigRequirement.insecure(8, 6)
    req.bootstrappable = True
    with pytest.raises(RuntimeError) as info:
        qv.HeContext.create(MOCKUP, req)
    assert str(info.value) == "getBootstrapChainIndexes given HeConfigRequirement is not implemented"
    he = qv.MockupContext()
    with pytest.raises(RuntimeError):
        he.init(req)
    assert not he.has_secret_key()
    req.bootstrappable = False
    he.init(req)
    assert he.get_top_chain_index() == 6


@pytest.mark.parametrize("slots, depth, security, error, message", [
    (16, 5, 128, RuntimeError, "Given configuration requirement is not feasible"),
    (16, 5, 1, RuntimeError, "Given configuration requirement is not feasible"),
    (-1, 5, 0, ValueError, "MockupContext requires at least 1 slot, but the requirement "
                           "asks for -1"),
    (4, -1, 0, ValueError, "MockupContext requires a non-negative multiplication depth, but "
                           "the requirement asks for -1"),
])
def test_init_refusals(slots, depth, security, error, message):
    req = qv.HeConfigRequirement.insecure(slots, depth)
    req.security_level = security
    he = qv.MockupContext()
    with pytest.raises(error) as info:
        he.init(req)
    assert str(info.value) == message
    assert he.print_signature().endswith(" (not initialized)\n")


def test_odd_sizes_are_accepted():
    he = mockup(1, 0)
    assert he.slot_count() == 1 and he.get_top_chain_index() == 0
    assert he.get_signature() == "Mockup_DEG2_D0"
    big = mockup(3, 250)
    assert big.get_signature() == "Mockup_DEG6_D250"


def test_custom_rotations_are_accepted_by_the_mockup_context():
    req = qv.HeConfigRequirement.insecure(16, 2)
    req.public_functions.rotate = qv.RotationSetType.CUSTOM_ROTATIONS
    req.public_functions.set_rotation_steps([1, 4])
    he = qv.HeContext.create(MOCKUP, req)
    assert list(he.get_public_functions().get_rotation_steps()) == [1, 4]
    bad = qv.HeConfigRequirement.insecure(16, 2)
    bad.public_functions.set_rotation_steps([1])
    with pytest.raises(ValueError) as info:
        qv.HeContext.create(MOCKUP, bad)
    assert str(info.value) == ("invalid PublicFunctions: \"rotate\" is set to DEFAULT_ROTATIONS "
                               "but \"rotationStpes\" vector is not empty")


# ---- Operation counts through tiles ----

def test_counts_of_tile_operations():
    he = mockup(8, 5)
    he.start_operation_count_track()
    enc = qv.Encoder(he)
    c = enc.encode_encrypt([1.0, 2.0])
    d = enc.encode_encrypt([3.0, 4.0])
    p = enc.encode([2.0, 2.0])
    assert he.get_stats_and_clear() == ("Run stats\n"
                                        "encode         :    3\n"
                                        "encrypt        :    2\n")
    steps = [
        (lambda: c.multiply_scalar(2.0),
         "encode         :    1\nmultiplyPlain  :    1\nrescale        :    1\n"),
        (lambda: c.multiply_scalar(3), "multiplyPlain  :    1\n"),
        (lambda: c.add_scalar(1.0), "encode         :    1\naddPlain       :    1\n"),
        (lambda: c.sub(c), "sub            :    1\n"),
        (lambda: c.add_raw(c), "add            :    1\n"),
        (lambda: c.conjugate(), ""),
        (lambda: c.negate(), "negate         :    1\n"),
        (lambda: c.relinearize(), "relinearize    :    1\n"),
        (lambda: c.square_raw(), "square         :    1\n"),
        (lambda: c.rescale(), "rescale        :    1\n"),
        (lambda: c.multiply_by_chainging_scale(2.0), ""),
        (lambda: c.inner_sum(1, 8, False),
         "copy           :    3\nadd            :    3\nrotate         :    3\n"),
        (lambda: d.multiply_plain(p), "multiplyPlain  :    1\nrescale        :    1\n"),
        (lambda: d.sub_plain(p), "subPlain       :    1\n"),
        (lambda: d.multiply_raw(d), "multiply       :    1\n"),
        (lambda: d.multiply_imaginary_unit(),
         "encode         :    1\nmultiplyPlain  :    1\nrescale        :    1\n"),
        (lambda: d.nullify_imaginary_part(),
         "encode         :    1\ncopy           :    1\nadd            :    1\n"
         "multiplyPlain  :    1\nrescale        :    1\n"),
    ]
    for step, expected in steps:
        step()
        assert he.get_stats_and_clear() == "Run stats\n" + expected
    assert c.get_chain_index() == 3 and d.get_chain_index() == 2


def test_counts_at_the_edges_of_the_chain_index_range():
    he = mockup(4, 101)
    he.start_operation_count_track()
    enc = qv.Encoder(he)
    with pytest.raises(IndexError) as info:
        enc.encode_encrypt([1.0])
    assert str(info.value) == "invalid vector subscript"
    c = enc.encode_encrypt([1.0], 100)
    c.set_chain_index(0)
    c.add(c)
    assert he.get_stats_and_clear() == ("Run stats\n"
                                        "encode         :    1\n"
                                        "encrypt        :    1\n"
                                        "add            :    1\n")


def test_offsets_beyond_the_slot_count():
    he = mockup(8, 2)
    enc = qv.Encoder(he)
    values = [float(i) for i in range(8)]
    c = enc.encode_encrypt(values)
    c.inner_sum(1, 16, False)
    np.testing.assert_array_equal(enc.decrypt_decode_double(c), [56.0] * 8)
    c = enc.encode_encrypt(values)
    c.inner_sum(3, 20, True)
    # Rotations by -3, -6 and -12 (that is, -4) on top of the original.
    expected = [values[i] + values[(i - 3) % 8] for i in range(8)]
    expected = [expected[i] + expected[(i - 6) % 8] for i in range(8)]
    expected = [expected[i] + expected[(i - 12) % 8] for i in range(8)]
    np.testing.assert_array_equal(enc.decrypt_decode_double(c), expected)
    for n in (9, 13, 20):
        c = enc.encode_encrypt(values)
        c.sum_exp_by_squaring_left_to_right(n)
        d = enc.encode_encrypt(values)
        d.sum_exp_by_squaring_right_to_left(n)
        window = [sum(values[(i + k) % 8] for k in range(n)) for i in range(8)]
        np.testing.assert_array_equal(enc.decrypt_decode_double(c), window)
        np.testing.assert_array_equal(enc.decrypt_decode_double(d), window)


def test_chain_index_refusals_reach_python_as_value_error():
    he = mockup(4, 3)
    enc = qv.Encoder(he)
    c = enc.encode_encrypt([1.0])
    d = enc.encode_encrypt([2.0])
    d.set_chain_index(1)
    # Tiles bring operands to the lower chain index first.
    c.add_raw(d)
    assert c.get_chain_index() == 1
    np.testing.assert_array_equal(enc.decrypt_decode_double(c), [3.0, 0.0, 0.0, 0.0])
    with pytest.raises(ValueError) as info:
        d.set_chain_index(2)
    assert str(info.value) == ("Given chain index is out of range or higher than current. "
                               "Given CI= 2 current CI= 1")
    d.set_chain_index(0)
    with pytest.raises(ValueError) as info:
        d.rescale()
    assert str(info.value) == ("Given chain index is out of range or higher than current. "
                               "Given CI= -1 current CI= 0")
    p = enc.encode([1.0], 1)
    with pytest.raises(ValueError) as info:
        p.set_chain_index(4)
    assert str(info.value) == ("Given chain index is out of range. Given chain index: 4, "
                               "allowed range: [0, 3]")
    p.set_chain_index(3)
    assert p.get_chain_index() == 3
