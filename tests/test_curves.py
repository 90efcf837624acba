"""Retention and conductivity curves of loamara._curves: van Genuchten
(1980) with Mualem's conductivity, Brooks and Corey (1964), Campbell (1974)
and the complete tension curve of Saxton and Rawls (2006)."""
import math

import numpy as np
import pytest

import _loamara
import loamara._curves as C
from ptfcheck import assert_same_bits

LN33, LN1500 = math.log(33.0), math.log(1500.0)

# A loam (Carsel and Parrish 1988: theta_r, theta_s, alpha 1/cm, n) and a
# clay with m = 1 (Vereecken et al. 1989 style); heads in cm.
LOAM = (0.078, 0.43, 0.036, 1.56)
HEADS = np.array([1e-6, 0.5, 1.0, 10.0, 33.3, 100.0, 330.0, 1000.0,
                  15000.0, 1e6, 1e12])


# Step-by-step references in the kernels' documented order (Python floats).
def vg_theta(h, tr, ts, a, n, m):
    t = math.pow(a * h, n)
    d = math.pow(1.0 + t, m)
    return tr + (ts - tr) / d


def vg_head(theta, tr, ts, a, n, m):
    se = (theta - tr) / (ts - tr)
    u = math.pow(se, -1.0 / m) - 1.0
    return math.pow(u, 1.0 / n) / a


def mvg_k(h, ks, a, n, l):
    m = 1.0 - 1.0 / n
    t = math.pow(a * h, n)
    se = math.pow(1.0 + t, -m)
    w = 1.0 - math.pow(1.0 - math.pow(se, 1.0 / m), m)
    return ks * math.pow(se, l) * (w * w)


def saxton_params(sand, clay, om):
    """theta1500, theta33, thetaS, psi_e from calc_ptf_saxton2006."""
    out = _loamara.calc_ptf_saxton2006(np.float64(sand), np.float64(clay),
                                       np.float64(om))
    return tuple(float(out[i]) for i in (0, 1, 2, 4))


def curve(ufunc, first, *params):
    """One call over a whole curve: array first input, scalar parameters."""
    return ufunc(np.asarray(first, dtype=np.float64), *map(float, params))


@pytest.mark.parametrize("tr, ts, a, n, m", [
    LOAM + (1.0 - 1.0 / LOAM[3],),
    (0.0, 0.52, 0.008, 0.72, 1.0),
    (0.1, 0.38, 0.145, 2.68, 0.5),
])
def test_van_genuchten_exact_and_inverse(tr, ts, a, n, m):
    theta = curve(C.calc_swrc_van_genuchten, HEADS, tr, ts, a, n, m)
    assert_same_bits(theta, [vg_theta(h, tr, ts, a, n, m) for h in HEADS])
    assert np.all(np.diff(theta) <= 0)
    wet = theta[theta < ts]
    head = curve(C.calc_swrc_van_genuchten_head, wet, tr, ts, a, n, m)
    assert_same_bits(head, [vg_head(t, tr, ts, a, n, m) for t in wet])
    # Round trip where theta keeps enough digits of theta - theta_r and
    # theta_s - theta.
    mid = (HEADS >= 0.5) & (HEADS <= 1e6)
    np.testing.assert_allclose(head[mid[theta < ts]], HEADS[mid], rtol=1e-6)


def test_van_genuchten_worked_value():
    # Loam at 100 cm: (0.036 * 100)^1.56 = 7.37619, m = 0.358974,
    # 8.37619^m = 2.14462, theta = 0.078 + 0.352 / 2.14462 = 0.242132.
    theta = curve(C.calc_swrc_van_genuchten, [100.0], *LOAM,
                  1.0 - 1.0 / LOAM[3])
    assert theta[0] == pytest.approx(0.242132, abs=5e-7)


def test_van_genuchten_head_ends():
    head = C.calc_swrc_van_genuchten_head
    args = LOAM + (1.0 - 1.0 / LOAM[3],)
    with np.errstate(all="ignore"):
        got = curve(head, [0.43, 0.5, 0.078, 0.05], *args)
    # At and above theta_s +0, at theta_r +inf, below theta_r NaN.
    assert_same_bits(got[:2], [0.0, 0.0])
    assert got[2] == np.inf and np.isnan(got[3])
    assert not np.signbit(got[0])


