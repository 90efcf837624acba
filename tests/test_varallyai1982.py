import numpy as np
import pytest

import _loamara
from ptfcheck import assert_nan_dependence, assert_same_bits, assert_worked, call

MEADOW = _loamara.calc_ptf_varallyai1982_meadow
CHERN_A = _loamara.calc_ptf_varallyai1982_chernozem_a
CHERN_B = _loamara.calc_ptf_varallyai1982_chernozem_b
CHERN_C = _loamara.calc_ptf_varallyai1982_chernozem_c


@pytest.mark.parametrize("ufunc, intercepts", [
    (MEADOW, [62.85, 0.156, 3.749]),
    (CHERN_A, [123.79, -0.053, -0.417]),
    (CHERN_B, [140.7, -0.482, -3.075]),
    (CHERN_C, [115.39, 0.625, 0.301]),
])
def test_zero_inputs_give_intercepts(ufunc, intercepts):
    assert_worked(ufunc, (0.0,) * ufunc.nin, intercepts)


@pytest.mark.parametrize("x0, x1, x2", [(1.37, 0.83, 1.21), (0.3, 2.9, 0.77)])
def test_meadow_matches_stepwise_reference(x0, x1, x2):
    want = [x2 * x2 * 14.46 - x0 * x0 * 8.78 + 62.85,
            x1 * x1 * 0.576 - x1 * 1.434 * x2 + 0.156,
            x0 * 1.103 * x2 - x1 * 1.702 + 3.749]
    assert_same_bits(np.array(call(MEADOW, x0, x1, x2)), np.array(want))


@pytest.mark.parametrize("x0, x1", [(1.37, 0.83), (0.3, 2.9)])
def test_chernozem_b_matches_stepwise_reference(x0, x1):
    # y0 multiplies x0 by the negative coefficient first.
    want = [x0 * -62.2 - x1 * x1 * 49.14 + 140.7, x0 * 0.635 - 0.482,
            x0 * 4.27 * x1 + x0 * 3.509 - 3.075]
    assert_same_bits(np.array(call(CHERN_B, x0, x1)), np.array(want))


@pytest.mark.parametrize("ufunc, base, uses", [
    (MEADOW, (1.2, 0.8, 1.5), [{0, 2}, {1, 2}, {0, 1, 2}]),
    (CHERN_A, (1.2, 0.8), [{0, 1, 2}, {0, 2}]),
    (CHERN_B, (1.2, 0.8), [{0, 1, 2}, {0, 2}]),
    (CHERN_C, (1.2, 0.8), [{0, 1, 2}, {1, 2}]),
])
def test_nan_dependence(ufunc, base, uses):
    assert_nan_dependence(ufunc, base, uses)
