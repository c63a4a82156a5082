"""No object of the module can be pickled: every protocol, __reduce__ and the copy
module raise TypeError, in the words with which Python refuses protocols 2 and
above. Enumerations keep the pickling pybind11 gives them from protocol 2 on and
refuse the rest. Protocols 0 and 1 used to abort the process, so each case runs
in a child."""

import copy
import copyreg
import json
import os
import pickle
import subprocess
import sys

import pytest

import _pyquorvanelite_cppwrappers as qv

HERE = os.path.dirname(os.path.abspath(__file__))
M = qv.__name__ + "."

# What the children need to make the objects of the cases from their expressions.
CHILD_OBJECTS = r"""
import numpy as np
import _pyquorvanelite_cppwrappers as qv
from helpers import DictHandler, mockup, multi_party_mockup

def multi_party():
    return multi_party_mockup(1, [1, 2])

class Requirement(qv.HeConfigRequirement):
    pass

he = mockup(8, 2)
"""

# Makes the object of a case from its expression and prints, as JSON, the name
# of its type and the outcome of each way of pickling or copying it: the
# exception's type and text, or "made" when it succeeds. The members __reduce_ex__
# and __reduce__ are those of the class named by the second argument, the
# object's own class or one of its bases.
CHILD = r"""
import copy, json, pickle, sys, tempfile
""" + CHILD_OBJECTS + r"""obj = eval(sys.argv[1])
cls = getattr(qv, sys.argv[2]) if len(sys.argv) > 2 else type(obj)
ways = [("protocol %d" % p, lambda p=p: pickle.dumps(obj, p)) for p in range(6)]
ways += [("__reduce_ex__ %d" % p, lambda p=p: cls.__reduce_ex__(obj, p)) for p in range(6)]
ways += [("__reduce__", lambda: cls.__reduce__(obj)),
         ("copy", lambda: copy.copy(obj)), ("deepcopy", lambda: copy.deepcopy(obj))]
outcomes = {}
for name, way in ways:
    try:
        way()
        outcomes[name] = "made"
    except Exception as e:
        outcomes[name] = [type(e).__name__, str(e)]
print(json.dumps([type(obj).__name__, outcomes]))
"""

ENUM = "next(iter(qv.{}.__members__.values()))"

# (class, expression of an object whose type is exactly that class).
CASES = [
    ("PrintOptions", "qv.get_print_options()"),
    ("BootstrapConfig", "qv.BootstrapConfig()"),
    ("PublicFunctions", "qv.PublicFunctions()"),
    ("HeTraits", "he.get_traits()"),
    ("HeConfigRequirement", "qv.HeConfigRequirement.insecure(8, 2)"),
    ("MockupContext", "he"),
    ("SealCkksContext", "qv.SealCkksContext()"),
    ("DebugContext", "qv.DebugContext(mockup(8, 2), mockup(8, 2))"),
    ("DoubleTensor", "qv.DoubleTensor(np.ones((2, 2)))"),
    ("PTile", "qv.Encoder(he).encode(np.ones(8))"),
    ("CTile", "qv.Encoder(he).encode_encrypt(np.ones(8))"),
    ("Encoder", "qv.Encoder(he)"),
    ("FileStorage", "qv.FileStorage(tempfile.mkdtemp(), True)"),
    ("PythonBackedStorage", "qv.PythonBackedStorage(DictHandler())"),
    ("MultiPartyConfig", "qv.MultiPartyConfig()"),
    ("InitProtocol", "qv.InitProtocol(multi_party())"),
    ("DecryptProtocol", "qv.DecryptProtocol(multi_party())"),
    ("ProtocolMessageVector", "qv.ProtocolMessageVector()"),
    ("ProtocolMessage", "qv.ProtocolMessage(he)"),
    ("TTDim", "qv.TTDim(4, 8)"),
    ("TTShape", "qv.TTShape([4, 2])"),
    ("CTileTensor", "qv.TTEncoder(he).encode_encrypt(qv.TTShape([8]), np.ones(8))"),
    ("PTileTensor", "qv.TTEncoder(he).encode(qv.TTShape([8]), np.ones(8))"),
    ("GenericPackingConfig", "qv.GenericPackingConfig()"),
    ("TTEncoder", "qv.TTEncoder(he)"),
    ("EncryptedBatch", "qv.EncryptedBatch(he)"),
    ("EncryptedData", "qv.EncryptedData(he)"),
    ("CTileVector", "qv.CTileVector()"),
    ("NativeFunctionEvaluator", "qv.NativeFunctionEvaluator(he)"),
    ("FunctionEvaluator", "qv.FunctionEvaluator(he)"),
    ("TTFunctionEvaluator", "qv.TTFunctionEvaluator(he)"),
    ("NumberConfig", "qv.NumberConfig()"),
    ("AesKey", "qv.AesKey(he)"),
    ("Padding2d", "qv.Padding2d()"),
]

