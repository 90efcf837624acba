"""Rawls, Brakensiek and Saxton (1982) water retention regressions."""
import numpy as np
import pytest

import _loamara as L
from ptfcheck import (assert_nan_dependence, assert_same_bits, assert_worked,
                      call)

WRC = L.calc_ptf_rawls1982_full_wrc
POINT = (40.0, 2.0, 1.4, 0.25, 0.12)


def test_anchor_regressions():
    assert_worked(L.calc_ptf_rawls1982_theta_1500, (20.0, 2.0), ["0.1576"])
    assert_worked(L.calc_ptf_rawls1982_theta_33, (40.0, 2.0, 0.12),
                  ["0.2915"])
    assert_worked(L.calc_ptf_rawls1982_theta_33, (40.0, 2.0, 0.12),
                  [0.2391 - 40.0 * 0.0019 + 2.0 * 0.021 + 0.12 * 0.72])


def test_full_curve_worked():
    # The 7 kPa value uses the published intercept 0.0888.
    assert_worked(WRC, POINT, [
        "0.38796", "0.3407", "0.3143", "0.2692", 0.25, "0.21266", "0.1958",
        "0.1737", "0.1562", "0.1453", "0.1368", 0.12])


def test_full_curve_falls_with_tension():
    curve = np.array(call(WRC, *POINT))
    assert np.all(np.diff(curve) < 0)
    assert np.all((curve > 0) & (curve < 1))


@pytest.mark.parametrize("t33, t1500", [
    (np.nan, 0.12), (0.25, np.nan), (0.1 + 0.2, -0.0), (5e-324, 1e308)])
def test_anchors_copied_bit_for_bit(t33, t1500):
    out = call(WRC, 40.0, 2.0, 1.4, t33, t1500)
    assert_same_bits(out[4], t33)
    assert_same_bits(out[11], t1500)


COMPUTED = set(range(12)) - {4, 11}


@pytest.mark.parametrize("ufunc, base, uses", [
    (L.calc_ptf_rawls1982_theta_1500, (20.0, 2.0), [{0}, {0}]),
    (L.calc_ptf_rawls1982_theta_33, (40.0, 2.0, 0.12), [{0}, {0}, {0}]),
    (WRC, POINT, [{1, 2, 3}, COMPUTED - {3, 5}, {0, 5}, COMPUTED | {4},
                  COMPUTED | {11}]),
])
def test_nan_dependence(ufunc, base, uses):
    assert_nan_dependence(ufunc, base, uses)
