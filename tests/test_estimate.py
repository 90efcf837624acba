"""loamara.estimate against the plain ufunc call, bit for bit, for every
kind of input it takes, and its error messages."""
import numpy as np
import pytest

try:
    import pandas as pd
except ImportError:  # the base install has NumPy only
    pd = None
try:
    import xarray as xr
except ImportError:
    xr = None

import _loamara
import loamara
from ptfcheck import assert_same_bits

needs_pandas = pytest.mark.skipif(pd is None, reason="needs pandas")
needs_xarray = pytest.mark.skipif(xr is None or pd is None,
                                  reason="needs xarray")

SAXTON = _loamara.calc_ptf_saxton2006
JABRO = _loamara.calc_ptf_jabro1992
CLAPP = _loamara.calc_ptf_clapp1978
F = np.float64


def assert_outputs_equal(result, expected):
    assert len(result) == len(expected)
    for got, want in zip(result.values(), expected):
        assert_same_bits(np.asarray(got), want)


@pytest.mark.parametrize("args", [
    dict(silt=40, clay=20, bd=1.4),
    dict(silt=40.0, clay=np.float32(20.0), bd=F(1.4)),
    dict(silt=[40, 30, 10], clay=np.arange(1, 4), bd=1.4),
    dict(silt=np.array([[40.0], [30.0]]), clay=np.array([20.0, 25.0, 30.0]),
         bd=np.float32(1.25)),
])
def test_numbers_and_arrays_of_any_real_type(args):
    ops = [np.asarray(args[k]).astype(np.float64)
           for k in ("silt", "clay", "bd")]
    want = JABRO(*ops)
    got = loamara.estimate("jabro1992", **args)
    assert_same_bits(got.ksat, want)
    assert np.shape(got.ksat) == np.shape(want)


def test_scalar_inputs_give_scalar_outputs():
    r = loamara.estimate("saxton2006", sand=0.4, clay=0.2, om=2.5)
    assert all(np.ndim(v) == 0 for v in r.values())
    assert_outputs_equal(r, SAXTON(F(0.4), F(0.2), F(2.5)))


@pytest.mark.parametrize("key", [
    "saxton2006", "calc_ptf_saxton2006", SAXTON])
def test_names_positions_and_the_ufunc_itself(key):
    sand = np.linspace(0.05, 0.9, 7)
    want = SAXTON(sand, F(0.2), F(2.5))
    assert_outputs_equal(loamara.estimate(key, sand=sand, clay=0.2, om=2.5),
                         want)
    assert_outputs_equal(loamara.estimate(key, sand, 0.2, 2.5), want)
    assert_outputs_equal(loamara.estimate(key, sand, om=2.5, clay=0.2),
                         want)


def test_result_access():
    r = loamara.estimate("saxton2006", sand=[0.4, 0.3], clay=0.2, om=2.5)
    names = loamara.lookup("saxton2006").output_names
    assert list(r) == list(names) and len(r) == 10
    assert r.theta_33 is r["theta_33"] is r.as_tuple()[1]
    assert dict(r)["ksat"] is r.ksat
    assert r.ptf.name == "calc_ptf_saxton2006"
    with pytest.raises(AttributeError, match="theta_1500, theta_33"):
        r.theta33
    with pytest.raises(KeyError, match="no output 'Ks'"):
        r["Ks"]
    assert "theta_33" in dir(r) and "Result[calc_ptf_saxton2006]" in repr(r)


@needs_pandas
def test_pandas_series_keep_their_index():
    idx = pd.Index(["p1", "p2", "p3"], name="plot")
    sand = pd.Series([0.4, 0.3, 0.6], index=idx)
    clay = pd.Series([20, 10, 5], index=idx)  # int64 column
    r = loamara.estimate("saxton2006", sand=sand, clay=clay / 100, om=2.0)
    want = SAXTON(sand.to_numpy(), clay.to_numpy() / 100, F(2.0))
    for name, got, w in zip(r, r.values(), want):
        assert isinstance(got, pd.Series) and got.index.equals(idx)
        assert got.name == name
        assert_same_bits(got.to_numpy(), w)


