import os

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import DictHandler, mockup, saved_batch, saved_data, with_empty_tile

SLOTS = 8
VALUES = np.array([0.5, -1.25, 3.0, 0.0, 2.0, -7.5, 1.0, 4.25])


@pytest.fixture
def he():
    return mockup(SLOTS, 4)


class RecordingHandler:
    """Keeps buffers in a dictionary and records every call."""

    def __init__(self):
        self.buffers = {}
        self.calls = []

    def get_buffer_for_read(self, name):
        self.calls.append(("read", name))
        return self.buffers[name]

    def on_buffer_write_open(self, name):
        self.calls.append(("open", name))

    def on_buffer_write_close(self, name, data):
        self.calls.append(("close", name, data))
        self.buffers[name] = data


# ---- Classes ----

def test_class_tree():
    assert issubclass(qv.FileStorage, qv.Storage)
    assert issubclass(qv.PythonBackedStorage, qv.Storage)
    with pytest.raises(TypeError, match="No constructor defined"):
        qv.Storage()


# ---- The Python-backed storage ----

def test_save_and_load_call_the_handler(he, enc):
    handler = RecordingHandler()
    storage = qv.PythonBackedStorage(handler)
    c = enc.encode_encrypt(VALUES, 3)
    p = enc.encode(VALUES[::-1].tolist(), 2)
    assert storage.save(c, "tile") is None
    storage.save(p, "plain")
    assert handler.calls == [("open", "tile"), ("close", "tile", c.save_to_buffer()),
                             ("open", "plain"), ("close", "plain", p.save_to_buffer())]
    assert all(type(call[2]) is bytes for call in handler.calls if call[0] == "close")

    handler.calls.clear()
    loaded = storage.load(he, "tile")
    loaded_p = storage.load(he, "plain")
    assert handler.calls == [("read", "tile"), ("read", "plain")]
    assert type(loaded) is qv.CTile and type(loaded_p) is qv.PTile
    assert loaded.get_chain_index() == 3
    np.testing.assert_array_equal(enc.decrypt_decode_double(loaded), VALUES)
    np.testing.assert_array_equal(enc.decode_double(loaded_p), VALUES[::-1])
    assert loaded.save_to_buffer() == c.save_to_buffer()


def test_handler_may_return_a_bytes_subclass(he, enc):
    class Data(bytes):
        pass

    class Handler(RecordingHandler):
        def get_buffer_for_read(self, name):
            return Data(self.buffers[name])

    handler = Handler()
    storage = qv.PythonBackedStorage(handler)
    storage.save(enc.encode_encrypt(VALUES), "x")
    np.testing.assert_array_equal(enc.decrypt_decode_double(storage.load(he, "x")), VALUES)


@pytest.mark.parametrize("result,type_name", [
    ("text", "str"), (bytearray(b"abc"), "bytearray"), (None, "NoneType"), (memoryview(b"a"),
                                                                           "memoryview")])
def test_read_must_return_bytes(he, result, type_name):
    class Handler(RecordingHandler):
        def get_buffer_for_read(self, name):
            return result

    storage = qv.PythonBackedStorage(Handler())
    with pytest.raises(TypeError) as e:
        storage.load(he, "x")
    assert str(e.value) == f"Object of type '{type_name}' is not an instance of 'bytes'"


def test_missing_handler_methods():
    class TwoMethods:
        def get_buffer_for_read(self, name):
            return b""

        def on_buffer_write_open(self, name):
            pass

    with pytest.raises(AttributeError, match="on_buffer_write_close"):
        qv.PythonBackedStorage(TwoMethods())
    with pytest.raises(AttributeError, match="get_buffer_for_read"):
        qv.PythonBackedStorage(None)


@pytest.mark.parametrize("bad_method", ["get_buffer_for_read", "on_buffer_write_open",
                                        "on_buffer_write_close"])
@pytest.mark.parametrize("value", [None, 3, "text"])
def test_handler_attributes_must_be_callable(bad_method, value):
    handler = RecordingHandler()
    setattr(handler, bad_method, value)
    with pytest.raises(ValueError) as e:
        qv.PythonBackedStorage(handler)
    assert str(e.value) == "Handler object doesn't have method " + bad_method


