"""Woesten et al. (1999) HYPRES: continuous functions and class table."""
import numpy as np
import pytest

import loamara._more as M
from ptfcheck import (LIBM, assert_matches_reference, assert_nan_dependence,
                      assert_same_bits, assert_worked, bits, call)


def reference(C, Si, OM, D, T, m=LIBM):
    """Step by step: constant, then the terms in the table's row order."""
    lnSi, lnOM, lnD = m.log(Si), m.log(OM), m.log(D)
    D2, C2, Si2, OM2 = D * D, C * C, Si * Si, OM * OM
    ths = (0.7919 + C * 0.001691 - D * 0.29619 - Si2 * 0.000001491
           + OM2 * 0.0000821 + 0.02427 / C + 0.01113 / Si + lnSi * 0.01472
           - OM * C * 0.0000733 - D * C * 0.000619 - D * OM * 0.001183
           - T * Si * 0.0001664)
    a = (-14.96 + C * 0.03135 + Si * 0.0351 + OM * 0.646 + D * 15.29
         - T * 0.192 - D2 * 4.671 - C2 * 0.000781 - OM2 * 0.00687
         + 0.0449 / OM + lnSi * 0.0663 + lnOM * 0.1482 - D * Si * 0.04546
         - D * OM * 0.4852 + T * C * 0.00673)
    n = (-25.23 - C * 0.02195 + Si * 0.0074 - OM * 0.1940 + D * 45.5
         - D2 * 7.24 + C2 * 0.0003658 + OM2 * 0.002885 - 0.1524 / Si
         - 0.01958 / OM - 12.81 / D - lnSi * 0.2876 - lnOM * 0.0709
         - lnD * 44.6 - D * C * 0.02264 + D * OM * 0.0896 + T * C * 0.00718)
    l = (0.0202 + C2 * 0.0006193 - OM2 * 0.001136 - lnOM * 0.2316
         - D * C * 0.03544 + D * Si * 0.00283 + D * OM * 0.0488)
    k = (7.755 + Si * 0.0352 + T * 0.93 - D2 * 0.967 - C2 * 0.000484
         - Si2 * 0.000322 + 0.001 / Si - 0.0748 / OM - lnSi * 0.643
         - D * C * 0.01398 - D * OM * 0.1673 + T * C * 0.02986
         - T * Si * 0.03305)
    el = m.exp(l)
    return [ths, m.exp(a), m.exp(n) + 1.0, 10.0 * (el - 1.0) / (1.0 + el),
            m.exp(k)]


def test_edge_inputs_match_stepwise_reference():
    assert_matches_reference(M.calc_ptf_wosten1999, reference)


def test_loam_worked_and_nan_dependence():
    # A loam, 20 % clay, 40 % silt, OM 2 %, BD 1.4 g/cm3, topsoil (values
    # of the equations, no worked example was found in the sources): near
    # the HYPRES medium topsoil class (0.439, 0.0314 1/cm, n 1.1804).
    assert_worked(M.calc_ptf_wosten1999, (20.0, 40.0, 2.0, 1.4, 1.0),
                  ["0.434556", "0.0362247", "1.19923", "-2.88728", "32.9462"])
    base = (20.0, 40.0, 2.0, 1.4, 1.0)
    assert_nan_dependence(M.calc_ptf_wosten1999, base, [
        {0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}, {0, 1, 2, 3, 4},
        {0, 1, 2, 4}])


def test_topsoil_enters_alpha_n_and_ks_only():
    top = call(M.calc_ptf_wosten1999, 30.0, 30.0, 3.0, 1.3, 1.0)
    sub = call(M.calc_ptf_wosten1999, 30.0, 30.0, 3.0, 1.3, 0.0)
    assert_same_bits(top[3], sub[3])  # no topsoil term in l*
    assert top[0] != sub[0] and top[1] != sub[1] and top[4] != sub[4]


def test_class_table_rows_and_missing_index():
    rows = call(M.calc_ptf_wosten1999_class, np.arange(11))
    assert list(rows[1]) == [0.403, 0.439, 0.430, 0.520, 0.614,
                                    0.366, 0.392, 0.412, 0.481, 0.538, 0.766]
    assert_same_bits(rows[6][5], 70.0)  # subsoil coarse Ks, cm/d
    assert_same_bits(rows[3][10], 1.2039)  # organic n
    # m is 1 - 1/n to the table's four decimals.
    np.testing.assert_allclose(rows[4], 1 - 1 / rows[3], atol=5e-5)
    for idx in (11, 2**32 - 1):
        out = call(M.calc_ptf_wosten1999_class, idx)
        assert all(int(bits(o)[0]) == 0x7FF8000000000000 for o in out)
