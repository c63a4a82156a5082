import gc

import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup


def encrypt(he, values):
    return qv.Encoder(he).encode_encrypt([float(v) for v in values])


def decrypt(he, c):
    return list(qv.Encoder(he).decrypt_decode_double(c))


def header_size(saved):
    # magic, version, class-name length, the name with its NUL, context id
    name_length = int.from_bytes(saved[8:12], "little")
    return 12 + name_length + 4


def diverging(d, first, second):
    """A debug ciphertext whose second half holds other values than its first.

    A debug tile's body is the first context's body followed by the second's,
    so the second body is replaced by that of a mockup tile with other values.
    """
    whole = encrypt(d.dc, first).save_to_buffer()
    other = encrypt(d.second, second).save_to_buffer()
    second_body = other[header_size(other):]
    first_part = whole[:len(whole) - len(second_body)]
    y = qv.CTile(d.dc)
    threshold = d.dc.diff_threshold
    d.dc.diff_threshold = -1  # loading compares the halves too
    y.load_from_buffer(first_part + second_body)
    d.dc.diff_threshold = threshold
    return y


class Debug:
    """A debug context over two mockups, with handles on both."""

    def __init__(self, threshold=None):
        self.first = mockup()
        self.second = mockup()
        if threshold is None:
            self.dc = qv.DebugContext(self.first, self.second)
        else:
            self.dc = qv.DebugContext(self.first, self.second, threshold)


@pytest.fixture
def debug():
    return Debug()


def test_construction_over_initialised_mockups(debug):
    dc = debug.dc
    assert type(dc) is qv.DebugContext
    assert isinstance(dc, qv.HeContext)
    assert not isinstance(dc, qv.TrackingContext)
    assert dc.diff_threshold == pytest.approx(1e-05)
    assert dc.slot_count() == 8
    assert dc.get_top_chain_index() == 5
    assert dc.get_library_name() == "DEBUG:Mockup:Mockup"
    assert dc.get_scheme_name() == "DEBUG:Mockup:Mockup"
    assert dc.get_signature() == "DEBUG_Mockup_DEG16_D5"
    assert dc.get_context_id() not in (debug.first.get_context_id(),
                                       debug.second.get_context_id())
    assert "Comparing two contexts with eps=1e-05\nHE context 1:\n" in dc.print_signature()


def test_threshold_property_reads_and_writes():
    d = Debug(0.25)
    assert d.dc.diff_threshold == 0.25
    d.dc.diff_threshold = 0.5
    assert d.dc.diff_threshold == 0.5
    with pytest.raises(TypeError):
        d.dc.diff_threshold = "high"


def test_uninitialised_pair_then_init():
    m1, m2 = qv.MockupContext(), qv.MockupContext()
    dc = qv.DebugContext(m1, m2, 0.001)
    assert dc.print_signature().count("(not initialized)") == 3
    dc.init(qv.HeConfigRequirement.insecure(4, 2))
    assert m1.slot_count() == 4 and m2.get_top_chain_index() == 2
    assert dc.slot_count() == 4
    with pytest.raises(RuntimeError, match="^HE context has already been initialized$"):
        dc.init(qv.HeConfigRequirement.insecure(4, 2))


def test_mixed_initialisation_is_refused():
    with pytest.raises(RuntimeError,
                       match=r"DebugContext: Assertion failed: "
                             r"h1\.isInitialized\(\) == h2\.isInitialized\(\)$"):
        qv.DebugContext(mockup(), qv.MockupContext())


def test_bad_arguments_raise_type_error():
    with pytest.raises(TypeError):
        qv.DebugContext(mockup(), None)
    with pytest.raises(TypeError):
        qv.DebugContext(mockup(), mockup(), "small")


def test_agreeing_computation_returns_first_context_values(debug):
    dc = debug.dc
    x = encrypt(dc, [1, 2, 3])
    y = encrypt(dc, [4, 5, 6])
    x.multiply(y)
    x.add(y)
    assert decrypt(dc, x) == [8, 15, 24, 0, 0, 0, 0, 0]
    assert x.get_chain_index() == 4


def test_diverging_pair_raises_with_report(debug, capfd):
    dc = debug.dc
    x = diverging(debug, [1, 2, 3], [1, 2.5, 3])
    capfd.readouterr()
    with pytest.raises(RuntimeError, match="^DebugCiphertext verification error$"):
        x.negate()
    out = capfd.readouterr().out
    assert out.startswith("DebugCiphertext verification error:\n")
    # The tile was loaded, then negated.
    assert out.endswith("Operation log (beta):\nload\nnegate\n\nSlot: 1\nc1 value: -2\n"
                        "c2 value: -2.5\nDifference: 0.5\nDifference threshold: 1e-05\n")
    # Decryption still reports the first context's values.
    assert decrypt(dc, x)[:3] == [-1, -2, -3]


@pytest.mark.parametrize("threshold, fails", [(0.5, False), (0.4999, True), (-1.0, False)])
def test_threshold_decides(debug, capfd, threshold, fails):
    dc = debug.dc
    x = diverging(debug, [1, 2], [1, 2.5])
    dc.diff_threshold = threshold
    capfd.readouterr()
    if fails:
        with pytest.raises(RuntimeError, match="^DebugCiphertext verification error$"):
            x.negate()
        assert "Difference threshold: 0.4999\n" in capfd.readouterr().out
    else:
        x.negate()
        assert capfd.readouterr().out == ""


def test_debug_context_keeps_its_contexts_alive():
    dc = qv.DebugContext(mockup(), mockup())
    gc.collect()
    x = encrypt(dc, [1, 2])
    del dc
    gc.collect()
    x.square()
    assert x.get_chain_index() == 4
