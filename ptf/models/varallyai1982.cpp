// Varallyai (1982) regressions for meadow soils and three groups of
// chernozem soils.
//
// Inputs are positional predictors x0, x1 (and x2 for meadow soils), outputs
// three quantities y0, y1, y2 per sample, each in the unit of the
// publication; y0 is the one with the large intercept.  Every expression is
// evaluated in the order written, left to right, every operation rounded to
// double; a product a * b * c is (a * b) * c and a square term a * a * k is
// (a * a) * k.
#include "ptf_registry.h"

namespace {

struct Meadow {
    static constexpr int nin = 3, nout = 3;
    static inline void eval(const double* x, double* y) {
        const double x0 = x[0], x1 = x[1], x2 = x[2];
        y[0] = x2 * x2 * 14.46 - x0 * x0 * 8.78 + 62.85;
        y[1] = x1 * x1 * 0.576 - x1 * 1.434 * x2 + 0.156;
        y[2] = x0 * 1.103 * x2 - x1 * 1.702 + 3.749;
    }
};

struct ChernozemA {
    static constexpr int nin = 2, nout = 3;
    static inline void eval(const double* x, double* y) {
        const double x0 = x[0], x1 = x[1];
        y[0] = x1 * 20.5 - x0 * 56.4 + 123.79;
        y[1] = x0 * 0.336 - 0.053;
        y[2] = x0 * 4.701 * x1 + x0 * 1.513 - 0.417;
    }
};

struct ChernozemB {
    static constexpr int nin = 2, nout = 3;
    static inline void eval(const double* x, double* y) {
        const double x0 = x[0], x1 = x[1];
        // x0 is multiplied by the negative coefficient, not subtracted.
        y[0] = x0 * -62.2 - x1 * x1 * 49.14 + 140.7;
        y[1] = x0 * 0.635 - 0.482;
        y[2] = x0 * 4.27 * x1 + x0 * 3.509 - 3.075;
    }
};

struct ChernozemC {
    static constexpr int nin = 2, nout = 3;
    static inline void eval(const double* x, double* y) {
        const double x0 = x[0], x1 = x[1];
        y[0] = 115.39 - x0 * 46.8;
        y[1] = x0 * 0.439 * x1 + 0.625;
        y[2] = x0 * x0 * 0.865 + x0 * 3.268 * x1 + 0.301;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_varallyai1982_meadow, 3, 3, Meadow)
PTF_LOOPS(calc_ptf_varallyai1982_chernozem_a, 2, 3, ChernozemA)
PTF_LOOPS(calc_ptf_varallyai1982_chernozem_b, 2, 3, ChernozemB)
PTF_LOOPS(calc_ptf_varallyai1982_chernozem_c, 2, 3, ChernozemC)
