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

using ptf::saxton2006::tension_curve_a;
using ptf::saxton2006::tension_curve_b;

// Full set from texture and organic matter.  Inputs: S, C (mass fractions),
// OM (%).  Outputs: theta1500, theta33, thetaS, available water, air-entry
// tension psi_e (kPa), A, B, lambda = 1/B, Ks (mm/h), normal density rho_N
// (g/cm3).
struct Saxton2006 {
    static constexpr int nin = 3, nout = 10;
    static inline void eval(const double* x, double* y) {
        const double s = x[0];
        const double c = x[1];
        const double om = x[2];

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

        // Saturation: the corrected S-33 moisture, the 33 kPa
        // moisture and the sand adjustment, summed left to right.
        const double theta_s = ts33 * 0.636 + ts33 - 0.107 + theta33 -
                               s * 0.097 + 0.043;

        const double aw = theta33 - theta1500;

        // Air-entry tension.  Its regression takes the first
        // solution ts33, before the correction applied for saturation.
        const double pet = s * (-21.67) - c * 27.93 - ts33 * 81.97 +
                           s * 71.12 * ts33 + c * 8.29 * ts33 +
                           s * 14.05 * c + 27.16;
        const double pe = pet * pet * 0.02 + pet - pet * 0.113 - 0.7;

        // Tension curve and conductivity.
        const double b = tension_curve_b(theta33, theta1500);
        const double a = tension_curve_a(b, theta33);
        const double lambda = 1.0 / b;
        const double ks = std::pow(theta_s - theta33, 3.0 - 1.0 / b) * 1930.0;

        // Normal density from the particle density 2.65 g/cm3.
        const double rho_n = (1.0 - theta_s) * 2.65;

        y[0] = theta1500;
        y[1] = theta33;
        y[2] = theta_s;
        y[3] = aw;
        y[4] = pe;
        y[5] = a;
        y[6] = b;
        y[7] = lambda;
        y[8] = ks;
        y[9] = rho_n;
    }
};

// Density adjustment.  Inputs: rho_N (g/cm3), thetaS, theta33,
// adjustment factor DF.  Outputs: rho_DF, thetaS and theta33 after the
// adjustment, and their difference floored at 0.005.  The floor is the C
// library's fmax, which returns 0.005 also when the difference is NaN.
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
        y[3] = std::fmax(theta_s_df - theta33_df, 0.005);
    }
};

// Tension between 33 and 1500 kPa.  Inputs: theta, theta1500,
// theta33.  Output: psi (kPa) = theta^(-B) * A.
struct Saxton2006TensionDry {
    static constexpr int nin = 3, nout = 1;
    static inline void eval(const double* x, double* y) {
        y[0] = ptf::saxton2006::tension_dry(x[0], x[1], x[2]);
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
