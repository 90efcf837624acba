"""Saxton and Rawls (2006) soil water characteristics."""
import math

import numpy as np
import pytest

import _loamara as L
from ptfcheck import (LIBM, assert_matches_reference, assert_nan_dependence,
                      assert_rounds_to, assert_same_bits, assert_worked, call)

LN33, LN1500 = math.log(33.0), math.log(1500.0)


def reference_full(S, C, OM, m=math):
    """Step-by-step evaluation in the publication's order (Python floats, or
    arrays with m = LIBM)."""
    t1500 = (C * 0.487 - S * 0.024 + OM * 0.006 + S * 0.005 * OM
             - C * 0.013 * OM + S * 0.068 * C + 0.031)
    th1500 = t1500 * 0.14 + t1500 - 0.02
    t33 = (C * 0.195 - S * 0.251 + OM * 0.011 + S * 0.006 * OM
           - C * 0.027 * OM + S * 0.452 * C + 0.299)
    th33 = t33 * t33 * 1.283 + t33 - t33 * 0.374 - 0.015
    ts = (C * 0.034 + S * 0.278 + OM * 0.022 - S * 0.018 * OM
          - C * 0.027 * OM - S * 0.584 * C + 0.078)
    s33 = ts * 0.636 + ts - 0.107       # the corrected S-33 moisture
    ths = s33 + th33 - S * 0.097 + 0.043
    pet = (S * -21.67 - C * 27.93 - s33 * 81.97 + S * 71.12 * s33
           + C * 8.29 * s33 + S * 14.05 * C + 27.16)
    pe = pet * pet * 0.02 + pet - pet * 0.113 - 0.7
    B = (LN1500 - LN33) / (m.log(th33) - m.log(th1500))
    A = m.exp(B * m.log(th33) + LN33)
    ks = m.pow(ths - th33, 3 - 1 / B) * 1930
    return [th1500, th33, ths, th33 - th1500, pe, A, B, 1 / B, ks,
            (1 - ths) * 2.65]


def reference_density(rho_n, ths, th33, df):
    rho_df = df * rho_n
    ths_df = 1 - rho_df / 2.65
    th33_df = th33 - (ths - ths_df) * 0.2
    return [rho_df, ths_df, th33_df, LIBM.fmax(ths_df - th33_df, 0.005)]


def reference_tension_dry(theta, th1500, th33):
    B = (LN1500 - LN33) / (LIBM.log(th33) - LIBM.log(th1500))
    return [LIBM.pow(theta, -B) * LIBM.exp(B * LIBM.log(th33) + LN33)]


@pytest.mark.parametrize("ufunc, reference", [
    (L.calc_ptf_saxton2006, lambda *x: reference_full(*x, m=LIBM)),
    (L.calc_ptf_saxton2006_density, reference_density),
    (L.calc_ptf_saxton2006_tension_dry, reference_tension_dry),
])
def test_edge_inputs_match_stepwise_reference(ufunc, reference):
    assert_matches_reference(ufunc, reference)


@pytest.mark.parametrize("args, expected", [
    ((0.4, 0.2, 2.5), ["0.137024", "0.279610", "0.459478", "0.142587",
                       "4.14725", "0.0360499", "5.35121", "0.186874",
                       "15.4757", "1.43238"]),
    ((0.0, 0.0, 0.0), ["0.0153400", "0.286875", "0.350483", "0.271535",
                       "34.8678", "6.48256", "1.30326", "0.767305",
                       "4.11305", "1.72122"]),
])
def test_full_set_worked(args, expected):
    assert_worked(L.calc_ptf_saxton2006, args, expected)


@pytest.mark.parametrize("args, psi_e", [
    # Computed from the published equations with the corrected S-33
    # moisture: 4.15, 5.33, 14.43 and -0.96 kPa for these textures.
    ((0.4, 0.2, 2.5), "4.15"), ((0.25, 0.5, 2.5), "5.33"),
    ((0.1, 0.05, 2.5), "14.43"), ((0.88, 0.05, 2.5), "-0.96"),
])
def test_air_entry_from_corrected_moisture(args, psi_e):
    # A negative tension of a very sandy soil is kept, not clamped.
    assert_rounds_to(call(L.calc_ptf_saxton2006, *args)[4], psi_e)


