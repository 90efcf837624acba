"""The C-library calls every ufunc's formula makes for one element.

The benchmark's floor of a ufunc is the time of a compiled loop that streams
the same numbers of input and output arrays plus, for each call listed here,
the measured cost of that C-library function on the arguments the kernel
sees for the benchmark's inputs.  A ufunc that is not listed calls nothing
(its floor is the stream alone); a ufunc added later, in this module or in
another one, adds its row.

A row is the list of calls of one element, each made by one of the helpers
below with a function of (x, y) that returns the call's argument: x are the
ufunc's input arrays in input order, y its outputs on those inputs.  An
argument that is an intermediate value of the formula is recovered from an
output where that is simpler than repeating the formula (the argument of
exp for an output exp(t) is log(y)); only its order of magnitude matters for
the timing.  Constants folded by the compiler (ln 33, ln 1500) are not calls.
"""
from __future__ import annotations

import numpy as np

FUNCTIONS = ("exp", "log", "log10", "erfc", "pow")


def exp(arg):
    return ("exp", lambda x, y: (arg(x, y),))


def log(arg):
    return ("log", lambda x, y: (arg(x, y),))


def log10(arg):
    return ("log10", lambda x, y: (arg(x, y),))


def erfc(arg):
    return ("erfc", lambda x, y: (arg(x, y),))


def pow_(base, expo):
    return ("pow", lambda x, y: (base(x, y), expo(x, y)))


def pow10(expo):
    """pow(10, e)."""
    return pow_(lambda x, y: np.full_like(x[0], 10.0), expo)


def _scaled_exp_argument(name, x, y):
    """Argument t of an output a * exp(t) whose t is 0 at zero inputs:
    log(y / a), with a the ufunc's output at zero inputs."""
    a = _ufunc(name)(*[np.zeros(1) for _ in x])
    return np.log(y[0] / (a[0] if isinstance(a, tuple) else a))


