"""The pedotransfer functions of ``_loamara`` written as plain NumPy expressions.

This is the baseline of the benchmark: what a user would write without the
module.  Each entry of ``EXPRESSIONS`` maps a ufunc name to a function that
takes the ufunc's inputs as NumPy arrays (float64; uint32 for the texture-class
index of Clapp and Hornberger 1978) and returns a tuple of its outputs, in the
ufunc's output order.  The formulas are the published ones, written as
ordinary array arithmetic: ``np.exp``, ``np.log``, ``np.log10``,
``np.power(10.0, e)`` for powers of ten, ``np.fmax`` / ``np.fmin`` where a
floor or ceiling is part of the equation, and Python float constants.  Every
arithmetic step is one NumPy operation that allocates one temporary array,
and the operations follow the same order as the ufunc's formula (terms added
from the left, products formed from the left, true divisions where the
equation divides).

The values agree with the ufuncs to within a few units in the last place:
NumPy's own vectorised ``exp``, ``log`` and ``power`` need not round exactly
like the C library functions the compiled kernels call, so where an
expression takes a transcendental function the results may differ in the
last bit; the pure arithmetic steps give the same doubles.

The coverage is every ufunc with three or more outputs and at least one ufunc
of every other publication.  Families that are tables of regression
coefficients (Beniaich et al. 2023, Chakraborty et al. 2011, Puckett et al.
1985) are written as a small coefficient table per family and a generic
builder; the builder still does one NumPy operation per arithmetic step.
"""
import math

import numpy as np

EXPRESSIONS = {}

# ln 33 and ln 1500, the anchors of the tension curve of Saxton and Rawls
# (2006), taken with the C library's log as a user's constants would be.
LN33 = math.log(33.0)
LN1500 = math.log(1500.0)


def _register(name):
    def deco(fn):
        EXPRESSIONS[name] = fn
        return fn
    return deco


def _broadcast_shape(*arrays):
    return np.broadcast_shapes(*(np.shape(a) for a in arrays))


# ---------------------------------------------------------------------------
# Saxton and Rawls (2006): sand and clay as mass fractions, organic matter in
# percent; water contents as volume fractions, tensions in kPa, Ks in mm/h,
# densities in g/cm3.
# ---------------------------------------------------------------------------

@_register("calc_ptf_saxton2006")
def saxton2006(S, C, OM):
    t1500 = (C * 0.487 - S * 0.024 + OM * 0.006 + S * 0.005 * OM
             - C * 0.013 * OM + S * 0.068 * C + 0.031)
    theta1500 = t1500 * 0.14 + t1500 - 0.02
    t33 = (C * 0.195 - S * 0.251 + OM * 0.011 + S * 0.006 * OM
           - C * 0.027 * OM + S * 0.452 * C + 0.299)
    theta33 = t33 * t33 * 1.283 + t33 - t33 * 0.374 - 0.015
    ts33 = (C * 0.034 + S * 0.278 + OM * 0.022 - S * 0.018 * OM
            - C * 0.027 * OM - S * 0.584 * C + 0.078)
    s33 = ts33 * 0.636 + ts33 - 0.107
    theta_s = s33 + theta33 - S * 0.097 + 0.043
    available = theta33 - theta1500
    # Air-entry tension from the corrected S-33 moisture.
    psi_et = (S * -21.67 - C * 27.93 - s33 * 81.97 + S * 71.12 * s33
              + C * 8.29 * s33 + S * 14.05 * C + 27.16)
    psi_e = psi_et * psi_et * 0.02 + psi_et - psi_et * 0.113 - 0.7
    ln33 = np.log(theta33)
    B = (LN1500 - LN33) / (ln33 - np.log(theta1500))
    A = np.exp(B * ln33 + LN33)
    lam = 1.0 / B
    ks = np.power(theta_s - theta33, 3.0 - 1.0 / B) * 1930.0
    rho_n = (1.0 - theta_s) * 2.65
    return (theta1500, theta33, theta_s, available, psi_e, A, B, lam, ks,
            rho_n)


