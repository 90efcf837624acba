"""Units as data: conversions bit for bit as by hand, output units, the
plausibility checks and the presets."""
import warnings

import numpy as np
import pytest

import _loamara
import loamara
from ptfcheck import assert_same_bits

pint = pytest.importorskip("pint")
from loamara import units  # noqa: E402

SAXTON = _loamara.calc_ptf_saxton2006
JABRO = _loamara.calc_ptf_jabro1992
SAND_PCT = np.array([40.0, 33.3, 10.1, 85.0])
CLAY_PCT = np.array([20.0, 12.7, 45.0, 5.0])


@pytest.mark.parametrize("src, dst, op, value", [
    ("%", "dimensionless", "divide", 100.0),
    ("g/kg", "percent", "divide", 10.0),
    ("dg/kg", "percent", "divide", 100.0),
    ("cg cm-3", "g/cm^3", "divide", 100.0),      # CF spelling
    ("10^-3 cm³/cm³", "cm^3/cm^3", "divide", 1000.0),
    ("m/s", "mm/h", "multiply", 3600000.0),
    ("mm/h", "cm/d", "multiply", 2.4),
    ("cm", "kPa", "multiply", 0.0980665),          # a head of water
    ("1/cm", "1/kPa", "multiply", 1 / 0.0980665),
    ("pHx10", "pH", "divide", 10.0),
])
def test_conversions_are_one_exact_operation(src, dst, op, value):
    c = units.conversion(src, dst)
    assert getattr(c, op) == pytest.approx(value, rel=1e-15)
    x = np.array([0.1, 37.3, 1e-300, np.nan])
    want = x / value if op == "divide" else x * value
    assert_same_bits(c.apply(x), want)


@pytest.mark.parametrize("src, dst", [("g/cm^3", "%"), ("mm/h", "kPa"),
                                      ("no such unit", "%")])
def test_units_that_do_not_convert(src, dst):
    with pytest.raises(units.UnitError):
        units.conversion(src, dst)


def test_given_units_equal_conversion_by_hand_bit_for_bit():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        # The inputs are right; the air-entry tension of the sandiest soil
        # is negative, which the output check reports.
        warnings.filterwarnings("ignore", r"calc_ptf_saxton2006: output "
                                "psi_e", loamara.RangeWarning)
        r = loamara.estimate("saxton2006", sand=SAND_PCT, clay=CLAY_PCT * 10,
                             om=pint.Quantity(25.0, "g/kg"),
                             units={"sand": "%", "clay": "g/kg"})
    want = SAXTON(SAND_PCT / 100, CLAY_PCT * 10 / 1000, 25.0 / 10)
    for got, w in zip(r.values(), want):
        assert_same_bits(got, w)
    assert r.units["ksat"] == "mm/h" and r.units["theta_33"] == "cm^3/cm^3"


def test_output_units_and_logarithms():
    r = loamara.estimate("saxton2006", sand=0.4, clay=0.2, om=2.5,
                         out_units={"ksat": "cm/d", "psi_e": "cmH2O"})
    plain = SAXTON(0.4, 0.2, 2.5)
    assert_same_bits(r.ksat, plain[8] * 2.4)
    assert r.psi_e == pytest.approx(plain[4] / 0.0980665, rel=1e-15)
    assert r.units["ksat"] == "cm/d" and r.units["psi_e"] == "cmH2O"
    c = loamara.estimate("cosby1984_univariate", sand=40, silt=40, clay=20,
                         out_units={"log10_ksat": "mm/h"})
    assert c.units["log10_ksat"] == "mm/h"
    assert c.log10_ksat == pytest.approx(10 ** (40 * 0.0153 - 0.884) * 25.4,
                                         rel=1e-14)
    with pytest.raises(TypeError, match="not an output"):
        loamara.estimate("saxton2006", sand=0.4, clay=0.2, om=2.5,
                         out_units={"Ks": "cm/d"})
    with pytest.raises(units.UnitError):
        loamara.estimate("saxton2006", sand=0.4, clay=0.2, om=2.5,
                         out_units={"ksat": "kPa"})


