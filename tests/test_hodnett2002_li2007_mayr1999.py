import math

import numpy as np
import pytest

import _loamara
from ptfcheck import (LIBM, assert_matches_reference, assert_nan_dependence,
                      assert_same_bits, assert_worked, call)

HODNETT = _loamara.calc_ptf_hodnett2002
LI = _loamara.calc_ptf_li2007
MAYR = _loamara.calc_ptf_mayr1999
HODNETT_BASE = (40.0, 40.0, 20.0, 1.0, 1.4, 10.0, 6.0)
LI_BASE = (40.0, 40.0, 20.0, 1.4, 2.0)
MAYR_BASE = (20.0, 30.0, 2.0, 1.4, 40.0)


@pytest.mark.parametrize("ufunc, args, expected", [
    (HODNETT, HODNETT_BASE, ["0.16656", "1.34656", "0.42277", "0.16337"]),
    (LI, LI_BASE, ["0.4487", "0.00261962", "1.19746", "3.24462e-06"]),
    (MAYR, MAYR_BASE, ["0.718944", "23.7807", "0.16022"]),
])
def test_worked_values(ufunc, args, expected):
    assert_worked(ufunc, args, expected)


def hodnett_reference(sand, silt, clay, oc, bd, cec, ph, m=math):
    return [m.exp((-2.294 - silt * 3.526 + oc * 2.44 - cec * 0.076
                   - ph * 11.331 + silt * silt * 0.019) / 100),
            m.exp((62.986 - clay * 0.833 - oc * 0.529 + ph * 0.593
                   + clay * clay * 0.007 - sand * 0.014 * silt) / 100),
            (clay * 0.099 + 81.799 - bd * 31.42 + cec * 0.018 + ph * 0.451
             - sand * 0.0005 * clay) / 100,
            (22.733 - sand * 0.164 + cec * 0.235 - ph * 0.831
             + clay * clay * 0.0018 + sand * 0.0026 * clay) / 100]


def li_reference(sand, silt, clay, bd, om, m=math):
    lsand, lsilt, lom, lbd = m.log(sand), m.log(silt), m.log(om), m.log(bd)
    return [m.exp(lsand * 0.212 - 1.531 + silt * 0.006 - om * 0.051
                  - lbd * 0.566),
            m.exp(-67.408 - silt * 0.04 - lsilt * 0.67 - om * 2.189
                  + lom * 1.41 + bd * 78.4 - lbd * 121.331),
            lsilt * 0.002 + 1.488 + clay * 0.013 - m.log(clay) * 0.248
            + lom * 0.048 + lbd * 0.451,
            m.exp(13.262 - lsand * 1.914 - lsilt * 0.974 - clay * 0.058
                  - lom * 1.709 + om * 2.885 - lbd * 8.026)
            * 1.1574074074074074e-07]


@pytest.mark.parametrize("ufunc, reference", [
    (HODNETT, lambda *x: hodnett_reference(*x, m=LIBM)),
    (LI, lambda *x: li_reference(*x, m=LIBM)),
])
def test_edge_inputs_match_stepwise_reference(ufunc, reference):
    assert_matches_reference(ufunc, reference)


def test_hodnett_alpha_matches_stepwise_reference():
    sand, silt, clay, oc, bd, cec, ph = 23.0, 51.0, 26.0, 1.7, 1.3, 17.0, 5.4
    want = math.exp((-2.294 - silt * 3.526 + oc * 2.44 - cec * 0.076
                     - ph * 11.331 + silt * silt * 0.019) / 100)
    assert_same_bits(call(HODNETT, sand, silt, clay, oc, bd, cec, ph)[0], want)


def test_li_ksat_matches_stepwise_reference():
    sand, silt, clay, bd, om = 31.0, 44.0, 25.0, 1.35, 3.1
    lsand, lsilt, lom, lbd = math.log(sand), math.log(silt), math.log(om), math.log(bd)
    kday = math.exp(13.262 - lsand * 1.914 - lsilt * 0.974 - clay * 0.058
                    - lom * 1.709 + om * 2.885 - lbd * 8.026)
    assert_same_bits(call(LI, sand, silt, clay, bd, om)[3],
                     kday * 1.1574074074074074e-07)


def test_mayr_matches_stepwise_reference():
    x0, x1, x2, x3, x4 = 17.0, 23.0, 3.5, 1.6, 28.0
    e = (x0 * 0.0509226283 - 4.9840297533 + x1 * 0.1575152771 + x3 * 0.1240901644
         - x4 * 0.1640033143 - x1 * x1 * 0.0021767278 + x1 * x1 * x1 * 0.00001438224
         + x2 * x2 * 0.0008040715 + x4 * x4 * 0.0044067117)
    s = (-0.8466880654 - x0 * 0.0046806123 + x1 * 0.0092463819 - x3 * 0.4542769707
         - x4 * 0.0497915563 + x0 * x0 * 0.0003294687 - x0 * x0 * x0 * 0.000001689056
         + x4 * x4 * 0.0011225373)
    y2 = (x0 * 0.0046614221 + 0.2345971971 + x1 * 0.0088163314 + x2 * 0.0064338641
          - x3 * 0.3028160229 + x0 * x0 * 0.0000179762 - x1 * x1 * 0.00003134631)
    assert_same_bits(np.array(call(MAYR, x0, x1, x2, x3, x4)),
                     np.array([math.pow(10.0, e), math.pow(10.0, -s), y2]))


def test_mayr_zero_inputs_give_intercepts():
    assert_worked(MAYR, (0.0,) * 5, [math.pow(10.0, -4.9840297533),
                                     math.pow(10.0, 0.8466880654), 0.2345971971])


def test_li_zero_clay_and_zero_om():
    with np.errstate(all="ignore"):
        _, _, n, ksat = call(LI, 40.0, 40.0, 0.0, 1.4, 2.0)
        assert n == np.inf and np.isfinite(ksat)
        theta_s, alpha, n, ksat = call(LI, 40.0, 40.0, 20.0, 1.4, 0.0)
    assert np.isfinite(theta_s)
    assert_same_bits(alpha, 0.0)
    assert n == -np.inf and ksat == np.inf


@pytest.mark.parametrize("ufunc, base, uses", [
    (HODNETT, HODNETT_BASE,
     [{1, 2, 3}, {0, 1}, {1, 2, 3}, {0, 1}, {2}, {0, 2, 3}, {0, 1, 2, 3}]),
    (LI, LI_BASE, [{0, 3}, {0, 1, 2, 3}, {2, 3}, {0, 1, 2, 3}, {0, 1, 2, 3}]),
    (MAYR, MAYR_BASE, [{0, 1, 2}, {0, 1, 2}, {0, 2}, {0, 1, 2}, {0, 1}]),
])
def test_nan_dependence(ufunc, base, uses):
    assert_nan_dependence(ufunc, base, uses)