def test_first_bad_method_is_reported():
    class Handler:
        get_buffer_for_read = None
        on_buffer_write_open = None

    with pytest.raises(ValueError) as e:
        qv.PythonBackedStorage(Handler())
    assert str(e.value) == "Handler object doesn't have method get_buffer_for_read"


def test_handler_errors_reach_the_caller(he, enc):
    class Refusing(RecordingHandler):
        def __init__(self, failing):
            super().__init__()
            self.failing = failing

        def get_buffer_for_read(self, name):
            if self.failing == "read":
                raise KeyError(name)
            return super().get_buffer_for_read(name)

        def on_buffer_write_open(self, name):
            super().on_buffer_write_open(name)
            if self.failing == "open":
                raise PermissionError("no writing")

        def on_buffer_write_close(self, name, data):
            if self.failing == "close":
                raise OSError("disk full")
            super().on_buffer_write_close(name, data)

    c = enc.encode_encrypt(VALUES)
    handler = Refusing("read")
    with pytest.raises(KeyError):
        qv.PythonBackedStorage(handler).load(he, "missing")
    handler = Refusing("open")
    with pytest.raises(PermissionError, match="no writing"):
        qv.PythonBackedStorage(handler).save(c, "x")
    assert handler.calls == [("open", "x")] and handler.buffers == {}
    handler = Refusing("close")
    with pytest.raises(OSError, match="disk full"):
        qv.PythonBackedStorage(handler).save(c, "x")
    assert handler.buffers == {}


def test_storage_keeps_only_the_methods_of_the_handler(he, enc):
    import gc
    import weakref

    handler = RecordingHandler()
    storage = qv.PythonBackedStorage(handler)
    ref = weakref.ref(handler)
    del handler
    gc.collect()
    assert ref() is not None  # the bound methods hold it
    storage.save(enc.encode_encrypt(VALUES), "x")
    del storage
    gc.collect()
    assert ref() is None


def empty_seal_tile():
    """A tile whose save fails after the header is written."""
    req = qv.HeConfigRequirement.insecure(1024, 1, 30, 10)
    pf = req.public_functions
    pf.relinearize = False
    pf.rotate = qv.RotationSetType.NO_ROTATIONS
    pf.conjugate = qv.ConjugationSupport.FALSE
    req.public_functions = pf
    seal = qv.HeContext.create("SEAL_CKKS", req)
    return seal, qv.CTile(seal)


def test_failed_save_leaves_previous_contents_intact(enc):
    seal, empty = empty_seal_tile()
    handler = RecordingHandler()
    storage = qv.PythonBackedStorage(handler)
    good = enc.encode_encrypt(VALUES)
    storage.save(good, "x")
    handler.calls.clear()
    with pytest.raises(RuntimeError, match="empty ciphertext"):
        storage.save(empty, "x")
    # The handler saw the write open, but never received the partial data.
    assert handler.calls == [("open", "x")]
    assert handler.buffers["x"] == good.save_to_buffer()


# ---- The file storage ----

def test_file_storage_round_trip(he, enc, tmp_path):
    root = str(tmp_path / "store")
    storage = qv.FileStorage(root, True)
    c = enc.encode_encrypt(VALUES, 2)
    p = enc.encode(1.5)
    storage.save(c, "c")
    storage.save(p, "p")
    with open(os.path.join(root, "c"), "rb") as f:
        assert f.read() == c.save_to_buffer()
    loaded = qv.FileStorage(root).load(he, "c")
    assert type(loaded) is qv.CTile and loaded.get_chain_index() == 2
    np.testing.assert_array_equal(enc.decrypt_decode_double(loaded), VALUES)
    assert type(storage.load(he, "p")) is qv.PTile


