// Retention and conductivity curves after van Genuchten (1980), "A
// closed-form equation for predicting the hydraulic conductivity of
// unsaturated soils", Soil Sci. Soc. Am. J. 44:892-898, with the
// conductivity model of Mualem (1976), "A new model for predicting the
// hydraulic conductivity of unsaturated porous media", Water Resour. Res.
// 12(3):513-522.
//
// Units: h is the suction head, positive in unsaturated soil, in any length
// unit (cm is usual); alpha is in the reciprocal of that unit.  Water
// contents are volume fractions (the output has the unit of theta_r and
// theta_s); Ks and K share any conductivity unit.  n, m and the pore
// connectivity L are dimensionless.
//
// Every expression is evaluated in the order written below, each operation
// rounded to double; powers are the C library's pow.  A head h <= 0
// (saturated or ponded) gives theta_s and Ks exactly.  The saturation test
// is a quiet comparison that is false for a NaN head, so a NaN head goes
// through the formula and gives NaN (pow(NaN, n) is NaN for every n other
// than 0), and raises no floating-point exception of its own.  A NaN
// parameter gives NaN wherever the formula is evaluated; at saturation the
// result is theta_s or Ks as given, whatever the other parameters.
#include "ptf_registry.h"

namespace {

// theta(h) = theta_r + (theta_s - theta_r) / (1 + (alpha * h)^n)^m for
// h > 0; theta_s for h <= 0.  m is free: Vereecken et al. (1989) fix m = 1,
// the Mualem form m = 1 - 1/n (give it precomputed).  Order:
//   t = pow(alpha * h, n);  d = pow(1 + t, m);
//   theta = theta_r + (theta_s - theta_r) / d.
// Domain: alpha > 0, n > 0, m > 0; h = +inf gives theta_r.
// Inputs: h, theta_r, theta_s, alpha, n, m.  Output: theta.
//
// Written as stages (a chain of two pow calls and a division): the
// contiguous loop runs each stage over a strip of elements, so that the C
// library's calls of a strip follow each other (taken element by element
// the chain ran at 1.28 times its floor at 10^6 points).  A saturated
// element takes pow(1, n) and pow(2, 1) on the way, which raise no flag,
// and keeps theta_s; the strided loop evaluates the same stages per element.
struct VanGenuchten {
    static constexpr int nin = 6, nout = 1;
    static constexpr int nstages = 3, ncarry = 6;
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            const bool saturated = std::islessequal(x[0], 0.0);
            c[0] = saturated ? 1.0 : x[3] * x[0];
            c[1] = x[4];
            c[2] = saturated ? 1.0 : x[5];
            c[3] = x[1];
            c[4] = x[2];
            c[5] = saturated ? 1.0 : 0.0;
            c[0] = std::pow(c[0], c[1]);             // t = pow(alpha h, n)
        } else if constexpr (S == 1) {
            c[0] = std::pow(1.0 + c[0], c[2]);       // d = pow(1 + t, m)
        } else {
            y[0] = c[5] != 0.0 ? c[4] : c[3] + (c[4] - c[3]) / c[0];
        }
    }
};

