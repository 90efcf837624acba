// Brooks-Corey parameters by USDA texture class after Rawls, Brakensiek and
// Saxton (1982), "Estimation of soil water properties", Trans. ASAE
// 25(5):1316-1320, 1328 (the class means as pedon's soil catalogue carries
// them; no second source of these values was found).
#include "ptf_class_table.h"

namespace {

// Columns: theta_r, theta_s (cm3/cm3), lambda, h_b (cm of water), Ks
// (cm/d).  Rows by USDA class index 0 to 11 (the class code of
// calc_texture_usda less one).  The table has eleven classes: silt (4) has
// no row, and gives NaN.
struct RawlsClassTable {
    static constexpr int nclasses = 12, ncolumns = 5;
    static constexpr double rows[nclasses][ncolumns] = {
        {0.020, 0.437, 0.592, 7.26, 504.0},    // 0 sand
        {0.035, 0.437, 0.474, 8.69, 146.64},   // 1 loamy sand
        {0.041, 0.453, 0.322, 14.66, 62.16},   // 2 sandy loam
        {0.015, 0.501, 0.211, 20.76, 16.32},   // 3 silt loam
        {NAN, NAN, NAN, NAN, NAN},             // 4 silt: not in the table
        {0.027, 0.463, 0.220, 11.15, 31.68},   // 5 loam
        {0.068, 0.398, 0.250, 28.08, 10.32},   // 6 sandy clay loam
        {0.040, 0.471, 0.151, 32.56, 3.60},    // 7 silty clay loam
        {0.075, 0.464, 0.177, 25.89, 5.52},    // 8 clay loam
        {0.109, 0.430, 0.168, 29.17, 2.88},    // 9 sandy clay
        {0.056, 0.479, 0.127, 34.19, 2.16},    // 10 silty clay
        {0.090, 0.475, 0.131, 37.30, 1.44},    // 11 clay
    };
};

// Input: the class index, uint32 or int64; any other index (negative,
// or past the last row) gives NaN in every output.
template <class Index>
using Rawls1982Class = ptf::ClassLookup<RawlsClassTable, Index>;

}  // namespace

PTF_INDEX_LOOPS(calc_ptf_rawls1982_class, 1, 5, Rawls1982Class)
