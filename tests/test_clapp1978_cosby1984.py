"""Clapp and Hornberger (1978) class table and Cosby et al. (1984)
univariate regressions."""
import numpy as np
import pytest

import _loamara as L
from ptfcheck import (assert_nan_dependence, assert_same_bits, assert_worked,
                      bits, call)

CLAPP = L.calc_ptf_clapp1978
COSBY = L.calc_ptf_cosby1984_univariate
QUIET_NAN = np.uint64(0x7FF8000000000000)

ROWS = {
    0: [4.05, 3.5, 4.66, 0.395, 1.056, 1.52],
    4: [5.39, 14.6, 20.0, 0.451, 0.0417, 0.693],
    6: [7.75, 14.6, 19.7, 0.477, 0.0102, 0.31],
    8: [10.4, 6.16, 8.18, 0.426, 0.013, 0.223],
    9: [10.4, 17.4, 23.0, 0.492, 0.0062, 0.242],
    10: [11.4, 18.6, 24.3, 0.482, 0.0077, 0.268],
}


@pytest.mark.parametrize("k", sorted(ROWS))
def test_clapp_rows(k):
    assert_worked(CLAPP, (k,), ROWS[k])


@pytest.mark.parametrize("k", [11, 12, 2**31, 4294967295])
def test_clapp_outside_table_is_quiet_nan(k):
    for out in call(CLAPP, k):
        assert bits(out)[()] == QUIET_NAN


def test_clapp_mixed_array():
    idx = np.array([10, 11, 0, 4294967295, 9, 2**31 - 1], dtype=np.uint32)
    outs = CLAPP(idx)
    for j in range(6):
        b = bits(outs[j])
        assert list(b[[1, 3, 5]]) == [QUIET_NAN] * 3
        assert_same_bits(outs[j][[0, 2, 4]],
                         [ROWS[10][j], ROWS[0][j], ROWS[9][j]])


def test_cosby_worked():
    assert_worked(COSBY, (40.0, 40.0, 20.0),
                  ["6.09", "1.356", "-0.272", "43.86", "2.34", "0.5874",
                   "6.27"])


def test_cosby_exact_values():
    assert_worked(COSBY, (0.0, 0.0, 0.0),
                  [2.91, 1.88, -0.884, 48.9, 1.34, 0.459, 7.73])
    assert call(COSBY, 400.0, 0.0, 0.0)[3] < 0


def test_cosby_nan_dependence():
    assert_nan_dependence(COSBY, (40.0, 40.0, 20.0),
                          [{1, 2, 3}, {5}, {0, 4, 6}])


def test_clapp_signed_index():
    # Python ints and NumPy's default integer take the int64 loop: the same
    # row bit for bit as the uint32 loop, and the defined NaN for any index
    # outside 0..10, negative ones included.
    table = CLAPP(np.arange(11, dtype=np.uint32))
    for got in (CLAPP(np.arange(12)), CLAPP(np.arange(12, dtype=np.int8))):
        for g, t in zip(got, table):
            assert (bits(g[:11]) == bits(t)).all() and bits(g[11]) == QUIET_NAN
    for j, out in enumerate(CLAPP(3)):
        assert bits(out) == bits(table[j][3])
    for k in (-1, 2**40, -2**63, 2**63 - 1):
        for out in CLAPP(k):
            assert bits(out)[()] == QUIET_NAN


def test_clapp_uint64_index_does_not_wrap():
    # Through a uint32 cast, 2**32 + 4 would wrap onto the loam row.
    idx = np.array([4, 2**32 + 4, 2**63 + 4, 2**64 - 1], dtype=np.uint64)
    outs = CLAPP(idx)
    for j in range(6):
        assert_same_bits(outs[j][0], ROWS[4][j])
        assert list(bits(outs[j])[1:]) == [QUIET_NAN] * 3