LIBM_CALLS = {
    # Ahuja (1984): (porosity - theta33)^n.
    "calc_ptf_ahuja1984": [pow_(lambda x, y: x[0] - x[1], lambda x, y: x[3])],
    # Aimrun (2009): four logarithms, one exp.
    "calc_ptf_aimrun2009": [
        log(lambda x, y: x[1]), log(lambda x, y: x[2]),
        log(lambda x, y: x[0]), log(lambda x, y: x[3]),
        exp(lambda x, y: np.log(y[0] / 1.1574074074074073e-05))],
    # Jabro (1992): two log10, a power of ten.
    "calc_ptf_jabro1992": [
        log10(lambda x, y: x[0]), log10(lambda x, y: x[1]),
        pow10(lambda x, y: np.log10(y[0] / 2.777777777777778e-06))],
    # Ferrer-Julia et al. (2004), the earlier methods.
    "calc_ptf_ferrerjulia2004_campbell_shiozawa": [
        exp(lambda x, y: x[0] * -0.07 - x[1] * 0.167)],
    "calc_ptf_ferrerjulia2004_saxton": [
        log10(lambda x, y: x[1]), exp(lambda x, y: np.log(y[0] / 10))],
    "calc_ptf_ferrerjulia2004_dane_puckett": [
        exp(lambda x, y: x[0] * -0.144)],
    "calc_ptf_ferrerjulia2004_puckett": [exp(lambda x, y: x[0] * -0.1975)],
    "calc_ptf_ferrerjulia2004_cosby": [
        pow10(lambda x, y: x[0] * 0.012 - 0.6 - x[1] * 0.0064)],
    # Hodnett and Tomasella (2002): alpha and n are exp of a regression.
    "calc_ptf_hodnett2002": [exp(lambda x, y: np.log(y[0])),
                             exp(lambda x, y: np.log(y[1]))],
    # Li et al. (2007): logarithms of sand, silt, om, bd and clay; three exp.
    "calc_ptf_li2007": [
        log(lambda x, y: x[0]), log(lambda x, y: x[1]),
        log(lambda x, y: x[4]), log(lambda x, y: x[3]),
        log(lambda x, y: x[2]),
        exp(lambda x, y: np.log(y[0])), exp(lambda x, y: np.log(y[1])),
        exp(lambda x, y: np.log(y[3] / 1.1574074074074074e-07))],
    # Mayr and Jarvis (1999): two powers of ten.
    "calc_ptf_mayr1999": [pow10(lambda x, y: np.log10(y[0])),
                          pow10(lambda x, y: np.log10(y[1]))],
    # Oosterveld and Chang (1980): a power of clay or of the suction.
    "calc_ptf_oosterveld1980_field_capacity_tension": [
        pow_(lambda x, y: x[0], lambda x, y: np.full_like(x[0], 0.421))],
    "calc_ptf_oosterveld1980_retention": [
        pow_(lambda x, y: x[3], lambda x, y: np.full_like(x[0], -0.19))],
    "calc_ptf_oosterveld1980_field_capacity": [
        pow_(lambda x, y: x[0], lambda x, y: np.full_like(x[0], -0.08))],
    "calc_ptf_oosterveld1980_available_water": [
        pow_(lambda x, y: x[0], lambda x, y: np.full_like(x[0], -0.08))],
    # Puckett et al. (1985): Ks = exp(-0.1975 clay) * 4.36e-5.
    "calc_ptf_puckett1985": [exp(lambda x, y: x[2] * -0.1975)],
    # Saxton and Rawls (2006): ln theta33 and ln theta1500 once each, A by
    # exp, Ks by pow.
    "calc_ptf_saxton2006": [
        log(lambda x, y: y[1]), log(lambda x, y: y[0]),
        exp(lambda x, y: np.log(y[5])),
        pow_(lambda x, y: y[2] - y[1], lambda x, y: 3.0 - 1.0 / y[6])],
    "calc_ptf_saxton2006_tension_dry": [
        log(lambda x, y: x[2]), log(lambda x, y: x[1]),
        pow_(lambda x, y: x[0], lambda x, y: -_saxton_b(x)),
        exp(lambda x, y: _saxton_b(x) * np.log(x[2]) + np.log(33.0))],
    "calc_ptf_saxton2006_conductivity": [
        pow_(lambda x, y: x[0] / x[1], lambda x, y: 2.0 / x[3] + 3.0)],
    # Vereecken et al. (1989): alpha and n are exp of a regression.
    "calc_ptf_vereecken1989": [exp(lambda x, y: np.log(y[2])),
                               exp(lambda x, y: np.log(y[3]))],
    "calc_ptf_vereecken1989_detailed": [exp(lambda x, y: np.log(y[2])),
                                        exp(lambda x, y: np.log(y[3]))],
    # Wang et al. (2012): three log10, a power of ten.
    "calc_ptf_wang2012": [
        log10(lambda x, y: x[0]), log10(lambda x, y: x[2]),
        log10(lambda x, y: x[4] * 10),
        pow10(lambda x, y: np.log10(y[2] * 8640000))],
    # Weber et al. (2020): three log10 and three powers of ten (the constant
    # 10^-1.72 is one call per ufunc call, not per element).
    "calc_ptf_weber2020": [
        log10(lambda x, y: x[2]), pow10(lambda x, y: np.log10(y[2])),
        log10(lambda x, y: x[3] - 1), pow10(lambda x, y: np.log10(y[3] - 1)),
        log10(lambda x, y: x[5]), pow10(lambda x, y: np.log10(y[5]))],
}


def _saxton_b(x):
    """B of the tension curve from theta1500 = x[1] and theta33 = x[2]."""
    return (np.log(1500.0) - np.log(33.0)) / (np.log(x[2]) - np.log(x[1]))


# Ferrer-Julia et al. (2004), the sand form of every soil group:
# Ks = a * exp(b * sand).
for _group in ("humic_acrisol", "calcic_cambisol", "dystric_cambisol",
               "eutric_cambisol", "gleyic_cambisol", "humic_cambisol",
               "calcaric_fluvisol", "calcic_luvisol", "chromic_luvisol",
               "gleyic_luvisol", "orthic_luvisol", "ranker",
               "calcaric_regosol", "dystric_regosol", "eutric_regosol",
               "rendzina", "gleyic_solonchak", "general"):
    _name = f"calc_ptf_ferrerjulia2004_{_group}_sand"
    LIBM_CALLS[_name] = [
        exp(lambda x, y, _n=_name: _scaled_exp_argument(_n, x, y))]


def _ufunc(name):
    import _loamara
    return getattr(_loamara, name)


