import json
import os
import subprocess
import sys

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import mockup


def test_version():
    assert isinstance(qv.VERSION, str)
    assert qv.VERSION == "1.5.3.0"


def test_device_type_values_are_exported():
    assert qv.DEVICE_CPU is qv.DeviceType.DEVICE_CPU
    assert qv.DEVICE_GPU is qv.DeviceType.DEVICE_GPU
    assert int(qv.DEVICE_CPU) == 0 and int(qv.DEVICE_GPU) == 1
    assert qv.DEVICE_GPU == 1 and hash(qv.DEVICE_GPU) == hash(1)
    assert qv.DeviceType.__doc__.startswith("Device types for CTile/PTile compute.")
    assert str(qv.DEVICE_GPU) == "DeviceType.DEVICE_GPU"


def test_verbosity_values_are_exported():
    expected = {"VERBOSITY_NONE": 0, "VERBOSITY_LOW": 1, "VERBOSITY_REGULAR": 2,
                "VERBOSITY_DETAILED": 3, "VERBOSITY_EXTRA_DETAILED": 4}
    for name, value in expected.items():
        assert getattr(qv, name) is getattr(qv.Verbosity, name)
        assert int(getattr(qv, name)) == value
    assert qv.Verbosity.__doc__.startswith("Verbosity levels.")


@pytest.mark.parametrize("cls", ["Printable", "PrintOptions"])
def test_classes_without_constructor(cls):
    with pytest.raises(TypeError, match="No constructor defined"):
        getattr(qv, cls)()


def test_print_options_defaults_in_fresh_process():
    code = ("import _pyquorvanelite_cppwrappers as qv; o = qv.get_print_options(); "
            "print(o.num_printed_elements, o.num_printed_last_elements, o.print_complex_numbers, "
            "o.precision, o.table_cell_width, o.factor, o.print_encrypted_content, "
            "o.tt_demo_tiles)")
    out = subprocess.run([sys.executable, "-c", code], check=True, capture_output=True,
                         text=True).stdout
    assert out.split() == ["4", "1", "True", "3", "5", "1.0", "False", "False"]


def test_print_options_are_global():
    options = qv.get_print_options()
    old = options.precision
    try:
        options.precision = 6
        assert qv.get_print_options().precision == 6
        assert qv.get_print_options() is options
    finally:
        options.precision = old


@pytest.mark.parametrize("prop,bad", [("precision", 2.5), ("precision", 2**31),
                                      ("print_complex_numbers", "yes"), ("factor", "x")])
def test_print_option_setters_refuse_wrong_types(prop, bad):
    with pytest.raises(TypeError):
        setattr(qv.get_print_options(), prop, bad)


def test_no_generic_float_format_property():
    assert not hasattr(qv.get_print_options(), "general_float_format")


def test_docstrings():
    assert qv.get_print_options.__doc__.startswith(
        "get_print_options() -> _pyquorvanelite_cppwrappers.PrintOptions")
    assert "Returns global print options." in qv.get_print_options.__doc__
    doc = qv.Printable.to_string.__doc__
    assert "Convert object to string." in doc
    assert ":param verbosity: Verbosity level (default=VERBOSITY_REGULAR)" in doc
    assert "Global settings can be obtained by get_print_options()." in qv.PrintOptions.__doc__


# ---- Printing through Printable ----

@pytest.fixture
def requirement():
    return qv.HeConfigRequirement.insecure(8, 2)


@pytest.fixture
def restore_print_options():
    options = qv.get_print_options()
    names = ["num_printed_elements", "num_printed_last_elements", "print_complex_numbers",
             "precision", "table_cell_width", "factor", "print_encrypted_content",
             "tt_demo_tiles"]
    saved = {name: getattr(options, name) for name in names}
    yield options
    for name, value in saved.items():
        setattr(options, name, value)


