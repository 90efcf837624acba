// Bimodal retention curve after Durner (1994), "Hydraulic conductivity
// estimation for soils with heterogeneous pore structure", Water Resour.
// Res. 30(2):211-223: the pore space as two pore systems, each with a van
// Genuchten (1980) curve, mixed with weights w_1 and w_2 = 1 - w_1.  The
// formula is the paper's own definition,
//   Se(h) = sum_i w_i * [1 + (alpha_i * h)^n_i]^(-m_i),
//   theta(h) = theta_r + (theta_s - theta_r) * Se(h),
// here with m_i = 1 - 1/n_i in each subsystem (the Mualem form).
//
// Units: h is the suction head, positive, in any length unit (cm is
// usual); alpha_1 and alpha_2 are in the reciprocal of that unit; water
// contents are volume fractions; w_1, n_1 and n_2 are dimensionless.
//
// Every expression is evaluated in the order written below, each operation
// rounded to double; powers are the C library's pow.  A head h <= 0
// (saturated or ponded) gives theta_s exactly.  The saturation test is a
// quiet comparison that is false for a NaN head, so a NaN head goes through
// the formula and gives NaN without a floating-point exception of its own.
// A NaN parameter gives NaN wherever the formula is evaluated; at
// saturation the result is theta_s as given, whatever the other parameters.
#include "ptf_registry.h"

namespace {

// theta(h) for h > 0; theta_s for h <= 0.  Order:
//   m_1 = 1 - 1 / n_1;  m_2 = 1 - 1 / n_2;
//   t_1 = pow(alpha_1 * h, n_1);  t_2 = pow(alpha_2 * h, n_2);
//   s_1 = pow(1 + t_1, -m_1);  s_2 = pow(1 + t_2, -m_2);
//   se = w_1 * s_1 + (1 - w_1) * s_2;
//   theta = theta_r + (theta_s - theta_r) * se.
// Domain: 0 <= w_1 <= 1, alpha_1, alpha_2 > 0, n_1, n_2 > 1; h = +inf
// gives theta_r.
// Inputs: h, theta_r, theta_s, w_1, alpha_1, n_1, alpha_2, n_2.
// Output: theta.
//
// As stages (the two inner pow calls side by side, then the two outer
// ones, then the sums).  A saturated element takes bases of 1 and 2 and
// n = 2 on the way (no flag) and keeps theta_s; the strided loop evaluates
// the same stages per element.
struct Durner {
    static constexpr int nin = 8, nout = 1;
    static constexpr int nstages = 3, ncarry = 8;
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            const double h = x[0];
            const bool saturated = std::islessequal(h, 0.0);
            const double n1 = saturated ? 2.0 : x[5];
            const double n2 = saturated ? 2.0 : x[7];
            c[2] = 1.0 - 1.0 / n1;                            // m_1
            c[3] = 1.0 - 1.0 / n2;                            // m_2
            c[4] = x[3];                                      // w_1
            c[5] = x[1];
            c[6] = x[2];
            c[7] = saturated ? 1.0 : 0.0;
            c[0] = std::pow(saturated ? 1.0 : x[4] * h, n1);  // t_1
            c[1] = std::pow(saturated ? 1.0 : x[6] * h, n2);  // t_2
        } else if constexpr (S == 1) {
            c[0] = std::pow(1.0 + c[0], -c[2]);               // s_1
            c[1] = std::pow(1.0 + c[1], -c[3]);               // s_2
        } else {
            const double se = c[4] * c[0] + (1.0 - c[4]) * c[1];
            y[0] = c[7] != 0.0 ? c[6] : c[5] + (c[6] - c[5]) * se;
        }
    }
};

}  // namespace

PTF_LOOPS(calc_swrc_durner, 8, 1, Durner)