def calls_label(name: str) -> str:
    """Short description of a ufunc's calls, e.g. 'log×2 exp pow'."""
    counts: dict[str, int] = {}
    for func, _ in LIBM_CALLS.get(name, ()):
        counts[func] = counts.get(func, 0) + 1
    return " ".join(f if c == 1 else f"{f}×{c}" for f, c in counts.items())


# Why a ufunc may stay above its target, from what was measured on it;
# the summary shows the reason of each ufunc that is over.
REASONS: dict[str, str] = {
    "calc_ptf_li2007": (
        "eight calls per element (five log, three exp); each costs more in "
        "the kernel than alone in a tight loop (perf: the exp wrapper and "
        "the PLT stubs), the kernel's own code is about a tenth of its time"),
    "calc_ptf_saxton2006": (
        "two true divisions per element (B, then 1 / B for lambda and the "
        "exponent of Ks) and twelve values carried between its four "
        "stages, besides log, log, exp and pow"),
    "calc_ptf_saxton2006_tension_dry": (
        "a chain log, log -> true division (B) -> pow and exp per element"),
    "calc_ptf_ferrerjulia2004_saxton": (
        "a chain log10 -> true division (q / d) -> exp per element"),
    "calc_ptf_saxton2006_density": (
        "a true division per element (rho_DF / 2.65)"),
    "calc_ptf_saxton2006_tension_wet": (
        "a true division per element by theta_S - theta_33"),
    "calc_ptf_saxton2006_gravel": (
        "three true divisions per element (alpha, Rv and the conductivity)"),
    "calc_ptf_saxton2006_salinity": (
        "a true division per element (theta_S / theta)"),
}
# Regressions published on a scale of 100 or on standardised predictors
# divide every element: in cache the divider, not memory, sets their pace.
for _name, _divides in (
        [(f"calc_ptf_beniaich2023_{v}", "a true division by 100 per output")
         for v in ("slr1", "slr2", "slr3", "slr4", "slr5", "slr6", "mlr1",
                   "mlr2", "mlr3", "mlr4", "mlr5")]
        + [(f"calc_ptf_chakraborty2011_eq{k}",
            "a true division by 100 per output") for k in range(1, 7)]
        + [(f"calc_ptf_zhao2016_m2_{k}",
            "three true divisions per element (standardised predictors)")
           for k in range(1, 7)]
        + [("calc_ptf_tiwary2014_igp", "a true division by 3600000"),
           ("calc_ptf_tiwary2014_bsr", "a true division by 3600000")]):
    REASONS[_name] = _divides


# The curves of loamara._curves take inputs in their own domains rather than
# the benchmark's common 0.15-0.45: each input is an affine map of one of
# those arrays (u), chosen so that every element lies on the curve's
# unsaturated branch, where it makes the C-library calls listed below
# (suctions above air entry; for Saxton and Rawls, above 33 kPa; water
# contents between residual and saturation).
def _span(lo, hi):
    return lambda u: lo + (u - 0.15) * ((hi - lo) / 0.3)


