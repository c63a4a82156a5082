"""A refused operation or init leaves its object as it was."""
import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup

SLOTS = 256


def seal(relinearize=True):
    req = qv.HeConfigRequirement.insecure(SLOTS, 2, 30, 10)
    pf = req.public_functions
    pf.relinearize = relinearize
    req.public_functions = pf
    he = qv.SealCkksContext()
    he.init(req)
    return he


def test_seal_products_without_relinearisation_keys_leave_the_ciphertext():
    he = seal(relinearize=False)
    enc = qv.Encoder(he)
    x = enc.encode_encrypt([1.5, 2.0])
    y = enc.encode_encrypt([3.0, 4.0])
    scale = x.get_scale()
    for call in (lambda: x.multiply(y), lambda: x.square()):
        with pytest.raises(RuntimeError) as info:
            call()
        assert str(info.value) == "This SealCkksContext doesn't have reliniarization keys"
        assert x.get_scale() == scale
    # No "scale mismatch": the ciphertext is as it was.
    x.add(y)
    assert np.allclose(enc.decrypt_decode_double(x)[:2], [4.5, 6.0], atol=1e-3)


def test_seal_products_at_chain_index_zero_leave_the_ciphertext():
    he = seal()
    enc = qv.Encoder(he)
    x = enc.encode_encrypt([1.5, 2.0], 0)
    x.set_scale(1024.0)
    for call in (lambda: x.multiply(x), lambda: x.square(),
                 lambda: x.multiply_plain(enc.encode([2.0], 0))):
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == "end of modulus switching chain reached"
        assert x.get_scale() == 1024.0 and x.get_chain_index() == 0


def test_mockup_products_at_chain_index_zero_leave_the_values():
    enc = qv.Encoder(mockup(4, 2))
    x = enc.encode_encrypt([1.5, 2.0], 0)
    for call in (lambda: x.multiply(x), lambda: x.square(), lambda: x.multiply_scalar(3.0)):
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == ("Given chain index is out of range or higher than current. "
                                   "Given CI= -1 current CI= 0")
    assert list(enc.decrypt_decode_double(x)) == [1.5, 2.0, 0.0, 0.0]


def test_refused_init_leaves_the_context_without_the_requirement():
    req = qv.HeConfigRequirement.insecure(16, 5)
    pf = req.public_functions
    pf.rotate = qv.RotationSetType.NO_ROTATIONS
    pf.set_rotation_steps(np.array([1]))
    req.public_functions = pf
    he = qv.MockupContext()
    fresh = qv.MockupContext()
    with pytest.raises(ValueError):
        he.init(req)
    assert he.slot_count() == fresh.slot_count()
    assert he.get_top_chain_index() == fresh.get_top_chain_index()
    he.init(qv.HeConfigRequirement.insecure(8, 3))
    assert he.slot_count() == 8
