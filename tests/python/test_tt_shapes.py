import copy
import gc
import struct

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv

MOD = "_pyquorvanelite_cppwrappers."


def shape_of(tile_sizes, original_sizes):
    s = qv.TTShape(tile_sizes)
    s.set_original_sizes(original_sizes)
    return s


# ---- TTDim ----

@pytest.mark.parametrize("args, kwargs, text", [
    ((5, 4), {}, "5/4"),
    ((1, 8, 8), {}, "*/8"),
    ((1, 8, 3), {}, "*3/8"),
    ((3, 4), {"are_unused_slots_unkown": True}, "3?/4"),
    ((8, 4), {"is_complex_packed": True}, "8(c)/4"),
    ((8, 4), {"is_interleaved": True}, "8~/4"),
    ((-1, 16), {}, "-1/16"),
    ((5, 1), {}, "5"),
])
def test_dim_notation(args, kwargs, text):
    d = qv.TTDim(*args, **kwargs)
    assert d.to_string() == text
    assert repr(d) == text


def test_dim_queries():
    d = qv.TTDim(5, 4)
    assert (d.get_external_size(), d.get_num_unused_slots(), d.get_num_used_slots()) == (2, 3, 5)
    assert d.get_max_used_slots_in_tile() == 4
    assert not d.is_incomplete() and not d.is_degenerate_tile() and not d.is_interleaved()
    assert (d.get_original_size(), d.get_tile_size(), d.get_num_duplicated()) == (5, 4, 1)
    inc = qv.TTDim(-1, 8)
    assert inc.is_incomplete()
    assert (inc.get_external_size(), inc.get_num_used_slots(), inc.get_num_unused_slots()) == (-1, -1, -1)
    c = qv.TTDim(8, 4, is_complex_packed=True)
    assert c.get_is_complex_packed() and c.get_original_size_slots() == 4
    full = qv.TTDim(1, 4, 4)
    assert full.is_fully_duplicated() and full.get_num_duplicated_slots() == 4


@pytest.mark.parametrize("make, message", [
    (lambda: qv.TTDim(0, 4),
     "Original size must be a positive number (or -1 to mark an incomplete dimension)"),
    (lambda: qv.TTDim(4, 3), "Tile size must be a power of 2"),
    (lambda: qv.TTDim(4, 0), "Tile size must be a positive number"),
    (lambda: qv.TTDim(4, 4, are_unused_slots_unkown=True),
     "Cannot have unknown values: dimension sizes leave no unused slots"),
    (lambda: qv.TTDim(3, 4, is_complex_packed=True),
     "complex-packing currently supports only even number of values"),
    (lambda: qv.TTDim(1, 4, 3, is_complex_packed=True),
     "complex-packing currently supports only even number of duplicated values"),
    (lambda: qv.TTDim(1, 4).duplicate(0), "Illegaul value to duplicate: 0"),
    (lambda: qv.TTDim(1, 4, 2).duplicate(), "Dimension already duplicated"),
    (lambda: qv.TTDim(5, 4).duplicate(), "Dimension has size larger than 1 and cannot be duplicated"),
    (lambda: qv.TTDim(10, 4).set_interleaved(True, 4).set_interleaved_external_size(2),
     "Trying to set to dim [10~4/4] an external size 2 smaller than the minimum 3"),
])
def test_dim_value_errors(make, message):
    with pytest.raises(ValueError) as info:
        make()
    assert str(info.value) == message


def test_dim_setters_return_self_and_restore_on_refusal():
    d = qv.TTDim(5, 4)
    assert d.set_tile_size(8) is d
    assert d.set_interleaved(True).set_original_size(6) is d
    assert d.to_string() == "6~/8"
    assert d.set_incomplete() is None
    assert d.to_string() == "-1~1/8"  # the stored external size stays
    e = qv.TTDim(1, 4)
    assert e.duplicate() is None
    assert e.to_string() == "*/4" and e.get_num_duplicated() == 4
    f = qv.TTDim(6, 4)
    with pytest.raises(ValueError, match="^Tile size must be a positive number$"):
        f.set_tile_size(0)
    assert f.to_string() == "6/4" and f.get_num_unused_slots() == 2
    assert f.set_unused_slots_unknown().to_string() == "6?/4"
    assert f.set_are_unused_slots_unknown(False).to_string() == "6/4"
    assert f.set_num_duplicated(1).set_is_complex_packed(True).to_string() == "6(c)/4"


