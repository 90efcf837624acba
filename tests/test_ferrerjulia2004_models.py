import math

import numpy as np
import pytest

import _loamara
from ptfcheck import (LIBM, assert_matches_reference, assert_nan_dependence,
                      assert_rounds_to, assert_same_bits, assert_worked, call)

CAMPBELL = _loamara.calc_ptf_ferrerjulia2004_campbell_shiozawa
SAXTON = _loamara.calc_ptf_ferrerjulia2004_saxton
DANE = _loamara.calc_ptf_ferrerjulia2004_dane_puckett
PUCKETT = _loamara.calc_ptf_ferrerjulia2004_puckett
COSBY = _loamara.calc_ptf_ferrerjulia2004_cosby


def cosby_reference(sand, clay):
    # Cosby et al. (1984) in in/h, times 25.4 mm per inch.
    e = sand * 0.012
    e = e - 0.6
    e = e - clay * 0.0064
    return math.pow(10.0, e) * 25.4


def saxton_reference(sand, clay, m=math):
    q = sand * 0.03671 - 3.895 - clay * 0.1103 + (clay * clay) * 0.00087546
    d = m.log10(clay) * 0.176 + (0.33 - sand * 0.000751)
    return m.exp(1.01 - sand * 0.0755 + q / d) * 10


@pytest.mark.parametrize("ufunc, args, expected", [
    (CAMPBELL, (40.0, 20.0), "0.116366"),
    (SAXTON, (40.0, 20.0), "0.000408255"),
    (DANE, (20.0,), "17.056"),
    (PUCKETT, (20.0,), "3.02222"),
    (COSBY, (40.0, 20.0), "14.3494"),
    (CAMPBELL, (0.0, 0.0), 54.0),
    (DANE, (0.0,), 303.84),
    (PUCKETT, (0.0,), 156.96),
])
def test_worked_values(ufunc, args, expected):
    assert_worked(ufunc, args, [expected])


@pytest.mark.parametrize("sand, clay", [(83.0, 7.0), (12.5, 41.0)])
def test_cosby_is_power_of_ten_times_25_4(sand, clay):
    assert_same_bits(call(COSBY, sand, clay)[0], cosby_reference(sand, clay))


def test_cosby_converts_inches_per_hour_by_multiplying():
    # 25.4 mm per inch multiplies the power of ten; it is not added, so the
    # result can fall below 25.4.
    assert_same_bits(call(COSBY, 40.0, 20.0)[0], math.pow(10.0, -0.248) * 25.4)
    assert_same_bits(call(COSBY, 0.0, 0.0)[0], math.pow(10.0, -0.6) * 25.4)


@pytest.mark.parametrize("sand, clay", [(40.0, 20.0), (12.5, 37.0)])
def test_saxton_matches_stepwise_reference(sand, clay):
    assert_same_bits(call(SAXTON, sand, clay)[0], saxton_reference(sand, clay))


def test_saxton_edge_inputs_match_stepwise_reference():
    assert_matches_reference(
        SAXTON, lambda sand, clay: [saxton_reference(sand, clay, LIBM)])


def test_saxton_zero_and_negative_clay():
    with np.errstate(all="ignore"):
        zero, negative = call(SAXTON, [50.0, 50.0], [0.0, -1.0])[0]
    assert_same_bits(zero, math.exp(1.01 - 50.0 * 0.0755) * 10)
    assert_rounds_to(zero, "0.629761")
    assert np.isnan(negative)


@pytest.mark.parametrize("ufunc, reference", [
    (CAMPBELL, lambda silt, clay: [
        LIBM.exp(silt * -0.07 - clay * 0.167) * 54]),
    (DANE, lambda clay: [LIBM.exp(clay * -0.144) * 303.84]),
    (PUCKETT, lambda clay: [LIBM.exp(clay * -0.1975) * 156.96]),
])
def test_exponential_methods_on_edge_inputs(ufunc, reference):
    assert_matches_reference(ufunc, reference)


def test_campbell_shiozawa_matches_stepwise_reference():
    silt, clay = 33.0, 17.0
    assert_same_bits(call(CAMPBELL, silt, clay)[0],
                     math.exp(silt * -0.07 - clay * 0.167) * 54)


@pytest.mark.parametrize("ufunc, base", [
    (CAMPBELL, (40.0, 20.0)), (SAXTON, (40.0, 20.0)), (DANE, (20.0,)),
    (PUCKETT, (20.0,)), (COSBY, (40.0, 20.0)),
])
def test_nan_reaches_result(ufunc, base):
    assert_nan_dependence(ufunc, base, [{0}] * len(base))
