// Saturated hydraulic conductivity Ks from texture with the earlier methods
// that Ferrer-Julia et al. (2004) compare with their own regressions:
// Campbell and Shiozawa, Saxton et al., Dane and Puckett, Puckett et al. and
// Cosby et al. (1984).  Texture contents are percent by mass; every result
// is in mm/h.  Each step below is one double operation, in this order.
#include "ptf_registry.h"

namespace {

// Campbell and Shiozawa: Ks = 54 exp(-0.07 silt - 0.167 clay).
// Inputs: silt, clay.
struct CampbellShiozawa {
    static constexpr int nin = 2;
    static constexpr double factor = 54;
    static double exponent(const double* x) {
        double t = x[0] * -0.07;
        t = t - x[1] * 0.167;
        return t;
    }
};

// Saxton et al.: Ks = 10 exp(1.01 - 0.0755 sand + q / d) with
// q = 0.03671 sand - 3.895 - 0.1103 clay + 0.00087546 clay^2 and
// d = 0.33 - 0.000751 sand + 0.176 log10(clay).  Inputs: sand, clay.
//
// Written in three stages, log10(clay), the arithmetic up to the exponent,
// exp, so that the contiguous loop runs each stage over a strip of
// elements: one element is a dependent chain log10 -> quotient -> exp, and
// taken element by element the calls of successive elements did not
// overlap.  The operations and their order are those of the formula;
// carried: c0 sand, c1 clay, c2 log10(clay), then c0 the exponent.
struct Saxton {
    static constexpr int nin = 2, nout = 1;
    static constexpr int nstages = 3, ncarry = 3;
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            c[0] = x[0];
            c[1] = x[1];
            c[2] = std::log10(x[1]);
        } else if constexpr (S == 1) {
            const double sand = c[0], clay = c[1];
            double q = sand * 0.03671;
            q = q - 3.895;
            q = q - clay * 0.1103;
            q = q + (clay * clay) * 0.00087546;
            double d = 0.33 - sand * 0.000751;
            d = c[2] * 0.176 + d;
            double e = 1.01 - sand * 0.0755;
            e = e + q / d;
            c[0] = e;
        } else {
            y[0] = std::exp(c[0]) * 10;
        }
    }
};

// Dane and Puckett: Ks = 303.84 exp(-0.144 clay).  Input: clay.
struct DanePuckett {
    static constexpr int nin = 1;
    static constexpr double factor = 303.84;
    static double exponent(const double* x) { return x[0] * -0.144; }
};

// Puckett et al.: Ks = 156.96 exp(-0.1975 clay).  Input: clay.
struct Puckett {
    static constexpr int nin = 1;
    static constexpr double factor = 156.96;
    static double exponent(const double* x) { return x[0] * -0.1975; }
};

// Cosby et al. (1984): Ks = 10^(0.012 sand - 0.6 - 0.0064 clay) in inches
// per hour, converted to mm/h by multiplying with 25.4 mm per inch.
// Inputs: sand, clay.
struct Cosby {
    static constexpr int nin = 2, nout = 1;
    static inline void eval(const double* x, double* y) {
        double e = x[0] * 0.012;
        e = e - 0.6;
        e = e - x[1] * 0.0064;
        const double p = std::pow(10.0, e);  // in/h
        y[0] = p * 25.4;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_ferrerjulia2004_campbell_shiozawa, 2, 1,
          ptf::ScaledExp<CampbellShiozawa>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_saxton, 2, 1, Saxton)
PTF_LOOPS(calc_ptf_ferrerjulia2004_dane_puckett, 1, 1,
          ptf::ScaledExp<DanePuckett>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_puckett, 1, 1, ptf::ScaledExp<Puckett>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_cosby, 2, 1, Cosby)
