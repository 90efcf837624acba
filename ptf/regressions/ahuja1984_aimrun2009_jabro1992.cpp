// Saturated hydraulic conductivity after Ahuja (1984), Aimrun (2009) and
// Jabro (1992).
//
// Each expression is evaluated in the order written, every operation rounded
// to double; conversions to per-second rates multiply by a stored reciprocal.
#include "ptf_registry.h"

namespace {

// Ahuja (1984): K = B * (porosity - theta33)^n.
// Inputs: total porosity (volume fraction), water content at 33 kPa (same
// unit), coefficient B (unit of the result), exponent n (dimensionless).
struct Ahuja1984 {
    static constexpr int nin = 4, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double e = x[0] - x[1];     // effective porosity
        const double r = std::pow(e, x[3]);
        y[0] = r * x[2];
    }
};

// Aimrun (2009): ln K (per day) is linear in x2 and x3 and in the
// natural logarithms of all four predictors; converted to a per-second rate
// by multiplying with the double nearest to 1/86400.
struct Aimrun2009 {
    static constexpr int nin = 4, nout = 1;
    static inline void eval(const double* x, double* y) {
        double s = x[1] * 3.846;
        s = s - 2.368;
        s = s + x[2] * 0.091;
        s = s - std::log(x[1]) * 6.203;
        s = s - std::log(x[2]) * 0.343;
        s = s - std::log(x[0]) * 2.334;
        s = s - std::log(x[3]) * 0.411;
        y[0] = std::exp(s) * 1.1574074074074073e-05;
    }
};

// Jabro (1992): log10 K (cm/h) from silt (%), clay (%) and bulk density
// (g/cm3); cm/h to m/s by multiplying with the double nearest to 1/360000.
struct Jabro1992 {
    static constexpr int nin = 3, nout = 1;
    static inline void eval(const double* x, double* y) {
        double e = 9.56 - std::log10(x[0]) * 0.81;
        e = e - std::log10(x[1]) * 1.09;
        e = e - x[2] * 4.64;
        const double k = std::pow(10.0, e);  // cm/h
        y[0] = k * 2.777777777777778e-06;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_ahuja1984, 4, 1, Ahuja1984)
PTF_LOOPS(calc_ptf_aimrun2009, 4, 1, Aimrun2009)
PTF_LOOPS(calc_ptf_jabro1992, 3, 1, Jabro1992)
