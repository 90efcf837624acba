"""The functions of loamara._more through the Python package: catalog
lookup, class tables found from texture or named FAO class, curves."""
import numpy as np
import pytest

import loamara
from loamara.texture import hypres_index, usda_index


def test_lookup_finds_the_ufunc_in_its_own_module():
    p = loamara.lookup(loamara.calc_ptf_wosten1999)
    assert p.module == "loamara._more" and p.ufunc is loamara.calc_ptf_wosten1999
    assert loamara.lookup("toth2015_ptf09").outputs[0].kind == "water_fc"
    from loamara._cli import describe_text
    assert "loamara._more.calc_ptf_wosten1999(clay" in describe_text(p)


def test_usda_class_tables_take_texture():
    tex = dict(sand=[40, 5, 90], silt=[40, 90, 5], clay=[20, 5, 5])
    r = loamara.estimate("carsel1988", **tex)
    np.testing.assert_array_equal(r.theta_s, [0.43, 0.46, 0.43])  # loam, silt, sand
    assert any("USDA texture class" in n for n in r.notes)
    ros = loamara.estimate("schaap2001_class", **tex)
    assert ros.n[1] == loamara.calc_ptf_schaap2001_class(np.uint32(4))[3]
    raw = loamara.estimate("rawls1982_class", **tex)  # silt has no row
    assert np.isnan(raw.theta_s[1]) and raw.theta_s[0] == 0.463
    assert usda_index([6.0, np.nan]).tolist() == [5, 12]


def test_hypres_class_by_name_index_and_layer():
    a = loamara.estimate("wosten1999_class", fao_class="medium fine", topsoil=1)
    b = loamara.estimate("wosten1999_class", fao_class=2, topsoil=1)
    assert a.theta_s == b.theta_s == 0.430
    assert hypres_index(["VF", "Coarse", "organic", "fine"],
                        [0, 0, np.nan, 0.5]).tolist() == [9, 5, 10, 11]
    with pytest.raises(ValueError, match="not an FAO"):
        hypres_index("loam", 1)


def test_curves_of_the_new_functions():
    loam = dict(sand=40, silt=40, clay=20, oc=1.2, bd=1.4, topsoil=1)
    for name, kw in [("wosten1999", dict(clay=20, silt=40, oc=1.2, bd=1.4,
                                         topsoil=1)),
                     ("toth2015", loam),
                     ("weynants2009", dict(sand=40, clay=20, oc=1.2, bd=1.4)),
                     ("cosby1984", dict(sand=40, silt=40, clay=20))]:
        theta = loamara.curve(loamara.estimate(name, **kw), h=[10.0, 15000.0])
        assert 0 < theta[1] < theta[0] < 0.6, name


def test_rosetta_picks_the_model_the_inputs_allow():
    pytest.importorskip("rosetta")
    nan = float("nan")
    r = loamara.estimate("rosetta3", sand=[30, 20, 55], silt=[30, 60, 25],
                         clay=[40, 20, 20], bd=[1.5, nan, 1.1],
                         theta_33=[0.3, 0.3, nan], theta_1500=[0.1, nan, nan])
    # The package's own documented example: models 5, 2 and 3.
    assert r.model.tolist() == [5, 2, 3]
    np.testing.assert_allclose(r.theta_s, [0.3839, 0.4301, 0.485], atol=5e-5)
    np.testing.assert_allclose(r.sd_ksat, [4.816, 3.1789, 27.0357], atol=5e-4)
    assert r.units["ksat"] == "cm/d"
    # Units convert; a curve follows from the parameters.
    f = loamara.estimate("rosetta3", sand=0.3, silt=0.3, clay=0.4,
                         units={"sand": "1", "silt": "1", "clay": "1"})
    g = loamara.estimate("rosetta3", sand=30, silt=30, clay=40)
    assert f.theta_s == g.theta_s
    assert 0 < loamara.curve(g, h=[15000.0])[0] < g.theta_s
    # Masked samples are not evaluated; a sample without its texture gets
    # no model.
    m = loamara.estimate("rosetta3", sand=np.ma.masked_array(
        [30.0, 20.0, nan], mask=[False, True, False]), silt=[30, 60, 25],
        clay=[40, 20, 20])
    assert m.theta_s.mask.tolist() == [False, True, False]
    assert m.theta_s[0] == g.theta_s and m.model[0] == 2
    assert np.isnan(m.theta_s[2]) and m.model[2] == -1


def test_rosetta_without_its_package_names_the_extra(monkeypatch):
    import sys
    monkeypatch.setitem(sys.modules, "rosetta", None)
    with pytest.raises(ImportError, match=r"loamara\[rosetta\]"):
        loamara.estimate("rosetta3", sand=40, silt=40, clay=20)


# The loam of the README.
LOAM = dict(sand=40.0, silt=40.0, clay=20.0, oc=1.2, bd=1.4, topsoil=1.0)
PCT = {"sand": "%", "silt": "%", "clay": "%", "oc": "%"}
HAVE_ROSETTA = loamara.lookup("rosetta3").needs is None


