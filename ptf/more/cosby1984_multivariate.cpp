// Parameters of the Campbell (Clapp-Hornberger) power law after the
// multivariate regressions of Cosby, Hornberger, Clapp and Ginn (1984), "A
// statistical exploration of the relationships of soil moisture
// characteristics to the physical properties of soils", Water Resour. Res.
// 20(6):682-690, Table 4.  psi = psi_s (theta / theta_s)^-b,
// K = Ks (theta / theta_s)^(2b + 3).
#include "ptf_registry.h"

namespace {

// Inputs: sand, silt, clay (percent by mass).  Outputs: b; psi_s (cm of
// water) = 10^(1.54 - 0.0095 S + 0.0063 Si); theta_s (cm3/cm3) = the
// published percentage divided by 100; Ks (inches per hour, the unit of
// the publication) = 10^(-0.60 + 0.0126 S - 0.0064 C).  Each sum is the
// constant followed by the terms in the order of the table, left to right,
// each term predictor * (positive coefficient), added or subtracted; the
// powers of ten are pow(10, sum).
struct Cosby1984 {
    static constexpr int nin = 3, nout = 4;
    static constexpr int nstages = 2, ncarry = 4;
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            const double sand = x[0];
            const double silt = x[1];
            const double clay = x[2];
            c[0] = 3.10 + clay * 0.157 - sand * 0.003;
            c[1] = 1.54 - sand * 0.0095 + silt * 0.0063;
            c[2] = (50.5 - sand * 0.142 - clay * 0.037) / 100.0;
            c[3] = -0.60 + sand * 0.0126 - clay * 0.0064;
        } else {
            y[0] = c[0];
            y[1] = std::pow(10.0, c[1]);
            y[2] = c[2];
            y[3] = std::pow(10.0, c[3]);
        }
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_cosby1984, 3, 4, Cosby1984)
