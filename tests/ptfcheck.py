"""Shared helpers of the test suite: the expected registration tables of
the three extension modules, exact comparisons, the NaN-dependence check used by
every family's tests, the C library's functions for references, edge inputs
and floating-point flags."""
import ctypes
import ctypes.util
from decimal import Decimal

import numpy as np

import _loamara
import loamara._curves as _curves
import loamara._more as _more

# Every ufunc of the module: name, nin, nout, in registration order.
EXPECTED_ROWS = [
    ("calc_ptf_ahuja1984", 4, 1),
    ("calc_ptf_aimrun2009", 4, 1),
    ("calc_ptf_beniaich2023_slr1", 1, 3),
    ("calc_ptf_beniaich2023_slr2", 1, 3),
    ("calc_ptf_beniaich2023_slr3", 1, 3),
    ("calc_ptf_beniaich2023_slr4", 2, 3),
    ("calc_ptf_beniaich2023_slr5", 2, 3),
    ("calc_ptf_beniaich2023_slr6", 1, 3),
    ("calc_ptf_beniaich2023_mlr1", 3, 3),
    ("calc_ptf_beniaich2023_mlr2", 2, 3),
    ("calc_ptf_beniaich2023_mlr3", 2, 3),
    ("calc_ptf_beniaich2023_mlr4", 2, 3),
    ("calc_ptf_beniaich2023_mlr5", 3, 3),
    ("calc_ptf_chakraborty2011_eq1", 2, 4),
    ("calc_ptf_chakraborty2011_eq2", 2, 4),
    ("calc_ptf_chakraborty2011_eq3", 3, 4),
    ("calc_ptf_chakraborty2011_eq4", 3, 4),
    ("calc_ptf_chakraborty2011_eq5", 4, 4),
    ("calc_ptf_chakraborty2011_eq6", 5, 4),
    ("calc_ptf_clapp1978", 1, 6),
    ("calc_ptf_cosby1984_univariate", 3, 7),
    ("calc_ptf_dharumarajan2019_nkp", 3, 2),
    ("calc_ptf_dharumarajan2019_nkp_clay", 1, 2),
    ("calc_ptf_dharumarajan2019_skp", 3, 2),
    ("calc_ptf_dharumarajan2019_skp_clay", 1, 2),
    ("calc_ptf_dharumarajan2019_infiltration", 3, 1),
    ("calc_ptf_dijkerman1988", 2, 2),
    ("calc_ptf_dijkerman1988_available_water", 2, 1),
    ("calc_ptf_ferrerjulia2004_campbell_shiozawa", 2, 1),
    ("calc_ptf_ferrerjulia2004_saxton", 2, 1),
    ("calc_ptf_ferrerjulia2004_dane_puckett", 1, 1),
    ("calc_ptf_ferrerjulia2004_puckett", 1, 1),
    ("calc_ptf_ferrerjulia2004_cosby", 2, 1),
    ("calc_ptf_ferrerjulia2004_humic_acrisol_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_humic_acrisol_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_calcic_cambisol_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_calcic_cambisol_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_dystric_cambisol_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_dystric_cambisol_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_eutric_cambisol_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_eutric_cambisol_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_gleyic_cambisol_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_gleyic_cambisol_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_humic_cambisol_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_humic_cambisol_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_calcaric_fluvisol_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_calcaric_fluvisol_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_calcic_luvisol_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_calcic_luvisol_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_chromic_luvisol_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_chromic_luvisol_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_gleyic_luvisol_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_gleyic_luvisol_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_orthic_luvisol_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_orthic_luvisol_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_ranker_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_ranker_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_calcaric_regosol_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_calcaric_regosol_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_dystric_regosol_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_dystric_regosol_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_eutric_regosol_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_eutric_regosol_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_rendzina_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_rendzina_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_gleyic_solonchak_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_gleyic_solonchak_texture_organic_matter", 3, 1),
    ("calc_ptf_ferrerjulia2004_general_sand", 1, 1),
    ("calc_ptf_ferrerjulia2004_general_texture_organic_matter", 3, 1),
    ("calc_ptf_gunarathna2019_vwc10_set1", 1, 1),
    ("calc_ptf_gunarathna2019_vwc10_set2", 2, 1),
    ("calc_ptf_gunarathna2019_vwc10_set3", 3, 1),
    ("calc_ptf_gunarathna2019_vwc10_set4", 3, 1),
    ("calc_ptf_gunarathna2019_vwc33_set1", 1, 1),
    ("calc_ptf_gunarathna2019_vwc33_set2", 2, 1),
    ("calc_ptf_gunarathna2019_vwc33_set3", 3, 1),
    ("calc_ptf_gunarathna2019_vwc33_set4", 3, 1),
    ("calc_ptf_gunarathna2019_vwc1500_set1", 1, 1),
    ("calc_ptf_gunarathna2019_vwc1500_set3", 2, 1),
    ("calc_ptf_gunarathna2019_vwc1500_set4", 2, 1),
    ("calc_ptf_hodnett2002", 7, 4),
    ("calc_ptf_jabro1992", 3, 1),
    ("calc_ptf_lal1979_group_i_water_0bar_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_i_water_0bar_from_sand", 1, 1),
    ("calc_ptf_lal1979_group_ii_water_0bar_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_ii_water_0bar_from_sand", 1, 1),
    ("calc_ptf_lal1979_group_i_water_01bar_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_i_water_03bar_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_i_water_01bar_from_sand", 1, 1),
    ("calc_ptf_lal1979_group_i_water_03bar_from_sand", 1, 1),
    ("calc_ptf_lal1979_group_ii_water_01bar_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_ii_water_03bar_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_ii_water_01bar_from_sand", 1, 1),
    ("calc_ptf_lal1979_group_ii_water_03bar_from_sand", 1, 1),
    ("calc_ptf_lal1979_group_i_water_15bar_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_i_water_15bar_from_sand", 1, 1),
    ("calc_ptf_lal1979_group_i_water_15bar_from_silt", 1, 1),
    ("calc_ptf_lal1979_group_ii_water_15bar_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_ii_water_15bar_from_sand", 1, 1),
    ("calc_ptf_lal1979_group_i_moisture_equivalent_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_i_moisture_equivalent_from_sand", 1, 1),
    ("calc_ptf_lal1979_group_ii_moisture_equivalent_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_ii_moisture_equivalent_from_sand", 1, 1),
    ("calc_ptf_lal1979_group_ii_moisture_equivalent_from_silt", 1, 1),
    ("calc_ptf_lal1979_group_ii_water_03bar_from_water_01bar", 1, 1),
    ("calc_ptf_lal1979_group_ii_water_15bar_from_water_01bar", 1, 1),
    ("calc_ptf_lal1979_group_i_upper_plastic_limit_from_organic_carbon", 1, 1),
    ("calc_ptf_lal1979_group_i_lower_plastic_limit_from_organic_carbon", 1, 1),
    ("calc_ptf_lal1979_group_i_plasticity_index_from_organic_carbon", 1, 1),
    ("calc_ptf_lal1979_group_i_upper_plastic_limit_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_i_lower_plastic_limit_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_i_plasticity_index_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_i_lower_plastic_limit_from_sand", 1, 1),
    ("calc_ptf_lal1979_group_i_plasticity_index_from_sand", 1, 1),
    ("calc_ptf_lal1979_group_ii_upper_plastic_limit_from_organic_carbon", 1, 1),
    ("calc_ptf_lal1979_group_ii_plasticity_index_from_organic_carbon", 1, 1),
    ("calc_ptf_lal1979_group_ii_upper_plastic_limit_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_ii_lower_plastic_limit_from_clay", 1, 1),
    ("calc_ptf_lal1979_group_ii_upper_plastic_limit_from_sand", 1, 1),
    ("calc_ptf_lal1979_group_ii_lower_plastic_limit_from_sand", 1, 1),
    ("calc_ptf_lal1979_group_ii_upper_plastic_limit_from_silt", 1, 1),
    ("calc_ptf_lal1979_group_ii_lower_plastic_limit_from_silt", 1, 1),
    ("calc_ptf_lal1979_group_ii_plasticity_index_from_silt", 1, 1),
    ("calc_ptf_li2007", 5, 4),
    ("calc_ptf_mayr1999", 5, 3),
    ("calc_ptf_myeni2021_fc", 3, 1),
    ("calc_ptf_myeni2021_pwp", 3, 1),
    ("calc_ptf_oosterveld1980_field_capacity_tension", 1, 1),
    ("calc_ptf_oosterveld1980_retention", 4, 1),
    ("calc_ptf_oosterveld1980_field_capacity", 3, 1),
    ("calc_ptf_oosterveld1980_wilting_point", 3, 1),
    ("calc_ptf_oosterveld1980_available_water", 3, 1),
    ("calc_ptf_pidgeon1972_fc", 3, 1),
    ("calc_ptf_pidgeon1972_fc_sand", 1, 1),
    ("calc_ptf_pidgeon1972_fc_sand_organic_matter", 2, 1),
    ("calc_ptf_pidgeon1972_fc_vol_sand_organic_matter", 2, 1),
    ("calc_ptf_pidgeon1972_pwp", 3, 1),
    ("calc_ptf_pidgeon1972_pwp_sand", 1, 1),
    ("calc_ptf_pidgeon1972_pwp_sand_organic_matter", 2, 1),
    ("calc_ptf_pidgeon1972_awc", 2, 1),
    ("calc_ptf_pidgeon1972_awc_sand_organic_matter", 2, 1),
    ("calc_ptf_pidgeon1972_awc_coarse_sand", 1, 1),
    ("calc_ptf_pidgeon1972_awc_fine_sand", 1, 1),
    ("calc_ptf_pidgeon1972_awc_very_fine_sand", 1, 1),
    ("calc_ptf_pidgeon1972_eawc", 3, 1),
    ("calc_ptf_pidgeon1972_eawc_sand", 1, 1),
    ("calc_ptf_pidgeon1972_eawc_sand_organic_matter", 2, 1),
    ("calc_ptf_pidgeon1972_eawc_coarse_sand_organic_matter", 2, 1),
    ("calc_ptf_pidgeon1972_eawc_fine_sand_organic_matter", 2, 1),
    ("calc_ptf_puckett1985", 5, 11),
    ("calc_ptf_rawls1982_theta_1500", 2, 1),
    ("calc_ptf_rawls1982_theta_33", 3, 1),
    ("calc_ptf_rawls1982_full_wrc", 5, 12),
    ("calc_ptf_saxton2006", 3, 10),
    ("calc_ptf_saxton2006_density", 4, 4),
    ("calc_ptf_saxton2006_tension_dry", 3, 1),
    ("calc_ptf_saxton2006_tension_wet", 4, 1),
    ("calc_ptf_saxton2006_conductivity", 4, 1),
    ("calc_ptf_saxton2006_gravel", 4, 4),
    ("calc_ptf_saxton2006_salinity", 3, 2),
    ("calc_ptf_tiwary2014_igp", 3, 1),
    ("calc_ptf_tiwary2014_bsr", 6, 4),
    ("calc_ptf_varallyai1982_meadow", 3, 3),
    ("calc_ptf_varallyai1982_chernozem_a", 2, 3),
    ("calc_ptf_varallyai1982_chernozem_b", 2, 3),
    ("calc_ptf_varallyai1982_chernozem_c", 2, 3),
    ("calc_ptf_vereecken1989", 4, 4),
    ("calc_ptf_vereecken1989_detailed", 13, 4),
    ("calc_ptf_wang2012", 6, 3),
    ("calc_ptf_weber2020", 6, 7),
    ("calc_ptf_zhao2016_m2_1", 3, 1),
    ("calc_ptf_zhao2016_m2_2", 3, 1),
    ("calc_ptf_zhao2016_m2_3", 3, 1),
    ("calc_ptf_zhao2016_m2_4", 3, 1),
    ("calc_ptf_zhao2016_m2_5", 3, 1),
    ("calc_ptf_zhao2016_m2_6", 3, 1),
]
EXPECTED_COUNTS = {name: (nin, nout) for name, nin, nout in EXPECTED_ROWS}

