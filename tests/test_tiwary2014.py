import numpy as np
import pytest

import _loamara
from ptfcheck import assert_nan_dependence, assert_same_bits, assert_worked, call

IGP = _loamara.calc_ptf_tiwary2014_igp
BSR = _loamara.calc_ptf_tiwary2014_bsr


@pytest.mark.parametrize("ufunc, args, expected", [
    (IGP, (40.0, 1.5, 20.0), ["4.22778e-07"]),
    (BSR, (20.0, 1.4, 30.0, 1.0, 10.0, 5.0),
     ["18.437", "14.493", "10.447", "2.94501e-05"]),
    (IGP, (0.0,) * 3, [4.079 / 3600000]),
    (BSR, (0.0,) * 6, [2.583, -1.918, 0.541, 120.637 / 3600000]),
])
def test_worked_values(ufunc, args, expected):
    assert_worked(ufunc, args, expected)


def test_igp_subtracts_x2_term_first_and_divides():
    # At this point both the other term order and a multiplication by the
    # reciprocal give different doubles.
    x0, x1, x2 = 40.0, 1.5, 27.0
    k = x0 * 0.047 + 4.079 - x2 * 0.054 - x1 * 2.238
    assert k != x0 * 0.047 + 4.079 - x1 * 2.238 - x2 * 0.054
    assert k / 3600000 != k * (1 / 3600000)
    assert_same_bits(call(IGP, x0, x1, x2)[0], k / 3600000)


def test_bsr_ksat_matches_stepwise_reference():
    x0, x1, x5 = 23.0, 1.45, 7.0
    k = 120.637 - x1 * 13.094 - x0 * 0.102 + x5 * 1.151
    assert_same_bits(call(BSR, x0, x1, 30.0, 1.0, 10.0, x5)[3], k / 3600000)


@pytest.mark.parametrize("ufunc, base, uses", [
    (IGP, (40.0, 1.5, 20.0), [{0}, {0}, {0}]),
    (BSR, (20.0, 1.4, 30.0, 1.0, 10.0, 5.0),
     [{0, 1, 3}, {3}, {0, 1, 2}, {0, 1, 2}, {2}, {3}]),
])
def test_nan_dependence(ufunc, base, uses):
    assert_nan_dependence(ufunc, base, uses)
