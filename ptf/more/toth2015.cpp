// Pedotransfer functions of the European Hydropedological Data Inventory
// after Toth, Weynants, Nemes, Mako, Bilas and Toth (2015), "New generation
// of hydraulic pedotransfer functions for Europe", Eur. J. Soil Sci.
// 66(1):226-238: the van Genuchten parameters of PTF21 and the point
// functions PTF05, PTF09 and PTF12.  Coefficients are the median models of
// the authors' R package euptf.  Inputs are percent by mass of sand
// (0.05-2 mm), silt (0.002-0.05 mm) and clay (< 0.002 mm), organic carbon
// OC (percent by mass), dry bulk density BD (g/cm3) and the topsoil
// indicator T (1 topsoil, 0 subsoil).
//
// Each linear sum is its intercept followed by its terms in the order of
// the package's model, left to right, each term its value times the
// positive coefficient, added or subtracted; BD^2 is BD * BD, a product
// term its two factors in the order the model names them, and
// q = 1 / (OC + 1).
#include "ptf_registry.h"

namespace {

// PTF21.  Inputs: sand, silt, clay, OC, BD, T.  Outputs: theta_r, theta_s
// (cm3/cm3), alpha (1/cm) = 10^(log10 alpha), n = 10^(log10(n - 1)) + 1.
// theta_r is the regression tree on sand: 0.040732 for sand >= 1.995 %,
// 0.179 below (NaN sand gives NaN and raises no flag).
struct Toth2015 {
    static constexpr int nin = 6, nout = 4;
    static constexpr int nstages = 2, ncarry = 4;
    template <int Stage>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (Stage == 0) {
            const double sand = x[0], silt = x[1], clay = x[2];
            const double oc = x[3], bd = x[4], top = x[5];
            // Quiet comparisons: a NaN sand raises no invalid flag.
            c[0] = std::isgreaterequal(sand, 1.995)
                       ? 0.040732
                       : (std::isless(sand, 1.995) ? 0.179 : sand);
            c[1] = 0.830807 - bd * 0.282171 + clay * 0.000273 +
                   silt * 0.000187;
            c[2] = -0.433481 - bd * 0.417292 - oc * 0.047619 +
                   top * 0.218103 - clay * 0.015814 - silt * 0.012072;
            c[3] = 0.222359 - bd * 0.301891 - oc * 0.010721 -
                   top * 0.055577 - clay * 0.005306 - silt * 0.003084;
        } else {
            y[0] = c[0];
            y[1] = c[1];
            y[2] = std::pow(10.0, c[2]);
            y[3] = std::pow(10.0, c[3]) + 1.0;
        }
    }
};

// PTF05.  Inputs: silt, clay, OC, BD, T.  Output: theta_s (cm3/cm3).
struct Toth2015Ptf05 {
    static constexpr int nin = 5, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double silt = x[0], clay = x[1], oc = x[2], bd = x[3];
        const double top = x[4];
        const double q = 1.0 / (oc + 1.0);
        const double bd2 = bd * bd;
        y[0] = 0.681887 - q * 0.064796 - bd2 * 0.119004 - top * 0.026683 +
               clay * 0.001489 + silt * 0.000803 + q * bd2 * 0.02321 +
               bd2 * top * 0.01908 - top * clay * 0.001109 -
               clay * silt * 2.3e-05 - bd2 * silt * 0.00012 -
               bd2 * clay * 0.000107;
    }
};

// PTF09.  Inputs: silt, clay, OC.  Output: FC, the water content at field
// capacity as euptf defines it.
struct Toth2015Ptf09 {
    static constexpr int nin = 3, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double silt = x[0], clay = x[1], oc = x[2];
        const double q = 1.0 / (oc + 1.0);
        y[0] = 0.244921 - q * 0.188651 + clay * 0.004527 + silt * 0.001535 +
               q * silt * 0.001442 - clay * silt * 5.1e-05 +
               q * clay * 0.000868;
    }
};

// PTF12.  Inputs: silt, clay, OC.  Output: WP, the water content at the
// wilting point as euptf defines it.
struct Toth2015Ptf12 {
    static constexpr int nin = 3, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double silt = x[0], clay = x[1], oc = x[2];
        const double q = 1.0 / (oc + 1.0);
        y[0] = 0.098776 + clay * 0.002127 - silt * 0.000837 - q * 0.076699 +
               clay * silt * 3.9e-05 + clay * q * 0.00233 +
               silt * q * 0.00095;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_toth2015, 6, 4, Toth2015)
PTF_LOOPS(calc_ptf_toth2015_ptf05, 5, 1, Toth2015Ptf05)
PTF_LOOPS(calc_ptf_toth2015_ptf09, 3, 1, Toth2015Ptf09)
PTF_LOOPS(calc_ptf_toth2015_ptf12, 3, 1, Toth2015Ptf12)