def test_percent_sand_to_saxton_is_caught_and_named():
    sand = SAND_PCT.copy()
    with pytest.warns(loamara.RangeWarning) as rec:
        loamara.estimate("saxton2006", sand=sand, clay=0.2, om=2.5)
    text = str(rec[0].message)
    assert "sand has values from 10.1 to 85" in text
    assert "[0, 1] mass fraction" in text and "units={'sand': '%'}" in text
    assert "clay" not in text
    # The second warning is the outputs', which percent sand made
    # impossible.
    assert len(rec) == 2 and "output theta_33" in str(rec[1].message)
    assert_same_bits(sand, SAND_PCT)  # a check never alters the data
    with pytest.raises(loamara.RangeError, match="units={'sand': '%'}"):
        loamara.estimate("saxton2006", sand=sand, clay=0.2, om=2.5,
                         check="raise")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with np.errstate(all="ignore"):
            loamara.estimate("saxton2006", sand=40.0, clay=0.2, om=2.5,
                             check="off")
    with pytest.raises(ValueError, match="check must be one of"):
        loamara.estimate("saxton2006", sand=0.4, clay=0.2, om=2.5,
                         check="loud")


@pytest.mark.parametrize("kwargs, words", [
    # Percent inputs that all look like fractions, and sums far from 100.
    (dict(sand=0.4, silt=0.4, clay=0.2), ["between 0 and 1",
                                          "units={'sand': '1'}", "is 1 %"]),
    (dict(sand=[40, 50], silt=[40, 30], clay=[40, 20]),
     ["far from 100 % in 1 of 2 samples", "from 120 to 120"]),
    # SoilGrids integers given as if they were percent.
    (dict(sand=[400], silt=[400], clay=[200]), ["units={'sand': 'g/kg'}"]),
])
def test_each_check_of_the_texture(kwargs, words):
    with pytest.warns(loamara.RangeWarning) as rec:
        loamara.estimate("cosby1984_univariate", **kwargs)
    for w in words:
        assert w in str(rec[0].message)


def test_bulk_density_in_soilgrids_units_is_recognised():
    with pytest.warns(loamara.RangeWarning, match="units={'bd': 'cg/cm"):
        loamara.estimate("jabro1992", silt=40, clay=20, bd=[140.0, 150.0])


def test_soilgrids_dataset_to_theta_33_and_ksat_maps():
    xr = pytest.importorskip("xarray")
    rng = np.random.default_rng(5)
    shape = (3, 4)
    coords = {"y": [3.0, 2.0, 1.0], "x": [10.0, 11.0, 12.0, 13.0]}

    def layer(lo, hi, unit):
        return xr.DataArray(rng.integers(lo, hi, shape).astype(np.int16),
                            dims=("y", "x"), coords=coords,
                            attrs={"units": unit})
    ds = xr.Dataset({"sand_0-5cm_mean": layer(200, 600, "g/kg"),
                     "clay_0-5cm_mean": layer(100, 300, "g kg-1"),
                     "soc_0-5cm_mean": layer(50, 400, "dg/kg")})
    r = loamara.estimate("saxton2006", data=ds, preset="soilgrids",
                         out_units={"ksat": "cm/d"})
    sand = ds["sand_0-5cm_mean"].values / 1000.0
    clay = ds["clay_0-5cm_mean"].values / 1000.0
    om = np.multiply(ds["soc_0-5cm_mean"].values / 100.0, 1.724)
    want = SAXTON(sand, clay, om)
    assert r.theta_33.dims == ("y", "x")
    assert_same_bits(r.theta_33.values, want[1])
    assert_same_bits(r.ksat.values, want[8] * 2.4)
    assert r.ksat.attrs["units"] == "cm/d"
    assert r.theta_33.attrs["units"] == "cm^3/cm^3"
    assert any("van Bemmelen" in n for n in r.notes)


def test_aliases_and_binding_errors():
    old = loamara.estimate("beniaich2023_mlr5", x1=20.0, x2=40.0, x3=2.0)
    new = loamara.estimate("beniaich2023_mlr5", clay=20.0, silt=40.0, om=2.0)
    assert old.w_fc == new.w_fc
    with pytest.raises(TypeError, match="units given for 'snad'"):
        loamara.estimate("saxton2006", sand=0.4, clay=0.2, om=2.5,
                         units={"snad": "%"})
    with pytest.raises(units.UnitError, match="no established unit"):
        loamara.estimate("zhao2016_m2_1", x0=1.0, x1=40.0, x2=8.0,
                         units={"x0": "%"})