# Every ufunc of loamara._curves: name, nin, nout, in registration order.
CURVE_ROWS = [
    ("calc_swrc_durner", 8, 1),
    ("calc_swrc_van_genuchten", 6, 1),
    ("calc_swrc_van_genuchten_head", 6, 1),
    ("calc_hcc_mualem_van_genuchten", 5, 1),
    ("calc_swrc_kosugi", 5, 1),
    ("calc_hcc_kosugi", 5, 1),
    ("calc_swrc_brooks_corey", 5, 1),
    ("calc_hcc_brooks_corey", 4, 1),
    ("calc_swrc_campbell", 4, 1),
    ("calc_swrc_campbell_suction", 4, 1),
    ("calc_hcc_campbell", 4, 1),
    ("calc_swrc_saxton2006", 5, 1),
    ("calc_swrc_saxton2006_suction", 5, 1),
    ("calc_texture_usda", 3, 1),
]

# Every ufunc of loamara._more: name, nin, nout, in registration order.
MORE_ROWS = [
    ("calc_ptf_carsel1988", 1, 5),
    ("calc_ptf_cosby1984", 3, 4),
    ("calc_ptf_rawls1982_class", 1, 5),
    ("calc_ptf_rawls1985", 3, 3),
    ("calc_ptf_schaap2001_class", 1, 7),
    ("calc_ptf_toth2015", 6, 4),
    ("calc_ptf_toth2015_ptf05", 5, 1),
    ("calc_ptf_toth2015_ptf09", 3, 1),
    ("calc_ptf_toth2015_ptf12", 3, 1),
    ("calc_ptf_weynants2009", 4, 5),
    ("calc_ptf_wosten1999", 5, 5),
    ("calc_ptf_wosten1999_class", 1, 7),
]