CURVE_INPUTS = {
    "calc_swrc_van_genuchten": [_span(1.0, 15000.0), _span(0.02, 0.1),
                                _span(0.35, 0.5), _span(0.005, 0.05),
                                _span(1.1, 2.5), _span(0.1, 0.6)],
    "calc_swrc_van_genuchten_head": [_span(0.12, 0.34), _span(0.02, 0.1),
                                     _span(0.35, 0.5), _span(0.005, 0.05),
                                     _span(1.1, 2.5), _span(0.1, 0.6)],
    "calc_hcc_mualem_van_genuchten": [_span(1.0, 15000.0), _span(1.0, 50.0),
                                      _span(0.005, 0.05), _span(1.1, 2.5),
                                      _span(0.3, 0.7)],
    "calc_swrc_durner": [_span(1.0, 15000.0), _span(0.02, 0.1),
                         _span(0.35, 0.5), _span(0.1, 0.9), _span(0.02, 0.5),
                         _span(1.5, 3.0), _span(0.001, 0.02),
                         _span(1.1, 2.0)],
    "calc_swrc_kosugi": [_span(1.0, 15000.0), _span(0.02, 0.1),
                         _span(0.35, 0.5), _span(20.0, 500.0),
                         _span(0.5, 3.0)],
    "calc_hcc_kosugi": [_span(1.0, 15000.0), _span(1.0, 50.0),
                        _span(20.0, 500.0), _span(0.5, 3.0),
                        _span(0.3, 0.7)],
    "calc_swrc_brooks_corey": [_span(50.0, 15000.0), _span(0.02, 0.1),
                               _span(0.35, 0.5), _span(5.0, 40.0),
                               _span(0.1, 0.6)],
    "calc_hcc_brooks_corey": [_span(50.0, 15000.0), _span(1.0, 50.0),
                              _span(5.0, 40.0), _span(0.1, 0.6)],
    "calc_swrc_campbell": [_span(10.0, 1500.0), _span(0.35, 0.5),
                           _span(0.5, 5.0), _span(3.0, 12.0)],
    "calc_swrc_campbell_suction": [_span(0.1, 0.34), _span(0.35, 0.5),
                                   _span(0.5, 5.0), _span(3.0, 12.0)],
    "calc_hcc_campbell": [_span(0.1, 0.34), _span(1.0, 50.0),
                          _span(0.35, 0.5), _span(3.0, 12.0)],
    "calc_swrc_saxton2006": [_span(34.0, 1500.0), _span(0.05, 0.12),
                             _span(0.2, 0.3), _span(0.4, 0.5),
                             _span(1.0, 8.0)],
    "calc_swrc_saxton2006_suction": [_span(0.1, 0.19), _span(0.05, 0.12),
                                     _span(0.2, 0.3), _span(0.4, 0.5),
                                     _span(1.0, 8.0)],
    "calc_texture_usda": [_span(0.0, 60.0), _span(10.0, 30.0),
                          _span(5.0, 10.0)],
}


def _vg_t(x):
    return np.power(x[3] * x[0], x[4])


def _vg_head_u(x):
    se = (x[0] - x[1]) / (x[2] - x[1])
    return np.power(se, -1.0 / x[5]) - 1.0


def _mvg(x):
    m = 1.0 - 1.0 / x[3]
    se = np.power(1.0 + np.power(x[2] * x[0], x[3]), -m)
    return se, m


def _sax_b(x):
    return (np.log(1500.0) - np.log(33.0)) / (np.log(x[2]) - np.log(x[1]))


