"""FunctionEvaluator, NativeFunctionEvaluator, CTileVector and EvalType from Python."""

import gc
import weakref

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup, run_python, sign_approximation

SLOTS = 16
DEPTH = 20
RNG = np.random.default_rng(16)


@pytest.fixture
def he():
    return mockup(SLOTS, DEPTH)


@pytest.fixture
def fe(he):
    return qv.FunctionEvaluator(he)


# ---- EvalType ----

def test_eval_type_values_stay_inside_the_enumeration():
    assert [(name, int(v)) for name, v in qv.EvalType.__members__.items()] == [
        ("PATERSONSTOCKMAYER", 0), ("EFFICIENT_POWERS", 1), ("MIN_DEPTH", 2),
        ("NUMERICAL_STABILITY", 3)]
    assert qv.EvalType.MIN_DEPTH == 2
    assert not hasattr(qv, "MIN_DEPTH")
    assert "PATERSONSTOCKMAYER : Polynomial evaluation using the paterson stockmayer algorithm" \
        in qv.EvalType.__doc__


# ---- Inverse ----

@pytest.mark.parametrize("lower, upper, bits, tolerance", [
    (0.5, 1.5, 5, 1e-5), (1.0, 10.0, 7, 1e-3), (0.1, 2.0, 8, 1e-2), (2.0, 2.0, 1, 1e-12)])
def test_inverse_against_numpy(he, enc, fe, lower, upper, bits, tolerance):
    x = RNG.uniform(lower, upper, SLOTS)
    src = enc.encode_encrypt(x)
    res = fe.inverse(src, lower, upper, bits)
    np.testing.assert_allclose(enc.decrypt_decode_double(res), 1 / x, atol=tolerance / lower)
    # src is unchanged and the result is a new tile.
    np.testing.assert_array_equal(enc.decrypt_decode_double(src), x)
    assert src.get_chain_index() == DEPTH
    assert res is not src


def test_inverse_default_bit_resolution_is_five(enc, fe):
    x = RNG.uniform(0.5, 1.5, SLOTS)
    a = 1.0
    t = 1 - a * x
    expected = (1 - t ** (2 ** 5)) / x
    np.testing.assert_allclose(enc.decrypt_decode_double(fe.inverse(enc.encode_encrypt(x), 0.5, 1.5)),
                               expected, atol=1e-12)


@pytest.mark.parametrize("lower, upper, reason", [
    (3, 2, 'The given "lowerBound" (3.000000) is larger than "upperBound" (2.000000).'),
    (-1, 2, '"lowerBound" must be non-negative, while the given "lowerBound" is -1.000000.'),
    (0, 0, '"upperBound" must be strictly positive, while the given "upperBound" is 0.000000.'),
    (float("nan"), 2, '"lowerBound" must be finite, while the given "lowerBound" is nan.'),
    (0.5, float("nan"), '"upperBound" must be finite, while the given "upperBound" is nan.'),
    (0.5, float("inf"), '"upperBound" must be finite, while the given "upperBound" is inf.'),
])
def test_inverse_refuses_bad_bounds(enc, fe, lower, upper, reason):
    with pytest.raises(ValueError) as info:
        fe.inverse(enc.encode_encrypt([1.0]), lower, upper)
    assert str(info.value) == "FunctionEvaluator::inverse() failed: " + reason


@pytest.mark.parametrize("bits", [0, -2])
def test_inverse_refuses_a_bit_resolution_below_one(enc, fe, bits):
    src = enc.encode_encrypt([1.0])
    with pytest.raises(ValueError) as info:
        fe.inverse(src, 0.5, 1.5, bits)
    assert str(info.value) == ('FunctionEvaluator::inverse() failed: "bitResolution" must be '
                               f'positive, while the given "bitResolution" is {bits}.')
    assert enc.decrypt_decode_double(src)[0] == 1.0


# ---- Sign and comparison ----

@pytest.mark.parametrize("g_rep, f_rep, max_abs_val, binary", [
    (2, 2, 1.0, False), (1, 0, 1.0, True), (0, 2, 4.0, True), (3, 2, 10.0, False)])
def test_sign_against_the_composed_polynomials(enc, fe, g_rep, f_rep, max_abs_val, binary):
    x = RNG.uniform(-max_abs_val, max_abs_val, SLOTS)
    x[0] = 0
    a = enc.encode_encrypt(x)
    res = fe.sign(a, g_rep, f_rep, max_abs_val, binary)
    np.testing.assert_allclose(enc.decrypt_decode_double(res),
                               sign_approximation(x, g_rep, f_rep, max_abs_val, binary),
                               atol=1e-12)
    np.testing.assert_array_equal(enc.decrypt_decode_double(a), x)


