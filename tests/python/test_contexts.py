import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import MOCKUP, mockup, run_python

DISABLED = ("Performance tracking is disabled.\n"
            "Call startOperationCountTrack() (Python: start_operation_count_track()) "
            "to enable tracking.\n")


# ---- Creation through the registry ----

def test_create_by_name_returns_initialised_mockup():
    he = mockup(16)
    assert type(he) is qv.MockupContext
    assert isinstance(he, qv.TrackingContext) and isinstance(he, qv.HeContext)
    assert he.slot_count() == 16
    assert he.get_top_chain_index() == 5
    assert he.get_security_level() == 0
    assert he.has_secret_key() is True
    assert he.get_signature() == "Mockup_DEG32_D5"
    assert he.get_library_name() == "Mockup"
    assert he.get_scheme_name() == "Mockup"
    assert he.get_context_id() > 0


def test_contexts_created_together_get_distinct_ids():
    ids = {mockup(16).get_context_id() for _ in range(20)}
    assert len(ids) == 20


def test_print_signature():
    he = mockup(8, 3)
    assert he.print_signature() == (
        "quorvane 1.5.3.0\nMockup context. Context id=%d (WITH SECRET KEY)\nSlots = 8\n"
        % he.get_context_id())
    fresh = qv.MockupContext()
    assert fresh.print_signature() == (
        "quorvane 1.5.3.0\nMockup context. Context id=0 (not initialized)\n")


def test_create_from_preference_list_is_uninitialised():
    he = qv.HeContext.create(["Not_There", MOCKUP])
    assert type(he) is qv.MockupContext
    assert he.print_signature().endswith(" (not initialized)\n")
    assert he.has_secret_key() is False
    he.init(qv.HeConfigRequirement.insecure(4, 2))
    assert he.slot_count() == 4


