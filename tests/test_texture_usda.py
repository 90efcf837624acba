"""USDA texture classes: calc_texture_usda of loamara._curves against the
class definitions of the Soil Survey Manual, and the names and Clapp and
Hornberger indices of loamara.texture."""
import numpy as np
import pytest

import _loamara
import loamara
from loamara.texture import (USDA_CLASSES, clapp_index_from_usda,
                             usda_class_names)
from ptfcheck import bits

usda = loamara.calc_texture_usda
S, LS, SL, SIL, SI, L, SCL, SICL, CL, SC, SIC, C = range(1, 13)


def manual_classes(sand, silt, clay, u):
    """The manual's twelve definitions, word for word, on whole numbers in
    units of 1/u percent (exact arithmetic); sand and loamy sand take the
    points that the second sandy-loam clause shares with them.  Returns the
    class code of every point, 0 where no class or several classes hold."""
    p = {
        S: (sand >= 85 * u) & (2 * silt + 3 * clay < 30 * u),
        LS: (sand >= 70 * u) & (sand <= 91 * u)
        & (2 * silt + 3 * clay >= 30 * u) & (silt + 2 * clay < 30 * u),
        SL: ((clay >= 7 * u) & (clay < 20 * u) & (sand > 52 * u)
             & (silt + 2 * clay >= 30 * u))
        | ((clay < 7 * u) & (silt < 50 * u) & (sand > 43 * u)),
        L: (clay >= 7 * u) & (clay < 27 * u) & (silt >= 28 * u)
        & (silt < 50 * u) & (sand <= 52 * u),
        SIL: ((silt >= 50 * u) & (clay >= 12 * u) & (clay < 27 * u))
        | ((silt >= 50 * u) & (silt < 80 * u) & (clay < 12 * u)),
        SI: (silt >= 80 * u) & (clay < 12 * u),
        SCL: (clay >= 20 * u) & (clay < 35 * u) & (silt < 28 * u)
        & (sand > 45 * u),
        CL: (clay >= 27 * u) & (clay < 40 * u) & (sand > 20 * u)
        & (sand <= 45 * u),
        SICL: (clay >= 27 * u) & (clay < 40 * u) & (sand <= 20 * u),
        SC: (clay >= 35 * u) & (sand > 45 * u),
        SIC: (clay >= 40 * u) & (silt >= 40 * u),
        C: (clay >= 40 * u) & (sand <= 45 * u) & (silt < 40 * u),
    }
    p[SL] &= ~(p[S] | p[LS])
    hits = sum(v.astype(int) for v in p.values())
    code = sum(k * v for k, v in p.items())
    return np.where(hits == 1, code, 0)


def triangle(u):
    """Every (sand, silt, clay) in steps of 1/u percent adding up to 100,
    as whole numbers of 1/u percent."""
    sand, clay = np.meshgrid(np.arange(100 * u + 1), np.arange(100 * u + 1),
                             indexing="ij")
    keep = sand + clay <= 100 * u
    sand, clay = sand[keep], clay[keep]
    return sand, 100 * u - sand - clay, clay


def test_every_tenth_of_a_percent_as_the_manual():
    # 501501 points: every corner and edge of every class, every point on
    # a limit and 0.1 on either side, each given as the nearest double to
    # its one-decimal value.
    sand, silt, clay = triangle(10)
    want = manual_classes(sand, silt, clay, 10)
    assert np.all(want > 0)   # the definitions tile the triangle
    got = usda(sand / 10.0, silt / 10.0, clay / 10.0)
    np.testing.assert_array_equal(got, want)


def test_hundredths_on_and_beside_the_sloping_lines():
    # Points given to two decimals on silt + 1.5 clay = 15 and silt + 2 clay
    # = 30, and 0.01 beside them, where a sum of rounded decimals decides.
    clay = np.arange(1501)
    silt = np.concatenate(
        [(3000 + d - 3 * clay) / 2 for d in (-2, -1, 0, 1, 2)]
        + [3000 + d - 2 * clay for d in (-1, 0, 1)])
    clay = np.tile(clay, 8)
    keep = (silt >= 0) & (silt == np.floor(silt))
    silt, clay = silt[keep].astype(int), clay[keep]
    sand = 10000 - silt - clay
    got = usda(sand / 100.0, silt / 100.0, clay / 100.0)
    np.testing.assert_array_equal(got, manual_classes(sand, silt, clay, 100))


