"""Pidgeon (1972): multiple linear regressions for soil water."""
import numpy as np
import pytest

import _loamara as L
from ptfcheck import assert_nan_dependence, assert_same_bits, assert_worked, call

P = "calc_ptf_pidgeon1972_"

# Every equation with its number of inputs and intercept c0.
INTERCEPTS = [
    ("fc", 3, 7.38),
    ("fc_sand", 1, 36.16),
    ("fc_sand_organic_matter", 2, 34.27),
    ("fc_vol_sand_organic_matter", 2, 38.15),
    ("pwp", 3, -4.19),
    ("pwp_sand", 1, 28.41),
    ("pwp_sand_organic_matter", 2, 32.9),
    ("awc", 2, 169.3),
    ("awc_sand_organic_matter", 2, 1.0),
    ("awc_coarse_sand", 1, 68.5),
    ("awc_fine_sand", 1, 66.7),
    ("awc_very_fine_sand", 1, 66.9),
    ("eawc", 3, 121.1),
    ("eawc_sand", 1, -25.8),
    ("eawc_sand_organic_matter", 2, -10.8),
    ("eawc_coarse_sand_organic_matter", 2, -7.4),
    ("eawc_fine_sand_organic_matter", 2, -18.0),
]


def plane(c, x):
    """c0 + c1*x1, then + c2*x2, then + c3*x3, each product rounded first."""
    s = c[0] + c[1] * x[0]
    for ck, xk in zip(c[2:], x[1:]):
        s = s + ck * xk
    return s


def test_field_capacity_is_just_below_22_66():
    got = call(L.calc_ptf_pidgeon1972_fc, 20, 30, 2)[0]
    assert got == 22.659999999999997
    assert got == np.nextafter(22.66, 0)


def test_easily_available_water_is_not_clamped_at_zero():
    # Negative below 25.8 / 1.55 (about 16.65 %) sand.
    assert_worked(L.calc_ptf_pidgeon1972_eawc_sand, (16,), ["-1.0"])
    assert call(L.calc_ptf_pidgeon1972_eawc_sand, 16.6)[0] < 0
    assert call(L.calc_ptf_pidgeon1972_eawc_sand, 16.7)[0] > 0


@pytest.mark.parametrize("variant, nin, c0", INTERCEPTS)
def test_zero_inputs_return_the_intercept(variant, nin, c0):
    f = getattr(L, P + variant)
    assert f.nin == nin
    assert_same_bits(call(f, *([0.0] * nin))[0], c0)
    assert_nan_dependence(f, [10.0] * nin, [{0}] * nin)


# One equation per number of inputs; negative coefficients included.
@pytest.mark.parametrize("variant, c", [
    ("eawc", (121.1, -3.03, -1.38, 6.76)),
    ("pwp", (-4.19, 0.19, 0.39, 0.9)),
    ("fc_vol_sand_organic_matter", (38.15, -0.17, 0.77)),
    ("awc_fine_sand", (66.7, 2.66)),
])
def test_exact_order_of_operations(variant, c):
    nin = len(c) - 1
    x = np.random.default_rng(5).uniform(0, 60, (nin, 300))
    got = call(getattr(L, P + variant), *x)[0]
    assert_same_bits(got, [plane(c, p) for p in x.T])
