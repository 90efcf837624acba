"""Oosterveld and Chang (1980), Dijkerman (1988) and Myeni et al. (2021)."""
import math

import numpy as np
import pytest

import _loamara as L
from ptfcheck import (assert_nan_dependence, assert_same_bits, assert_worked,
                      call)

WORKED = [
    # clay 30, sand 40, depth 15 (and suction 33 kPa)
    (L.calc_ptf_oosterveld1980_retention, (30, 40, 15, 33), ("22.62865",)),
    (L.calc_ptf_oosterveld1980_field_capacity, (30, 40, 15), ("24.32330",)),
    (L.calc_ptf_oosterveld1980_wilting_point, (30, 40, 15), ("11.405",)),
    (L.calc_ptf_oosterveld1980_available_water, (30, 40, 15), ("12.91830",)),
    (L.calc_ptf_oosterveld1980_field_capacity_tension, (30,), ("22.42",)),
    (L.calc_ptf_oosterveld1980_field_capacity_tension, (0,), (0.0,)),
    (L.calc_ptf_oosterveld1980_wilting_point, (0, 0, 0), (4.035,)),
    (L.calc_ptf_myeni2021_fc, (30, 20, 1), ("0.213",)),
    (L.calc_ptf_myeni2021_pwp, (30, 20, 1), ("0.117",)),
    (L.calc_ptf_myeni2021_fc, (0, 0, 0), (0.014,)),
    (L.calc_ptf_myeni2021_pwp, (0, 0, 0), (0.0,)),
    (L.calc_ptf_dijkerman1988, (0, 0), (0.74, 36.97)),
    (L.calc_ptf_dijkerman1988, (30, 40), ("12.44", "22.97")),
    (L.calc_ptf_dijkerman1988_available_water, (0, 0), (1.23,)),
    (L.calc_ptf_dijkerman1988_available_water, (30, 30), ("10.53",)),
    # Not clamped: field capacity below zero for sand above about 105.6.
    (L.calc_ptf_dijkerman1988, (0, 106), (0.74, "-0.13")),
]


@pytest.mark.parametrize("ufunc, args, expected", WORKED)
def test_worked_values(ufunc, args, expected):
    assert_worked(ufunc, args, expected)


@pytest.mark.parametrize("ufunc, args, expected", [
    (L.calc_ptf_oosterveld1980_field_capacity_tension, (-5,), np.nan),
    (L.calc_ptf_oosterveld1980_retention, (30, 40, 15, 0), np.inf),
    # A negative bracket gives an infinity of its sign at suction 0.
    (L.calc_ptf_oosterveld1980_retention, (0, 200, 15, 0), -np.inf),
    (L.calc_ptf_oosterveld1980_retention, (30, 40, 15, -1), np.nan),
    (L.calc_ptf_oosterveld1980_field_capacity, (0, 40, 15), np.inf),
    (L.calc_ptf_oosterveld1980_field_capacity, (-1, 40, 15), np.nan),
    (L.calc_ptf_oosterveld1980_available_water, (0, 40, 15), np.inf),
    (L.calc_ptf_oosterveld1980_available_water, (-1, 40, 15), np.nan),
])
def test_pow_domain_edges(ufunc, args, expected):
    with np.errstate(divide="ignore", invalid="ignore"):
        (got,) = call(ufunc, *args)
    if np.isnan(expected):
        assert np.isnan(got)
    else:
        assert got == expected


def _retention(c, s, d, h):
    f = math.pow(h, -0.19)
    w = c * 0.644 + 35.367
    w = w - s * 0.251
    w = w - d * 0.045
    return f * w


def _field_capacity(c, s, d):
    f = math.pow(c, -0.08)
    w = c * 0.469 + 25.713
    w = w - s * 0.184
    w = w - d * 0.0329
    return f * w


def _myeni_fc(x1, x2, x3):
    s = x1 * 0.005 + 0.014
    s = s + x3 * 0.009
    return s + x2 * 0.002


def _myeni_pwp(x1, x2, x3):
    s = x2 * 0.001 + x1 * 0.003
    return s + x3 * 0.007


def _dijkerman_available_water(clay, silt):
    s = 1.23 - clay * 0.04
    return s + silt * 0.35


def _points(n):
    rng = np.random.default_rng(1980)
    return rng.uniform(0.5, 60.0, size=(n, 300))


@pytest.mark.parametrize("ufunc, reference", [
    (L.calc_ptf_oosterveld1980_retention, _retention),
    (L.calc_ptf_oosterveld1980_field_capacity, _field_capacity),
    (L.calc_ptf_oosterveld1980_field_capacity_tension,
     lambda c: math.pow(c, 0.421) * 5.356),
    (L.calc_ptf_myeni2021_fc, _myeni_fc),
    (L.calc_ptf_myeni2021_pwp, _myeni_pwp),
    (L.calc_ptf_dijkerman1988_available_water, _dijkerman_available_water),
])
def test_exact_order_of_operations(ufunc, reference):
    x = _points(ufunc.nin)
    (got,) = call(ufunc, *x)
    expected = [reference(*(float(v) for v in col)) for col in x.T]
    assert_same_bits(got, expected)


def test_oosterveld_available_water_is_fc_minus_wp_bit_for_bit():
    c, s, d = _points(3)
    (fc,) = call(L.calc_ptf_oosterveld1980_field_capacity, c, s, d)
    (wp,) = call(L.calc_ptf_oosterveld1980_wilting_point, c, s, d)
    (aw,) = call(L.calc_ptf_oosterveld1980_available_water, c, s, d)
    assert_same_bits(aw, fc - wp)


def test_dijkerman_available_water_agrees_with_fc_minus_wp_up_to_rounding():
    rng = np.random.default_rng(1988)
    clay = rng.uniform(0.0, 60.0, 1000)
    silt = rng.uniform(0.0, 100.0 - clay)
    sand = 100.0 - clay - silt
    wp, fc = call(L.calc_ptf_dijkerman1988, clay, sand)
    (aw,) = call(L.calc_ptf_dijkerman1988_available_water, clay, silt)
    np.testing.assert_allclose(aw, fc - wp, rtol=0, atol=1e-14)
    assert np.any(aw != fc - wp)


@pytest.mark.parametrize("ufunc, base, uses", [
    (L.calc_ptf_dijkerman1988, (30.0, 40.0), [{0}, {1}]),
    (L.calc_ptf_dijkerman1988_available_water, (30.0, 30.0), [{0}, {0}]),
    (L.calc_ptf_oosterveld1980_retention, (30.0, 40.0, 15.0, 33.0),
     [{0}] * 4),
    (L.calc_ptf_oosterveld1980_available_water, (30.0, 40.0, 15.0),
     [{0}] * 3),
    (L.calc_ptf_myeni2021_fc, (30.0, 20.0, 1.0), [{0}] * 3),
    (L.calc_ptf_myeni2021_pwp, (30.0, 20.0, 1.0), [{0}] * 3),
])
def test_nan_dependence(ufunc, base, uses):
    assert_nan_dependence(ufunc, base, uses)
