import re

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup

SLOTS = 8
DEPTH = 5


@pytest.fixture
def he():
    return mockup(SLOTS, DEPTH)


def padded(values, dtype=float):
    out = np.zeros(SLOTS, dtype=dtype)
    out[:len(values)] = values
    return out


# ---- Encoding and the choice of overloads ----

@pytest.mark.parametrize("call,expected", [
    (lambda e: e.encode(7), [7.0] * SLOTS),
    (lambda e: e.encode(3.5), [3.5] * SLOTS),
    (lambda e: e.encode(np.float32(2.5)), [2.5] * SLOTS),
    (lambda e: e.encode(np.int64(-4)), [-4.0] * SLOTS),
    (lambda e: e.encode([1, 2]), padded([1, 2])),
    (lambda e: e.encode(val=[1, 2]), padded([1, 2])),
    (lambda e: e.encode(vals=[1, 2]), padded([1, 2])),
    (lambda e: e.encode([1.0, 2]), padded([1, 2])),
    (lambda e: e.encode([0.5, 1.5]), padded([0.5, 1.5])),
    (lambda e: e.encode(np.array([1.5, -2.5])), padded([1.5, -2.5])),
    (lambda e: e.encode(np.array([1.5, -2.5], dtype=np.float32)), padded([1.5, -2.5])),
    (lambda e: e.encode([np.float32(0.25), np.float32(3.75)]), padded([0.25, 3.75])),
    (lambda e: e.encode(np.array([3, -1], dtype=np.int32)), padded([3, -1])),
    (lambda e: e.encode((4, 5, 6)), padded([4, 5, 6])),
    (lambda e: e.encode([1 + 2j, -1j]), padded([1 + 2j, -1j], complex)),
    (lambda e: e.encode(np.array([0.5j])), padded([0.5j], complex)),
    (lambda e: e.encode([]), padded([])),
])
def test_encode_overloads_never_truncate(enc, call, expected):
    p = call(enc)
    assert type(p) is qv.PTile
    np.testing.assert_array_equal(enc.decode_complex(p), np.asarray(expected, dtype=complex))
    assert p.get_chain_index() == DEPTH


def test_encode_int_decodes_to_int32(enc):
    values = enc.decode_int(enc.encode(7))
    assert values.dtype == np.int32
    np.testing.assert_array_equal(values, [7] * SLOTS)


def test_decode_int_rounds_halves_away_from_zero(enc):
    p = enc.encode([2.5, -2.5, 2.4999, -0.5, 0.5, 1e9])
    np.testing.assert_array_equal(enc.decode_int(p), [3, -3, 2, -1, 1, 1000000000, 0, 0])
    c = enc.encrypt_tile(p)
    np.testing.assert_array_equal(enc.decrypt_decode_int(c), [3, -3, 2, -1, 1, 1000000000, 0, 0])


@pytest.mark.parametrize("value", [3e9, -2.5e9, 2147483647.5, float("nan"), float("inf")])
def test_decode_int_refuses_values_beyond_32_bits(enc, value):
    p = enc.encode([1.0, value])
    with pytest.raises(OverflowError, match="^Decoded value .* is out of the range of the integer type$"):
        enc.decode_int(p)
    with pytest.raises(OverflowError, match="out of the range of the integer type"):
        enc.decrypt_decode_int(enc.encrypt_tile(p))


@pytest.mark.parametrize("value, text", [(3e10, "30000000000.000000"),
                                         (-3e10, "-30000000000.000000")])
def test_decode_int_overflow_is_an_overflow_error_with_the_value(enc, value, text):
    p = enc.encode([1.0, value])
    message = "Decoded value " + text + " is out of the range of the integer type"
    for decode, tile in [(enc.decode_int, p), (enc.decrypt_decode_int, enc.encrypt_tile(p))]:
        with pytest.raises(OverflowError) as info:
            decode(tile)
        assert type(info.value) is OverflowError
        assert str(info.value) == message