@_register("calc_ptf_saxton2006_density")
def saxton2006_density(rho_n, theta_s, theta33, df):
    rho_df = df * rho_n
    theta_s_df = 1.0 - rho_df / 2.65
    theta33_df = theta33 - (theta_s - theta_s_df) * 0.2
    d = np.fmax(theta_s_df - theta33_df, 0.005)
    return rho_df, theta_s_df, theta33_df, d


@_register("calc_ptf_saxton2006_conductivity")
def saxton2006_conductivity(theta, theta_s, ks, lam):
    return (np.power(theta / theta_s, 2.0 / lam + 3.0) * ks,)


@_register("calc_ptf_saxton2006_gravel")
def saxton2006_gravel(rw, rho, available, ks):
    alpha = rho / 2.65
    rv = (alpha * rw) / (1.0 - (1.0 - alpha) * rw)
    rho_b = (1.0 - rv) * rho + rv * 2.65
    available_b = (1.0 - rv) * available
    kb = ((1.0 - rv) * ks) / (1.0 - (1.0 - alpha * 3.0 * 0.5) * rv)
    return rv, rho_b, available_b, kb


# ---------------------------------------------------------------------------
# Rawls, Brakensiek and Saxton (1982): sand and organic matter in percent,
# bulk density g/cm3, water contents as volume fractions.
# ---------------------------------------------------------------------------

@_register("calc_ptf_rawls1982_theta_33")
def rawls1982_theta_33(sand, om, theta1500):
    return (0.2391 - sand * 0.0019 + om * 0.021 + theta1500 * 0.72,)


@_register("calc_ptf_rawls1982_full_wrc")
def rawls1982_full_wrc(sand, om, bd, theta33, theta1500):
    return (
        0.1829 - om * 0.0246 - bd * 0.0376 + theta33 * 1.89 - theta1500 * 1.38,
        # 7 kPa: intercept 0.0888 as published.
        0.0888 - sand * 0.0003 - om * 0.0107 + theta33 * 1.53 - theta1500 * 0.81,
        0.0619 - sand * 0.0002 - om * 0.0067 + theta33 * 1.34 - theta1500 * 0.51,
        0.0319 - sand * 0.0002 + theta33 * 1.01 - theta1500 * 0.06,
        np.copy(theta33),
        0.0136 - bd * 0.0091 + theta33 * 0.66 + theta1500 * 0.39,
        -0.0034 + om * 0.0022 + theta33 * 0.52 + theta1500 * 0.54,
        -0.0043 + om * 0.0026 + theta33 * 0.36 + theta1500 * 0.69,
        -0.0038 + om * 0.0026 + theta33 * 0.24 + theta1500 * 0.79,
        -0.0027 + om * 0.0024 + theta33 * 0.16 + theta1500 * 0.86,
        -0.0019 + om * 0.0022 + theta33 * 0.11 + theta1500 * 0.89,
        np.copy(theta1500),
    )


# ---------------------------------------------------------------------------
# Vereecken et al. (1989): van Genuchten theta_r, theta_s, alpha, n.
# ---------------------------------------------------------------------------

@_register("calc_ptf_vereecken1989")
def vereecken1989(sand, clay, oc, bd):
    theta_r = clay * 0.005 + 0.015 + oc * 0.014
    theta_s = 0.81 - bd * 0.283 + clay * 0.001
    alpha = np.exp(sand * 0.025 - 2.486 - oc * 0.351 - bd * 2.617 - clay * 0.023)
    n = np.exp(0.053 - sand * 0.009 - clay * 0.013 + sand * 0.00015 * sand)
    return theta_r, theta_s, alpha, n


