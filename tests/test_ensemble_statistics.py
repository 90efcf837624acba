"""The compiled statistics of an ensemble (loamara._stats) against NumPy's
nan-statistics, on members with gaps, impossible values, extrapolating
members and weights, in every layout the ensemble hands them over."""
import warnings

import numpy as np
import pytest

from loamara._ensemble import _ROW, _range_row, _statistics, statistics
from loamara._stats import ensemble_statistics


def reference(x, ext, *, lo, hi, log, keep, strict, w=None):
    """The statistics of each row as NumPy computes them (log10 space)."""
    valid = ~np.isnan(x)
    with np.errstate(invalid="ignore"):
        bad = (x <= lo) | (x > hi)
    use = valid & (~bad | keep) & ~(strict & ext)
    if log:
        with np.errstate(invalid="ignore"):
            use &= x > 0
    v = np.where(use, x, np.nan)
    t = np.log10(v) if log else v
    n = use.sum(axis=1)
    with np.errstate(all="ignore"), warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # empty rows
        back = (lambda a: 10 ** a) if log else (lambda a: a)
        ref = {"mean": back(np.nanmean(t, axis=1)),
               "std": np.nanstd(t, axis=1, ddof=1),
               "median": back(np.nanmedian(t, axis=1)),
               "q25": back(np.nanquantile(t, 0.25, axis=1)),
               "q75": back(np.nanquantile(t, 0.75, axis=1)),
               "min": np.nanmin(v, axis=1), "max": np.nanmax(v, axis=1)}
        ref["iqr"] = np.log10(ref["q75"]) - np.log10(ref["q25"]) if log \
            else ref["q75"] - ref["q25"]
        ref["std"] = np.where(n >= 2, ref["std"], np.nan)
        if w is not None:
            ww = np.where(use, w, 0.0)
            ref["weighted_mean"] = back(np.nansum(t * ww, axis=1)
                                        / ww.sum(1))
    ref.update(n=n, n_outside=(bad & valid).sum(1), n_extrapolated=(
        ext & valid).sum(1))
    return ref


@pytest.mark.parametrize("m", [1, 2, 9, 17, 50, 70])
@pytest.mark.parametrize("log", [True, False])
def test_statistics_agree_with_numpy(m, log):
    rng = np.random.default_rng(m)
    rows = 400
    x = 10 ** rng.uniform(-3, 3, (rows, m))
    x[rng.random((rows, m)) < 0.15] = np.nan
    x[rng.random((rows, m)) < 0.1] *= -1   # impossible for the kind
    x[:3] = np.nan                         # soils without any member
    x[3, :] = x[3, 0]                      # ties
    ext = rng.random((rows, m)) < 0.2
    w = rng.uniform(0.5, 2.0, m)
    for keep, strict in ((False, False), (True, False), (False, True)):
        row = _range_row("ksat", log=log, keep_outside=keep, strict=strict,
                         weighted=True)
        out = ensemble_statistics(x, np.log(np.abs(x)), ext, w, row)
        ref = reference(x, ext, lo=0.0, hi=np.inf, log=log, keep=keep,
                        strict=strict, w=w)
        for name, r in ref.items():
            key = {"mean": "gmean" if log else "mean",
                   "std": "std_log10" if log else "std",
                   "iqr": "iqr_log10" if log else "iqr"}.get(name, name)
            got = out[:, _ROW[key]]
            np.testing.assert_allclose(got, r, rtol=1e-12, atol=1e-13,
                                       err_msg=f"{key} m={m} keep={keep}")
        # Order statistics are member values, bit for bit.
        assert np.array_equal(out[:, _ROW["min"]], ref["min"],
                              equal_nan=True)
        assert np.array_equal(out[:, _ROW["max"]], ref["max"],
                              equal_nan=True)
        assert (out[:3, _ROW["n"]] == 0).all()
        assert np.isnan(out[:3, :_ROW["n"]]).all()


def test_layouts_and_the_ensemble_wrapper_agree():
    rng = np.random.default_rng(1)
    x = 10 ** rng.uniform(-2, 2, (300, 9))
    x[::7, 2] = np.nan
    names = statistics("ksat")
    row = _range_row("ksat", log=True, keep_outside=False, strict=False,
                     weighted=False)
    flat = _statistics(x, False, names=names, range_row=row, weights=None)
    # Members first, a strided view, and byte-swapped values.
    first = _statistics(np.ascontiguousarray(x.T), np.zeros(9, bool),
                        names=names, range_row=row, weights=None, axis=0)
    strided = _statistics(np.repeat(x, 2, axis=1)[:, ::2], False,
                          names=names, range_row=row, weights=None)
    swapped = _statistics(x.astype(">f8"), False, names=names,
                          range_row=row, weights=None)
    out = np.empty((12, 300))
    into = _statistics(np.ascontiguousarray(x.T), False, names=names,
                       range_row=row, weights=None, axis=0, out=out,
                       logs=np.empty((9, 300)))
    for other in (first, strided, swapped, into):
        for a, b in zip(flat, other):
            assert np.array_equal(a, b, equal_nan=True)
    # No soils, and no members.
    empty = _statistics(np.empty((0, 9)), False, names=names, range_row=row,
                        weights=None)
    assert all(a.shape == (0,) for a in empty)
    none = _statistics(np.empty((4, 0)), False, names=names, range_row=row,
                       weights=None)
    assert list(none[names.index("n")]) == [0] * 4
    assert np.isnan(none[names.index("median")]).all()
