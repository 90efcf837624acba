"""Ahuja (1984), Aimrun (2009) and Jabro (1992)."""
import math

import numpy as np
import pytest

import _loamara as L
from ptfcheck import assert_same_bits, assert_worked, call


def jabro_reference(silt, clay, bd):
    e = 9.56 - math.log10(silt) * 0.81
    e = e - math.log10(clay) * 1.09
    e = e - bd * 4.64
    return math.pow(10.0, e) * 2.777777777777778e-06


def aimrun_reference(x1, x2, x3, x4):
    s = x2 * 3.846
    s = s - 2.368
    s = s + x3 * 0.091
    s = s - math.log(x2) * 6.203
    s = s - math.log(x3) * 0.343
    s = s - math.log(x1) * 2.334
    s = s - math.log(x4) * 0.411
    return math.exp(s) * 1.1574074074074073e-05


def test_worked_values():
    assert_worked(L.calc_ptf_jabro1992, (40, 20, 1.4), ["6.193073e-06"])
    assert_worked(L.calc_ptf_aimrun2009, (0.05, 1.4, 10, 10), ["0.01395957"])
    assert_worked(L.calc_ptf_ahuja1984, (0.45, 0.30, 100, 2.5), ["0.8714213"])


def test_exact_order_of_operations():
    rng = np.random.default_rng(1)
    pts = rng.uniform(0.1, 60.0, (200, 4))
    got = call(L.calc_ptf_jabro1992, *pts[:, :3].T)[0]
    assert_same_bits(got, [jabro_reference(*p[:3]) for p in pts])
    got = call(L.calc_ptf_aimrun2009, *pts.T)[0]
    assert_same_bits(got, [aimrun_reference(*p) for p in pts])


@pytest.mark.parametrize("args, expected", [
    ((0.0, 20, 1.4), math.inf),      # log10(0) = -inf, exponent +inf
    ((40, 0.0, 1.4), math.inf),
    ((-1.0, 20, 1.4), math.nan),     # log10 of a negative number
    ((40, -1.0, 1.4), math.nan),
])
def test_jabro_logarithm_domain(args, expected):
    with np.errstate(all="ignore"):
        assert_same_bits(call(L.calc_ptf_jabro1992, *args)[0], expected)


@pytest.mark.parametrize("k", range(4))
def test_aimrun_zero_and_negative_inputs(k):
    base = [0.05, 1.4, 10.0, 10.0]
    with np.errstate(all="ignore"):
        zero = base.copy(); zero[k] = 0.0
        assert call(L.calc_ptf_aimrun2009, *zero)[0] == math.inf
        neg = base.copy(); neg[k] = -1.0
        assert np.isnan(call(L.calc_ptf_aimrun2009, *neg)[0])


def test_ahuja_follows_pow_rules():
    f = L.calc_ptf_ahuja1984
    with np.errstate(all="ignore"):
        assert call(f, 0.3, 0.3, 100, 2.5)[0] == 0.0
        assert call(f, 0.3, 0.3, 100, -1.5)[0] == math.inf
        assert np.isnan(call(f, 0.2, 0.3, 100, 2.5)[0])
        neg = call(f, 0.2, 0.3, 100, 3.0)[0]
        assert_same_bits(neg, math.pow(0.2 - 0.3, 3.0) * 100)
        assert neg < 0
        # Exponent 0: exactly B whatever the water contents, NaN included.
        got = call(f, [np.nan, 0.3, -5.0], [0.1, np.nan, 2.0], 12.5, 0.0)[0]
        assert_same_bits(got, [12.5, 12.5, 12.5])
        assert np.isnan(call(f, 0.45, 0.3, 100, np.nan)[0])