def test_to_string_repr_and_str_agree(requirement):
    text = requirement.to_string()
    assert text.startswith("He configuration requirement:\n")
    assert text == requirement.to_string(qv.VERBOSITY_REGULAR)
    assert text == repr(requirement) == str(requirement)
    assert requirement.to_string(verbosity=qv.Verbosity.VERBOSITY_REGULAR) == text


def test_to_string_runs_the_objects_own_print_at_each_level(requirement):
    assert requirement.to_string(qv.VERBOSITY_NONE) == ""
    assert qv.PublicFunctions().to_string(qv.VERBOSITY_NONE) == \
        "Object (detailed printing not implemented yet)"


@pytest.mark.parametrize("bad", [2, None, "VERBOSITY_REGULAR", qv.DEVICE_CPU])
def test_to_string_takes_only_verbosity_values(requirement, bad):
    with pytest.raises(TypeError):
        requirement.to_string(bad)


def test_print_options_change_later_prints(restore_print_options):
    options = restore_print_options
    he = mockup(8, 2)
    tile = qv.Encoder(he).encode_encrypt(np.array([1 / 3, 2, 3, 4, 5, 6, 7, 8.0]))
    values_line = tile.to_string().splitlines()[1]
    assert values_line == "(0.333,0) (2,0) (3,0) (4,0) ...  (8,0)"
    options.precision = 6
    assert qv.get_print_options().precision == 6
    assert tile.to_string().splitlines()[1].startswith("(0.333333,0) (2,0)")
    options.num_printed_elements = 2
    options.num_printed_last_elements = 2
    options.print_complex_numbers = False
    assert tile.to_string().splitlines()[1] == "0.333333 2 ...  7 8"
    options.num_printed_elements = 8
    assert tile.to_string().splitlines()[1] == "0.333333 2 3 4 5 6 7 8"


@pytest.mark.parametrize("last", [1, 0, 3])
def test_minus_one_prints_every_value_of_a_tile(restore_print_options, last):
    options = restore_print_options
    he = mockup(8, 2)
    enc = qv.Encoder(he)
    values = np.array([1 / 3, 2, 3, 4, 5, 6, 7, 8.0])
    tiles = [enc.encode_encrypt(values), enc.encode(values)]
    options.num_printed_elements = -1
    options.num_printed_last_elements = last
    for tile in tiles:
        assert tile.to_string().splitlines()[1] == \
            "(0.333,0) (2,0) (3,0) (4,0) (5,0) (6,0) (7,0) (8,0)"


def test_print_option_setters_store_values(restore_print_options):
    options = restore_print_options
    for name, value in [("num_printed_elements", 7), ("num_printed_last_elements", 0),
                        ("print_complex_numbers", False), ("precision", 9),
                        ("table_cell_width", 12), ("factor", 2.5),
                        ("print_encrypted_content", True), ("tt_demo_tiles", True)]:
        setattr(options, name, value)
        assert getattr(qv.get_print_options(), name) == value
        assert type(getattr(options, name)) is type(value)


# Sets each value of argv[2] (JSON) on the print option argv[1] and prints, as
# JSON, for each value the refusal's type and text ("accepted" when none), the
# option's value afterwards and the table of a tile tensor's print.
PRINT_OPTION_CHILD = """
import json, sys
import numpy as np
import _pyquorvanelite_cppwrappers as qv
from helpers import mockup

options = qv.get_print_options()
he = mockup(8, 2)
tensor = qv.TTEncoder(he).encode_encrypt(qv.TTShape([2, 4]),
                                         np.array([[1 / 3, 2, 3, 4], [5, 6, 7, 8.0]]))
results = []
for value in json.loads(sys.argv[2]):
    try:
        setattr(options, sys.argv[1], value)
        outcome = "accepted"
    except Exception as e:
        outcome = [type(e).__name__, str(e)]
    table = tensor.to_string().split("Tensor[2,4]\\n")[1].split("\\n")[:2]
    results.append([outcome, getattr(options, sys.argv[1]), table])
print(json.dumps(results))
"""