def test_full_set_exact_order():
    args = (0.73, 0.11, 4.2)
    assert_worked(L.calc_ptf_saxton2006, args, reference_full(*args))


def test_density_worked_and_floor():
    assert_worked(L.calc_ptf_saxton2006_density, (1.43, 0.46, 0.28, 1.1),
                  ["1.573", "0.406415", "0.269283", "0.137132"])
    # Adjusted difference below the floor, and a NaN difference: both 0.005.
    for t33 in (0.415, np.nan):
        d = call(L.calc_ptf_saxton2006_density, 1.43, 0.46, t33, 1.1)[3]
        assert_same_bits(d, 0.005)


def test_tension_curves_meet_their_anchors():
    th1500, th33, ths, _, pe = reference_full(0.4, 0.2, 2.5)[:5]
    dry = L.calc_ptf_saxton2006_tension_dry
    assert call(dry, th33, th1500, th33)[0] == pytest.approx(33, rel=1e-12)
    assert call(dry, th1500, th1500, th33)[0] == pytest.approx(1500, rel=1e-12)
    wet = L.calc_ptf_saxton2006_tension_wet
    assert_same_bits(call(wet, th33, th33, ths, pe)[0], 33.0)
    assert call(wet, ths, th33, ths, pe)[0] == pytest.approx(pe, rel=1e-12)
    assert_same_bits(call(wet, 0.4, th33, ths, pe)[0],
                     33 - ((33 - pe) * (0.4 - th33)) / (ths - th33))


def test_conductivity():
    k = L.calc_ptf_saxton2006_conductivity
    assert_same_bits(call(k, 0.46, 0.46, 15.4757, 0.19)[0], 15.4757)


def test_gravel():
    g = L.calc_ptf_saxton2006_gravel
    assert_worked(g, (0.0, 1.5, 0.14, 12.0), [0.0, 1.5, 0.14, 12.0])
    assert_worked(g, (1.0, 1.5, 0.14, 12.0), [1.0, 2.65, 0.0, 0.0])
    rw, rho, aw, ks = 0.3, 1.45, 0.14, 12.0
    a = rho / 2.65
    rv = (a * rw) / (1 - (1 - a) * rw)
    assert_worked(g, (rw, rho, aw, ks), [
        rv, (1 - rv) * rho + rv * 2.65, (1 - rv) * aw,
        ((1 - rv) * ks) / (1 - (1 - a * 3 * 0.5) * rv)])


def test_salinity():
    assert_worked(L.calc_ptf_saxton2006_salinity, (2.0, 0.3, 0.45),
                  [72.0, (0.45 / 0.3) * 72.0])


ALL = {0, 1, 2, 3}


@pytest.mark.parametrize("ufunc, base, uses", [
    (L.calc_ptf_saxton2006, (0.4, 0.2, 2.5), [set(range(10))] * 3),
    # Base point on the floor, so the fourth output stays 0.005 throughout.
    (L.calc_ptf_saxton2006_density, (1.43, 0.46, 0.415, 1.1),
     [{0, 1, 2}, {2}, {2}, {0, 1, 2}]),
    (L.calc_ptf_saxton2006_tension_dry, (0.2, 0.137, 0.28), [{0}] * 3),
    (L.calc_ptf_saxton2006_tension_wet, (0.4, 0.28, 0.46, 4.3), [{0}] * 4),
    (L.calc_ptf_saxton2006_conductivity, (0.3, 0.46, 15.0, 0.19), [{0}] * 4),
    (L.calc_ptf_saxton2006_gravel, (0.3, 1.45, 0.14, 12.0),
     [ALL, ALL, {2}, {3}]),
    (L.calc_ptf_saxton2006_salinity, (2.0, 0.3, 0.45), [{0, 1}, {1}, {1}]),
])
def test_nan_dependence(ufunc, base, uses):
    assert_nan_dependence(ufunc, base, uses)
