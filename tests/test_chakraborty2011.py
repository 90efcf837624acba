"""Chakraborty et al. (2011): four retention-curve water contents per equation
set, each a linear regression divided by 100."""
import numpy as np
import pytest

import _loamara as L
from ptfcheck import (assert_nan_dependence, assert_same_bits, assert_worked,
                      call)

WORKED = [
    (L.calc_ptf_chakraborty2011_eq1, (30, 30),
     ("0.2785", "0.22458", "0.16038", "0.13542")),
    (L.calc_ptf_chakraborty2011_eq2, (40, 0.5),
     ("0.259265", "0.182655", "0.173375", "0.124605")),
    (L.calc_ptf_chakraborty2011_eq3, (30, 30, 1.5),
     ("0.28576", "0.227285", "0.163575", "0.136165")),
    (L.calc_ptf_chakraborty2011_eq4, (30, 30, 40),
     ("0.27587", "0.22145", "0.15826", "0.13325")),
    (L.calc_ptf_chakraborty2011_eq5, (30, 30, 40, 1.5),
     ("0.280385", "0.22096", "0.158065", "0.131195")),
    (L.calc_ptf_chakraborty2011_eq6, (30, 30, 40, 0.5, 1.5),
     ("0.28217", "0.22525", "0.16004", "0.133275")),
    # All inputs 0: the intercepts divided by 100.
    (L.calc_ptf_chakraborty2011_eq2, (0, 0),
     (41.114 / 100, 30.16 / 100, 27.495 / 100, 19.32 / 100)),
    # Negative results are returned as computed.
    (L.calc_ptf_chakraborty2011_eq2, (200, 0),
     ("-0.34286", "-0.3584", "-0.21305", "-0.1808")),
]


@pytest.mark.parametrize("ufunc, args, expected", WORKED)
def test_worked_values(ufunc, args, expected):
    assert_worked(ufunc, args, expected)


def _regression(x, slopes, c0):
    """x1*c1 + x2*c2, further terms added in order, intercept last, / 100."""
    s = x[0] * slopes[0] + x[1] * slopes[1]
    for v, c in zip(x[2:], slopes[2:]):
        s = s + v * c
    s = s + c0
    return s / 100


# (ufunc, output index, slopes, intercept): the shortest and the longest form.
SHAPES = [
    (L.calc_ptf_chakraborty2011_eq2, 1, (-0.33, 2.611), 30.16),
    (L.calc_ptf_chakraborty2011_eq3, 0, (0.28, 0.481, -7.566), 17.095),
    (L.calc_ptf_chakraborty2011_eq6, 3,
     (0.017, -0.053, -0.184, 2.95, 2.327), 16.802),
]


@pytest.mark.parametrize("ufunc, j, slopes, c0", SHAPES)
def test_exact_order_of_operations(ufunc, j, slopes, c0):
    rng = np.random.default_rng(2011)
    x = rng.uniform(0.1, 60.0, size=(ufunc.nin, 300))
    got = call(ufunc, *x)[j]
    expected = [_regression([float(v) for v in col], slopes, c0)
                for col in x.T]
    assert_same_bits(got, expected)


@pytest.mark.parametrize("ufunc, base", [
    (L.calc_ptf_chakraborty2011_eq1, (30.0, 30.0)),
    (L.calc_ptf_chakraborty2011_eq4, (30.0, 30.0, 40.0)),
    (L.calc_ptf_chakraborty2011_eq6, (30.0, 30.0, 40.0, 0.5, 1.5)),
])
def test_nan_reaches_all_outputs(ufunc, base):
    assert_nan_dependence(ufunc, base, [{0, 1, 2, 3}] * len(base))
