"""Encrypted computing from Python, end to end.

The same program runs twice: first on the mockup context, which computes on
clear values while keeping the scheme's bookkeeping and counting operations,
then on real CKKS encryption over Microsoft SEAL. Each run encodes and encrypts
numpy vectors into tiles, computes on them (arithmetic, rotation, sums),
decrypts and decodes back, compares every result with numpy, saves and loads a
tile through bytes, and the mockup run prints how many operations of each kind
the computation took. Each run then packs a matrix and a column into tile
tensors and computes on them as tensors, the column broadcast over the rows.
Between the two runs three parties, each with its own mockup context, agree on
a common context id and decrypt a tile jointly, passing every protocol message
to each other as bytes.
"""
import time

import numpy as np

import _pyquorvanelite_cppwrappers as qv

print("quorvane version", qv.VERSION)


def run(he, tolerance):
    """Runs the computations on a context; returns the operation counts if it tracks them."""
    slots = he.slot_count()
    encoder = qv.Encoder(he)
    rng = np.random.default_rng(2024)
    x = rng.uniform(-1, 1, slots)
    y = rng.uniform(-1, 1, slots)
    w = rng.uniform(0, 2, slots)
    z = x + 1j * y

    tracking = isinstance(he, qv.TrackingContext)
    if tracking:
        he.start_operation_count_track()
    cx = encoder.encode_encrypt(x)
    cy = encoder.encode_encrypt(y)
    pw = encoder.encode(w)
    cz = encoder.encode_encrypt(z)
    computations = []

    # (x * y + w) * 0.5 - 1: a product, a plaintext addition and scalars.
    t = cx.get_multiply(cy)
    t.add_plain(pw)
    t.multiply_scalar(0.5)
    t.add_scalar(-1)
    computations.append(("(x*y + w)/2 - 1", t, (x * y + w) * 0.5 - 1))

    # Rotation: slot i receives slot i + 3.
    r = qv.CTile(cx)
    r.rotate(3)
    computations.append(("rotate(x, 3)", r, np.roll(x, -3)))

    # The sum of all slots, in every slot.
    s = qv.CTile(cx)
    s.inner_sum(1, slots)
    computations.append(("sum(x)", s, np.full(slots, x.sum())))

    # Sums of 5 neighbouring slots (cyclic).
    n = qv.CTile(cy)
    n.sum_exp_by_squaring_left_to_right(5)
    computations.append(("window sums of y", n, sum(np.roll(y, -k) for k in range(5))))

    # Complex numbers: z * conj(z) = |z|^2.
    m = qv.CTile(cz)
    conj = qv.CTile(cz)
    conj.conjugate()
    m.multiply(conj)
    computations.append(("z * conj(z)", m, np.abs(z) ** 2))

    # Squaring a difference: (x - y)^2.
    d = qv.CTile(cx)
    d.sub(cy)
    d.square()
    computations.append(("(x - y)^2", d, (x - y) ** 2))

    # The counts of the encrypted computation alone, before any decryption.
    stats = he.get_stats_and_clear() if tracking else None

    print(f"{'computation':<20} {'chain index':>11} {'max error vs numpy':>20}")
    for name, tile, expected in computations:
        actual = encoder.decrypt_decode_complex(tile)
        error = np.max(np.abs(actual - expected))
        encoder.assert_equals(tile, name, np.asarray(expected, dtype=complex), tolerance)
        print(f"{name:<20} {tile.get_chain_index():>11} {error:>20.3g}")
    print()
    print("first slots of (x*y + w)/2 - 1:")
    print("  encrypted:", np.round(encoder.decrypt_decode_double(t)[:4], 6))
    print("  numpy:    ", np.round(((x * y + w) * 0.5 - 1)[:4], 6))

    # Save a tile to bytes and load it back.
    data = t.save_to_buffer()
    loaded = qv.CTile(he)
    loaded.load_from_buffer(data)
    same = np.allclose(encoder.decrypt_decode_complex(loaded),
                       encoder.decrypt_decode_complex(t), atol=tolerance)
    print(f"saved tile: {len(data)} bytes; loaded back equal: {same}")
    return stats


