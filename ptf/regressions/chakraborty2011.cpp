// Water retention after Chakraborty et al. (2011): six equation sets (eq1 to
// eq6), each estimating four water contents w1 to w4 of the retention curve,
// at four suction levels in increasing order of suction, from two to five
// soil properties x1 to x5 (units as in the publication).
//
// Every output is one linear regression in percent, evaluated as
//     s = x1 * c1 + x2 * c2   (both products formed, then added)
//     s = s + x3 * c3, s = s + x4 * c4, s = s + x5 * c5   (as far as present)
//     s = s + c0              (the intercept last)
//     w = s / 100             (a true division; the result is a fraction)
// A negative coefficient enters as a negative product, the same double as
// subtracting the product of its magnitude.  The four regressions of an
// element are independent of each other.
#include "ptf_registry.h"

namespace {

// One regression: slopes c1 to c5 (zero past the equation's inputs) and the
// intercept c0.
struct ChakrabortyRegression {
    double c[5];
    double c0;
};

// The four regressions (w1 to w4) of one equation set.
struct ChakrabortyRow {
    int nin;
    ChakrabortyRegression w[4];
};

// Chakraborty et al. (2011), eq1 to eq6.
constexpr ChakrabortyRow kChakraborty[] = {
    // eq1
    {2,
     {{{0.297, 0.478, 0.0, 0.0, 0.0}, 4.6},
      {{0.27, 0.379, 0.0, 0.0, 0.0}, 2.988},
      {{0.251, 0.185, 0.0, 0.0, 0.0}, 2.958},
      {{0.184, 0.144, 0.0, 0.0, 0.0}, 3.702}}},
    // eq2
    {2,
     {{{-0.377, -0.215, 0.0, 0.0, 0.0}, 41.114},
      {{-0.33, 2.611, 0.0, 0.0, 0.0}, 30.16},
      {{-0.244, -0.795, 0.0, 0.0, 0.0}, 27.495},
      {{-0.187, 1.241, 0.0, 0.0, 0.0}, 19.32}}},
    // eq3
    {3,
     {{{0.28, 0.481, -7.566, 0.0, 0.0}, 17.095},
      {{0.262, 0.38, -3.167, 0.0, 0.0}, 8.219},
      {{0.244, 0.187, -3.079, 0.0, 0.0}, 8.046},
      {{0.183, 0.144, -0.689, 0.0, 0.0}, 4.84}}},
    // eq4
    {3,
     {{{0.078, 0.248, -0.241, 0.0, 0.0}, 27.447},
      {{0.049, 0.147, -0.242, 0.0, 0.0}, 25.945},
      {{0.067, -0.008, -0.204, 0.0, 0.0}, 22.216},
      {{0.021, -0.028, -0.179, 0.0, 0.0}, 20.695}}},
    // eq5
    {4,
     {{{0.093, 0.276, -0.213, -4.481, 0.0}, 32.21},
      {{0.048, 0.145, -0.245, 0.37, 0.0}, 25.551},
      {{0.067, -0.008, -0.203, -0.135, 0.0}, 22.359},
      {{0.014, -0.041, -0.192, 2.093, 0.0}, 18.47}}},
    // eq6
    {5,
     {{{0.095, 0.268, -0.206, 2.42, -4.402}, 30.96},
      {{0.053, 0.113, -0.23, 6.434, 1.528}, 21.236},
      {{0.069, -0.017, -0.195, 2.461, 0.079}, 20.895},
      {{0.017, -0.053, -0.184, 2.95, 2.327}, 16.802}}},
};

template <int R>
struct Chakraborty2011 {
    static constexpr ChakrabortyRow kRow = kChakraborty[R];
    static_assert(kRow.nin >= 2 && kRow.nin <= 5, "two to five inputs");
    static constexpr int nin = kRow.nin, nout = 4;

    // Output J (w1 to w4 for J = 0 to 3), a fraction.
    template <int J>
    static inline double output(const double* x) {
        constexpr ChakrabortyRegression r = kRow.w[J];
        double s = x[0] * r.c[0] + x[1] * r.c[1];
        if constexpr (nin >= 3) {
            s = s + x[2] * r.c[2];
        }
        if constexpr (nin >= 4) {
            s = s + x[3] * r.c[3];
        }
        if constexpr (nin >= 5) {
            s = s + x[4] * r.c[4];
        }
        s = s + r.c0;
        return s / 100.0;
    }

    static inline void eval(const double* x, double* y) {
        y[0] = output<0>(x);
        y[1] = output<1>(x);
        y[2] = output<2>(x);
        y[3] = output<3>(x);
    }
};

}  // namespace

PTF_LOOPS(calc_ptf_chakraborty2011_eq1, 2, 4, Chakraborty2011<0>)
PTF_LOOPS(calc_ptf_chakraborty2011_eq2, 2, 4, Chakraborty2011<1>)
PTF_LOOPS(calc_ptf_chakraborty2011_eq3, 3, 4, Chakraborty2011<2>)
PTF_LOOPS(calc_ptf_chakraborty2011_eq4, 3, 4, Chakraborty2011<3>)
PTF_LOOPS(calc_ptf_chakraborty2011_eq5, 4, 4, Chakraborty2011<4>)
PTF_LOOPS(calc_ptf_chakraborty2011_eq6, 5, 4, Chakraborty2011<5>)
