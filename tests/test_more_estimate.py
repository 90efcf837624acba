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


def test_rosetta_without_its_package_names_the_extra(monkeypatch):
    import sys
    monkeypatch.setitem(sys.modules, "rosetta", None)
    with pytest.raises(ImportError, match=r"loamara\[rosetta\]"):
        loamara.estimate("rosetta3", sand=40, silt=40, clay=20)