@pytest.mark.parametrize("n, l", [(1.56, 0.5), (2.68, 0.5), (1.31, -1.2)])
def test_mualem_van_genuchten_exact_and_closed_form(n, l):
    ks, a = 24.96, 0.036
    k = curve(C.calc_hcc_mualem_van_genuchten, HEADS, ks, a, n, l)
    assert_same_bits(k, [mvg_k(h, ks, a, n, l) for h in HEADS])
    assert np.all(np.diff(k) <= 0) and k[0] <= ks
    # The same function written with Se^(1/m) = 1 / (1 + (alpha h)^n).
    m = 1 - 1 / n
    t = (a * HEADS[:-1]) ** n
    se = (1 + t) ** -m
    other = ks * se ** l * (1 - (t / (1 + t)) ** m) ** 2
    np.testing.assert_allclose(k[:-1], other, rtol=1e-7)


@pytest.mark.parametrize("tr, ts, hb, lam", [(0.02, 0.41, 7.26, 0.59),
                                             (0.09, 0.47, 37.3, 0.13)])
def test_brooks_corey_exact(tr, ts, hb, lam):
    h = np.concatenate([[hb, np.nextafter(hb, np.inf)], HEADS[HEADS > hb]])
    theta = curve(C.calc_swrc_brooks_corey, h, tr, ts, hb, lam)
    k = curve(C.calc_hcc_brooks_corey, h, 11.0, hb, lam)
    assert_same_bits(theta, [ts] + [tr + (ts - tr) * math.pow(x / hb, -lam)
                                    for x in h[1:]])
    assert_same_bits(k, [11.0] + [11.0 * math.pow(x / hb, -2.0 - 3.0 * lam)
                                  for x in h[1:]])
    # K = Ks Se^((2 + 3 lambda) / lambda), Brooks and Corey's own form.
    se = (theta[1:] - tr) / (ts - tr)
    np.testing.assert_allclose(k[1:], 11.0 * se ** ((2 + 3 * lam) / lam),
                               rtol=1e-9)


def test_campbell_exact_and_inverse():
    ts, pe, b, ks = 0.482, 40.5, 11.4, 0.0077   # clay, Clapp-Hornberger
    psi = np.array([pe, np.nextafter(pe, np.inf), 50.0, 330.0, 1.5e4, 1e7])
    theta = curve(C.calc_swrc_campbell, psi, ts, pe, b)
    assert_same_bits(theta, [ts] + [ts * math.pow(p / pe, -1.0 / b)
                                    for p in psi[1:]])
    back = curve(C.calc_swrc_campbell_suction, theta, ts, pe, b)
    assert_same_bits(back, [pe * math.pow(t / ts, -b) for t in theta])
    np.testing.assert_allclose(back, psi, rtol=1e-12)
    k = curve(C.calc_hcc_campbell, theta, ks, ts, b)
    assert_same_bits(k, [ks * math.pow(t / ts, 2.0 * b + 3.0)
                         for t in theta])
    # Saturated convention: theta >= theta_s gives psi_e and Ks exactly.
    wet = [ts, 0.5, 1.0]
    assert_same_bits(curve(C.calc_swrc_campbell_suction, wet, ts, pe, b),
                     [pe] * 3)
    assert_same_bits(curve(C.calc_hcc_campbell, wet, ks, ts, b), [ks] * 3)


# Soils whose air-entry tension lies between 0 and 33 kPa, the order of
# segments the curve documents (4.15, 14.4, 8.53 and 0.25 kPa).
@pytest.mark.parametrize("soil", [(0.4, 0.2, 2.5), (0.1, 0.05, 2.5),
                                  (0.1, 0.45, 1.0), (0.65, 0.10, 2.5)])
def test_saxton_curve_segments(soil):
    t1500, t33, ts, pe = saxton_params(*soil)
    sax = C.calc_swrc_saxton2006
    # Air entry, 33 kPa and 1500 kPa.
    anchors = curve(sax, [pe, 33.0, 1500.0], t1500, t33, ts, pe)
    assert_same_bits(anchors[:2], [ts, t33])
    assert anchors[2] == pytest.approx(t1500, rel=1e-12)
    # Each segment in the documented order, beyond 1500 kPa included.
    b = (LN1500 - LN33) / (math.log(t33) - math.log(t1500))
    a = math.exp(b * math.log(t33) + LN33)
    psi = np.array([0.0, pe / 2, (pe + 33) / 2, 34.0, 500.0, 1500.0, 1e5])
    ref = [ts, ts, t33 + ((33 - psi[2]) * (ts - t33)) / (33 - pe)]
    ref += [math.pow(p / a, -1.0 / b) for p in psi[3:]]
    theta = curve(sax, psi, t1500, t33, ts, pe)
    assert_same_bits(theta, ref)
    assert theta[-1] < t1500
    # Round trip through the suction curve.
    back = curve(C.calc_swrc_saxton2006_suction, theta[2:], t1500, t33, ts,
                 pe)
    np.testing.assert_allclose(back, psi[2:], rtol=1e-11)