def test_dim_reduce_original_size():
    assert qv.TTDim(5, 4).reduce_original_size(3).get_external_size() == 1
    with pytest.raises(RuntimeError) as info:
        qv.TTDim(5, 4).reduce_original_size(6)
    assert str(info.value) == ("reduceOriginalSize: cannot increase original size. "
                               "In dim 5/4, newOriginalSize=6")
    d = qv.TTDim(10, 4).set_interleaved(True)
    assert d.reduce_original_size(5, 4).to_string() == "5~4/4"
    with pytest.raises(RuntimeError, match="Assertion failed: interleaved$"):
        qv.TTDim(10, 4).set_interleaved_external_size(4)
    with pytest.raises(RuntimeError, match="^Can't compute original size slots for incomplete dims$"):
        qv.TTDim(-1, 4, is_complex_packed=True).get_original_size_slots()


def test_dim_compatibility_and_adjustments():
    assert not qv.TTDim(4, 4).is_compatible(qv.TTDim(4, 8))
    c = qv.TTDim(8, 4, is_complex_packed=True)
    full = qv.TTDim(1, 4, 4)
    assert not c.is_compatible(full)  # OTHER_ACTION_TYPE by default
    assert c.is_compatible(full, qv.MULTIPLICATIVE_ACTION_TYPE)
    assert not c.is_compatible(full, action_type=qv.ADDITIVE_ACTION_TYPE)
    with pytest.raises(TypeError):
        c.is_compatible(full, 1)
    d = qv.TTDim(1, 8, 8)
    d.apply_compatibility_adjustments(qv.TTDim(5, 8), qv.ADDITIVE_ACTION_TYPE)
    assert d.to_string() == "5?/8"
    d = qv.TTDim(1, 8, 8)
    d.apply_compatibility_adjustments(other=qv.TTDim(5, 8), actionType=qv.MULTIPLICATIVE_ACTION_TYPE)
    assert d.to_string() == "5/8"
    assert qv.TTDim(10, 4).set_interleaved(True).is_equal_on_original_slots(
        qv.TTDim(10, 4).set_interleaved(True, 4), enforceInterleavedExternalSize=False)


def test_dim_equality_and_hash():
    assert qv.TTDim(5, 4) == qv.TTDim(5, 4)
    assert qv.TTDim(5, 4) != qv.TTDim(5, 8)
    assert (qv.TTDim(4, 4) == 4) is False
    assert qv.TTDim.__eq__.__doc__ == (
        "__eq__(self: _pyquorvanelite_cppwrappers.TTDim, other: _pyquorvanelite_cppwrappers.TTDim)"
        " -> bool\n")
    assert qv.TTDim.__hash__ is None
    with pytest.raises(TypeError):
        hash(qv.TTDim(4, 4))


def test_action_type():
    assert qv.ActionType(1) == qv.MULTIPLICATIVE_ACTION_TYPE
    assert qv.OTHER_ACTION_TYPE is qv.ActionType.OTHER_ACTION_TYPE
    assert [int(v) for v in qv.ActionType.__members__.values()] == [0, 1, 2]


def test_dim_saved_form():
    d = qv.TTDim(10, 4).set_interleaved(True, 4)
    data = d.save_to_buffer()
    assert data == struct.pack("<iiibbbib", 10, 4, 1, 0, 0, 1, 4, 0)
    e = qv.TTDim(3, 2)
    e.load_from_buffer(data)
    assert e == d and e.to_string() == "10~4/4"
    with pytest.raises(RuntimeError) as info:
        e.load_from_buffer(struct.pack("<iiibbbb", 5, 0, 1, 0, 0, 0, 0))
    assert str(info.value) == "Invalid saved TTDim: Tile size must be a positive number"
    assert e.to_string() == "10~4/4"


def test_dim_interleaved_spread_is_bounded():
    d = qv.TTDim(3, 4).set_interleaved(True)
    assert d.set_interleaved_external_size(12).to_string() == "3~12/4"
    with pytest.raises(ValueError) as info:
        d.set_interleaved_external_size(13)
    assert str(info.value) == ("The interleaved dimension [3~13/4] spreads 3 values over 13 tiles, "
                               "more than 4 tiles per value")
    assert d.to_string() == "3~12/4"


SPREAD_BY_A_FLIPPED_BIT = ("The interleaved dimension [4~1048577/4] spreads 4 values over 1048577 "
                           "tiles, more than 4 tiles per value")


