// Retention and conductivity curves after Campbell (1974), "A simple method
// for determining unsaturated conductivity from moisture retention data",
// Soil Science 117(6):311-314: the power law psi = psi_e (theta /
// theta_s)^(-b) and the conductivity K = Ks (theta / theta_s)^(2b + 3).
//
// Units: the suction psi and the air-entry suction psi_e are magnitudes,
// positive, in one unit (kPa, or cm of water as in Clapp and Hornberger
// 1978); water contents are volume fractions; Ks and K share any
// conductivity unit; b is dimensionless.
//
// Every expression is evaluated in the order written below, each operation
// rounded to double; powers are the C library's pow.  Saturation is psi <=
// psi_e in the retention curve and theta >= theta_s in its inverse and in
// the conductivity; the tests are quiet comparisons that are false for NaN,
// so NaN goes through the formula and gives NaN.  Any other NaN parameter
// gives NaN wherever the formula is evaluated; at saturation the result is
// theta_s, psi_e or Ks as given.
#include "ptf_registry.h"

namespace {

// theta(psi) = theta_s * (psi / psi_e)^(-1 / b) for psi > psi_e; theta_s
// for psi <= psi_e (which includes every psi <= 0 for psi_e >= 0).  Order:
// -1 / b one division, then theta_s * pow(psi / psi_e, -1 / b).
// Domain: psi_e > 0, b > 0.
// Inputs: psi, theta_s, psi_e, b.  Output: theta.
struct Campbell {
    static constexpr int nin = 4, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double psi = x[0];
        const double theta_s = x[1];
        const double psi_e = x[2];
        if (std::islessequal(psi, psi_e)) {
            y[0] = theta_s;
            return;
        }
        y[0] = theta_s * std::pow(psi / psi_e, -1.0 / x[3]);
    }
};

// The inverse, psi(theta) = psi_e * (theta / theta_s)^(-b) for theta <
// theta_s; psi_e for theta >= theta_s, the air-entry suction, which is the
// upper end of the saturated range psi <= psi_e and what the formula gives
// at theta = theta_s exactly (pow(1, y) is 1).  Order: psi_e * pow(theta /
// theta_s, -b).  theta = 0 gives +inf (pow(0, -b), division-by-zero flag);
// theta < 0 gives NaN for a non-integer b.
// Inputs: theta, theta_s, psi_e, b.  Output: psi.
struct CampbellSuction {
    static constexpr int nin = 4, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double theta = x[0];
        const double theta_s = x[1];
        const double psi_e = x[2];
        if (std::isgreaterequal(theta, theta_s)) {
            y[0] = psi_e;
            return;
        }
        y[0] = psi_e * std::pow(theta / theta_s, -x[3]);
    }
};

// K(theta) = Ks * (theta / theta_s)^(2 * b + 3) for theta < theta_s; Ks for
// theta >= theta_s (what the formula gives at theta = theta_s; a water
// content above saturation does not raise K above Ks).  Order: exponent
// 2 * b + 3, then Ks * pow(theta / theta_s, exponent).
// Inputs: theta, Ks, theta_s, b.  Output: K.
struct CampbellConductivity {
    static constexpr int nin = 4, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double theta = x[0];
        const double ks = x[1];
        const double theta_s = x[2];
        if (std::isgreaterequal(theta, theta_s)) {
            y[0] = ks;
            return;
        }
        y[0] = ks * std::pow(theta / theta_s, 2.0 * x[3] + 3.0);
    }
};

}  // namespace

PTF_LOOPS(calc_swrc_campbell, 4, 1, Campbell)
PTF_LOOPS(calc_swrc_campbell_suction, 4, 1, CampbellSuction)
PTF_LOOPS(calc_hcc_campbell, 4, 1, CampbellConductivity)
