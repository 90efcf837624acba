// Water retention after Beniaich et al. (2023): six simple (slr1 to slr6) and
// five multiple (mlr1 to mlr5) linear regressions, each giving three
// volumetric water contents, from wet to dry: saturation, field capacity and
// permanent wilting point.
//
// The regressions give percent by volume; each result is divided by 100 (a
// true division, not a multiplication by 0.01) and returned as a volume
// fraction.  The inputs x1, x2, x3 are soil properties in the units of the
// publication's regressions.  slr4 regresses on the sum x1 + x2 and slr5 on
// the ratio x1 / x2; the other slr rows on x1, the mlr rows on the inputs
// themselves.
//
// Evaluation order of every output: the predictor first (once per element,
// shared by the three outputs), then c0 + c1 * p1, then + c2 * p2, then
// + c3 * p3 as far as the row has predictors, then / 100.  A negative
// coefficient is added as a negative product, which is the same double as
// subtracting the product of its magnitude.
#include "ptf_registry.h"

namespace {

// How the single predictor p1 of a row is formed from its inputs.
enum class Predictor {
    kInputs,  // p1 = x1, p2 = x2, p3 = x3 (slr1 to slr3, slr6, mlr rows)
    kSum,     // p1 = x1 + x2 (slr4)
    kRatio,   // p1 = x1 / x2 (slr5)
};

// Coefficients c0 to c3 of the three outputs of one regression.
struct BeniaichRow {
    int nin;              // number of inputs
    Predictor predictor;  // how p1 is formed
    int nterms;           // number of predictor terms, 1 to 3
    double c[3][4];       // [saturation, field capacity, wilting point][c0..c3]
};

// Beniaich et al. (2023), in registration order.
constexpr BeniaichRow kBeniaich[] = {
    // slr1
    {1, Predictor::kInputs, 1,
     {{46.307, 0.556, 0.0, 0.0},
      {10.277, 0.365, 0.0, 0.0},
      {3.081, 0.327, 0.0, 0.0}}},
    // slr2
    {1, Predictor::kInputs, 1,
     {{59.508, 0.299, 0.0, 0.0},
      {16.178, 0.29, 0.0, 0.0},
      {10.521, 0.187, 0.0, 0.0}}},
    // slr3
    {1, Predictor::kInputs, 1,
     {{81.42, -0.427, 0.0, 0.0},
      {34.68, -0.324, 0.0, 0.0},
      {23.927, -0.257, 0.0, 0.0}}},
    // slr4, on x1 + x2
    {2, Predictor::kSum, 1,
     {{89.401, -0.298, 0.0, 0.0},
      {45.178, -0.29, 0.0, 0.0},
      {29.265, -0.187, 0.0, 0.0}}},
    // slr5, on x1 / x2
    {2, Predictor::kRatio, 1,
     {{68.851, -0.546, 0.0, 0.0},
      {23.278, 1.819, 0.0, 0.0},
      {16.298, -0.244, 0.0, 0.0}}},
    // slr6
    {1, Predictor::kInputs, 1,
     {{61.163, 2.793, 0.0, 0.0},
      {21.331, 1.339, 0.0, 0.0},
      {13.758, 0.902, 0.0, 0.0}}},
    // mlr1
    {3, Predictor::kInputs, 3,
     {{87.342, -0.281, -0.548, 2.377},
      {35.844, -0.085, -0.359, 0.947},
      {28.734, -0.148, -0.324, 0.636}}},
    // mlr2
    {2, Predictor::kInputs, 2,
     {{75.366, -0.417, 2.219, 0.0},
      {32.227, -0.32, 0.899, 0.0},
      {22.421, -0.254, 0.552, 0.0}}},
    // mlr3
    {2, Predictor::kInputs, 2,
     {{53.777, 0.278, 2.457, 0.0},
      {13.847, 0.281, 0.999, 0.0},
      {8.929, 0.182, 0.683, 0.0}}},
    // mlr4
    {2, Predictor::kInputs, 2,
     {{39.432, 0.553, 2.699, 0.0},
      {7.023, 0.364, 1.278, 0.0},
      {0.923, 0.327, 0.847, 0.0}}},
    // mlr5
    {3, Predictor::kInputs, 3,
     {{32.505, 0.548, 0.267, 2.377},
      {-0.094, 0.359, 0.274, 0.947},
      {-3.623, 0.324, 0.175, 0.636}}},
};

enum BeniaichIndex {
    kSlr1, kSlr2, kSlr3, kSlr4, kSlr5, kSlr6,
    kMlr1, kMlr2, kMlr3, kMlr4, kMlr5,
};

template <int R>
struct Beniaich2023 {
    static constexpr BeniaichRow kRow = kBeniaich[R];
    static_assert(kRow.nterms >= 1 && kRow.nterms <= kRow.nin,
                  "a regression has at most one term per input");
    static constexpr int nin = kRow.nin, nout = 3;

    // Output J (0 saturation, 1 field capacity, 2 wilting point) from the
    // predictor p1 and, for the multiple regressions, x2 and x3; percent by
    // volume divided by 100.
    template <int J>
    static inline double output(double p1, const double* x) {
        constexpr double c0 = kRow.c[J][0];
        constexpr double c1 = kRow.c[J][1];
        constexpr double c2 = kRow.c[J][2];
        constexpr double c3 = kRow.c[J][3];
        double s = c0 + c1 * p1;
        if constexpr (kRow.nterms >= 2) {
            s = s + c2 * x[1];
        }
        if constexpr (kRow.nterms >= 3) {
            s = s + c3 * x[2];
        }
        return s / 100.0;
    }

    static inline void eval(const double* x, double* y) {
        double p1;
        if constexpr (kRow.predictor == Predictor::kSum) {
            p1 = x[0] + x[1];
        } else if constexpr (kRow.predictor == Predictor::kRatio) {
            p1 = x[0] / x[1];
        } else {
            p1 = x[0];
        }
        y[0] = output<0>(p1, x);
        y[1] = output<1>(p1, x);
        y[2] = output<2>(p1, x);
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_beniaich2023_slr1, 1, 3, Beniaich2023<kSlr1>)
PTF_LOOPS(calc_ptf_beniaich2023_slr2, 1, 3, Beniaich2023<kSlr2>)
PTF_LOOPS(calc_ptf_beniaich2023_slr3, 1, 3, Beniaich2023<kSlr3>)
PTF_LOOPS(calc_ptf_beniaich2023_slr4, 2, 3, Beniaich2023<kSlr4>)
PTF_LOOPS(calc_ptf_beniaich2023_slr5, 2, 3, Beniaich2023<kSlr5>)
PTF_LOOPS(calc_ptf_beniaich2023_slr6, 1, 3, Beniaich2023<kSlr6>)
PTF_LOOPS(calc_ptf_beniaich2023_mlr1, 3, 3, Beniaich2023<kMlr1>)
PTF_LOOPS(calc_ptf_beniaich2023_mlr2, 2, 3, Beniaich2023<kMlr2>)
PTF_LOOPS(calc_ptf_beniaich2023_mlr3, 2, 3, Beniaich2023<kMlr3>)
PTF_LOOPS(calc_ptf_beniaich2023_mlr4, 2, 3, Beniaich2023<kMlr4>)
PTF_LOOPS(calc_ptf_beniaich2023_mlr5, 3, 3, Beniaich2023<kMlr5>)
