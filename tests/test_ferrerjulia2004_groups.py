"""Ferrer-Julia et al. (2004): soil-group regressions of Ks (mm/h)."""
import math

import numpy as np
import pytest

import _loamara as L
from ptfcheck import (LIBM, assert_matches_reference, assert_nan_dependence,
                      assert_same_bits, assert_worked, call)

P = "calc_ptf_ferrerjulia2004_"

# Group word, sand-form factor a, texture-form intercept c0: what each form
# returns when all its inputs are 0.
INTERCEPTS = [
    ("humic_acrisol", 1.5162, 16.019),
    ("calcic_cambisol", 1.043, -7.878),
    ("dystric_cambisol", 1.3182, -5.125),
    ("eutric_cambisol", 0.9356, -0.399),
    ("gleyic_cambisol", 0.2336, -12.986),
    ("humic_cambisol", 2.1622, 6.4429),
    ("calcaric_fluvisol", 0.814, -15.779),
    ("calcic_luvisol", 0.671, 5.379),
    ("chromic_luvisol", 0.898, -10.171),
    ("gleyic_luvisol", 0.5395, 10.28),
    ("orthic_luvisol", 1.3958, 4.829),
    ("ranker", 0.9847, -8.621),
    ("calcaric_regosol", 0.8931, 1.522),
    ("dystric_regosol", 1.096, -0.784),
    ("eutric_regosol", 1.0005, -5.5),
    ("rendzina", 2.4645, 23.288),
    ("gleyic_solonchak", 0.7602, -0.90917),
    ("general", 0.92, -4.994),
]
GROUPS = [g for g, _, _ in INTERCEPTS]


def sand_form(sand, a, b, m=math):
    t = sand * b
    t = m.exp(t)
    return t * a


def texture_form(sand, clay, om, c1, c0, c2, c3):
    s = sand * c1
    s = s + c0
    s = s - clay * c2
    return s - om * c3


@pytest.mark.parametrize("group, sand_ks, texture_ks", [
    ("general", "10.7147", "20.7246"),
    ("humic_acrisol", "14.5299", "22.3046"),
    ("gleyic_cambisol", "6.55911", "12.994"),
])
def test_worked_values(group, sand_ks, texture_ks):
    assert_worked(getattr(L, P + group + "_sand"), (50,), [sand_ks])
    assert_worked(getattr(L, P + group + "_texture_organic_matter"),
                  (50, 20, 2), [texture_ks])


@pytest.mark.parametrize("group, a, c0", INTERCEPTS)
def test_zero_inputs_return_the_intercepts(group, a, c0):
    assert_same_bits(call(getattr(L, P + group + "_sand"), 0.0)[0], a)
    got = call(getattr(L, P + group + "_texture_organic_matter"), 0, 0, 0)[0]
    assert_same_bits(got, c0)


# Constants of two groups, one with a positive and one with a negative
# intercept, against the step-by-step order of evaluation.
@pytest.mark.parametrize("group, a, b, c1, c0, c2, c3", [
    ("general", 0.92, 0.0491, 0.56728, -4.994, 0.131, 0.0127),
    ("humic_acrisol", 1.5162, 0.0452, 0.345, 16.019, 0.548, 0.00221),
])
def test_exact_order_of_operations(group, a, b, c1, c0, c2, c3):
    rng = np.random.default_rng(7)
    sand, clay, om = rng.uniform(0, 100, (3, 300))
    om = om / 10
    assert_same_bits(call(getattr(L, P + group + "_sand"), sand)[0],
                     [sand_form(s, a, b) for s in sand])
    got = call(getattr(L, P + group + "_texture_organic_matter"),
               sand, clay, om)[0]
    assert_same_bits(got, [texture_form(*p, c1, c0, c2, c3)
                           for p in zip(sand, clay, om)])


@pytest.mark.parametrize("group, a, b", [("general", 0.92, 0.0491),
                                         ("rendzina", 2.4645, 0.0325)])
def test_sand_form_on_edge_inputs(group, a, b):
    assert_matches_reference(getattr(L, P + group + "_sand"),
                             lambda sand: [sand_form(sand, a, b, LIBM)])


def test_no_clamp():
    # Negative conductivities of the linear form are returned as they are.
    assert call(L.calc_ptf_ferrerjulia2004_general_texture_organic_matter,
                0, 0, 0)[0] == -4.994
    assert call(L.calc_ptf_ferrerjulia2004_calcaric_fluvisol_texture_organic_matter,
                0, 0, 0)[0] == -15.779
    # Negative sand is extrapolated: below the factor a, below the intercept.
    assert 0 < call(L.calc_ptf_ferrerjulia2004_general_sand, -10)[0] < 0.92
    assert call(L.calc_ptf_ferrerjulia2004_general_texture_organic_matter,
                -10, 0, 0)[0] < -4.994


def test_sand_form_overflows_to_infinity():
    f = L.calc_ptf_ferrerjulia2004_general_sand
    assert np.isfinite(call(f, 14455.0)[0])
    with np.errstate(over="ignore"):
        assert call(f, 14457.0)[0] == math.inf


@pytest.mark.parametrize("group", GROUPS)
def test_nan_reaches_the_output_only_of_its_element(group):
    sand = getattr(L, P + group + "_sand")
    texture = getattr(L, P + group + "_texture_organic_matter")
    assert_nan_dependence(sand, [50.0], [{0}])
    assert_nan_dependence(texture, [50.0, 20.0, 2.0], [{0}, {0}, {0}])
    got = call(texture, [50.0, np.nan], [20.0, 20.0], [2.0, 2.0])[0]
    assert np.isnan(got[1])
    assert_same_bits(got[0], call(texture, 50, 20, 2)[0])
