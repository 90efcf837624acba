"""loamara.fit: curve models fitted to retention and conductivity data."""
import math

import numpy as np
import pytest

pytest.importorskip("scipy")

import loamara
import loamara._curves as C
from loamara._fit import FitError, fit, fit_many

# Carsel and Parrish (1988), van Genuchten parameters of the 12 USDA
# classes: theta_r, theta_s, alpha (1/cm), n; Ks (cm/d).  Loamy sand's
# alpha is 0.124 (0.125 in HYDRUS' table is a rounding).
CARSEL_PARRISH = {
    "sand": (0.045, 0.43, 0.145, 2.68, 712.8),
    "loamy sand": (0.057, 0.41, 0.124, 2.28, 350.2),
    "sandy loam": (0.065, 0.41, 0.075, 1.89, 106.1),
    "loam": (0.078, 0.43, 0.036, 1.56, 24.96),
    "silt": (0.034, 0.46, 0.016, 1.37, 6.0),
    "silt loam": (0.067, 0.45, 0.020, 1.41, 10.8),
    "sandy clay loam": (0.100, 0.39, 0.059, 1.48, 31.44),
    "clay loam": (0.095, 0.41, 0.019, 1.31, 6.24),
    "silty clay loam": (0.089, 0.43, 0.010, 1.23, 1.68),
    "sandy clay": (0.100, 0.38, 0.027, 1.23, 2.88),
    "silty clay": (0.070, 0.36, 0.005, 1.09, 0.48),
    "clay": (0.068, 0.38, 0.008, 1.09, 4.80),
}
# Ten suctions of a laboratory campaign, cm.
H10 = np.array([1.0, 3.0, 10.0, 30.0, 60.0, 100.0, 330.0, 1000.0, 3000.0,
                15000.0])


def vg(h, tr, ts, a, n):
    return C.calc_swrc_van_genuchten(h, tr, ts, a, n, 1 - 1 / n)


@pytest.mark.parametrize("soil", CARSEL_PARRISH)
def test_carsel_parrish_classes_recovered(soil):
    tr, ts, a, n, ks = CARSEL_PARRISH[soil]
    r = fit(H10, vg(H10, tr, ts, a, n), "vg")
    got = [r.params[p] for p in ("theta_r", "theta_s", "alpha", "n")]
    np.testing.assert_allclose(got, [tr, ts, a, n], rtol=1e-6)
    assert r.units["alpha"] == "1/cm" and r.rmse < 1e-9
    # With the conductivity curve at the same suctions: Ks as well.
    k = C.calc_hcc_mualem_van_genuchten(H10, ks, a, n, 0.5)
    rk = fit(H10, vg(H10, tr, ts, a, n), "vg", k=k, k_unit="cm/d")
    np.testing.assert_allclose([rk.params["ks"], rk.params["n"]], [ks, n],
                               rtol=1e-6)
    assert rk.params["l"] == 0.5 and "l" in rk.fixed
    assert rk.measured()["ksat"] == pytest.approx(ks * 10 / 24, rel=1e-6)


# Each model with parameters inside its bounds, the suctions (cm) and the
# noise of the water contents.
TRUE = {
    "vg": (vg, {"theta_r": 0.08, "theta_s": 0.43, "alpha": 0.036,
                "n": 1.56}),
    "kosugi": (C.calc_swrc_kosugi, {"theta_r": 0.06, "theta_s": 0.42,
                                    "h_m": 150.0, "sigma": 1.8}),
    "bc": (C.calc_swrc_brooks_corey, {"theta_r": 0.05, "theta_s": 0.41,
                                      "psi_b": 12.0, "lambda": 0.45}),
}


@pytest.mark.parametrize("model", TRUE)
def test_confidence_intervals_cover_at_nominal_rate(model):
    fn, true = TRUE[model]
    h = np.geomspace(1.0, 15000.0, 15)
    clean = fn(h, *true.values())
    trials, inside = 200, dict.fromkeys(true, 0)
    for seed in range(trials):
        rng = np.random.default_rng(seed)
        r = fit(h, clean + rng.normal(0.0, 0.004, h.size), model)
        for p, v in true.items():
            lo, hi = r.ci[p]
            inside[p] += lo <= v <= hi
    # 95 % intervals: of 200, 190 expected; below 176 (4.6 standard
    # deviations of the binomial count) is a fault.
    for p, count in inside.items():
        assert 176 <= count <= 200, (p, count)


