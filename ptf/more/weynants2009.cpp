// Mualem-van Genuchten parameters after Weynants, Vereecken and Javaux
// (2009), "Revisiting Vereecken pedotransfer functions: introducing a
// closed-form hydraulic model", Vadose Zone J. 8(1):86-95, with the
// coefficients corrected by Weihermueller et al. (2017) at full precision,
// as the authors' R package spsh carries them.
// theta_r = 0 and m = 1 - 1/n; K0 is the matching-point conductivity that
// takes the place of Ks, L Mualem's tortuosity parameter.
#include "ptf_registry.h"

namespace {

// Inputs: sand S, clay C, organic carbon OC (percent by mass), dry bulk
// density BD (g/cm3).  Outputs: theta_s (cm3/cm3), alpha (1/cm), n,
// K0 (cm/d), L.  alpha = exp(ln alpha), n = exp(ln(n - 1)) + 1,
// K0 = exp(ln K0).  Each sum is its constant followed by its terms in the
// order of the published equation, left to right, each term predictor *
// (positive coefficient), added or subtracted; S^2 is S * S.
struct Weynants2009 {
    static constexpr int nin = 4, nout = 5;
    static constexpr int nstages = 2, ncarry = 5;
    template <int Stage>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (Stage == 0) {
            const double S = x[0], C = x[1], OC = x[2], BD = x[3];
            c[0] = 0.6355365504 + C * 0.0012807613 - BD * 0.1630910071;
            c[1] = -4.3003420026 - C * 0.0096851210 + S * 0.0137763939 -
                   OC * 0.0992391618;
            c[2] = -1.0846069190 - C * 0.0235654376 - S * 0.0085043044 +
                   S * S * 0.0001369944;
            c[3] = 1.9581584626 + S * 0.0308449531 - BD * 0.6141610130 -
                   OC * 0.1565557100;
            c[4] = -1.8641969563 - C * 0.1317363417 + S * 0.0067082506;
        } else {
            y[0] = c[0];
            y[1] = std::exp(c[1]);
            y[2] = std::exp(c[2]) + 1.0;
            y[3] = std::exp(c[3]);
            y[4] = c[4];
        }
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_weynants2009, 4, 5, Weynants2009)
