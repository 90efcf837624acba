// Entry point of the loamara._stats extension module: the statistics of an
// ensemble of pedotransfer functions across its members, one generalised
// ufunc (module/stats_module.cpp is its only source).  The import itself is
// ptf_create_module (module/ptf_module.cpp), with an empty table; the
// generalised ufunc is added after it.
//
//     ensemble_statistics(values(m), logs(m), extrapolated(m), weights(m),
//                         range(4)) -> (12)
//
// For one sample: the values of its m members (NaN for none), their natural
// logarithms (read for a log summary only: NumPy's vectorised log of the
// values, several times faster than one C-library call per value), whether
// each member extrapolates outside its calibration domain, the weight of each
// member (the inverse of its published RMSE squared, for the weighted mean),
// and the kind's physical range with the options:
//     range = (lo, hi, open, options)
// lo and hi are the bounds of what the kind can be (NaN for none); open is
// 1 * (lo open) + 2 * (hi open); options is 1 * log + 2 * keep_outside +
// 4 * strict + 8 * weighted.  The twelve outputs are, in order:
//     centre, weighted centre, spread, median, q25, q75, iqr, min, max,
//     n, n_outside, n_extrapolated.
// A member enters the statistics when its value is a number, inside the
// physical range (unless keep_outside), inside its calibration domain (when
// strict) and, for a log summary, positive.  A linear summary's centre is
// the arithmetic mean (values summed in member order, then divided by n),
// its spread the sample standard deviation (n - 1; two passes) and its iqr
// q75 - q25.  A log summary works on natural logarithms: the centre is the
// geometric mean exp(mean(ln x)), the spread the standard deviation of
// ln x divided by ln 10 (that of log10 x), the iqr (ln q75 - ln q25) / ln 10.
// Quantiles interpolate linearly between order statistics (position
// p * (n - 1), NumPy's default), on ln x for a log summary; a quantile at a
// whole position is that member's value itself.  With no member in, every
// statistic is NaN and the counts are 0; with one, the spread is NaN.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "ptf_registry.h"

namespace {

constexpr int kStatistics = 12;
const double kLn10 = std::log(10.0);

// Sorts a[0..n-1] ascending (no NaN among them).  Up to 64 values, the
// common case, by a network of Batcher's odd-even merge sort: a fixed
// sequence of compare-exchanges (min and max, no data-dependent branch),
// which the processor does not mispredict as it does the comparisons of an
// insertion sort on members in no particular order.  Beyond 64, the
// library's sort.
constexpr npy_intp kNetwork = 64;

// The compare-exchanges of Batcher's odd-even merge sort of 2^k values
// (Knuth, The Art of Computer Programming 3, 5.3.4), built at compile time:
// pairs (lo, hi) after which a[lo] <= a[hi].
struct Network {
    int count = 0;
    std::uint8_t lo[543] = {};  // 543 pairs for 64 values
    std::uint8_t hi[543] = {};
};

// The network for n values: that of the next power of two with the wires
// from n on removed, with every compare-exchange that touches them.  Fed
// +inf, those wires would keep it (the larger value goes to the higher
// wire), so each removed exchange would leave its values as they are.
constexpr Network odd_even_merge(int n) {
    int size = 1;
    while (size < n) {
        size <<= 1;
    }
    Network net;
    for (int p = 1; p < size; p <<= 1) {
        for (int k = p; k >= 1; k >>= 1) {
            for (int j = k % p; j + k < size; j += 2 * k) {
                for (int i = 0; i < k && i < size - j - k; ++i) {
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p) &&
                        i + j + k < n) {
                        net.lo[net.count] = static_cast<std::uint8_t>(i + j);
                        net.hi[net.count] =
                            static_cast<std::uint8_t>(i + j + k);
                        ++net.count;
                    }
                }
            }
        }
    }
    return net;
}

template <std::size_t... N>
constexpr std::array<Network, sizeof...(N)> networks(
    std::index_sequence<N...>) {
    return {odd_even_merge(static_cast<int>(N))...};
}

// By the number of values, 0 to 64.
constexpr std::array<Network, kNetwork + 1> kNetworks =
    networks(std::make_index_sequence<kNetwork + 1>());
static_assert(kNetworks[64].count == 543, "Batcher's network of 64 values");
static_assert(kNetworks[2].count == 1 && kNetworks[4].count == 5,
              "Batcher's networks of 2 and 4 values");