def test_result_statistics_and_curves():
    rng = np.random.default_rng(7)
    h = np.geomspace(1.0, 15000.0, 12)
    theta = vg(h, 0.08, 0.43, 0.036, 1.56) + rng.normal(0, 0.003, h.size)
    r = fit(h, theta, "vg")
    resid = vg(h, *[r.params[p] for p in ("theta_r", "theta_s", "alpha",
                                          "n")]) - theta
    ssr = float(resid @ resid)
    assert r.ssr == pytest.approx(ssr, rel=1e-9)
    assert r.rmse == pytest.approx(math.sqrt(ssr / 12), rel=1e-9)
    assert r.aic == pytest.approx(12 * math.log(ssr / 12) + 10, rel=1e-9)
    assert r.aicc == pytest.approx(r.aic + 2 * 5 * 6 / 6, rel=1e-9)
    assert r.bic == pytest.approx(12 * math.log(ssr / 12) + 5 * math.log(12))
    assert 0.99 < r.r2 < 1
    # curve() and theta_at in any unit; heads as a pint Quantity.
    kpa = loamara.curve(r, [10.0, 33.0], h_unit="kPa")
    np.testing.assert_allclose(kpa, r.theta_at([101.97162, 336.50635]),
                               rtol=1e-6)
    assert r.measured()["theta_33"] == pytest.approx(kpa[1])
    pint = pytest.importorskip("pint")
    q = loamara.units.registry().Quantity(h / 100.0, "m")
    r2 = fit(q, theta * 100, "vg", theta_unit="%")
    assert r2.params["alpha"] == pytest.approx(r.params["alpha"], rel=1e-6)
    del pint


def test_fixed_m_free_and_best():
    h = np.geomspace(1.0, 15000.0, 12)
    theta = C.calc_swrc_van_genuchten(h, 0.0, 0.45, 0.02, 1.4, 0.5)
    r = fit(h, theta, "vg_m", fixed={"theta_r": 0.0})
    assert r.fixed == ("theta_r",) and r.stderr["theta_r"] == 0.0
    np.testing.assert_allclose([r.params["n"], r.params["m"]], [1.4, 0.5],
                               rtol=1e-6)
    with pytest.raises(FitError, match="not a parameter"):
        fit(h, theta, "vg", fixed={"b": 1})
    # Durner data: the bimodal model wins by AICc among all.
    theta2 = C.calc_swrc_durner(h, 0.03, 0.45, 0.4, 0.5, 3.0, 0.004, 1.6)
    rng = np.random.default_rng(3)
    best = fit(np.tile(h, 2), np.tile(theta2, 2) + rng.normal(
        0, 0.001, 24), "best")
    assert best.model == "durner" and best.ranking[0] is not None
    assert [x.aicc for x in best.ranking] == sorted(
        x.aicc for x in best.ranking)
    assert best.params["alpha_1"] > best.params["alpha_2"]
    # The band (from the covariance, reordered with the pore systems)
    # holds the curve and narrows where the points are.
    lo, hi = best.theta_band(h)
    mid = best.theta_at(h)
    assert np.all(lo < mid) and np.all(mid < hi) and np.all(hi - lo < 0.01)


@pytest.mark.parametrize("h, theta, why", [
    ([10, 100, 1000], [0.4, 0.3, 0.2], "3 points for 4 parameters"),
    ([10, 100, np.nan, 1000, 3000], [0.4, 0.3, 0.2, 0.15, 0.1],
     "not finite"),
    ([10, 100, 300, 1000, 3000], [0.4, 0.3, -0.2, 0.15, 0.1],
     "negative water content"),
    ([100] * 6, [0.4, 0.3, 0.2, 0.15, 0.1, 0.1], "one suction"),
    ([10, 100, 300, 1000, 3000], [40, 30, 20, 15, 10], "above 1"),
])
def test_bad_data_clear_error_per_sample(h, theta, why):
    with pytest.raises(FitError, match=why):
        fit(h, theta, "vg")
    good = (H10, vg(H10, 0.078, 0.43, 0.036, 1.56), None)
    out = fit_many([("a", *good), ("bad", np.array(h, float),
                                   np.array(theta, float), None),
                    ("b", *good)], model="vg")
    assert [o[0] for o in out] == ["a", "bad", "b"]
    assert out[1][1] is None and why in out[1][2]
    assert out[0][1] is not None and out[2][1] is not None
    assert out[0][1].params == out[2][1].params


