"""Library errors reach Python with their type and their text, also where the
text echoes saved bytes that are not UTF-8: those bytes appear escaped."""

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import DictHandler, mockup, saved_encrypted_data


@pytest.fixture
def he():
    return mockup(16, 4)


def flipped(data, offset):
    """The bytes with the top bit of one byte flipped."""
    b = bytearray(data)
    b[offset] ^= 0x80
    return bytes(b)


# A saved header: magic (4), version (4), class-name length (4), then the name.
CLASS_NAME_AT = 12


def test_context_name_that_is_not_utf8(he):
    # Byte 30 is the first letter of the registry key "Mockup_Mockup".
    data = flipped(he.save_to_buffer(), 30)
    with pytest.raises(RuntimeError) as info:
        qv.load_he_context(data)
    assert str(info.value) == "No registered HE context under the name \\xcdockup_Mockup"
    assert info.type is RuntimeError


def test_class_name_read_from_a_buffer(he):
    data = flipped(saved_encrypted_data(he, [[[1.0]]]), CLASS_NAME_AT)
    with pytest.raises(RuntimeError) as info:
        qv.load_encrypted_data(he, data)
    assert str(info.value) == "File contains unrecognized Saveable object \\xc5ncryptedData"


def test_class_names_read_through_storages(he, tmp_path):
    tile = qv.Encoder(he).encode_encrypt(np.ones(16))
    files = qv.FileStorage(str(tmp_path / "store"), True)
    handler = DictHandler()
    backed = qv.PythonBackedStorage(handler)
    for storage in (files, backed):
        storage.save(tile, "tile")
    (tmp_path / "store" / "tile").write_bytes(
        flipped((tmp_path / "store" / "tile").read_bytes(), CLASS_NAME_AT))
    handler.buffers["tile"] = flipped(handler.buffers["tile"], CLASS_NAME_AT)
    for storage in (files, backed):
        with pytest.raises(RuntimeError) as info:
            storage.load(he, "tile")
        assert str(info.value) == "File contains unrecognized Saveable object \\xc3Tile"


@pytest.mark.parametrize("text", ["caf\xe9", "\u2603 snow", "plain"])
def test_valid_texts_are_unchanged(he, text):
    """Texts that decode (any UTF-8, not only ASCII) come through as they are."""
    data = he.save_to_buffer()
    name = b"Mockup_Mockup\0"
    at = data.index(name)
    encoded = text.encode() + b"\0"
    length = int.from_bytes(data[at - 4:at], "little")
    assert length == len(name)
    data = data[:at - 4] + len(encoded).to_bytes(4, "little") + encoded + data[at + len(name):]
    with pytest.raises(RuntimeError) as info:
        qv.load_he_context(data)
    assert str(info.value) == "No registered HE context under the name " + text


class HandlerError(Exception):
    """An error of the tests' own, raised by a storage handler."""


class RaisingHandler(DictHandler):
    def get_buffer_for_read(self, name):
        raise HandlerError(name)


class NotBytesHandler(DictHandler):
    def get_buffer_for_read(self, name):
        return bytearray(b"x")


def test_errors_keep_their_python_types(he):
    """Each kind of error keeps its Python type and text: the library's own
    (by their C++ type), pybind11's own (thrown by the bindings), and Python
    errors raised by a handler."""
    tile = qv.Encoder(he).encode_encrypt(np.ones(16))
    pf = qv.PublicFunctions()
    cases = [
        (lambda: qv.EncryptedBatch(he).get_item(0), IndexError, "invalid vector subscript"),
        (lambda: tile.set_chain_index(10), ValueError,
         "Given chain index is out of range or higher than current. Given CI= 10 current CI= 4"),
        (lambda: qv.CTileTensor(he).get_chain_index(), RuntimeError,
         "This tile tensor has not been packed"),
        (lambda: pf.set_rotation_steps([1 << 31]), ValueError,
         "Rotation step 2147483648 is outside the range of 32-bit signed integers"),
        (lambda: qv.PythonBackedStorage(DictHandler()).load(he, "missing"), KeyError,
         "'missing'"),
        (lambda: qv.PythonBackedStorage(RaisingHandler()).load(he, "gone"), HandlerError,
         "gone"),
        (lambda: qv.PythonBackedStorage(NotBytesHandler()).load(he, "x"), TypeError,
         "Object of type 'bytearray' is not an instance of 'bytes'"),
        (lambda: qv.CTileVector()[0], IndexError, ""),
        (lambda: qv.ProtocolMessageVector().pop(), IndexError, ""),
        (lambda: next(iter(qv.CTileVector())), StopIteration, ""),
        (lambda: setattr(qv.get_print_options(), "precision", 31), ValueError,
         "Print precision 31 is out of range: expected a value in [0, 30]"),
    ]
    for call, kind, message in cases:
        with pytest.raises(Exception) as info:
            call()
        assert info.type is kind
        assert str(info.value) == message
        assert info.value.__cause__ is None


def test_a_python_error_crosses_the_library_as_it_was_raised(he):
    """The handler's own exception object arrives, with its traceback."""
    raised = []

    class Handler(DictHandler):
        def get_buffer_for_read(self, name):
            raised.append(HandlerError(name))
            raise raised[-1]

    with pytest.raises(HandlerError) as info:
        qv.PythonBackedStorage(Handler()).load(he, "gone")
    assert info.value is raised[0]
    assert info.traceback[-1].name == "get_buffer_for_read"
