"""A packed tile tensor's tiles hold values: saved tensors and data sets holding
an empty tile are refused on load, and a tile emptied in memory is refused by
every operation that reads it, with the tile named and nothing changed."""

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import (mockup, multi_party_mockup, saved_batch, saved_data, saved_tensor_data,
                     shape_of, with_empty_tile)

SLOTS = 16
EMPTY_TAIL = " is empty, but the tiles of a packed tensor must hold values"


@pytest.fixture
def he():
    return mockup(SLOTS, 4)


def shape(*sizes):
    return qv.TTShape(np.array(sizes, dtype=np.int32))


def complex_shape():
    return shape_of(qv.TTDim(4, 2), qv.TTDim(12, 8, is_complex_packed=True))


def test_the_reported_tensor_is_refused_on_load(he):
    """The report's own steps: a saved tensor whose first tile record is an
    empty tile loads no more, and the tensor stays usable."""
    te = qv.TTEncoder(he)
    b = te.encode_encrypt(shape(2, 8), np.ones((4, 6))).save_to_buffer()
    s = b.index(b"CTile\0") - 12
    e = b.find(b[:4], s + 4)
    c = qv.CTileTensor(he)
    with pytest.raises(RuntimeError) as info:
        c.load_from_buffer(b[:s] + qv.CTile(he).save_to_buffer() + b[e:])
    assert str(info.value) == "Invalid saved CTileTensor: tile 0" + EMPTY_TAIL
    assert c.to_string() == "CTileTensor [] packed=0"
    c.load_from_buffer(b)
    np.testing.assert_array_equal(te.decrypt_decode_double(c), np.ones((4, 6)))


@pytest.mark.parametrize("kind", ["ctt", "ptt", "complex", "batch", "data"])
@pytest.mark.parametrize("tile", [0, 1])
def test_containers_holding_an_empty_tile_are_refused_on_load(he, kind, tile):
    te = qv.TTEncoder(he)
    values = np.linspace(-1, 1, 24).reshape(4, 6)
    if kind == "ptt":
        source = te.encode(shape(2, 8), values)
        data = with_empty_tile(source, qv.PTile(he), tile)
        target = te.encode(shape(SLOTS), np.ones(SLOTS))
        message = "Invalid saved PTileTensor: tile %d" % tile + EMPTY_TAIL
    else:
        source = (te.encode_encrypt(complex_shape(), np.linspace(-1, 1, 48).reshape(4, 12))
                  if kind == "complex" else te.encode_encrypt(shape(2, 8), values))
        assert source.get_num_used_tiles() == 2
        data = with_empty_tile(source, qv.CTile(he), tile)
        message = "Invalid saved CTileTensor: tile %d" % tile + EMPTY_TAIL
        target = te.encode_encrypt(shape(SLOTS), np.ones(SLOTS))
        if kind == "data":
            data = saved_data(he, [saved_batch(he, [data])])
            target = qv.EncryptedData(he)
        elif kind == "batch":
            data = saved_batch(he, [data])
            target = qv.EncryptedBatch(he)
    before = target.save_to_buffer()
    with pytest.raises(RuntimeError) as info:
        target.load_from_buffer(data)
    assert str(info.value) == message
    assert target.save_to_buffer() == before
    if kind == "data":
        with pytest.raises(RuntimeError) as info:
            qv.load_encrypted_data(he, data)
        assert str(info.value) == message


def test_data_set_in_a_storage_refuses_the_batch_holding_one(he, tmp_path):
    te = qv.TTEncoder(he)
    tensor = te.encode_encrypt(shape(2, 8), np.ones((4, 6)))
    sound = qv.EncryptedData(he)
    sound.load_from_buffer(saved_tensor_data(he, [[tensor], [tensor]]))
    storage = qv.FileStorage(str(tmp_path / "store"), True)
    out = qv.EncryptedData(he)
    out.attach_output_storage(storage)
    out.add_encrypted_data(sound)
    out.flush_to_storage()
    batch = saved_batch(he, [with_empty_tile(tensor, qv.CTile(he), 1)])
    (tmp_path / "store" / "batch-1").write_bytes(batch)
    back = qv.EncryptedData(he)
    back.attach_input_storage(qv.FileStorage(str(tmp_path / "store"), False))
    assert back.get_num_batches() == 2
    te.decrypt_decode_double(back.get_batch(0).get_item(0))
    with pytest.raises(RuntimeError, match="^Invalid saved CTileTensor: tile 1" + EMPTY_TAIL):
        back.get_batch(1)


# ---- A tile emptied in memory ----