@_register("calc_ptf_vereecken1989_detailed")
def vereecken1989_detailed(x0, x1, x2, x3, x4, x5, x6, x7, x8, x9, x10, x11,
                           x12):
    theta_r = (x0 * 0.0094 + 0.027 - x1 * 0.0035 - x2 * 0.0004 - x3 * 0.0002
               - x4 * 0.0001 - x5 * 0.00028 - x6 * 0.00006 + x7 * 0.0001
               + x8 * 0.0037 - x9 * 0.045 + x10 * 0.00538 + x11 * 0.015)
    theta_s = 0.81 - x12 * 0.283 + x8 * 0.001
    alpha = np.exp(x0 * 0.178 + 1.245 + x1 * 0.173 + x2 * 0.0292 + x3 * 0.0135
                   + x4 * 0.105 - x5 * 0.0149 - x6 * 0.118 - x7 * 0.042
                   - x8 * 0.0218 - x9 * 14.73 - x10 * 0.179 - x11 * 0.416
                   - x12 * 2.507)
    n = np.exp(-0.0066 - x0 * 0.0147 + x1 * 0.0404 + x2 * 0.00234
               + x3 * 0.0047 - x4 * 0.0414 - x5 * 0.007 + x6 * 0.03
               - x7 * 0.038 - x8 * 0.0042 + x9 * 1.0322 - x10 * 0.0019)
    return theta_r, theta_s, alpha, n


# ---------------------------------------------------------------------------
# Puckett et al. (1985).  Rows: (c1 for x1, c0 for x0, c2 for x2, intercept).
# ---------------------------------------------------------------------------

PUCKETT_ROWS = (
    (0.000193, 0.000357, 0.000182, 0.41),
    (0.0000712, 0.000383, 0.000243, 0.415),
    (0.0000059, 0.000348, 0.000321, 0.365),
    (0.0000003, 0.000319, 0.000351, 0.33),
    (0.0000019, 0.000302, 0.000362, 0.31),
    (0.000014, 0.000262, 0.000375, 0.265),
    (0.0000197, 0.000244, 0.000378, 0.264),
    (0.0000254, 0.000239, 0.00038, 0.239),
)


@_register("calc_ptf_puckett1985")
def puckett1985(x0, x1, x2, x3, x4):
    a0 = x3 * 0.264 + x4 * 1.6 - 0.706
    a1 = x4 * 1.69 + x3 * 0.318 - 0.834
    w = tuple(x1 * c1 - x0 * c0 + x2 * c2 + k for c1, c0, c2, k in PUCKETT_ROWS)
    ksat = np.exp(x2 * -0.1975) * 0.0000436  # m/s
    return (a0, a1) + w + (ksat,)


# ---------------------------------------------------------------------------
# Clapp and Hornberger (1978) texture classes; Cosby et al. (1984).
# ---------------------------------------------------------------------------

# Columns: b, p2, p3, theta_s, ks (cm/min), p6.  Row 11 is the NaN row that
# every index from 11 upwards is mapped to.
CLAPP_TABLE = np.array([
    [4.05, 3.5, 4.66, 0.395, 1.056, 1.52],
    [4.38, 1.78, 2.38, 0.41, 0.938, 1.04],
    [4.9, 7.18, 9.52, 0.435, 0.208, 1.03],
    [5.3, 56.6, 75.3, 0.485, 0.0432, 1.26],
    [5.39, 14.6, 20.0, 0.451, 0.0417, 0.693],
    [7.12, 8.63, 11.7, 0.42, 0.0378, 0.488],
    [7.75, 14.6, 19.7, 0.477, 0.0102, 0.31],
    [8.52, 36.1, 48.1, 0.476, 0.0147, 0.537],
    [10.4, 6.16, 8.18, 0.426, 0.013, 0.223],
    [10.4, 17.4, 23.0, 0.492, 0.0062, 0.242],
    [11.4, 18.6, 24.3, 0.482, 0.0077, 0.268],
    [np.nan] * 6,
])


@_register("calc_ptf_clapp1978")
def clapp1978(index):
    rows = CLAPP_TABLE[np.minimum(index, 11)]
    return tuple(rows[..., k] for k in range(6))


@_register("calc_ptf_cosby1984_univariate")
def cosby1984_univariate(sand, silt, clay):
    return (
        clay * 0.159 + 2.91,
        1.88 - sand * 0.0131,     # log10 suction, cm
        sand * 0.0153 - 0.884,    # log10 Ks, in/h
        48.9 - sand * 0.126,      # theta_s, percent
        clay * 0.05 + 1.34,
        silt * 0.00321 + 0.459,
        7.73 - clay * 0.073,
    )


