import subprocess
import sys

import pytest

import _pyquorvanelite_cppwrappers as qv


def test_version():
    assert isinstance(qv.VERSION, str)
    assert qv.VERSION == "1.5.3.0"


def test_device_type_values_are_exported():
    assert qv.DEVICE_CPU is qv.DeviceType.DEVICE_CPU
    assert qv.DEVICE_GPU is qv.DeviceType.DEVICE_GPU
    assert int(qv.DEVICE_CPU) == 0 and int(qv.DEVICE_GPU) == 1
    assert qv.DEVICE_GPU == 1 and hash(qv.DEVICE_GPU) == hash(1)
    assert qv.DeviceType.__doc__.startswith("Device types for CTile/PTile compute.")
    assert str(qv.DEVICE_GPU) == "DeviceType.DEVICE_GPU"


def test_verbosity_values_are_exported():
    expected = {"VERBOSITY_NONE": 0, "VERBOSITY_LOW": 1, "VERBOSITY_REGULAR": 2,
                "VERBOSITY_DETAILED": 3, "VERBOSITY_EXTRA_DETAILED": 4}
    for name, value in expected.items():
        assert getattr(qv, name) is getattr(qv.Verbosity, name)
        assert int(getattr(qv, name)) == value
    assert qv.Verbosity.__doc__.startswith("Verbosity levels.")


@pytest.mark.parametrize("cls", ["Printable", "PrintOptions"])
def test_classes_without_constructor(cls):
    with pytest.raises(TypeError, match="No constructor defined"):
        getattr(qv, cls)()


def test_print_options_defaults_in_fresh_process():
    code = ("import _pyquorvanelite_cppwrappers as qv; o = qv.get_print_options(); "
            "print(o.num_printed_elements, o.num_printed_last_elements, o.print_complex_numbers, "
            "o.precision, o.table_cell_width, o.factor, o.print_encrypted_content, "
            "o.tt_demo_tiles)")
    out = subprocess.run([sys.executable, "-c", code], check=True, capture_output=True,
                         text=True).stdout
    assert out.split() == ["4", "1", "True", "3", "5", "1.0", "False", "False"]


def test_print_options_are_global():
    options = qv.get_print_options()
    old = options.precision
    try:
        options.precision = 6
        assert qv.get_print_options().precision == 6
        assert qv.get_print_options() is options
    finally:
        options.precision = old


@pytest.mark.parametrize("prop,bad", [("precision", 2.5), ("precision", 2**31),
                                      ("print_complex_numbers", "yes"), ("factor", "x")])
def test_print_option_setters_refuse_wrong_types(prop, bad):
    with pytest.raises(TypeError):
        setattr(qv.get_print_options(), prop, bad)


def test_no_generic_float_format_property():
    assert not hasattr(qv.get_print_options(), "general_float_format")


def test_docstrings():
    assert qv.get_print_options.__doc__.startswith(
        "get_print_options() -> _pyquorvanelite_cppwrappers.PrintOptions")
    assert "Returns global print options." in qv.get_print_options.__doc__
    doc = qv.Printable.to_string.__doc__
    assert "Convert object to string." in doc
    assert ":param verbosity: Verbosity level (default=VERBOSITY_REGULAR)" in doc
    assert "Global settings can be obtained by get_print_options()." in qv.PrintOptions.__doc__