def test_sign_defaults_give_values_near_minus_one_or_one(enc, fe):
    x = RNG.uniform(-1, 1, SLOTS)
    x[np.abs(x) < 0.2] = 0.2
    res = enc.decrypt_decode_double(fe.sign(enc.encode_encrypt(x), 2, 2))
    np.testing.assert_allclose(res, np.sign(x), atol=0.02)
    np.testing.assert_allclose(res, sign_approximation(x, 2, 2), atol=1e-12)


def test_comparison_of_tiles_and_plaintexts(enc, fe):
    a = RNG.uniform(-2, 2, SLOTS)
    b = RNG.uniform(-2, 2, SLOTS)
    b[::4] = a[::4]
    b[1::4] = a[1::4] + np.where(a[1::4] > 0, -0.3, 0.3)
    expected = np.where(a > b, 1.0, np.where(a < b, 0.0, 0.5))
    ca, cb, pb = enc.encode_encrypt(a), enc.encode_encrypt(b), enc.encode(b)
    res = fe.compare(ca, cb, 3, 3, 4.0)
    np.testing.assert_allclose(enc.decrypt_decode_double(res), expected, atol=1e-3)
    np.testing.assert_array_equal(enc.decrypt_decode_double(ca), a)
    np.testing.assert_array_equal(enc.decrypt_decode_double(cb), b)
    assert fe.compareInPlace(ca, pb, 3, 3, 4.0) is None
    np.testing.assert_allclose(enc.decrypt_decode_double(ca),
                               sign_approximation(a - b, 3, 3, 4.0, True), atol=1e-12)


@pytest.mark.parametrize("call", [
    lambda fe, a, b: fe.compare(a, b, 0, 0, 1.0),
    lambda fe, a, b: fe.compareInPlace(a, b, -1, 2, 1.0),
    lambda fe, a, b: fe.sign(a, 2, -1),
])
def test_invalid_repetitions(enc, fe, call):
    x = RNG.uniform(-1, 1, SLOTS)
    a, b = enc.encode_encrypt(x), enc.encode_encrypt(x)
    with pytest.raises(ValueError, match="^FunctionEvaluator::signInPlace - given gRep and fRep "
                                         r"are invalid\.$"):
        call(fe, a, b)
    np.testing.assert_array_equal(enc.decrypt_decode_double(a), x)


@pytest.mark.parametrize("bound", [0.0, -2.0, float("inf"), float("nan")])
def test_bounds_that_are_not_positive_and_finite_are_refused(enc, fe, bound):
    x = RNG.uniform(-1, 1, SLOTS)
    a, b = enc.encode_encrypt(x), enc.encode_encrypt(x)
    with pytest.raises(ValueError) as info:
        fe.sign(a, 1, 1, bound)
    assert str(info.value) == \
        "FunctionEvaluator::signInPlace - given maxAbsVal must be positive and finite."
    with pytest.raises(ValueError) as info:
        fe.compareInPlace(a, b, 1, 1, bound)
    assert str(info.value) == \
        "FunctionEvaluator::compareInPlace - given maxDiff must be positive and finite."
    np.testing.assert_array_equal(enc.decrypt_decode_double(a), x)


def test_wrong_argument_types(enc, fe):
    p = enc.encode([1.0])
    c = enc.encode_encrypt([1.0])
    with pytest.raises(TypeError):
        fe.compare(p, c, 1, 1, 1.0)
    with pytest.raises(TypeError):
        fe.sign(3, 1, 1)


# ---- One-hot ----

@pytest.mark.parametrize("values", [[0.0, 1.0], [1.0, 2.0, 3.0], [-1.0, 0.5, 2.0, 7.0, 9.0]])
def test_one_hot_indicators(enc, fe, values):
    x = np.array([values[i % len(values)] for i in range(SLOTS)])
    out = fe.one_hot(enc.encode_encrypt(x), np.array(values))
    assert isinstance(out, qv.CTileVector)
    assert len(out) == len(values)
    for i, v in enumerate(values):
        np.testing.assert_allclose(enc.decrypt_decode_double(out[i]), (x == v).astype(float),
                                   atol=1e-9)


def test_one_hot_takes_a_list_and_refuses_too_few_or_repeated_values(enc, fe):
    src = enc.encode_encrypt([1.0, 2.0, 3.0])
    assert len(fe.one_hot(src, [1.0, 2.0, 3.0])) == 3
    with pytest.raises(ValueError, match="at least two possible values are needed, while 1 were"):
        fe.one_hot(src, [1.0])
    with pytest.raises(ValueError, match="at least two possible values are needed, while 0 were"):
        fe.one_hot(src, np.zeros(0))
    with pytest.raises(ValueError, match="the possible values must be distinct, while 2 is"):
        fe.one_hot(src, [2.0, 1.0, 2.0])