@needs_pandas
def test_pandas_aligns_on_the_index_and_reads_missing_values_as_nan():
    silt = pd.Series([40, None, 30], index=[1, 2, 3], dtype="Int64")
    clay = pd.Series([20.0, 25.0, 30.0], index=[3, 2, 1])
    r = loamara.estimate("jabro1992", silt=silt, clay=clay, bd=1.4)
    want = JABRO(np.array([40.0, np.nan, 30.0]), np.array([30.0, 25.0, 20.0]),
                 F(1.4))
    assert list(r.ksat.index) == [1, 2, 3]
    assert_same_bits(r.ksat.to_numpy(), want)


@needs_xarray
def test_xarray_keeps_dimensions_coordinates_and_names_outputs():
    sand = xr.DataArray([[0.4, 0.3, 0.6], [0.2, 0.5, 0.7]], dims=("y", "x"),
                        coords={"y": [10.0, 20.0], "x": [1, 2, 3]})
    clay = xr.DataArray([0.1, 0.2, 0.15], dims="x", coords={"x": [1, 2, 3]})
    r = loamara.estimate("saxton2006", sand=sand, clay=clay, om=2.0)
    b_sand, b_clay = xr.broadcast(sand, clay)
    want = SAXTON(b_sand.values, b_clay.values, F(2.0))
    for q, got, w in zip(loamara.lookup("saxton2006").outputs, r.values(),
                         want):
        assert got.dims == ("y", "x") and got.name == q.name
        assert got.coords["y"].values.tolist() == [10.0, 20.0]
        assert got.attrs["units"] == q.unit
        assert_same_bits(got.values, w)


@pytest.mark.parametrize("index", [
    [0, 4, 10], np.array([0, 4, 10], dtype=np.int64), [0.0, 4.0, 10.0],
    np.array([0, 4, 10], dtype=np.uint8)]
    + ([pd.Series([0, 4, 10])] if pd is not None else []))
def test_class_index_accepts_whole_numbers(index):
    want = CLAPP(np.array([0, 4, 10], dtype=np.uint32))
    got = loamara.estimate("clapp1978", texture_class=index)
    assert_outputs_equal(got, [np.asarray(w) for w in want])


def test_class_index_outside_the_table_is_nan_not_an_error():
    with pytest.warns(loamara.RangeWarning, match=r"\[0, 10\] class index"):
        r = loamara.estimate("clapp1978", texture_class=[11, 4294967295])
    assert np.isnan(r.b).all() and np.isnan(r.ksat).all()


@pytest.mark.parametrize("bad", [-1, 2.5, np.nan, np.inf, 4294967296,
                                 [3, -2]])
def test_class_index_that_cannot_be_uint32_is_refused(bad):
    with pytest.raises(ValueError, match="'texture_class' of "
                       "calc_ptf_clapp1978 must be a whole number"):
        loamara.estimate("clapp1978", texture_class=bad)


def test_unknown_name_suggests_the_nearest_names():
    with pytest.raises(loamara.UnknownPTFError,
                       match="did you mean: calc_ptf_saxton2006"):
        loamara.estimate("saxton2060", sand=0.4, clay=0.2, om=2.5)


@pytest.mark.parametrize("kwargs, args, problem", [
    (dict(sand=0.4, clay=0.2), (), "missing input 'om'"),
    (dict(snad=0.4, clay=0.2, om=2.5), (),
     "unexpected input 'snad' (did you mean 'sand'?); missing input 'sand'"),
    (dict(sand=0.4, clay=0.2, om=2.5, silt=0.4), (),
     "unexpected input 'silt'"),
    (dict(sand=0.4), (0.4, 0.2, 2.5), "'sand' given both by position"),
    ({}, (0.4, 0.2, 2.5, 1.0), "takes 3 inputs but 4 were given"),
])
def test_wrong_inputs_list_the_expected_inputs_with_units(kwargs, args,
                                                          problem):
    with pytest.raises(TypeError) as err:
        loamara.estimate("saxton2006", *args, **kwargs)
    text = str(err.value)
    assert problem in text
    assert "calc_ptf_saxton2006 expects, in order:" in text
    assert "sand  [mass fraction (0-1)]" in text
    assert "om    [% by mass]" in text


