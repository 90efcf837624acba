"""Toth et al. (2015): PTF21 and the point functions PTF05, PTF09, PTF12."""
import numpy as np
import pytest

import loamara._more as M
from ptfcheck import (LIBM, assert_matches_reference, assert_nan_dependence,
                      assert_same_bits, assert_worked, call)


def ref21(sand, silt, clay, oc, bd, top):
    tr = np.where(sand >= 1.995, 0.040732, np.where(sand < 1.995, 0.179, sand))
    ts = 0.830807 - bd * 0.282171 + clay * 0.000273 + silt * 0.000187
    a = (-0.433481 - bd * 0.417292 - oc * 0.047619 + top * 0.218103
         - clay * 0.015814 - silt * 0.012072)
    n = (0.222359 - bd * 0.301891 - oc * 0.010721 - top * 0.055577
         - clay * 0.005306 - silt * 0.003084)
    return [tr, ts, LIBM.pow(10.0, a), LIBM.pow(10.0, n) + 1.0]


def ref05(silt, clay, oc, bd, top):
    q = 1.0 / (oc + 1.0)
    bd2 = bd * bd
    return [0.681887 - q * 0.064796 - bd2 * 0.119004 - top * 0.026683
            + clay * 0.001489 + silt * 0.000803 + q * bd2 * 0.02321
            + bd2 * top * 0.01908 - top * clay * 0.001109
            - clay * silt * 2.3e-05 - bd2 * silt * 0.00012
            - bd2 * clay * 0.000107]


def ref09(silt, clay, oc):
    q = 1.0 / (oc + 1.0)
    return [0.244921 - q * 0.188651 + clay * 0.004527 + silt * 0.001535
            + q * silt * 0.001442 - clay * silt * 5.1e-05 + q * clay * 0.000868]


def ref12(silt, clay, oc):
    q = 1.0 / (oc + 1.0)
    return [0.098776 + clay * 0.002127 - silt * 0.000837 - q * 0.076699
            + clay * silt * 3.9e-05 + clay * q * 0.00233 + silt * q * 0.00095]


@pytest.mark.parametrize("ufunc, reference", [
    (M.calc_ptf_toth2015, ref21), (M.calc_ptf_toth2015_ptf05, ref05),
    (M.calc_ptf_toth2015_ptf09, ref09), (M.calc_ptf_toth2015_ptf12, ref12)])
def test_edge_inputs_match_stepwise_reference(ufunc, reference):
    assert_matches_reference(ufunc, reference)


def test_loam_worked_values():
    assert_worked(M.calc_ptf_toth2015, (40.0, 40.0, 20.0, 1.2, 1.4, 1.0),
                  ["0.040732", "0.4487076", "0.0220857", "1.317533"])
    # FC above WP for the same loam.
    fc = call(M.calc_ptf_toth2015_ptf09, 40.0, 20.0, 1.2)[0]
    wp = call(M.calc_ptf_toth2015_ptf12, 40.0, 20.0, 1.2)[0]
    assert 0.0 < wp < fc < 0.5


def test_residual_water_tree_split_and_nan():
    tr = call(M.calc_ptf_toth2015, np.array([0.0, 1.9949999, 1.995, 90.0,
                                             np.nan]), 40, 20, 1, 1.4, 0)[0]
    assert_same_bits(tr, [0.179, 0.179, 0.040732, 0.040732, np.nan])
    assert_nan_dependence(M.calc_ptf_toth2015, (40, 40, 20, 1.2, 1.4, 1), [
        {0}, {1, 2, 3}, {1, 2, 3}, {2, 3}, {1, 2, 3}, {2, 3}])