# ---------------------------------------------------------------------------
# Wang et al. (2012) and Weber et al. (2020).
# ---------------------------------------------------------------------------

@_register("calc_ptf_wang2012")
def wang2012(x0, x1, x2, x3, x4, x5):
    t = x4 * 10.0
    lg0 = np.log10(x0)
    lg2 = np.log10(x2)
    lgt = np.log10(t)
    ex = (x1 * 0.038 + 1.173 + lg0 * 0.69 + 0.865 / x0 - x3 * 0.03 * x1
          - t * 0.00000995 * x5)
    kday = np.power(10.0, ex)  # cm/day
    wa = (98.813 - 21.555 / x3 - 39.735 / x1 - 2.091 / x0 + 3.247 / t
          - x3 * x3 * 17.096) / 100.0
    wb = (46.481 - t * 4.757 - lg2 * 14.028 - lg0 * 13.991 + lgt * 42.261
          - 11.763 / x0 + 19.198 / t - x3 * x3 * 5.448 + t * t * 0.044
          + x3 * 1.975 * t) / 100.0
    return wa, wb, kday / 8640000.0


@_register("calc_ptf_weber2020")
def weber2020(x0, x1, x2, x3, x4, x5):
    y0 = x0 * 1.285 - 0.00158
    y1 = x1 * 0.993 + 0.00189 - y0
    y2 = np.power(10.0, np.log10(x2) * 0.986 - 0.0206)
    y3 = np.power(10.0, np.log10(x3 - 1.0) * 0.933 + 0.0642) + 1.0
    y4 = np.fmin(x4, 0.0) * 1.833 + 0.0295
    y5 = np.power(10.0, np.log10(x5) * 1.06 + 0.116)
    y6 = np.full(_broadcast_shape(x0, x1, x2, x3, x4, x5), 10.0 ** -1.72)
    return y0, y1, y2, y3, y4, y5, y6


# ---------------------------------------------------------------------------
# Hodnett and Tomasella (2002), Li et al. (2007), Mayr and Jarvis (1999).
# ---------------------------------------------------------------------------

@_register("calc_ptf_hodnett2002")
def hodnett2002(sand, silt, clay, oc, bd, cec, ph):
    alpha = np.exp((-2.294 - silt * 3.526 + oc * 2.44 - cec * 0.076
                    - ph * 11.331 + silt * silt * 0.019) / 100.0)
    n = np.exp((62.986 - clay * 0.833 - oc * 0.529 + ph * 0.593
                + clay * clay * 0.007 - sand * 0.014 * silt) / 100.0)
    theta_s = (clay * 0.099 + 81.799 - bd * 31.42 + cec * 0.018 + ph * 0.451
               - sand * 0.0005 * clay) / 100.0
    theta_r = (22.733 - sand * 0.164 + cec * 0.235 - ph * 0.831
               + clay * clay * 0.0018 + sand * 0.0026 * clay) / 100.0
    return alpha, n, theta_s, theta_r


@_register("calc_ptf_li2007")
def li2007(sand, silt, clay, bd, om):
    lsand = np.log(sand)
    lsilt = np.log(silt)
    lom = np.log(om)
    lbd = np.log(bd)
    theta_s = np.exp(lsand * 0.212 - 1.531 + silt * 0.006 - om * 0.051
                     - lbd * 0.566)
    alpha = np.exp(-67.408 - silt * 0.04 - lsilt * 0.67 - om * 2.189
                   + lom * 1.41 + bd * 78.4 - lbd * 121.331)
    n = (lsilt * 0.002 + 1.488 + clay * 0.013 - np.log(clay) * 0.248
         + lom * 0.048 + lbd * 0.451)
    ksat = np.exp(13.262 - lsand * 1.914 - lsilt * 0.974 - clay * 0.058
                  - lom * 1.709 + om * 2.885 - lbd * 8.026) * 1.1574074074074074e-07
    return theta_s, alpha, n, ksat


