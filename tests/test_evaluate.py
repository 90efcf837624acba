"""Functions ranked against measured values: synthetic measurements made
from one function with a known error, so that the ranking is known."""
from types import SimpleNamespace

import numpy as np
import pytest

import loamara

pd = pytest.importorskip("pandas")
pytest.importorskip("pint")

PCT = {"sand": "%", "silt": "%", "clay": "%", "oc": "%"}


@pytest.fixture(scope="module")
def soils():
    rng = np.random.default_rng(7)
    n = 40
    sand = rng.uniform(10, 80, n)
    clay = np.minimum(rng.uniform(5, 45, n), 95 - sand)
    df = pd.DataFrame({"sand": sand, "silt": 100 - sand - clay,
                       "clay": clay, "oc": rng.uniform(0.3, 3, n),
                       "bd": rng.uniform(1.2, 1.6, n)})
    sax = loamara.estimate("saxton2006", sand=df.sand, clay=df.clay,
                           om=df.oc * 1.724, units={"sand": "%",
                                                    "clay": "%"})
    df["TH33"] = 100 * (sax.theta_33 + rng.normal(0, 0.004, n))  # percent
    df["KS"] = sax.ksat * 10 ** rng.normal(0, 0.05, n)
    df.loc[3, "KS"] = np.nan  # not measured
    return df


def test_the_function_behind_the_measurements_ranks_first(soils):
    ev = loamara.evaluate({"theta_33": "TH33", "ksat": "KS"}, soils,
                          units={**PCT, "TH33": "%"})
    assert ev.ranking("theta_33")[0] == "saxton2006"
    assert ev.ranking("ksat")[0] == "saxton2006"
    rows = {(r["kind"], r["ptf"]): r for r in ev.rows}
    th = rows["theta_33", "saxton2006"]
    assert th["n"] == 40 and th["rmse"] < 0.006 and th["r2"] > 0.9
    assert abs(th["bias"]) < 0.002 and th["mae"] <= th["rmse"]
    ks = rows["ksat", "saxton2006"]
    assert ks["n"] == 39 and ks["rmse_log10"] < 0.07
    # Every row of a kind is a member of the ensemble on the same soils.
    e = loamara.ensemble("ksat", soils.drop(columns=["TH33", "KS"]),
                         units=PCT)
    assert sorted(ev.ranking("ksat")) == sorted(e.names)
    assert "rmse_log10" not in rows["theta_33", "saxton2006"]
    frame = ev.to_frame()
    assert list(frame[frame.kind == "ksat"]["rank"]) == list(
        range(1, len(e.names) + 1))
    assert "ranked by rmse_log10" in str(ev)


def test_measured_values_as_arrays_and_their_faults(soils):
    data = soils.drop(columns=["TH33", "KS"])
    ev = loamara.evaluate({"theta_33": soils.TH33.to_numpy()}, data,
                          units=PCT, measured_units={"theta_33": "%"},
                          ptfs=["saxton2006", "rawls1982_theta_33",
                                "rawls1982_theta_1500"])
    assert ev.ranking("theta_33") == ["saxton2006", "rawls1982_theta_33"]
    with pytest.raises(ValueError, match="no column 'TH' in soils"):
        loamara.evaluate({"theta_33": "TH"}, soils, units=PCT)
    with pytest.raises(ValueError, match="3 values for 40 soils"):
        loamara.evaluate({"theta_33": [0.1, 0.2, 0.3]}, data, units=PCT)
    with pytest.raises(ValueError, match="unknown kind 'theta_34'"):
        loamara.evaluate({"theta_34": "TH33"}, soils, units=PCT)


def test_evaluate_from_the_command_line_with_a_figure(soils, tmp_path,
                                                    capsys):
    pytest.importorskip("matplotlib")
    from loamara._cli import main

    def cli(*args):
        status = main([str(a) for a in args])
        out, err = capsys.readouterr()
        return SimpleNamespace(returncode=status, stdout=out, stderr=err)

    src = tmp_path / "measured.csv"
    soils.to_csv(src, index=False)
    fig = tmp_path / "eval.png"
    res = cli("evaluate", src, "--measured", "theta_33=TH33", "--units",
              "TH33=%", *sum((["--units", f"{c}=%"] for c in PCT), []),
              "--plot", fig)
    assert res.returncode == 0, res.stderr
    first = res.stdout.splitlines()[2].split()
    assert first[:2] == ["1", "saxton2006"]
    assert fig.stat().st_size > 10_000
    res = cli("evaluate", src, "--measured", "theta_33=NOPE")
    assert res.returncode == 1 and "no column 'NOPE'" in res.stderr
