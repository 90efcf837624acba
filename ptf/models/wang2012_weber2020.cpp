// Wang et al. (2012) retention and conductivity regressions, and the Weber
// et al. (2020) transfer of one set of retention-and-conductivity model
// parameters into the parameters of a second model.
//
// Every expression is evaluated in the order written, left to right, every
// operation rounded to double; a product a * b * c is (a * b) * c.
#include "ptf_registry.h"

namespace {

// Wang et al. (2012).  Inputs are six positional predictors x0 .. x5, each
// in the unit of the publication; x4 is scaled by 10 before use.
// Outputs: wa and wb, two volumetric water contents (cm3/cm3, the regressions
// give percent and are divided by 100), and ksat in m/s.
struct Wang2012 {
    static constexpr int nin = 6, nout = 3;
    static inline void eval(const double* x, double* y) {
        const double x0 = x[0], x1 = x[1], x2 = x[2];
        const double x3 = x[3], x5 = x[5];
        const double t = x[4] * 10;
        const double lg0 = std::log10(x0);
        const double lg2 = std::log10(x2);
        const double lgt = std::log10(t);
        // log10 of the conductivity in cm/day.
        const double ex = x1 * 0.038 + 1.173 + lg0 * 0.69 + 0.865 / x0 -
                          x3 * 0.03 * x1 - t * 0.00000995 * x5;
        const double kday = std::pow(10.0, ex);
        const double wa = (98.813 - 21.555 / x3 - 39.735 / x1 - 2.091 / x0 +
                           3.247 / t - x3 * x3 * 17.096) /
                          100;
        const double wb = (46.481 - t * 4.757 - lg2 * 14.028 - lg0 * 13.991 +
                           lgt * 42.261 - 11.763 / x0 + 19.198 / t -
                           x3 * x3 * 5.448 + t * t * 0.044 +
                           x3 * 1.975 * t) /
                          100;
        y[0] = wa;
        y[1] = wb;
        // cm/day to m/s: a true division by 86400 s/day times 100 cm/m.
        y[2] = kday / 8640000;
    }
};

// Weber et al. (2020).  Input k is a parameter of the first model and output
// k (k < 6) is derived from it: x0 and x1 are water contents (fraction),
// x2 a positive scale parameter, x3 a shape parameter above 1, x4 a
// parameter of which only the non-positive part is used, x5 a positive
// conductivity; units as in the publication.  y1 is also derived from y0.
// y6 is the fixed value 10^-1.72 of the second model, computed once per call.
struct Weber2020 {
    static constexpr int nin = 6, nout = 7;
    struct call_state {
        double c;
    };
    static call_state begin_call() { return {std::pow(10.0, -1.72)}; }
    static inline void eval(const double* x, double* y,
                            const call_state& st) {
        const double y0 = x[0] * 1.285 - 0.00158;
        y[0] = y0;
        y[1] = x[1] * 0.993 + 0.00189 - y0;
        y[2] = std::pow(10.0, std::log10(x[2]) * 0.986 - 0.0206);
        y[3] = std::pow(10.0, std::log10(x[3] - 1) * 0.933 + 0.0642) + 1;
        // fmin returns the number when x4 is NaN, so y4 is 0.0295 then.
        y[4] = std::fmin(x[4], 0.0) * 1.833 + 0.0295;
        y[5] = std::pow(10.0, std::log10(x[5]) * 1.06 + 0.116);
        y[6] = st.c;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_wang2012, 6, 3, Wang2012)
PTF_LOOPS(calc_ptf_weber2020, 6, 7, Weber2020)
