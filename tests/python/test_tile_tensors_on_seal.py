import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv

# CKKS with 2^40 scales keeps these few operations far below this error.
EPS = 1e-5


@pytest.fixture(scope="module")
def seal():
    he = qv.SealCkksContext()
    he.init(qv.HeConfigRequirement.insecure(1024, 3, 40, 10))
    return he


@pytest.fixture
def tt(seal):
    return qv.TTEncoder(seal)


def rand(*shape, seed=0):
    return np.random.default_rng(seed).uniform(-1, 1, size=shape)


@pytest.mark.parametrize("tile_sizes, dims", [
    ([1024], (1500,)), ([32, 32], (40, 20)), ([8, 8, 16], (5, 9, 20)), ([4, 4, 8, 8], (3, 5, 2, 9)),
])
def test_orders_1_to_4(tt, tile_sizes, dims):
    vals = rand(*dims, seed=len(dims))
    c = tt.encode_encrypt(qv.TTShape(tile_sizes), vals)
    np.testing.assert_allclose(tt.decrypt_decode_double(c), vals, atol=EPS)
    assert c.assert_integrity(EPS) < EPS


def test_complex_and_diagonal_packing(tt):
    s = qv.TTShape()
    s.add_dim(6, 2)
    s.add_dim(40, 512, is_complex_packed=True)
    vals = rand(6, 40, seed=3)
    np.testing.assert_allclose(tt.decrypt_decode_double(tt.encode_encrypt(s, vals)), vals, atol=EPS)
    d = qv.TTShape()
    d.add_dim(64, 32)
    d.add_dim(64, 32)
    d.set_diagonalized(True)
    vals = rand(64, 64, seed=4)
    c = tt.encode_encrypt(d, vals)
    assert c.get_shape().to_string() == "[ (d)64/32, 64/32]"
    np.testing.assert_allclose(tt.decrypt_decode_double(c), vals, atol=EPS)


def test_computation_with_broadcasting(seal, tt):
    m, col = rand(40, 64, seed=5), rand(40, 1, seed=6)
    full = qv.TTShape([64, 16])
    dup = qv.TTShape([64, 16])
    dup.get_dim(1).duplicate()
    cm = tt.encode_encrypt(full, m)
    res = tt.encode_encrypt(dup, col).get_multiply(cm)
    res.add_plain(tt.encode(full, m, res.get_chain_index()))
    res.square()
    assert res.get_chain_index() == seal.get_top_chain_index() - 2
    np.testing.assert_allclose(tt.decrypt_decode_double(res), (m * col + m) ** 2, atol=EPS)
    loaded = qv.CTileTensor(seal)
    loaded.load_from_buffer(res.save_to_buffer())
    np.testing.assert_allclose(tt.decrypt_decode_double(loaded), (m * col + m) ** 2, atol=EPS)
