"""Beniaich et al. (2023): simple and multiple linear regressions of the water
content at saturation, field capacity and wilting point."""
import numpy as np
import pytest

import _loamara as L
from ptfcheck import (assert_nan_dependence, assert_same_bits, assert_worked,
                      call)

WORKED = [
    # Every predictor 0: each output is c0 / 100.
    (L.calc_ptf_beniaich2023_slr1, (0.0,), ("0.46307", "0.10277", "0.03081")),
    (L.calc_ptf_beniaich2023_mlr5, (0.0, 0.0, 0.0),
     (32.505 / 100, -0.094 / 100, -3.623 / 100)),
    # slr5 with x1 = 0 and x2 non-zero: ratio 0.
    (L.calc_ptf_beniaich2023_slr5, (0.0, 7.0),
     (68.851 / 100, 23.278 / 100, 16.298 / 100)),
    # Worked value at x1 = 30.
    (L.calc_ptf_beniaich2023_slr1, (30.0,), ("0.62987", "0.21227", "0.12891")),
]


@pytest.mark.parametrize("ufunc, args, expected", WORKED)
def test_worked_values(ufunc, args, expected):
    assert_worked(ufunc, args, expected)


def _regression(coefs, predictors):
    """c0 + c1 * p1, further terms added in order, then divided by 100."""
    s = coefs[0] + coefs[1] * predictors[0]
    for c, p in zip(coefs[2:], predictors[1:]):
        s = s + c * p
    return s / 100


# One row of each formula shape: (ufunc, predictor from the inputs,
# coefficients of saturation, field capacity and wilting point).
SHAPES = [
    (L.calc_ptf_beniaich2023_slr3, lambda x: (x[0],),
     [(81.42, -0.427), (34.68, -0.324), (23.927, -0.257)]),
    (L.calc_ptf_beniaich2023_slr4, lambda x: (x[0] + x[1],),
     [(89.401, -0.298), (45.178, -0.29), (29.265, -0.187)]),
    (L.calc_ptf_beniaich2023_slr5, lambda x: (x[0] / x[1],),
     [(68.851, -0.546), (23.278, 1.819), (16.298, -0.244)]),
    (L.calc_ptf_beniaich2023_mlr2, lambda x: (x[0], x[1]),
     [(75.366, -0.417, 2.219), (32.227, -0.32, 0.899),
      (22.421, -0.254, 0.552)]),
    (L.calc_ptf_beniaich2023_mlr1, lambda x: (x[0], x[1], x[2]),
     [(87.342, -0.281, -0.548, 2.377), (35.844, -0.085, -0.359, 0.947),
      (28.734, -0.148, -0.324, 0.636)]),
]


@pytest.mark.parametrize("ufunc, predictors, coefs", SHAPES)
def test_exact_order_of_operations(ufunc, predictors, coefs):
    rng = np.random.default_rng(2023)
    x = rng.uniform(0.5, 60.0, size=(ufunc.nin, 300))
    outs = call(ufunc, *x)
    for j in range(3):
        expected = [_regression(coefs[j], predictors([float(v) for v in col]))
                    for col in x.T]
        assert_same_bits(outs[j], expected)


def test_slr4_sum_is_symmetric():
    a = call(L.calc_ptf_beniaich2023_slr4, 10.0, 20.0)
    b = call(L.calc_ptf_beniaich2023_slr4, 20.0, 10.0)
    for u, v in zip(a, b):
        assert_same_bits(u, v)


def test_slr5_zero_denominator():
    with np.errstate(invalid="ignore", divide="ignore"):
        nan_outs = call(L.calc_ptf_beniaich2023_slr5, 0.0, 0.0)
        inf_outs = call(L.calc_ptf_beniaich2023_slr5, 3.0, 0.0)
    assert all(np.isnan(v) for v in nan_outs)
    # An infinite ratio follows the sign of each output's slope.
    assert [float(v) for v in inf_outs] == [-np.inf, np.inf, -np.inf]


@pytest.mark.parametrize("ufunc, base", [
    (L.calc_ptf_beniaich2023_slr1, (12.0,)),
    (L.calc_ptf_beniaich2023_slr5, (12.0, 3.0)),
    (L.calc_ptf_beniaich2023_mlr1, (12.0, 30.0, 1.5)),
    (L.calc_ptf_beniaich2023_mlr4, (12.0, 1.5)),
])
def test_nan_reaches_all_outputs(ufunc, base):
    assert_nan_dependence(ufunc, base, [{0, 1, 2}] * len(base))