@pytest.mark.parametrize("threads", [1, 2])
def test_large_calls_convert_and_check_block_by_block(threads):
    rng = np.random.default_rng(9)
    n = 60_000
    sand, clay = rng.uniform(5, 80, n), rng.uniform(2, 40, n)
    sand[41_234] = 150.0
    with pytest.warns(loamara.RangeWarning) as rec:
        r = loamara.estimate("saxton2006", sand=sand, clay=clay, om=2.0,
                             units={"sand": "%", "clay": "%"},
                             threads=threads)
    text = str(rec[0].message)
    assert "to 150 (given in %), 1 of 60000 outside" in text
    assert "fit" not in text  # one bad value, not another unit
    want = SAXTON(sand / 100, clay / 100, 2.0)
    for got, w in zip(r.values(), want):
        assert_same_bits(got, w)
    with pytest.raises(loamara.RangeError, match="1 of 60000"):
        loamara.estimate("saxton2006", sand=sand, clay=clay, om=2.0,
                         units={"sand": "%", "clay": "%"}, check="raise",
                         threads=threads)


def test_a_unit_of_the_wrong_kind_names_the_input_and_the_unit_it_needs():
    with pytest.raises(units.UnitError) as exc:
        loamara.estimate("saxton2006", sand=40, clay=20, om=2,
                         units={"sand": "m"})
    text = str(exc.value)
    assert "input 'sand'" in text and "'m'" in text
    assert "mass fraction (0-1)" in text and "1 (dimensionless)" in text


@pytest.mark.parametrize("dtype", [np.float32, np.float16])
def test_short_floats_with_a_unit_are_converted_in_double(dtype):
    sand = np.array([40.1, 33.3, 10.1], dtype=dtype)
    clay = np.array([20.3, 12.7, 45.0], dtype=dtype)
    got = loamara.estimate("saxton2006", sand=sand, clay=clay, om=2.5,
                           units={"sand": "%", "clay": "%"})
    want = SAXTON(sand.astype(np.float64) / 100, clay.astype(np.float64)
                  / 100, 2.5)
    for g, w in zip(got.values(), want):
        assert_same_bits(g, w)


def test_an_impossible_derived_silt_is_reported_as_derived():
    with pytest.warns(loamara.RangeWarning) as rec:
        loamara.estimate("cosby1984_univariate", sand=[60.0, 30.0],
                         clay=[50.0, 20.0])
    text = str(rec[0].message)
    assert "the derived silt = 100 % - sand - clay" in text
    assert "from -10 to 50" in text and "sand has" not in text


def test_soilgrids_nodata_is_missing_and_noted():
    sand = np.array([400, -32768, 300], dtype=np.int16)
    clay = np.array([200, 150, -32768], dtype=np.int16)
    soc = np.array([100, 50, 80], dtype=np.int16)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        r = loamara.estimate("saxton2006", sand=sand, clay=clay, soc=soc,
                             preset="soilgrids")
    assert np.isfinite(r.theta_33[0]) and np.isnan(r.theta_33[1:]).all()
    assert any("sand: the soilgrids nodata value -32768 is taken as "
               "missing (NaN): 1 value" == n for n in r.notes)
    # Without the preset, the value is data (and implausible).
    with pytest.warns(loamara.RangeWarning), np.errstate(all="ignore"):
        loamara.estimate("saxton2006", sand=sand / 1000, clay=clay / 1000,
                         om=2.0)


def test_warnings_of_blocks_once_per_call_names_kept():
    from loamara._dedup import Seen, problem_key
    da = pytest.importorskip("dask.array")
    assert problem_key("clay_0-5cm_mean is from 1.5 to -2e3 (3 of 10), "
                       "[0, 100]") == \
        "clay_0-5cm_mean is from # to # (# of #), [#, #]"
    seen = Seen()
    assert seen.first("clay_0-5cm_mean is -1")
    assert seen.first("clay_5-15cm_mean is -1")
    assert not seen.first("clay_0-5cm_mean is -7")
    sand = da.from_array(np.array([40.0, 50.0, 60.0]), chunks=1)
    for _ in range(2):  # a second call reports its problems again
        with pytest.warns(loamara.RangeWarning) as rec:
            loamara.estimate("saxton2006", sand=sand, clay=0.2, om=2.0
                             ).theta_33.compute(scheduler="sync")
        msgs = [str(r.message) for r in rec]  # the input, then the outputs
        assert len(set(msgs)) == len(msgs)
        assert len([m for m in msgs if "sand is " in m]) == 1
