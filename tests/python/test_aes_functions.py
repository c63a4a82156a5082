import gc

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup, saved_encrypted_data

MODULE = "_pyquorvanelite_cppwrappers"
N = qv.NumberSize
FLOAT32 = qv.NumberConfig.floating_point(N.SIZE_32_BIT)
prepare = qv.prepare_default_plain_blocks_for_aes_encryption
load = qv.load_encrypted_data
decrypt = qv.decrypt_default_aes_encrypted_blocks_under_fhe


def test_prepare_docstring():
    assert prepare.__doc__.endswith(
        "\n\n\n        Arranges the given inputs, containing tensors with numbers, into\n"
        "        blocks of bytes to be encrypted under AES. Returns a deafult arrangement\n"
        "        that does not consider how the data will be packed and used after decrypting\n"
        "        the AES.\n\n"
        "        :param inputs: The inputs to arrange into blocks.\n"
        "        :param number_config: The number configuration describing the numbers.\n"
        "      \n")
    assert prepare.__doc__.startswith(
        "prepare_default_plain_blocks_for_aes_encryption(inputs: list[numpy.ndarray[numpy.float64]], "
        "number_config: {m}.NumberConfig) -> list".format(m=MODULE))


@pytest.mark.parametrize("inputs, config, blocks", [
    ([np.array([1.0, 2.0])], FLOAT32,
     [[0, 0, 128, 63, 0, 0, 0, 64, 0, 0, 0, 0, 0, 0, 0, 0]]),
    ([], FLOAT32, [[0] * 16]),
    ([np.array([])], qv.NumberConfig.integer(N.SIZE_8_BIT, qv.NumberSigned.SIGNED), [[0] * 16]),
    # 17 values of 8 bits: the second block holds one.
    ([np.arange(1.0, 13.0), np.array([-1.0, -2, -3, -4, -5])],
     qv.NumberConfig.integer(N.SIZE_8_BIT, qv.NumberSigned.SIGNED),
     [list(range(1, 13)) + [255, 254, 253, 252], [251] + [0] * 15]),
    # Dimension 0 varies fastest.
    ([np.array([[1.0, 2, 3], [4, 5, 6]])],
     qv.NumberConfig.fixed_point(N.SIZE_16_BIT, qv.NumberSigned.UNSIGNED, 4),
     [[16, 0, 64, 0, 32, 0, 80, 0, 48, 0, 96, 0, 0, 0, 0, 0]]),
    # Signed fixed point, and lists converted to arrays.
    ([[-0.5]], qv.NumberConfig.fixed_point(N.SIZE_16_BIT, qv.NumberSigned.SIGNED, 8),
     [[0x80, 0xff] + [0] * 14]),
])
def test_prepare_blocks(inputs, config, blocks):
    res = prepare(inputs, config)
    assert res == blocks
    assert all(type(b) is list and all(type(v) is int for v in b) for b in res)


def test_prepare_keyword_arguments():
    assert prepare(number_config=FLOAT32, inputs=[np.array([1.0])])[0][:4] == [0, 0, 128, 63]


@pytest.mark.parametrize("value, config, message", [
    (300.0, qv.NumberConfig.integer(N.SIZE_8_BIT, qv.NumberSigned.SIGNED),
     "Value 300 is out of range for a signed 8-bit integer: expected a number from -128 to 127 "
     "(truncated toward zero)"),
    (float("nan"), FLOAT32,
     "Value nan is out of range for a 32-bit floating-point number: expected 0 or a magnitude of "
     "at least 2^-31 (4.656612873077393e-10) and below 2^33 (8589934592) after rounding to "
     "binary32"),
    (float("inf"), qv.NumberConfig.fixed_point(N.SIZE_32_BIT, qv.NumberSigned.UNSIGNED, 2),
     "Value inf is out of range for an unsigned 32-bit fixed-point number with 2 fraction bits: "
     "expected a number from 0 to 1073741823.75 (truncated toward zero to a multiple of 2^-2)"),
])
def test_prepare_refuses_values_out_of_range(value, config, message):
    with pytest.raises(ValueError) as e:
        prepare([np.array([1.0, value])], config)
    assert str(e.value) == message


@pytest.mark.parametrize("config", [qv.NumberConfig.bit(),
                                    qv.NumberConfig.floating_point(N.SIZE_16_BIT)])
def test_prepare_refuses_formats_without_byte_form(config):
    with pytest.raises(RuntimeError, match="^Number config not supported for bytes extraction$"):
        prepare([np.array([1.0])], config)


