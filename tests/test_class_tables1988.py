"""Class tables by USDA class index: Carsel and Parrish (1988), Rawls,
Brakensiek and Saxton (1982), Rosetta class averages (Schaap et al. 2001)."""
from decimal import Decimal, getcontext

import numpy as np
import pytest

import loamara._more as M
from ptfcheck import assert_same_bits, bits, call

# USDA index: code of calc_texture_usda less one.
SAND, LOAMY_SAND, SILT, LOAM, CLAY = 0, 1, 4, 5, 11


def pow10(text):
    getcontext().prec = 50
    return float(Decimal(10) ** Decimal(text))


def test_carsel_parrish_rows():
    rows = call(M.calc_ptf_carsel1988, np.arange(12))
    assert_same_bits(rows[2][LOAMY_SAND], 0.124)  # not HYDRUS' 0.125
    assert [r[LOAM] for r in rows] == [0.078, 0.43, 0.036, 1.56, 24.96]
    assert [r[SILT] for r in rows] == [0.034, 0.46, 0.016, 1.37, 6.0]
    assert rows[4][SAND] == 712.8 and rows[3][CLAY] == 1.09


def test_rawls_classes_have_no_silt():
    rows = call(M.calc_ptf_rawls1982_class, np.arange(12))
    assert [r[SAND] for r in rows] == [0.020, 0.437, 0.592, 7.26, 504.0]
    assert [r[CLAY] for r in rows] == [0.090, 0.475, 0.131, 37.30, 1.44]
    assert all(np.isnan(r[SILT]) for r in rows)
    assert np.isfinite(np.delete(np.array(rows), SILT, axis=1)).all()


def test_rosetta_powers_of_ten_are_the_nearest_doubles():
    rows = call(M.calc_ptf_schaap2001_class, np.arange(12))
    # Loam: log10 alpha -1.954, log10 n 0.168, log10 Ks 1.081, K0 0.568.
    assert [r[LOAM] for r in rows] == [
        0.061, 0.399, pow10("-1.954"), pow10("0.168"), pow10("1.081"),
        pow10("0.568"), -0.371]
    assert rows[2][CLAY] == pow10("-1.825") and rows[4][SAND] == pow10("2.808")
    np.testing.assert_allclose(rows[4][SAND], 642.69, atol=0.005)


@pytest.mark.parametrize("ufunc", [M.calc_ptf_carsel1988,
                                   M.calc_ptf_rawls1982_class,
                                   M.calc_ptf_schaap2001_class])
def test_index_past_the_table_is_nan(ufunc):
    for out in call(ufunc, [12, 1000, 2**32 - 1]):
        assert (bits(out) == 0x7FF8000000000000).all()
    # The int64 loop: the same rows, and NaN for a negative index.
    signed = ufunc(np.array([-1, 5, 2**40], dtype=np.int64))
    for s, u in zip(signed, call(ufunc, [5])):
        assert (bits(s[[0, 2]]) == 0x7FF8000000000000).all()
        assert_same_bits(s[1], u[0])