def test_dim_with_a_flipped_bit_in_its_external_size_is_refused():
    data = bytearray(qv.TTDim(4, 4).set_interleaved(True).save_to_buffer())
    assert len(data) == 20
    data[17] ^= 0x10  # external size 1 becomes 2^20 + 1
    e = qv.TTDim(6, 2)
    with pytest.raises(RuntimeError) as info:
        e.load_from_buffer(bytes(data))
    assert str(info.value) == "Invalid saved TTDim: " + SPREAD_BY_A_FLIPPED_BIT
    assert e.to_string() == "6/2"


def test_dim_signatures():
    assert qv.TTDim.__init__.__doc__.startswith(
        "__init__(self: " + MOD + "TTDim, original_size: int, tile_size: int, "
        "num_duplicated: int = 1, are_unused_slots_unkown: bool = False, "
        "is_interleaved: bool = False, is_complex_packed: bool = False) -> None")
    assert qv.TTDim.reduce_original_size.__doc__.startswith(
        "reduce_original_size(self: " + MOD + "TTDim, new_original_size: int, "
        "new_interleaved_external_size: int = False) -> " + MOD + "TTDim")
    assert qv.TTDim.is_compatible.__doc__.startswith(
        "is_compatible(self: " + MOD + "TTDim, other: " + MOD + "TTDim, action_type: "
        + MOD + "ActionType = <ActionType.OTHER_ACTION_TYPE: 2>) -> bool")
    assert issubclass(qv.TTDim, qv.SaveableBasic)


@pytest.mark.parametrize("member, text", [
    ("apply_compatibility_adjustments",
     "Change this TTDim to be the result of applying a tile tensor"),
    ("set_are_unused_slots_unknown", "Sets the value of the unknown flag for this dimension."),
    ("set_unused_slots_unknown", "Indicates that unused slots if they exist are unknown."),
    ("set_interleaved", "Turns interleave flag on or off."),
    ("set_interleaved_external_size", "Set the interleaved external size of this dimension."),
    ("set_is_complex_packed", "Sets this dimension's complex packed flag"),
    ("duplicate", "Sets dim to be duplicated."),
    ("get_original_size", "Returns original size."),
    ("get_num_duplicated", "Returns number of duplications."),
    ("get_num_duplicated_slots", "Returns the number of slots that contain duplicated values."),
    ("get_is_complex_packed", "Returns whether this dimension is complex packed."),
    ("get_max_used_slots_in_tile",
     "Returns a bound on the number of used slots along this dimension"),
])
def test_dim_docstrings(member, text):
    doc = getattr(qv.TTDim, member).__doc__
    # The signature line, a blank line, then the stored text on its own line.
    stored = doc.split("\n\n", 1)[1]
    assert stored.startswith("\n") and stored.lstrip().startswith(text)


# ---- TTShape ----

def test_shape_from_tile_sizes():
    s = qv.TTShape([4, 8])
    sizes = s.get_tile_sizes()
    assert sizes.dtype == np.int32 and sizes.tolist() == [4, 8]
    assert s.get_original_sizes().tolist() == [-1, -1]
    assert s.get_external_sizes().tolist() == [-1, -1]
    assert s.is_incomplete() and s.are_all_dims_incomplete()
    assert s.get_num_slots_in_tile() == 32
    assert (s.get_rotate_offset_of_dim(0), s.get_rotate_offset_of_dim(1)) == (8, 1)
    assert s.get_rotate_offset_of_dim(-1) == 32
    assert s.tile_layout_to_string() == "( 4 x 8 )"
    assert repr(s) == "[-1/4, -1/8]"
    assert qv.TTShape([4.0, 8.9]).get_tile_sizes().tolist() == [4, 8]
    with pytest.raises(ValueError, match="^Tile size must be a power of 2$"):
        qv.TTShape([3])


def test_empty_shape():
    s = qv.TTShape()
    assert s.get_num_dims() == 0
    t = s.get_tile_sizes()
    assert t.dtype == np.int32 and t.shape == (0,)
    assert s.get_num_slots_in_tile() == 1
    assert s.are_all_dims_incomplete() and not s.is_incomplete()
    assert s.tile_layout_to_string() == "(  )"
    assert s.to_string() == "[]"