// The inverse, h(theta) = (Se^(-1/m) - 1)^(1/n) / alpha with
// Se = (theta - theta_r) / (theta_s - theta_r), for theta < theta_s; h = +0
// for theta >= theta_s (the upper end of the saturated range h <= 0).
// Order:
//   se = (theta - theta_r) / (theta_s - theta_r);
//   u = pow(se, -1 / m) - 1;  h = pow(u, 1 / n) / alpha
// with -1 / m and 1 / n each one division.  At theta = theta_r, Se = 0 and
// pow(0, -1/m) is +inf: h = +inf (with the C library's division-by-zero
// flag, which NumPy reports as such).  Below theta_r, Se < 0 and pow of a
// negative base with a non-integer exponent is NaN (invalid flag); for
// integer exponents (m = 1 or 1/2, n = 1) the arithmetic gives finite values
// without meaning.  Domain: theta_r <= theta < theta_s, alpha, n, m > 0.
// Inputs: theta, theta_r, theta_s, alpha, n, m.  Output: h.
//
// As stages (pow, then pow, then the division by alpha); a saturated
// element takes Se = 0.5 and exponents and alpha of 1 on the way (no flag)
// and gives +0.
struct VanGenuchtenHead {
    static constexpr int nin = 6, nout = 1;
    static constexpr int nstages = 3, ncarry = 5;
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            const double theta = x[0];
            const double theta_r = x[1];
            const double theta_s = x[2];
            const bool saturated = std::isgreaterequal(theta, theta_s);
            const double se =
                saturated ? 0.5 : (theta - theta_r) / (theta_s - theta_r);
            c[1] = -1.0 / (saturated ? 1.0 : x[5]);
            c[2] = 1.0 / (saturated ? 1.0 : x[4]);
            c[3] = saturated ? 1.0 : x[3];
            c[4] = saturated ? 1.0 : 0.0;
            c[0] = std::pow(se, c[1]) - 1.0;         // u = pow(Se, -1/m) - 1
        } else if constexpr (S == 1) {
            c[0] = std::pow(c[0], c[2]);             // pow(u, 1/n)
        } else {
            y[0] = c[4] != 0.0 ? 0.0 : c[0] / c[3];
        }
    }
};

// Mualem-van Genuchten conductivity, van Genuchten (1980) eq. 8 with
// m = 1 - 1/n:
//   K(h) = Ks * Se^L * (1 - (1 - Se^(1/m))^m)^2,
//   Se = (1 + (alpha * h)^n)^(-m)
// for h > 0; Ks for h <= 0.  Order:
//   m = 1 - 1 / n;  t = pow(alpha * h, n);  se = pow(1 + t, -m);
//   w = 1 - pow(1 - pow(se, 1 / m), m);
//   K = (Ks * pow(se, L)) * (w * w)
// the square of w being one multiplication.  L = 0.5 is Mualem's value;
// fitted values may be negative.  Domain: alpha > 0, n > 1.  As h grows
// without bound K tends to 0 (for L > 0; for L < 0 at h = +inf the product
// is inf * 0, NaN).
// Inputs: h, Ks, alpha, n, L.  Output: K.
//
// As stages (the five pow calls in four steps, the two powers of Se side by
// side): 1.76 times the floor at 10^6 points element by element.  A
// saturated element takes a base of 1 and m = 1/2 on the way (no flag) and
// keeps Ks.
struct MualemVanGenuchten {
    static constexpr int nin = 5, nout = 1;
    static constexpr int nstages = 4, ncarry = 5;
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            const double h = x[0];
            const bool saturated = std::islessequal(h, 0.0);
            const double n = saturated ? 2.0 : x[3];
            c[1] = 1.0 - 1.0 / n;                      // m
            c[2] = x[1];                               // Ks
            c[3] = x[4];                               // L
            c[4] = saturated ? 1.0 : 0.0;
            c[0] = std::pow(saturated ? 1.0 : x[2] * h, n);   // t
        } else if constexpr (S == 1) {
            c[0] = std::pow(1.0 + c[0], -c[1]);        // se
        } else if constexpr (S == 2) {
            c[3] = std::pow(c[0], c[3]);               // pow(se, L)
            c[0] = std::pow(c[0], 1.0 / c[1]);         // pow(se, 1 / m)
        } else {
            const double w = 1.0 - std::pow(1.0 - c[0], c[1]);
            y[0] = c[4] != 0.0 ? c[2] : c[2] * c[3] * (w * w);
        }
    }
};

}  // namespace

PTF_LOOPS(calc_swrc_van_genuchten, 6, 1, VanGenuchten)
PTF_LOOPS(calc_swrc_van_genuchten_head, 6, 1, VanGenuchtenHead)
PTF_LOOPS(calc_hcc_mualem_van_genuchten, 5, 1, MualemVanGenuchten)
