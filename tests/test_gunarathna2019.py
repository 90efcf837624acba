"""Gunarathna et al. (2019): volumetric water content at 10, 33, 1500 kPa."""
import numpy as np
import pytest

import _loamara as L
from ptfcheck import assert_nan_dependence, assert_same_bits, assert_worked, call

P = "calc_ptf_gunarathna2019_"

# Equation, worked-value inputs, worked value, intercept.
ROWS = [
    ("vwc10_set1", (40,), "0.3322", 0.4802),
    ("vwc10_set2", (40, 30), "0.3557", 0.3967),
    ("vwc10_set3", (40, 30, 1.5), "0.3526", 0.4436),
    ("vwc10_set4", (40, 30, 1.5), "0.3598", 0.3951),
    ("vwc33_set1", (40,), "0.2957", 0.4357),
    ("vwc33_set2", (40, 30), "0.3141", 0.3701),
    ("vwc33_set3", (40, 30, 1.5), "0.3074", 0.4236),
    ("vwc33_set4", (40, 30, 1.5), "0.31695", 0.3686),
    ("vwc1500_set1", (40,), "0.2226", 0.3426),
    ("vwc1500_set3", (40, 1.5), "0.213225", 0.6397),
    ("vwc1500_set4", (40, 1.5), "0.23425", 0.3278),
]


@pytest.mark.parametrize("variant, args, worked, intercept", ROWS)
def test_worked_value_and_intercept(variant, args, worked, intercept):
    f = getattr(L, P + variant)
    assert f.nin == len(args)
    assert_worked(f, args, [worked])
    assert_same_bits(call(f, *([0.0] * len(args)))[0], intercept)
    assert_nan_dependence(f, list(args), [{0}] * len(args))


# Step-by-step references, one per shape of equation, with the constants of
# one of its equations.  A square is (x * x) * c.
REFERENCES = [
    ("vwc33_set1", lambda x1: 0.4357 - x1 * 0.0035),
    ("vwc10_set2", lambda x1, x2: (0.3967 - x1 * 0.0029) + x2 * 0.0025),
    ("vwc33_set3",
     lambda x1, x2, x3: ((0.4236 - x1 * 0.0028) + x2 * 0.0018) - x3 * 0.0388),
    ("vwc10_set4",
     lambda x1, x2, x3: ((0.3951 - x1 * 0.0029) + x2 * 0.0023)
     + (x3 * x3) * 0.0052),
    ("vwc1500_set3",
     lambda x1, x2: ((0.6397 - x1 * 0.0028) - x2 * 0.385) + (x2 * x2) * 0.1169),
    ("vwc1500_set4", lambda x1, x2: (0.3278 - x1 * 0.0028) + (x2 * x2) * 0.0082),
]


@pytest.mark.parametrize("variant, ref", REFERENCES)
def test_exact_order_of_operations(variant, ref):
    f = getattr(L, P + variant)
    rng = np.random.default_rng(11)
    # Wide enough that the squared terms dominate the sums, where the
    # grouping of (x * x) * c shows in the last bit.
    x = rng.uniform(0, 80, (f.nin, 300))
    got = call(f, *x)[0]
    assert_same_bits(got, [ref(*p) for p in x.T])


def test_squared_terms_ignore_the_sign():
    for variant in ("vwc10_set4", "vwc33_set4"):
        f = getattr(L, P + variant)
        assert_same_bits(call(f, 40, 30, -1.5)[0], call(f, 40, 30, 1.5)[0])
    f = L.calc_ptf_gunarathna2019_vwc1500_set4
    assert_same_bits(call(f, 40, -1.5)[0], call(f, 40, 1.5)[0])
    # The quadratic also has a linear term in x2, which does see the sign.
    f = L.calc_ptf_gunarathna2019_vwc1500_set3
    assert call(f, 40, -1.5)[0] > call(f, 40, 1.5)[0]


def test_large_first_input_gives_negative_water_content():
    f = L.calc_ptf_gunarathna2019_vwc10_set1
    assert call(f, 129.7)[0] > 0 > call(f, 129.9)[0]
    f = L.calc_ptf_gunarathna2019_vwc1500_set1
    assert call(f, 114.1)[0] > 0 > call(f, 114.3)[0]


def test_there_is_no_set2_equation_at_1500_kpa():
    with pytest.raises(AttributeError):
        getattr(L, P + "vwc1500_set2")