# A point on each limit between two classes: (sand, silt, clay), its class,
# and the class 0.1 percent across the limit.
LIMITS = [
    ((85.0, 15.0, 0.0), LS, (85.1, 14.9, 0.0), S),     # silt+1.5clay = 15
    ((89.8, 0.6, 9.6), LS, (89.9, 0.6, 9.5), S),       # the same, decimals
    ((70.0, 30.0, 0.0), SL, (70.1, 29.9, 0.0), LS),    # silt+2clay = 30
    ((85.0, 0.0, 15.0), SL, (85.1, 0.0, 14.9), LS),
    ((52.0, 38.0, 10.0), L, (52.1, 37.9, 10.0), SL),   # sand 52
    ((45.0, 48.0, 7.0), L, (45.0, 48.1, 6.9), SL),     # clay 7
    ((45.0, 50.0, 5.0), SIL, (45.1, 49.9, 5.0), SL),   # silt 50
    ((60.0, 20.0, 20.0), SCL, (60.0, 20.1, 19.9), SL),  # clay 20
    ((30.0, 50.0, 20.0), SIL, (30.1, 49.9, 20.0), L),
    ((50.0, 28.0, 22.0), L, (50.1, 27.9, 22.0), SCL),  # silt 28
    ((35.0, 38.0, 27.0), CL, (35.0, 38.1, 26.9), L),   # clay 27
    ((10.0, 80.0, 10.0), SI, (10.1, 79.9, 10.0), SIL),  # silt 80
    ((5.0, 83.0, 12.0), SIL, (5.0, 83.1, 11.9), SI),   # clay 12
    ((10.0, 63.0, 27.0), SICL, (10.0, 63.1, 26.9), SIL),
    ((55.0, 10.0, 35.0), SC, (55.0, 10.1, 34.9), SCL),  # clay 35
    ((45.0, 25.0, 30.0), CL, (45.1, 24.9, 30.0), SCL),  # sand 45
    ((20.0, 50.0, 30.0), SICL, (20.1, 49.9, 30.0), CL),  # sand 20
    ((30.0, 30.0, 40.0), C, (30.0, 30.1, 39.9), CL),   # clay 40
    ((10.0, 50.0, 40.0), SIC, (10.0, 50.1, 39.9), SICL),
    ((15.0, 40.0, 45.0), SIC, (15.1, 39.9, 45.0), C),  # silt 40
    ((45.0, 10.0, 45.0), C, (45.1, 9.9, 45.0), SC),
    ((45.0, 18.0, 37.0), CL, (45.1, 17.9, 37.0), SC),
    ((100.0, 0.0, 0.0), S, (0.0, 100.0, 0.0), SI),     # corners
    ((0.0, 0.0, 100.0), C, (52.0, 28.0, 20.0), L),
    ((52.1, 27.9, 20.0), SCL, (52.1, 28.0, 19.9), SL),
]


@pytest.mark.parametrize("on, on_class, across, across_class", LIMITS)
def test_limits(on, on_class, across, across_class):
    assert usda(*map(np.float64, on)) == on_class
    assert usda(*map(np.float64, across)) == across_class


def test_one_unit_in_the_last_place_counts():
    # The limits are exact: the double just below 40 percent clay is less
    # than 40 (its sum differs from 100 by far less than 1e-12, so the
    # values are used as given, not rescaled).
    below = np.nextafter(40.0, 0.0)
    assert usda(30.0, 30.0, below) == CL
    assert usda(30.0, 30.0, 40.0) == C
    assert usda(np.nextafter(45.0, 100.0), 10.0, 45.0) == SC


def test_decimals_whose_double_sum_is_not_100_are_used_as_given():
    # On silt + 2 clay = 30; the double sum is 100 + 1.4e-14, and
    # rescaling by 100 / sum would move the point below the line (50 such
    # points among the one-decimal samples).
    s, si, c = 70.2, 29.6, 0.2
    assert s + si + c != 100.0
    assert usda(s, si, c) == SL
    assert usda(*(100 * x / (s + si + c) for x in (s, si, c))) == LS


