import struct

import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup, run_python

MODULE = "_pyquorvanelite_cppwrappers"
KEY_128 = bytes.fromhex("2b7e151628aed2a6abf7158809cf4f3c")
KEY_256 = bytes.fromhex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4")


@pytest.fixture(scope="module")
def he():
    """Enough slots for a compressed AES-128 key (1408 bits)."""
    return mockup(2048, 3)


def header_size(name):
    # magic, version, class name (length, bytes, NUL), context id
    return 4 + 4 + 4 + len(name) + 1 + 4


def body_fields(buf):
    """initialized, compressed, key size and round-key count of a saved key."""
    return struct.unpack_from("<??iQ", buf, header_size("AesKey"))


def test_class_and_docstrings():
    assert qv.AesKey.__bases__ == (qv.Saveable,)
    assert qv.AesKey.__module__ == MODULE
    assert qv.AesKey.__doc__ == (
        "\n          A class to hold the AES secret key encrypted under FHE, required for\n"
        "          decryption of AES ciphertexts under FHE.\n           ")
    assert qv.AesKey.__init__.__doc__ == (
        "__init__(self: {m}.AesKey, he: {m}.HeContext) -> None\n\n"
        "\n             Construct a new AES key object.\n\n"
        "             :param he: The HE context.\n           \n").format(m=MODULE)
    assert qv.AesKey.he_encrypt.__doc__ == (
        "he_encrypt(self: {m}.AesKey, plain_key: bytes, compress: bool = True) -> None\n\n"
        "\n            Encrypt the given plaintext AES key under FHE.\n\n"
        "            :param plain_key: The plaintext AES key, of size 128, 192 or 256 bits (16, 24\n"
        "                              or 32 bytes, respectively).\n"
        "            :param compress: Whether to store the key in a compressed fashion\n"
        "                             (recommended). This will result in much smaller object\n"
        "                             when saving to binary, but will require more time to\n"
        "                             uncompress when loading the key.\n           \n"
    ).format(m=MODULE)
    assert [n for n in vars(qv.AesKey) if not n.startswith("_")] == ["he_encrypt"]


def test_compressed_by_default_and_expanded_on_request(he):
    key = qv.AesKey(he)
    assert key.get_class_name() == "AesKey"
    key.he_encrypt(KEY_128)
    compressed = key.save_to_buffer()
    assert body_fields(compressed) == (True, True, 128, 0)
    key.he_encrypt(KEY_128, False)
    expanded = key.save_to_buffer()
    assert body_fields(expanded) == (True, False, 128, 11)
    assert len(expanded) > 100 * len(compressed)
    # A bytes subclass is accepted; the flag converts implicitly.

    class Raw(bytes):
        pass

    key.he_encrypt(Raw(KEY_256), 1)
    assert body_fields(key.save_to_buffer()) == (True, True, 256, 0)


@pytest.mark.parametrize("bad", ["2b7e151628aed2a6", bytearray(16), [0] * 16, None])
def test_plain_key_must_be_bytes(he, bad):
    key = qv.AesKey(he)
    with pytest.raises(TypeError, match="incompatible function arguments"):
        key.he_encrypt(bad)
    with pytest.raises(RuntimeError, match="Assertion failed: initialized$"):
        key.save_to_buffer()


def test_library_errors(he):
    key = qv.AesKey(he)
    with pytest.raises(RuntimeError, match="^Unsupported AES key size: 160-bit$"):
        key.he_encrypt(bytes(20))
    small = qv.AesKey(mockup(1024, 3))
    with pytest.raises(RuntimeError,
                       match="Assertion failed: bits.size\\(\\) <= he.slotCount\\(\\) "
                             "bits.size\\(\\)= 1408 while he.slotCount\\(\\)= 1024$"):
        small.he_encrypt(KEY_128)
    # Neither failure left a key behind.
    for k in (key, small):
        with pytest.raises(RuntimeError, match="Assertion failed: initialized$"):
            k.save_to_buffer()
    # A key of another context is refused on load.
    key.he_encrypt(KEY_128, False)
    with pytest.raises(RuntimeError, match="mismatching contexts"):
        qv.AesKey(mockup(2048, 3)).load_from_buffer(key.save_to_buffer())


def test_saved_compressed_key_loads_expanded(he, tmp_path):
    key = qv.AesKey(he)
    key.he_encrypt(KEY_128)
    path = str(tmp_path / "key.bin")
    written = key.save_to_file(path)
    loaded = qv.AesKey(he)
    assert loaded.load_from_file(path) == written
    assert body_fields(loaded.save_to_buffer()) == (True, False, 128, 11)
    again = qv.AesKey(he)
    again.load_from_buffer(loaded.save_to_buffer())
    assert again.save_to_buffer() == loaded.save_to_buffer()


def test_key_keeps_its_context_alive():
    result = run_python("""
        import gc
        import _pyquorvanelite_cppwrappers as qv
        he = qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(4, 2))
        key = qv.AesKey(he)
        del he
        gc.collect()
        others = [qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(2, 1))
                  for _ in range(50)]
        key.he_encrypt(bytes(16), False)
        assert len(key.save_to_buffer()) > 1000
        print("done")
        """)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "done\n"
