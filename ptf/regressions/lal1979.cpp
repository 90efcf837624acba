// Straight-line regressions of Lal (1979) for the two soil groups of the
// publication, group I and group II.
//
// Every equation is y = a + b * x with one predictor x: the product b * x is
// rounded first, then a is added (one rounding each).  For a negative b this
// is the same double as a - |b| * x.
//
// Units.  Predictors: clay, sand and silt contents and organic carbon in
// percent by mass; the water content at 0.1 bar as a fraction.  Results: the
// water contents at 0, 0.1, 0.3 and 15 bar and the moisture equivalent as
// fractions (0.35, not 35); the upper and lower plastic limits and the
// plasticity index as water contents in percent.  The plasticity index is a
// regression of its own, not the difference of the two plastic limits.
// Nothing is clamped: results outside 0 to 1 (or 0 to 100 %) are returned
// as computed.
#include "ptf_registry.h"

namespace {

struct LalLineConstants {
    double a;  // intercept, unit of the result
    double b;  // slope, unit of the result per unit of the predictor
};

// Equations in the order of the table below.
enum LalEquation : int {
    kGroupIWater0barFromClay,
    kGroupIWater0barFromSand,
    kGroupIIWater0barFromClay,
    kGroupIIWater0barFromSand,
    kGroupIWater01barFromClay,
    kGroupIWater03barFromClay,
    kGroupIWater01barFromSand,
    kGroupIWater03barFromSand,
    kGroupIIWater01barFromClay,
    kGroupIIWater03barFromClay,
    kGroupIIWater01barFromSand,
    kGroupIIWater03barFromSand,
    kGroupIWater15barFromClay,
    kGroupIWater15barFromSand,
    kGroupIWater15barFromSilt,
    kGroupIIWater15barFromClay,
    kGroupIIWater15barFromSand,
    kGroupIMoistureEquivalentFromClay,
    kGroupIMoistureEquivalentFromSand,
    kGroupIIMoistureEquivalentFromClay,
    kGroupIIMoistureEquivalentFromSand,
    kGroupIIMoistureEquivalentFromSilt,
    kGroupIIWater03barFromWater01bar,
    kGroupIIWater15barFromWater01bar,
    kGroupIUpperPlasticLimitFromOrganicCarbon,
    kGroupILowerPlasticLimitFromOrganicCarbon,
    kGroupIPlasticityIndexFromOrganicCarbon,
    kGroupIUpperPlasticLimitFromClay,
    kGroupILowerPlasticLimitFromClay,
    kGroupIPlasticityIndexFromClay,
    kGroupILowerPlasticLimitFromSand,
    kGroupIPlasticityIndexFromSand,
    kGroupIIUpperPlasticLimitFromOrganicCarbon,
    kGroupIIPlasticityIndexFromOrganicCarbon,
    kGroupIIUpperPlasticLimitFromClay,
    kGroupIILowerPlasticLimitFromClay,
    kGroupIIUpperPlasticLimitFromSand,
    kGroupIILowerPlasticLimitFromSand,
    kGroupIIUpperPlasticLimitFromSilt,
    kGroupIILowerPlasticLimitFromSilt,
    kGroupIIPlasticityIndexFromSilt,
    kLalEquationCount
};

// Lal (1979): intercept a and slope b of each equation.
constexpr LalLineConstants kLal[] = {
    // Water content at 0 bar (saturation), fraction.
    {0.289, 0.004},    // group I, from clay
    {0.579, -0.003},   // group I, from sand
    {0.296, 0.004},    // group II, from clay
    {0.645, -0.004},   // group II, from sand
    // Water content at 0.1 and 0.3 bar, fraction.
    {0.102, 0.003},    // group I, 0.1 bar, from clay
    {0.065, 0.004},    // group I, 0.3 bar, from clay
    {0.364, -0.003},   // group I, 0.1 bar, from sand
    {0.334, -0.003},   // group I, 0.3 bar, from sand
    {0.08, 0.003},     // group II, 0.1 bar, from clay
    {0.047, 0.003},    // group II, 0.3 bar, from clay
    {0.406, -0.0035},  // group II, 0.1 bar, from sand
    {0.349, -0.003},   // group II, 0.3 bar, from sand
    // Water content at 15 bar, fraction.
    {0.006, 0.003},    // group I, from clay
    {0.247, -0.003},   // group I, from sand
    {0.053, 0.005},    // group I, from silt
    {0.025, 0.0022},   // group II, from clay
    {0.284, -0.0024},  // group II, from sand
    // Moisture equivalent, fraction.
    {0.052, 0.004},    // group I, from clay
    {0.339, -0.003},   // group I, from sand
    {0.057, 0.0025},   // group II, from clay
    {0.284, -0.002},   // group II, from sand
    {0.175, -0.005},   // group II, from silt
    // Group II water contents from the water content at 0.1 bar, fraction.
    {-0.014, 0.86},    // at 0.3 bar
    {-0.005, 0.54},    // at 15 bar
    // Consistency limits of group I, percent water.
    {31.73, -5.4},     // upper plastic limit, from organic carbon
    {24.73, -4.24},    // lower plastic limit, from organic carbon
    {7.42, -1.24},     // plasticity index, from organic carbon
    {11.48, 0.46},     // upper plastic limit, from clay
    {9.5, 0.34},       // lower plastic limit, from clay
    {2.48, 0.11},      // plasticity index, from clay
    {35.5, -0.3},      // lower plastic limit, from sand
    {11.0, -0.1},      // plasticity index, from sand
    // Consistency limits of group II, percent water.
    {32.2, -3.01},     // upper plastic limit, from organic carbon
    {12.7, -3.22},     // plasticity index, from organic carbon
    {24.59, 0.16},     // upper plastic limit, from clay
    {14.64, 0.14},     // lower plastic limit, from clay
    {40.41, -0.17},    // upper plastic limit, from sand
    {29.88, -0.17},    // lower plastic limit, from sand
    {28.24, 0.35},     // upper plastic limit, from silt
    {16.16, 0.67},     // lower plastic limit, from silt
    {12.08, -0.32},    // plasticity index, from silt
};
static_assert(sizeof(kLal) / sizeof(kLal[0]) == kLalEquationCount,
              "one row of constants per equation");

// y = a + b * x: the product first, then the sum.
template <int E>
struct LalLine {
    static constexpr int nin = 1, nout = 1;
    static constexpr double a = kLal[E].a;
    static constexpr double b = kLal[E].b;
    static inline void eval(const double* x, double* y) {
        y[0] = a + b * x[0];
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_lal1979_group_i_water_0bar_from_clay, 1, 1,
          LalLine<kGroupIWater0barFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_i_water_0bar_from_sand, 1, 1,
          LalLine<kGroupIWater0barFromSand>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_water_0bar_from_clay, 1, 1,
          LalLine<kGroupIIWater0barFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_water_0bar_from_sand, 1, 1,
          LalLine<kGroupIIWater0barFromSand>)
PTF_LOOPS(calc_ptf_lal1979_group_i_water_01bar_from_clay, 1, 1,
          LalLine<kGroupIWater01barFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_i_water_03bar_from_clay, 1, 1,
          LalLine<kGroupIWater03barFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_i_water_01bar_from_sand, 1, 1,
          LalLine<kGroupIWater01barFromSand>)
PTF_LOOPS(calc_ptf_lal1979_group_i_water_03bar_from_sand, 1, 1,
          LalLine<kGroupIWater03barFromSand>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_water_01bar_from_clay, 1, 1,
          LalLine<kGroupIIWater01barFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_water_03bar_from_clay, 1, 1,
          LalLine<kGroupIIWater03barFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_water_01bar_from_sand, 1, 1,
          LalLine<kGroupIIWater01barFromSand>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_water_03bar_from_sand, 1, 1,
          LalLine<kGroupIIWater03barFromSand>)
PTF_LOOPS(calc_ptf_lal1979_group_i_water_15bar_from_clay, 1, 1,
          LalLine<kGroupIWater15barFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_i_water_15bar_from_sand, 1, 1,
          LalLine<kGroupIWater15barFromSand>)
PTF_LOOPS(calc_ptf_lal1979_group_i_water_15bar_from_silt, 1, 1,
          LalLine<kGroupIWater15barFromSilt>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_water_15bar_from_clay, 1, 1,
          LalLine<kGroupIIWater15barFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_water_15bar_from_sand, 1, 1,
          LalLine<kGroupIIWater15barFromSand>)
PTF_LOOPS(calc_ptf_lal1979_group_i_moisture_equivalent_from_clay, 1, 1,
          LalLine<kGroupIMoistureEquivalentFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_i_moisture_equivalent_from_sand, 1, 1,
          LalLine<kGroupIMoistureEquivalentFromSand>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_moisture_equivalent_from_clay, 1, 1,
          LalLine<kGroupIIMoistureEquivalentFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_moisture_equivalent_from_sand, 1, 1,
          LalLine<kGroupIIMoistureEquivalentFromSand>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_moisture_equivalent_from_silt, 1, 1,
          LalLine<kGroupIIMoistureEquivalentFromSilt>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_water_03bar_from_water_01bar, 1, 1,
          LalLine<kGroupIIWater03barFromWater01bar>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_water_15bar_from_water_01bar, 1, 1,
          LalLine<kGroupIIWater15barFromWater01bar>)
PTF_LOOPS(calc_ptf_lal1979_group_i_upper_plastic_limit_from_organic_carbon, 1, 1,
          LalLine<kGroupIUpperPlasticLimitFromOrganicCarbon>)
PTF_LOOPS(calc_ptf_lal1979_group_i_lower_plastic_limit_from_organic_carbon, 1, 1,
          LalLine<kGroupILowerPlasticLimitFromOrganicCarbon>)
PTF_LOOPS(calc_ptf_lal1979_group_i_plasticity_index_from_organic_carbon, 1, 1,
          LalLine<kGroupIPlasticityIndexFromOrganicCarbon>)
PTF_LOOPS(calc_ptf_lal1979_group_i_upper_plastic_limit_from_clay, 1, 1,
          LalLine<kGroupIUpperPlasticLimitFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_i_lower_plastic_limit_from_clay, 1, 1,
          LalLine<kGroupILowerPlasticLimitFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_i_plasticity_index_from_clay, 1, 1,
          LalLine<kGroupIPlasticityIndexFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_i_lower_plastic_limit_from_sand, 1, 1,
          LalLine<kGroupILowerPlasticLimitFromSand>)
PTF_LOOPS(calc_ptf_lal1979_group_i_plasticity_index_from_sand, 1, 1,
          LalLine<kGroupIPlasticityIndexFromSand>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_upper_plastic_limit_from_organic_carbon, 1,
          1, LalLine<kGroupIIUpperPlasticLimitFromOrganicCarbon>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_plasticity_index_from_organic_carbon, 1, 1,
          LalLine<kGroupIIPlasticityIndexFromOrganicCarbon>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_upper_plastic_limit_from_clay, 1, 1,
          LalLine<kGroupIIUpperPlasticLimitFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_lower_plastic_limit_from_clay, 1, 1,
          LalLine<kGroupIILowerPlasticLimitFromClay>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_upper_plastic_limit_from_sand, 1, 1,
          LalLine<kGroupIIUpperPlasticLimitFromSand>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_lower_plastic_limit_from_sand, 1, 1,
          LalLine<kGroupIILowerPlasticLimitFromSand>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_upper_plastic_limit_from_silt, 1, 1,
          LalLine<kGroupIIUpperPlasticLimitFromSilt>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_lower_plastic_limit_from_silt, 1, 1,
          LalLine<kGroupIILowerPlasticLimitFromSilt>)
PTF_LOOPS(calc_ptf_lal1979_group_ii_plasticity_index_from_silt, 1, 1,
          LalLine<kGroupIIPlasticityIndexFromSilt>)