def run_tensors(he, rows, tolerance):
    """A small encrypted tensor computation: (M * c + M) / 2 for a matrix M and a
    column c, which a duplicated dimension broadcasts over the matrix's columns."""
    slots = he.slot_count()
    tile_rows, tile_cols = rows, slots // rows
    cols = tile_cols + tile_cols // 2
    rng = np.random.default_rng(7)
    m = rng.uniform(-1, 1, (rows, cols))
    c = rng.uniform(-1, 1, (rows, 1))
    tt = qv.TTEncoder(he)

    matrix_shape = qv.TTShape([tile_rows, tile_cols])
    column_shape = qv.TTShape([tile_rows, tile_cols])
    column_shape.get_dim(1).duplicate()
    cm = tt.encode_encrypt(matrix_shape, m)
    cc = tt.encode_encrypt(column_shape, c)
    print(f"matrix {rows}x{cols} packed as {cm.get_shape()} in {cm.get_num_used_tiles()} tiles; "
          f"column {rows}x1 as {cc.get_shape()} in {cc.get_num_used_tiles()} tile")
    result = cc.get_multiply(cm)
    result.add(cm)
    result.multiply_scalar(0.5)
    expected = (m * c + m) / 2
    actual = tt.decrypt_decode_double(result)
    tt.assert_equals(result, "(M * c + M) / 2", expected, tolerance)
    print(f"(M * c + M) / 2: shape {result.get_shape()}, chain index {result.get_chain_index()}, "
          f"max error vs numpy {np.max(np.abs(actual - expected)):.3g}")

    data = result.save_to_buffer()
    loaded = qv.CTileTensor(he)
    loaded.load_from_buffer(data)
    same = np.allclose(tt.decrypt_decode_double(loaded), actual, atol=tolerance)
    print(f"saved tile tensor: {len(data)} bytes; loaded back equal: {same}")


print()
print("=== Mockup context: 16 slots, multiplication depth 4 ===")
mockup = qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(16, 4))
print(mockup.print_signature(), end="")
stats = run(mockup, 1e-9)
print()
print("operation counts of the computation:")
print(stats, end="")
print()
run_tensors(mockup, 4, 1e-9)



def three_party_decryption():
    """Three key owners agree on a context id, then decrypt party 1's tile at party 3."""
    ids = [1, 2, 3]
    contexts = {}
    for pid in ids:
        config = qv.MultiPartyConfig()
        config.participant_id = pid
        config.key_owners_ids = ids
        config.initiator_id = 1
        config.aggregator_id = 2
        req = qv.HeConfigRequirement.insecure(8, 2)
        req.set_multi_party_config(config)
        contexts[pid] = qv.HeContext.create("Mockup_Mockup", req)

    def run_protocol(protocols):
        inboxes = {pid: qv.ProtocolMessageVector() for pid in ids}
        total = 0
        while protocols[1].needs_another_round():
            sent = []
            for pid in ids:
                out = qv.ProtocolMessageVector()
                assert protocols[pid].execute_next_round(out, inboxes[pid])
                sent += [(pid, m.save_to_buffer()) for m in out]
            inboxes = {pid: qv.ProtocolMessageVector() for pid in ids}
            for sender, data in sent:
                total += len(data)
                for pid in ids:
                    message = qv.ProtocolMessage(contexts[pid])
                    message.load_from_buffer(data)
                    if pid != sender and protocols[pid].is_role(message.get_destination_role()):
                        inboxes[pid].append(message)
        return total

    init = {pid: qv.InitProtocol(contexts[pid]) for pid in ids}
    run_protocol(init)
    print("common context id after the initialisation protocol:",
          len({contexts[pid].get_context_id() for pid in ids}) == 1)

    values = np.array([0.5, -1.0, 2.25, 3.0, -4.5, 5.0, 6.75, -7.0])
    decrypt = {pid: qv.DecryptProtocol(contexts[pid]) for pid in ids}
    for protocol in decrypt.values():
        protocol.set_plaintext_aggregator_id(3)
    decrypt[1].set_input(qv.Encoder(contexts[1]).encode_encrypt(values.tolist()))
    sent_bytes = run_protocol(decrypt)
    output = decrypt[3].get_output_vector_double()
    print(f"the decryption's messages took {sent_bytes} bytes")
    print("party 3 decrypted:", output)
    print("joint decryption matches numpy:", bool(np.array_equal(output, values)))


print()
print("=== Three parties decrypt a tile jointly (mockup contexts) ===")
three_party_decryption()

print()
print("=== CKKS over SEAL: 8192 slots, depth 4, 40 fractional bits, 128-bit security ===")
start = time.perf_counter()
seal = qv.SealCkksContext()
seal.init(qv.HeConfigRequirement(8192, 4, 40, 10, 128))
print(f"keys generated in {time.perf_counter() - start:.1f} s")
print(seal.to_string(), end="")
start = time.perf_counter()
run(seal, 1e-4)
print()
run_tensors(seal, 64, 1e-4)
print(f"computed in {time.perf_counter() - start:.1f} s")
