"""Dharumarajan et al. (2019) and Zhao et al. (2016) regressions."""
import numpy as np
import pytest

import _loamara as L
from ptfcheck import (assert_nan_dependence, assert_same_bits, assert_worked,
                      call)

ZHAO = [L.calc_ptf_zhao2016_m2_1, L.calc_ptf_zhao2016_m2_2,
        L.calc_ptf_zhao2016_m2_3, L.calc_ptf_zhao2016_m2_4,
        L.calc_ptf_zhao2016_m2_5, L.calc_ptf_zhao2016_m2_6]
ZHAO_B0 = [0.873, 0.868, 0.872, 0.877, 0.882, 0.891]
ZHAO_CENTRE = (1.04, 43.629999999999995, 8.03)


@pytest.mark.parametrize("ufunc, args, expected", [
    (L.calc_ptf_dharumarajan2019_nkp_clay, (0,), (4.968, -2.443)),
    (L.calc_ptf_dharumarajan2019_skp_clay, (0,), (3.724, -1.979)),
    (L.calc_ptf_dharumarajan2019_infiltration, (0, 0, 0), (177.55,)),
    (L.calc_ptf_dharumarajan2019_infiltration, (50, 40, 30), ("-13.15",)),
    (L.calc_ptf_zhao2016_m2_1, ZHAO_CENTRE, ("0.743",)),
])
def test_worked_values(ufunc, args, expected):
    assert_worked(ufunc, args, expected)


DHARUMARAJAN = [
    (L.calc_ptf_dharumarajan2019_nkp, [
        lambda a, b, c: a * 0.205 + 13.82 - b * 0.088 + c * 0.316,
        lambda a, b, c: a * 0.315 - 5.776 + b * 0.05 + c * 0.271]),
    (L.calc_ptf_dharumarajan2019_skp, [
        lambda a, b, c: 39.179 - a * 0.041 - b * 0.371 + c * 0.257,
        lambda a, b, c: a * 0.168 + 8.227 - b * 0.101 + c * 0.217]),
    (L.calc_ptf_dharumarajan2019_infiltration, [
        lambda a, b, c: 177.55 - a * 1.47 - c * 1.8 - b * 1.58]),
    (L.calc_ptf_dharumarajan2019_nkp_clay, [
        lambda c: c * 0.586 + 4.968, lambda c: c * 0.5 - 2.443]),
    (L.calc_ptf_dharumarajan2019_skp_clay, [
        lambda c: c * 0.581 + 3.724, lambda c: c * 0.428 - 1.979]),
]


@pytest.mark.parametrize("ufunc, references", DHARUMARAJAN)
def test_dharumarajan_exact_order_of_operations(ufunc, references):
    # Python evaluates + and - from the left, as the publication's
    # expressions are written.
    rng = np.random.default_rng(2019)
    x = rng.uniform(0.1, 60.0, size=(ufunc.nin, 300))
    outs = call(ufunc, *x)
    for got, ref in zip(outs, references):
        assert_same_bits(got, [ref(*(float(v) for v in col)) for col in x.T])


def _zhao(x0, x1, x2, b0, b1, b2, b3):
    z0 = (x0 - 1.04) / 0.56
    z1 = (x1 - 43.629999999999995) / 39.4
    z2 = (x2 - 8.03) / 18.76
    y = b0 - z0 * b1
    y = y - z1 * b2
    y = y + z2 * b3
    y = y + 0.37
    return y - 0.5


@pytest.mark.parametrize("ufunc, coefs", [
    (L.calc_ptf_zhao2016_m2_1, (0.873, 0.555, 0.399, 0.224)),
    (L.calc_ptf_zhao2016_m2_6, (0.891, 0.637, 0.47, 0.316)),
])
def test_zhao_exact_order_of_operations(ufunc, coefs):
    rng = np.random.default_rng(2016)
    x = np.stack([rng.uniform(0.8, 1.8, 300), rng.uniform(1.0, 90.0, 300),
                  rng.uniform(0.1, 40.0, 300)])
    (got,) = call(ufunc, *x)
    assert_same_bits(got, [_zhao(*(float(v) for v in col), *coefs)
                           for col in x.T])


@pytest.mark.parametrize("ufunc, b0", list(zip(ZHAO, ZHAO_B0)))
def test_zhao_at_the_centre(ufunc, b0):
    # Every z is exactly 0: b0, then + 0.37, then - 0.5, two roundings.
    assert_worked(ufunc, ZHAO_CENTRE, ((b0 + 0.37) - 0.5,))


@pytest.mark.parametrize("ufunc", ZHAO[4:])
def test_zhao_centre_of_x1_is_one_ulp_below_43_63(ufunc):
    # At x1 = 43.63 the z1 term is tiny but not 0; for m2_5 and m2_6 it
    # survives the later additions and changes the result.
    (centre,) = call(ufunc, *ZHAO_CENTRE)
    (near,) = call(ufunc, 1.04, 43.63, 8.03)
    assert near != centre
    assert abs(float(near) - float(centre)) < 1e-15


@pytest.mark.parametrize("ufunc, base, uses", [
    (L.calc_ptf_dharumarajan2019_nkp, (20.0, 30.0, 10.0), [{0, 1}] * 3),
    (L.calc_ptf_dharumarajan2019_skp, (20.0, 30.0, 10.0), [{0, 1}] * 3),
    (L.calc_ptf_dharumarajan2019_nkp_clay, (20.0,), [{0, 1}]),
    (L.calc_ptf_dharumarajan2019_infiltration, (20.0, 30.0, 10.0),
     [{0}] * 3),
    (L.calc_ptf_zhao2016_m2_3, (1.3, 30.0, 10.0), [{0}] * 3),
])
def test_nan_dependence(ufunc, base, uses):
    assert_nan_dependence(ufunc, base, uses)