def print_option_outcomes(name, values):
    run = subprocess.run([sys.executable, "-c", PRINT_OPTION_CHILD, name, json.dumps(values)],
                         cwd=os.path.dirname(os.path.abspath(__file__)), capture_output=True,
                         text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    return run.stdout


def cells(width, precision, values):
    return "".join(format(format(v, ".%dg" % precision), ">%d" % width) for v in values)


@pytest.mark.parametrize("name,words,high", [("precision", "Print precision", 30),
                                             ("table_cell_width", "Table cell width", 100)])
def test_print_options_refuse_values_no_print_can_honour(name, words, high):
    """Out-of-range values are refused with the range and change nothing: the
    option keeps its value and prints stay as they were."""
    bad = [-1, high + 1, 2**31 - 1, -2**31]
    outcomes = json.loads(print_option_outcomes(name, bad))
    default = {"precision": 3, "table_cell_width": 5}[name]
    table = [cells(5, 3, [1 / 3, 2, 3, 4]), cells(5, 3, [5, 6, 7, 8])]
    assert table == ["0.333    2    3    4", "    5    6    7    8"]
    assert outcomes == [[["ValueError", "%s %d is out of range: expected a value in [0, %d]"
                          % (words, value, high)], default, table] for value in bad]


def test_print_options_take_their_bounds():
    rows = [[1 / 3, 2, 3, 4], [5, 6, 7, 8]]
    widths = json.loads(print_option_outcomes("table_cell_width", [0, 100]))
    assert widths == [["accepted", w, [cells(w, 3, row) for row in rows]] for w in [0, 100]]
    assert widths[0][2][0] == "0.333234"
    precisions = json.loads(print_option_outcomes("precision", [0, 30]))
    assert precisions == [["accepted", p, [cells(5, p, row) for row in rows]] for p in [0, 30]]
    assert precisions[1][2][0] == "0.333333333333333314829616256247    2    3    4"


def test_verbosity_is_a_plain_enumeration():
    value = qv.VERBOSITY_DETAILED
    assert value is qv.Verbosity.VERBOSITY_DETAILED
    assert value == 3 and int(value) == 3 and hash(value) == hash(3)
    assert [1, 2, 3, 4][value] == 4
    assert repr(value) == "<Verbosity.VERBOSITY_DETAILED: 3>"
    assert str(value) == "Verbosity.VERBOSITY_DETAILED"
    assert value.name == "VERBOSITY_DETAILED" and value.value == 3
    assert list(qv.Verbosity.__members__) == ["VERBOSITY_NONE", "VERBOSITY_LOW",
                                              "VERBOSITY_REGULAR", "VERBOSITY_DETAILED",
                                              "VERBOSITY_EXTRA_DETAILED"]
    with pytest.raises(TypeError):
        value + 1
    with pytest.raises(TypeError):
        value < qv.VERBOSITY_EXTRA_DETAILED


# ---- Registration order ----

# Every name the module init adds, in the order in which it adds them.
REGISTRATION_ORDER = [
    "VERSION", "Verbosity", "VERBOSITY_NONE", "VERBOSITY_LOW", "VERBOSITY_REGULAR",
    "VERBOSITY_DETAILED", "VERBOSITY_EXTRA_DETAILED", "Printable", "PrintOptions",
    "get_print_options", "SaveableBasic", "Saveable", "BootstrapConfig", "RotationSetType",
    "ConjugationSupport", "PublicFunctions", "DeviceType", "DEVICE_CPU", "DEVICE_GPU",
    "HeTraits", "HeConfigRequirement", "HeContext", "load_he_context",
    "load_he_context_from_file", "DoubleTensor", "Tile", "PTile", "CTile", "Encoder", "Storage",
    "FileStorage", "PythonBackedStorage", "MultiPartyRole", "MultiPartyConfig", "ProtocolType",
    "Protocol", "InitProtocol", "DecryptProtocol", "ProtocolMessageVector", "ProtocolMessage",
    "ActionType", "TTDim", "TTShape", "TileTensor", "CTileTensor", "PTileTensor",
    "GenericPackingOption", "GenericPackingConfig", "TTEncoder", "EncryptedBatch",
    "EncryptedData", "CTileVector", "NativeFunctionEvaluator", "EvalType", "FunctionEvaluator",
    "TTFunctionEvaluator", "NumberSize", "NumberSigned", "NumberConfig", "DataPacking", "AesKey",
    "load_encrypted_data", "prepare_default_plain_blocks_for_aes_encryption",
    "decrypt_default_aes_encrypted_blocks_under_fhe", "Padding2d", "SealCkksContext",
    "TrackingContext", "MockupContext", "DebugContext",
]

FOUNDATION = ["VERSION", "Verbosity", "Printable", "PrintOptions", "get_print_options",
              "DeviceType", "DEVICE_CPU", "DEVICE_GPU"]


def test_registration_order():
    # A module's namespace keeps the order in which attributes were added.
    present = [name for name in vars(qv) if name in REGISTRATION_ORDER]
    assert present == [name for name in REGISTRATION_ORDER if name in present]
    assert set(FOUNDATION) <= set(present)


def test_every_registration_step_adds_its_names_and_nothing_else():
    # Each exported enumeration's values follow it at once.
    expected = []
    for name in REGISTRATION_ORDER:
        expected.append(name)
        if name in ("MultiPartyRole", "ProtocolType", "ActionType"):
            expected += list(getattr(qv, name).__members__)
    assert [name for name in vars(qv) if not name.startswith("__")] == expected


def test_only_five_enumerations_export_their_values():
    exported = {"Verbosity", "DeviceType", "MultiPartyRole", "ProtocolType", "ActionType"}
    for name in ["Verbosity", "DeviceType", "MultiPartyRole", "ProtocolType", "ActionType",
                 "RotationSetType", "ConjugationSupport", "GenericPackingOption", "EvalType",
                 "NumberSize", "NumberSigned"]:
        enum_type = getattr(qv, name, None)
        if enum_type is None:
            continue
        for value_name, value in enum_type.__members__.items():
            if name in exported:
                assert getattr(qv, value_name) is value, value_name
            else:
                assert getattr(qv, value_name, None) is not value, value_name


def test_classes_belong_to_the_module():
    for name in ["Printable", "PrintOptions", "Verbosity", "DeviceType"]:
        assert getattr(qv, name).__module__ == "_pyquorvanelite_cppwrappers"
    assert qv.Printable.__bases__[0].__name__ == "pybind11_object"
    assert qv.PrintOptions.__bases__[0].__name__ == "pybind11_object"


# ---- No member accepts None as self ----

# Calls every method and property accessor of every class with None as self and
# plausible other arguments; prints each call before making it, so that the
# parent sees which one brought the process down, and prints each call that did
# not raise pybind11's TypeError for mismatched arguments. pybind11's own enum
# members take any object as self and answer None with their own errors.
NONE_SELF_WALKER = r'''
import json, re, sys
import numpy as np
import _pyquorvanelite_cppwrappers as qv

skip = set(json.loads(sys.argv[1]))

def make_pool():
    pool = []
    def add(make):
        try:
            pool.append(make())
        except Exception:
            pass
    add(lambda: qv.HeConfigRequirement.insecure(16, 5))
    add(lambda: qv.HeContext.create("Mockup_Mockup", pool[0]))
    add(lambda: qv.Encoder(pool[1]))
    add(lambda: pool[2].encode_encrypt(np.ones(16)))
    add(lambda: pool[2].encode(np.ones(16)))
    add(lambda: qv.PublicFunctions())
    add(lambda: qv.BootstrapConfig())
    add(lambda: qv.DoubleTensor(np.ones((2, 2))))
    add(lambda: qv.get_print_options())
    return pool

POOL = make_pool()

def sample(t):
    t = t.strip()
    simple = {"int": 1, "float": 1.0, "bool": False, "str": "x", "bytes": b"",
              "complex": 1j, "dict": {}}
    if t in simple:
        return simple[t]
    if t.startswith(("List[", "list[")):
        return []
    if t.startswith("numpy.ndarray"):
        for dtype in ("complex128", "int32", "uint64"):
            if dtype in t:
                return np.ones(4, dtype=dtype)
        return np.ones(4)
    if t.startswith("_pyquorvanelite_cppwrappers."):
        cls = getattr(qv, t.split(".", 1)[1].split("[")[0], None)
        if isinstance(cls, type):
            members = getattr(cls, "__members__", None)
            if members:
                return next(iter(members.values()))
            for obj in POOL:
                if isinstance(obj, cls):
                    return obj
    return None

def split_params(text):
    parts, depth, cur = [], 0, ""
    for ch in text:
        depth += (ch in "[(<") - (ch in "])>")
        if ch == "," and depth == 0:
            parts.append(cur)
            cur = ""
        else:
            cur += ch
    if cur.strip():
        parts.append(cur)
    return parts

def overloads(name, doc):
    found = []
    pattern = r"^(?:\d+\. )?" + re.escape(name) + r"\((.*)\) -> "
    for m in re.finditer(pattern, doc or "", re.M):
        params = split_params(m.group(1))[1:]
        found.append([p.split("=", 1)[0].split(":", 1)[1] if ":" in p else "object"
                      for p in params])
    return found or [[]]

def members():
    for cname, cls in list(vars(qv).items()):
        if not isinstance(cls, type) or cls.__module__ != qv.__name__:
            continue
        for aname, raw in list(vars(cls).items()):
            if aname in ("__init__", "__new__", "_pybind11_conduit_v1_"):
                continue
            if isinstance(raw, (staticmethod, classmethod)):
                continue
            if isinstance(raw, property):
                if raw.fget is not None:
                    yield cname + "." + aname + ".fget", raw.fget, [[]]
                if raw.fset is not None:
                    yield cname + "." + aname + ".fset", raw.fset, None
                continue
            f = getattr(cls, aname)
            if type(f).__name__ in ("builtin_function_or_method", "instancemethod"):
                yield cname + "." + aname, f, overloads(aname, f.__doc__)

for label, f, signatures in members():
    if label in skip:
        continue
    if signatures is None:
        arg_sets = [[v] for v in (None, 1, 1.0, False, "x")]
    else:
        arg_sets = [a for types in signatures
                    for a in ([sample(t) for t in types], [None] * len(types))]
    enum_member = hasattr(getattr(qv, label.split(".")[0]), "__members__")
    for args in arg_sets:
        print("CALL", label, flush=True)
        try:
            result = f(None, *args)
            # Operators refuse an operand they cannot take with NotImplemented.
            outcome = None if result is NotImplemented else "returned"
        except TypeError as e:
            outcome = None if "incompatible function arguments" in str(e) else repr(e)
        except Exception as e:
            outcome = repr(e)
        if outcome is not None and not enum_member:
            print("ACCEPTED", label, outcome, flush=True)
print("DONE", flush=True)
'''


def test_no_member_accepts_none_as_self(tmp_path):
    script = tmp_path / "walk.py"
    script.write_text(NONE_SELF_WALKER)
    crashed = []
    for _ in range(200):
        run = subprocess.run([sys.executable, str(script), json.dumps(crashed)],
                             capture_output=True, text=True, timeout=120)
        lines = run.stdout.splitlines()
        if run.returncode == 0 and lines and lines[-1] == "DONE":
            break
        calls = [line.split()[1] for line in lines if line.startswith("CALL ")]
        assert calls, run.stderr
        crashed.append(calls[-1])
    assert crashed == []
    called = {line.split()[1] for line in lines if line.startswith("CALL ")}
    assert len(called) > 200
    assert [line for line in lines if line.startswith("ACCEPTED ")] == []