inline void exchange(double& x, double& y) {
    const double lo = std::min(x, y), hi = std::max(x, y);
    x = lo;
    y = hi;
}

// The network of N values with its exchanges written out, so that the
// values stay in registers: for the few members of a default ensemble.
template <std::size_t N, std::size_t... C>
void sort_unrolled(double* a, std::index_sequence<C...>) {
    double v[N > 0 ? N : 1];
    for (std::size_t i = 0; i < N; ++i) {
        v[i] = a[i];
    }
    (exchange(v[kNetworks[N].lo[C]], v[kNetworks[N].hi[C]]), ...);
    for (std::size_t i = 0; i < N; ++i) {
        a[i] = v[i];
    }
}

template <std::size_t N>
void sort_fixed(double* a) {
    sort_unrolled<N>(a, std::make_index_sequence<static_cast<std::size_t>(
                            kNetworks[N].count)>());
}

constexpr std::size_t kUnrolled = 16;

template <std::size_t... N>
constexpr std::array<void (*)(double*), sizeof...(N)> unrolled(
    std::index_sequence<N...>) {
    return {&sort_fixed<N>...};
}

constexpr std::array<void (*)(double*), kUnrolled + 1> kSortFixed =
    unrolled(std::make_index_sequence<kUnrolled + 1>());

void sort_values(double* a, npy_intp n) {
    if (n <= static_cast<npy_intp>(kUnrolled)) {
        kSortFixed[static_cast<std::size_t>(n)](a);
        return;
    }
    if (n > kNetwork) {
        std::sort(a, a + n);
        return;
    }
    const Network& net = kNetworks[static_cast<std::size_t>(n)];
    for (int c = 0; c < net.count; ++c) {
        exchange(a[net.lo[c]], a[net.hi[c]]);
    }
}

// The p-quantile of the sorted values s[0..n-1], n >= 1.  For a log
// summary it interpolates on the logarithms and, when ln_q is given,
// stores the quantile's logarithm there; logarithms are taken only of the
// order statistics a quantile needs.
double quantile(const double* s, npy_intp n, double p, bool log,
                double* ln_q) {
    const double pos = p * static_cast<double>(n - 1);
    const double below = std::floor(pos);
    const npy_intp i = static_cast<npy_intp>(below);
    const double frac = pos - below;
    if (frac == 0.0) {
        if (log && ln_q != nullptr) {
            *ln_q = std::log(s[i]);
        }
        return s[i];
    }
    if (log) {
        const double la = std::log(s[i]);
        const double ln = la + (std::log(s[i + 1]) - la) * frac;
        if (ln_q != nullptr) {
            *ln_q = ln;
        }
        return std::exp(ln);
    }
    return s[i] + (s[i + 1] - s[i]) * frac;
}

bool outside(double x, double lo, double hi, int open) {
    // A NaN bound compares false, quietly: no bound on that side.
    const bool below =
        (open & 1) ? std::islessequal(x, lo) : std::isless(x, lo);
    const bool above =
        (open & 2) ? std::isgreaterequal(x, hi) : std::isgreater(x, hi);
    return below || above;
}