def test_shape_sizes_and_errors(capfd):
    s = shape_of([4, 8], [5, 16])
    assert s.get_external_sizes().tolist() == [2, 2]
    assert s.get_num_used_tiles() == 4
    with pytest.raises(RuntimeError, match="Assertion failed: orgSizes.size\\(\\) == dims.size\\(\\)$"):
        s.set_original_sizes([5])
    capfd.readouterr()
    for i in [2, -1]:
        with pytest.raises(ValueError) as info:
            s.get_dim(i)
        assert str(info.value) == f"Dimension {i} does not exist for this shape"
        err = capfd.readouterr().err
        assert err == f"TT shape error:\nDimension {i} does not exist for this shape\nIn this shape: [5/4, 16/8]\n"
    for i in [2, -2]:
        with pytest.raises(ValueError, match=f"^Dimension {i} does not exist for this shape$"):
            s.get_rotate_offset_of_dim(i)
    with pytest.raises(ValueError):
        s.is_first_non_degenerate_tile_dim(5)
    assert s.is_first_non_degenerate_tile_dim(0)


LIMIT = ", above the limit of 2147483647"


def test_shape_counts_beyond_an_int_are_refused(capfd):
    with pytest.raises(ValueError) as info:
        qv.TTShape([65536, 65536])
    assert str(info.value) == ("Dimension 1 brings the number of slots in a tile to 4294967296"
                               + LIMIT)
    s = shape_of([1, 1, 16], [65537, 1, 16])
    with pytest.raises(ValueError) as info:
        s.set_original_sizes([65537, 65537, 16])
    assert str(info.value) == "Dimension 1 brings the number of tiles to 4295098369" + LIMIT
    with pytest.raises(ValueError) as info:
        s.add_dim(65537, 1)
    assert str(info.value) == "Dimension 3 brings the number of tiles to 4295098369" + LIMIT
    assert s.to_string() == "[65537, 1, 16/16]"
    capfd.readouterr()
    # A view changes the shape without it knowing; its counts still refuse.
    s.get_dim(1).set_original_size(65537)
    with pytest.raises(ValueError) as info:
        s.get_num_used_tiles()
    assert str(info.value) == "Dimension 1 brings the number of tiles to 4295098369" + LIMIT
    assert "\nIn dimension 1: 65537\n" in capfd.readouterr().err
    t = qv.TTShape()
    with pytest.raises(RuntimeError) as info:
        t.load_from_buffer(struct.pack("<ib", 2, 0)
                           + struct.pack("<iiibbbb", -1, 65536, 1, 0, 0, 0, 0) * 2)
    assert str(info.value) == ("Invalid saved TTShape: Dimension 1 brings the number of slots in a "
                               "tile to 4294967296" + LIMIT)
    assert t.to_string() == "[]"


def test_shape_with_a_flipped_bit_in_an_external_size_is_refused():
    s = qv.TTShape()
    s.add_dim(qv.TTDim(4, 4).set_interleaved(True))
    s.add_dim(4, 4)
    data = bytearray(s.save_to_buffer())
    assert len(data) == 41
    data[5 + 17] ^= 0x10
    t = qv.TTShape([4])
    with pytest.raises(RuntimeError) as info:
        t.load_from_buffer(bytes(data))
    assert str(info.value) == "Invalid saved TTDim: " + SPREAD_BY_A_FLIPPED_BIT
    assert t.to_string() == "[-1/4]"


def test_dim_views_change_the_shape():
    s = qv.TTShape([4, 8])
    v = s.get_dim(0)
    assert s.get_dim(0) is v
    assert v.set_tile_size(8) is v
    assert s.get_tile_sizes().tolist() == [8, 8]
    d = qv.TTDim(3, 1)
    s.add_dim(d)
    d.set_tile_size(4)
    assert s.to_string() == "[-1/8, -1/8, 3]"
    # A view keeps its shape alive.
    w = qv.TTShape([2, 4]).get_dim(1)
    gc.collect()
    assert w.get_tile_size() == 4


def _reuse_freed_memory():
    return [qv.TTShape([2, 2]) for _ in range(200)] + [qv.TTDim(3, 2) for _ in range(200)]


def test_dim_views_follow_changes_that_keep_the_dimensions():
    s = qv.TTShape([4, 8])
    v = s.get_dim(0)
    s.set_original_sizes([5, 16])
    kept = _reuse_freed_memory()
    assert v.to_string() == "5/4" and s.get_dim(0) is v
    v.set_tile_size(2)
    assert s.to_string() == "[5/2, 16/8]"
    s.set_all_unused_slots_unknown()
    assert v.to_string() == "5?/2"
    s.apply_compatibility_adjustments(qv.TTShape(s), qv.ADDITIVE_ACTION_TYPE)
    assert v.to_string() == "5?/2"
    t = qv.TTShape([4, 4])
    t.set_original_sizes([8, 4])
    w = t.get_dim(1)
    t.set_diagonalized(True)
    assert t.to_string() == "[ (d)8/4, 4/4]"
    w.set_original_size(2)
    assert t.to_string() == "[ (d)8/4, 2/4]"
    del kept