@pytest.mark.parametrize("call, error, message", [
    (lambda: qv.HeContext.create("Nope_Nope", qv.HeConfigRequirement.insecure(4, 1)),
     RuntimeError, "No registered HE context under the name Nope_Nope"),
    (lambda: qv.HeContext.create([]), ValueError, "No suitable HE context found"),
    (lambda: qv.HeContext.create(["Mockup", "SEAL"]), ValueError,
     "No suitable HE context found"),
    (lambda: qv.HeContext.create(MOCKUP, qv.HeConfigRequirement(16, 5, 40, 10)),
     RuntimeError, "Given configuration requirement is not feasible"),
    (lambda: qv.HeContext.create(MOCKUP, qv.HeConfigRequirement.insecure(0, 5)),
     ValueError, "MockupContext requires at least 1 slot, but the requirement asks for 0"),
    (lambda: qv.HeContext.create(MOCKUP, qv.HeConfigRequirement.insecure(8, -2)),
     ValueError,
     "MockupContext requires a non-negative multiplication depth, but the requirement asks "
     "for -2"),
])
def test_create_refusals(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message


def test_create_with_single_string_is_a_type_error():
    with pytest.raises(TypeError):
        qv.HeContext.create(MOCKUP)


def test_automatic_bootstrapping_without_bootstrapping_refused_at_init():
    req = qv.HeConfigRequirement.insecure(8, 3)
    req.automatic_bootstrapping = True
    he = qv.MockupContext()
    with pytest.raises(RuntimeError) as info:
        he.init(req)
    assert str(info.value).endswith(
        ": Assertion failed: !getAutomaticBootstrapping() "
        "Automatic bootstrapping requires a bootstrappable requirement: "
        "automaticBootstrapping is set while bootstrappable is not")
    assert he.print_signature().endswith(" (not initialized)\n")
    req.automatic_bootstrapping = False
    he.init(req)
    assert he.get_automatic_bootstrapping() is False


def test_is_registered_context():
    assert qv.HeContext.is_registered_context(MOCKUP) is True
    for name in ["Mockup", "mockup_mockup", "", "Mockup_Mockup "]:
        assert qv.HeContext.is_registered_context(name) is False


def test_classes_without_constructor():
    for cls in (qv.HeContext, qv.TrackingContext):
        with pytest.raises(TypeError, match="No constructor defined"):
            cls()


# ---- Queries ----

def test_requirement_and_public_functions_are_copies():
    he = mockup(16, 5)
    req = he.get_he_config_requirement()
    assert (req.num_slots, req.multiplication_depth, req.security_level) == (16, 5, 0)
    req.num_slots = 1024
    assert he.get_he_config_requirement().num_slots == 16
    pf = he.get_public_functions()
    assert pf.encrypt is True and pf.relinearize is True
    assert pf.rotate == qv.RotationSetType.DEFAULT_ROTATIONS
    pf.encrypt = False
    assert he.get_public_functions().encrypt is True
    assert he.public_functions_supported(pf) is True


def test_traits_of_a_mockup_context():
    traits = mockup(16).get_traits()
    true_flags = {"supports_bootstrap_utils", "automatically_manages_rescale",
                  "supports_explicit_chain_indices", "supports_complex_numbers"}
    false_flags = {"supports_botstrapping", "supports_explicit_rescale",
                   "automatically_manages_chain_indices", "defers_rescale",
                   "supports_bitwise_operations", "is_modular_arithmetic",
                   "supports_scaled_encoding", "is_debug_empty",
                   "supports_decrypt_added_noise", "supports_sec_key_seed", "supports_gpu",
                   "supports_handle_transparent_ciphertexts"}
    for name in true_flags:
        assert getattr(traits, name) is True, name
    for name in false_flags:
        assert getattr(traits, name) is False, name
    assert traits.arithmetic_modulus == 0


def test_traits_are_copies():
    he = mockup(16)
    traits = he.get_traits()
    traits.supports_complex_numbers = False
    assert he.get_traits().supports_complex_numbers is True


def test_modulus_chain_is_an_empty_uint64_array():
    chain = mockup(16).get_modulus_chain()
    assert isinstance(chain, np.ndarray)
    assert chain.dtype == np.uint64
    assert chain.shape == (0,)


def test_default_scale_and_device():
    he = mockup(16)
    assert he.get_default_scale() == 1.0
    he.set_default_scale(2.0 ** 20)
    assert he.get_default_scale() == 2.0 ** 20
    assert he.get_default_device() == qv.DEVICE_CPU
    he.set_default_device(qv.DEVICE_GPU)
    assert he.get_default_device() == qv.DEVICE_GPU
    with pytest.raises(TypeError):
        he.set_default_device(1)


def test_automatic_bootstrapping_flag():
    he = mockup(16)
    assert he.get_automatic_bootstrapping() is False
    he.set_automatic_bootstrapping(False)
    with pytest.raises(RuntimeError) as info:
        he.set_automatic_bootstrapping(True)
    assert str(info.value) == "This HeContext does not support bootstrapping."
    assert he.get_automatic_bootstrapping() is False


def test_clone_is_uninitialised_of_same_class():
    he = mockup(16)
    other = he.clone()
    assert type(other) is qv.MockupContext
    assert other.print_signature().endswith(" (not initialized)\n")
    other.init(qv.HeConfigRequirement.insecure(4, 1))
    assert other.slot_count() == 4
    assert he.slot_count() == 16


def test_init_for_generic_packing_not_feasible_for_mockup():
    he = qv.MockupContext()
    with pytest.raises(RuntimeError) as info:
        he.init_for_generic_packing(light=True)
    assert str(info.value) == (
        "Internal error: no feasible HE context for generic packing for Mockup_Mockup")


# ---- MockupContext and statistics ----

def test_mockup_constructor_then_init():
    he = qv.MockupContext()
    assert he.has_secret_key() is False
    he.init(req=qv.HeConfigRequirement.insecure(8, 2))
    assert he.slot_count() == 8 and he.get_top_chain_index() == 2
    assert he.has_secret_key() is True
    with pytest.raises(RuntimeError) as info:
        he.init(qv.HeConfigRequirement.insecure(8, 2))
    assert str(info.value) == "HE context has already been initialized"
    with pytest.raises(RuntimeError, match="^Given configuration requirement is not feasible$"):
        qv.MockupContext().init(qv.HeConfigRequirement(8, 2, 40, 10))


def test_stats_disabled_until_started():
    he = qv.MockupContext()
    assert he.get_stats_and_clear() == DISABLED
    assert he.get_stats_and_clear() == DISABLED


def test_stats_count_operations_and_clear():
    he = mockup(8, 5)
    he.start_operation_count_track()
    assert he.get_stats_and_clear() == "Run stats\n"
    enc = qv.Encoder(he)
    a = enc.encode_encrypt([1.0, 2.0, 3.0])
    b = enc.encode_encrypt([4.0, 5.0, 6.0])
    a.multiply(b)
    a.add(a)
    a.rotate(1)
    stats = he.get_stats_and_clear()
    assert stats == ("Run stats\n"
                     "encode         :    2\n"
                     "encrypt        :    2\n"
                     "add            :    1\n"
                     "relinearize    :    1\n"
                     "rotate         :    1\n"
                     "multiply       :    1\n"
                     "rescale        :    1\n")
    assert he.get_stats_and_clear() == "Run stats\n"
    np.testing.assert_allclose(enc.decrypt_decode_double(a)[:3], [20.0, 36.0, 0.0])
    assert he.get_stats_and_clear() == "Run stats\ndecodeDouble   :    1\ndecrypt        :    1\n"


def test_restarting_tracking_drops_counts():
    he = mockup(4, 2)
    he.start_operation_count_track()
    enc = qv.Encoder(he)
    enc.encode_encrypt([1.0])
    he.start_operation_count_track()
    assert he.get_stats_and_clear() == "Run stats\n"


# ---- Lifetimes ----

def test_dropping_context_before_objects_made_from_it_is_safe():
    result = run_python("""
        import gc
        import _pyquorvanelite_cppwrappers as qv
        he = qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(8, 4))
        enc = qv.Encoder(he)
        c = enc.encode_encrypt([1.0, 2.0, 3.0])
        d = qv.CTile(he)
        del he
        gc.collect()
        # Reuse the memory a freed context would have left behind.
        others = [qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(2, 1))
                  for _ in range(50)]
        assert c.slot_count() == 8 and d.slot_count() == 8
        assert c.get_chain_index() == 4
        c.add_scalar(1.0)
        c.add_scalar(-1.0)
        c.multiply_scalar(2)
        c.square()
        d = enc.encode_encrypt([1.0])
        values = list(enc.decrypt_decode_double(c))[:3]
        assert values == [4.0, 16.0, 36.0], values
        del enc
        gc.collect()
        c.rotate(1)
        del c, d
        gc.collect()
        print("done")
        """)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "done\n"
