"""Applicability, ensembles with their spread, and the table formats of
the command line, end to end."""
import csv
import subprocess
import sys

import numpy as np
import pytest

import loamara
from loamara._applicable import applicable
from loamara._ensemble import ensemble
from ptfcheck import assert_same_bits

pd = pytest.importorskip("pandas")
pytest.importorskip("pint")

PCT = {"sand": "%", "silt": "%", "clay": "%", "oc": "%"}
SOILS = pd.DataFrame({"sand": [40.0, 20.0, 70.0], "silt": [40.0, 40.0, 20.0],
                      "clay": [20.0, 40.0, 10.0], "oc": [1.2, 2.0, 0.5],
                      "bd": [1.4, 1.3, 1.6]})


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


def test_ensemble_members_are_the_single_estimates():
    e = ensemble("theta_33", SOILS, units=PCT)
    assert e.unit == "cm^3/cm^3" and isinstance(e.members, pd.DataFrame)
    sax = loamara.estimate("saxton2006", sand=SOILS.sand, clay=SOILS.clay,
                           om=SOILS.oc * 1.724,
                           units={"sand": "%", "clay": "%"})
    assert_same_bits(e.members["saxton2006"].to_numpy(),
                     sax.theta_33.to_numpy())
    m = e.members.to_numpy()
    assert_same_bits(e.mean.to_numpy(), m.mean(axis=1))
    assert_same_bits(e.std.to_numpy(), m.std(axis=1, ddof=1))
    assert list(e.n) == [3, 3, 3]
    frame = e.to_frame()
    assert list(frame.columns[-7:]) == ["mean", "median", "min", "max", "std",
                                        "n", "n_outside"]


def test_ensemble_converts_every_member_and_counts_impossible_values():
    e = ensemble("ksat", SOILS, units=PCT)
    assert e.unit == "mm/h" and len(e.names) > 20
    cosby = loamara.estimate("cosby1984_univariate", sand=SOILS.sand,
                             silt=SOILS.silt, clay=SOILS.clay)
    np.testing.assert_allclose(e.members["cosby1984_univariate"],
                               10 ** cosby.log10_ksat * 25.4, rtol=1e-14)
    values = e.members.to_numpy()
    assert list(e.n_outside) == list((values < 0).sum(axis=1))


def test_ensemble_of_xarray_data_has_a_ptf_dimension():
    xr = pytest.importorskip("xarray")
    ds = xr.Dataset({k: ("site", v.to_numpy(), {"units": PCT.get(k,
                                                                  "g/cm^3")})
                     for k, v in SOILS.items()})
    e = ensemble("theta_1500", ds)
    assert e.members.dims == ("ptf", "site")
    assert e.mean.attrs["units"] == "cm^3/cm^3"
    assert list(e.members.ptf.values) == e.names
    assert_same_bits(e.mean.values, e.members.values.mean(axis=0))


def test_which_and_ensemble_from_the_command_line(tmp_path):
    res = cli("which", "--have", "sand,silt,clay,oc,bd", "--target",
              "theta_33", "--units", "sand=%", "--units", "oc=%")
    assert res.returncode == 0
    assert "calc_ptf_saxton2006.theta_33" in res.stdout
    assert "om = 1.724 x oc" in res.stdout
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
        assert_same_bits(np.asarray(mean),
                         ensemble("theta_33", SOILS, units=PCT).mean)


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
