"""File saves: permissions of secret-key files, symbolic links, targets that are
not regular files, unusable paths and empty files."""
import os
import stat

import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup


def mode(path):
    return stat.S_IMODE(os.stat(path).st_mode)


@pytest.fixture
def he():
    return mockup(8, 2)


def saves(he):
    tile = qv.Encoder(he).encode_encrypt([1.0])
    return {"secret key": he.save_secret_key_to_file, "context": he.save_to_file,
            "tile": tile.save_to_file}


def test_secret_key_files_are_for_the_owner_only(he, tmp_path):
    old = os.umask(0o022)
    try:
        key = tmp_path / "key.bin"
        he.save_secret_key_to_file(str(key))
        assert mode(key) == 0o600
        key.write_bytes(b"old")
        key.chmod(0o644)
        he.save_secret_key_to_file(str(key))
        assert mode(key) == 0o600
        assert key.read_bytes() != b"old"
        # Files without a secret follow the creation mask as before.
        he.save_to_file(str(tmp_path / "context.bin"))
        assert mode(tmp_path / "context.bin") == 0o644
    finally:
        os.umask(old)
    loaded = qv.load_he_context(he.save_to_buffer())
    loaded.load_secret_key_from_file(str(key))
    assert loaded.has_secret_key()


def test_saves_write_through_symbolic_links(he, tmp_path):
    (tmp_path / "sub").mkdir()
    link = tmp_path / "link"
    link.symlink_to("sub/target")
    he.save_to_file(str(link))
    assert link.is_symlink()
    assert (tmp_path / "sub" / "target").read_bytes() == he.save_to_buffer()
    he.save_secret_key_to_file(str(link))
    assert link.is_symlink() and mode(tmp_path / "sub" / "target") == 0o600
    assert sorted(p.name for p in tmp_path.iterdir()) == ["link", "sub"]


def test_targets_that_are_not_regular_files_are_refused(he, tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    (tmp_path / "device").symlink_to("/dev/null")
    for name in ("fifo", "device"):
        path = str(tmp_path / name)
        for save in saves(he).values():
            with pytest.raises(RuntimeError) as info:
                save(path)
            assert str(info.value) == ("Failed to open file " + path +
                                       ": the path exists and is not a regular file")
    assert stat.S_ISFIFO(os.stat(fifo).st_mode)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["device", "fifo"]


@pytest.mark.parametrize("as_bytes", [False, True])
def test_paths_holding_nul_are_refused(he, tmp_path, as_bytes):
    path = str(tmp_path / "a") + "\0b"
    arg = path.encode() if as_bytes else path
    calls = list(saves(he).values()) + [qv.load_he_context_from_file,
                                       qv.CTile(he).load_from_file]
    for call in calls:
        with pytest.raises(ValueError) as info:
            call(arg)
        assert str(info.value) == ("Failed to open file " + str(tmp_path / "a") +
                                   "\\0b: the path holds a NUL character")
    assert list(tmp_path.iterdir()) == []


def test_empty_paths_and_empty_files(he, tmp_path):
    for call in list(saves(he).values()) + [qv.load_he_context_from_file]:
        with pytest.raises(RuntimeError) as info:
            call("")
        assert str(info.value) == "Failed to open file : empty path"
    empty = tmp_path / "empty"
    empty.write_bytes(b"")
    for call in (qv.load_he_context_from_file, qv.CTile(he).load_from_file,
                 qv.MockupContext().load_from_file):
        with pytest.raises(RuntimeError) as info:
            call(str(empty))
        assert str(info.value) == "Failed to read file %s: file is empty" % empty