@_register("calc_ptf_mayr1999")
def mayr1999(x0, x1, x2, x3, x4):
    y0 = np.power(10.0, x0 * 0.0509226283 - 4.9840297533 + x1 * 0.1575152771
                  + x3 * 0.1240901644 - x4 * 0.1640033143
                  - x1 * x1 * 0.0021767278 + x1 * x1 * x1 * 0.00001438224
                  + x2 * x2 * 0.0008040715 + x4 * x4 * 0.0044067117)
    s = (-0.8466880654 - x0 * 0.0046806123 + x1 * 0.0092463819
         - x3 * 0.4542769707 - x4 * 0.0497915563 + x0 * x0 * 0.0003294687
         - x0 * x0 * x0 * 0.000001689056 + x4 * x4 * 0.0011225373)
    y1 = np.power(10.0, -s)
    y2 = (x0 * 0.0046614221 + 0.2345971971 + x1 * 0.0088163314
          + x2 * 0.0064338641 - x3 * 0.3028160229 + x0 * x0 * 0.0000179762
          - x1 * x1 * 0.00003134631)
    return y0, y1, y2


# ---------------------------------------------------------------------------
# Varallyai (1982).
# ---------------------------------------------------------------------------

@_register("calc_ptf_varallyai1982_meadow")
def varallyai1982_meadow(x0, x1, x2):
    return (x2 * x2 * 14.46 - x0 * x0 * 8.78 + 62.85,
            x1 * x1 * 0.576 - x1 * 1.434 * x2 + 0.156,
            x0 * 1.103 * x2 - x1 * 1.702 + 3.749)


@_register("calc_ptf_varallyai1982_chernozem_a")
def varallyai1982_chernozem_a(x0, x1):
    return (x1 * 20.5 - x0 * 56.4 + 123.79,
            x0 * 0.336 - 0.053,
            x0 * 4.701 * x1 + x0 * 1.513 - 0.417)


@_register("calc_ptf_varallyai1982_chernozem_b")
def varallyai1982_chernozem_b(x0, x1):
    return (x0 * -62.2 - x1 * x1 * 49.14 + 140.7,
            x0 * 0.635 - 0.482,
            x0 * 4.27 * x1 + x0 * 3.509 - 3.075)


@_register("calc_ptf_varallyai1982_chernozem_c")
def varallyai1982_chernozem_c(x0, x1):
    return (115.39 - x0 * 46.8,
            x0 * 0.439 * x1 + 0.625,
            x0 * x0 * 0.865 + x0 * 3.268 * x1 + 0.301)


# ---------------------------------------------------------------------------
# Ferrer-Julia et al. (2004): Ks in mm/h.
# ---------------------------------------------------------------------------

@_register("calc_ptf_ferrerjulia2004_saxton")
def ferrerjulia2004_saxton(sand, clay):
    q = sand * 0.03671 - 3.895 - clay * 0.1103 + clay * clay * 0.00087546
    d = np.log10(clay) * 0.176 + (0.33 - sand * 0.000751)
    e = 1.01 - sand * 0.0755 + q / d
    return (np.exp(e) * 10.0,)


@_register("calc_ptf_ferrerjulia2004_cosby")
def ferrerjulia2004_cosby(sand, clay):
    # Cosby et al. (1984) Ks in in/h times 25.4 mm/in.
    return (np.power(10.0, sand * 0.012 - 0.6 - clay * 0.0064) * 25.4,)


@_register("calc_ptf_ferrerjulia2004_general_sand")
def ferrerjulia2004_general_sand(sand):
    return (np.exp(sand * 0.0491) * 0.92,)


@_register("calc_ptf_ferrerjulia2004_general_texture_organic_matter")
def ferrerjulia2004_general_texture_organic_matter(sand, clay, om):
    return (sand * 0.56728 - 4.994 - clay * 0.131 - om * 0.0127,)


# ---------------------------------------------------------------------------
# Tiwary et al. (2014): conductivity from mm/h to m/s by dividing by 3600000.
# ---------------------------------------------------------------------------

@_register("calc_ptf_tiwary2014_igp")
def tiwary2014_igp(x0, x1, x2):
    k = x0 * 0.047 + 4.079 - x2 * 0.054 - x1 * 2.238
    return (k / 3600000.0,)


