// Class averages of the van Genuchten-Mualem parameters by USDA texture
// class after Schaap, Leij and van Genuchten (2001), "Rosetta: a computer
// program for estimating soil hydraulic parameters with hierarchical
// pedotransfer functions", J. Hydrol. 251(3-4):163-176 (the class table of
// the Rosetta program, as soilwaterptf and the Oklahoma State Soil Physics
// Toolbox carry it).
#include "ptf_class_table.h"

namespace {

// Columns: theta_r, theta_s (cm3/cm3), alpha (1/cm), n, Ks (cm/d), K0
// (cm/d), L.  The table gives alpha, n, Ks and K0 as base-10 logarithms to
// three decimals; each column holds the double nearest to 10 to that power
// (the logarithm is in the comment of its row), so that no power is taken
// at run time.  Rows by USDA class index 0 to 11 (the class code of
// calc_texture_usda less one); N is the class's number of samples.
struct RosettaClassTable {
    static constexpr int nclasses = 12, ncolumns = 7;
    static constexpr double rows[nclasses][ncolumns] = {
        // 0 sand (N = 308): log10 alpha -1.453, log10 n 0.502, log10 Ks 2.808, log10 K0 1.389
        {0.053, 0.375, 0.035237087104248714, 3.1768740706497707, 642.6877173170196,
         24.490632418447454, -0.930},
        // 1 loamy sand (N = 201): log10 alpha -1.459, log10 n 0.242, log10 Ks 2.022, log10 K0 1.386
        {0.049, 0.390, 0.034753616144320584, 1.7458221529205038, 105.1961873823223,
         24.322040090738152, -0.874},
        // 2 sandy loam (N = 476): log10 alpha -1.574, log10 n 0.161, log10 Ks 1.583, log10 K0 1.190
        {0.039, 0.387, 0.026668586645214796, 1.4487718535447616, 38.282474331682266,
         15.488166189124813, -0.861},
        // 3 silt loam (N = 330): log10 alpha -2.296, log10 n 0.221, log10 Ks 1.261, log10 K0 0.243
        {0.065, 0.439, 0.005058246620031141, 1.6634126503701694, 18.238957023196377,
         1.749846688624657, 0.365},
        // 4 silt (N = 6): log10 alpha -2.182, log10 n 0.225, log10 Ks 1.641, log10 K0 0.524
        {0.050, 0.489, 0.0065765783735542045, 1.6788040181225603, 43.752210515825205,
         3.3419504002611427, 0.624},
        // 5 loam (N = 242): log10 alpha -1.954, log10 n 0.168, log10 Ks 1.081, log10 K0 0.568
        {0.061, 0.399, 0.011117317272815912, 1.4723125024327188, 12.050359403717975,
         3.6982817978026623, -0.371},
        // 6 sandy clay loam (N = 87): log10 alpha -1.676, log10 n 0.124, log10 Ks 1.120, log10 K0 0.841
        {0.063, 0.384, 0.021086281499332893, 1.330454417978091, 13.18256738556407,
         6.934258060165691, -1.280},
        // 7 silty clay loam (N = 172): log10 alpha -2.076, log10 n 0.182, log10 Ks 1.046, log10 K0 0.349
        {0.090, 0.482, 0.008394599865193975, 1.5205475297324955, 11.117317272815914,
         2.2335722228305315, -0.156},
        // 8 clay loam (N = 140): log10 alpha -1.801, log10 n 0.151, log10 Ks 0.913, log10 K0 0.699
        {0.079, 0.442, 0.01581248039270383, 1.4157937799570817, 8.184647881347898,
         5.000345349769785, -0.763},
        // 9 sandy clay (N = 11): log10 alpha -1.476, log10 n 0.082, log10 Ks 1.055, log10 K0 0.637
        {0.117, 0.385, 0.03341950400261143, 1.2078138351067802, 11.35010815672315,
         4.335108783875289, -3.665},
        // 10 silty clay (N = 28): log10 alpha -1.790, log10 n 0.121, log10 Ks 0.983, log10 K0 0.501
        {0.111, 0.481, 0.0162181009735893, 1.3212956341865751, 9.616122783836646,
         3.169567463043491, -1.287},
        // 11 clay (N = 84): log10 alpha -1.825, log10 n 0.098, log10 Ks 1.169, log10 K0 0.472
        {0.098, 0.459, 0.014962356560944334, 1.2531411749414159, 14.757065332758945,
         2.9648313895243423, -1.561},
    };
};

// Input: the class index, uint32 or int64; any other index (negative,
// or past the last row) gives NaN in every output.
template <class Index>
using Schaap2001Class = ptf::ClassLookup<RosettaClassTable, Index>;

}  // namespace

PTF_INDEX_LOOPS(calc_ptf_schaap2001_class, 1, 7, Schaap2001Class)