@pytest.mark.parametrize("soil", [(0.4, 0.2, 2.5), (0.1, 0.45, 1.0)])
def test_saxton_suction_is_the_tension_ufuncs(soil):
    t1500, t33, ts, pe = saxton_params(*soil)
    theta = np.concatenate([np.linspace(0.01, t33, 200, endpoint=False),
                            np.linspace(t33, ts, 200, endpoint=False)])
    psi = curve(C.calc_swrc_saxton2006_suction, theta, t1500, t33, ts, pe)
    dry = theta < t33
    f = np.float64
    assert_same_bits(psi[dry], _loamara.calc_ptf_saxton2006_tension_dry(
        theta[dry], f(t1500), f(t33)))
    assert_same_bits(psi[~dry], _loamara.calc_ptf_saxton2006_tension_wet(
        theta[~dry], f(t33), f(ts), f(pe)))
    ends = curve(C.calc_swrc_saxton2006_suction, [t33, ts, 0.99], t1500, t33,
                 ts, pe)
    assert_same_bits(ends, [33.0, pe, pe])
    np.testing.assert_allclose(
        curve(C.calc_swrc_saxton2006, psi, t1500, t33, ts, pe), theta,
        rtol=1e-11)


# The curves of suction, each with parameters and its value at saturation.
SATURATED = [
    (C.calc_swrc_van_genuchten, (0.078, 0.43, 0.036, 1.56, 0.5), 0.43),
    (C.calc_hcc_mualem_van_genuchten, (24.96, 0.036, 1.56, 0.5), 24.96),
    (C.calc_swrc_brooks_corey, (0.02, 0.41, 7.26, 0.59), 0.41),
    (C.calc_hcc_brooks_corey, (11.0, 7.26, 0.59), 11.0),
    (C.calc_swrc_campbell, (0.482, 40.5, 11.4), 0.482),
    (C.calc_swrc_saxton2006, (0.137, 0.280, 0.459, 4.31), 0.459),
]


@pytest.mark.parametrize("ufunc, params, saturated", SATURATED,
                         ids=[s[0].__name__ for s in SATURATED])
def test_saturated_at_and_below_zero_suction(ufunc, params, saturated):
    got = curve(ufunc, [0.0, -0.0, -1.0, -1e300, -np.inf], *params)
    assert_same_bits(got, [saturated] * 5)
    # Just above zero the formula is evaluated, and meets saturation.
    near = curve(ufunc, [1e-9], *params)
    assert near[0] == pytest.approx(saturated, rel=1e-6)


# A curve, a point off saturation, its parameters, and the parameters that
# the formula evaluated there uses (a parameter of another segment does not
# reach the result: the saturated segment is theta_s or Ks as given).
NAN_CASES = [(u, 100.0, p, range(len(p))) for u, p, _ in SATURATED[:5]] + [
    (C.calc_swrc_van_genuchten_head, 0.2, (0.078, 0.43, 0.036, 1.56, 0.5),
     range(5)),
    (C.calc_swrc_campbell_suction, 0.2, (0.482, 40.5, 11.4), range(3)),
    (C.calc_hcc_campbell, 0.2, (0.0077, 0.482, 11.4), range(3)),
    (C.calc_swrc_saxton2006, 100.0, (0.137, 0.280, 0.459, 4.31), (0, 1)),
    (C.calc_swrc_saxton2006, 20.0, (0.137, 0.280, 0.459, 4.31), (1, 2, 3)),
    (C.calc_swrc_saxton2006_suction, 0.2, (0.137, 0.280, 0.459, 4.31),
     (0, 1)),
    (C.calc_swrc_saxton2006_suction, 0.35, (0.137, 0.280, 0.459, 4.31),
     (1, 2, 3)),
]


@pytest.mark.parametrize("ufunc, x, params, used", NAN_CASES,
                         ids=[f"{c[0].__name__}-{c[1]}" for c in NAN_CASES])
def test_nan_propagates_quietly(ufunc, x, params, used):
    assert len(params) + 1 == ufunc.nin
    with np.errstate(all="raise"):
        # A NaN first input, contiguous and broadcast against parameters:
        # NaN, not the saturated value, and no floating-point warning.
        assert np.isnan(ufunc(np.full(9, np.nan), *params)).all()
        full = [np.full(9, p) for p in params]
        assert np.isnan(ufunc(np.full(9, np.nan), *full)).all()
        assert np.isfinite(ufunc(np.float64(x), *params))
        for k in used:
            p = list(params)
            p[k] = np.nan
            assert np.isnan(ufunc(np.float64(x), *p))