def test_command_line_fits_every_sample(tmp_path, capsys):
    from loamara._cli import main

    rows = ["id,h_cm,theta"]
    rng = np.random.default_rng(5)
    for s in range(3):
        theta = vg(H10, 0.07, 0.42, 0.03 + 0.01 * s, 1.5)
        theta = theta + rng.normal(0, 0.003, H10.size)
        rows += [f"S{s},{a},{float(b)!r}" for a, b in zip(H10, theta)]
    rows += ["few,100,0.3", "few,1000,0.2", "neg,10,0.3", "neg,100,-0.1",
             "neg,300,0.2", "neg,1000,0.1", "neg,3000,0.1"]
    src = tmp_path / "data.csv"
    src.write_text("\n".join(rows) + "\n")
    out = tmp_path / "params.csv"
    out.write_text("previous")
    assert main([ "fit", str(src), "--sample", "id", "--h", "h_cm",
                  "--theta", "theta", "--h-unit", "cm", "--model", "vg",
                  "-o", str(out)]) == 0
    import csv
    with open(out) as f:
        table = list(csv.DictReader(f))
    assert [r["id"] for r in table] == ["S0", "S1", "S2", "few", "neg"]
    assert [r["status"] for r in table[:3]] == ["ok"] * 3
    assert "2 points for 4 parameters" in table[3]["status"]
    assert "negative water content -0.1" in table[4]["status"]
    assert table[4]["alpha [1/cm]"] == "nan"
    np.testing.assert_allclose([float(r["alpha [1/cm]"]) for r in table[:3]],
                               [0.03, 0.04, 0.05], rtol=0.25)
    assert "3 of 5 samples fitted" in capsys.readouterr().err
    # A table without the columns: an error, the previous output kept.
    assert main(["fit", str(src), "--sample", "id", "--h", "h",
                 "--theta", "theta", "-o", str(out)]) == 1
    assert "no column 'h'" in capsys.readouterr().err
    assert "S0" in out.read_text()


@pytest.mark.parametrize("model, theta, k, true", [
    ("kosugi", lambda h: C.calc_swrc_kosugi(h, 0.05, 0.42, 120.0, 1.6),
     lambda h, t: C.calc_hcc_kosugi(h, 24.0, 120.0, 1.6, -0.7),
     {"h_m": 120.0, "sigma": 1.6, "ks": 24.0, "l": -0.7}),
    ("bc", lambda h: C.calc_swrc_brooks_corey(h, 0.05, 0.42, 12.0, 0.4),
     lambda h, t: C.calc_hcc_brooks_corey(h, 11.0, 12.0, 0.4),
     {"psi_b": 12.0, "lambda": 0.4, "ks": 11.0}),
    ("campbell", lambda h: C.calc_swrc_campbell(h, 0.45, 5.0, 4.0),
     lambda h, t: C.calc_hcc_campbell(t, 3.0, 0.45, 4.0),
     {"psi_e": 5.0, "b": 4.0, "ks": 3.0}),
])
def test_joint_conductivity_fits(model, theta, k, true):
    h = np.geomspace(1.0, 15000.0, 10)
    t = theta(h)
    kk = k(h, t)
    kk[3] = np.nan   # not measured at one suction
    r = fit(h, t, model, k=kk, l="fit")
    np.testing.assert_allclose([r.params[q] for q in true],
                               list(true.values()), rtol=1e-6)
    with pytest.raises(FitError, match="no conductivity model"):
        fit(h, t, "durner", k=kk)