@pytest.mark.parametrize("bad", [["40", "x"], np.array([1 + 2j]),
                                 np.array(["2020-01-01"], dtype="M8[D]")])
def test_values_that_are_not_real_numbers_are_refused(bad):
    with pytest.raises(TypeError, match="'silt' of calc_ptf_jabro1992"):
        loamara.estimate("jabro1992", silt=bad, clay=20, bd=1.4)


def test_class_index_range_is_checked_exactly():
    # In float32 4294967295 rounds to 2**32: the check must not run there.
    for bad in (np.array([2.0**32], np.float32), np.float16(-1.0)):
        with pytest.raises(ValueError, match="whole number from 0"):
            loamara.estimate("clapp1978", bad)
    r = loamara.estimate("clapp1978", np.array([4.0, 4294967040.0], np.float32),
                         check="off")
    assert_same_bits(r.b, CLAPP(np.array([4, 4294967040], np.uint32))[0])


def test_masked_in_masked_out():
    x = np.ma.array([40.0, -5.0, 30.0], mask=[False, True, False])
    with np.errstate(all="raise"):  # the masked element is not evaluated
        r = loamara.estimate("jabro1992", silt=x, clay=20.0, bd=1.4)
    assert isinstance(r.ksat, np.ma.MaskedArray)
    assert list(r.ksat.mask) == [False, True, False]
    assert_same_bits(r.ksat.data[[0, 2]],
                     JABRO(np.array([40.0, 30.0]), F(20.0), F(1.4)))


@needs_xarray
def test_series_among_xarray_inputs_align_on_their_index():
    silt = xr.DataArray([30.0, 40.0, 50.0], dims="plot",
                        coords={"plot": [1, 2, 3]})
    clay = pd.Series([5.0, 10.0, 20.0], index=pd.Index([3, 2, 1], name="plot"))
    r = loamara.estimate("jabro1992", silt, clay, 1.4)
    assert isinstance(r.ksat, xr.DataArray) and r.ksat.dims == ("plot",)
    assert_same_bits(r.ksat.values, JABRO(np.array([30.0, 40.0, 50.0]),
                                          np.array([20.0, 10.0, 5.0]), F(1.4)))
    with pytest.raises(TypeError, match="name the Series' index"):
        loamara.estimate("jabro1992", silt, pd.Series([1.0, 2.0, 3.0]), 1.4)


@needs_pandas
def test_a_table_as_first_argument_with_units_for_all_its_columns():
    pytest.importorskip("pint")
    df = pd.DataFrame({"id": ["a", "b"], "Sand": [40.0, 30.0],
                       "clay": [20.0, 10.0], "om": [2.0, 1.0],
                       "bd": [1.4, 1.3]})
    units = {"Sand": "%", "clay": "%", "bd": "g/cm^3"}  # bd: not saxton's
    r = loamara.estimate("saxton2006", df, units=units)
    want = _loamara.calc_ptf_saxton2006(df.Sand / 100, df.clay / 100, df.om)
    assert_same_bits(r.ksat.to_numpy(), want[8])
    with pytest.raises(TypeError, match="'nope', which is not an input"):
        loamara.estimate("saxton2006", df, units={**units, "nope": "%"})


def test_a_column_of_a_near_name_is_suggested():
    data = {"sand": [0.4], "clay_pct": [0.2], "om": [2.0]}
    with pytest.raises(TypeError, match=r"the data have 'clay_pct': "
                       r"mapping=\{'clay': 'clay_pct'\}"):
        loamara.estimate("saxton2006", data=data)
    both = {"sand": [0.4], "Clay": [0.2], "CLAY": [0.3], "om": [2.0]}
    with pytest.raises(TypeError, match="missing input 'clay'"):
        loamara.estimate("saxton2006", data=both)  # ambiguous: no guess