@pytest.mark.parametrize("call", [
    lambda e: e.encode_encrypt([1, 2, 3]),
    lambda e: e.encode_encrypt(np.array([1, 2, 3], dtype=np.int32)),
    lambda e: e.encode_encrypt([1.0, 2.0, 3.0]),
    lambda e: e.encode_encrypt(np.array([1, 2, 3], dtype=np.float32)),
    lambda e: e.encode_encrypt([1 + 0j, 2, 3]),
])
def test_encode_encrypt_forms(enc, call):
    c = call(enc)
    assert type(c) is qv.CTile
    np.testing.assert_array_equal(enc.decrypt_decode_double(c), padded([1, 2, 3]))


def test_encode_encrypt_keeps_fractions_of_float32_arrays(enc):
    c = enc.encode_encrypt(np.array([0.5, -1.25], dtype=np.float32))
    np.testing.assert_array_equal(enc.decrypt_decode_double(c), padded([0.5, -1.25]))


def test_result_arrays(enc):
    c = enc.encode_encrypt([1 + 1j, 2])
    d = enc.decrypt_decode_double(c)
    z = enc.decrypt_decode_complex(c)
    i = enc.decrypt_decode_int(c)
    assert (d.dtype, d.shape) == (np.float64, (SLOTS,))
    assert (z.dtype, z.shape) == (np.complex128, (SLOTS,))
    assert (i.dtype, i.shape) == (np.int32, (SLOTS,))
    np.testing.assert_array_equal(z, padded([1 + 1j, 2], complex))
    d[0] = 99  # the result is a copy
    np.testing.assert_array_equal(enc.decrypt_decode_double(c), padded([1, 2]))


def test_too_many_values_are_refused(enc):
    with pytest.raises(RuntimeError, match=r"encode: Assertion failed: p.rawVals.size\(\) == p.slotCount\(\)$"):
        enc.encode(list(range(SLOTS + 1)))
    with pytest.raises(RuntimeError, match="Assertion failed"):
        enc.encode_encrypt([0.5] * (SLOTS + 1))


# ---- Chain indexes ----

@pytest.mark.parametrize("chain_index,expected", [(-1, DEPTH), (0, 0), (3, 3), (DEPTH, DEPTH)])
def test_chain_index_accepted(enc, chain_index, expected):
    assert enc.encode(1.0, chain_index).get_chain_index() == expected
    assert enc.encode([1, 2], chain_index=chain_index).get_chain_index() == expected
    assert enc.encode_encrypt([1.0], chain_index).get_chain_index() == expected


@pytest.mark.parametrize("chain_index", [-2, DEPTH + 1, -100, 2 ** 31 - 1])
def test_chain_index_refused(enc, chain_index):
    message = f"Illegal chain index value {chain_index} where max={DEPTH}"
    for call in [lambda: enc.encode(1, chain_index), lambda: enc.encode([1.5], chain_index),
                 lambda: enc.encode_encrypt([1 + 1j], chain_index),
                 lambda: enc.get_default_scale(chain_index)]:
        with pytest.raises(ValueError) as e:
            call()
        assert str(e.value) == message


def test_chain_index_must_be_an_integer(enc):
    for bad in [1.0, np.float32(2), "1"]:
        with pytest.raises(TypeError):
            enc.encode(1.0, bad)


def test_default_scale_needs_a_chain_index(enc):
    with pytest.raises(TypeError):
        enc.get_default_scale()
    assert enc.get_default_scale(-1) == 1.0


# ---- Tiles of either kind ----

def test_encrypt_tile(enc):
    p = enc.encode([1.0, 2.0], 3)
    c = enc.encrypt_tile(p)
    assert type(c) is qv.CTile and c.get_chain_index() == 3
    np.testing.assert_array_equal(enc.decrypt_decode_double(c), padded([1, 2]))
    copy = enc.encrypt_tile(c)
    assert type(copy) is qv.CTile and copy is not c
    copy.negate()
    np.testing.assert_array_equal(enc.decrypt_decode_double(c), padded([1, 2]))
    np.testing.assert_array_equal(enc.decrypt_decode_double(copy), -padded([1, 2]))


