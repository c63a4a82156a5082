import pytest

import _pyquorvanelite_cppwrappers as qv


def test_generic_packing_config_fields():
    c = qv.GenericPackingConfig()
    assert c.option == qv.GenericPackingOption.LOW_SPACE
    assert c.batch_dim is None
    c.batch_dim = 0
    assert c.batch_dim == 0
    c.batch_dim = None
    assert c.batch_dim is None
    # The option read before a change shows the change.
    option = c.option
    c.option = qv.GenericPackingOption.BATCH_PACKING
    assert option == qv.GenericPackingOption.BATCH_PACKING
    with pytest.raises(TypeError):
        c.option = 1
    with pytest.raises(TypeError):
        c.batch_dim = "1"
    assert c.batch_dim is None


def test_generic_packing_option_values():
    assert {name: int(v) for name, v in qv.GenericPackingOption.__members__.items()} == {
        "LOW_SPACE": 0, "SEPERATE_ELEMENTS": 1, "BATCH_PACKING": 2}
    assert not hasattr(qv, "LOW_SPACE")
    assert qv.GenericPackingOption.__doc__.startswith("The option by which to pack data generically")
    assert qv.GenericPackingConfig.__doc__ == "Configuration by which to pack data generically."


def test_padding():
    p = qv.Padding2d(1, 2, 3, 4)
    assert (p.get_max_left_right(), p.get_max_up_down(), p.all_zero()) == (2, 4, False)
    assert repr(p) == "Padding-2d(left=1, right=2, up=3, down=4)"
    assert p.to_string(qv.VERBOSITY_NONE) == ""
    z = qv.Padding2d()
    assert z.all_zero()
    z.set(0, 0, 0, 5)
    assert not z.all_zero() and z.get_max_up_down() == 5
    z.left = -3
    assert (z.left, z.right, z.up, z.down) == (-3, 0, 0, 5)
    with pytest.raises(TypeError):
        z.right = 1.5
    assert isinstance(p, qv.Printable) and not isinstance(p, qv.SaveableBasic)
    assert qv.Padding2d(left=1, right=0, up=0, down=0).left == 1