ENUMS = ["Verbosity", "RotationSetType", "ConjugationSupport", "DeviceType", "MultiPartyRole",
         "ProtocolType", "ActionType", "GenericPackingOption", "EvalType", "NumberSize",
         "NumberSigned"]

# (base, expression of an object of a class derived from it): Python holds no
# object whose type is the base itself.
BASES = [
    ("Printable", "qv.HeConfigRequirement.insecure(8, 2)"),
    ("SaveableBasic", "qv.PublicFunctions()"),
    ("Saveable", "qv.Encoder(he).encode_encrypt(np.ones(8))"),
    ("HeContext", "he"),
    ("TrackingContext", "he"),
    ("Tile", "qv.Encoder(he).encode(np.ones(8))"),
    ("Storage", "qv.PythonBackedStorage(DictHandler())"),
    ("Protocol", "qv.DecryptProtocol(multi_party())"),
    ("TileTensor", "qv.TTEncoder(he).encode_encrypt(qv.TTShape([8]), np.ones(8))"),
]

# Classes whose own __copy__ and __deepcopy__ copy them.
COPYABLE = {"CTile", "PTile", "TTShape", "CTileTensor", "PTileTensor"}


def outcomes_of(expression, *cls):
    run = subprocess.run([sys.executable, "-c", CHILD, expression, *cls], cwd=HERE,
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    return json.loads(run.stdout)


def refusals(type_name, copyable=False):
    """Each way refused with Python's text, the copies made when the class copies."""
    refused = ["TypeError", "cannot pickle '" + type_name + "' object"]
    ways = ["protocol %d" % p for p in range(6)] + ["__reduce_ex__ %d" % p for p in range(6)]
    return {**{way: refused for way in ways + ["__reduce__"]},
            "copy": "made" if copyable else refused,
            "deepcopy": "made" if copyable else refused}


def test_the_tables_cover_every_class_of_the_module():
    classes = {name for name, value in vars(qv).items() if isinstance(value, type)}
    tested = [name for name, _ in CASES + BASES] + ENUMS
    assert len(set(tested)) == len(tested)
    # Python cannot make a DataPacking, nor an object of a class derived from it.
    assert set(tested) | {"DataPacking"} == classes


@pytest.mark.parametrize("cls,expression", CASES, ids=[name for name, _ in CASES])
def test_every_way_of_pickling_refuses(cls, expression):
    assert outcomes_of(expression) == [cls, refusals(M + cls, cls in COPYABLE)]


@pytest.mark.parametrize("cls", ENUMS)
def test_enumerations_pickle_from_protocol_2_and_refuse_the_rest(cls):
    expected = {way: outcome if way in ("__reduce__",) or way[-1] in "01" else "made"
                for way, outcome in refusals(M + cls).items()}
    assert outcomes_of(ENUM.format(cls)) == [cls, expected]
    for value in getattr(qv, cls).__members__.values():
        for protocol in range(2, 6):
            back = pickle.loads(pickle.dumps(value, protocol))
            assert type(back) is type(value) and back == value and back.name == value.name
        assert copy.deepcopy(value) == value and copy.copy(value) == value
    value = next(iter(getattr(qv, cls).__members__.values()))
    assert value.__reduce_ex__(2) == (copyreg.__newobj__, (type(value),), int(value), None, None)


@pytest.mark.parametrize("base,expression", BASES, ids=[name for name, _ in BASES])
def test_members_of_bases_refuse_in_the_name_of_the_object(base, expression):
    name, outcomes = outcomes_of(expression, base)
    assert issubclass(getattr(qv, name), getattr(qv, base)) and name != base
    assert outcomes == refusals(M + name, name in COPYABLE)


@pytest.mark.parametrize("expression,type_name", [
    # The iterator of a CTileVector, a class that the module does not name.
    ("iter(qv.CTileVector())", "iterator"),
    # A Python subclass is refused under its own name, as Python refuses it.
    ("Requirement(8, 2, 20, 10)", "Requirement"),
])
def test_unnamed_classes_and_subclasses_refuse(expression, type_name):
    assert outcomes_of(expression) == [type_name, refusals(type_name)]


def test_refusal_takes_only_objects_of_the_class():
    """None, or an object of another class, is refused as a mismatched self."""
    he = qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(8, 2))
    for call in (lambda: qv.CTile.__reduce_ex__(None, 2), lambda: qv.CTile.__reduce__(None),
                 lambda: qv.CTile.__reduce_ex__(qv.CTileTensor(he), 2),
                 lambda: qv.Verbosity.__reduce__(1)):
        with pytest.raises(TypeError, match="incompatible function arguments"):
            call()