def test_decrypt_decode_tile_double(he, enc):
    p = enc.encode([1.5, -1.0], 2)
    c = enc.encrypt_tile(p)
    he.start_operation_count_track()
    np.testing.assert_array_equal(enc.decrypt_decode_tile_double(p), padded([1.5, -1]))
    assert "decrypt" not in he.get_stats_and_clear()
    np.testing.assert_array_equal(enc.decrypt_decode_tile_double(c), padded([1.5, -1]))
    assert "decrypt        :    1" in he.get_stats_and_clear()
    assert p.get_chain_index() == 2


@pytest.mark.parametrize("member", ["encrypt_tile", "decrypt_decode_tile_double"])
def test_tile_members_refuse_non_tiles(enc, member):
    with pytest.raises(TypeError):
        getattr(enc, member)(None)
    with pytest.raises(TypeError):
        getattr(enc, member)([1.0])


# ---- Comparisons ----

def test_assert_equals_compares_floats_as_floats(enc):
    c = enc.encode_encrypt([0.5, 1.5])
    # Every kind of expected values keeps its fractions.
    for expected in [np.array([0.5, 1.5]), [0.5, 1.5], (0.5, 1.5),
                     np.array([0.5, 1.5], dtype=np.float32), [0.5 + 0j, 1.5]]:
        assert enc.assert_equals(c, "t", expected) == 0
    for expected in [[0, 1], np.array([0, 1], dtype=np.int32), np.array([0, 1], dtype=np.int64)]:
        with pytest.raises(RuntimeError) as e:
            enc.assert_equals(c, "t", expected)
        assert str(e.value) == "Assert Equals Failed"


def test_assert_equals_with_integers_and_complex_numbers(enc):
    c = enc.encode_encrypt([3, -2])
    assert enc.assert_equals(c, "t", np.array([3, -2], dtype=np.int32)) == 0
    assert enc.assert_equals(c, "t", [3, -2, 0, 0]) == 0
    z = enc.encode_encrypt([1 + 2j])
    assert enc.assert_equals(z, "t", np.array([1 + 2j])) == 0
    with pytest.raises(RuntimeError, match="^Assert Equals Failed$"):
        enc.assert_equals(z, "t", np.array([1 - 2j]))


def test_assert_equals_returns_the_largest_difference(enc, capfd):
    c = enc.encode_encrypt([1.0, 2.0000001, 5.0])
    assert enc.assert_equals(c, "t", [1.0, 2.0]) == pytest.approx(1e-7, abs=1e-12)
    assert enc.assert_equals(c, "t", [1.0, 2.0], 1e-6, True) == pytest.approx(1e-7, abs=1e-12)
    assert enc.assert_equals(c, "t", np.array([1.0, 2.5]), eps=0.5) == pytest.approx(0.4999999)
    with pytest.raises(RuntimeError):
        enc.assert_equals(c, "report title", np.array([1.0, 2.0, 4.0]))
    out = capfd.readouterr().out
    assert out.startswith("Error in checking diff:\nreport title, at slot 2, expected value: ")


def test_assert_equals_relative_with_zero_actual_value(enc):
    c = enc.encode_encrypt([0.0, 1.0])
    assert enc.assert_equals(c, "t", [0.4, 1.0], eps=0.5, percent=True) == pytest.approx(0.4)
    with pytest.raises(RuntimeError, match="Assert Equals Failed"):
        enc.assert_equals(c, "t", [0.5 + 0.1, 1.0], eps=0.5, percent=True)


def test_assert_equals_refuses_more_values_than_slots(enc):
    c = enc.encode_encrypt([1.0])
    for expected in [np.zeros(SLOTS + 1), np.zeros(SLOTS + 1, dtype=np.int32), [0j] * (SLOTS + 1)]:
        with pytest.raises(RuntimeError) as e:
            enc.assert_equals(c, "t", expected)
        assert str(e.value) == "Size of expected values vector is bigger than size of cipher"