def test_the_loam_finds_the_new_functions_and_their_curves_join_theta_33():
    found = loamara.applicable(list(LOAM))
    names = {p.short_name for p in found.ptfs()}
    assert {"wosten1999", "weynants2009", "toth2015", "toth2015_ptf05",
            "toth2015_ptf09", "toth2015_ptf12", "cosby1984", "rawls1985",
            "carsel1988", "rawls1982_class", "schaap2001_class", "rosetta3",
            "rosetta2", "rosetta1"} <= names
    # Rawls and Brakensiek's porosity from bulk density, as published
    # implementations find it; no other function's porosity is.
    r = loamara.estimate("rawls1985", sand=40, clay=20, bd=1.4)
    assert r.h_b == loamara.calc_ptf_rawls1985(40.0, 20.0, 1.0 - 1.4 / 2.65)[1]
    assert "porosity = 1 - bd / 2.65" in r.notes[0]
    assert "ahuja1984" not in names
    # Keyword inputs: the class tables find the USDA class from them.
    e = loamara.ensemble("theta_33", units=PCT, **LOAM)
    pubs = {loamara.lookup(n).publication for n in e.names}
    assert {"Woesten et al. (1999)", "Weynants et al. (2009)",
            "Toth et al. (2015)", "Cosby et al. (1984)",
            "Carsel and Parrish (1988)", "Schaap et al. (2001)",
            "Saxton and Rawls (2006)", "Vereecken et al. (1989)"} <= pubs
    assert len(pubs) == len(e.names)  # each publication once
    assert {"wosten1999", "toth2015", "carsel1988"} <= set(e.curves)
    # Rosetta 3 with bulk density, or the class averages without the package.
    assert ("rosetta3" if HAVE_ROSETTA else "schaap2001_class") in e.names
    assert np.all((0.1 < e.members) & (e.members < 0.45))
    # Without the topsoil indicator, HYPRES and Toth are named, not dropped.
    soil = {k: v for k, v in LOAM.items() if k != "topsoil"}
    no = loamara.ensemble("theta_33", soil, units=PCT)
    for name in ("wosten1999", "toth2015"):
        assert name not in no.names
        assert no.omitted[name].startswith("needs topsoil")
    assert "not members:" in str(no)
    ev = loamara.evaluate({"theta_33": [0.3]}, {k: [v] for k, v in
                                                soil.items()}, units=PCT)
    assert "theta_33: wosten1999 is not ranked: needs topsoil" in str(ev)
    text = loamara.applicable(list(soil)).text()
    assert "with one more quantity:" in text
    line = next(t for t in text.splitlines() if t.startswith("  topsoil"))
    assert "calc_ptf_wosten1999" in line and "calc_ptf_toth2015" in line


def test_without_rosetta_soil_rosetta_is_named_as_needing_the_extra(
        monkeypatch):
    import sys

    from loamara import _ensemble

    monkeypatch.setitem(sys.modules, "rosetta", None)
    _ensemble._select.cache_clear()
    try:
        assert "needs the rosetta-soil package: pip install " \
            "'loamara[rosetta]'" in loamara.applicable(list(LOAM)).text()
        e = loamara.ensemble("theta_33", LOAM, units=PCT)
        assert "schaap2001_class" in e.names and "rosetta3" not in e.names
        assert "loamara[rosetta]" in e.omitted["rosetta3"]
        with pytest.raises(ImportError, match=r"loamara\[rosetta\]"):
            loamara.estimate("rosetta3", sand=40, silt=40, clay=20, bd=1.4)
        pytest.importorskip("matplotlib")
        from loamara import plot
        fig = plot.retention(["rosetta3", "carsel1988"], **{
            k: v for k, v in LOAM.items() if k != "oc"})
        skipped = {s.name: s.reason for s in plot.skipped(fig)}
        assert list(skipped) == ["rosetta3"]
        assert "rosetta-soil" in skipped["rosetta3"]
    finally:
        _ensemble._select.cache_clear()


def test_ensemble_command_notes_the_functions_left_out(tmp_path):
    import subprocess
    import sys

    src = tmp_path / "loam.csv"
    src.write_text("sand,silt,clay,oc,bd\n40,40,20,1.2,1.4\n")
    res = subprocess.run(
        [sys.executable, "-m", "loamara", "ensemble", "theta_33", str(src),
         "-o", str(tmp_path / "out.csv"), "--preset", "percent"],
        capture_output=True, text=True)
    assert res.returncode == 0, res.stderr
    assert "note: wosten1999 is not a member: needs topsoil" in res.stderr
    assert "note: toth2015 is not a member: needs topsoil" in res.stderr
    assert "Traceback" not in res.stderr
    if HAVE_ROSETTA:  # a table without the optional inputs
        res = subprocess.run(
            [sys.executable, "-m", "loamara", "run", "rosetta3", str(src),
             "-o", str(tmp_path / "r.csv")], capture_output=True, text=True)
        assert res.returncode == 0, res.stderr
        head, row = (tmp_path / "r.csv").read_text().splitlines()
        assert "model" in head and row.endswith(",3")  # with bd