@pytest.mark.parametrize("scale", [0.5, 2.0, 3.0, 1e6])
def test_other_sums_are_rescaled(scale):
    # Scales under which (100 x value) / sum is exact: the limits hold.
    sand, silt, clay = triangle(2)   # steps of 0.5 percent
    want = usda(sand / 2.0, silt / 2.0, clay / 2.0)
    got = usda(sand / 2.0 * scale, silt / 2.0 * scale, clay / 2.0 * scale)
    np.testing.assert_array_equal(got, want)


def test_fractions_and_sums_off_100():
    # Mass fractions, off the limits by 0.1 percent.
    across = np.array([a for _, _, a, _ in LIMITS])
    want = usda(*across.T)
    np.testing.assert_array_equal(usda(*(across.T / 100.0)), want)
    # A sample that does not add up: 40 40 10 is 44.4 44.4 11.1.
    assert usda(40.0, 40.0, 10.0) == L
    assert usda(40.0, 40.0, 15.0) == usda(100 * 40 / 95, 100 * 40 / 95,
                                          100 * 15 / 95)


@pytest.mark.parametrize("sample", [
    (np.nan, 40.0, 20.0), (40.0, np.nan, 20.0), (40.0, 40.0, np.nan),
    (np.inf, 40.0, 20.0), (40.0, -np.inf, 20.0), (40.0, 40.0, np.inf),
    (-1.0, 60.0, 41.0), (40.0, -1e-300, 60.0), (50.0, 50.0, -0.5),
    (0.0, 0.0, 0.0),
])
def test_unclassifiable_is_nan_without_warning(sample):
    with np.errstate(all="raise"):
        assert np.isnan(usda(*map(np.float64, sample)))
        # The contiguous loop, several elements at a time.
        cols = [np.full(17, v) for v in sample]
        assert np.isnan(usda(*cols)).all()


def test_negative_zero_is_not_negative():
    assert usda(-0.0, 60.0, 40.0) == SIC
    assert usda(100.0, -0.0, -0.0) == S


def test_overflow_is_nan():
    with np.errstate(over="ignore"):
        assert np.isnan(usda(1e308, 1e308, 1.0))
        assert np.isnan(usda(1e307, 1.0, 1.0))


def test_names_and_codes():
    assert len(USDA_CLASSES) == 12
    assert USDA_CLASSES[0] == "sand" and USDA_CLASSES[-1] == "clay"
    codes = np.array([[1.0, 5.0, np.nan], [12.0, 7.0, 3.0]])
    assert usda_class_names(codes).tolist() == [
        ["sand", "silt", ""], ["clay", "sandy clay loam", "sandy loam"]]
    assert usda_class_names(np.float64(6.0)).shape == ()
    for bad in (0.0, 13.0, 2.5, np.inf):
        with pytest.raises(ValueError, match="USDA texture class"):
            usda_class_names([1.0, bad])


def test_clapp_index():
    codes = np.append(np.arange(1.0, 13.0), np.nan)
    index = clapp_index_from_usda(codes)
    assert index.dtype == np.uint32
    assert index.tolist() == [0, 1, 2, 3, 3, 4, 5, 6, 7, 8, 9, 10, 11]
    # Names agree where both tables have the class; silt takes silt loam.
    clapp_names = ["sand", "loamy sand", "sandy loam", "silt loam", "loam",
                   "sandy clay loam", "silty clay loam", "clay loam",
                   "sandy clay", "silty clay", "clay"]
    for code, i in zip(codes[:12], index[:12]):
        name = USDA_CLASSES[int(code) - 1]
        assert clapp_names[i] == ("silt loam" if name == "silt" else name)
    # An unclassified sample gives NaN in every Clapp output.
    out = _loamara.calc_ptf_clapp1978(clapp_index_from_usda(
        usda(np.float64(np.nan), np.float64(1.0), np.float64(1.0))))
    assert all(bits(o) == bits(np.nan) for o in out)
