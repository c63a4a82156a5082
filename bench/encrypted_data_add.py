"""Times EncryptedData.add_encrypted_data from a data set kept in a storage: 1,000
small batches (one item of one mockup tile of 16 slots each) read from a file
storage or a Python storage, added to a data set in memory, attached to a file
storage or attached to a Python storage.

One build:

    PYTHONPATH=<build dir> python3 bench/encrypted_data_add.py

Two builds compared in one session, for example the module installed in two
virtual environments (each interpreter imports its own module):

    python3 bench/encrypted_data_add.py --compare <python A> <python B> [--rounds 7]

The two run in turn, A B A B ..., each run a fresh process that prints its
medians; the table gives, per case, the median over the rounds of each build's
medians and the median of the per-round ratios A/B. Figures are milliseconds.
"""

import os
import shutil
import statistics
import sys
import tempfile
import time

import build_compare

BATCHES = 1000
SLOTS = 16


def measure(reps):
    """Medians of one build: case name -> milliseconds."""
    import numpy as np

    import _pyquorvanelite_cppwrappers as qv
    # The tests' Python storage handler, keeping the buffers in a dict.
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                    "python"))
    from helpers import DictHandler

    he = qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(SLOTS, 4))
    tt = qv.TTEncoder(he)
    item = tt.encode_encrypt(qv.TTShape([SLOTS]), np.linspace(-1, 1, SLOTS)).save_to_buffer()
    # A data set of BATCHES batches, built through its saved form.
    header = qv.EncryptedBatch(he).save_to_buffer()[:-8]
    batch = header + (1).to_bytes(8, "little") + item
    data_header = qv.EncryptedData(he).save_to_buffer()[:-16]
    count = BATCHES.to_bytes(8, "little")
    memory = qv.load_encrypted_data(he, data_header + count + count + batch * BATCHES)

    work = tempfile.mkdtemp(prefix="qv-bench-")
    try:
        out = qv.EncryptedData(he)
        out.attach_output_storage(qv.FileStorage(os.path.join(work, "source"), True))
        out.add_encrypted_data(memory)
        out.flush_to_storage()
        handler = DictHandler()
        out = qv.EncryptedData(he)
        out.attach_output_storage(qv.PythonBackedStorage(handler))
        out.add_encrypted_data(memory)
        out.flush_to_storage()

        def source(kind):
            data = qv.EncryptedData(he)
            storage = (qv.FileStorage(os.path.join(work, "source"), False) if kind == "file"
                       else qv.PythonBackedStorage(handler))
            data.attach_input_storage(storage)
            return data

        def target(kind, rep):
            data = qv.EncryptedData(he)
            if kind == "file":
                data.attach_output_storage(
                    qv.FileStorage(os.path.join(work, "target-%d" % rep), True))
            elif kind == "python":
                data.attach_output_storage(qv.PythonBackedStorage(DictHandler()))
            return data

        res = {}
        for source_kind in ("file", "python"):
            for target_kind in ("memory", "file", "python"):
                times = []
                for rep in range(reps + 1):
                    src = source(source_kind)
                    dst = target(target_kind, rep)
                    start = time.perf_counter()
                    dst.add_encrypted_data(src)
                    elapsed = time.perf_counter() - start
                    assert dst.get_num_batches() == BATCHES
                    if rep > 0:
                        times.append(elapsed)
                    shutil.rmtree(os.path.join(work, "target-%d" % rep), ignore_errors=True)
                res["%s storage -> %s" % (source_kind, target_kind)] = (
                    statistics.median(times) * 1e3, "ms")
        return res
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    build_compare.main(os.path.abspath(__file__), __doc__.split("\n\n")[0], measure, reps=9)