# ---- CTileVector ----

def tiles(enc, *values):
    return [enc.encode_encrypt([v]) for v in values]


def firsts(enc, vector):
    return [enc.decrypt_decode_double(t)[0] for t in vector]


def test_ctile_vector_holds_copies(enc):
    a, b = tiles(enc, 1.0, 2.0)
    v = qv.CTileVector([a, b])
    assert len(v) == 2 and bool(v)
    a.add_scalar(10.0)
    assert firsts(enc, v) == [1.0, 2.0]
    got = v[0]
    got.add_scalar(5.0)
    assert firsts(enc, v) == [1.0, 2.0]
    assert enc.decrypt_decode_double(v[-1])[0] == 2.0
    copy = qv.CTileVector(v)
    v[0] = b
    assert firsts(enc, copy) == [1.0, 2.0]
    assert firsts(enc, v) == [2.0, 2.0]
    empty = qv.CTileVector()
    assert len(empty) == 0 and not empty
    assert repr(empty) == "CTileVector[]"


def test_ctile_vector_list_members(enc):
    v = qv.CTileVector()
    for t in tiles(enc, 0.0, 1.0, 2.0):
        v.append(t)
    v.insert(0, tiles(enc, -1.0)[0])
    v.insert(-1, tiles(enc, 1.5)[0])
    v.insert(len(v), tiles(enc, 3.0)[0])
    assert firsts(enc, v) == [-1.0, 0.0, 1.0, 1.5, 2.0, 3.0]
    with pytest.raises(IndexError):
        v.insert(7, tiles(enc, 9.0)[0])
    assert enc.decrypt_decode_double(v.pop())[0] == 3.0
    assert enc.decrypt_decode_double(v.pop(1))[0] == 0.0
    assert firsts(enc, v) == [-1.0, 1.0, 1.5, 2.0]
    assert firsts(enc, v[1:3]) == [1.0, 1.5]
    assert firsts(enc, v[::-2]) == [2.0, 1.0]
    v[0:2] = qv.CTileVector(tiles(enc, 7.0, 8.0))
    assert firsts(enc, v) == [7.0, 8.0, 1.5, 2.0]
    with pytest.raises(RuntimeError, match="^Left and right hand size of slice assignment have "
                                           "different sizes!$"):
        v[0:2] = qv.CTileVector(tiles(enc, 1.0))
    del v[0]
    del v[::2]
    assert firsts(enc, v) == [1.5]
    v.extend(qv.CTileVector(tiles(enc, 4.0)))
    v.extend(tiles(enc, 5.0))
    v.extend(v)
    assert firsts(enc, v) == [1.5, 4.0, 5.0, 1.5, 4.0, 5.0]
    with pytest.raises(RuntimeError, match="^Unable to cast Python instance "):
        v.extend([tiles(enc, 6.0)[0], 3])
    assert len(v) == 6
    assert [enc.decrypt_decode_double(t)[0] for t in iter(v)] == firsts(enc, v)
    for i in [6, -7]:
        with pytest.raises(IndexError):
            v[i]
        with pytest.raises(IndexError):
            del v[i]
    with pytest.raises(TypeError):
        v.append(3)
    v.clear()
    assert len(v) == 0
    with pytest.raises(IndexError):
        v.pop()
    with pytest.raises(RuntimeError, match="^Unable to cast Python instance "):
        qv.CTileVector([1, 2])
    assert not hasattr(v, "count") and not hasattr(v, "remove")


def test_ctile_vector_repr_prints_each_tile(enc):
    v = qv.CTileVector(tiles(enc, 1.0, 2.0))
    assert repr(v) == "CTileVector[" + repr(v[0]) + ", " + repr(v[1]) + "]"


# The framework's own docstrings of its list binding; None where it gives none.
CTILE_VECTOR_DOCS = [
    ("__init__", ["", "Copy constructor", ""]),
    ("__repr__", ["Return the canonical string representation of this list."]),
    ("append", ["Add an item to the end of the list"]),
    ("clear", ["Clear the contents"]),
    ("extend", ["Extend the list by appending all the items in the given list"] * 2),
    ("insert", ["Insert an item at a given position."]),
    ("pop", ["Remove and return the last item", "Remove and return the item at index ``i``"]),
    ("__setitem__", ["", "Assign list elements using a slice object"]),
    ("__getitem__", ["Retrieve list elements using a slice object", ""]),
    ("__delitem__", ["Delete the list elements at index ``i``",
                     "Delete list elements using a slice object"]),
    ("__iter__", [""]),
    ("__bool__", ["Check whether the list is nonempty"]),
    ("__len__", [""]),
]


