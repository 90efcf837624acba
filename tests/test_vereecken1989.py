"""Vereecken et al. (1989) van Genuchten parameters."""
import math

import numpy as np
import pytest

import _loamara as L
from ptfcheck import (LIBM, assert_matches_reference, assert_nan_dependence,
                      assert_worked, call)

PLAIN = L.calc_ptf_vereecken1989
DETAILED = L.calc_ptf_vereecken1989_detailed
X = (12.0, 25.0, 8.0, 30.0, 2.5, 14.0, 7.0, 3.0, 20.0, 0.05, 1.2, 0.6, 1.45)


def reference_detailed(x0, x1, x2, x3, x4, x5, x6, x7, x8, x9, x10, x11, x12,
                       m=math):
    tr = (x0 * 0.0094 + 0.027 - x1 * 0.0035 - x2 * 0.0004 - x3 * 0.0002
          - x4 * 0.0001 - x5 * 0.00028 - x6 * 0.00006 + x7 * 0.0001
          + x8 * 0.0037 - x9 * 0.045 + x10 * 0.00538 + x11 * 0.015)
    ts = 0.81 - x12 * 0.283 + x8 * 0.001
    a = m.exp(x0 * 0.178 + 1.245 + x1 * 0.173 + x2 * 0.0292 + x3 * 0.0135
                 + x4 * 0.105 - x5 * 0.0149 - x6 * 0.118 - x7 * 0.042
                 - x8 * 0.0218 - x9 * 14.73 - x10 * 0.179 - x11 * 0.416
                 - x12 * 2.507)
    n = m.exp(-0.0066 - x0 * 0.0147 + x1 * 0.0404 + x2 * 0.00234
                 + x3 * 0.0047 - x4 * 0.0414 - x5 * 0.007 + x6 * 0.03
                 - x7 * 0.038 - x8 * 0.0042 + x9 * 1.0322 - x10 * 0.0019)
    return [tr, ts, a, n]


def test_plain_worked():
    assert_worked(PLAIN, (40.0, 20.0, 1.0, 1.4),
                  ["0.129", "0.4338", "0.00257785", "0.721084"])


def test_plain_zero_inputs():
    assert_worked(PLAIN, (0.0, 0.0, 0.0, 0.0),
                  [0.015, 0.81, math.exp(-2.486), math.exp(0.053)])


def test_plain_n_unbounded():
    with np.errstate(over="ignore"):
        assert call(PLAIN, 1e6, 20.0, 1.0, 1.4)[3] == np.inf


@pytest.mark.parametrize("x", [X, (0.0,) * 13])
def test_detailed_exact_order(x):
    assert_worked(DETAILED, x, reference_detailed(*x))


def test_detailed_edge_inputs_match_stepwise_reference():
    assert_matches_reference(
        DETAILED, lambda *x: reference_detailed(*x, m=LIBM))


def test_detailed_nan_dependence():
    uses = [{0, 2, 3}] * 13
    uses[8] = {0, 1, 2, 3}
    uses[11] = {0, 2}
    uses[12] = {1, 2}
    assert_nan_dependence(DETAILED, X, uses)


def test_plain_nan_dependence():
    assert_nan_dependence(PLAIN, (40.0, 20.0, 1.0, 1.4),
                          [{2, 3}, {0, 1, 2, 3}, {0, 2}, {1, 2}])
