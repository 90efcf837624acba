"""The catalog against the module: every ufunc described once, in order,
with as many inputs and outputs as it has, with usable names, and with units,
kinds and ranges that agree with each other."""
import keyword
import math
import re

import numpy as np
import pytest

import _loamara
import loamara
import ptfcheck
from loamara._catalog import (CURVE_MODELS, NOT_ESTABLISHED,
                               UNIT_NOT_ESTABLISHED, kinds, publications)

# The records of the ufuncs; the catalog's other records are evaluated by
# a package (Rosetta through rosetta-soil).
CATALOG = tuple(p for p in loamara.catalog() if p.compiled)
ALL = loamara.catalog()
KINDS = kinds()


def test_same_names_in_registration_order():
    # _loamara's ufuncs, then those of loamara._more.
    assert [p.name for p in CATALOG] == (
        ptfcheck.registered_names()
        + ptfcheck.registered_names(ptfcheck._more))
    assert len(CATALOG) == 176 + len(ptfcheck.MORE_ROWS)
    assert {p.module for p in CATALOG[176:]} == {"loamara._more"}
    assert all(p.ufunc is getattr(loamara, p.name) for p in CATALOG)


def test_rosetta_records_are_in_the_catalog_beside_the_class_averages():
    others = [p for p in loamara.catalog() if not p.compiled]
    assert [p.name for p in others] == ["rosetta3", "rosetta2", "rosetta1"]
    names = [p.name for p in loamara.catalog()]
    assert names.index("rosetta1") + 1 == names.index(
        "calc_ptf_schaap2001_class")
    for p in others:
        assert p.module == "rosetta" and p.family == "schaap2001"
        assert p.short_name == p.name and loamara.lookup(p.name) is p
        assert [q.name for q in p.inputs if q.optional] == [
            "bd", "theta_33", "theta_1500"]
        # The standard deviations and the model code are kinds of their
        # own, so that no ensemble takes them for estimates.
        assert [q.kind for q in p.outputs] == [
            "theta_r", "theta_s", "alpha", "n", "ksat"] + [
            "standard_deviation"] * 5 + ["model_code"]
    assert others[0].signature().startswith(
        "rosetta3(sand, silt, clay, [bd], [theta_33], [theta_1500]) -> (")
    assert "rosetta3" in str(pytest.raises(
        loamara.UnknownPTFError, loamara.lookup, "rosseta3").value)


@pytest.mark.parametrize("p", CATALOG, ids=lambda p: p.short_name)
def test_counts_and_operand_types_match_the_ufunc(p):
    u = p.ufunc
    assert (p.nin, p.nout) == (u.nin, u.nout)
    # The catalog's operand types are the ones the single loop accepts.
    given = tuple(np.dtype(q.dtype) for q in p.inputs) + (None,) * p.nout
    resolved = u.resolve_dtypes(given)
    assert resolved[p.nin:] == (np.dtype(np.float64),) * p.nout
    assert all(q.dtype == "float64" for q in p.outputs)


def test_only_the_texture_class_is_an_integer_operand():
    ints = [(p.name, q.name) for p in CATALOG for q in p.inputs
            if q.dtype != "float64"]
    assert ints == [("calc_ptf_clapp1978", "texture_class")] + [
        (n, "texture_class") for n in ("calc_ptf_carsel1988",
                                       "calc_ptf_rawls1982_class",
                                       "calc_ptf_schaap2001_class")] + [
        ("calc_ptf_wosten1999_class", "hypres_class")]
    assert {n for n, _ in ints} == ptfcheck.UINT32_INPUT
    assert loamara.lookup("clapp1978").inputs[0].dtype == "uint32"


RESULT_ATTRS = set(dir(loamara.Result))


@pytest.mark.parametrize("p", ALL, ids=lambda p: p.short_name)
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
    for text in [p.summary, *p.notes, p.citation.citation]:
        assert text.isascii() and text.strip() == text and text
    for q in p.inputs + p.outputs:
        for text in (q.unit, q.meaning):
            assert text.isascii() and text.strip() == text and text
        assert "|" not in q.unit + q.meaning  # Markdown table cells


def test_unnamed_operands_have_no_unit_or_kind():
    # Operands whose soil property no source establishes keep their
    # positional names and get neither a unit nor a kind of our own.
    seen = 0
    for p in ALL:
        for q in p.inputs + p.outputs:
            if re.fullmatch(r"[xypqa]\d+", q.name):
                seen += 1
                assert (q.kind, q.unit, q.range) == (
                    NOT_ESTABLISHED, UNIT_NOT_ESTABLISHED, None), (p.name, q)
            if q.kind == NOT_ESTABLISHED:
                assert q.unit == UNIT_NOT_ESTABLISHED and q.range is None
    assert seen > 100


