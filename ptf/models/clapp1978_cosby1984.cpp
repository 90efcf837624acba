// Parameters of the Clapp-Hornberger power-law retention model:
// representative values by USDA texture class after Clapp and Hornberger
// (1978), "Empirical equations for some soil hydraulic properties", Water
// Resour. Res. 14(4):601-604, and the univariate regressions of Cosby,
// Hornberger, Clapp and Ginn (1984), "A statistical exploration of the
// relationships of soil moisture characteristics to the physical properties
// of soils", Water Resour. Res. 20(6):682-690.
#include "ptf_class_table.h"

namespace {

// Columns: b (dimensionless), p2, p3, saturated water content theta_s
// (cm3/cm3), saturated conductivity ks (cm/min), p6.  p2, p3 and p6 are
// further per-class parameters, each in the unit of the publication.
// Rows by class index 0 to 10.
struct ClappHornbergerTable {
    static constexpr int nclasses = 11, ncolumns = 6;
    static constexpr double rows[nclasses][ncolumns] = {
        {4.05, 3.5, 4.66, 0.395, 1.056, 1.52},      // 0 sand
        {4.38, 1.78, 2.38, 0.41, 0.938, 1.04},      // 1 loamy sand
        {4.9, 7.18, 9.52, 0.435, 0.208, 1.03},      // 2 sandy loam
        {5.3, 56.6, 75.3, 0.485, 0.0432, 1.26},     // 3 silt loam
        {5.39, 14.6, 20.0, 0.451, 0.0417, 0.693},   // 4 loam
        {7.12, 8.63, 11.7, 0.42, 0.0378, 0.488},    // 5 sandy clay loam
        {7.75, 14.6, 19.7, 0.477, 0.0102, 0.31},    // 6 silty clay loam
        {8.52, 36.1, 48.1, 0.476, 0.0147, 0.537},   // 7 clay loam
        {10.4, 6.16, 8.18, 0.426, 0.013, 0.223},    // 8 sandy clay
        {10.4, 17.4, 23.0, 0.492, 0.0062, 0.242},   // 9 silty clay
        {11.4, 18.6, 24.3, 0.482, 0.0077, 0.268},   // 10 clay
    };
};

// Input: texture-class index, uint32 or int64.  Outputs: the six columns of
// its row; six NaN for any other index (negative, or 11 and above).
template <class Index>
using Clapp1978 = ptf::ClassLookup<ClappHornbergerTable, Index>;

// Univariate regressions.  Inputs: sand, silt, clay (percent by mass).
// Outputs: b; log10 of the saturated matric suction (cm of water); log10 of
// the saturated conductivity (inches per hour); saturated water content
// (percent); q5, q6 and q7, further regressions on clay, on silt and on
// clay, each in the unit of the publication.  No power of ten is taken: the
// two logarithms are returned as such.
struct Cosby1984Univariate {
    static constexpr int nin = 3, nout = 7;
    static inline void eval(const double* x, double* y) {
        const double sand = x[0];
        const double silt = x[1];
        const double clay = x[2];
        y[0] = clay * 0.159 + 2.91;
        y[1] = 1.88 - sand * 0.0131;
        y[2] = sand * 0.0153 - 0.884;
        y[3] = 48.9 - sand * 0.126;
        y[4] = clay * 0.05 + 1.34;
        y[5] = silt * 0.00321 + 0.459;
        y[6] = 7.73 - clay * 0.073;
    }
};

}  // namespace

PTF_INDEX_LOOPS(calc_ptf_clapp1978, 1, 6, Clapp1978)
PTF_LOOPS(calc_ptf_cosby1984_univariate, 3, 7, Cosby1984Univariate)
