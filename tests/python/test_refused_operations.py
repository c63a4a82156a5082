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


def last_tile(t):
    return t.get_tile_by_flat_index(t.get_num_used_tiles() - 1)


@pytest.mark.parametrize("name,change,call,message", [
    ("add", lambda t, o, p: last_tile(o).set_scale(2 * last_tile(o).get_scale()),
     lambda t, o, p: t.add(o), "scale mismatch"),
    ("sub_plain", lambda t, o, p: last_tile(p).set_scale(2 * last_tile(p).get_scale()),
     lambda t, o, p: t.sub_plain(p), "scale mismatch"),
    ("multiply_raw", lambda t, o, p: last_tile(o).set_scale(2.0 ** 75),
     lambda t, o, p: t.multiply_raw(o), "scale out of bounds"),
    ("multiply_plain", lambda t, o, p: [last_tile(x).set_chain_index(0) for x in (t, o, p)],
     lambda t, o, p: t.multiply_plain(p), "scale out of bounds"),
])
def test_seal_tile_tensor_refusals_leave_both_operands(name, change, call, message):
    # Three tiles; only the last one refuses, after the others could have changed.
    he = seal()
    tt = qv.TTEncoder(he)
    shape = qv.TTShape([4, SLOTS // 4])
    rng = np.random.default_rng(5)
    t, o = (tt.encode_encrypt(shape, rng.uniform(-1, 1, (12, SLOTS // 4))) for _ in range(2))
    p = tt.encode(shape, rng.uniform(-1, 1, (12, SLOTS // 4)))
    assert t.get_num_used_tiles() == 3
    change(t, o, p)
    before = [x.save_to_buffer() for x in (t, o, p)]
    with pytest.raises(ValueError) as info:
        call(t, o, p)
    assert str(info.value) == message
    assert [x.save_to_buffer() for x in (t, o, p)] == before
