"""Helpers shared by the test files."""

import os
import struct
import subprocess
import sys
import textwrap

import numpy as np

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


def context_id(he):
    """The context id of the context, as its saved objects carry it."""
    saved = qv.Encoder(he).encode_encrypt(np.ones(1)).save_to_buffer()
    (name_length,) = struct.unpack("<i", saved[8:12])
    return struct.unpack("<i", saved[12 + name_length:16 + name_length])[0]


def saved_encrypted_data(he, batches):
    """The saved form of an EncryptedData whose batches hold tile tensors of one tile
    (the context's slot count) of the given arrays."""
    tt = qv.TTEncoder(he)
    shape = qv.TTShape([he.slot_count()])
    cid = context_id(he)
    body = b""
    for items in batches:
        body += header("EncryptedBatch", cid) + struct.pack("<Q", len(items))
        for vals in items:
            body += tt.encode_encrypt(shape, np.asarray(vals, dtype=float)).save_to_buffer()
    return header("EncryptedData", cid) + struct.pack("<QQ", len(batches), len(batches)) + body


def run_python(code):
    """Runs the (indented) code in a fresh interpreter with this environment."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=dict(os.environ),
                          capture_output=True, text=True, timeout=60)
