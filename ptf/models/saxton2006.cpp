// Soil water characteristics after Saxton and Rawls (2006), "Soil water
// characteristic estimates by texture and organic matter for hydrologic
// solutions", Soil Sci. Soc. Am. J. 70:1569-1578.
//
// Units as in the publication: sand S and clay C are mass fractions (0 to 1),
// organic matter OM is percent by mass, water contents are volume fractions,
// tensions are kPa, conductivities mm/h and densities g/cm3.
//
// Every expression is evaluated in the order written below, left to right,
// each operation rounded to double: a product of several factors is formed
// from the left (S * 0.005 * OM is (S * 0.005) * OM), terms of a sum are
// added in the order written.  ln 33 and ln 1500 are computed with the same
// std::log as the water contents.
#include "ptf_registry.h"
#include "ptf/models/saxton2006_tension.h"

namespace {

// The power-law tension curve psi = A * theta^(-B) between 33 and 1500 kPa
// (saxton2006_tension.h, shared with the complete curve of loamara._curves):
// the staged kernels below compute ln theta33 and ln theta1500 once each and
// take B and the exponent of A from them.
using ptf::saxton2006::tension_curve_a_exponent;
using ptf::saxton2006::tension_curve_b_of_logs;

// The floor fmax(d, 0.005) of the density adjustment, the C library's fmax
// for every double d: d when d > 0.005 (+infinity included), else 0.005,
// also for NaN.  Compared as integers: a double that is not negative and
// not NaN orders like its bit pattern, and the patterns of +0.005 <
// d <= +infinity lie strictly between those of 0.005 and of the first NaN.
// Unlike a floating-point comparison, which the compiler vectorises with
// a predicate that signals invalid on a quiet NaN, this raises no flag, as
// fmax raises none for the (quiet) NaN a difference can be.  Unlike the
// call, it lets the loop be vectorised: 1.22 and 1.19 times the cost of
// the memory traffic at 10^5 and 10^6 elements with the call, 1.08 and
// 0.98 without.
inline double floor_at_0_005(double d) {
    constexpr double lo = 0.005;
    std::int64_t bits, lo_bits;
    std::memcpy(&bits, &d, sizeof bits);
    std::memcpy(&lo_bits, &lo, sizeof lo_bits);
    const std::int64_t inf_bits = INT64_C(0x7FF0000000000000);
    return bits > lo_bits && bits <= inf_bits ? d : lo;
}

// Full set from texture and organic matter.  Inputs: S, C (mass fractions),
// OM (%).  Outputs: theta1500, theta33, thetaS, available water, air-entry
// tension psi_e (kPa), A, B, lambda = 1/B, Ks (mm/h), normal density rho_N
// (g/cm3).
//
// Four stages, so that the contiguous loop runs each over a strip of
// elements: the regressions (arithmetic), ln theta33 and ln theta1500, B
// and the arguments of exp and pow (arithmetic), then exp and pow.  One
// element is a chain log -> quotient -> exp and pow, and element by
// element the calls of successive elements did not overlap: 1.44 and 1.39
// times the cost of the calls plus the memory traffic at 10^6 and 10^7
// elements, 1.17 and 1.04 in strips.  What remains at 10^6 is mostly the
// formula's two true divisions per element (B, then 1 / B for lambda and
// the exponent of Ks) and the carried values.
struct Saxton2006 {
    static constexpr int nin = 3, nout = 10;
    static constexpr int nstages = 4, ncarry = 12;
    // Carried values.
    enum : int {
        kTheta1500, kTheta33, kThetaS, kAw, kPe, kRhoN,  // outputs
        kLnTheta33, kLnTheta1500,                        // stage 1
        kB, kLambda, kAExponent, kKsExponent,            // stage 2
    };
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            regressions(x[0], x[1], x[2], c);
        } else if constexpr (S == 1) {
            c[kLnTheta33] = std::log(c[kTheta33]);
            c[kLnTheta1500] = std::log(c[kTheta1500]);
        } else if constexpr (S == 2) {
            const double b =
                tension_curve_b_of_logs(c[kLnTheta33], c[kLnTheta1500]);
            c[kB] = b;
            c[kAExponent] = tension_curve_a_exponent(b, c[kLnTheta33]);
            c[kLambda] = 1.0 / b;
            c[kKsExponent] = 3.0 - 1.0 / b;
        } else {
            y[0] = c[kTheta1500];
            y[1] = c[kTheta33];
            y[2] = c[kThetaS];
            y[3] = c[kAw];
            y[4] = c[kPe];
            y[5] = std::exp(c[kAExponent]);
            y[6] = c[kB];
            y[7] = c[kLambda];
            y[8] = std::pow(c[kThetaS] - c[kTheta33], c[kKsExponent]) * 1930.0;
            y[9] = c[kRhoN];
        }
    }

    // The moisture regressions, air entry and normal density.
    static inline void regressions(double s, double c, double om, double* r) {
        // 1500 kPa moisture, first solution and its correction.
        const double t1500 = c * 0.487 - s * 0.024 + om * 0.006 +
                             s * 0.005 * om - c * 0.013 * om +
                             s * 0.068 * c + 0.031;
        const double theta1500 = t1500 * 0.14 + t1500 - 0.02;

        // 33 kPa moisture.  The product C * 0.027 * OM recurs in
        // the saturation-minus-33 kPa regression and is formed once.
        const double c_om = c * 0.027 * om;
        const double t33 = c * 0.195 - s * 0.251 + om * 0.011 +
                           s * 0.006 * om - c_om + s * 0.452 * c + 0.299;
        const double theta33 = t33 * t33 * 1.283 + t33 - t33 * 0.374 - 0.015;

        // Moisture between saturation and 33 kPa, first solution.
        const double ts33 = c * 0.034 + s * 0.278 + om * 0.022 -
                            s * 0.018 * om - c_om - s * 0.584 * c + 0.078;

        // Its correction (Saxton and Rawls 2006, Table 1, eq. 3), formed
        // left to right: ((ts33 * 0.636) + ts33) - 0.107.
        const double s33 = ts33 * 0.636 + ts33 - 0.107;

        // Saturation: the corrected S-33 moisture, the 33 kPa
        // moisture and the sand adjustment, summed left to right.
        const double theta_s = s33 + theta33 - s * 0.097 + 0.043;

        // Air-entry tension (eq. 4), first solution and its correction.
        // The regression takes the corrected S-33 moisture, as the
        // publication writes it.  A very sandy soil gets a negative
        // tension (about -1 kPa at 88 % sand); it is not clamped.
        const double pet = s * (-21.67) - c * 27.93 - s33 * 81.97 +
                           s * 71.12 * s33 + c * 8.29 * s33 +
                           s * 14.05 * c + 27.16;

        r[kTheta1500] = theta1500;
        r[kTheta33] = theta33;
        r[kThetaS] = theta_s;
        r[kAw] = theta33 - theta1500;
        r[kPe] = pet * pet * 0.02 + pet - pet * 0.113 - 0.7;
        // Normal density from the particle density 2.65 g/cm3.
        r[kRhoN] = (1.0 - theta_s) * 2.65;
    }
};