def test_dim_views_stay_safe_when_the_dimensions_change():
    s = qv.TTShape([4])
    v = s.get_dim(0)
    for _ in range(100):
        s.add_dim(qv.TTDim(1, 1))
    s.insert_dim_at(qv.TTDim(3, 1), 0)
    s.add_dim(4, 8)
    s.load_from_buffer(qv.TTShape([2, 4, 8]).save_to_buffer())
    kept = _reuse_freed_memory()
    # The view is stale: it keeps the dimension it showed, and changing it leaves the shape.
    assert v.to_string() == "-1/4"
    v.set_tile_size(16)
    assert s.to_string() == "[-1/2, -1/4, -1/8]"
    s.add_dim(s.get_dim(0))
    assert s.to_string() == "[-1/2, -1/4, -1/8, -1/2]"
    del s
    gc.collect()
    kept += _reuse_freed_memory()
    assert v.to_string() == "-1/16"


def test_shape_adding_dimensions():
    s = shape_of([4, 8], [5, 3])
    s.add_dim(qv.TTDim(3, 1))
    s.add_dim(qv.TTDim(2, 1), 0)
    s.add_dim(qv.TTDim(7, 1), 10)
    s.add_dim(4, 8)
    s.add_dim(1, 4, num_duplicated=2)
    assert s.to_string() == "[2, 5/4, 3/8, 3, 7, 4/8, *2/4]"
    with pytest.raises(TypeError):
        s.add_dim(4)
    s.insert_dim_at(qv.TTDim(9, 1), 1)
    assert s.to_string() == "[2, 9, 5/4, 3/8, 3, 7, 4/8, *2/4]"
    with pytest.raises(ValueError):
        s.insert_dim_at(qv.TTDim(9, 1), 9)


def test_shape_duplication_and_copies():
    s = shape_of([4, 8], [5, 1])
    assert s.get_with_duplicated_dims([1]).to_string() == "[5/4, */8]"
    assert s.get_with_duplicated_dim(1).to_string() == "[5/4, */8]"
    for i in [5, -1]:
        with pytest.raises(IndexError, match="^invalid vector subscript$"):
            s.get_with_duplicated_dim(i)
    with pytest.raises(ValueError, match="^Dimension has size larger than 1 and cannot be duplicated$"):
        s.get_with_duplicated_dim(0)
    assert s.to_string() == "[5/4, 1/8]"
    for c in [copy.copy(s), copy.deepcopy(s), qv.TTShape(s)]:
        assert c is not s and c.to_string() == s.to_string()
        c.get_dim(0).set_tile_size(2)
        assert s.to_string() == "[5/4, 1/8]"


def test_shape_compatibility(capfd):
    dup = shape_of([4, 8], [5, 1]).get_with_duplicated_dim(1)
    other = shape_of([4, 8], [5, 3])
    for action in [qv.ADDITIVE_ACTION_TYPE, qv.MULTIPLICATIVE_ACTION_TYPE, qv.OTHER_ACTION_TYPE]:
        assert dup.is_compatible(other, action)
    added = qv.TTShape(dup)
    added.apply_compatibility_adjustments(other, qv.ADDITIVE_ACTION_TYPE)
    assert added.to_string() == "[5/4, 3?/8]"
    multiplied = qv.TTShape(dup)
    multiplied.apply_compatibility_adjustments(other, action_type=qv.MULTIPLICATIVE_ACTION_TYPE)
    assert multiplied.to_string() == "[5/4, 3/8]"
    with pytest.raises(IndexError, match="^invalid vector subscript$"):
        shape_of([4, 8, 1], [5, 3, 1]).apply_compatibility_adjustments(other, qv.ADDITIVE_ACTION_TYPE)
    capfd.readouterr()
    with pytest.raises(ValueError) as info:
        other.assert_compatible(shape_of([4, 8], [5, 4]), qv.ADDITIVE_ACTION_TYPE, "my text")
    assert str(info.value) == "Dimension 1 mismatches: 3/8 vs. 4/8"
    assert capfd.readouterr().err == ("Mismatching tile tensor shapes: \nFirst: [5/4, 3/8]\n"
                                      "Second: [5/4, 4/8]\nmy text\n"
                                      "Dimension 1 mismatches: 3/8 vs. 4/8\n")
    assert not other.is_compatible(shape_of([4], [5]))
    with pytest.raises(ValueError, match="^Mismatching order: 2 vs 1$"):
        other.assert_compatible(shape_of([4], [5]))


