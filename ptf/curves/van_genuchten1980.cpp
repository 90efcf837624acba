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
struct VanGenuchten {
    static constexpr int nin = 6, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double h = x[0];
        const double theta_r = x[1];
        const double theta_s = x[2];
        if (std::islessequal(h, 0.0)) {
            y[0] = theta_s;
            return;
        }
        const double t = std::pow(x[3] * h, x[4]);
        const double d = std::pow(1.0 + t, x[5]);
        y[0] = theta_r + (theta_s - theta_r) / d;
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
struct VanGenuchtenHead {
    static constexpr int nin = 6, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double theta = x[0];
        const double theta_r = x[1];
        const double theta_s = x[2];
        if (std::isgreaterequal(theta, theta_s)) {
            y[0] = 0.0;
            return;
        }
        const double se = (theta - theta_r) / (theta_s - theta_r);
        const double u = std::pow(se, -1.0 / x[5]) - 1.0;
        y[0] = std::pow(u, 1.0 / x[4]) / x[3];
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
struct MualemVanGenuchten {
    static constexpr int nin = 5, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double h = x[0];
        const double ks = x[1];
        if (std::islessequal(h, 0.0)) {
            y[0] = ks;
            return;
        }
        const double n = x[3];
        const double m = 1.0 - 1.0 / n;
        const double t = std::pow(x[2] * h, n);
        const double se = std::pow(1.0 + t, -m);
        const double w = 1.0 - std::pow(1.0 - std::pow(se, 1.0 / m), m);
        y[0] = ks * std::pow(se, x[4]) * (w * w);
    }
};

}  // namespace

PTF_LOOPS(calc_swrc_van_genuchten, 6, 1, VanGenuchten)
PTF_LOOPS(calc_swrc_van_genuchten_head, 6, 1, VanGenuchtenHead)
PTF_LOOPS(calc_hcc_mualem_van_genuchten, 5, 1, MualemVanGenuchten)
