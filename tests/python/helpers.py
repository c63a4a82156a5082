"""Helpers shared by the test files."""

import os
import struct
import subprocess
import sys
import textwrap

import _pyquorvanelite_cppwrappers as qv

MOCKUP = "Mockup_Mockup"


def mockup(slots=8, depth=5, *precisions):
    """An insecure mockup context made through the context registry."""
    return qv.HeContext.create(MOCKUP, qv.HeConfigRequirement.insecure(slots, depth, *precisions))


def header(class_name, context_id):
    """The saved-object header of a class under a context id."""
    name = class_name.encode() + b"\0"
    return b"NRVQ" + bytes([0, 3, 5, 1]) + struct.pack("<i", len(name)) + name + \
        struct.pack("<i", context_id)


def run_python(code):
    """Runs the (indented) code in a fresh interpreter with this environment."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=dict(os.environ),
                          capture_output=True, text=True, timeout=60)