# Python's copyreg reached directly (object.__reduce__, copyreg._reduce_ex with
# protocols 0 and 1), past the classes' own members: every object of the
# tables above in one child, named on stderr before its calls so that a crash
# shows which one, then each way's outcome by class as JSON.
COPYREG_CHILD = r"""
import copyreg, json, sys, tempfile
""" + CHILD_OBJECTS + r"""ways = [("object.__reduce__", lambda o: object.__reduce__(o))]
ways += [("copyreg._reduce_ex %d" % p, lambda o, p=p: copyreg._reduce_ex(o, p)) for p in (0, 1)]
results = {}
for expression in json.loads(sys.argv[1]):
    obj = eval(expression)
    print("OBJECT", expression, file=sys.stderr, flush=True)
    outcomes = {}
    for name, way in ways:
        try:
            way(obj)
            outcomes[name] = "made"
        except Exception as e:
            outcomes[name] = [type(e).__name__, str(e)]
    results[type(obj).__name__] = outcomes
print(json.dumps(results))
"""


def test_copyreg_reached_directly_refuses_instead_of_aborting():
    """copyreg stops at the object's class and refuses it in Python's words,
    under the class's name; it used to construct pybind11's base type, which
    ends the process."""
    expressions = ([e for _, e in CASES] + [ENUM.format(c) for c in ENUMS] +
                   ["iter(qv.CTileVector())", "Requirement(8, 2, 20, 10)"])
    run = subprocess.run([sys.executable, "-c", COPYREG_CHILD, json.dumps(expressions)],
                         cwd=HERE, capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr[-2000:]
    results = json.loads(run.stdout)
    assert set(results) == {name for name, _ in CASES} | set(ENUMS) | {"iterator", "Requirement"}
    ways = ["object.__reduce__", "copyreg._reduce_ex 0", "copyreg._reduce_ex 1"]
    subclass = results.pop("Requirement")
    for name, outcomes in results.items():
        assert outcomes == {way: ["TypeError", "cannot pickle '%s' object" % name]
                            for way in ways}, name
    # A Python subclass reaches its bound base, which refuses the object as a
    # constructor argument.
    assert set(subclass) == set(ways)
    for outcome in subclass.values():
        assert outcome[0] == "TypeError"
        assert outcome[1].startswith("__init__(): incompatible constructor arguments")
