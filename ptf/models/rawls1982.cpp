// Water retention regressions of Rawls, Brakensiek and Saxton (1982),
// "Estimation of soil water properties", Trans. ASAE 25(5):1316-1320.
//
// Units as in the publication: sand, clay and organic matter OM in percent
// by mass, bulk density BD in g/cm3, water contents as volume fractions.
// Each regression is evaluated left to right as written: a leading constant
// is the first term, each predictor term is predictor * coefficient, and the
// terms are added or subtracted in the order written.
#include "ptf_registry.h"

namespace {

// Water content at 1500 kPa from clay and OM.
struct Rawls1982Theta1500 {
    static constexpr int nin = 2, nout = 1;
    static inline void eval(const double* x, double* y) {
        y[0] = x[0] * 0.005 + 0.026 + x[1] * 0.0158;
    }
};

// Water content at 33 kPa from sand, OM and the 1500 kPa water content.
struct Rawls1982Theta33 {
    static constexpr int nin = 3, nout = 1;
    static inline void eval(const double* x, double* y) {
        y[0] = 0.2391 - x[0] * 0.0019 + x[1] * 0.021 + x[2] * 0.72;
    }
};

// Water contents at the twelve tensions of the retention curve, in kPa:
// 4, 7, 10, 20, 33, 60, 100, 200, 400, 700, 1000, 1500.
struct RawlsRetentionPoints {
    double kpa4;
    double kpa7;
    double kpa10;
    double kpa20;
    double kpa33;
    double kpa60;
    double kpa100;
    double kpa200;
    double kpa400;
    double kpa700;
    double kpa1000;
    double kpa1500;
};

// The retention curve anchored at the measured (or estimated) 33 and
// 1500 kPa water contents, which are returned unchanged at their tensions.
inline RawlsRetentionPoints& rawls1982_full_wrc_point(
    double sand, double om, double bd, double theta33, double theta1500,
    RawlsRetentionPoints& p) {
    p.kpa4 = 0.1829 - om * 0.0246 - bd * 0.0376 + theta33 * 1.89 -
             theta1500 * 1.38;
    // The published intercept is 0.0888; with 0.8888 the 7 kPa water
    // content would exceed 1 for ordinary soils and the curve would rise
    // between 4 and 10 kPa.
    p.kpa7 = 0.0888 - sand * 0.0003 - om * 0.0107 + theta33 * 1.53 -
             theta1500 * 0.81;
    p.kpa10 = 0.0619 - sand * 0.0002 - om * 0.0067 + theta33 * 1.34 -
              theta1500 * 0.51;
    p.kpa20 = 0.0319 - sand * 0.0002 + theta33 * 1.01 - theta1500 * 0.06;
    p.kpa33 = theta33;
    p.kpa60 = 0.0136 - bd * 0.0091 + theta33 * 0.66 + theta1500 * 0.39;
    p.kpa100 = -0.0034 + om * 0.0022 + theta33 * 0.52 + theta1500 * 0.54;
    p.kpa200 = -0.0043 + om * 0.0026 + theta33 * 0.36 + theta1500 * 0.69;
    p.kpa400 = -0.0038 + om * 0.0026 + theta33 * 0.24 + theta1500 * 0.79;
    p.kpa700 = -0.0027 + om * 0.0024 + theta33 * 0.16 + theta1500 * 0.86;
    p.kpa1000 = -0.0019 + om * 0.0022 + theta33 * 0.11 + theta1500 * 0.89;
    p.kpa1500 = theta1500;
    return p;
}

// Inputs: sand, OM, BD, theta33, theta1500.  Outputs: the twelve fields of
// RawlsRetentionPoints in order.
struct Rawls1982FullWrc {
    static constexpr int nin = 5, nout = 12;
    static inline void eval(const double* x, double* y) {
        RawlsRetentionPoints p;
        rawls1982_full_wrc_point(x[0], x[1], x[2], x[3], x[4], p);
        y[0] = p.kpa4;
        y[1] = p.kpa7;
        y[2] = p.kpa10;
        y[3] = p.kpa20;
        y[4] = p.kpa33;
        y[5] = p.kpa60;
        y[6] = p.kpa100;
        y[7] = p.kpa200;
        y[8] = p.kpa400;
        y[9] = p.kpa700;
        y[10] = p.kpa1000;
        y[11] = p.kpa1500;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_rawls1982_theta_1500, 2, 1, Rawls1982Theta1500)
PTF_LOOPS(calc_ptf_rawls1982_theta_33, 3, 1, Rawls1982Theta33)
PTF_LOOPS(calc_ptf_rawls1982_full_wrc, 5, 12, Rawls1982FullWrc)