def test_file_storage_refusals(he, enc, tmp_path):
    missing = str(tmp_path / "missing")
    with pytest.raises(ValueError) as e:
        qv.FileStorage(missing)
    assert str(e.value) == (f"Cannot open FileStorage with path {missing}: path doesn't exist. "
                            "Create it or turn on the 'create' flag.")
    with pytest.raises(ValueError) as e:
        qv.FileStorage(missing, 0)
    root = str(tmp_path / "store")
    storage = qv.FileStorage(root, True)
    c = enc.encode_encrypt(VALUES)
    storage.save(c, "c")
    with pytest.raises(ValueError, match="trying to write to file c but file already exists.$"):
        storage.save(c, "c")
    for name in ["a/b", "a\\b"]:
        with pytest.raises(ValueError, match="^Illegal buffer name: "):
            storage.save(c, name)
    with pytest.raises(RuntimeError, match="failed to open file nothing for reading.$"):
        storage.load(he, "nothing")


def test_file_storage_create_flag_cleans_a_storage(enc, tmp_path):
    root = str(tmp_path / "store")
    first = qv.FileStorage(root, True)
    first.save(enc.encode(1.0), "old")
    assert os.path.exists(os.path.join(root, "old"))
    qv.FileStorage(root, 2)  # any non-zero value means create
    assert not os.path.exists(os.path.join(root, "old"))
    qv.FileStorage(root, create=True)


def test_failed_file_save_leaves_no_file(enc, tmp_path):
    seal, empty = empty_seal_tile()
    root = str(tmp_path / "store")
    storage = qv.FileStorage(root, True)
    with pytest.raises(RuntimeError):
        storage.save(empty, "x")
    assert not os.path.exists(os.path.join(root, "x"))
    good = enc.encode_encrypt(VALUES)
    storage.save(good, "x")  # the name is still free
    with open(os.path.join(root, "x"), "rb") as f:
        assert f.read() == good.save_to_buffer()


# ---- Storage arguments ----

def test_storage_arguments(he, enc, tmp_path):
    storage = qv.PythonBackedStorage(RecordingHandler())
    c = enc.encode_encrypt(VALUES)
    with pytest.raises(TypeError):
        storage.save(None, "x")
    with pytest.raises(TypeError):
        storage.save(qv.HeConfigRequirement.insecure(8, 2), "x")
    with pytest.raises(TypeError):
        storage.load(None, "x")
    with pytest.raises(TypeError):
        qv.Storage.save(None, c, "x")
    # Tiles cannot be attached to any storage; None is no storage either.
    for s in [storage, qv.FileStorage(str(tmp_path / "s"), True)]:
        with pytest.raises(RuntimeError, match="^This object type doesn't support Storage$"):
            c.attach_output_storage(s)
        with pytest.raises(RuntimeError, match="^This object type doesn't support Storage$"):
            c.attach_input_storage(s)
    with pytest.raises((TypeError, ValueError, RuntimeError)):
        c.attach_output_storage(None)
    with pytest.raises((TypeError, ValueError, RuntimeError)):
        c.attach_input_storage(None)



# ---- Adding data sets kept in storages ----

class _Place:
    """Where a data set keeps its batches: in memory, in a file storage or in
    a Python storage."""

    def __init__(self, kind, path):
        self.kind, self.path, self.handler = kind, path, DictHandler()

    def storage(self, create):
        if self.kind == "file":
            return qv.FileStorage(str(self.path), create)
        return qv.PythonBackedStorage(self.handler)

    def buffers(self):
        if self.kind == "file":
            return {p.name: p.read_bytes() for p in self.path.iterdir()}
        return dict(self.handler.buffers)

    def write(self, name, data):
        if self.kind == "file":
            (self.path / name).write_bytes(data)
        else:
            self.handler.buffers[name] = data


@pytest.mark.parametrize("target_kind", ["memory", "file", "python"])
@pytest.mark.parametrize("source_kind,fault", [
    ("memory", "empty tile"), ("file", "truncated"), ("file", "empty tile"),
    ("python", "truncated"), ("python", "empty tile")])
