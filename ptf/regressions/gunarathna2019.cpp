// Volumetric water content at 10, 33 and 1500 kPa suction (m3/m3) from the
// multiple linear regressions of Gunarathna et al. (2019), one equation per
// suction and input set of the publication (sets 1 to 4; there is no set-2
// equation for 1500 kPa).
//
// The predictors x1, x2, x3 are taken positionally, as plain numbers in the
// units of the publication's input sets.  In every equation x1 enters
// linearly and is subtracted.  In the 10 and 33 kPa equations of sets 2 to 4,
// x2 is added linearly; x3 is subtracted linearly in set 3 and added through
// its square in set 4.  The two-input 1500 kPa equations take x1 and one
// further predictor x2, as a quadratic (set 3) or through its square alone
// (set 4).
//
// Evaluation order: every product is rounded first; the sums are taken from
// left to right, the intercept minus the x1 term first, then each further
// term in turn.  A square is (x * x) * c, not x * (x * c).  Coefficients are
// stored as magnitudes; each shape below writes the sign of its terms.
// Results are not clamped to 0 to 1.
#include "ptf_registry.h"

namespace {

struct GunarathnaConstants {
    double a;   // intercept (m3/m3)
    double b1;  // x1 coefficient, subtracted
    double b2;  // second term's coefficient
    double b3;  // third term's coefficient (0 and unused with two terms)
};

enum GunarathnaEquation : int {
    kVwc10Set1,
    kVwc10Set2,
    kVwc10Set3,
    kVwc10Set4,
    kVwc33Set1,
    kVwc33Set2,
    kVwc33Set3,
    kVwc33Set4,
    kVwc1500Set1,
    kVwc1500Set3,
    kVwc1500Set4,
    kGunarathnaEquationCount
};

// Gunarathna et al. (2019), in the order of the enum.
constexpr GunarathnaConstants kGunarathna[] = {
    {0.4802, 0.0037, 0.0, 0.0},        // 10 kPa, set 1
    {0.3967, 0.0029, 0.0025, 0.0},     // 10 kPa, set 2
    {0.4436, 0.0028, 0.0024, 0.034},   // 10 kPa, set 3
    {0.3951, 0.0029, 0.0023, 0.0052},  // 10 kPa, set 4
    {0.4357, 0.0035, 0.0, 0.0},        // 33 kPa, set 1
    {0.3701, 0.0029, 0.002, 0.0},      // 33 kPa, set 2
    {0.4236, 0.0028, 0.0018, 0.0388},  // 33 kPa, set 3
    {0.3686, 0.0029, 0.0018, 0.0046},  // 33 kPa, set 4
    {0.3426, 0.003, 0.0, 0.0},         // 1500 kPa, set 1
    {0.6397, 0.0028, 0.385, 0.1169},   // 1500 kPa, set 3
    {0.3278, 0.0028, 0.0082, 0.0},     // 1500 kPa, set 4
};
static_assert(sizeof(kGunarathna) / sizeof(kGunarathna[0]) ==
                  kGunarathnaEquationCount,
              "one row of constants per equation");

// Each shape reads the constants of its equation E from the table at build
// time (k.a, k.b1, ... are constant expressions), one rounding per product
// and per sum, sums from left to right.

// Set 1: a - x1 * b1.
template <int E>
struct GunarathnaSet1 {
    static constexpr int nin = 1, nout = 1;
    static constexpr GunarathnaConstants k = kGunarathna[E];
    static inline void eval(const double* x, double* y) {
        y[0] = k.a - x[0] * k.b1;
    }
};

// Set 2: (a - x1 * b1) + x2 * b2.
template <int E>
struct GunarathnaSet2 {
    static constexpr int nin = 2, nout = 1;
    static constexpr GunarathnaConstants k = kGunarathna[E];
    static inline void eval(const double* x, double* y) {
        const double s = k.a - x[0] * k.b1;
        y[0] = s + x[1] * k.b2;
    }
};

// Set 3 at 10 and 33 kPa: ((a - x1 * b1) + x2 * b2) - x3 * b3.
template <int E>
struct GunarathnaSet3 {
    static constexpr int nin = 3, nout = 1;
    static constexpr GunarathnaConstants k = kGunarathna[E];
    static inline void eval(const double* x, double* y) {
        double s = k.a - x[0] * k.b1;
        s = s + x[1] * k.b2;
        y[0] = s - x[2] * k.b3;
    }
};

// Set 4 at 10 and 33 kPa: ((a - x1 * b1) + x2 * b2) + (x3 * x3) * b3.
template <int E>
struct GunarathnaSet4 {
    static constexpr int nin = 3, nout = 1;
    static constexpr GunarathnaConstants k = kGunarathna[E];
    static inline void eval(const double* x, double* y) {
        double s = k.a - x[0] * k.b1;
        s = s + x[1] * k.b2;
        const double sq = x[2] * x[2];
        y[0] = s + sq * k.b3;
    }
};

// Set 3 at 1500 kPa: ((a - x1 * b1) - x2 * b2) + (x2 * x2) * b3.
template <int E>
struct GunarathnaQuadratic {
    static constexpr int nin = 2, nout = 1;
    static constexpr GunarathnaConstants k = kGunarathna[E];
    static inline void eval(const double* x, double* y) {
        double s = k.a - x[0] * k.b1;
        s = s - x[1] * k.b2;
        const double sq = x[1] * x[1];
        y[0] = s + sq * k.b3;
    }
};

// Set 4 at 1500 kPa: (a - x1 * b1) + (x2 * x2) * b2.
template <int E>
struct GunarathnaSquare {
    static constexpr int nin = 2, nout = 1;
    static constexpr GunarathnaConstants k = kGunarathna[E];
    static inline void eval(const double* x, double* y) {
        const double s = k.a - x[0] * k.b1;
        const double sq = x[1] * x[1];
        y[0] = s + sq * k.b2;
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_gunarathna2019_vwc10_set1, 1, 1, GunarathnaSet1<kVwc10Set1>)
PTF_LOOPS(calc_ptf_gunarathna2019_vwc10_set2, 2, 1, GunarathnaSet2<kVwc10Set2>)
PTF_LOOPS(calc_ptf_gunarathna2019_vwc10_set3, 3, 1, GunarathnaSet3<kVwc10Set3>)
PTF_LOOPS(calc_ptf_gunarathna2019_vwc10_set4, 3, 1, GunarathnaSet4<kVwc10Set4>)
PTF_LOOPS(calc_ptf_gunarathna2019_vwc33_set1, 1, 1, GunarathnaSet1<kVwc33Set1>)
PTF_LOOPS(calc_ptf_gunarathna2019_vwc33_set2, 2, 1, GunarathnaSet2<kVwc33Set2>)
PTF_LOOPS(calc_ptf_gunarathna2019_vwc33_set3, 3, 1, GunarathnaSet3<kVwc33Set3>)
PTF_LOOPS(calc_ptf_gunarathna2019_vwc33_set4, 3, 1, GunarathnaSet4<kVwc33Set4>)
PTF_LOOPS(calc_ptf_gunarathna2019_vwc1500_set1, 1, 1,
          GunarathnaSet1<kVwc1500Set1>)
PTF_LOOPS(calc_ptf_gunarathna2019_vwc1500_set3, 2, 1,
          GunarathnaQuadratic<kVwc1500Set3>)
PTF_LOOPS(calc_ptf_gunarathna2019_vwc1500_set4, 2, 1,
          GunarathnaSquare<kVwc1500Set4>)