// Density adjustment.  Inputs: rho_N (g/cm3), thetaS, theta33,
// adjustment factor DF.  Outputs: rho_DF, thetaS and theta33 after the
// adjustment, and their difference floored at 0.005.  The floor is that of
// the C library's fmax, which returns 0.005 also when the difference is NaN
// (floor_at_0_005 above).
struct Saxton2006Density {
    static constexpr int nin = 4, nout = 4;
    static inline void eval(const double* x, double* y) {
        const double rho_n = x[0];
        const double theta_s = x[1];
        const double theta33 = x[2];
        const double df = x[3];
        const double rho_df = df * rho_n;
        const double theta_s_df = 1.0 - rho_df / 2.65;
        const double theta33_df = theta33 - (theta_s - theta_s_df) * 0.2;
        y[0] = rho_df;
        y[1] = theta_s_df;
        y[2] = theta33_df;
        y[3] = floor_at_0_005(theta_s_df - theta33_df);
    }
};

// Tension between 33 and 1500 kPa.  Inputs: theta, theta1500,
// theta33.  Output: psi (kPa) = theta^(-B) * A.  Three stages, as in the
// full set above: the two logarithms, B and the exponent of A, then pow
// and exp.  Carried: theta, ln theta33, ln theta1500, then B and the
// exponent of A in the places of the logarithms.
struct Saxton2006TensionDry {
    static constexpr int nin = 3, nout = 1;
    static constexpr int nstages = 3, ncarry = 3;
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            c[0] = x[0];
            c[1] = std::log(x[2]);
            c[2] = std::log(x[1]);
        } else if constexpr (S == 1) {
            const double b = tension_curve_b_of_logs(c[1], c[2]);
            c[1] = tension_curve_a_exponent(b, c[1]);
            c[2] = b;
        } else {
            y[0] = std::pow(c[0], -c[2]) * std::exp(c[1]);
        }
    }
};

