// Regressions of Puckett, Dane and Hajek (1985), "Physical and mineralogical
// data to determine soil hydraulic properties", Soil Sci. Soc. Am. J.
// 49:831-836.
//
// Inputs x0 to x4 are plain positional predictors, each in the unit of the
// publication; x2 is the clay content (percent by mass).  Outputs: a0 and a1
// from x3 and x4; w1 to w8, volumetric water contents (fractions) linear in
// x0, x1 and x2; the saturated hydraulic conductivity (m/s) from clay.
#include "ptf_registry.h"

namespace {

// One linear estimate w = x1 * c1 - x0 * c0 + x2 * c2 + k.
struct PuckettLinearRow {
    double c1;  // x1, added
    double c0;  // x0, subtracted
    double c2;  // x2 (clay), added
    double k;   // intercept, added last
};

constexpr PuckettLinearRow PUCKETT_LINEAR_TABLE[8] = {
    {0.000193, 0.000357, 0.000182, 0.41},    // w1
    {0.0000712, 0.000383, 0.000243, 0.415},  // w2
    {0.0000059, 0.000348, 0.000321, 0.365},  // w3
    {0.0000003, 0.000319, 0.000351, 0.33},   // w4
    {0.0000019, 0.000302, 0.000362, 0.31},   // w5
    {0.000014, 0.000262, 0.000375, 0.265},   // w6
    {0.0000197, 0.000244, 0.000378, 0.264},  // w7
    {0.0000254, 0.000239, 0.00038, 0.239},   // w8
};

struct PuckettResult {
    double a0;
    double a1;
    double w[8];
    double ksat;
};

inline PuckettResult puckett1985_point(double x0, double x1, double x2,
                                       double x3, double x4) {
    PuckettResult r;
    r.a0 = x3 * 0.264 + x4 * 1.6 - 0.706;
    r.a1 = x4 * 1.69 + x3 * 0.318 - 0.834;
    for (int i = 0; i < 8; ++i) {
        const PuckettLinearRow& c = PUCKETT_LINEAR_TABLE[i];
        r.w[i] = x1 * c.c1 - x0 * c.c0 + x2 * c.c2 + c.k;
    }
    // Ks = 4.36e-5 m/s * exp(-0.1975 * clay): the exponent multiplies clay
    // by the negative constant, the factor is applied after exp.
    r.ksat = std::exp(x2 * -0.1975) * 0.0000436;
    return r;
}

struct Puckett1985 {
    static constexpr int nin = 5, nout = 11;
    static inline void eval(const double* x, double* y) {
        const PuckettResult r =
            puckett1985_point(x[0], x[1], x[2], x[3], x[4]);
        y[0] = r.a0;
        y[1] = r.a1;
        for (int i = 0; i < 8; ++i) {
            y[2 + i] = r.w[i];
        }
        y[10] = r.ksat;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_puckett1985, 5, 11, Puckett1985)
