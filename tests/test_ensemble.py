"""Applicability, ensembles with their members and statistics, and the
table formats of the command line, end to end."""
import csv
import importlib
import subprocess
import sys
import threading
import warnings

import numpy as np
import pytest

import loamara
from loamara import _ensemble
from loamara._applicable import applicable
from loamara._ensemble import ensemble, statistics
from ptfcheck import assert_same_bits

pd = pytest.importorskip("pandas")
pytest.importorskip("pint")

PCT = {"sand": "%", "silt": "%", "clay": "%", "oc": "%"}
SOILS = pd.DataFrame({"sand": [40.0, 20.0, 70.0], "silt": [40.0, 40.0, 20.0],
                      "clay": [20.0, 40.0, 10.0], "oc": [1.2, 2.0, 0.5],
                      "bd": [1.4, 1.3, 1.6]})
# The three soils of the field trial: loam, clay, sand.
TRIAL = pd.DataFrame({"sand": [40.0, 20.0, 85.0], "silt": [40.0, 40.0, 10.0],
                      "clay": [20.0, 40.0, 5.0], "oc": [1.2, 2.0, 0.5],
                      "bd": [1.4, 1.3, 1.55]})


def cli(*args):
    return subprocess.run([sys.executable, "-m", "loamara", *map(str, args)],
                          capture_output=True, text=True, timeout=120)


def test_applicable_groups_by_kind_with_the_conversions():
    found = applicable(["sand", "silt", "clay", "oc", "bd"], units=PCT)
    by_name = {c.ptf.short_name: c for c in found["theta_33"]}
    assert set(by_name) == {"saxton2006", "rawls1982_theta_33",
                            "gunarathna2019_vwc33_set1"}
    sax = by_name["saxton2006"].conversions()
    assert "sand: % -> mass fraction (0-1) (÷ 100)" in sax
    assert any("1.724 x oc" in line for line in sax)
    # Rawls et al. estimate theta_33 from their own theta_1500.
    assert by_name["rawls1982_theta_33"].conversions()[0].startswith(
        "theta_1500 = rawls1982_theta_1500.theta_1500")
    # Gravimetric water contents are another kind, never mixed in.
    assert all(c.output.kind == "w_33" for c in found["w_33"])
    only = applicable("sand,clay,soc,wat", target="ksat")
    assert list(only) == ["ksat"] and only.unknown == ["wat"]
    assert "theta_33" in str(found) and "functions" in repr(found)


def test_point_estimates_and_curves_are_members_once_per_publication():
    e = ensemble("theta_33", SOILS, units=PCT)
    assert e.unit == "cm^3/cm^3" and isinstance(e.members, pd.DataFrame)
    families = [loamara.lookup(n.split(".")[0]).family for n in e.names]
    assert len(families) == len(set(families))
    sax = loamara.estimate("saxton2006", sand=SOILS.sand, clay=SOILS.clay,
                           om=SOILS.oc * 1.724,
                           units={"sand": "%", "clay": "%"})
    # Saxton and Rawls give theta_33 and a curve: the point estimate only.
    assert_same_bits(e.members["saxton2006"].to_numpy(),
                     sax.theta_33.to_numpy())
    assert "saxton2006" not in e.curves
    assert {"vereecken1989", "cosby1984_univariate"} <= set(e.curves)
    ver = loamara.estimate("vereecken1989", data=SOILS.drop(columns="silt"),
                           units={"sand": "%", "clay": "%", "oc": "%"})
    assert_same_bits(e.members["vereecken1989"].to_numpy(),
                     loamara.curve(ver, 33.0, h_unit="kPa"))
    assert "retention curve at 33 kPa" in e.reasons["vereecken1989"]
    m = e.members.to_numpy()
    np.testing.assert_allclose(e.mean, m.mean(axis=1), rtol=1e-15)
    # NumPy sums in another order: the last bit may differ.
    np.testing.assert_allclose(e.std.to_numpy(), m.std(axis=1, ddof=1),
                               rtol=1e-15)
    np.testing.assert_allclose(e.median, np.median(m, axis=1), rtol=1e-15)
    np.testing.assert_allclose(e.q25, np.quantile(m, 0.25, axis=1),
                               rtol=1e-15)
    assert list(e.n) == [len(e.names)] * 3
    assert list(e.to_frame().columns[len(e.names):]) == list(
        statistics("theta_33"))
    # Available water is theta at 33 less theta at 1500 kPa on a curve.
    aw = ensemble("available_water", SOILS, units=PCT)
    assert_same_bits(aw.members["vereecken1989"].to_numpy(),
                     loamara.curve(ver, 33.0) - loamara.curve(ver, 1500.0))
    text = str(e)
    assert "vereecken1989" in text and "median" in text
    assert repr(e) == ("<Ensemble theta_33 [cm^3/cm^3]: "
                       f"{len(e.names)} members, 3 soils, linear summary>")