@pytest.fixture
def tensors(he):
    """A ciphertext and a plaintext tensor of two tiles each, tile 1 emptied
    through the tile the tensor hands out, sound twins of both, and a
    complex-packed tensor with tile 0 emptied."""
    te = qv.TTEncoder(he)
    values = np.linspace(-1, 1, 24).reshape(4, 6)
    bad = te.encode_encrypt(shape(2, 8), values)
    bad.get_tile_by_flat_index(1).load_from_buffer(qv.CTile(he).save_to_buffer())
    bad_plain = te.encode(shape(2, 8), values)
    bad_plain.get_tile_by_flat_index(1).load_from_buffer(qv.PTile(he).save_to_buffer())
    cx = te.encode_encrypt(complex_shape(), np.linspace(-1, 1, 48).reshape(4, 12))
    cx.get_tile_by_flat_index(0).load_from_buffer(qv.CTile(he).save_to_buffer())
    return {"he": he, "te": te, "fe": qv.TTFunctionEvaluator(he), "bad": bad,
            "bad_plain": bad_plain, "cx": cx, "good": te.encode_encrypt(shape(2, 8), values),
            "good_plain": te.encode(shape(2, 8), values)}


SELF = "Tile 1 of this tile tensor is empty: it holds no values"
OTHER = "Tile 1 of the other tile tensor is empty: it holds no values"

OPERATIONS = [
    ("decrypt_decode_double", lambda t: t["te"].decrypt_decode_double(t["bad"]), SELF),
    ("decode_double", lambda t: t["te"].decode_double(t["bad_plain"]), SELF),
    ("encrypt", lambda t: t["te"].encrypt(qv.CTileTensor(t["he"]), t["bad_plain"]), SELF),
    ("assert_equals", lambda t: t["te"].assert_equals(t["bad"], "x", np.zeros((4, 6)), 1.0,
                                                      False), SELF),
    ("complex-packed decryption", lambda t: t["te"].decrypt_decode_double(t["cx"]),
     "Tile 0 of this tile tensor is empty: it holds no values"),
    ("to_string", lambda t: t["bad"].to_string(), SELF),
    ("repr", lambda t: repr(t["bad"]), SELF),
    ("plaintext to_string", lambda t: t["bad_plain"].to_string(), SELF),
    ("save_to_buffer", lambda t: t["bad"].save_to_buffer(), SELF),
    ("plaintext save_to_buffer", lambda t: t["bad_plain"].save_to_buffer(), SELF),
    ("sum_over_dim", lambda t: t["bad"].sum_over_dim(0), SELF),
    ("get_sum_over_dim", lambda t: t["bad"].get_sum_over_dim(1), SELF),
    ("sum_tiles_over_dim", lambda t: t["bad"].sum_tiles_over_dim(0), SELF),
    ("rotate_along_dim", lambda t: t["bad"].rotate_along_dim(1, 1), SELF),
    ("multiply", lambda t: t["bad"].multiply(t["good"]), SELF),
    ("multiply by it", lambda t: t["good"].multiply(t["bad"]), OTHER),
    ("add it", lambda t: t["good"].add(t["bad"]), OTHER),
    ("multiply_plain by it", lambda t: t["good"].multiply_plain(t["bad_plain"]), OTHER),
    ("add_to", lambda t: t["bad"].add_to(t["good"]), SELF),
    ("plaintext add_to", lambda t: t["bad_plain"].add_to(t["good"]), SELF),
    ("plaintext get_multiply", lambda t: t["bad_plain"].get_multiply(t["good"]), SELF),
    ("multiply_and_sum by it", lambda t: t["good"].multiply_and_sum(t["bad"], 0), OTHER),
    ("get_matrix_multiplication", lambda t: t["good"].get_matrix_multiplication(t["bad"], 0),
     OTHER),
    ("re_encrypt", lambda t: t["bad"].re_encrypt(), SELF),
    ("set_chain_index", lambda t: t["bad"].set_chain_index(2), SELF),
    ("plaintext set_chain_index", lambda t: t["bad_plain"].set_chain_index(2), SELF),
    ("get_chain_index of tile 0", lambda t: t["cx"].get_chain_index(),
     "Tile 0 of this tile tensor is empty: it holds no values"),
    ("get_estimated_memory_usage_bytes of tile 0",
     lambda t: t["cx"].get_estimated_memory_usage_bytes(),
     "Tile 0 of this tile tensor is empty: it holds no values"),
    ("multiply_scalar", lambda t: t["bad"].multiply_scalar(2.0), SELF),
    ("get_slice", lambda t: t["bad"].get_slice(0, 0, 1), SELF),
    ("duplicate_over_dim", lambda t: t["bad"].get_duplicate_over_dim(0), SELF),
    ("assert_integrity", lambda t: t["bad"].assert_integrity(1e-3), SELF),
    ("validate_packed", lambda t: t["bad"].validate_packed(), SELF),
    ("poly_eval_in_place", lambda t: t["fe"].poly_eval_in_place(t["bad"], np.array([1.0, 2.0])),
     SELF),
    ("sign_in_place", lambda t: t["fe"].sign_in_place(t["bad"], 1, 1, 1), SELF),
    ("compare", lambda t: t["fe"].compare(t["good"], t["bad"], 1, 1, 1), OTHER),
    # An argument is the other tensor also where it carries the operation out
    # (double dispatch) or only its chain index is read.
    ("add_to", lambda t: t["good"].add_to(t["bad"]), OTHER),
    ("add_to_raw", lambda t: t["good"].add_to_raw(t["bad"]), OTHER),
    ("sub_from", lambda t: t["good"].sub_from(t["bad"]), OTHER),
    ("sub_from_raw", lambda t: t["good"].sub_from_raw(t["bad"]), OTHER),
    ("multiply_to", lambda t: t["good"].multiply_to(t["bad"]), OTHER),
    ("multiply_to_raw", lambda t: t["good"].multiply_to_raw(t["bad"]), OTHER),
    ("multiply_and_sum_to", lambda t: t["good"].multiply_and_sum_to(t["bad"], 0), OTHER),
    ("get_multiply_and_sum", lambda t: t["good"].get_multiply_and_sum(t["bad"], 0), OTHER),
    ("set_chain_index", lambda t: t["good"].set_chain_index(t["bad"]), OTHER),
    ("get_set_chain_index", lambda t: t["good"].get_set_chain_index(t["bad"]), OTHER),
    ("plaintext get_multiply", lambda t: t["good_plain"].get_multiply(t["bad"]), OTHER),
    ("plaintext get_multiply_raw", lambda t: t["good_plain"].get_multiply_raw(t["bad"]), OTHER),
    ("plaintext get_add", lambda t: t["good_plain"].get_add(t["bad"]), OTHER),
    ("plaintext get_add_raw", lambda t: t["good_plain"].get_add_raw(t["bad"]), OTHER),
    ("plaintext add_to", lambda t: t["good_plain"].add_to(t["bad"]), OTHER),
    ("plaintext sub_from", lambda t: t["good_plain"].sub_from(t["bad"]), OTHER),
    ("plaintext multiply_to", lambda t: t["good_plain"].multiply_to(t["bad"]), OTHER),
    ("plaintext get_multiply_and_sum",
     lambda t: t["good_plain"].get_multiply_and_sum(t["bad"], 0), OTHER),
    ("plaintext multiply_and_sum_to",
     lambda t: t["good_plain"].multiply_and_sum_to(t["bad"], 0), OTHER),
    ("plaintext set_chain_index",
     lambda t: t["good_plain"].set_chain_index(t["bad_plain"]), OTHER),
    ("plaintext get_set_chain_index",
     lambda t: t["good_plain"].get_set_chain_index(t["bad_plain"]), OTHER),
]


