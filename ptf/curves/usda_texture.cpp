// Soil texture classes of the USDA: Soil Survey Division Staff (1993), Soil
// Survey Manual, USDA Handbook 18, chapter 3 (the same definitions stand in
// the 2017 edition, Soil Science Division Staff).
//
// Inputs: sand, silt and clay, percent by mass of the fine earth.  Output:
// the class code as float64, 1 to 12 in this order:
//   1 sand, 2 loamy sand, 3 sandy loam, 4 silt loam, 5 silt, 6 loam,
//   7 sandy clay loam, 8 silty clay loam, 9 clay loam, 10 sandy clay,
//   11 silty clay, 12 clay;
// NaN where a sample cannot be classified.
//
// The classes, in the manual's words ("or more" and "or less" include the
// limit, "less than" and "more than" exclude it):
//   sand             85 percent or more sand, and silt + 1.5 x clay is less
//                    than 15;
//   loamy sand       between 70 and 91 percent sand, silt + 1.5 x clay 15 or
//                    more, and silt + 2 x clay less than 30;
//   sandy loam       7 to less than 20 percent clay, more than 52 percent
//                    sand, and silt + 2 x clay 30 or more; or less than 7
//                    percent clay, less than 50 percent silt and more than
//                    43 percent sand;
//   loam             7 to less than 27 percent clay, 28 to less than 50
//                    percent silt, and 52 percent or less sand;
//   silt loam        50 percent or more silt and 12 to less than 27 percent
//                    clay; or 50 to less than 80 percent silt and less than
//                    12 percent clay;
//   silt             80 percent or more silt and less than 12 percent clay;
//   sandy clay loam  20 to less than 35 percent clay, less than 28 percent
//                    silt, and more than 45 percent sand;
//   clay loam        27 to less than 40 percent clay and more than 20 to 45
//                    percent sand;
//   silty clay loam  27 to less than 40 percent clay and 20 percent or less
//                    sand;
//   sandy clay       35 percent or more clay and more than 45 percent sand;
//   silty clay       40 percent or more clay and 40 percent or more silt;
//   clay             40 percent or more clay, 45 percent or less sand, and
//                    less than 40 percent silt.
// With sand + silt + clay = 100 these twelve regions tile the texture
// triangle; the second sandy-loam clause also covers sand and loamy sand
// below the silt + 2 x clay = 30 line, which keep those points.  Some limits
// follow from others and the sum: the sand limits of sand and loamy sand
// (silt + 1.5 x clay < 15 means more than 85 percent sand, silt + 2 x clay
// < 30 more than 70), 43 percent sand in sandy loam, 28 percent silt in
// loam below 20 percent clay, the silt and sand limits of sandy clay loam.
// The decision below tests each limit once, in this order, and gives every
// sample exactly one class:
//   clay >= 40:        silt >= 40 silty clay; sand > 45 sandy clay; clay
//   35 <= clay < 40:   sand > 45 sandy clay; sand > 20 clay loam; silty
//                      clay loam
//   27 <= clay < 35:   sand > 45 sandy clay loam; sand > 20 clay loam;
//                      silty clay loam
//   20 <= clay < 27:   silt >= 50 silt loam; silt >= 28 loam; sandy clay
//                      loam
//   clay < 20:         silt + 1.5 x clay < 15 sand; silt + 2 x clay < 30
//                      loamy sand; sand > 52, or clay < 7 and silt < 50,
//                      sandy loam; silt >= 80 and clay < 12 silt; silt >=
//                      50 silt loam; loam.
//
// Exactness on the limits.  The inputs are usually decimals (40, 52.5,
// 9.6), which doubles represent only to within rounding.  A comparison of
// one value with a limit is exact for them: the limits are whole numbers
// and rounding to double preserves order.  The two sloping lines are
// evaluated in forms that put decimal points on the line where the manual
// puts them (checked for values given to one, two and three decimals):
// silt + 2 x clay < 30 as
// written (2 x clay is exact), and silt + 1.5 x clay < 15 as
// 2 x sand - clay > 170, the same line for sand + silt + clay = 100, with
// integer multiples only.  (silt + 1.5 x clay, and 2 x silt + 3 x clay,
// which rounds identically, put a few decimal points on the wrong side, for
// example silt 0.6, clay 9.6.)
//
// Sums other than 100.  If sand + silt + clay (added in that order) is 100
// to within 1e-12, the values are used as given: about one in eight
// samples given to one or two decimals that add up to 100 has a double sum
// one unit in the last place (1.4e-14) away from 100, and rescaling those
// would move points on a limit across it.
// Otherwise each value is first rescaled to (100 x value) / sum, the
// product formed before the division (fractions 0 to 1, or masses, become
// percentages; their exactness on the limits is then to within rounding).
//
// NaN, quietly, for any NaN or infinite input, any negative value (-0 is
// not negative), a zero sum, and a sum or rescaled value that overflows
// (NumPy then reports the overflow).  The bits of unusable values are
// cleared (to +0) before any arithmetic, so they raise no floating-point
// flag.  Everything is computed for every element and combined by selects,
// the decision above written as successive overrides (the last test that
// holds wins), so that the compiler evaluates several elements at a time
// in vector registers; each lane rounds exactly as the scalar code.
#include <cfloat>
#include <cstdint>
#include <limits>

