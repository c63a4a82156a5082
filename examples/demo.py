"""Encrypted computing from Python, end to end, on the mockup context.

Creates a context, encodes and encrypts numpy vectors into tiles, computes on
them (arithmetic, rotation, sums), decrypts and decodes back, compares every
result with numpy, saves and loads a tile through bytes, and prints how many
operations of each kind the computation took.
"""
import numpy as np

import _pyquorvanelite_cppwrappers as qv

print("quorvane version", qv.VERSION)

SLOTS = 16
DEPTH = 4

# The mockup context computes on clear values but keeps the scheme's
# bookkeeping: chain indexes fall with every multiplication, as in CKKS.
he = qv.HeContext.create("Mockup_Mockup", qv.HeConfigRequirement.insecure(SLOTS, DEPTH))
print(he.print_signature(), end="")
encoder = qv.Encoder(he)

rng = np.random.default_rng(2024)
x = rng.uniform(-1, 1, SLOTS)
y = rng.uniform(-1, 1, SLOTS)
w = rng.uniform(0, 2, SLOTS)
z = x + 1j * y

he.start_operation_count_track()
cx = encoder.encode_encrypt(x)
cy = encoder.encode_encrypt(y)
pw = encoder.encode(w)
cz = encoder.encode_encrypt(z)

computations = []


def check(name, tile, expected):
    """Keeps the tile and its numpy result for the comparison below."""
    computations.append((name, tile, expected))


# (x * y + w) * 0.5 - 1: a product, a plaintext addition and scalars.
t = cx.get_multiply(cy)
t.add_plain(pw)
t.multiply_scalar(0.5)
t.add_scalar(-1)
check("(x*y + w)/2 - 1", t, (x * y + w) * 0.5 - 1)

# Rotation: slot i receives slot i + 3.
r = qv.CTile(cx)
r.rotate(3)
check("rotate(x, 3)", r, np.roll(x, -3))

# The sum of all slots, in every slot.
s = qv.CTile(cx)
s.inner_sum(1, SLOTS)
check("sum(x)", s, np.full(SLOTS, x.sum()))

# Sums of 5 neighbouring slots (cyclic).
n = qv.CTile(cy)
n.sum_exp_by_squaring_left_to_right(5)
check("window sums of y", n, sum(np.roll(y, -k) for k in range(5)))

# Complex numbers: z * conj(z) = |z|^2.
m = qv.CTile(cz)
conj = qv.CTile(cz)
conj.conjugate()
m.multiply(conj)
check("z * conj(z)", m, np.abs(z) ** 2)

# Squaring a difference: (x - y)^2.
d = qv.CTile(cx)
d.sub(cy)
d.square()
check("(x - y)^2", d, (x - y) ** 2)

# The counts of the encrypted computation alone, before any decryption.
stats = he.get_stats_and_clear()

results = []
for name, tile, expected in computations:
    actual = encoder.decrypt_decode_complex(tile)
    error = np.max(np.abs(actual - expected))
    encoder.assert_equals(tile, name, np.asarray(expected, dtype=complex), 1e-9)
    results.append((name, tile.get_chain_index(), error))

# Save a tile to bytes and load it back.
data = t.save_to_buffer()
loaded = qv.CTile(he)
loaded.load_from_buffer(data)
same = np.array_equal(encoder.decrypt_decode_complex(loaded), encoder.decrypt_decode_complex(t))

print()
print(f"{'computation':<20} {'chain index':>11} {'max error vs numpy':>20}")
for name, chain_index, error in results:
    print(f"{name:<20} {chain_index:>11} {error:>20.3g}")
print()
print("first slots of (x*y + w)/2 - 1:")
print("  encrypted:", np.round(encoder.decrypt_decode_double(t)[:4], 6))
print("  numpy:    ", np.round(((x * y + w) * 0.5 - 1)[:4], 6))
print()
print(f"saved tile: {len(data)} bytes; loaded back equal: {same}")
print()
print("operation counts of the computation:")
print(stats, end="")