LIBM_CALLS.update({
    "calc_swrc_van_genuchten": [
        pow_(lambda x, y: x[3] * x[0], lambda x, y: x[4]),
        pow_(lambda x, y: 1.0 + _vg_t(x), lambda x, y: x[5])],
    "calc_swrc_van_genuchten_head": [
        pow_(lambda x, y: (x[0] - x[1]) / (x[2] - x[1]),
             lambda x, y: -1.0 / x[5]),
        pow_(lambda x, y: _vg_head_u(x), lambda x, y: 1.0 / x[4])],
    "calc_hcc_mualem_van_genuchten": [
        pow_(lambda x, y: x[2] * x[0], lambda x, y: x[3]),
        pow_(lambda x, y: 1.0 + np.power(x[2] * x[0], x[3]),
             lambda x, y: -_mvg(x)[1]),
        pow_(lambda x, y: _mvg(x)[0], lambda x, y: 1.0 / _mvg(x)[1]),
        pow_(lambda x, y: 1.0 - np.power(_mvg(x)[0], 1.0 / _mvg(x)[1]),
             lambda x, y: _mvg(x)[1]),
        pow_(lambda x, y: _mvg(x)[0], lambda x, y: x[4])],
    "calc_swrc_durner": [
        pow_(lambda x, y: x[4] * x[0], lambda x, y: x[5]),
        pow_(lambda x, y: x[6] * x[0], lambda x, y: x[7]),
        pow_(lambda x, y: 1.0 + np.power(x[4] * x[0], x[5]),
             lambda x, y: 1.0 / x[5] - 1.0),
        pow_(lambda x, y: 1.0 + np.power(x[6] * x[0], x[7]),
             lambda x, y: 1.0 / x[7] - 1.0)],
    # Kosugi (1996): log(h / h_m), then erfc (twice for K) and pow(Se, L).
    "calc_swrc_kosugi": [
        log(lambda x, y: x[0] / x[3]),
        erfc(lambda x, y: np.log(x[0] / x[3]) / (x[4] * np.sqrt(2.0)))],
    "calc_hcc_kosugi": [
        log(lambda x, y: x[0] / x[2]),
        erfc(lambda x, y: np.log(x[0] / x[2]) / (x[3] * np.sqrt(2.0))),
        erfc(lambda x, y: np.log(x[0] / x[2]) / (x[3] * np.sqrt(2.0))
             + x[3] / np.sqrt(2.0)),
        # pow(Se, L): Se of the order of 0.5 stands for it.
        pow_(lambda x, y: 0.5 + 0.0 * x[0], lambda x, y: x[4])],
    "calc_swrc_brooks_corey": [
        pow_(lambda x, y: x[0] / x[3], lambda x, y: -x[4])],
    "calc_hcc_brooks_corey": [
        pow_(lambda x, y: x[0] / x[2], lambda x, y: -2.0 - 3.0 * x[3])],
    "calc_swrc_campbell": [
        pow_(lambda x, y: x[0] / x[2], lambda x, y: -1.0 / x[3])],
    "calc_swrc_campbell_suction": [
        pow_(lambda x, y: x[0] / x[1], lambda x, y: -x[3])],
    "calc_hcc_campbell": [
        pow_(lambda x, y: x[0] / x[2], lambda x, y: 2.0 * x[3] + 3.0)],
    # Saxton and Rawls (2006), power-law segment: B and A from log theta33,
    # log theta1500 and exp, then pow(psi / A, -1/B) (suction) or
    # pow(theta, -B) * A (water content).
    "calc_swrc_saxton2006": [
        log(lambda x, y: x[2]), log(lambda x, y: x[1]),
        exp(lambda x, y: _sax_b(x) * np.log(x[2]) + np.log(33.0)),
        pow_(lambda x, y: x[0] / np.exp(_sax_b(x) * np.log(x[2])
                                        + np.log(33.0)),
             lambda x, y: -1.0 / _sax_b(x))],
    "calc_swrc_saxton2006_suction": [
        log(lambda x, y: x[2]), log(lambda x, y: x[1]),
        pow_(lambda x, y: x[0], lambda x, y: -_sax_b(x)),
        exp(lambda x, y: _sax_b(x) * np.log(x[2]) + np.log(33.0))],
})

REASONS.update({
    "calc_swrc_saxton2006": (
        "three segments chosen per element, the power-law one a chain log, "
        "log -> true division (B) -> exp -> true divisions -> pow"),
    "calc_swrc_saxton2006_suction": (
        "three segments chosen per element, the power-law one a chain log, "
        "log -> true division (B) -> pow and exp"),
    "calc_swrc_van_genuchten_head": (
        "a true division per element for Se and one by alpha, between two "
        "dependent pow calls"),
    "calc_texture_usda": (
        "no C-library call: the class definitions' comparisons and a true "
        "division per fraction where the sum is not 100; a few ns per "
        "sample"),
})


# loamara._more.  Arguments recovered from the outputs: alpha = exp(a*),
# n = exp(n*) + 1, l = 10 (e - 1) / (1 + e) with e = exp(l*), and the
# powers of ten from their log10.
LIBM_CALLS.update({
    "calc_ptf_wosten1999": [
        log(lambda x, y: x[1]), log(lambda x, y: x[2]),
        log(lambda x, y: x[3]),
        exp(lambda x, y: np.log(y[1])), exp(lambda x, y: np.log(y[2] - 1.0)),
        exp(lambda x, y: np.log((10.0 + y[3]) / (10.0 - y[3]))),
        exp(lambda x, y: np.log(y[4]))],
    "calc_ptf_weynants2009": [
        exp(lambda x, y: np.log(y[1])), exp(lambda x, y: np.log(y[2] - 1.0)),
        exp(lambda x, y: np.log(y[3]))],
    "calc_ptf_toth2015": [pow10(lambda x, y: np.log10(y[2])),
                          pow10(lambda x, y: np.log10(y[3] - 1.0))],
    "calc_ptf_cosby1984": [pow10(lambda x, y: np.log10(y[1])),
                           pow10(lambda x, y: np.log10(y[3]))],
    "calc_ptf_rawls1985": [exp(lambda x, y: np.log(y[1])),
                           exp(lambda x, y: np.log(y[2]))],
})
