import math

import numpy as np
import pytest

import _loamara
from ptfcheck import assert_nan_dependence, assert_same_bits, assert_worked, call

WANG = _loamara.calc_ptf_wang2012
WEBER = _loamara.calc_ptf_weber2020
WANG_BASE = (20.0, 30.0, 50.0, 1.4, 1.0, 50.0)
WEBER_BASE = (0.05, 0.45, 0.02, 1.5, 0.5, 30.0)
# Points at which kday / 8640000 and kday * (1 / 8640000) are different doubles.
WANG_DIVISION_POINTS = [(25.0, 30.0, 50.0, 1.4, 1.0, 30.0),
                        (12.0, 30.0, 50.0, 1.4, 1.0, 40.0)]


def wang_kday(x0, x1, x2, x3, x4, x5):
    t = x4 * 10
    return math.pow(10.0, x1 * 0.038 + 1.173 + math.log10(x0) * 0.69 + 0.865 / x0
                    - x3 * 0.03 * x1 - t * 0.00000995 * x5)


def wang_reference(x0, x1, x2, x3, x4, x5):
    t = x4 * 10
    lg0, lg2, lgt = math.log10(x0), math.log10(x2), math.log10(t)
    wa = (98.813 - 21.555 / x3 - 39.735 / x1 - 2.091 / x0 + 3.247 / t
          - x3 * x3 * 17.096) / 100
    wb = (46.481 - t * 4.757 - lg2 * 14.028 - lg0 * 13.991 + lgt * 42.261
          - 11.763 / x0 + 19.198 / t - x3 * x3 * 5.448 + t * t * 0.044
          + x3 * 1.975 * t) / 100
    return wa, wb, wang_kday(x0, x1, x2, x3, x4, x5) / 8640000


def test_wang_worked_value():
    assert_worked(WANG, WANG_BASE, ["0.488041", "0.218397", "1.12842e-05"])


@pytest.mark.parametrize("args", [WANG_BASE] + WANG_DIVISION_POINTS)
def test_wang_matches_stepwise_reference(args):
    assert_same_bits(np.array(call(WANG, *args)), np.array(wang_reference(*args)))


@pytest.mark.parametrize("args", WANG_DIVISION_POINTS)
def test_wang_points_separate_division_from_reciprocal(args):
    kday = wang_kday(*args)
    assert kday / 8640000 != kday * (1 / 8640000)


def test_wang_zero_x0():
    with np.errstate(all="ignore"):
        wa, wb, ksat = call(WANG, 0.0, 30.0, 50.0, 1.4, 1.0, 50.0)
    assert wa == -np.inf and np.isnan(wb) and np.isnan(ksat)


def test_wang_nan_dependence():
    assert_nan_dependence(WANG, WANG_BASE, [{0, 1, 2}, {0, 2}, {1}, {0, 1, 2},
                                            {0, 1, 2}, {2}])


def test_weber_worked_value():
    assert_worked(WEBER, WEBER_BASE, ["0.06267", "0.38607", "0.0201472",
                                      "1.60721", 0.0295, "48.0561", "0.0190546"])


def test_weber_matches_stepwise_reference():
    x0, x1, x2, x3, x4, x5 = 0.31, 0.12, 0.7, 2.3, -0.4, 12.5
    y0 = x0 * 1.285 - 0.00158
    want = [y0, x1 * 0.993 + 0.00189 - y0,  # y1 subtracts y0, not x0
            math.pow(10.0, math.log10(x2) * 0.986 - 0.0206),
            math.pow(10.0, math.log10(x3 - 1) * 0.933 + 0.0642) + 1,
            x4 * 1.833 + 0.0295,
            math.pow(10.0, math.log10(x5) * 1.06 + 0.116),
            math.pow(10.0, -1.72)]
    assert_same_bits(np.array(call(WEBER, x0, x1, x2, x3, x4, x5)), np.array(want))


@pytest.mark.parametrize("x4", [np.nan, 0.0, -0.0, 0.5, 1e300, np.inf])
def test_weber_non_negative_or_nan_x4_gives_intercept(x4):
    args = list(WEBER_BASE)
    args[4] = x4
    assert_same_bits(call(WEBER, *args)[4], 0.0295)


@pytest.mark.parametrize("x3, y3", [(1.0, 1.0), (0.5, np.nan)])
def test_weber_shape_parameter_at_and_below_one(x3, y3):
    args = list(WEBER_BASE)
    args[3] = x3
    with np.errstate(all="ignore"):
        assert_same_bits(call(WEBER, *args)[3], y3)


def test_weber_constant_output_every_element():
    a = np.array([0.05, np.nan, -3.0, 0.0, 1e308])
    with np.errstate(all="ignore"):
        outs = call(WEBER, a, a, a, a, a, a)
    assert_same_bits(outs[6], np.full(5, math.pow(10.0, -1.72)))
    assert all(o.shape == (0,) for o in call(WEBER, *[np.empty(0)] * 6))


def test_weber_nan_dependence():
    assert_nan_dependence(WEBER, WEBER_BASE, [{0, 1}, {1}, {2}, {3}, set(), {5}])