# The ufuncs whose input is not float64: a class index, with a uint32 loop
# and an int64 loop.
UINT32_INPUT = {"calc_ptf_clapp1978", "calc_ptf_carsel1988",
                "calc_ptf_rawls1982_class", "calc_ptf_schaap2001_class",
                "calc_ptf_wosten1999_class"}
INDEX_DTYPES = (np.uint32, np.int64)


def registered_names(module=_loamara):
    """Names of a module's ufuncs, in attribute (registration) order."""
    return [n for n, v in vars(module).items() if isinstance(v, np.ufunc)]


def all_ufuncs():
    """Every ufunc of the three modules by name (the names are unique across
    them): _loamara's in registration order, then loamara._curves', then
    loamara._more's."""
    return {n: getattr(m, n) for m in (_loamara, _curves, _more)
            for n in registered_names(m)}


def input_dtype(name):
    return np.uint32 if name in UINT32_INPUT else np.float64


def call(ufunc, *args, **kwargs):
    """Calls a ufunc with every argument converted to its registered operand
    type (Python floats are not float64 operands for NumPy's dispatch), and
    always returns a tuple of outputs."""
    dt = input_dtype(ufunc.__name__)
    return as_tuple(ufunc(*[np.asarray(a, dtype=dt) for a in args], **kwargs))