#include "ptf_registry.h"

namespace {

// Finite and not negative: +0 to the largest double, or -0.  A test of the
// bits, which raises no floating-point flag for NaN (a vectorised quiet
// comparison may be compiled as a signalling one).
inline bool usable_percentage(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits <= 0x7fefffffffffffffULL) | (bits == 0x8000000000000000ULL);
}

// v, or +0 where keep is false: a mask on the bits, not a branch.
inline double keep_or_zero(double v, bool keep) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits &= -static_cast<std::uint64_t>(keep);
    std::memcpy(&v, &bits, sizeof bits);
    return v;
}

// Class of sand, silt, clay in percent adding up to 100 (all finite).
inline double usda_class(double sand, double silt, double clay) {
    const bool sand20 = sand > 20.0;
    const bool sand45 = sand > 45.0;
    const bool sand52 = sand > 52.0;
    const bool silt28 = silt >= 28.0;
    const bool silt40 = silt >= 40.0;
    const bool silt50 = silt >= 50.0;
    const bool silt80 = silt >= 80.0;
    const bool clay7 = clay >= 7.0;
    const bool clay12 = clay >= 12.0;
    const bool clay20 = clay >= 20.0;
    const bool clay27 = clay >= 27.0;
    const bool clay35 = clay >= 35.0;
    const bool clay40 = clay >= 40.0;
    // silt + 1.5 x clay < 15, as 2 x sand - clay > 170.
    const bool sand_line = 2.0 * sand - clay > 170.0;
    const bool loamy_sand_line = silt + 2.0 * clay < 30.0;

    // Below 20 percent clay.
    double light = 6.0;                                        // loam
    light = silt50 ? 4.0 : light;                              // silt loam
    light = (silt80 & !clay12) ? 5.0 : light;                  // silt
    light = (sand52 | (!clay7 & !silt50)) ? 3.0 : light;       // sandy loam
    light = loamy_sand_line ? 2.0 : light;                     // loamy sand
    light = sand_line ? 1.0 : light;                           // sand

    double k = light;
    k = clay20 ? (silt50 ? 4.0 : silt28 ? 6.0 : 7.0) : k;
    k = clay27 ? (sand45 ? 7.0 : sand20 ? 9.0 : 8.0) : k;
    k = clay35 ? (sand45 ? 10.0 : sand20 ? 9.0 : 8.0) : k;
    k = clay40 ? (silt40 ? 11.0 : sand45 ? 10.0 : 12.0) : k;
    return k;
}

// Inputs: sand, silt, clay (percent by mass).  Output: class code 1 to 12,
// or NaN.
struct UsdaTexture {
    static constexpr int nin = 3, nout = 1;
    static inline void eval(const double* x, double* y) {
        // Each test a value of its own, then combined without branches
        // ("&" of two calls is taken by Clang for a mistyped "&&").
        const bool sand_usable = usable_percentage(x[0]);
        const bool silt_usable = usable_percentage(x[1]);
        const bool clay_usable = usable_percentage(x[2]);
        const bool usable = sand_usable & silt_usable & clay_usable;
        const double sand_in = keep_or_zero(x[0], usable);
        const double silt_in = keep_or_zero(x[1], usable);
        const double clay_in = keep_or_zero(x[2], usable);
        const double sum = sand_in + silt_in + clay_in;
        const double off = sum - 100.0;
        const bool as_given = (off >= -1e-12) & (off <= 1e-12);
        const bool sum_ok = (sum > 0.0) & (sum <= DBL_MAX);
        const double divisor = sum_ok ? sum : 100.0;
        const double sand_scaled = (100.0 * sand_in) / divisor;
        const double silt_scaled = (100.0 * silt_in) / divisor;
        const double clay_scaled = (100.0 * clay_in) / divisor;
        // The rescaled values are finite also where the values are used as
        // given (each at most about 100 x 100 / 100).
        const bool ok = usable & sum_ok & (sand_scaled <= DBL_MAX) &
                        (silt_scaled <= DBL_MAX) & (clay_scaled <= DBL_MAX);
        const double k = usda_class(as_given ? sand_in : sand_scaled,
                                    as_given ? silt_in : silt_scaled,
                                    as_given ? clay_in : clay_scaled);
        y[0] = ok ? k : std::numeric_limits<double>::quiet_NaN();
    }
};

}  // namespace

PTF_LOOPS(calc_texture_usda, 3, 1, UsdaTexture)