@pytest.mark.parametrize("args", [
    ([np.array([1.0])], None),
    ([np.array(["a"])], FLOAT32),
    ("ab", FLOAT32),
])
def test_prepare_refuses_arguments_that_do_not_convert(args):
    with pytest.raises(TypeError, match="incompatible function arguments"):
        prepare(*args)


# ---------------------------------------------------------------- load_encrypted_data

def test_load_docstring():
    assert load.__doc__ == (
        "load_encrypted_data(context: {m}.HeContext, buf: bytes) -> {m}.EncryptedData\n\n"
        "\n             Loads encrypted data from a buffer written by EncryptedData.save_to_buffer.\n\n"
        "             :param context: The HE context the data belongs to.\n"
        "             :param buf: The saved encrypted data.\n"
        "             :return: The loaded encrypted data.\n"
        "             :rtype: EncryptedData\n"
        "           \n").format(m=MODULE)


def test_load_encrypted_data():
    he = mockup(8, 3)
    saved = saved_encrypted_data(he, [[[1.0, 2.0], [3.0]], [[4.0]]])
    data = load(buf=saved, context=he)
    assert type(data) is qv.EncryptedData
    assert data.get_num_batches() == 2
    assert data.save_to_buffer() == saved
    # The data keeps its context alive.
    del he
    gc.collect()
    assert data.save_to_buffer() == saved


def test_load_refuses_other_objects_and_contexts():
    he = mockup(8, 3)
    tile = qv.Encoder(he).encode_encrypt(np.ones(1))
    with pytest.raises(RuntimeError) as e:
        load(he, tile.save_to_buffer())
    assert str(e.value) == ("Expected input to contain an object of type EncryptedData. "
                            "Instead found CTile")
    with pytest.raises(RuntimeError):
        load(mockup(8, 3), saved_encrypted_data(he, [[[1.0]]]))
    with pytest.raises(TypeError, match="incompatible function arguments"):
        load(he, "not bytes")
    with pytest.raises(TypeError, match="incompatible function arguments"):
        load(None, b"")


# ---------------------------------------------------------------- decryption under HE

def test_decrypt_docstring():
    assert decrypt.__doc__ == (
        "decrypt_default_aes_encrypted_blocks_under_fhe(res: {m}.EncryptedData, "
        "encrypted_blocks: list[bytes], aes_key: {m}.AesKey, iv: bytes, "
        "number_config: {m}.NumberConfig, data_packing: {m}.DataPacking) -> None\n\n"
        "\n        Decrypts the given AES-encrypted blocks, running the AES-decryption\n"
        "        under FHE given an FHE-encrypted AES secret key. Supports the AES counter\n"
        "        (CTR) mode of operation. Assumes the original tensors of numbers were\n"
        "        arranged into blocks accoring to a default arrangement.\n\n"
        "        :param res: The result encrypted data object to populate.\n"
        "        :param encrypted_blocks: The AES-encrypted blocks.\n"
        "        :param aes_key: The AES secret key, encrypted under FHE.\n"
        "        :param iv: The counter mode initialization vector (IV), should contain 16\n"
        "                   bytes (128 bits).\n"
        "        :param number_config: The number configuration describing the numbers.\n"
        "        :param data_packing: The desired data packing to pack the numbers into.\n"
        "      \n").format(m=MODULE)


def test_data_packing_is_an_opaque_class():
    assert [b.__name__ for b in qv.DataPacking.__bases__] == ["pybind11_object"]
    assert not issubclass(qv.DataPacking, (qv.Saveable, qv.Printable))
    assert [n for n in vars(qv.DataPacking) if not n.startswith("_")] == []
    with pytest.raises(TypeError, match="No constructor defined"):
        qv.DataPacking()


def test_decrypt_refuses_arguments_that_do_not_convert():
    # Python cannot make a DataPacking: no call converts, whatever else is given.
    he = mockup(8, 3)
    key = qv.AesKey(he)
    res = qv.EncryptedData(he)
    for args in [
        (res, [bytes(16)], key, bytes(16), FLOAT32, None),
        (res, ["a str"], key, bytes(8), FLOAT32, None),
        (None, [bytes(16)], key, bytes(16), FLOAT32, None),
    ]:
        with pytest.raises(TypeError, match="incompatible function arguments"):
            decrypt(*args)
    assert res.get_num_batches() == 0