def state(t):
    """The tensors' tiles as saved, the empty ones included."""
    return [[x.get_tile_by_flat_index(i).save_to_buffer()
             for i in range(x.get_num_used_tiles())] + [x.get_shape().to_string()]
            for x in (t["bad"], t["bad_plain"], t["good"], t["good_plain"], t["cx"])]


@pytest.mark.parametrize("name, op, message", OPERATIONS, ids=[o[0] for o in OPERATIONS])
def test_operations_refuse_a_tensor_holding_an_emptied_tile(tensors, name, op, message):
    before = state(tensors)
    with pytest.raises(RuntimeError) as info:
        op(tensors)
    assert str(info.value) == message
    assert state(tensors) == before


def test_queries_reading_one_tile_check_that_tile(tensors):
    """The chain index, the device and the memory estimate read tile 0 alone:
    an empty tile 1 does not stop them (the cost stays one tile), an empty
    tile 0 is refused (see the table above)."""
    for bad, good in ((tensors["bad"], tensors["good"]),
                      (tensors["bad_plain"], tensors["good_plain"])):
        assert bad.get_chain_index() == good.get_chain_index()
        assert bad.get_current_device() == qv.DeviceType.DEVICE_CPU
        assert bad.get_estimated_memory_usage_bytes() == good.get_estimated_memory_usage_bytes()