@_register("calc_ptf_tiwary2014_bsr")
def tiwary2014_bsr(x0, x1, x2, x3, x4, x5):
    return (x2 * 0.346 + 2.583 + x0 * 0.249 + x3 * 0.494,
            x2 * 0.383 - 1.918 + x0 * 0.228 + x3 * 0.361,
            x2 * 0.306 + 0.541 + x3 * 0.146 + x4 * 0.058,
            (120.637 - x1 * 13.094 - x0 * 0.102 + x5 * 1.151) / 3600000.0)


# ---------------------------------------------------------------------------
# Beniaich et al. (2023): three water contents in percent, divided by 100.
# Each regression: (predictor function, rows of (c0, c1, c2, c3)).
# ---------------------------------------------------------------------------

def _one(x1):
    return (x1,)


def _sum(x1, x2):
    return (x1 + x2,)


def _ratio(x1, x2):
    return (x1 / x2,)


def _same(*xs):
    return xs


BENIAICH = {
    "slr1": (_one, ((46.307, 0.556), (10.277, 0.365), (3.081, 0.327))),
    "slr2": (_one, ((59.508, 0.299), (16.178, 0.29), (10.521, 0.187))),
    "slr3": (_one, ((81.42, -0.427), (34.68, -0.324), (23.927, -0.257))),
    "slr4": (_sum, ((89.401, -0.298), (45.178, -0.29), (29.265, -0.187))),
    "slr5": (_ratio, ((68.851, -0.546), (23.278, 1.819), (16.298, -0.244))),
    "slr6": (_one, ((61.163, 2.793), (21.331, 1.339), (13.758, 0.902))),
    "mlr1": (_same, ((87.342, -0.281, -0.548, 2.377),
                     (35.844, -0.085, -0.359, 0.947),
                     (28.734, -0.148, -0.324, 0.636))),
    "mlr2": (_same, ((75.366, -0.417, 2.219), (32.227, -0.32, 0.899),
                     (22.421, -0.254, 0.552))),
    "mlr3": (_same, ((53.777, 0.278, 2.457), (13.847, 0.281, 0.999),
                     (8.929, 0.182, 0.683))),
    "mlr4": (_same, ((39.432, 0.553, 2.699), (7.023, 0.364, 1.278),
                     (0.923, 0.327, 0.847))),
    "mlr5": (_same, ((32.505, 0.548, 0.267, 2.377),
                     (-0.094, 0.359, 0.274, 0.947),
                     (-3.623, 0.324, 0.175, 0.636))),
}


def _beniaich(predictors, rows):
    def expression(*xs):
        p = predictors(*xs)
        out = []
        for c0, *cs in rows:
            s = c0 + cs[0] * p[0]
            for c, pk in zip(cs[1:], p[1:]):
                s = s + c * pk
            out.append(s / 100.0)
        return tuple(out)
    return expression


for _suffix, (_pred, _rows) in BENIAICH.items():
    EXPRESSIONS["calc_ptf_beniaich2023_" + _suffix] = _beniaich(_pred, _rows)


# ---------------------------------------------------------------------------
# Chakraborty et al. (2011): four water contents in percent, divided by 100.
# Each row: (c1, ..., cN, c0); the intercept is added after the input terms.
# ---------------------------------------------------------------------------

CHAKRABORTY = {
    "eq1": ((0.297, 0.478, 4.6), (0.27, 0.379, 2.988), (0.251, 0.185, 2.958),
            (0.184, 0.144, 3.702)),
    "eq2": ((-0.377, -0.215, 41.114), (-0.33, 2.611, 30.16),
            (-0.244, -0.795, 27.495), (-0.187, 1.241, 19.32)),
    "eq3": ((0.28, 0.481, -7.566, 17.095), (0.262, 0.38, -3.167, 8.219),
            (0.244, 0.187, -3.079, 8.046), (0.183, 0.144, -0.689, 4.84)),
    "eq4": ((0.078, 0.248, -0.241, 27.447), (0.049, 0.147, -0.242, 25.945),
            (0.067, -0.008, -0.204, 22.216), (0.021, -0.028, -0.179, 20.695)),
    "eq5": ((0.093, 0.276, -0.213, -4.481, 32.21),
            (0.048, 0.145, -0.245, 0.37, 25.551),
            (0.067, -0.008, -0.203, -0.135, 22.359),
            (0.014, -0.041, -0.192, 2.093, 18.47)),
    "eq6": ((0.095, 0.268, -0.206, 2.42, -4.402, 30.96),
            (0.053, 0.113, -0.23, 6.434, 1.528, 21.236),
            (0.069, -0.017, -0.195, 2.461, 0.079, 20.895),
            (0.017, -0.053, -0.184, 2.95, 2.327, 16.802)),
}


