"""Puckett et al. (1985) regressions."""
import math

import _loamara as L
from ptfcheck import (LIBM, assert_matches_reference, assert_nan_dependence,
                      assert_same_bits, assert_worked, call)

P = L.calc_ptf_puckett1985
INTERCEPTS = [0.41, 0.415, 0.365, 0.33, 0.31, 0.265, 0.264, 0.239]
# w = x1 * c1 - x0 * c0 + x2 * c2 + k, one row per water content.
LINEAR = [(0.000193, 0.000357, 0.000182), (0.0000712, 0.000383, 0.000243),
          (0.0000059, 0.000348, 0.000321), (0.0000003, 0.000319, 0.000351),
          (0.0000019, 0.000302, 0.000362), (0.000014, 0.000262, 0.000375),
          (0.0000197, 0.000244, 0.000378), (0.0000254, 0.000239, 0.00038)]


def reference(x0, x1, x2, x3, x4, m=math):
    """Step by step in the publication's order."""
    return ([x3 * 0.264 + x4 * 1.6 - 0.706, x4 * 1.69 + x3 * 0.318 - 0.834]
            + [x1 * c1 - x0 * c0 + x2 * c2 + k
               for (c1, c0, c2), k in zip(LINEAR, INTERCEPTS)]
            + [m.exp(x2 * -0.1975) * 0.0000436])


def test_worked():
    assert_worked(P, (40.0, 30.0, 20.0, 1.5, 0.45), [
        "0.41", "0.4035", "0.40515", "0.406676", "0.357677", "0.324269",
        "0.305217", "0.26244", "0.262391", "0.237802", "8.39505e-07"])


def test_zero_inputs_give_intercepts():
    assert_worked(P, (0.0,) * 5, [-0.706, -0.834] + INTERCEPTS + [0.0000436])


def test_exact_order():
    x0, x1, x2, x3, x4 = 37.0, 41.0, 22.0, 1.37, 0.43
    out = call(P, x0, x1, x2, x3, x4)
    assert_same_bits(out[2], x1 * 0.000193 - x0 * 0.000357
                     + x2 * 0.000182 + 0.41)
    assert_same_bits(out[10], math.exp(x2 * -0.1975) * 0.0000436)


def test_worked_values_follow_the_reference():
    assert_worked(P, (40.0, 30.0, 20.0, 1.5, 0.45),
                  reference(40.0, 30.0, 20.0, 1.5, 0.45))


def test_edge_inputs_match_stepwise_reference():
    assert_matches_reference(P, lambda *x: reference(*x, m=LIBM))


def test_clay_100_has_no_lower_bound():
    ks = call(P, 40.0, 30.0, 100.0, 1.5, 0.45)[10]
    assert_same_bits(ks, math.exp(100.0 * -0.1975) * 0.0000436)
    assert 1.14e-13 < ks < 1.16e-13


def test_nan_dependence():
    w = set(range(2, 10))
    assert_nan_dependence(P, (40.0, 30.0, 20.0, 1.5, 0.45),
                          [w, w, w | {10}, {0, 1}, {0, 1}])
