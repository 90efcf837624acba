// Brooks-Corey parameters after Rawls and Brakensiek (1985), "Prediction of
// soil water properties for hydrologic modeling", in Watershed Management
// in the Eighties, ASCE, 293-299 (the regressions as Maidment's Handbook of
// Hydrology, 1993, Table 5.3.3, reprints them).
// theta = theta_r + (theta_s - theta_r) (h_b / h)^lambda for h > h_b.
#include "ptf_registry.h"

namespace {

// Inputs: sand S, clay C (percent by mass), porosity P (cm3/cm3).
// Outputs: theta_r (cm3/cm3), h_b (cm of water) = exp(ln h_b),
// lambda = exp(ln lambda).
//
// Order of evaluation: each sum is its constant followed by its terms in
// the row order of the coefficient table, S, C, P, C^2, S^2, P^2, S.P, C.P,
// S^2.P^2, C^2.P^2, S^2.C, C^2.P, S^2.P, C^2.S, P^2.C, left to right,
// skipping the terms a parameter does not have.  The squares S^2, C^2, P^2
// are formed first (x * x), a product term as its two factors in the order
// the row names them; each term is that value times the positive
// coefficient, added or subtracted.
struct Rawls1985 {
    static constexpr int nin = 3, nout = 3;
    static constexpr int nstages = 2, ncarry = 3;
    template <int Stage>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (Stage == 0) {
            const double S = x[0], C = x[1], P = x[2];
            const double S2 = S * S, C2 = C * C, P2 = P * P;
            c[0] = -0.0182482 + S * 0.00087269 + C * 0.00513488 +
                   P * 0.02939286 - C2 * 0.00015395 - S * P * 0.0010827 -
                   C2 * P2 * 0.00018233 + C2 * P * 0.00030703 -
                   P2 * C * 0.0023584;
            c[1] = 5.3396738 + C * 0.1845038 - P * 2.48394546 -
                   C2 * 0.00213853 - S * P * 0.04356349 -
                   C * P * 0.61745089 + S2 * P2 * 0.00143598 -
                   C2 * P2 * 0.00855375 - S2 * C * 0.00001282 +
                   C2 * P * 0.00895359 - S2 * P * 0.00072472 +
                   C2 * S * 0.0000054 + P2 * C * 0.50028060;
            c[2] = -0.7842831 + S * 0.0177544 - P * 1.062498 -
                   C2 * 0.00273493 - S2 * 0.00005304 + P2 * 1.11134946 -
                   S * P * 0.03088295 + S2 * P2 * 0.00026587 -
                   C2 * P2 * 0.00610522 - S2 * C * 0.00000235 +
                   C2 * P * 0.00798746 - P2 * C * 0.00674491;
        } else {
            y[0] = c[0];
            y[1] = std::exp(c[1]);
            y[2] = std::exp(c[2]);
        }
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_rawls1985, 3, 3, Rawls1985)
