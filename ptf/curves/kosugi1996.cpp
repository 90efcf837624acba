// Retention and conductivity curves after Kosugi (1996), "Lognormal
// distribution model for unsaturated soil hydraulic properties", Water
// Resour. Res. 32(9):2697-2703: the pore radii, and so the suctions at
// which pores drain, lognormally distributed, with Mualem's (1976)
// conductivity model for that distribution.  The formulas are the
// paper's own definitions:
//   Se(h) = 0.5 * erfc(ln(h / h_m) / (sigma * sqrt 2)),
//   theta(h) = theta_r + (theta_s - theta_r) * Se(h),
//   K(h) = Ks * Se^L * [0.5 * erfc(ln(h / h_m) / (sigma * sqrt 2)
//                                  + sigma / sqrt 2)]^2
// with h_m the median suction (Se(h_m) = 1/2) and sigma the standard
// deviation of ln h.
//
// Units: h and h_m are suction heads, positive, in one length unit (cm is
// usual); water contents are volume fractions; Ks and K share any
// conductivity unit; sigma and the pore connectivity L are dimensionless.
//
// Every expression is evaluated in the order written below, each operation
// rounded to double; ln is the C library's log, erfc its complementary
// error function (a C-library call like exp and pow), powers its pow.
// sqrt 2 is the double 1.4142135623730951 (the nearest double to it).  A
// head h <= 0 (saturated or ponded) gives theta_s and Ks exactly.  The
// saturation test is a quiet comparison that is false for a NaN head, so a
// NaN head goes through the formula and gives NaN without a floating-point
// exception of its own.  A NaN parameter gives NaN wherever the formula is
// evaluated; at saturation the result is theta_s or Ks as given.
#include "ptf_registry.h"

namespace {

constexpr double kSqrt2 = 1.4142135623730951;

// theta(h) = theta_r + (theta_s - theta_r) * Se for h > 0; theta_s for
// h <= 0.  Order:
//   z = log(h / h_m) / (sigma * sqrt2);  se = 0.5 * erfc(z);
//   theta = theta_r + (theta_s - theta_r) * se.
// Domain: h_m > 0, sigma > 0; h = +inf gives theta_r (erfc(+inf) = 0),
// h -> 0+ tends to theta_s.
// Inputs: h, theta_r, theta_s, h_m, sigma.  Output: theta.
//
// As stages (the quotient and log, the division by sigma sqrt 2, then erfc
// and the sum; the saturation test stays with the log call, unvectorised,
// where a NaN head raises no flag), so that the contiguous loop makes a strip of log calls,
// then a strip of erfc calls, the arithmetic between them vectorised.  A saturated
// element takes log(1) = 0 and erfc(0) on the way (no flag) and keeps
// theta_s; the strided loop evaluates the same stages per element.
struct Kosugi {
    static constexpr int nin = 5, nout = 1;
    static constexpr int nstages = 3, ncarry = 5;
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            const bool saturated = std::islessequal(x[0], 0.0);
            c[1] = x[1];
            c[2] = x[2];
            c[3] = saturated ? 1.0 : x[4] * kSqrt2;   // sigma * sqrt2
            c[4] = saturated ? 1.0 : 0.0;
            c[0] = std::log(saturated ? 1.0 : x[0] / x[3]);
        } else if constexpr (S == 1) {
            c[0] = c[0] / c[3];                       // z
        } else {
            const double se = 0.5 * std::erfc(c[0]);
            y[0] = c[4] != 0.0 ? c[2] : c[1] + (c[2] - c[1]) * se;
        }
    }
};

// Mualem's conductivity for Kosugi's distribution, K(h) for h > 0; Ks for
// h <= 0.  Order:
//   z = log(h / h_m) / (sigma * sqrt2);  se = 0.5 * erfc(z);
//   w = 0.5 * erfc(z + sigma / sqrt2);
//   K = (Ks * pow(se, L)) * (w * w)
// the square of w being one multiplication and sigma / sqrt2 a true
// division.  L = 0.5 is Mualem's value; fitted values may be negative.
// Domain: h_m > 0, sigma > 0.  As h grows without bound K tends to 0 (for
// L > 0; for L < 0 at h = +inf the product is inf * 0, NaN).
// Inputs: h, Ks, h_m, sigma, L.  Output: K.
//
// As stages (the quotient and log; the two erfc arguments; the two erfc calls
// side by side; pow and the product).
// A saturated element takes log(1), erfc(0), erfc(1 / sqrt2) and
// pow(0.5, L) on the way (no flag) and keeps Ks.
struct KosugiConductivity {
    static constexpr int nin = 5, nout = 1;
    static constexpr int nstages = 4, ncarry = 5;
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            const bool saturated = std::islessequal(x[0], 0.0);
            const double sigma = saturated ? 1.0 : x[3];
            c[1] = x[1];                                   // Ks
            c[2] = sigma;
            c[3] = x[4];                                   // L
            c[4] = saturated ? 1.0 : 0.0;
            c[0] = std::log(saturated ? 1.0 : x[0] / x[2]);
        } else if constexpr (S == 1) {
            const double z = c[0] / (c[2] * kSqrt2);
            c[0] = z;
            c[2] = z + c[2] / kSqrt2;
        } else if constexpr (S == 2) {
            c[0] = 0.5 * std::erfc(c[0]);                  // se
            c[2] = 0.5 * std::erfc(c[2]);                  // w
        } else {
            const double p = std::pow(c[0], c[3]);
            y[0] = c[4] != 0.0 ? c[1] : c[1] * p * (c[2] * c[2]);
        }
    }
};

}  // namespace

PTF_LOOPS(calc_swrc_kosugi, 5, 1, Kosugi)
PTF_LOOPS(calc_hcc_kosugi, 5, 1, KosugiConductivity)