void statistics_of(const char* values, npy_intp sv, const char* logs,
                   npy_intp sl, const char* ext, npy_intp se,
                   const char* weights, npy_intp sw, const double* range,
                   npy_intp m, double* used, double* w, double* sorted,
                   double* out) {
    const double lo = range[0], hi = range[1];
    const int open = static_cast<int>(range[2]);
    const int options = static_cast<int>(range[3]);
    const bool log = options & 1, keep = options & 2, strict = options & 4,
               weighted = options & 8;
    npy_intp n = 0, n_out = 0, n_ext = 0;
    for (npy_intp j = 0; j < m; ++j) {
        const double x = *reinterpret_cast<const double*>(values + j * sv);
        if (std::isnan(x)) {
            continue;
        }
        const bool e = *reinterpret_cast<const npy_bool*>(ext + j * se) != 0;
        const bool bad = outside(x, lo, hi, open);
        n_ext += e;
        n_out += bad;
        if ((bad && !keep) || (e && strict) || (log && !(x > 0.0))) {
            continue;
        }
        sorted[n] = x;
        used[n] = log ? *reinterpret_cast<const double*>(logs + j * sl) : x;
        if (weighted) {
            w[n] = *reinterpret_cast<const double*>(weights + j * sw);
        }
        ++n;
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    out[9] = static_cast<double>(n);
    out[10] = static_cast<double>(n_out);
    out[11] = static_cast<double>(n_ext);
    if (n == 0) {
        for (int k = 0; k < 9; ++k) {
            out[k] = nan;
        }
        return;
    }
    double total = 0.0;
    for (npy_intp j = 0; j < n; ++j) {
        total += used[j];
    }
    const double mean = total / static_cast<double>(n);
    double squares = 0.0;
    for (npy_intp j = 0; j < n; ++j) {
        const double d = used[j] - mean;
        squares += d * d;
    }
    double centre_w = nan;
    if (weighted) {
        double num = 0.0, den = 0.0;
        for (npy_intp j = 0; j < n; ++j) {
            num += used[j] * w[j];
            den += w[j];
        }
        centre_w = num / den;
    }
    const double spread =
        n >= 2 ? std::sqrt(squares / static_cast<double>(n - 1)) : nan;
    sort_values(sorted, n);
    double ln25 = 0.0, ln75 = 0.0;
    out[3] = quantile(sorted, n, 0.5, log, nullptr);
    out[4] = quantile(sorted, n, 0.25, log, &ln25);
    out[5] = quantile(sorted, n, 0.75, log, &ln75);
    out[7] = sorted[0];
    out[8] = sorted[n - 1];
    if (log) {
        out[0] = std::exp(mean);
        out[1] = weighted ? std::exp(centre_w) : nan;
        out[2] = spread / kLn10;
        out[6] = (ln75 - ln25) / kLn10;
    } else {
        out[0] = mean;
        out[1] = centre_w;
        out[2] = spread;
        out[6] = out[5] - out[4];
    }
}

// The loop of the generalised ufunc: dimensions[0] samples of
// dimensions[1] members; steps: the five inputs' and the output's outer
// strides, then the core strides of values, logs, extrapolated and
// weights (m), of range (4) and of the output (12).
void ensemble_statistics_loop(char** args, npy_intp const* dimensions,
                              npy_intp const* steps, void*) {
    const npy_intp count = dimensions[0], m = dimensions[1];
    const npy_intp sv = steps[6], sl = steps[7], se = steps[8], sw = steps[9],
                   sr = steps[10], so = steps[11];
    std::vector<double> buffer(static_cast<size_t>(3 * m));
    double* used = buffer.data();
    double* w = used + m;
    double* sorted = w + m;
    for (npy_intp i = 0; i < count; ++i) {
        const char* r = args[4] + i * steps[4];
        const double range[4] = {
            *reinterpret_cast<const double*>(r),
            *reinterpret_cast<const double*>(r + sr),
            *reinterpret_cast<const double*>(r + 2 * sr),
            *reinterpret_cast<const double*>(r + 3 * sr)};
        double out[kStatistics];
        statistics_of(args[0] + i * steps[0], sv, args[1] + i * steps[1], sl,
                      args[2] + i * steps[2], se, args[3] + i * steps[3], sw,
                      range, m, used, w, sorted, out);
        char* dst = args[5] + i * steps[5];
        for (int k = 0; k < kStatistics; ++k) {
            *reinterpret_cast<double*>(dst + k * so) = out[k];
        }
    }
}

PyUFuncGenericFunction loops[] = {ensemble_statistics_loop};
void* loop_data[] = {nullptr};
char loop_types[] = {NPY_DOUBLE, NPY_DOUBLE, NPY_BOOL, NPY_DOUBLE,
                     NPY_DOUBLE, NPY_DOUBLE};

PTF_MODULE_DEF(stats_module, "loamara._stats");

}  // namespace

PyMODINIT_FUNC PyInit__stats(void) {
    PyObject* module = ptf::ptf_create_module(&stats_module, nullptr, 0);
    if (module == nullptr) {
        return nullptr;
    }
    PyObject* ufunc = PyUFunc_FromFuncAndDataAndSignature(
        loops, loop_data, loop_types, 1, 5, 1, PyUFunc_None,
        "ensemble_statistics", nullptr, 0, "(m),(m),(m),(m),(4)->(12)");
    if (ufunc == nullptr || PyModule_AddObject(module, "ensemble_statistics",
                                               ufunc) < 0) {
        Py_XDECREF(ufunc);
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
