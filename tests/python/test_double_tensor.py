import math

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv

SHAPES = [(1,), (7,), (2, 3), (3, 1), (1, 1), (2, 3, 4), (4, 1, 2), (2, 1, 3, 2), (3, 2, 2, 5)]


@pytest.mark.parametrize("shape", SHAPES)
def test_round_trip_of_orders_1_to_4(shape):
    rng = np.random.default_rng(len(shape) * 100 + sum(shape))
    arr = rng.uniform(-10, 10, size=shape)
    res = qv.DoubleTensor(arr).to_numpy()
    assert res.shape == shape
    np.testing.assert_array_equal(res, arr)


def test_elements_keep_their_places():
    arr = np.array([[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]])
    res = qv.DoubleTensor(arr).to_numpy()
    assert res.shape == (2, 3)
    for i in range(2):
        for j in range(3):
            assert res[i, j] == arr[i, j]


def test_special_values_survive():
    arr = np.array([np.inf, -np.inf, -0.0, 5e-324, 1.7976931348623157e308])
    res = qv.DoubleTensor(arr).to_numpy()
    np.testing.assert_array_equal(res, arr)
    assert math.copysign(1.0, res[2]) == -1.0
    assert np.isnan(qv.DoubleTensor(np.array([np.nan, 1.0])).to_numpy()[0])


@pytest.mark.parametrize("shape", [(4,), (2, 3), (2, 1, 2), (1, 2, 1, 2)])
def test_add_scalar(shape):
    t = qv.DoubleTensor(np.zeros(shape))
    assert t.add_scalar(1.5) is None
    np.testing.assert_array_equal(t.to_numpy(), np.full(shape, 1.5))
    values = np.arange(np.prod(shape), dtype=float).reshape(shape)
    t = qv.DoubleTensor(values)
    t.add_scalar(val=-2)
    np.testing.assert_array_equal(t.to_numpy(), values - 2)


def test_constructor_takes_no_keyword():
    with pytest.raises(TypeError):
        qv.DoubleTensor(arg0=np.zeros(2))
    with pytest.raises(TypeError):
        qv.DoubleTensor()


def test_assert_equals_with_itself_and_a_copy():
    arr = np.arange(6.0).reshape(2, 3)
    t = qv.DoubleTensor(arr)
    assert t.assert_equals(t, "self") == 0.0
    assert t.assert_equals(qv.DoubleTensor(arr.copy()), "copy", 0.0) == 0.0


def test_assert_equals_failure_reports_on_stdout(capfd):
    a = np.array([[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]])
    b = a.copy()
    b[1, 0] += 0.1  # storage (first index fastest) index 1
    with pytest.raises(RuntimeError) as info:
        qv.DoubleTensor(a).assert_equals(qv.DoubleTensor(b), "t")
    assert str(info.value) == "Assert Equals Failed"
    out = capfd.readouterr().out
    assert out == ("Error in checking diff:\nt, at index 1, this value: 4, other value: 4.1, "
                   "diff: 0.1, epsilon: 1e-05\n")


def test_assert_equals_returns_mean_squared_error():
    a = np.zeros((2, 3))
    b = a.copy()
    b[0, 2] = 0.1
    mse = qv.DoubleTensor(a).assert_equals(qv.DoubleTensor(b), "t", eps=0.2)
    assert mse == pytest.approx(0.01 / 6, rel=1e-12)
    # Negative eps only measures.
    b[1, 1] = -3.0
    mse = qv.DoubleTensor(a).assert_equals(qv.DoubleTensor(b), "t", -1.0)
    assert mse == pytest.approx((0.01 + 9.0) / 6, rel=1e-12)


@pytest.mark.parametrize("x,y,eps,relative,fails", [
    (100.0, 100.0005, 1e-5, True, False),
    (1.0, 1.0001, 1e-5, True, True),
    (100.0, 100.0005, 1e-5, False, True),
    (1.0, 1.000001, 1e-5, False, False),
    (float("nan"), 1.0, 1e-5, False, True),
    (float("nan"), float("nan"), 1.0, True, True),
    (float("nan"), 1.0, -1.0, False, False),
])
def test_assert_equals_tolerances(x, y, eps, relative, fails, capfd):
    a = qv.DoubleTensor(np.array([0.0, x]))
    b = qv.DoubleTensor(np.array([0.0, y]))
    if fails:
        with pytest.raises(RuntimeError, match="^Assert Equals Failed$"):
            a.assert_equals(b, "tol", eps=eps, relative=relative)
        assert capfd.readouterr().out.startswith("Error in checking diff:\ntol, at index 1, ")
    else:
        mse = a.assert_equals(other=b, title="tol", eps=eps, relative=relative)
        assert isinstance(mse, float)
        assert math.isnan(mse) or mse == pytest.approx((x - y) ** 2 / 2)


def test_assert_equals_of_empty_tensors_is_nan():
    e = qv.DoubleTensor(np.zeros(0))
    assert math.isnan(e.assert_equals(qv.DoubleTensor(np.zeros(0)), "empty"))


@pytest.mark.parametrize("a,b,title,message", [
    ((2, 3), (3, 2), "t", "t: Tensors shape mismatch: [2,3] vs [3,2]: Dimension 0 size mismatch"),
    ((2, 3), (2, 4), "", "Tensors shape mismatch: [2,3] vs [2,4]: Dimension 1 size mismatch"),
    ((2, 3), (6,), "x", "x: Tensors shape mismatch: [2,3] vs [6]: Orders mismatch: 2 vs 1"),
    ((2,), (2, 1, 1), "", "Tensors shape mismatch: [2] vs [2,1,1]: Orders mismatch: 1 vs 3"),
])
def test_assert_equals_shape_mismatch(a, b, title, message):
    with pytest.raises(ValueError) as info:
        qv.DoubleTensor(np.zeros(a)).assert_equals(qv.DoubleTensor(np.zeros(b)), title)
    assert str(info.value) == message


def test_assert_equals_argument_types():
    t = qv.DoubleTensor(np.zeros(2))
    with pytest.raises(TypeError):
        t.assert_equals(np.zeros(2), "t")
    with pytest.raises(TypeError):
        t.assert_equals(t)
    assert t.assert_equals(t, "t", 1) == 0.0


def test_class_surface():
    assert "first-order" in qv.DoubleTensor.__doc__
    assert qv.DoubleTensor.__module__ == "_pyquorvanelite_cppwrappers"
    members = {m for m in vars(qv.DoubleTensor) if not m.startswith("_")}
    assert members == {"to_numpy", "add_scalar", "assert_equals"}
    assert qv.DoubleTensor.assert_equals.__doc__.startswith(
        "assert_equals(self: _pyquorvanelite_cppwrappers.DoubleTensor, "
        "other: _pyquorvanelite_cppwrappers.DoubleTensor, title: str, eps: float = 1e-05, "
        "relative: bool = False) -> float\n")
    assert qv.DoubleTensor.add_scalar.__doc__.startswith(
        "add_scalar(self: _pyquorvanelite_cppwrappers.DoubleTensor, val: float) -> None\n")
