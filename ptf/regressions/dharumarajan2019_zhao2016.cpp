// Regressions of Dharumarajan et al. (2019) and Zhao et al. (2016).
//
// Every expression is evaluated left to right as written, each operation
// rounded to double (C++ evaluates a chain of + and - from the left, and a
// product before the sum it appears in).  No result is clamped.
#include "ptf_registry.h"

namespace {

// Dharumarajan et al. (2019), variants nkp and skp of the publication.  The
// three-input forms take soil properties x0, x1, x2 and the _clay forms the
// clay content (% by mass); the outputs y0, y1 are in the units of the
// publication.  The second output of the _clay forms is negative for small
// clay contents.
struct Dharumarajan2019Nkp {
    static constexpr int nin = 3, nout = 2;
    static inline void eval(const double* x, double* y) {
        const double y0 = x[0] * 0.205 + 13.82 - x[1] * 0.088 + x[2] * 0.316;
        const double y1 = x[0] * 0.315 - 5.776 + x[1] * 0.05 + x[2] * 0.271;
        y[0] = y0;
        y[1] = y1;
    }
};

struct Dharumarajan2019NkpClay {
    static constexpr int nin = 1, nout = 2;
    static inline void eval(const double* x, double* y) {
        const double clay = x[0];
        y[0] = clay * 0.586 + 4.968;
        y[1] = clay * 0.5 - 2.443;
    }
};

struct Dharumarajan2019Skp {
    static constexpr int nin = 3, nout = 2;
    static inline void eval(const double* x, double* y) {
        const double y0 = 39.179 - x[0] * 0.041 - x[1] * 0.371 + x[2] * 0.257;
        const double y1 = x[0] * 0.168 + 8.227 - x[1] * 0.101 + x[2] * 0.217;
        y[0] = y0;
        y[1] = y1;
    }
};

struct Dharumarajan2019SkpClay {
    static constexpr int nin = 1, nout = 2;
    static inline void eval(const double* x, double* y) {
        const double clay = x[0];
        y[0] = clay * 0.581 + 3.724;
        y[1] = clay * 0.428 - 1.979;
    }
};

// Dharumarajan et al. (2019): infiltration estimate from x0, x1, x2; the
// terms are subtracted in the order x0, x2, x1.  Negative for large inputs.
struct Dharumarajan2019Infiltration {
    static constexpr int nin = 3, nout = 1;
    static inline void eval(const double* x, double* y) {
        y[0] = 177.55 - x[0] * 1.47 - x[2] * 1.8 - x[1] * 1.58;
    }
};

// Zhao et al. (2016), models m2_1 to m2_6: one regression on the three
// predictors x0, x1, x2 (units as in the publication), each standardised
// with the publication's centre and scale, then
//     y = b0 - z0 * b1 - z1 * b2 + z2 * b3 + 0.37 - 0.5
// from the left; the last two are separate operations, not one addition of
// -0.13.
struct ZhaoRow {
    double b0, b1, b2, b3;
};

constexpr ZhaoRow kZhao[] = {
    {0.873, 0.555, 0.399, 0.224},  // m2_1
    {0.868, 0.557, 0.408, 0.231},  // m2_2
    {0.872, 0.565, 0.413, 0.236},  // m2_3
    {0.877, 0.572, 0.417, 0.237},  // m2_4
    {0.882, 0.581, 0.422, 0.24},   // m2_5
    {0.891, 0.637, 0.47, 0.316},   // m2_6
};

// Standardisation, shared by the six models.  The centre of x1 is stored as
// 43.629999999999995, one unit in the last place below the double nearest
// to 43.63, so that 43.63 itself standardises to a tiny non-zero z1.
constexpr double kZhaoCentre0 = 1.04, kZhaoScale0 = 0.56;
constexpr double kZhaoCentre1 = 43.629999999999995, kZhaoScale1 = 39.4;
constexpr double kZhaoCentre2 = 8.03, kZhaoScale2 = 18.76;

template <int R>
struct Zhao2016 {
    static constexpr int nin = 3, nout = 1;
    static constexpr ZhaoRow kRow = kZhao[R];
    static inline void eval(const double* x, double* y) {
        const double z0 = (x[0] - kZhaoCentre0) / kZhaoScale0;
        const double z1 = (x[1] - kZhaoCentre1) / kZhaoScale1;
        const double z2 = (x[2] - kZhaoCentre2) / kZhaoScale2;
        double v = kRow.b0 - z0 * kRow.b1;
        v = v - z1 * kRow.b2;
        v = v + z2 * kRow.b3;
        v = v + 0.37;
        y[0] = v - 0.5;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_dharumarajan2019_nkp, 3, 2, Dharumarajan2019Nkp)
PTF_LOOPS(calc_ptf_dharumarajan2019_nkp_clay, 1, 2, Dharumarajan2019NkpClay)
PTF_LOOPS(calc_ptf_dharumarajan2019_skp, 3, 2, Dharumarajan2019Skp)
PTF_LOOPS(calc_ptf_dharumarajan2019_skp_clay, 1, 2, Dharumarajan2019SkpClay)
PTF_LOOPS(calc_ptf_dharumarajan2019_infiltration, 3, 1,
          Dharumarajan2019Infiltration)
PTF_LOOPS(calc_ptf_zhao2016_m2_1, 3, 1, Zhao2016<0>)
PTF_LOOPS(calc_ptf_zhao2016_m2_2, 3, 1, Zhao2016<1>)
PTF_LOOPS(calc_ptf_zhao2016_m2_3, 3, 1, Zhao2016<2>)
PTF_LOOPS(calc_ptf_zhao2016_m2_4, 3, 1, Zhao2016<3>)
PTF_LOOPS(calc_ptf_zhao2016_m2_5, 3, 1, Zhao2016<4>)
PTF_LOOPS(calc_ptf_zhao2016_m2_6, 3, 1, Zhao2016<5>)