@pytest.mark.parametrize("name, docs", CTILE_VECTOR_DOCS)
def test_ctile_vector_members_read_as_the_framework_list(name, docs):
    doc = getattr(qv.CTileVector, name).__doc__
    if len(docs) > 1:
        parts = doc.split("\n\n")
        assert parts[0] == name + "(*args, **kwargs)\nOverloaded function."
        overloads = parts[1:]
        stored = []
        for i, part in enumerate(overloads):
            if part.startswith("%d. " % (len(stored) + 1)):
                stored.append("")
            else:
                stored[-1] = part.strip()
    else:
        head, _, rest = doc.partition("\n\n")
        stored = [rest.strip()]
        assert head.startswith(name + "(self: _pyquorvanelite_cppwrappers.CTileVector")
    assert stored == docs
    assert "self: object" not in doc
    if name == "__iter__":
        assert doc.startswith("__iter__(self: _pyquorvanelite_cppwrappers.CTileVector) -> "
                              "Iterator[_pyquorvanelite_cppwrappers.CTile]")


# ---- NativeFunctionEvaluator ----

def test_native_function_evaluator_implements_nothing(he, enc):
    native = qv.NativeFunctionEvaluator(he)
    c = enc.encode_encrypt([1.0, 2.0])
    with pytest.raises(RuntimeError, match="^not implemented$"):
        native.power_in_place(c, 2)
    np.testing.assert_array_equal(enc.decrypt_decode_double(c)[:2], [1.0, 2.0])
    with pytest.raises(ValueError, match="^Empty multiplicands vector$"):
        native.total_product(qv.CTileVector(), he)
    with pytest.raises(RuntimeError, match="^not implemented$"):
        native.total_product(qv.CTileVector([c, c]), he)
    with pytest.raises(TypeError):
        native.total_product([c, c], he)


# ---- Lifetimes ----

def test_lists_keep_their_contexts_alive():
    keeper = mockup(8, 10)

    def make(kind):
        he = mockup(8, 10)
        enc = qv.Encoder(he)
        if kind == "one_hot":
            held = qv.FunctionEvaluator(he).one_hot(enc.encode_encrypt([1.0, 2.0]), [1.0, 2.0])
        elif kind == "append":
            held = qv.CTileVector()
            held.append(enc.encode_encrypt([0.5]))
        elif kind == "copy":
            held = qv.CTileVector(qv.CTileVector([enc.encode_encrypt([0.5])]))
        else:
            held = qv.CTileVector([qv.Encoder(keeper).encode_encrypt([1.0])])
            held[0:1] = qv.CTileVector([enc.encode_encrypt([0.5])])
        return weakref.ref(he), held

    for kind in ["one_hot", "append", "copy", "slice"]:
        context, held = make(kind)
        gc.collect()
        assert context() is not None, kind
        held[0].multiply(held[0])
        del held
        gc.collect()
        assert context() is None, kind


def test_evaluators_keep_their_context_alive():
    he = mockup(8, 10)
    context = weakref.ref(he)
    evaluators = [qv.FunctionEvaluator(he), qv.NativeFunctionEvaluator(he)]
    del he
    gc.collect()
    assert context() is not None
    del evaluators
    gc.collect()
    assert context() is None


# ---- On SEAL ----

def test_precision_on_seal():
    he = qv.HeContext.create("SEAL_CKKS", qv.HeConfigRequirement.insecure(64, 12, 40, 10))
    enc = qv.Encoder(he)
    fe = qv.FunctionEvaluator(he)
    x = RNG.uniform(0.5, 2.0, 64)
    np.testing.assert_allclose(enc.decrypt_decode_double(fe.inverse(enc.encode_encrypt(x), 0.5, 2.0, 6)),
                               1 / x, atol=1e-3)
    y = RNG.uniform(-1, 1, 64)
    np.testing.assert_allclose(enc.decrypt_decode_double(fe.sign(enc.encode_encrypt(y), 2, 1)),
                               sign_approximation(y, 2, 1), atol=1e-6)
    values = [-1.0, 0.0, 2.0]
    z = np.array([values[i % 3] for i in range(64)])
    out = fe.one_hot(enc.encode_encrypt(z), values)
    for i, v in enumerate(values):
        np.testing.assert_allclose(enc.decrypt_decode_double(out[i]), (z == v).astype(float),
                                   atol=1e-6)
