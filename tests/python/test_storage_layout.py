import os

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup

MARKER = ".quorvane-file-storage"


@pytest.fixture
def he():
    return mockup(8, 3, 20, 10)


def test_file_storage_directory_holds_exactly_its_buffer_files(enc, tmp_path):
    root = tmp_path / "store"
    storage = qv.FileStorage(str(root), True)
    if os.path.exists(root / MARKER):
        pytest.skip("the file system keeps no extended attributes")
    assert os.listdir(root) == []
    c = enc.encode_encrypt([1.0, 2.0])
    storage.save(c, "obj")
    assert os.listdir(root) == ["obj"]
    assert (root / "obj").read_bytes() == c.save_to_buffer()
    # Created again with the flag, the storage starts empty.
    qv.FileStorage(str(root), True)
    assert os.listdir(root) == []


def test_create_flag_never_deletes_foreign_data(tmp_path):
    plain = tmp_path / "plain"
    plain.mkdir()
    (plain / "keep").write_bytes(b"precious")
    with pytest.raises(ValueError, match="is not empty and is not a FileStorage directory"):
        qv.FileStorage(str(plain), True)
    assert (plain / "keep").read_bytes() == b"precious"
    regular = tmp_path / "file"
    regular.write_bytes(b"precious")
    with pytest.raises(ValueError, match="exists and is not a directory"):
        qv.FileStorage(str(regular), True)
    assert regular.read_bytes() == b"precious"


def test_file_round_trip_counts_and_leaves_only_the_file(enc, he, tmp_path):
    c = enc.encode_encrypt([1.0, -2.5, 3.0])
    path = tmp_path / "c.bin"
    written = c.save_to_file(str(path))
    assert written == len(c.save_to_buffer())
    assert os.listdir(tmp_path) == ["c.bin"]
    loaded = qv.CTile(he)
    assert loaded.load_from_file(str(path)) == written
    assert loaded.save_to_buffer() == c.save_to_buffer()
    # Saving again replaces the file.
    d = enc.encode_encrypt([4.0])
    assert d.save_to_file(str(path)) == len(d.save_to_buffer())
    assert path.read_bytes() == d.save_to_buffer()
    assert os.listdir(tmp_path) == ["c.bin"]


def test_file_errors(enc, he, tmp_path):
    c = enc.encode_encrypt([1.0])
    for target in (tmp_path / "no" / "dir.bin", tmp_path):
        with pytest.raises(RuntimeError) as info:
            c.save_to_file(str(target))
        assert str(info.value) == "Failed to open file " + str(target)
    for source in (tmp_path / "missing.bin", tmp_path):
        with pytest.raises(RuntimeError) as info:
            qv.CTile(he).load_from_file(str(source))
        assert str(info.value) == "Failed to open file " + str(source)
    data = c.save_to_buffer()
    short = tmp_path / "short.bin"
    short.write_bytes(data[:-3])
    with pytest.raises(RuntimeError):
        qv.CTile(he).load_from_file(str(short))


def test_buffer_load_checks_the_class_before_the_body(enc, he, capfd):
    p = enc.encode(2.0)
    c = qv.CTile(he)
    with pytest.raises(RuntimeError, match="mismatching class name"):
        c.load_from_buffer(p.save_to_buffer())
    assert "CTile" in capfd.readouterr().err
    assert qv.PTile(he).get_class_name() == "PTile" and c.get_class_name() == "CTile"
    # Bytes after the saved object are ignored.
    q = qv.PTile(he)
    q.load_from_buffer(p.save_to_buffer() + b"tail")
    assert q.save_to_buffer() == p.save_to_buffer()


def test_tiles_refuse_every_storage_first(enc, tmp_path):
    c = enc.encode_encrypt([1.0])
    storage = qv.FileStorage(str(tmp_path / "s"), True)
    for attach in (c.attach_input_storage, c.attach_output_storage):
        for s in (storage, None):
            with pytest.raises(RuntimeError) as info:
                attach(s)
            assert str(info.value) == "This object type doesn't support Storage"
    with pytest.raises(RuntimeError) as info:
        c.flush_to_storage()
    assert str(info.value) == ("This object is not attached to a Storage object, cannot flush. "
                               "Save the object instead.")


@pytest.mark.parametrize("shape", [(5,), (2, 3), (2, 1, 3), (2, 3, 1, 2)])
def test_double_tensor_keeps_row_major_places(shape):
    arr = np.arange(np.prod(shape), dtype=np.float64).reshape(shape) * 1.5 - 2
    t = qv.DoubleTensor(arr)
    out = t.to_numpy()
    assert out.shape == shape and out.dtype == np.float64 and out.flags.c_contiguous
    np.testing.assert_array_equal(out, arr)
    t.add_scalar(0.5)
    np.testing.assert_array_equal(t.to_numpy(), arr + 0.5)
    assert t.assert_equals(qv.DoubleTensor(arr + 0.5), "same") == 0.0


@pytest.mark.parametrize("steps", [[1, 4], [5, -6, 7, 8, 9], [2**31 - 1]])
def test_rotation_steps_result_is_a_c_ordered_int32_array(steps):
    pf = qv.PublicFunctions()
    pf.set_rotation_steps(steps)
    out = pf.get_rotation_steps()
    assert out.dtype == np.int32 and out.shape == (len(steps),)
    assert out.strides == (4,) and out.flags.c_contiguous and out.flags.owndata
    assert out.tolist() == steps