def _chakraborty(rows):
    def expression(*xs):
        out = []
        for *cs, c0 in rows:
            s = xs[0] * cs[0] + xs[1] * cs[1]
            for x, c in zip(xs[2:], cs[2:]):
                s = s + x * c
            out.append((s + c0) / 100.0)
        return tuple(out)
    return expression


for _suffix, _rows in CHAKRABORTY.items():
    EXPRESSIONS["calc_ptf_chakraborty2011_" + _suffix] = _chakraborty(_rows)


# ---------------------------------------------------------------------------
# One regression of each remaining publication.
# ---------------------------------------------------------------------------

@_register("calc_ptf_ahuja1984")
def ahuja1984(porosity, theta33, b, n):
    return (np.power(porosity - theta33, n) * b,)


@_register("calc_ptf_aimrun2009")
def aimrun2009(x1, x2, x3, x4):
    s = (x2 * 3.846 - 2.368 + x3 * 0.091 - np.log(x2) * 6.203
         - np.log(x3) * 0.343 - np.log(x1) * 2.334 - np.log(x4) * 0.411)
    return (np.exp(s) * 1.1574074074074073e-05,)  # per day to per second


@_register("calc_ptf_jabro1992")
def jabro1992(silt, clay, bd):
    e = 9.56 - np.log10(silt) * 0.81 - np.log10(clay) * 1.09 - bd * 4.64
    return (np.power(10.0, e) * 2.777777777777778e-06,)  # cm/h to m/s


@_register("calc_ptf_dharumarajan2019_nkp")
def dharumarajan2019_nkp(x0, x1, x2):
    return (x0 * 0.205 + 13.82 - x1 * 0.088 + x2 * 0.316,
            x0 * 0.315 - 5.776 + x1 * 0.05 + x2 * 0.271)


@_register("calc_ptf_zhao2016_m2_1")
def zhao2016_m2_1(x0, x1, x2):
    z0 = (x0 - 1.04) / 0.56
    z1 = (x1 - 43.629999999999995) / 39.4
    z2 = (x2 - 8.03) / 18.76
    return (0.873 - z0 * 0.555 - z1 * 0.399 + z2 * 0.224 + 0.37 - 0.5,)


@_register("calc_ptf_dijkerman1988")
def dijkerman1988(clay, sand):
    return clay * 0.39 + 0.74, 36.97 - sand * 0.35


@_register("calc_ptf_oosterveld1980_retention")
def oosterveld1980_retention(clay, sand, depth, suction):
    f = np.power(suction, -0.19)
    return (f * (clay * 0.644 + 35.367 - sand * 0.251 - depth * 0.045),)


@_register("calc_ptf_myeni2021_fc")
def myeni2021_fc(x1, x2, x3):
    return (x1 * 0.005 + 0.014 + x3 * 0.009 + x2 * 0.002,)


@_register("calc_ptf_gunarathna2019_vwc10_set3")
def gunarathna2019_vwc10_set3(x1, x2, x3):
    return (0.4436 - x1 * 0.0028 + x2 * 0.0024 - x3 * 0.034,)


@_register("calc_ptf_lal1979_group_i_water_0bar_from_clay")
def lal1979_group_i_water_0bar_from_clay(clay):
    return (0.289 + 0.004 * clay,)


@_register("calc_ptf_pidgeon1972_fc")
def pidgeon1972_fc(silt, clay, om):
    return (7.38 + 0.16 * silt + 0.3 * clay + 1.54 * om,)
