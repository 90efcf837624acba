// Saturated hydraulic conductivity from the soil-group regressions of
// Ferrer-Julia et al. (2004).
//
// For each of seventeen soil units of the FAO-UNESCO legend, and for one
// general regression over all soils, the publication gives two estimates of
// Ks (mm/h):
//
//   sand form:    Ks = exp(sand * b) * a
//   texture form: Ks = ((sand * c1 + c0) - clay * c2) - om * c3
//
// with sand, clay and organic matter (om) in percent by mass.  Both forms are
// evaluated in exactly the order written, every operation rounded to double.
// In the texture form the clay and organic matter terms are always
// subtracted (c2 and c3 are positive in every group); only the sign of the
// intercept c0 differs between groups.  Adding a negative c0 gives the same
// double as subtracting its magnitude.  Nothing is clamped: the texture form
// returns negative values where its sum is negative, and the sand form
// overflows to +infinity once sand * b exceeds about 709.78.
#include "ptf_registry.h"

namespace {

// Constants of one soil group.
struct FerrerJuliaGroup {
    double a;   // sand form: factor (mm/h)
    double b;   // sand form: exponent per percent sand
    double c1;  // texture form: per percent sand
    double c0;  // texture form: intercept (mm/h), signed
    double c2;  // texture form: per percent clay, subtracted
    double c3;  // texture form: per percent organic matter, subtracted
};

enum FerrerJuliaGroupIndex : int {
    kHumicAcrisol,
    kCalcicCambisol,
    kDystricCambisol,
    kEutricCambisol,
    kGleyicCambisol,
    kHumicCambisol,
    kCalcaricFluvisol,
    kCalcicLuvisol,
    kChromicLuvisol,
    kGleyicLuvisol,
    kOrthicLuvisol,
    kRanker,
    kCalcaricRegosol,
    kDystricRegosol,
    kEutricRegosol,
    kRendzina,
    kGleyicSolonchak,
    kGeneral,
    kFerrerJuliaGroupCount
};

// Ferrer-Julia et al. (2004), one row per group, in the order of the enum.
constexpr FerrerJuliaGroup kFerrerJulia[] = {
    // {a, b, c1, c0, c2, c3}
    {1.5162, 0.0452, 0.345, 16.019, 0.548, 0.00221},     // Humic Acrisol
    {1.043, 0.0452, 0.51, -7.878, 0.00183, 0.424},       // Calcic Cambisol
    {1.3182, 0.0464, 0.631, -5.125, 0.165, 0.604},       // Dystric Cambisol
    {0.9356, 0.0503, 0.541, -0.399, 0.243, 0.421},       // Eutric Cambisol
    {0.2336, 0.0667, 0.638, -12.986, 0.244, 0.52},       // Gleyic Cambisol
    {2.1622, 0.0371, 0.475, 6.4429, 0.331, 0.406},       // Humic Cambisol
    {0.814, 0.052, 0.657, -15.779, 0.134, 0.248},        // Calcaric Fluvisol
    {0.671, 0.0467, 0.138, 5.379, 0.131, 0.02832},       // Calcic Luvisol
    {0.898, 0.0494, 0.576, -10.171, 0.0075, 0.518},      // Chromic Luvisol
    {0.5395, 0.0514, 0.449, 10.28, 0.507, 0.202},        // Gleyic Luvisol
    {1.3958, 0.0431, 0.499, 4.829, 0.332, 0.0299},       // Orthic Luvisol
    {0.9847, 0.0507, 0.682, -8.621, 0.0771, 0.44},       // Ranker
    {0.8931, 0.0524, 0.537, 1.522, 0.284, 0.296},        // Calcaric Regosol
    {1.096, 0.048, 0.596, -0.784, 0.431, 0.443},         // Dystric Regosol
    {1.0005, 0.0523, 0.647, -5.5, 0.00325, 1.082},       // Eutric Regosol
    {2.4645, 0.0325, 0.175, 23.288, 0.602, 0.279},       // Rendzina
    {0.7602, 0.0372, 0.328, -0.90917, 0.173, 0.252},     // Gleyic Solonchak
    {0.92, 0.0491, 0.56728, -4.994, 0.131, 0.0127},      // general
};
static_assert(sizeof(kFerrerJulia) / sizeof(kFerrerJulia[0]) ==
                  kFerrerJuliaGroupCount,
              "one row of constants per soil group");

// Sand form.  Input: sand (%).  Output: Ks (mm/h) = exp(sand * b) * a.
template <int G>
struct FerrerJuliaSandFormula {
    static constexpr int nin = 1;
    static constexpr double factor = kFerrerJulia[G].a;
    static double exponent(const double* x) { return x[0] * kFerrerJulia[G].b; }
};
template <int G>
using FerrerJuliaSand = ::ptf::ScaledExp<FerrerJuliaSandFormula<G>>;

// Texture and organic matter form.  Inputs: sand, clay, organic matter (%).
// Output: Ks (mm/h).
template <int G>
struct FerrerJuliaTextureOm {
    static constexpr int nin = 3, nout = 1;
    static constexpr double c1 = kFerrerJulia[G].c1;
    static constexpr double c0 = kFerrerJulia[G].c0;
    static constexpr double c2 = kFerrerJulia[G].c2;
    static constexpr double c3 = kFerrerJulia[G].c3;
    static inline void eval(const double* x, double* y) {
        double s = x[0] * c1;
        s = s + c0;
        s = s - x[1] * c2;
        y[0] = s - x[2] * c3;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_ferrerjulia2004_humic_acrisol_sand, 1, 1,
          FerrerJuliaSand<kHumicAcrisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_humic_acrisol_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kHumicAcrisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_calcic_cambisol_sand, 1, 1,
          FerrerJuliaSand<kCalcicCambisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_calcic_cambisol_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kCalcicCambisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_dystric_cambisol_sand, 1, 1,
          FerrerJuliaSand<kDystricCambisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_dystric_cambisol_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kDystricCambisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_eutric_cambisol_sand, 1, 1,
          FerrerJuliaSand<kEutricCambisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_eutric_cambisol_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kEutricCambisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_gleyic_cambisol_sand, 1, 1,
          FerrerJuliaSand<kGleyicCambisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_gleyic_cambisol_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kGleyicCambisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_humic_cambisol_sand, 1, 1,
          FerrerJuliaSand<kHumicCambisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_humic_cambisol_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kHumicCambisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_calcaric_fluvisol_sand, 1, 1,
          FerrerJuliaSand<kCalcaricFluvisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_calcaric_fluvisol_texture_organic_matter, 3,
          1, FerrerJuliaTextureOm<kCalcaricFluvisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_calcic_luvisol_sand, 1, 1,
          FerrerJuliaSand<kCalcicLuvisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_calcic_luvisol_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kCalcicLuvisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_chromic_luvisol_sand, 1, 1,
          FerrerJuliaSand<kChromicLuvisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_chromic_luvisol_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kChromicLuvisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_gleyic_luvisol_sand, 1, 1,
          FerrerJuliaSand<kGleyicLuvisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_gleyic_luvisol_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kGleyicLuvisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_orthic_luvisol_sand, 1, 1,
          FerrerJuliaSand<kOrthicLuvisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_orthic_luvisol_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kOrthicLuvisol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_ranker_sand, 1, 1, FerrerJuliaSand<kRanker>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_ranker_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kRanker>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_calcaric_regosol_sand, 1, 1,
          FerrerJuliaSand<kCalcaricRegosol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_calcaric_regosol_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kCalcaricRegosol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_dystric_regosol_sand, 1, 1,
          FerrerJuliaSand<kDystricRegosol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_dystric_regosol_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kDystricRegosol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_eutric_regosol_sand, 1, 1,
          FerrerJuliaSand<kEutricRegosol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_eutric_regosol_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kEutricRegosol>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_rendzina_sand, 1, 1,
          FerrerJuliaSand<kRendzina>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_rendzina_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kRendzina>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_gleyic_solonchak_sand, 1, 1,
          FerrerJuliaSand<kGleyicSolonchak>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_gleyic_solonchak_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kGleyicSolonchak>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_general_sand, 1, 1,
          FerrerJuliaSand<kGeneral>)
PTF_LOOPS(calc_ptf_ferrerjulia2004_general_texture_organic_matter, 3, 1,
          FerrerJuliaTextureOm<kGeneral>)
