"""Non-finite values on the SEAL context, which cannot hold them, and scales that
are not finite and positive."""
import math

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup

SLOTS = 256


def value_message(value, where=""):
    return ("Cannot encode the non-finite value %s%s: only finite values can be encoded"
            % (value, where))


def scale_message(value):
    return "The scale must be finite and positive, but it is " + value


@pytest.fixture(scope="module")
def seal():
    he = qv.SealCkksContext()
    he.init(qv.HeConfigRequirement.insecure(SLOTS, 2, 30, 10))
    return he


@pytest.mark.parametrize("values, expected", [
    (np.array([1.0, np.nan]), value_message("nan", " at index 1")),
    ([np.inf], value_message("inf", " at index 0")),
    (np.array([1 + 1j, complex(0, -np.inf)]), value_message("(0,-inf)", " at index 1")),
])
def test_seal_encoder_refuses_non_finite_values(seal, values, expected):
    enc = qv.Encoder(seal)
    for call in (enc.encode, enc.encode_encrypt):
        with pytest.raises(ValueError) as info:
            call(values)
        assert str(info.value) == expected
    # One number for every slot.
    with pytest.raises(ValueError) as info:
        enc.encode(float("nan"))
    assert str(info.value) == value_message("nan")


def test_seal_scalar_operations_refuse_non_finite_scalars(seal):
    enc = qv.Encoder(seal)
    x = enc.encode_encrypt([1.0, 2.0])
    with pytest.raises(ValueError) as info:
        x.multiply_scalar(float("nan"))
    assert str(info.value) == value_message("nan")
    with pytest.raises(ValueError) as info:
        x.add_scalar(float("-inf"))
    assert str(info.value) == value_message("-inf")
    assert np.allclose(enc.decrypt_decode_double(x)[:2], [1.0, 2.0], atol=1e-4)


def test_mockup_keeps_non_finite_values():
    enc = qv.Encoder(mockup(4, 2))
    x = enc.encode_encrypt(np.array([np.nan, np.inf, 1.0]))
    x.multiply_scalar(2)
    values = enc.decrypt_decode_double(x)
    assert math.isnan(values[0]) and values[1] == np.inf and values[2] == 2.0


@pytest.mark.parametrize("scale, text", [(float("nan"), "nan"), (float("inf"), "inf"),
                                         (0.0, "0"), (-3.0, "-3")])
@pytest.mark.parametrize("backend", ["seal", "mockup"])
def test_scale_setters_refuse_scales_that_are_not_finite_and_positive(seal, backend, scale, text):
    he = seal if backend == "seal" else mockup(SLOTS, 2)
    enc = qv.Encoder(he)
    c = enc.encode_encrypt([1.0])
    p = enc.encode([1.0])
    for obj, setter, getter in [(c, c.set_scale, c.get_scale), (p, p.set_scale, p.get_scale),
                                (enc, enc.set_default_scale, lambda: enc.get_default_scale(-1)),
                                (he, he.set_default_scale, he.get_default_scale)]:
        before = getter()
        with pytest.raises(ValueError) as info:
            setter(scale)
        assert str(info.value) == scale_message(text)
        assert getter() == before