def test_adding_a_data_set_is_all_or_nothing(he, tmp_path, source_kind, fault, target_kind):
    """A faulty last batch of the source leaves the target's count, batches and
    buffers as they were, and the refusal names the batch; mended, the source
    is added whole."""
    te = qv.TTEncoder(he)
    shape = qv.TTShape([SLOTS])
    saved = [saved_batch(he, [te.encode_encrypt(shape, np.full(SLOTS, v)).save_to_buffer()])
             for v in (7.0, 1.0, 2.0, 3.0)]
    last = qv.EncryptedBatch(he)
    last.load_from_buffer(saved[3])
    faulty = saved[3][:-5] if fault == "truncated" else \
        saved_batch(he, [with_empty_tile(last.get_item(0), qv.CTile(he), 0)])

    source = qv.load_encrypted_data(he, saved_data(he, saved[1:]))
    src = _Place(source_kind, tmp_path / "source")
    if source_kind == "memory":
        emptied = source.get_batch(2).get_item(0).get_tile_by_flat_index(0)
        emptied.load_from_buffer(qv.CTile(he).save_to_buffer())
        expected = "Tile 0 of item 0 of batch 2 is empty: it holds no values"
    else:
        out = qv.EncryptedData(he)
        out.attach_output_storage(src.storage(True))
        out.add_encrypted_data(source)
        out.flush_to_storage()
        src.write("batch-2", faulty)
        source = qv.EncryptedData(he)
        source.attach_input_storage(src.storage(False))
        # The direct load's own refusal, with the batch named.
        with pytest.raises(RuntimeError) as direct:
            if source_kind == "file":
                qv.EncryptedBatch(he).load_from_file(str(src.path / "batch-2"))
            else:
                qv.EncryptedBatch(he).load_from_buffer(faulty)
        expected = "Cannot read batch 2 of the stored data set: " + str(direct.value)

    dst = _Place(target_kind, tmp_path / "target")
    target = qv.EncryptedData(he)
    if target_kind != "memory":
        target.attach_output_storage(dst.storage(True))
    target.add_encrypted_data(qv.load_encrypted_data(he, saved_data(he, saved[:1])))
    before = target.get_batch(0).save_to_buffer() if target_kind == "memory" else dst.buffers()

    with pytest.raises(RuntimeError) as info:
        target.add_encrypted_data(source)
    assert target.get_num_batches() == 1
    if target_kind == "memory":
        assert target.get_batch(0).save_to_buffer() == before
    else:
        assert dst.buffers() == before
    assert type(info.value) is RuntimeError
    assert str(info.value) == expected

    # Mended, the source is added whole.
    if source_kind == "memory":
        emptied.load_from_buffer(last.get_item(0).get_tile_by_flat_index(0).save_to_buffer())
    else:
        src.write("batch-2", saved[3])
    target.add_encrypted_data(source)
    assert target.get_num_batches() == 4
    if target_kind != "memory":
        target.flush_to_storage()
        target = qv.EncryptedData(he)
        target.attach_input_storage(dst.storage(False))
    assert [te.decrypt_decode_double(target.get_batch(i).get_item(0))[0]
            for i in range(target.get_num_batches())] == [7.0, 1.0, 2.0, 3.0]


def test_adding_to_a_data_set_attached_for_input_is_refused(he, tmp_path):
    """Its batches are read from the storage: an added batch could never be
    read, so adding is refused before anything changes."""
    te = qv.TTEncoder(he)
    batches = [saved_batch(he, [te.encode_encrypt(qv.TTShape([SLOTS]),
                                                  np.full(SLOTS, v)).save_to_buffer()])
               for v in (1.0, 2.0)]
    out = qv.EncryptedData(he)
    out.attach_output_storage(qv.FileStorage(str(tmp_path / "store"), True))
    out.add_encrypted_data(qv.load_encrypted_data(he, saved_data(he, batches)))
    out.flush_to_storage()
    files = sorted(p.name for p in (tmp_path / "store").iterdir())
    data = qv.EncryptedData(he)
    data.attach_input_storage(qv.FileStorage(str(tmp_path / "store"), False))
    for other in [qv.load_encrypted_data(he, saved_data(he, batches[:1])),
                  qv.EncryptedData(he), data]:
        with pytest.raises(RuntimeError) as info:
            data.add_encrypted_data(other)
        assert str(info.value) == (
            "This data set is attached to an input storage: batches cannot be added to it. "
            "Add them to a data set that is not attached, or attached to an output storage.")
    assert data.get_num_batches() == 2
    assert te.decrypt_decode_double(data.get_batch(1).get_item(0))[0] == 2.0
    assert sorted(p.name for p in (tmp_path / "store").iterdir()) == files
