// Tiwary et al. (2014) regressions for soils of the Indo-Gangetic plains
// (igp) and of the black soil region (bsr).
//
// Inputs are positional predictors x0, x1, ..., each in the unit of the
// publication.  The conductivity regressions give mm/h and are converted to
// m/s by a true division by 3600000 (3600 s/h times 1000 mm/m).  Every
// expression is evaluated in the order written, left to right, every
// operation rounded to double.
#include "ptf_registry.h"

namespace {

// Output: ksat in m/s.  The x2 term is subtracted before the x1 term.
struct Igp {
    static constexpr int nin = 3, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double k = x[0] * 0.047 + 4.079 - x[2] * 0.054 - x[1] * 2.238;
        y[0] = k / 3600000;
    }
};

// Outputs: y0, y1, y2, three regression values (units as in the
// publication), and ksat in m/s.
struct Bsr {
    static constexpr int nin = 6, nout = 4;
    static inline void eval(const double* x, double* y) {
        const double x0 = x[0], x1 = x[1], x2 = x[2];
        const double x3 = x[3], x4 = x[4], x5 = x[5];
        y[0] = x2 * 0.346 + 2.583 + x0 * 0.249 + x3 * 0.494;
        y[1] = x2 * 0.383 - 1.918 + x0 * 0.228 + x3 * 0.361;
        y[2] = x2 * 0.306 + 0.541 + x3 * 0.146 + x4 * 0.058;
        y[3] = (120.637 - x1 * 13.094 - x0 * 0.102 + x5 * 1.151) / 3600000;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_tiwary2014_igp, 3, 1, Igp)
PTF_LOOPS(calc_ptf_tiwary2014_bsr, 6, 4, Bsr)
