"""The catalog against the module: every ufunc described once, in order,
with as many inputs and outputs as it has, and with usable names."""
import keyword
import re

import numpy as np
import pytest

import _loamara
import loamara
import ptfcheck
from loamara._catalog import UNIT_OF_PUBLICATION

CATALOG = loamara.catalog()


def test_same_names_in_registration_order():
    assert [p.name for p in CATALOG] == ptfcheck.registered_names()
    assert len(CATALOG) == 176


@pytest.mark.parametrize("p", CATALOG, ids=lambda p: p.short_name)
def test_counts_and_operand_types_match_the_ufunc(p):
    u = getattr(_loamara, p.name)
    assert (p.nin, p.nout) == (u.nin, u.nout)
    # The catalog's operand types are the ones the single loop accepts.
    given = tuple(np.dtype(q.dtype) for q in p.inputs) + (None,) * p.nout
    resolved = u.resolve_dtypes(given)
    assert resolved[p.nin:] == (np.dtype(np.float64),) * p.nout
    assert all(q.dtype == "float64" for q in p.outputs)


def test_only_the_texture_class_is_an_integer_operand():
    ints = [(p.name, q.name) for p in CATALOG for q in p.inputs
            if q.dtype != "float64"]
    assert ints == [("calc_ptf_clapp1978", "texture_class")]
    assert loamara.lookup("clapp1978").inputs[0].dtype == "uint32"


RESULT_ATTRS = set(dir(loamara.Result))


@pytest.mark.parametrize("p", CATALOG, ids=lambda p: p.short_name)
def test_names_are_identifiers_and_unique(p):
    for group in (p.input_names, p.output_names):
        assert len(set(group)) == len(group)
        for n in group:
            assert n.isidentifier() and not keyword.iskeyword(n), n
    # Outputs are read as attributes of a Result: none may be hidden by one
    # of its methods.
    assert not RESULT_ATTRS & set(p.output_names)


@pytest.mark.parametrize("p", CATALOG, ids=lambda p: p.short_name)
def test_text_fields(p):
    assert p.name.startswith("calc_ptf_" + p.family)
    year = re.fullmatch(r"[a-z]+(\d{4})", p.family).group(1)
    assert re.fullmatch(rf"[A-Z][A-Za-z ,.\-]+ \({year}\)", p.publication)
    for text in [p.summary, *p.notes]:
        assert text.isascii() and text.strip() == text and text
    for q in p.inputs + p.outputs:
        for text in (q.unit, q.meaning):
            assert text.isascii() and text.strip() == text and text
        assert "|" not in q.unit + q.meaning  # Markdown table cells


def test_unnamed_predictors_say_the_publication_fixes_them():
    # Predictors whose soil property the package leaves to the publication
    # are named x0, x1, ... and never given a unit or meaning of our own.
    seen = 0
    for p in CATALOG:
        for q in p.inputs:
            if re.fullmatch(r"x\d+", q.name):
                seen += 1
                assert q.unit == UNIT_OF_PUBLICATION or q.unit == "fraction"
                assert "publication" in q.meaning or "source model" in (
                    q.meaning), (p.name, q.name)
    assert seen > 100


@pytest.mark.parametrize("key", [
    "saxton2006", "calc_ptf_saxton2006", " saxton2006 ",
    _loamara.calc_ptf_saxton2006])
def test_lookup_by_short_or_full_name_or_ufunc(key):
    assert loamara.lookup(key).name == "calc_ptf_saxton2006"


@pytest.mark.parametrize("key, near", [
    ("saxton2060", "calc_ptf_saxton2006"),
    ("calc_ptf_rawls1982_theta33", "calc_ptf_rawls1982_theta_33"),
    ("gunarathna2019_vwc1500_set2", "calc_ptf_gunarathna2019_vwc1500_set1"),
    ("zhao2016", "calc_ptf_zhao2016_m2_1"),
])
def test_unknown_name_suggests_the_nearest(key, near):
    with pytest.raises(loamara.UnknownPTFError) as err:
        loamara.lookup(key)
    assert near in str(err.value)


def test_other_ufuncs_are_not_in_the_catalog():
    with pytest.raises(loamara.UnknownPTFError):
        loamara.lookup(np.add)
    with pytest.raises(TypeError):
        loamara.lookup(42)


def test_package_reexports_the_module_ufuncs():
    for name in ptfcheck.registered_names():
        assert getattr(loamara, name) is getattr(_loamara, name)


def test_signature_and_call_text():
    p = loamara.lookup("jabro1992")
    assert p.signature() == "calc_ptf_jabro1992(silt, clay, bd) -> ksat"
    assert p.estimate_call() == (
        'loamara.estimate("jabro1992", silt=..., clay=..., bd=...)')
    assert loamara.lookup("dijkerman1988").signature().endswith(
        "-> (theta_wp, theta_fc)")
