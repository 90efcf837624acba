"""Weynants et al. (2009) with the coefficients corrected in 2017."""
import pytest

import loamara._more as M
from ptfcheck import (LIBM, assert_matches_reference, assert_nan_dependence,
                      assert_worked, call)


def reference(S, C, OC, BD):
    ths = 0.6355365504 + C * 0.0012807613 - BD * 0.1630910071
    a = -4.3003420026 - C * 0.0096851210 + S * 0.0137763939 - OC * 0.0992391618
    n = (-1.0846069190 - C * 0.0235654376 - S * 0.0085043044
         + S * S * 0.0001369944)
    k = 1.9581584626 + S * 0.0308449531 - BD * 0.6141610130 - OC * 0.1565557100
    L = -1.8641969563 - C * 0.1317363417 + S * 0.0067082506
    return [ths, LIBM.exp(a), LIBM.exp(n) + 1.0, LIBM.exp(k), L]


def test_edge_inputs_match_stepwise_reference():
    assert_matches_reference(M.calc_ptf_weynants2009, reference)


def test_worked_and_nan_dependence():
    assert_worked(M.calc_ptf_weynants2009, (40.0, 20.0, 1.2, 1.4),
                  ["0.432824", "0.0172133", "1.18695", "8.53576", "-4.23059"])
    assert_nan_dependence(M.calc_ptf_weynants2009, (40.0, 20.0, 1.2, 1.4), [
        {1, 2, 3, 4}, {0, 1, 2, 4}, {1, 3}, {0, 3}])


def test_corrected_sand_square_term():
    # At 80 % sand the corrected 0.0001369944 gives n - 1 = exp(-0.5847..)
    # (the rounded 0.0001 of other implementations would give exp(-0.8218..)).
    n = call(M.calc_ptf_weynants2009, 80.0, 0.0, 0.0, 1.5)[2]
    assert n == pytest.approx(1 + 2.718281828459045 ** (
        -1.0846069190 - 80 * 0.0085043044 + 6400 * 0.0001369944), rel=1e-15)
