"""Curves from PTF results: the catalog's curve models evaluated at any
suction, agreeing with the PTFs' own point estimates."""
import numpy as np
import pytest

import _loamara
import loamara
from loamara import _curves
from loamara.curves import CurveError, curve
from ptfcheck import assert_same_bits

pytest.importorskip("pint")

LOAM = dict(sand=40.0, silt=40.0, clay=20.0)
H_KPA = np.array([0.0, 1.0, 3.0, 10.0, 33.0, 100.0, 500.0, 1500.0])


def results():
    pct = {"sand": "%", "clay": "%"}
    return {
        "saxton2006": loamara.estimate("saxton2006", sand=40, clay=20, om=2.0,
                                       units=pct),
        "vereecken1989": loamara.estimate("vereecken1989", sand=40, clay=20,
                                          oc=1.16, bd=1.4, units=pct),
        "cosby1984": loamara.estimate("cosby1984_univariate", **LOAM),
        "clapp1978": loamara.estimate("clapp1978", **LOAM),
    }


def test_saxton_curve_passes_through_its_own_point_estimates():
    r = results()["saxton2006"]
    theta = curve(r, H_KPA)
    assert theta[0] == r.theta_s  # saturation at h = 0
    assert_same_bits(theta[4], r.theta_33)  # the linear segment at 33 kPa
    assert theta[7] == pytest.approx(r.theta_1500, rel=1e-14)
    # K(h) is Saxton and Rawls' own K(theta) at theta(h).
    k = curve(r, H_KPA, "k")
    assert_same_bits(k, _loamara.calc_ptf_saxton2006_conductivity(
        theta, r.theta_s, r.ksat, r.lam))


@pytest.mark.parametrize("name", ["saxton2006", "vereecken1989",
                                  "cosby1984"])
def test_curves_fall_with_suction_in_any_unit(name):
    r = results()[name]
    theta = curve(r, H_KPA)
    assert np.all(np.diff(theta) <= 0) and theta[-1] < theta[1]
    assert 0 < theta[-1] < theta[0] <= 1
    # The same suctions as heads of water in cm give the same curve.
    cm = curve(r, H_KPA / 0.0980665, h_unit="cm")
    np.testing.assert_allclose(cm, theta, rtol=1e-12)


def test_vereecken_uses_m_equal_one():
    r = results()["vereecken1989"]
    h_cm = np.array([10.0, 100.0])
    want = _curves.calc_swrc_van_genuchten(h_cm, r.theta_r, r.theta_s,
                                           r.alpha, r.n, 1.0)
    assert_same_bits(curve(r, h_cm, h_unit="cm"), want)


def test_campbell_from_cosby_logs_and_percent():
    r = results()["cosby1984"]
    psi_e_cm = 10 ** r.log10_psi_s
    theta = curve(r, [psi_e_cm * 2], h_unit="cmH2O")
    want = r.theta_s / 100 * 2 ** (-1 / r.b)
    assert theta[0] == pytest.approx(want, rel=1e-14)
    k = curve(r, [psi_e_cm * 2], "k", h_unit="cmH2O", out_unit="in/h")
    assert k[0] == pytest.approx(10 ** r.log10_ksat * (theta[0] / (
        r.theta_s / 100)) ** (2 * r.b + 3), rel=1e-13)


def test_clapp_curve_takes_psi_s_of_the_class():
    # Loam (row 4): psi_s 47.8 cm; sand, loamy sand, clay: 12.1, 9.0,
    # 40.5 cm; an unclassified sample gives NaN.
    r = results()["clapp1978"]
    theta = curve(r, [2 * 47.8], h_unit="cmH2O")
    assert theta[0] == pytest.approx(r.theta_s * 2 ** (-1 / r.b), rel=1e-14)
    many = loamara.estimate("clapp1978", texture_class=np.array(
        [0, 1, 10, 11], np.uint32))
    at_psi_s = curve(many, [12.1, 9.0, 40.5, 1.0], h_unit="cmH2O")
    np.testing.assert_array_equal(np.diag(at_psi_s)[:3], many.theta_s[:3])
    assert np.isnan(at_psi_s[3]).all()


def test_parameters_not_established_are_named_and_can_be_given():
    r = loamara.estimate("li2007", sand=40, silt=40, clay=20, bd=1.4, om=2)
    with pytest.raises(CurveError, match="alpha.*not established"):
        curve(r, H_KPA)
    theta = curve(r, [10.0], params={"alpha": 0.1, "theta_r": 0.0,
                                     "m": 1 - 1 / r.n})
    assert 0 < theta[0] < r.theta_s
    with pytest.raises(CurveError, match="estimates no parameters"):
        curve(loamara.estimate("jabro1992", silt=40, clay=20, bd=1.4), [1])


def test_many_soils_give_one_curve_each():
    r = loamara.estimate("saxton2006", sand=[0.2, 0.4, 0.6], clay=0.2,
                         om=2.0)
    theta = curve(r, H_KPA)
    assert theta.shape == (3, 8)
    one = loamara.estimate("saxton2006", sand=0.4, clay=0.2, om=2.0)
    assert_same_bits(theta[1], curve(one, H_KPA))


def test_clapp_from_sand_silt_and_clay():
    r = loamara.estimate("clapp1978", sand=[40, 85, 5], silt=[40, 10, 90],
                         clay=[20, 5, 5])
    want = _loamara.calc_ptf_clapp1978(np.array([4, 1, 3], np.uint32))
    assert_same_bits(r.b, want[0])
    assert "silt takes the silt loam row" in r.notes[0]
