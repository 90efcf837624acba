// Water retention points after Oosterveld and Chang (1980), Dijkerman (1988)
// and Myeni et al. (2021).
//
// Every expression is evaluated in the order written, each operation rounded
// to double; a step a + b * x forms the product first.  Subtracting a
// positive product is the same double as adding it with the negated
// coefficient.  Water contents are in percent (Oosterveld and Chang,
// Dijkerman) on the basis defined in each publication; no result is clamped.
#include "ptf_registry.h"

namespace {

// Oosterveld and Chang (1980), water content at field capacity (%) from clay
// c (% by mass), sand s (%) and depth d (cm).  Its constants are the
// publication's own for field capacity, not the retention equation
// evaluated at the field-capacity tension.
inline double oosterveld_field_capacity(double c, double s, double d) {
    const double f = std::pow(c, -0.08);
    double w = c * 0.469 + 25.713;
    w = w - s * 0.184;
    w = w - d * 0.0329;
    return f * w;
}

// Oosterveld and Chang (1980), water content at wilting point (%) from clay
// c, sand s (%) and depth d (cm).
inline double oosterveld_wilting_point(double c, double s, double d) {
    double w = c * 0.299 + 4.035;
    w = w - s * 0.034;
    return w - d * 0.016;
}

// Oosterveld and Chang (1980): suction at field capacity (kPa) from clay (%
// by mass), 5.356 * clay^0.421.
struct OosterveldFieldCapacityTension {
    static constexpr int nin = 1, nout = 1;
    static inline void eval(const double* x, double* y) {
        y[0] = std::pow(x[0], 0.421) * 5.356;
    }
};

// Oosterveld and Chang (1980): water content (%) at suction h (kPa) from
// clay (%), sand (%) and depth (cm):
// h^-0.19 * (35.367 + 0.644 clay - 0.251 sand - 0.045 depth).
struct OosterveldRetention {
    static constexpr int nin = 4, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double f = std::pow(x[3], -0.19);
        double w = x[0] * 0.644 + 35.367;
        w = w - x[1] * 0.251;
        w = w - x[2] * 0.045;
        y[0] = f * w;
    }
};

// Oosterveld and Chang (1980): field capacity (%) from clay, sand, depth.
struct OosterveldFieldCapacity {
    static constexpr int nin = 3, nout = 1;
    static inline void eval(const double* x, double* y) {
        y[0] = oosterveld_field_capacity(x[0], x[1], x[2]);
    }
};

// Oosterveld and Chang (1980): wilting point (%) from clay, sand, depth.
struct OosterveldWiltingPoint {
    static constexpr int nin = 3, nout = 1;
    static inline void eval(const double* x, double* y) {
        y[0] = oosterveld_wilting_point(x[0], x[1], x[2]);
    }
};

// Oosterveld and Chang (1980): available water (%), field capacity minus
// wilting point, both evaluated here from clay, sand and depth; bit for bit
// the difference of the two kernels above.
struct OosterveldAvailableWater {
    static constexpr int nin = 3, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double fc = oosterveld_field_capacity(x[0], x[1], x[2]);
        const double wp = oosterveld_wilting_point(x[0], x[1], x[2]);
        y[0] = fc - wp;
    }
};

// Dijkerman (1988): water content at wilting point (%) from clay (% by mass)
// and at field capacity (%) from sand (% by mass).  Outputs (wp, fc).
struct Dijkerman1988 {
    static constexpr int nin = 2, nout = 2;
    static inline void eval(const double* x, double* y) {
        const double wp = x[0] * 0.39 + 0.74;
        const double fc = 36.97 - x[1] * 0.35;
        y[0] = wp;
        y[1] = fc;
    }
};

// Dijkerman (1988): available water (%) from clay and silt (%), the
// difference fc - wp above with sand = 100 - clay - silt folded into the
// constants (36.97 - 0.74 - 35 = 1.23, 0.35 - 0.39 = -0.04).  It agrees with
// that difference up to rounding only.
struct Dijkerman1988AvailableWater {
    static constexpr int nin = 2, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double s = 1.23 - x[0] * 0.04;
        y[0] = s + x[1] * 0.35;
    }
};

// Myeni et al. (2021): water content at field capacity from three soil
// properties x1, x2, x3 (units as in the publication).  The x3 term is added
// before the x2 term.
struct Myeni2021FieldCapacity {
    static constexpr int nin = 3, nout = 1;
    static inline void eval(const double* x, double* y) {
        double s = x[0] * 0.005 + 0.014;
        s = s + x[2] * 0.009;
        y[0] = s + x[1] * 0.002;
    }
};

// Myeni et al. (2021): water content at permanent wilting point from the same
// x1, x2, x3; no intercept, the x2 term first.
struct Myeni2021WiltingPoint {
    static constexpr int nin = 3, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double s = x[1] * 0.001 + x[0] * 0.003;
        y[0] = s + x[2] * 0.007;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_dijkerman1988, 2, 2, Dijkerman1988)
PTF_LOOPS(calc_ptf_dijkerman1988_available_water, 2, 1,
          Dijkerman1988AvailableWater)
PTF_LOOPS(calc_ptf_myeni2021_fc, 3, 1, Myeni2021FieldCapacity)
PTF_LOOPS(calc_ptf_myeni2021_pwp, 3, 1, Myeni2021WiltingPoint)
PTF_LOOPS(calc_ptf_oosterveld1980_field_capacity_tension, 1, 1,
          OosterveldFieldCapacityTension)
PTF_LOOPS(calc_ptf_oosterveld1980_retention, 4, 1, OosterveldRetention)
PTF_LOOPS(calc_ptf_oosterveld1980_field_capacity, 3, 1,
          OosterveldFieldCapacity)
PTF_LOOPS(calc_ptf_oosterveld1980_wilting_point, 3, 1, OosterveldWiltingPoint)
PTF_LOOPS(calc_ptf_oosterveld1980_available_water, 3, 1,
          OosterveldAvailableWater)