def test_default_ksat_ensemble_of_the_trial_soils():
    every = ensemble("ksat", TRIAL, units=PCT, members="all")
    e = ensemble("ksat", TRIAL, units=PCT)
    families = [loamara.lookup(n).family for n in e.names]
    assert len(families) == len(set(families)) < len(every.names)
    assert "gmean" in e.stats and "mean" not in e.stats
    vals = e.members.to_numpy()
    assert not (vals < 0).any()
    logs = np.log10(vals)
    np.testing.assert_allclose(e.gmean, 10 ** (logs.sum(axis=1)
                                                / vals.shape[1]), rtol=1e-14)
    # Quantiles on whole positions are member values, not 10**log10(x).
    assert vals.shape[1] % 2 == 1
    assert_same_bits(e.median.to_numpy(), np.sort(vals, axis=1)[
        :, vals.shape[1] // 2])
    assert_same_bits(e.max.to_numpy(), vals.max(axis=1))
    np.testing.assert_allclose(e.std_log10, logs.std(axis=1, ddof=1),
                               rtol=1e-13)
    # Every variant: impossible values counted, left out of the statistics
    # (and of a log10 summary they cannot enter anyway).
    m = every.members.to_numpy()
    bad = m < 0
    assert bad[1].sum() > 0
    assert list(every.n_outside) == list(bad.sum(axis=1))
    assert list(every.n) == list((~bad).sum(axis=1))
    kept = np.where(bad, np.nan, m)
    np.testing.assert_allclose(every.median,
                               10 ** np.nanmedian(np.log10(kept), axis=1),
                               rtol=1e-13)
    cosby = loamara.estimate("cosby1984_univariate", sand=TRIAL.sand,
                             silt=TRIAL.silt, clay=TRIAL.clay)
    np.testing.assert_allclose(every.members["cosby1984_univariate"],
                               10 ** cosby.log10_ksat * 25.4, rtol=1e-14)
    with pytest.raises(ValueError, match="members must be one of"):
        ensemble("ksat", TRIAL, units=PCT, members="most")


def test_members_all_are_every_function_with_the_output_bit_for_bit():
    e = ensemble("ksat", TRIAL, units=PCT, members="all")
    cands = applicable(list(TRIAL), units=PCT, target="ksat")["ksat"]
    assert e.names == _ensemble._names(cands) and not e.curves
    for name, c in zip(e.names, cands):
        used = _ensemble._used_variables(c)
        r = loamara.estimate(c.ptf, data=TRIAL[sorted(used)],
                             units={k: PCT[k] for k in used if k in PCT},
                             out_units={c.output.name: "mm/h"})
        assert_same_bits(e.members[name].to_numpy(),
                         np.asarray(r[c.output.name], dtype=np.float64))


def test_linear_kind_keeps_impossible_values_when_asked(monkeypatch):
    soils = SOILS.assign(sand=[40.0, 20.0, 99.0], clay=[20.0, 40.0, 0.5],
                         silt=[40.0, 40.0, 0.5], oc=[1.2, 2.0, 0.01],
                         bd=[1.4, 1.3, 1.8])
    keep = ensemble("theta_1500", soils, units=PCT, keep_outside=True,
                    check="off")
    drop = ensemble("theta_1500", soils, units=PCT, check="off")
    m = keep.members.to_numpy()
    bad = (m < 0) | (m > 1)
    assert bad.any(), "a member must be impossible for this sand"
    assert list(drop.n_outside) == list(bad.sum(axis=1))
    np.testing.assert_allclose(keep.mean, m.mean(axis=1), rtol=1e-15)
    assert_same_bits(drop.max.to_numpy(),
                     np.where(bad, -np.inf, m).max(axis=1))
    # A member outside its calibration ranges is counted, and left out
    # with domain="strict".
    ranges = {"sand": (0.0, 50.0)}
    monkeypatch.setattr(_ensemble, "_calibration_ranges",
                        lambda p: ranges if p.family == "vereecken1989" else {})
    loose = ensemble("theta_1500", soils, units=PCT, check="off")
    strict = ensemble("theta_1500", soils, units=PCT, check="off",
                      domain="strict")
    assert list(loose.n_extrapolated) == [0, 0, 1]
    assert list(strict.n) == [n - e for n, e in zip(loose.n, [0, 0, 1])]


def test_groups_and_weights_say_what_is_missing():
    with pytest.raises(ValueError, match="no function is fitted to the "
                       "group 'Atlantis'"):
        ensemble("ksat", TRIAL, units=PCT, groups=["Atlantis"])
    with pytest.raises(ValueError, match="RMSE of every member") as exc:
        ensemble("theta_33", TRIAL, units=PCT, weights="rmse")
    assert "vereecken1989" in str(exc.value)


def test_concurrent_ensembles_leave_the_warning_filters_alone():
    bad = {"sand": np.array([400.0, 200.0]), "clay": np.array([20.0, 40.0]),
           "om": np.array([2.0, 3.0])}  # sand in percent read as such
    before = list(warnings.filters)
    errors = []

    def work():
        try:
            for _ in range(20):
                ensemble("theta_1500", bad, units={"clay": "%"},
                         ptfs=["saxton2006", "rawls1982_theta_1500"])
        except Exception as exc:  # noqa: BLE001
            errors.append(exc)

    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always", loamara.RangeWarning)
        inside = list(warnings.filters)
        threads = [threading.Thread(target=work) for _ in range(4)]
        interval = sys.getswitchinterval()
        sys.setswitchinterval(1e-6)  # threads interleave often
        try:
            for t in threads:
                t.start()
            for t in threads:
                t.join()
        finally:
            sys.setswitchinterval(interval)
        assert warnings.filters == inside
    assert not errors and warnings.filters == before
    assert any(issubclass(w.category, loamara.RangeWarning) for w in seen)


def test_modules_do_not_hide_behind_the_functions():
    assert callable(loamara.applicable) and callable(loamara.ensemble)
    for name in ("loamara.applicable", "loamara.ensemble"):
        with pytest.raises(ModuleNotFoundError):
            importlib.import_module(name)


def test_ensemble_of_xarray_data_has_a_ptf_dimension():
    xr = pytest.importorskip("xarray")
    ds = xr.Dataset({k: ("site", v.to_numpy(), {"units": PCT.get(k,
                                                                  "g/cm^3")})
                     for k, v in SOILS.items()})
    e = ensemble("theta_1500", ds)
    assert e.members.dims == ("ptf", "site")
    assert e.mean.attrs["units"] == "cm^3/cm^3"
    assert list(e.members.ptf.values) == e.names and e.curves
    np.testing.assert_allclose(e.mean.values, e.members.values.mean(axis=0),
                               rtol=1e-15)
    frame = ensemble("theta_1500", SOILS, units=PCT).members
    assert_same_bits(e.members.values, frame.to_numpy().T)


def test_which_and_ensemble_from_the_command_line(tmp_path):
    res = cli("which", "--have", "sand,silt,clay,oc,bd", "--target",
              "theta_33", "--units", "sand=%", "--units", "oc=%")
    assert res.returncode == 0
    assert "calc_ptf_saxton2006.theta_33" in res.stdout
    assert "om = 1.724 x oc" in res.stdout
    # The functions read off their curve, as the ensemble takes them.
    assert "calc_ptf_vereecken1989  Vereecken et al. (1989)  (through its " \
        "van Genuchten (1980) retention curve at 33 kPa)" in res.stdout
    src = tmp_path / "soils.csv"
    SOILS.rename(columns={"sand": "SAND"}).to_csv(src, index=False)
    for out in ("ens.csv", "ens.parquet"):
        res = cli("ensemble", "theta_33", src, "-o", tmp_path / out,
                  "--map", "SAND=sand", *sum((["--units", f"{c}=%"] for c in
                                              ("SAND", "silt", "clay", "oc")),
                                             []))
        assert res.returncode == 0, res.stderr
        if out.endswith("parquet"):
            got = pd.read_parquet(tmp_path / out)
            columns, mean = list(got.columns), got["mean [cm^3/cm^3]"]
        else:  # Python's float() reads the text back exactly
            with open(tmp_path / out, newline="") as f:
                rows = list(csv.reader(f))
            columns = rows[0]
            k = columns.index("mean [cm^3/cm^3]")
            mean = [float(r[k]) for r in rows[1:]]
        assert "saxton2006 [cm^3/cm^3]" in columns
        assert "vereecken1989 [cm^3/cm^3]" in columns
        assert_same_bits(np.asarray(mean),
                         ensemble("theta_33", SOILS, units=PCT).mean)
    from loamara._cli import main
    assert main(["ensemble", "ksat", str(src), "-o", str(tmp_path / "k.csv"),
                 "--map", "SAND=sand", "--members", "all", *sum(
                     (["--units", f"{c}=%"] for c in ("SAND", "silt", "clay",
                                                      "oc")), [])]) == 0
    header = (tmp_path / "k.csv").read_text().splitlines()[0]
    assert "gmean [mm/h]" in header and ",std_log10," in header
    assert header.count("ferrerjulia2004") > 30


def test_percent_sand_stops_the_run_with_check_raise(tmp_path):
    src = tmp_path / "horizons.csv"
    SOILS.assign(om=2.0).to_csv(src, index=False)
    out = tmp_path / "out.parquet"
    res = cli("run", "saxton2006", src, "-o", out, "--check", "raise")
    assert res.returncode == 1 and "--units sand=%" in res.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["horizons.csv"]
    res = cli("run", "saxton2006", src, "-o", out, "--units", "sand=%",
              "--units", "clay=%", "--out-units", "ksat=cm/d",
              "--check", "raise")
    assert res.returncode == 0, res.stderr
    got = pd.read_parquet(out)
    want = loamara.estimate("saxton2006", sand=SOILS.sand / 100,
                            clay=SOILS.clay / 100, om=2.0)
    assert_same_bits(got["ksat [cm/d]"].to_numpy(),
                     want.ksat.to_numpy() * 2.4)


def test_ksat_ensemble_of_the_demo_layers(tmp_path):
    pytest.importorskip("rioxarray")
    xr = pytest.importorskip("xarray")
    from loamara._cli import main
    from loamara._demo import write_layers

    layers = write_layers(tmp_path / "layers", size=(12, 16))
    out = tmp_path / "ksat.nc"
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", loamara.RangeWarning)
        assert main(["ensemble", "ksat", *map(str, layers), "-o", str(out),
                     "--preset", "soilgrids"]) == 0
    with xr.open_dataset(out) as ds:
        assert {"ksat_gmean", "ksat_clapp1978", "ksat_n_outside"} <= set(
            ds.data_vars)
        # At most one member per publication.
        shorts = {p.short_name for p in loamara.catalog()}
        members = [v[len("ksat_"):] for v in ds.data_vars
                   if v[len("ksat_"):] in shorts]
        families = {loamara.lookup(m).family for m in members}
        assert len(families) == len(members)
        assert int(ds.ksat_n.max()) <= len(members)


def test_one_texture_class_for_all_class_table_members(monkeypatch):
    import loamara.texture as texture
    calls = []
    real = texture.usda_index
    monkeypatch.setattr(texture, "usda_index",
                        lambda *a: calls.append(1) or real(*a))
    e = ensemble("ksat", TRIAL, units=PCT)
    tables = [n for n in e.names
              if "texture_class" in loamara.lookup(n).input_names]
    assert len(tables) >= 3 and len(calls) == 1
    calls.clear()
    loamara.estimate("carsel1988", sand=TRIAL.sand, silt=TRIAL.silt,
                     clay=TRIAL.clay)
    assert len(calls) == 1  # the index of Result and of the call alike


def test_an_input_problem_is_checked_and_reported_once_per_ensemble():
    soils = TRIAL.assign(sand=[40.0, -5.0, 85.0])
    with pytest.warns(loamara.RangeWarning) as got:
        ensemble("ksat", soils, units=PCT)
    about_sand = [w for w in got if "sand has values" in str(w.message)]
    assert len(about_sand) == 1
    # Each call of estimate is a scope of its own: both report.
    for _ in range(2):
        with pytest.warns(loamara.RangeWarning, match="sand has values"):
            loamara.estimate("cosby1984_univariate", data=soils,
                             units=PCT)
