// Retention and conductivity curves after Brooks and Corey (1964),
// "Hydraulic properties of porous media", Hydrology Papers 3, Colorado
// State University, Fort Collins: the power law of effective saturation in
// the suction, and the conductivity that Burdine's (1953) model gives for
// it.
//
// Units: h and the bubbling (air-entry) head h_b are suction heads,
// positive, in one length unit (cm is usual); water contents are volume
// fractions; Ks and K share any conductivity unit; the pore-size
// distribution index lambda is dimensionless.
//
// Every expression is evaluated in the order written below, each operation
// rounded to double; powers are the C library's pow.  A suction at or below
// the bubbling head (h <= h_b, which includes every h <= 0 for h_b >= 0)
// gives theta_s and Ks exactly.  The test is a quiet comparison that is
// false when h or h_b is NaN, so NaN goes through the formula and gives NaN
// (pow(NaN, y) is NaN for every y other than 0).  Any other NaN parameter
// gives NaN wherever the formula is evaluated; at saturation the result is
// theta_s or Ks as given.
#include "ptf_registry.h"

namespace {

// theta(h) = theta_r + (theta_s - theta_r) * (h / h_b)^(-lambda) for
// h > h_b; theta_s for h <= h_b.  Order: the power pow(h / h_b, -lambda),
// multiplied by (theta_s - theta_r), added to theta_r.
// Domain: h_b > 0, lambda > 0.
// Inputs: h, theta_r, theta_s, h_b, lambda.  Output: theta.
struct BrooksCorey {
    static constexpr int nin = 5, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double h = x[0];
        const double theta_r = x[1];
        const double theta_s = x[2];
        const double h_b = x[3];
        if (std::islessequal(h, h_b)) {
            y[0] = theta_s;
            return;
        }
        y[0] = theta_r + (theta_s - theta_r) * std::pow(h / h_b, -x[4]);
    }
};

// K(h) = Ks * (h / h_b)^(-2 - 3 * lambda) for h > h_b; Ks for h <= h_b.
// Order: exponent (-2) - 3 * lambda, then Ks * pow(h / h_b, exponent).
// Domain: h_b > 0, lambda > 0.
// Inputs: h, Ks, h_b, lambda.  Output: K.
struct BrooksCoreyConductivity {
    static constexpr int nin = 4, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double h = x[0];
        const double ks = x[1];
        const double h_b = x[2];
        if (std::islessequal(h, h_b)) {
            y[0] = ks;
            return;
        }
        y[0] = ks * std::pow(h / h_b, -2.0 - 3.0 * x[3]);
    }
};

}  // namespace

PTF_LOOPS(calc_swrc_brooks_corey, 5, 1, BrooksCorey)
PTF_LOOPS(calc_hcc_brooks_corey, 4, 1, BrooksCoreyConductivity)
