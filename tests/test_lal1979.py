"""Lal (1979): straight-line regressions for soil groups I and II."""
import math

import numpy as np
import pytest

import _loamara as L
from ptfcheck import assert_nan_dependence, assert_same_bits, assert_worked, call

P = "calc_ptf_lal1979_group_"

# Every equation with its intercept a, the value at x = 0.
INTERCEPTS = [
    ("i_water_0bar_from_clay", 0.289),
    ("i_water_0bar_from_sand", 0.579),
    ("ii_water_0bar_from_clay", 0.296),
    ("ii_water_0bar_from_sand", 0.645),
    ("i_water_01bar_from_clay", 0.102),
    ("i_water_03bar_from_clay", 0.065),
    ("i_water_01bar_from_sand", 0.364),
    ("i_water_03bar_from_sand", 0.334),
    ("ii_water_01bar_from_clay", 0.08),
    ("ii_water_03bar_from_clay", 0.047),
    ("ii_water_01bar_from_sand", 0.406),
    ("ii_water_03bar_from_sand", 0.349),
    ("i_water_15bar_from_clay", 0.006),
    ("i_water_15bar_from_sand", 0.247),
    ("i_water_15bar_from_silt", 0.053),
    ("ii_water_15bar_from_clay", 0.025),
    ("ii_water_15bar_from_sand", 0.284),
    ("i_moisture_equivalent_from_clay", 0.052),
    ("i_moisture_equivalent_from_sand", 0.339),
    ("ii_moisture_equivalent_from_clay", 0.057),
    ("ii_moisture_equivalent_from_sand", 0.284),
    ("ii_moisture_equivalent_from_silt", 0.175),
    ("ii_water_03bar_from_water_01bar", -0.014),
    ("ii_water_15bar_from_water_01bar", -0.005),
    ("i_upper_plastic_limit_from_organic_carbon", 31.73),
    ("i_lower_plastic_limit_from_organic_carbon", 24.73),
    ("i_plasticity_index_from_organic_carbon", 7.42),
    ("i_upper_plastic_limit_from_clay", 11.48),
    ("i_lower_plastic_limit_from_clay", 9.5),
    ("i_plasticity_index_from_clay", 2.48),
    ("i_lower_plastic_limit_from_sand", 35.5),
    ("i_plasticity_index_from_sand", 11.0),
    ("ii_upper_plastic_limit_from_organic_carbon", 32.2),
    ("ii_plasticity_index_from_organic_carbon", 12.7),
    ("ii_upper_plastic_limit_from_clay", 24.59),
    ("ii_lower_plastic_limit_from_clay", 14.64),
    ("ii_upper_plastic_limit_from_sand", 40.41),
    ("ii_lower_plastic_limit_from_sand", 29.88),
    ("ii_upper_plastic_limit_from_silt", 28.24),
    ("ii_lower_plastic_limit_from_silt", 16.16),
    ("ii_plasticity_index_from_silt", 12.08),
]


def ufunc(variant):
    return getattr(L, P + variant)


@pytest.mark.parametrize("variant, x, expected", [
    ("i_water_0bar_from_clay", 30, "0.409"),
    ("ii_water_03bar_from_water_01bar", 0.3, "0.244"),
    ("ii_moisture_equivalent_from_silt", 40, "-0.025"),
    ("i_plasticity_index_from_organic_carbon", 6, "-0.02"),
    # Group I at organic carbon 1 %: the plasticity index is its own
    # regression, not the difference of the two limits (5.84).
    ("i_upper_plastic_limit_from_organic_carbon", 1, "26.33"),
    ("i_lower_plastic_limit_from_organic_carbon", 1, "20.49"),
    ("i_plasticity_index_from_organic_carbon", 1, "6.18"),
])
def test_worked_values(variant, x, expected):
    assert_worked(ufunc(variant), (x,), [expected])


@pytest.mark.parametrize("variant, a", INTERCEPTS)
def test_zero_input_returns_the_intercept(variant, a):
    assert_same_bits(call(ufunc(variant), 0.0)[0], a)
    assert_nan_dependence(ufunc(variant), [10.0], [{0}])


def test_moisture_equivalent_from_silt_is_not_rounded_to_zero():
    got = call(L.calc_ptf_lal1979_group_ii_moisture_equivalent_from_silt, 35)[0]
    assert_same_bits(got, 0.175 + (-0.005) * 35)
    assert -3e-17 < got < -2.7e-17


# y = a + b * x, the product rounded first; a positive and a negative slope.
@pytest.mark.parametrize("variant, a, b", [
    ("ii_water_01bar_from_sand", 0.406, -0.0035),
    ("ii_lower_plastic_limit_from_silt", 16.16, 0.67),
])
def test_exact_order_of_operations(variant, a, b):
    x = np.random.default_rng(3).uniform(-10, 110, 300)
    assert_same_bits(call(ufunc(variant), x)[0], [a + b * v for v in x])


def test_infinite_input_follows_the_sign_of_the_slope():
    got = call(L.calc_ptf_lal1979_group_i_water_0bar_from_clay, [np.inf, -np.inf])
    assert_same_bits(got[0], [math.inf, -math.inf])
    got = call(L.calc_ptf_lal1979_group_i_water_0bar_from_sand, [np.inf, -np.inf])
    assert_same_bits(got[0], [-math.inf, math.inf])


@pytest.mark.parametrize("variant", [
    "i_upper_plastic_limit_from_sand",
    "ii_plasticity_index_from_clay",
    "ii_lower_plastic_limit_from_organic_carbon",
    "ii_water_15bar_from_silt",
])
def test_unlisted_equations_do_not_exist(variant):
    assert not hasattr(L, P + variant)