def test_print_error_stats(enc):
    c = enc.encode_encrypt([4, 0, 2, 1, 1, 1, 1, 1])
    expected = np.array([4.5, 0.25, 2, 1.5, 1, 1, 1, 1])
    text = enc.print_error_stats(c, expected)
    assert text == ("Max diff  : expected=4.5 actual=4 diff=0.5 diff%=12.5%\n"
                    "Max diff% : expected=1.5 actual=1 diff=0.5 diff%=50%\n"
                    "Mean diff : diff=0.15625 diff%= 10.9375\n"
                    "STD diff  : diff=0.214239 diff%= 17.0449\n")
    assert enc.print_error_stats(c, expected, True) == "0.5, 0.15625, 0.214239"
    assert enc.print_error_stats(actual_c=c, expected_z=list(expected), as_csv=True) == \
        "0.5, 0.15625, 0.214239"
    # Extra expected values are not read.
    assert enc.print_error_stats(c, np.append(expected, 1e9), True) == "0.5, 0.15625, 0.214239"


@pytest.mark.parametrize("count", [0, 1, SLOTS - 1])
def test_print_error_stats_refuses_short_expected_vectors(enc, count):
    c = enc.encode_encrypt([1.0])
    with pytest.raises(ValueError) as e:
        enc.print_error_stats(c, np.zeros(count))
    assert str(e.value) == (f"printErrorStats needs one expected value per slot: {SLOTS} slots "
                            f"but {count} expected values")


# ---- Settings ----

def test_settings_belong_to_each_encoder(he):
    first = qv.Encoder(he)
    second = qv.Encoder(he)
    first.set_default_scale(8.0)
    assert first.encode(1.0).get_scale() == 8.0
    assert second.encode(1.0).get_scale() == 1.0
    assert second.get_default_scale(2) == 1.0
    first.restore_default_scale()
    assert first.get_default_scale(-1) == 1.0
    assert first.get_default_device() == qv.DEVICE_CPU
    first.set_default_device(qv.DEVICE_GPU)
    assert first.get_default_device() == qv.DEVICE_GPU
    assert second.get_default_device() == qv.DEVICE_CPU


def test_decrypt_added_noise(enc):
    enc.set_decrypt_added_noise_enabled(False)
    assert enc.get_decrypt_added_noise_enabled() is False
    with pytest.raises(RuntimeError) as e:
        enc.set_decrypt_added_noise_enabled(True)
    assert str(e.value) == "Enabling decrypt added noise not supported"
    for call in [lambda: enc.set_decrypt_added_noise_precision(3),
                 enc.get_decrypt_added_noise_precision]:
        with pytest.raises(RuntimeError) as e:
            call()
        assert str(e.value) == "Decrypt added noise precision not supported"


def test_encoder_needs_a_context():
    with pytest.raises(TypeError):
        qv.Encoder(None)
    with pytest.raises(TypeError):
        qv.Encoder("Mockup_Mockup")


def test_signatures():
    doc = qv.Encoder.encode.__doc__
    # pybind11 2.13 writes list[...].
    for pattern in [r"1\. encode\(self: _pyquorvanelite_cppwrappers\.Encoder, val: int, "
                    r"chain_index: int = -1\) -> _pyquorvanelite_cppwrappers\.PTile",
                    r"2\. encode\(.*val: float, chain_index: int = -1\)",
                    r"3\. encode\(.*val: list\[int\], chain_index: int = -1\)",
                    r"4\. encode\(.*vals: list\[float\], chain_index: int = -1\)",
                    r"5\. encode\(.*vals: list\[complex\], chain_index: int = -1\)"]:
        assert re.search(pattern, doc), pattern
    assert ("expected_vals: numpy.ndarray[numpy.int32], eps: float = 1e-06, percent: bool = False"
            ") -> float") in qv.Encoder.assert_equals.__doc__
    assert ("print_error_stats(self: _pyquorvanelite_cppwrappers.Encoder, "
            "actual_c: _pyquorvanelite_cppwrappers.CTile, "
            "expected_z: numpy.ndarray[numpy.float64], as_csv: bool = False) -> str") in \
        qv.Encoder.print_error_stats.__doc__