// Tension between 33 kPa and air entry, linear in theta.  Inputs:
// theta, theta33, thetaS, psi_e (kPa).  The product is formed before the
// division.
struct Saxton2006TensionWet {
    static constexpr int nin = 4, nout = 1;
    static inline void eval(const double* x, double* y) {
        y[0] = ptf::saxton2006::tension_wet(x[0], x[1], x[2], x[3]);
    }
};

// Unsaturated conductivity.  Inputs: theta, thetaS, Ks (mm/h),
// lambda.  Output: K(theta) = (theta / thetaS)^(2 / lambda + 3) * Ks.
struct Saxton2006Conductivity {
    static constexpr int nin = 4, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double theta = x[0];
        const double theta_s = x[1];
        const double ks = x[2];
        const double lambda = x[3];
        y[0] = std::pow(theta / theta_s, 2.0 / lambda + 3.0) * ks;
    }
};

// Gravel effects.  Inputs: gravel mass fraction Rw, density of
// the fine earth (g/cm3), available water and Ks (mm/h) of the fine earth.
// Outputs: gravel volume fraction Rv, bulk density of the whole soil,
// available water and conductivity of the whole soil.  The conductivity
// reduction uses the volume fraction Rv in numerator and denominator.
struct Saxton2006Gravel {
    static constexpr int nin = 4, nout = 4;
    static inline void eval(const double* x, double* y) {
        const double rw = x[0];
        const double rho = x[1];
        const double aw = x[2];
        const double ks = x[3];
        const double alpha = rho / 2.65;
        const double rv = (alpha * rw) / (1.0 - (1.0 - alpha) * rw);
        y[0] = rv;
        y[1] = (1.0 - rv) * rho + rv * 2.65;
        y[2] = (1.0 - rv) * aw;
        y[3] = ((1.0 - rv) * ks) / (1.0 - (1.0 - alpha * 3.0 * 0.5) * rv);
    }
};

// Osmotic potential from salinity.  Inputs: EC of the
// saturated extract (dS/m), theta, thetaS.  Outputs: osmotic potential at
// saturation and at theta (kPa).
struct Saxton2006Salinity {
    static constexpr int nin = 3, nout = 2;
    static inline void eval(const double* x, double* y) {
        const double po = x[0] * 36.0;
        y[0] = po;
        y[1] = (x[2] / x[1]) * po;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_saxton2006, 3, 10, Saxton2006)
PTF_LOOPS(calc_ptf_saxton2006_density, 4, 4, Saxton2006Density)
PTF_LOOPS(calc_ptf_saxton2006_tension_dry, 3, 1, Saxton2006TensionDry)
PTF_LOOPS(calc_ptf_saxton2006_tension_wet, 4, 1, Saxton2006TensionWet)
PTF_LOOPS(calc_ptf_saxton2006_conductivity, 4, 1, Saxton2006Conductivity)
PTF_LOOPS(calc_ptf_saxton2006_gravel, 4, 4, Saxton2006Gravel)
PTF_LOOPS(calc_ptf_saxton2006_salinity, 3, 2, Saxton2006Salinity)
