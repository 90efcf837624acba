// Van Genuchten retention parameters after Vereecken, Maes, Feyen and
// Darius (1989), "Estimating the soil moisture retention characteristic from
// texture, bulk density, and carbon content", Soil Science 148(6):389-403.
//
// Outputs of both ufuncs: residual and saturated water content (cm3/cm3),
// the scale parameter alpha (1/cm) and the shape parameter n.  Every sum is
// evaluated left to right as written; each term is predictor * (positive
// coefficient), added or subtracted, and alpha and n are exp of their sums.
#include "ptf_registry.h"

namespace {

// Four-predictor model.  Inputs: sand, clay, organic carbon (percent by
// mass), dry bulk density (g/cm3).
struct Vereecken1989 {
    static constexpr int nin = 4, nout = 4;
    static inline void eval(const double* x, double* y) {
        const double sand = x[0];
        const double clay = x[1];
        const double oc = x[2];
        const double bd = x[3];
        y[0] = clay * 0.005 + 0.015 + oc * 0.014;
        y[1] = 0.81 - bd * 0.283 + clay * 0.001;
        y[2] = std::exp(sand * 0.025 - 2.486 - oc * 0.351 - bd * 2.617 -
                        clay * 0.023);
        // Quadratic sand term formed as (sand * 0.00015) * sand.
        y[3] = std::exp(0.053 - sand * 0.009 - clay * 0.013 +
                        sand * 0.00015 * sand);
    }
};

// theta_r, theta_s and the exponents of alpha and n of the detailed model.
struct VereeckenDetailedSums {
    double theta_r;
    double theta_s;
    double alpha_exponent;
    double n_exponent;
};

// Thirteen-predictor model.  x0 to x12 are plain positional predictors,
// each in the unit of the publication; x8 is the clay content (percent by
// mass) and x12 the dry bulk density (g/cm3), which enter the saturated
// water content as in the four-predictor model.  x11 does not enter
// theta_s or n; x12 enters only theta_s and alpha.  The intercept follows
// the x0 term in theta_r and alpha and leads the sum of n.
inline VereeckenDetailedSums vereecken1989_detailed_sums(
    double x0, double x1, double x2, double x3, double x4, double x5,
    double x6, double x7, double x8, double x9, double x10, double x11,
    double x12) {
    VereeckenDetailedSums p;
    p.theta_r = x0 * 0.0094 + 0.027 - x1 * 0.0035 - x2 * 0.0004 -
                x3 * 0.0002 - x4 * 0.0001 - x5 * 0.00028 - x6 * 0.00006 +
                x7 * 0.0001 + x8 * 0.0037 - x9 * 0.045 + x10 * 0.00538 +
                x11 * 0.015;
    p.theta_s = 0.81 - x12 * 0.283 + x8 * 0.001;
    p.alpha_exponent = x0 * 0.178 + 1.245 + x1 * 0.173 + x2 * 0.0292 +
                       x3 * 0.0135 + x4 * 0.105 - x5 * 0.0149 - x6 * 0.118 -
                       x7 * 0.042 - x8 * 0.0218 - x9 * 14.73 - x10 * 0.179 -
                       x11 * 0.416 - x12 * 2.507;
    p.n_exponent = -0.0066 - x0 * 0.0147 + x1 * 0.0404 + x2 * 0.00234 +
                   x3 * 0.0047 - x4 * 0.0414 - x5 * 0.007 + x6 * 0.03 -
                   x7 * 0.038 - x8 * 0.0042 + x9 * 1.0322 - x10 * 0.0019;
    return p;
}

// Outputs theta_r, theta_s, alpha = exp(alpha exponent), n = exp(n
// exponent).  Two stages, so that the contiguous loop runs each over a
// strip of elements: the four sums of thirteen terms (arithmetic,
// vectorised across the strip), then the two exp calls.  Element by element
// the calls kept the whole loop scalar: 1.21 and 1.11 times the cost of the
// calls plus the memory traffic at 10^6 and 10^7 elements, 0.84 and 0.78
// in strips of 16, where the seventeen streams overlap the calls (strips
// of 128: 1.07 and 0.97).  Carried: the four sums in the order above.
struct Vereecken1989Detailed {
    static constexpr int nin = 13, nout = 4;
    static constexpr int nstages = 2, ncarry = 4, strip = 16;
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            const VereeckenDetailedSums p = vereecken1989_detailed_sums(
                x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], x[8], x[9],
                x[10], x[11], x[12]);
            c[0] = p.theta_r;
            c[1] = p.theta_s;
            c[2] = p.alpha_exponent;
            c[3] = p.n_exponent;
        } else {
            y[0] = c[0];
            y[1] = c[1];
            y[2] = std::exp(c[2]);
            y[3] = std::exp(c[3]);
        }
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_vereecken1989, 4, 4, Vereecken1989)
PTF_LOOPS(calc_ptf_vereecken1989_detailed, 13, 4, Vereecken1989Detailed)
