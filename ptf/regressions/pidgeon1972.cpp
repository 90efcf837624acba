// Multiple linear regressions of Pidgeon (1972) for soil water: field
// capacity (gravimetric, and volumetric for `fc_vol`), permanent wilting
// point, available water capacity (AWC) and easily available water capacity
// (EAWC), from one to three soil properties.
//
// Every equation is
//
//   s = c0 + c1 * x1;  s = s + c2 * x2;  s = s + c3 * x3
//
// over as many inputs as it has: each product is rounded first and then
// added, and the intercept is combined with the first input's term before the
// second input's term is added.  Adding a negative product gives the same
// double as subtracting its magnitude.
//
// Units.  Sand, coarse sand, fine sand, very fine sand, silt and clay
// contents and organic matter in percent by mass.  Field capacity and
// permanent wilting point in percent water by mass (by volume for fc_vol).
// AWC and EAWC are returned on the scale of the publication's regressions,
// without conversion.  The predictors of the general AWC (two) and EAWC
// (three) equations are taken positionally, in the order of the
// publication's equations.  Nothing is clamped: negative results are
// returned as computed.
#include "ptf_registry.h"

namespace {

struct PidgeonPlaneConstants {
    int nin;   // number of predictors, 1 to 3
    double c0;  // intercept
    double c1;  // per unit of x1
    double c2;  // per unit of x2 (0 and unused with one predictor)
    double c3;  // per unit of x3 (0 and unused with fewer than three)
};

// Equations in the order of the table below.
enum PidgeonEquation : int {
    kFc,
    kFcSand,
    kFcSandOrganicMatter,
    kFcVolSandOrganicMatter,
    kPwp,
    kPwpSand,
    kPwpSandOrganicMatter,
    kAwc,
    kAwcSandOrganicMatter,
    kAwcCoarseSand,
    kAwcFineSand,
    kAwcVeryFineSand,
    kEawc,
    kEawcSand,
    kEawcSandOrganicMatter,
    kEawcCoarseSandOrganicMatter,
    kEawcFineSandOrganicMatter,
    kPidgeonEquationCount
};

// Pidgeon (1972).
constexpr PidgeonPlaneConstants kPidgeon[] = {
    // Field capacity, % by mass (fc_vol: % by volume).
    {3, 7.38, 0.16, 0.3, 1.54},     // silt, clay, organic matter
    {1, 36.16, -0.25, 0.0, 0.0},    // sand
    {2, 34.27, -0.27, 1.25, 0.0},   // sand, organic matter
    {2, 38.15, -0.17, 0.77, 0.0},   // sand, organic matter (volumetric)
    // Permanent wilting point, % by mass.
    {3, -4.19, 0.19, 0.39, 0.9},    // silt, clay, organic matter
    {1, 28.41, -0.29, 0.0, 0.0},    // sand
    {2, 32.9, -0.37, 0.44, 0.0},    // sand, organic matter
    // Available water capacity.
    {2, 169.3, -1.5, 6.09, 0.0},    // x1, x2
    {2, 1.0, 1.84, 8.12, 0.0},      // sand, organic matter
    {1, 68.5, 2.33, 0.0, 0.0},      // coarse sand
    {1, 66.7, 2.66, 0.0, 0.0},      // fine sand
    {1, 66.9, 4.58, 0.0, 0.0},      // very fine sand
    // Easily available water capacity.
    {3, 121.1, -3.03, -1.38, 6.76}, // x1, x2, x3
    {1, -25.8, 1.55, 0.0, 0.0},     // sand
    {2, -10.8, 1.15, 4.78, 0.0},    // sand, organic matter
    {2, -7.4, 2.37, 6.86, 0.0},     // coarse sand, organic matter
    {2, -18.0, 3.11, 7.69, 0.0},    // fine sand, organic matter
};
static_assert(sizeof(kPidgeon) / sizeof(kPidgeon[0]) == kPidgeonEquationCount,
              "one row of constants per equation");

template <int E>
struct PidgeonPlane {
    static constexpr int nin = kPidgeon[E].nin, nout = 1;
    static_assert(nin >= 1 && nin <= 3, "one to three predictors");
    static constexpr double c0 = kPidgeon[E].c0;
    static constexpr double c1 = kPidgeon[E].c1;
    static constexpr double c2 = kPidgeon[E].c2;
    static constexpr double c3 = kPidgeon[E].c3;
    static inline void eval(const double* x, double* y) {
        double s = c0 + c1 * x[0];
        if constexpr (nin >= 2) {
            s = s + c2 * x[1];
        }
        if constexpr (nin >= 3) {
            s = s + c3 * x[2];
        }
        y[0] = s;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_pidgeon1972_fc, 3, 1, PidgeonPlane<kFc>)
PTF_LOOPS(calc_ptf_pidgeon1972_fc_sand, 1, 1, PidgeonPlane<kFcSand>)
PTF_LOOPS(calc_ptf_pidgeon1972_fc_sand_organic_matter, 2, 1,
          PidgeonPlane<kFcSandOrganicMatter>)
PTF_LOOPS(calc_ptf_pidgeon1972_fc_vol_sand_organic_matter, 2, 1,
          PidgeonPlane<kFcVolSandOrganicMatter>)
PTF_LOOPS(calc_ptf_pidgeon1972_pwp, 3, 1, PidgeonPlane<kPwp>)
PTF_LOOPS(calc_ptf_pidgeon1972_pwp_sand, 1, 1, PidgeonPlane<kPwpSand>)
PTF_LOOPS(calc_ptf_pidgeon1972_pwp_sand_organic_matter, 2, 1,
          PidgeonPlane<kPwpSandOrganicMatter>)
PTF_LOOPS(calc_ptf_pidgeon1972_awc, 2, 1, PidgeonPlane<kAwc>)
PTF_LOOPS(calc_ptf_pidgeon1972_awc_sand_organic_matter, 2, 1,
          PidgeonPlane<kAwcSandOrganicMatter>)
PTF_LOOPS(calc_ptf_pidgeon1972_awc_coarse_sand, 1, 1,
          PidgeonPlane<kAwcCoarseSand>)
PTF_LOOPS(calc_ptf_pidgeon1972_awc_fine_sand, 1, 1, PidgeonPlane<kAwcFineSand>)
PTF_LOOPS(calc_ptf_pidgeon1972_awc_very_fine_sand, 1, 1,
          PidgeonPlane<kAwcVeryFineSand>)
PTF_LOOPS(calc_ptf_pidgeon1972_eawc, 3, 1, PidgeonPlane<kEawc>)
PTF_LOOPS(calc_ptf_pidgeon1972_eawc_sand, 1, 1, PidgeonPlane<kEawcSand>)
PTF_LOOPS(calc_ptf_pidgeon1972_eawc_sand_organic_matter, 2, 1,
          PidgeonPlane<kEawcSandOrganicMatter>)
PTF_LOOPS(calc_ptf_pidgeon1972_eawc_coarse_sand_organic_matter, 2, 1,
          PidgeonPlane<kEawcCoarseSandOrganicMatter>)
PTF_LOOPS(calc_ptf_pidgeon1972_eawc_fine_sand_organic_matter, 2, 1,
          PidgeonPlane<kEawcFineSandOrganicMatter>)
