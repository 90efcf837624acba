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

// Written in three stages so that the contiguous loop runs each over a
// strip of elements: the ten linear estimates and the exponent of Ks
// (arithmetic, vectorised across the strip), exp, then Ks and the stores
// (vectorised).  Element by element the one exp call kept the whole loop
// scalar, and its sixteen streams cost more than the call: 1.28 times the
// cost of the call plus the memory traffic at 10^6 and 10^7 elements, 1.04
// and 1.02 in strips.  Strips of 16 elements: with 128, each stage's burst
// of loads or stores over the sixteen arrays no longer overlapped the exp
// calls (1.27 and 1.39).  Carried: c0 a0, c1 a1, c2 to c9 w1 to w8, c10
// the exponent, then exp of it.
struct Puckett1985 {
    static constexpr int nin = 5, nout = 11;
    static constexpr int nstages = 3, ncarry = 11, strip = 16;
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            const double x0 = x[0], x1 = x[1], x2 = x[2];
            const double x3 = x[3], x4 = x[4];
            c[0] = x3 * 0.264 + x4 * 1.6 - 0.706;
            c[1] = x4 * 1.69 + x3 * 0.318 - 0.834;
            for (int i = 0; i < 8; ++i) {
                const PuckettLinearRow& r = PUCKETT_LINEAR_TABLE[i];
                c[2 + i] = x1 * r.c1 - x0 * r.c0 + x2 * r.c2 + r.k;
            }
            // Ks = 4.36e-5 m/s * exp(-0.1975 * clay): the exponent
            // multiplies clay by the negative constant, the factor is
            // applied after exp.
            c[10] = x2 * -0.1975;
        } else if constexpr (S == 1) {
            c[10] = std::exp(c[10]);
        } else {
            for (int j = 0; j < 10; ++j) {
                y[j] = c[j];
            }
            y[10] = c[10] * 0.0000436;
        }
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_puckett1985, 5, 11, Puckett1985)