QUANTITIES = [(p, q) for p in ALL for q in p.inputs + p.outputs]


@pytest.fixture(scope="module")
def ureg():
    return pytest.importorskip("pint").UnitRegistry()


@pytest.mark.parametrize("p, q", QUANTITIES,
                         ids=[f"{p.short_name}.{q.name}"
                              for p, q in QUANTITIES])
def test_unit_parses_and_agrees_with_kind_and_range(p, q, ureg):
    kind = KINDS[q.kind]
    assert not q.aliases or not set(q.aliases) & set(
        p.input_names + p.output_names)
    if q.unit_from is not None:
        assert q.unit_from in p.input_names
    if not q.established or kind.unit is None:
        assert q.range is None or set(q.range) <= {0.0, None}, q
        return
    unit = ureg.Unit(q.unit)
    assert unit.dimensionality == ureg.Unit(kind.unit).dimensionality
    if q.log10 or kind.range is None:
        assert q.range is None
        return
    want = tuple(None if v is None else
                 ureg.Quantity(v, kind.unit).to(unit).magnitude
                 for v in kind.range)
    assert q.range is not None and len(q.range) == 2
    for got, w in zip(q.range, want):
        assert (got is None) == (w is None)
        assert w is None or math.isclose(got, w, rel_tol=1e-12, abs_tol=0)
    assert q.range_open == kind.range_open


def test_every_kind_is_used_and_well_formed():
    used = {q.kind for _, q in QUANTITIES}
    assert used == set(KINDS)
    for k in KINDS.values():
        assert re.fullmatch(r"[a-z][a-z0-9_]*", k.name)
        assert k.basis in (None, "volume", "mass")
        if k.range is not None:
            lo, hi = k.range
            assert lo is None or hi is None or lo < hi
        if k.suction_kpa is not None:
            assert k.name.endswith(("_sat", "_s", f"_{k.suction_kpa:g}"))


def test_every_family_has_a_publication():
    pubs = publications()
    assert set(pubs) == {p.family for p in CATALOG}
    for pub in pubs.values():
        assert pub.citation and pub.source
        assert pub.doi is None or re.fullmatch(r"10\.\d{4,}/\S+", pub.doi)


@pytest.mark.parametrize("p", [p for p in ALL if p.curve],
                         ids=lambda p: p.short_name)
def test_curve_tags_name_outputs_and_model_parameters(p):
    required, optional = CURVE_MODELS[p.curve.model]
    params = set(p.curve.parameters)
    assert set(required) <= params <= set(required + optional)
    for src in p.curve.parameters.values():
        assert len(set(src) & {"output", "value", "mualem", "table",
                               "not_established"}) == 1, src
        if "output" in src:
            assert src["output"] in p.output_names
        if "table" in src:  # looked up by the class index input
            assert src["by"] in p.input_names


def test_every_publication_says_where_it_holds_and_how_well():
    """Calibration and accuracy are filled or explicitly not established;
    every soil-group variant names its group; the documented doubts are
    there."""
    for fam, pub in loamara._catalog.publications().items():
        assert pub.calibration is not None, fam
        assert pub.calibration.population, fam
        for kind in pub.calibration.ranges:
            assert kind in loamara._catalog.kinds(), (fam, kind)
        for a in pub.accuracy:
            assert a.output in loamara._catalog.kinds(), (fam, a)
    grouped = {p.short_name for p in CATALOG if p.group is not None}
    for p in CATALOG:
        s = p.short_name
        fitted_to_one = (
            s.startswith(("lal1979_", "varallyai1982_", "tiwary2014_",
                          "dharumarajan2019_nkp", "dharumarajan2019_skp"))
            or (s.startswith("ferrerjulia2004_")
                and s.endswith(("_sand", "_texture_organic_matter"))
                and "_general_" not in s))
        assert (s in grouped) == fitted_to_one, s
    assert len([s for s in grouped if s.startswith("ferrerjulia")]) == 34
    for s in ("ferrerjulia2004_saxton", "ferrerjulia2004_cosby", "li2007",
              "clapp1978", "puckett1985", "beniaich2023_slr5",
              "hodnett2002"):
        assert loamara.lookup(s).doubt, s


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