def as_tuple(res):
    """The outputs of a ufunc call as a tuple, also for a single output."""
    return res if isinstance(res, tuple) else (res,)


def bits(a):
    """The raw 64-bit patterns of a float64 array, for bit-for-bit checks."""
    return np.ascontiguousarray(a, dtype=np.float64).view(np.uint64)


def assert_same_bits(actual, expected):
    """Equal bit for bit, except that a NaN equals any NaN: IEEE 754 leaves
    the sign and payload of a computed NaN open, and vectorised loops may
    swap the operands of commutative operations.  (A NaN whose pattern is
    defined, Clapp's out-of-table NaN, is checked with `bits` directly.)"""
    actual = np.asarray(actual, dtype=np.float64)
    expected = np.asarray(expected, dtype=np.float64)
    assert actual.shape == expected.shape
    nan = np.isnan(expected)
    np.testing.assert_array_equal(np.isnan(actual), nan)
    np.testing.assert_array_equal(bits(np.where(nan, 0.0, actual)),
                                  bits(np.where(nan, 0.0, expected)))


def assert_rounds_to(actual, text):
    """True if `actual` rounds to the decimal `text` at the last digit it
    shows (worked values are quoted rounded to a number of digits)."""
    exp = Decimal(text).as_tuple().exponent
    half = 0.5 * 10.0 ** exp
    value = float(actual)
    assert abs(value - float(text)) <= half * (1 + 1e-9) + 1e-15 * abs(value), (
        f"{value!r} does not round to {text}")


def assert_worked(ufunc, args, expected):
    """Checks each output of one element against its quoted rounded value
    (a string, compared at its last digit) or exact value (a float)."""
    outs = call(ufunc, *args)
    assert len(outs) == len(expected)
    for got, want in zip(outs, expected):
        if isinstance(want, str):
            assert_rounds_to(got, want)
        else:
            assert_same_bits(got, want)


