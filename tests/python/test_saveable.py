import pytest

import _pyquorvanelite_cppwrappers as qv

MODULE = "_pyquorvanelite_cppwrappers"


def test_class_tree():
    assert issubclass(qv.SaveableBasic, qv.Printable)
    assert issubclass(qv.Saveable, qv.SaveableBasic)
    assert qv.SaveableBasic.__bases__ == (qv.Printable,)
    assert qv.Saveable.__bases__ == (qv.SaveableBasic,)
    for cls in (qv.SaveableBasic, qv.Saveable):
        assert cls.__module__ == MODULE
        assert cls.__doc__ is None


@pytest.mark.parametrize("cls", ["SaveableBasic", "Saveable"])
def test_no_constructor(cls):
    with pytest.raises(TypeError, match="No constructor defined!$"):
        getattr(qv, cls)()


def test_members_in_registration_order():
    def own_members(cls):
        return [name for name in vars(cls) if not name.startswith("_")]

    assert own_members(qv.SaveableBasic) == ["save_to_buffer", "load_from_buffer"]
    assert own_members(qv.Saveable) == ["get_class_name", "save_to_file", "load_from_file",
                                        "attach_input_storage", "attach_output_storage",
                                        "flush_to_storage"]


SIGNATURES = [
    ("SaveableBasic", "save_to_buffer", "(self: {m}.SaveableBasic) -> bytes"),
    ("SaveableBasic", "load_from_buffer", "(self: {m}.SaveableBasic, buf: bytes) -> None"),
    ("Saveable", "get_class_name", "(self: {m}.Saveable) -> str"),
    ("Saveable", "save_to_file", "(self: {m}.Saveable, file_name: str) -> int"),
    ("Saveable", "load_from_file", "(self: {m}.Saveable, file_name: str) -> int"),
    # Storage is registered after Saveable, so its library name shows.
    ("Saveable", "attach_input_storage",
     "(self: {m}.Saveable, storage: quorvane::Storage) -> None"),
    ("Saveable", "attach_output_storage",
     "(self: {m}.Saveable, storage: quorvane::Storage) -> None"),
    ("Saveable", "flush_to_storage", "(self: {m}.Saveable) -> None"),
]


@pytest.mark.parametrize("cls,member,signature", SIGNATURES)
def test_signatures_and_docstrings(cls, member, signature):
    doc = getattr(getattr(qv, cls), member).__doc__
    first, blank, rest = doc.split("\n", 2)
    assert first == member + signature.format(m=MODULE)
    assert blank == ""
    # The stored docstring begins with a newline and is indented.
    assert rest.startswith("\n    ")
    assert len(rest.strip()) > 20


def test_docstring_gist():
    assert "Saves this object into a buffer." in qv.SaveableBasic.save_to_buffer.__doc__
    assert "Loads this object from a buffer." in qv.SaveableBasic.load_from_buffer.__doc__
    assert "number of bytes written" in qv.Saveable.save_to_file.__doc__
    assert "number of bytes read" in qv.Saveable.load_from_file.__doc__
    assert "only once" in qv.Saveable.flush_to_storage.__doc__


@pytest.mark.parametrize("call", [
    lambda: qv.SaveableBasic.save_to_buffer(object()),
    lambda: qv.SaveableBasic.load_from_buffer(None, b""),
    lambda: qv.Saveable.get_class_name(object()),
    lambda: qv.Saveable.flush_to_storage(None),
])
def test_members_refuse_other_objects(call):
    with pytest.raises(TypeError, match="incompatible function arguments"):
        call()




def test_plain_record_round_trip_through_bytes():
    assert issubclass(qv.PublicFunctions, qv.SaveableBasic)
    assert not issubclass(qv.PublicFunctions, qv.Saveable)
    source = qv.PublicFunctions()
    source.encrypt = False
    data = source.save_to_buffer()
    assert isinstance(data, bytes) and len(data) > 0
    target = qv.PublicFunctions()
    assert target.load_from_buffer(data + b"ignored") is None
    assert target.encrypt is False
    assert target.save_to_buffer() == data


@pytest.mark.parametrize("wrong", [bytearray(b"\x01\x01"), memoryview(b"\x01\x01"), "ab"])
def test_load_from_buffer_takes_bytes_only(wrong):
    with pytest.raises(TypeError):
        qv.PublicFunctions().load_from_buffer(wrong)


def test_load_from_buffer_accepts_bytes_subclasses_and_reports_truncation():
    class MyBytes(bytes):
        pass

    data = qv.PublicFunctions().save_to_buffer()
    target = qv.PublicFunctions()
    target.load_from_buffer(MyBytes(data))
    assert target.save_to_buffer() == data
    with pytest.raises(RuntimeError):
        target.load_from_buffer(data[:1])
