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


def multi_party_mockup(participant, key_owners, slots=8):
    """A mockup context of a participant of multi-party protocols, the first
    key owner being the initiator and the aggregator."""
    cfg = qv.MultiPartyConfig()
    cfg.participant_id = participant
    cfg.key_owners_ids = list(key_owners)
    cfg.initiator_id = key_owners[0]
    cfg.aggregator_id = key_owners[0]
    req = qv.HeConfigRequirement.insecure(slots, 3)
    req.set_multi_party_config(cfg)
    return qv.HeContext.create(MOCKUP, req)


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


def saved_batch(he, items):
    """The saved form of an EncryptedBatch whose items are the saved tile tensors."""
    return header("EncryptedBatch", context_id(he)) + struct.pack("<Q", len(items)) + \
        b"".join(items)


def saved_data(he, batches):
    """The saved form of an EncryptedData whose batches are the saved batches."""
    return header("EncryptedData", context_id(he)) + \
        struct.pack("<QQ", len(batches), len(batches)) + b"".join(batches)


def saved_tensor_data(he, batches):
    """The saved form of an EncryptedData whose batches hold the tile tensors."""
    return saved_data(he, [saved_batch(he, [item.save_to_buffer() for item in items])
                           for items in batches])


def saved_encrypted_data(he, batches):
    """The saved form of an EncryptedData whose batches hold tile tensors of one tile
    (the context's slot count) of the given arrays."""
    tt = qv.TTEncoder(he)
    shape = qv.TTShape([he.slot_count()])
    return saved_tensor_data(he, [
        [tt.encode_encrypt(shape, np.asarray(vals, dtype=float)) for vals in items]
        for items in batches])


def with_empty_tile(tensor, kind, k):
    """The saved tensor with tile k's record replaced by a saved empty tile
    (the tiles are the last records of a saved tile tensor)."""
    records = [tensor.get_tile_by_flat_index(i).save_to_buffer()
               for i in range(tensor.get_num_used_tiles())]
    data = tensor.save_to_buffer()
    prefix = data[:len(data) - sum(len(t) for t in records)]
    assert prefix + b"".join(records) == data
    return prefix + b"".join(kind.save_to_buffer() if i == k else t
                             for i, t in enumerate(records))


def run_python(code):
    """Runs the (indented) code in a fresh interpreter with this environment."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=dict(os.environ),
                          capture_output=True, text=True, timeout=60)


class DictHandler:
    """A Python storage handler that keeps the buffers in a dict."""

    def __init__(self):
        self.buffers = {}

    def get_buffer_for_read(self, name):
        return self.buffers[name]

    def on_buffer_write_open(self, name):
        pass

    def on_buffer_write_close(self, name, data):
        self.buffers[name] = data


def rand(*shape, seed=0):
    """Uniformly random values in [-1, 1) of the shape."""
    return np.random.default_rng(seed).uniform(-1, 1, size=shape)


def shape_of(*dims, diagonalized=False):
    """A tile-tensor shape of the dimensions, diagonalized when asked."""
    s = qv.TTShape()
    for d in dims:
        s.add_dim(d)
    if diagonalized:
        s.set_diagonalized(True)
    return s


def interleaved(original, tile, external=None):
    """An interleaved dimension, with the given external size when set."""
    d = qv.TTDim(original, tile).set_interleaved(True)
    if external:
        d.set_interleaved_external_size(external)
    return d


def sign_poly_g(x):
    """The first odd polynomial of the sign approximation."""
    return (4589 * x - 16577 * x**3 + 25614 * x**5 - 12860 * x**7) / 1024


def sign_poly_f(x):
    """The second odd polynomial of the sign approximation."""
    return (35 * x - 35 * x**3 + 21 * x**5 - 5 * x**7) / 16


def sign_approximation(x, g_rep, f_rep, max_abs_val=1.0, binary=False):
    """g applied g_rep times, then f f_rep times, to x / max_abs_val."""
    y = np.asarray(x) / max_abs_val
    for _ in range(g_rep):
        y = sign_poly_g(y)
    for _ in range(f_rep):
        y = sign_poly_f(y)
    return (y + 1) / 2 if binary else y
