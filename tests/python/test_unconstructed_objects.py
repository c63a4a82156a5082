"""An object made without its constructor (by __new__ alone, as unpickling a
hand-made stream does) holds no C++ value: every function that takes it raises
ValueError instead of reading uninitialised memory. Such calls used to end the
process, so each runs in a child."""

import json
import os
import subprocess
import sys

import pytest

import _pyquorvanelite_cppwrappers as qv

HERE = os.path.dirname(os.path.abspath(__file__))
M = qv.__name__ + "."
TEXT = "This object was made without its constructor (through __new__) and holds no value"

# Makes an object of every class of the module with __new__ alone and calls
# each method that takes self only and each property getter with it (from
# the class's own members); prints
# each call before making it, so that the parent sees which one brought the
# process down, then the outcomes as JSON.
WALKER = r'''
import json, re, sys
import _pyquorvanelite_cppwrappers as qv

outcomes = {}
for cname, cls in sorted(vars(qv).items()):
    if not isinstance(cls, type) or cls.__module__ != qv.__name__:
        continue
    made = cls.__new__(cls)
    for aname, raw in sorted(vars(cls).items()):
        # __init__ constructs the object; a static property (an enumeration's
        # __doc__) takes the class.
        if aname == "__init__" or type(raw).__name__ == "pybind11_static_property":
            continue
        if isinstance(raw, property):
            call = lambda: raw.fget(made)
        elif type(raw).__name__ == "instancemethod":
            doc = raw.__func__.__doc__ or ""
            params = re.findall(r"^(?:\d+\. )?" + re.escape(aname) + r"\((.*)\) -> ", doc, re.M)
            if not any(p.count(":") == 1 and "," not in p for p in params):
                continue
            call = lambda: getattr(cls, aname)(made)
        else:
            continue
        label = cname + "." + aname
        print("CALL", label, file=sys.stderr, flush=True)
        try:
            call()
            outcomes[label] = "returned"
        except Exception as e:
            outcomes[label] = [type(e).__name__, str(e)]
print(json.dumps(outcomes))
'''


def test_every_member_refuses_an_object_made_by_new():
    run = subprocess.run([sys.executable, "-c", WALKER], cwd=HERE, capture_output=True,
                         text=True, timeout=120)
    assert run.returncode == 0, run.stderr[-2000:]
    outcomes = json.loads(run.stdout)
    classes = {name for name, value in vars(qv).items() if isinstance(value, type)}
    assert {label.split(".")[0] for label in outcomes} == classes
    assert len(outcomes) > 250
    for label, outcome in outcomes.items():
        # The pickling refusal does not take the value.
        if label.endswith(".__reduce__"):
            cls = M + label.split(".")[0]
            assert outcome == ["TypeError", "cannot pickle '" + cls + "' object"], label
        else:
            assert outcome == ["ValueError", TEXT], label


# Runs the statements of a case and prints the exception's type and text as
# JSON ("returned" when nothing was raised).
CHILD = r"""
import copyreg, json, pickle, sys
import numpy as np
import _pyquorvanelite_cppwrappers as qv
from helpers import mockup

class Requirement(qv.HeConfigRequirement):
    pass

try:
    exec(sys.argv[1])
    print(json.dumps("returned"))
except Exception as e:
    print(json.dumps([type(e).__name__, str(e)]))
"""

CASES = [
    ("made by __new__", "qv.CTile.__new__(qv.CTile).get_chain_index()"),
    ("made by pybind11's base __new__",
     "qv.CTile.__mro__[-2].__new__(qv.CTile).get_chain_index()"),
    ("made by copyreg.__newobj__", "copyreg.__newobj__(qv.CTile).get_chain_index()"),
    # NEWOBJ calls the class's tp_new itself; the object needs no BUILD.
    ("unpickled from a hand-made stream",
     r"pickle.loads(b'\x80\x02c_pyquorvanelite_cppwrappers\nCTile\n)\x81.').get_chain_index()"),
    ("a property", "qv.PrintOptions.__new__(qv.PrintOptions).precision"),
    ("an argument", "qv.CTile(qv.CTile.__new__(qv.CTile))"),
    ("an item of a list argument", "qv.CTileVector([qv.CTile.__new__(qv.CTile)])"),
    ("an enumeration value", "int(qv.DeviceType.__new__(qv.DeviceType))"),
    ("an object of a Python subclass", "Requirement.__new__(Requirement).num_slots"),
]


@pytest.mark.parametrize("statements", [s for _, s in CASES], ids=[n for n, _ in CASES])
def test_objects_made_without_their_constructor_raise_value_error(statements):
    run = subprocess.run([sys.executable, "-c", CHILD, statements], cwd=HERE,
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr[-2000:]
    assert json.loads(run.stdout) == ["ValueError", TEXT]

