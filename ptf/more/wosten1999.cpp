// Mualem-van Genuchten parameters of the HYPRES data base after Woesten,
// Lilly, Nemes and Le Bas (1999), "Development and use of a database of
// hydraulic properties of European soils", Geoderma 90(3-4):169-185: the
// continuous pedotransfer functions and the class table (Table 4).
//
// Model: theta(h) = theta_r + (theta_s - theta_r) / [1 + (alpha h)^n]^m
// with m = 1 - 1/n, K = Ks Se^l [1 - (1 - Se^(1/m))^m]^2.
#include "ptf_class_table.h"

namespace {

// Continuous functions.  Inputs: clay (< 2 um) and silt (2-50 um), percent
// by mass; organic matter, percent by mass; dry bulk density D (g/cm3);
// topsoil indicator T (1 topsoil, 0 subsoil).  Outputs: theta_s (cm3/cm3),
// alpha (1/cm), n, l, Ks (cm/d).  theta_r is not predicted.
//
// theta_s is linear in its terms; the others are transformed sums:
// alpha = exp(alpha*), n = exp(n*) + 1,
// l = 10 (exp(l*) - 1) / (1 + exp(l*)), Ks = exp(Ks*).
//
// Order of evaluation (the publication gives the equations, not an order
// of operations; this is ours).  Each sum starts with its constant and adds
// the terms of the coefficient table of Woesten et al. (1999) in its row
// order: C, Si, OM, D, T, D^2, C^2, Si^2, OM^2, C^-1, Si^-1, OM^-1, D^-1,
// ln Si, ln OM, ln D, OM.C, D.C, D.Si, D.OM, T.C, T.Si, skipping the terms a
// parameter does not have, left to right.  A term is its value times the
// positive coefficient, added or subtracted: a square x * x and a product
// of two inputs in the order the row names them are formed first; an
// inverse term is the coefficient divided by the input (c / x); a
// logarithm is log(x).
struct Wosten1999 {
    static constexpr int nin = 5, nout = 5;
    static constexpr int nstages = 3, ncarry = 8;
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            // The three logarithms; the inputs carried on.
            c[0] = x[0];
            c[1] = x[1];
            c[2] = x[2];
            c[3] = x[3];
            c[4] = x[4];
            c[5] = std::log(x[1]);
            c[6] = std::log(x[2]);
            c[7] = std::log(x[3]);
        } else if constexpr (S == 1) {
            const double C = c[0], Si = c[1], OM = c[2], D = c[3], T = c[4];
            const double lnSi = c[5], lnOM = c[6], lnD = c[7];
            const double D2 = D * D, C2 = C * C, Si2 = Si * Si, OM2 = OM * OM;
            const double theta_s =
                0.7919 + C * 0.001691 - D * 0.29619 - Si2 * 0.000001491 +
                OM2 * 0.0000821 + 0.02427 / C + 0.01113 / Si +
                lnSi * 0.01472 - OM * C * 0.0000733 - D * C * 0.000619 -
                D * OM * 0.001183 - T * Si * 0.0001664;
            const double alpha_star =
                -14.96 + C * 0.03135 + Si * 0.0351 + OM * 0.646 +
                D * 15.29 - T * 0.192 - D2 * 4.671 - C2 * 0.000781 -
                OM2 * 0.00687 + 0.0449 / OM + lnSi * 0.0663 +
                lnOM * 0.1482 - D * Si * 0.04546 - D * OM * 0.4852 +
                T * C * 0.00673;
            const double n_star =
                -25.23 - C * 0.02195 + Si * 0.0074 - OM * 0.1940 +
                D * 45.5 - D2 * 7.24 + C2 * 0.0003658 + OM2 * 0.002885 -
                0.1524 / Si - 0.01958 / OM - 12.81 / D - lnSi * 0.2876 -
                lnOM * 0.0709 - lnD * 44.6 - D * C * 0.02264 +
                D * OM * 0.0896 + T * C * 0.00718;
            const double l_star =
                0.0202 + C2 * 0.0006193 - OM2 * 0.001136 - lnOM * 0.2316 -
                D * C * 0.03544 + D * Si * 0.00283 + D * OM * 0.0488;
            const double ks_star =
                7.755 + Si * 0.0352 + T * 0.93 - D2 * 0.967 -
                C2 * 0.000484 - Si2 * 0.000322 + 0.001 / Si - 0.0748 / OM -
                lnSi * 0.643 - D * C * 0.01398 - D * OM * 0.1673 +
                T * C * 0.02986 - T * Si * 0.03305;
            c[0] = theta_s;
            c[1] = alpha_star;
            c[2] = n_star;
            c[3] = l_star;
            c[4] = ks_star;
        } else {
            y[0] = c[0];
            y[1] = std::exp(c[1]);
            y[2] = std::exp(c[2]) + 1.0;
            const double el = std::exp(c[3]);
            y[3] = 10.0 * (el - 1.0) / (1.0 + el);
            y[4] = std::exp(c[4]);
        }
    }
};

// Class table, Woesten et al. (1999) Table 4: theta_r, theta_s (cm3/cm3),
// alpha (1/cm), n, m, l, Ks (cm/d) by FAO texture class of the HYPRES
// data base and layer, and the organic soils.  Values as in the table
// (m = 1 - 1/n to the four decimals printed).  Index: 0 to 4 topsoil
// coarse, medium, medium fine, fine, very fine; 5 to 9 subsoil in the same
// order; 10 organic (one row for both layers).
struct HypresClassTable {
    static constexpr int nclasses = 11, ncolumns = 7;
    static constexpr double rows[nclasses][ncolumns] = {
        {0.025, 0.403, 0.0383, 1.3774, 0.2740, 1.2500, 60.000},   // 0 top C
        {0.010, 0.439, 0.0314, 1.1804, 0.1528, -2.3421, 12.061},  // 1 top M
        {0.010, 0.430, 0.0083, 1.2539, 0.2025, -0.5884, 2.272},   // 2 top MF
        {0.010, 0.520, 0.0367, 1.1012, 0.0919, -1.9772, 24.800},  // 3 top F
        {0.010, 0.614, 0.0265, 1.1033, 0.0936, 2.5000, 15.000},   // 4 top VF
        {0.025, 0.366, 0.0430, 1.5206, 0.3424, 1.2500, 70.000},   // 5 sub C
        {0.010, 0.392, 0.0249, 1.1689, 0.1445, -0.7437, 10.755},  // 6 sub M
        {0.010, 0.412, 0.0082, 1.2179, 0.1789, 0.5000, 4.000},    // 7 sub MF
        {0.010, 0.481, 0.0198, 1.0861, 0.0793, -3.7124, 8.500},   // 8 sub F
        {0.010, 0.538, 0.0168, 1.0730, 0.0680, 0.0001, 8.235},    // 9 sub VF
        {0.010, 0.766, 0.0130, 1.2039, 0.1694, 0.4000, 8.000},    // 10 organic
    };
};

// Input: the class index, uint32 or int64; any other index (negative,
// or past the last row) gives NaN in every output.
template <class Index>
using Wosten1999Class = ptf::ClassLookup<HypresClassTable, Index>;

}  // namespace

PTF_LOOPS(calc_ptf_wosten1999, 5, 5, Wosten1999)
PTF_INDEX_LOOPS(calc_ptf_wosten1999_class, 1, 7, Wosten1999Class)