def test_shape_diagonalization_and_sub_shapes():
    s = shape_of([4, 4], [8, 8])
    s.set_diagonalized(True)
    assert s.is_diagonalized() and s.to_string() == "[ (d)8/4, 8/4]"
    assert s.get_external_sizes().tolist() == [4, 2] and s.get_num_used_tiles() == 8
    s.add_dim(3, 2)
    assert s.get_sub_shape(0, 2).is_diagonalized()
    assert not s.get_sub_shape(2, 3).is_diagonalized()
    for first, last, message in [
            (1, 1, "Can't return an empty sub shape"),
            (1, 2, "Cannot return a subshape of a diagonalized shape with just one of the two "
                   "diagonalized dimensions. first=1 last=2"),
            (2, 5, "Sub shape [2,5) exceeds the 3 dimensions of this shape")]:
        with pytest.raises(ValueError) as info:
            s.get_sub_shape(first, last)
        assert str(info.value) == message
    with pytest.raises(ValueError, match="^To turn on diagonlization at least two dimensions must be present$"):
        shape_of([4], [8]).set_diagonalized(True)
    with pytest.raises(ValueError, match="^Can't add dimensions in the first or second positions"):
        s.add_dim(qv.TTDim(2, 1), 1)
    with pytest.raises(ValueError, match="^Can't add a diagonalized dim"):
        qv.TTShape().add_dim(s.get_dim(0))
    t = s.get_incomplete_tile_sizes_and_interleaved()
    assert t.to_string() == "[-1/4, -1/4, -1/2]" and not t.is_diagonalized()


def test_shape_unknowns():
    s = shape_of([4, 8], [5, 8])
    s.set_all_unused_slots_unknown()
    assert s.to_string() == "[5?/4, 8/8]" and s.contains_unknown_unused_slots()
    s.clear_unknowns()
    assert not s.contains_unknown_unused_slots()
    assert s.get_original_sizes(include_duplications=True).tolist() == [5, 8]


def test_shape_saved_form():
    s = shape_of([4, 8], [5, 3])
    data = s.save_to_buffer()
    assert len(data) == 37
    assert data[:5] == struct.pack("<ib", 2, 0)
    t = qv.TTShape()
    t.load_from_buffer(data)
    assert t.to_string() == "[5/4, 3/8]"
    with pytest.raises(RuntimeError) as info:
        t.load_from_buffer(struct.pack("<ib", -1, 0))
    assert str(info.value) == ("Invalid saved TTShape: number of dimensions is -1, expected a "
                               "value in [0, 100000]")
    with pytest.raises(RuntimeError, match="^Invalid saved TTShape: number of dimensions is 200000"):
        t.load_from_buffer(struct.pack("<ib", 200000, 0))
    assert t.to_string() == "[5/4, 3/8]"


def test_shape_signatures():
    doc = qv.TTShape.get_dim.__doc__
    assert doc.count("get_dim(self: " + MOD + "TTShape, dim: int) -> " + MOD + "TTDim") == 2
    assert qv.TTShape.is_compatible.__doc__.startswith(
        "is_compatible(self: " + MOD + "TTShape, other: " + MOD + "TTShape, actionType: "
        + MOD + "ActionType = <ActionType.OTHER_ACTION_TYPE: 2>) -> bool")
    assert qv.TTShape.get_tile_sizes.__doc__.startswith(
        "get_tile_sizes(self: " + MOD + "TTShape) -> numpy.ndarray[numpy.int32]")
    assert qv.TTShape.__deepcopy__.__doc__.startswith(
        "__deepcopy__(self: " + MOD + "TTShape, arg0: dict) -> " + MOD + "TTShape")
    assert qv.TTShape.assert_compatible.__doc__.startswith(
        "assert_compatible(self: " + MOD + "TTShape, other: " + MOD + "TTShape, action_type: "
        + MOD + "ActionType = <ActionType.OTHER_ACTION_TYPE: 2>, text: str = '') -> None")
    assert "__eq__" not in vars(qv.TTShape)
