// Van Genuchten parameters by USDA texture class after Carsel and Parrish
// (1988), "Developing joint probability distributions of soil water
// retention characteristics", Water Resour. Res. 24(5):755-769 (their mean
// values, as the HYDRUS soil catalogue and medfate carry them).
#include "ptf_class_table.h"

namespace {

// Columns: theta_r, theta_s (cm3/cm3), alpha (1/cm), n, Ks (cm/d); m is
// 1 - 1/n (Mualem).  Rows by USDA class index 0 to 11 (the class code of
// calc_texture_usda less one).  Loamy sand alpha is 0.124 1/cm: the HYDRUS
// catalogue's 0.125 is its rounding; medfate's table and the HYDRUS-1D
// parameter file of the same class agree on 0.124.
struct CarselParrishTable {
    static constexpr int nclasses = 12, ncolumns = 5;
    static constexpr double rows[nclasses][ncolumns] = {
        {0.045, 0.43, 0.145, 2.68, 712.8},    // 0 sand
        {0.057, 0.41, 0.124, 2.28, 350.2},    // 1 loamy sand
        {0.065, 0.41, 0.075, 1.89, 106.1},    // 2 sandy loam
        {0.067, 0.45, 0.020, 1.41, 10.8},     // 3 silt loam
        {0.034, 0.46, 0.016, 1.37, 6.0},      // 4 silt
        {0.078, 0.43, 0.036, 1.56, 24.96},    // 5 loam
        {0.100, 0.39, 0.059, 1.48, 31.44},    // 6 sandy clay loam
        {0.089, 0.43, 0.010, 1.23, 1.68},     // 7 silty clay loam
        {0.095, 0.41, 0.019, 1.31, 6.24},     // 8 clay loam
        {0.100, 0.38, 0.027, 1.23, 2.88},     // 9 sandy clay
        {0.070, 0.36, 0.005, 1.09, 0.48},     // 10 silty clay
        {0.068, 0.38, 0.008, 1.09, 4.80},     // 11 clay
    };
};

// Input: the class index, uint32 or int64; any other index (negative,
// or past the last row) gives NaN in every output.
template <class Index>
using Carsel1988 = ptf::ClassLookup<CarselParrishTable, Index>;

}  // namespace

PTF_INDEX_LOOPS(calc_ptf_carsel1988, 1, 5, Carsel1988)
