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