def test_memory_estimate_is_not_read_off_an_empty_tile_on_seal():
    """SEAL estimates a plaintext's memory (an empty one as 0 bytes); an empty
    plaintext, unlike an empty ciphertext, can be saved and loaded."""
    he = qv.SealCkksContext()
    he.init(qv.HeConfigRequirement.insecure(16, 2, 20, 5))
    tensor = qv.TTEncoder(he).encode(shape(2, 8), np.linspace(-1, 1, 24).reshape(4, 6))
    empty = qv.PTile(he).save_to_buffer()
    estimate = tensor.get_estimated_memory_usage_bytes()
    assert estimate > 0
    tensor.get_tile_by_flat_index(1).load_from_buffer(empty)
    assert tensor.get_estimated_memory_usage_bytes() == estimate
    tensor.get_tile_by_flat_index(0).load_from_buffer(empty)
    with pytest.raises(RuntimeError) as info:
        tensor.get_estimated_memory_usage_bytes()
    assert str(info.value) == "Tile 0 of this tile tensor is empty: it holds no values"


def test_queries_that_read_no_values_still_answer(tensors):
    bad = tensors["bad"]
    assert bad.get_num_used_tiles() == 2
    assert bad.get_shape().to_string() == "[4/2, 6/8]"
    assert bad.get_tile_by_flat_index(1).is_empty()
    # Filled again, the tensor is whole.
    good_tile = tensors["good"].get_tile_by_flat_index(1).save_to_buffer()
    bad.get_tile_by_flat_index(1).load_from_buffer(good_tile)
    np.testing.assert_allclose(tensors["te"].decrypt_decode_double(bad),
                               np.linspace(-1, 1, 24).reshape(4, 6))


def test_data_set_holding_an_emptied_tile_is_neither_saved_nor_decrypted_jointly(he):
    te = qv.TTEncoder(he)
    data = qv.EncryptedData(he)
    tensor = te.encode_encrypt(shape(2, 8), np.ones((4, 6)))
    data.load_from_buffer(saved_tensor_data(he, [[tensor]]))
    data.get_batch(0).get_item(0).get_tile_by_flat_index(1).load_from_buffer(
        qv.CTile(he).save_to_buffer())
    with pytest.raises(RuntimeError) as info:
        data.save_to_buffer()
    assert str(info.value) == "Tile 1 of item 0 of batch 0 is empty: it holds no values"
    with pytest.raises(RuntimeError) as info:
        data.get_batch(0).save_to_buffer()
    assert str(info.value) == "Tile 1 of item 0 is empty: it holds no values"


def test_adding_a_data_set_checks_every_batch_before_the_first(he, tmp_path):
    """A data set written to a storage keeps its count and its buffers when the
    data set added to it holds an empty tile in a later batch."""
    te = qv.TTEncoder(he)
    tensor = te.encode_encrypt(shape(2, 8), np.ones((4, 6)))
    source = qv.EncryptedData(he)
    source.load_from_buffer(saved_tensor_data(he, [[tensor], [tensor, tensor]]))
    source.get_batch(1).get_item(1).get_tile_by_flat_index(1).load_from_buffer(
        qv.CTile(he).save_to_buffer())
    out = qv.EncryptedData(he)
    out.attach_output_storage(qv.FileStorage(str(tmp_path / "store"), True))
    files = sorted(p.name for p in (tmp_path / "store").iterdir())
    with pytest.raises(RuntimeError) as info:
        out.add_encrypted_data(source)
    assert str(info.value) == "Tile 1 of item 1 of batch 1 is empty: it holds no values"
    assert out.get_num_batches() == 0
    assert sorted(p.name for p in (tmp_path / "store").iterdir()) == files
    in_memory = qv.EncryptedData(he)
    with pytest.raises(RuntimeError) as info:
        in_memory.add_encrypted_data(source)
    assert str(info.value) == "Tile 1 of item 1 of batch 1 is empty: it holds no values"
    assert in_memory.get_num_batches() == 0


@pytest.mark.parametrize("round_number", [1, 2])
def test_decryption_rounds_check_the_input_they_read(round_number):
    """set_input keeps a data set whose items it shares with the caller: a
    tile emptied afterwards is refused by the round that reads the input,
    named as set_input names it."""
    he = multi_party_mockup(1, [1, 2])
    te = qv.TTEncoder(he)
    tensor = te.encode_encrypt(shape(2, 4), np.ones((2, 7)))
    data = qv.EncryptedData(he)
    data.load_from_buffer(saved_tensor_data(he, [[tensor], [tensor]]))
    holder = qv.DecryptProtocol(he)
    holder.set_plaintext_aggregator_id(1)
    holder.set_input(data)
    if round_number == 2:
        assert holder.execute_next_round(qv.ProtocolMessageVector(), qv.ProtocolMessageVector())
    data.get_batch(1).get_item(0).get_tile_by_flat_index(1).load_from_buffer(
        qv.CTile(he).save_to_buffer())
    out = qv.ProtocolMessageVector()
    with pytest.raises(RuntimeError) as info:
        holder.execute_next_round(out, qv.ProtocolMessageVector())
    assert str(info.value) == "Tile 1 of item 0 of batch 1 is empty: it holds no values"
    assert len(out) == 0
