// Van Genuchten retention parameters after Hodnett and Tomasella (2002) and
// Li et al. (2007), and the polynomial regressions of Mayr and Jarvis (1999).
//
// Every expression is evaluated in the order written, left to right, every
// operation rounded to double; a product a * b * c is (a * b) * c and a cube
// a * a * a is ((a * a) * a).
#include "ptf_registry.h"

namespace {

// Hodnett and Tomasella (2002).  Inputs: sand, silt, clay (percent by mass),
// oc (organic carbon, percent), bd (bulk density, g/cm3), cec (cation
// exchange capacity, unit as in the publication), ph (soil pH).
// Outputs: alpha (unit as in the publication), n, theta_s and theta_r
// (cm3/cm3).  Each regression is published multiplied by 100; its value is
// divided by 100 before use.
//
// Two stages, so that the contiguous loop runs each over a strip of 16
// elements: the four regressions, each divided by 100 (arithmetic,
// vectorised across the strip), then exp of the first two.  Carried: the
// exponents of alpha and n, theta_s, theta_r.
struct Hodnett2002 {
    static constexpr int nin = 7, nout = 4;
    static constexpr int nstages = 2, ncarry = 4, strip = 16;
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            const double sand = x[0], silt = x[1], clay = x[2], oc = x[3];
            const double bd = x[4], cec = x[5], ph = x[6];
            c[0] = (-2.294 - silt * 3.526 + oc * 2.44 - cec * 0.076 -
                    ph * 11.331 + silt * silt * 0.019) /
                   100;
            c[1] = (62.986 - clay * 0.833 - oc * 0.529 + ph * 0.593 +
                    clay * clay * 0.007 - sand * 0.014 * silt) /
                   100;
            c[2] = (clay * 0.099 + 81.799 - bd * 31.42 + cec * 0.018 +
                    ph * 0.451 - sand * 0.0005 * clay) /
                   100;
            c[3] = (22.733 - sand * 0.164 + cec * 0.235 - ph * 0.831 +
                    clay * clay * 0.0018 + sand * 0.0026 * clay) /
                   100;
        } else {
            y[0] = std::exp(c[0]);
            y[1] = std::exp(c[1]);
            y[2] = c[2];
            y[3] = c[3];
        }
    }
};

// Li et al. (2007).  Inputs: sand, silt, clay (percent by mass), bd (bulk
// density, g/cm3), om (organic matter, unit as in the publication).
// Outputs: theta_s (cm3/cm3), alpha (unit as in the publication), n, and
// ksat in m/s.  The regressions use natural logarithms.
//
// In stages, so that the contiguous loop runs each over a strip of
// elements: the inputs, each logarithm in a stage of its own, the four
// regressions (arithmetic, vectorised across the strip), each exp in a
// stage of its own, the outputs.  A stage with one call keeps no value
// alive across it: with the five logarithms in one stage the kernel ran at
// 1.39 times the cost of its calls in cache, with one per stage at 1.25.
// Carried: the five inputs and their logarithms, then in the first four
// places the exponents of theta_s and alpha, n and the exponent of ksat,
// which the exp stages replace by their exp.
struct Li2007 {
    static constexpr int nin = 5, nout = 4;
    static constexpr int nstages = 11, ncarry = 10;
    enum : int {
        kSand, kSilt, kClay, kBd, kOm,          // inputs
        kLnSand, kLnSilt, kLnOm, kLnBd, kLnClay  // stages 1 to 5
    };
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            for (int k = 0; k < nin; ++k) {
                c[k] = x[k];
            }
        } else if constexpr (S == 1) {
            c[kLnSand] = std::log(c[kSand]);
        } else if constexpr (S == 2) {
            c[kLnSilt] = std::log(c[kSilt]);
        } else if constexpr (S == 3) {
            c[kLnOm] = std::log(c[kOm]);
        } else if constexpr (S == 4) {
            c[kLnBd] = std::log(c[kBd]);
        } else if constexpr (S == 5) {
            c[kLnClay] = std::log(c[kClay]);
        } else if constexpr (S == 6) {
            const double silt = c[kSilt], clay = c[kClay];
            const double bd = c[kBd], om = c[kOm];
            const double lsand = c[kLnSand], lsilt = c[kLnSilt];
            const double lom = c[kLnOm], lbd = c[kLnBd];
            const double lclay = c[kLnClay];
            c[0] = lsand * 0.212 - 1.531 + silt * 0.006 - om * 0.051 -
                   lbd * 0.566;
            c[1] = -67.408 - silt * 0.04 - lsilt * 0.67 - om * 2.189 +
                   lom * 1.41 + bd * 78.4 - lbd * 121.331;
            c[2] = lsilt * 0.002 + 1.488 + clay * 0.013 - lclay * 0.248 +
                   lom * 0.048 + lbd * 0.451;
            c[3] = 13.262 - lsand * 1.914 - lsilt * 0.974 - clay * 0.058 -
                   lom * 1.709 + om * 2.885 - lbd * 8.026;
        } else if constexpr (S == 7) {
            c[0] = std::exp(c[0]);
        } else if constexpr (S == 8) {
            c[1] = std::exp(c[1]);
        } else if constexpr (S == 9) {
            c[3] = std::exp(c[3]);
        } else {
            y[0] = c[0];
            y[1] = c[1];
            y[2] = c[2];
            // The regression gives cm/day; the stored factor is the double
            // nearest to 1/8640000 (86400 s/day times 100 cm/m),
            // multiplied.
            y[3] = c[3] * 1.1574074074074074e-07;
        }
    }
};

// Mayr and Jarvis (1999).  Inputs: five positional predictors x0 .. x4, each
// in the unit of the publication.  Outputs: y0, a power of ten of a
// polynomial; y1, ten to the negated polynomial s; y2, a polynomial value;
// units as in the publication.
struct Mayr1999 {
    static constexpr int nin = 5, nout = 3;
    static inline void eval(const double* x, double* y) {
        const double x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3], x4 = x[4];
        y[0] = std::pow(10.0, x0 * 0.0509226283 - 4.9840297533 +
                                  x1 * 0.1575152771 + x3 * 0.1240901644 -
                                  x4 * 0.1640033143 -
                                  x1 * x1 * 0.0021767278 +
                                  x1 * x1 * x1 * 0.00001438224 +
                                  x2 * x2 * 0.0008040715 +
                                  x4 * x4 * 0.0044067117);
        const double s = -0.8466880654 - x0 * 0.0046806123 +
                         x1 * 0.0092463819 - x3 * 0.4542769707 -
                         x4 * 0.0497915563 + x0 * x0 * 0.0003294687 -
                         x0 * x0 * x0 * 0.000001689056 +
                         x4 * x4 * 0.0011225373;
        // The whole sum is negated after it is formed.
        y[1] = std::pow(10.0, -s);
        y[2] = x0 * 0.0046614221 + 0.2345971971 + x1 * 0.0088163314 +
               x2 * 0.0064338641 - x3 * 0.3028160229 +
               x0 * x0 * 0.0000179762 - x1 * x1 * 0.00003134631;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_hodnett2002, 7, 4, Hodnett2002)
PTF_LOOPS(calc_ptf_li2007, 5, 4, Li2007)
PTF_LOOPS(calc_ptf_mayr1999, 5, 3, Mayr1999)