def assert_nan_dependence(ufunc, base, uses):
    """NaN in input k reaches exactly the outputs listed in uses[k]; every
    other output keeps, bit for bit, its value at the base point.  `base`
    must give finite outputs."""
    ref = call(ufunc, *base)
    nout = len(ref)
    for k in range(len(base)):
        args = list(base)
        args[k] = np.nan
        outs = call(ufunc, *args)
        for j in range(nout):
            if j in uses[k]:
                assert np.isnan(outs[j]), f"input {k} should reach output {j}"
            else:
                assert_same_bits(outs[j], ref[j])


class _CLibrary:
    """exp, log, log10, pow and fmax of the C library, element by element
    over arrays: the functions the kernels call, for references that must
    round as they do and raise the flags they raise, which NumPy reports as
    for any of its calls.  (Python's math module checks arguments and
    raises where the C functions return NaN or an infinity.)"""

    def __init__(self):
        lib = ctypes.CDLL(ctypes.util.find_library("m") or "libm.so.6")
        for name, nargs in (("exp", 1), ("log", 1), ("log10", 1), ("pow", 2),
                            ("fmax", 2)):
            fn = getattr(lib, name)
            fn.restype = ctypes.c_double
            fn.argtypes = [ctypes.c_double] * nargs
            setattr(self, name, self._over_arrays(fn, nargs))

    @staticmethod
    def _over_arrays(fn, nargs):
        ufunc = np.frompyfunc(fn, nargs, 1)

        def apply(*args):
            return np.asarray(ufunc(*args), dtype=np.float64)
        return apply


LIBM = _CLibrary()

# Values that stress a formula's domain: signed zeros, subnormals, the
# extremes of the normal range, negatives (invalid logarithms and powers),
# infinities, NaN, and ordinary magnitudes.
EDGE_VALUES = np.array([
    0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308, 1e-300, 1e-20,
    -1.0, -20.0, -1e300, 0.005, 0.5, 1.0, 10.0, 100.0, 709.0, 1e300,
    1.7976931348623157e308, np.inf, -np.inf, np.nan])


def edge_inputs(nin, n, rng):
    """nin arrays of n values: about half from EDGE_VALUES, the rest random
    fractions, percentages and small numbers of either sign."""
    out = []
    for _ in range(nin):
        pick = rng.integers(0, 4, n)
        x = np.select([pick == 0, pick == 1, pick == 2],
                      [rng.uniform(0.0, 1.0, n), rng.uniform(0.0, 100.0, n),
                       rng.uniform(-5.0, 5.0, n)],
                      rng.choice(EDGE_VALUES, n))
        edge = rng.random(n) < 0.3
        x[edge] = rng.choice(EDGE_VALUES, edge.sum())
        out.append(x)
    return out


def fp_flags(fn):
    """Runs fn() and returns (flags, result): the floating-point flags NumPy
    reports for it, as the bit mask its error callback receives (1 divide by
    zero, 2 overflow, 4 underflow, 8 invalid; 0 for none).  This is what
    np.errstate(all='raise') acts on, with every flag instead of the first
    that raises."""
    seen = [0]
    with np.errstate(all="call", call=lambda kind, flag: seen.append(flag)):
        result = fn()
    return int(np.bitwise_or.reduce(seen)), result


def assert_matches_reference(ufunc, reference, n=1000, flag_checks=300,
                             seed=0):
    """The ufunc agrees with `reference`, a function of its input arrays
    that returns its outputs, written step by step in the formula's order
    with NumPy arithmetic and LIBM's functions: on edge inputs every value
    bit for bit (one contiguous call of n elements), and for each of the
    first flag_checks elements, evaluated alone, the floating-point flags
    (one NumPy call per step of the reference, their flags combined)."""
    rng = np.random.default_rng(seed)
    xs = edge_inputs(ufunc.nin, n, rng)
    with np.errstate(all="ignore"):
        got = call(ufunc, *xs)
        want = reference(*xs)
    assert len(got) == len(want)
    for g, w in zip(got, want):
        assert_same_bits(g, w)
    for i in range(flag_checks):
        one = [x[i:i + 1] for x in xs]
        flags, _ = fp_flags(lambda: ufunc(*one))
        expected, _ = fp_flags(lambda: reference(*one))
        assert flags == expected, (
            f"inputs {[float(x[0]) for x in one]}: flags {flags}, "
            f"reference {expected}")
