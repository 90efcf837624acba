// Registration rows and the kernel convention of the ufuncs of the three
// extension modules, _loamara, loamara._curves and loamara._more.
//
// Every ufunc of a module is one row of its registration table
// (module/ptf_table.cpp, ptf/curves/curve_table.cpp,
// ptf/more/more_table.cpp).  A row carries the
// ufunc's name, its numbers of inputs and outputs, the codes of its operand
// types and two inner loops: a strided loop and a contiguous loop.  Both
// loops are made by the templates below from one per-element kernel, so
// that they evaluate the same formula operation for operation and cannot
// diverge.
//
// Kernel convention.  A family source file (ptf/models/*.cpp,
// ptf/regressions/*.cpp or ptf/curves/*.cpp) writes each formula as a struct
//
//     struct Meadow {
//         static constexpr int nin = 3, nout = 3;
//         static inline void eval(const double* x, double* y) { ... }
//     };
//
// where eval reads the nin input values of one element from x[0..nin-1] and
// writes its nout outputs to y[0..nout-1].  A kernel with a value that is
// the same for every element (Weber et al. 2020) may compute it once per
// call that has elements: it declares `struct call_state`, a function
// `static call_state begin_call()` and takes the state as a third argument,
// `eval(x, y, state)`.  A kernel whose inputs are not
// float64 declares `using in_type = ...;`.  eval is a pure function:
// no state, no allocation, no locks, no interpreter calls, no error.
//
// Index rows.  A ufunc whose single input is a class index (the texture
// classes of Clapp and Hornberger 1978) has two loops, one for an unsigned
// 32-bit index and one for a signed 64-bit index, made from one kernel
// template over the index type:
//
//     template <class Index> struct Classes { using in_type = Index; ... };
//     PTF_INDEX_LOOPS(calc_ptf_clapp1978, 1, 6, Classes)
//
// and registered by a PTF_ROW_INDEX row.  The row's promoter sends signed
// integers (and Python ints) to the int64 loop, so that NumPy's default
// integer needs no cast, and other operands to the uint32 loop (see
// module/ptf_registry.cpp).  ClassLookup (module/ptf_class_table.h) is such
// a kernel for a table of per-class values.
//
// Staged kernels.  A formula that is a chain of C-library calls and
// arithmetic (log10, then a quotient, then exp) may instead be written as
// stages, each one part of the chain:
//
//     struct Saxton {  // Saxton et al. in Ferrer-Julia et al. (2004)
//         static constexpr int nin = 2, nout = 1;
//         static constexpr int nstages = 3, ncarry = 3;
//         template <int S>
//         static inline void stage(const double* x, double* c, double* y);
//     };
//
// Stage 0 reads the inputs x[0..nin-1]; the last stage writes the outputs
// y[0..nout-1]; each stage reads and writes the values c[0..ncarry-1] that
// one stage hands to the next (x is read by no other stage, y written by
// no other).  One element is stage 0, stage 1, ... in order, which is the
// formula's own sequence of operations: the strided loop evaluates every
// element so.  The contiguous loop, when the elements are independent, runs
// each stage over a strip of elements before the next one starts (see
// staged_strips below; a kernel may set its strip length, `strip`).
// ScaledExp below makes the staged kernel of a formula exp(t) * a.
//
// The family file then makes the row's two loops with
//
//     PTF_LOOPS(calc_ptf_varallyai1982_meadow, 3, 3, Meadow)
//
// which checks the counts against the kernel and defines the functions the
// registration row refers to.  A row whose counts disagree with its kernel
// does not link.
#ifndef LOAMARA_PTF_REGISTRY_H
#define LOAMARA_PTF_REGISTRY_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#ifndef NPY_NO_DEPRECATED_API
#define NPY_NO_DEPRECATED_API NPY_2_0_API_VERSION
#endif
#ifndef NPY_TARGET_VERSION
#define NPY_TARGET_VERSION NPY_2_0_API_VERSION
#endif
#define PY_ARRAY_UNIQUE_SYMBOL loamara_ARRAY_API
#define PY_UFUNC_UNIQUE_SYMBOL loamara_UFUNC_API
#ifndef LOAMARA_DEFINE_API_TABLES
#define NO_IMPORT_ARRAY
#define NO_IMPORT_UFUNC
#endif
#include <numpy/ndarraytypes.h>
#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>
#include <numpy/dtype_api.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

// Loop hints, spelled for each compiler: a loop whose iterations are
// independent, a loop not to be unrolled, and a helper that is always
// inlined into the loops.  Each is only a hint and changes no value; a
// compiler that knows none of them (the last branch) builds the same loops
// unhinted.  Clang (Apple's included, which also defines __clang__ and
// __GNUC__, so its branch comes first) vectorises a loop marked
// assume_safety where it can and warns where it cannot (a loop of libm
// calls it has no vector form of), which -Werror would turn into an error:
// that warning is switched off for the files that include this header.
// GCC takes ivdep as a plain hint.  MSVC knows loop(ivdep) and
// __forceinline, and nothing like "unroll 1".
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wpass-failed"
#define PTF_INDEPENDENT_ITERATIONS \
    _Pragma("clang loop vectorize(assume_safety)")
#define PTF_NOT_UNROLLED _Pragma("clang loop unroll(disable)")
#define PTF_ALWAYS_INLINE [[gnu::always_inline]] inline
#elif defined(__GNUC__)
#define PTF_INDEPENDENT_ITERATIONS _Pragma("GCC ivdep")
#define PTF_NOT_UNROLLED _Pragma("GCC unroll 1")
#define PTF_ALWAYS_INLINE [[gnu::always_inline]] inline
#elif defined(_MSC_VER)
#define PTF_INDEPENDENT_ITERATIONS __pragma(loop(ivdep))
#define PTF_NOT_UNROLLED
#define PTF_ALWAYS_INLINE __forceinline
#else
#define PTF_INDEPENDENT_ITERATIONS
#define PTF_NOT_UNROLLED
#define PTF_ALWAYS_INLINE inline
#endif

// Prefetch hints: load the cache line at p for reading or for writing.
// GCC and Clang have a builtin; MSVC on x86 and x86-64 the SSE intrinsic
// (read hint only); anywhere else (MSVC on ARM64 included) the hint is
// nothing and p is only evaluated.
#if defined(__GNUC__) || defined(__clang__)
#define PTF_PREFETCH_READ(p) __builtin_prefetch((p), 0, 3)
#define PTF_PREFETCH_WRITE(p) __builtin_prefetch((p), 1, 3)
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <xmmintrin.h>
#define PTF_PREFETCH_READ(p) \
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0)
#define PTF_PREFETCH_WRITE(p) PTF_PREFETCH_READ(p)
#else
#define PTF_PREFETCH_READ(p) ((void)(p))
#define PTF_PREFETCH_WRITE(p) ((void)(p))
#endif

namespace ptf {

// Operand type codes, turned into NumPy DType classes at registration.
enum PtfType : std::uint8_t {
    kF64 = 0,  // float64, PyArray_DoubleDType (the default of every operand)
    kU32 = 1,  // uint32, PyArray_UInt32DType
    kI64 = 2,  // int64, PyArray_Int64DType (second loop of an index row)
};

// nin is at most 13 and nout at most 12; no row has more than 17 operands.
constexpr int kMaxOperands = 17;

// NumPy's strided-loop signature.
using PtfLoop = int (*)(PyArrayMethod_Context*, char* const*, const npy_intp*,
                        const npy_intp*, NpyAuxData*);

// A further loop of a row: the same kernel with another type of the first
// input (every other operand as in the row).  Null loops: none.
struct PtfExtraLoop {
    std::uint8_t first;                  // PtfType code of the first input
    PtfLoop strided;
    PtfLoop contiguous;
};

// One row of the registration table.
struct PtfUfuncEntry {
    const char* name;                    // ufunc, loop and attribute name
    int nin;                             // 1 to 13
    int nout;                            // 1 to 12
    std::uint8_t types[kMaxOperands];    // PtfType codes, inputs then outputs
    PtfLoop strided;                     // NPY_METH_strided_loop
    PtfLoop contiguous;                  // NPY_METH_contiguous_loop
    PtfExtraLoop extra;                  // index rows: the int64 loop
};

// The tables of the three extension modules, in registration order, and
// their lengths: _loamara's pedotransfer functions (module/ptf_table.cpp),
// loamara._curves' retention and conductivity curves and texture classes
// (ptf/curves/curve_table.cpp) and loamara._more's further pedotransfer
// functions and class tables (ptf/more/more_table.cpp).  Each module links
// only its own table.
extern const PtfUfuncEntry kPtfTable[];
extern const int kPtfTableSize;
extern const PtfUfuncEntry kCurveTable[];
extern const int kCurveTableSize;
extern const PtfUfuncEntry kMoreTable[];
extern const int kMoreTableSize;

// Creates one ufunc per row of table[0..size-1], in order, and adds it to
// the module.  Returns 0, or -1 with the exception of the failing NumPy or
// interpreter call set; the caller then releases the module (and with it
// every ufunc already added).
int ptf_register_table(PyObject* module, const PtfUfuncEntry* table,
                       int size);

// The whole import of a module: creates it from its static definition
// (single-phase, API version 1013), binds NumPy's array and ufunc C-API
// tables and registers the rows of its table.  Returns the new module, or
// null with an exception set and the module released.
PyObject* ptf_create_module(PyModuleDef* def, const PtfUfuncEntry* table,
                            int size);

// The static definition of an extension module of this project, `var`,
// named `dotted_name`: single-phase initialisation, no docstring, no
// methods, no slots, no per-module state.
#define PTF_MODULE_DEF(var, dotted_name)                                 \
    PyModuleDef var = {PyModuleDef_HEAD_INIT, dotted_name, nullptr, -1, \
                       nullptr, nullptr, nullptr, nullptr, nullptr}

// Input element type of a kernel: double unless it declares in_type.
template <class K, class = void>
struct kernel_input {
    using type = double;
};
template <class K>
struct kernel_input<K, std::void_t<typename K::in_type>> {
    using type = typename K::in_type;
};

// True for a staged kernel (see above).
template <class K, class = void>
struct kernel_staged : std::false_type {};
template <class K>
struct kernel_staged<K, std::void_t<decltype(K::nstages)>> : std::true_type {
    static_assert(K::nstages >= 2 && K::ncarry >= 1,
                  "a staged kernel has two or more stages and carries a value");
    static_assert(std::is_same<typename kernel_input<K>::type, double>::value,
                  "a staged kernel reads float64 inputs");
};

// One element of a staged kernel: its stages S, S + 1, ... in order.
template <class K, int S = 0>
PTF_ALWAYS_INLINE void eval_stages(const double* x, double* c, double* y) {
    K::template stage<S>(x, c, y);
    if constexpr (S + 1 < K::nstages) {
        eval_stages<K, S + 1>(x, c, y);
    }
}

// A kernel y = exp(t) * a, whose exponent t is arithmetic on the inputs and
// whose factor a is applied after exp, as a staged kernel of two stages:
// the exponent (vectorised across a strip), then exp and the factor.
// Formula declares nin, `static double exponent(const double* x)` and
// `static constexpr double factor`.  Taken element by element, in the
// prefetching blocks of the contiguous loop, the Ferrer-Julia kernels of
// this form ran at 1.37 to 1.45 times the cost of their exp calls plus
// their memory traffic at 10^5 elements, 1.20 to 1.24 at 10^6 and up to
// 1.19 at 10^7; in strips at 1.08 to 1.13, 0.95 to 1.00 and 0.84 to 0.98.
template <class Formula>
struct ScaledExp {
    static constexpr int nin = Formula::nin, nout = 1;
    static constexpr int nstages = 2, ncarry = 1;
    template <int S>
    static inline void stage(const double* x, double* c, double* y) {
        if constexpr (S == 0) {
            c[0] = Formula::exponent(x);
        } else {
            y[0] = std::exp(c[0]) * Formula::factor;
        }
    }
};

// Per-call state of a kernel, if it declares one (see above).
template <class K, class = void>
struct kernel_call {
    struct none {};
    static none begin() { return none{}; }
    template <class In>
    static inline void eval(const In* x, double* y, none) {
        if constexpr (kernel_staged<K>::value) {
            double c[K::ncarry];
            eval_stages<K>(x, c, y);
        } else {
            K::eval(x, y);
        }
    }
};
template <class K>
struct kernel_call<K, std::void_t<typename K::call_state>> {
    static typename K::call_state begin() { return K::begin_call(); }
    template <class In>
    static inline void eval(const In* x, double* y,
                            const typename K::call_state& st) {
        K::eval(x, y, st);
    }
};

// One element: all nin inputs of element i read, the kernel evaluated, all
// nout outputs of element i written.  Both loop forms are built from this.
template <class K, class In, class State>
PTF_ALWAYS_INLINE void eval_element(const In* const* ip,
                                                double* const* op, npy_intp i,
                                                const State& state) {
    In x[K::nin];
    double y[K::nout];
    for (int k = 0; k < K::nin; ++k) {
        x[k] = ip[k][i];
    }
    kernel_call<K>::eval(x, y, state);
    for (int j = 0; j < K::nout; ++j) {
        op[j][i] = y[j];
    }
}

// Byte range [lo, hi) of n elements of `size` bytes at p, stride s.
inline void operand_span(const char* p, npy_intp s, npy_intp n, npy_intp size,
                         const char*& lo, const char*& hi) {
    if (s >= 0) {
        lo = p;
        hi = p + s * (n - 1) + size;
    } else {
        lo = p + s * (n - 1);
        hi = p + size;
    }
}

// True if the n elements of the call are independent of each other: every
// output either coincides with another operand element for element (same
// address, same non-zero stride: in-place use) or shares no byte with it.
// Then the elements may be evaluated in groups, several at once in vector
// registers, with the same result as one after the other.  NumPy copies
// partially overlapping operands before it calls a loop, so this holds for
// its ordinary calls; anything else takes the element-by-element path.
template <class In>
inline bool elements_independent(char* const data[], const npy_intp strides[],
                                 int nin, int nout, npy_intp n) {
    if (n <= 1) {
        return true;
    }
    const npy_intp in_size = static_cast<npy_intp>(sizeof(In));
    const npy_intp out_size = static_cast<npy_intp>(sizeof(double));
    for (int j = nin; j < nin + nout; ++j) {
        const npy_intp so = strides[j];
        if (so == 0) {
            return false;
        }
        const char *olo, *ohi;
        operand_span(data[j], so, n, out_size, olo, ohi);
        for (int k = 0; k < nin + nout; ++k) {
            if (k == j) {
                continue;
            }
            const npy_intp size = k < nin ? in_size : out_size;
            if (data[k] == data[j] && strides[k] == so && size == out_size) {
                continue;
            }
            const char *lo, *hi;
            operand_span(data[k], strides[k], n, size, lo, hi);
            if (lo < ohi && olo < hi) {
                return false;
            }
        }
    }
    return true;
}

// Strided loop: element i of operand k lies at data[k] + i * strides[k];
// strides may be zero or negative.  All inputs of an element are read into
// locals before any output of that element is written, so an output that
// shares its memory with an input (in-place use) gives the same values, and
// a reduction (output and first input at one address, stride 0) folds the
// elements in order.  (Gathering blocks of elements into packed buffers to
// vectorise them was measured slower for most ufuncs: the extra copies cost
// more than the vector arithmetic saves.)
template <class K>
int strided_loop(PyArrayMethod_Context*, char* const data[],
                 const npy_intp dimensions[], const npy_intp strides[],
                 NpyAuxData*) {
    using In = typename kernel_input<K>::type;
    constexpr int nin = K::nin;
    constexpr int nout = K::nout;
    const npy_intp n = dimensions[0];
    if (n <= 0) {
        return 0;
    }
    const auto state = kernel_call<K>::begin();
    const char* ip[nin];
    npy_intp is[nin];
    char* op[nout];
    npy_intp os[nout];
    for (int k = 0; k < nin; ++k) {
        ip[k] = data[k];
        is[k] = strides[k];
    }
    for (int j = 0; j < nout; ++j) {
        op[j] = data[nin + j];
        os[j] = strides[nin + j];
    }
    for (npy_intp i = 0; i < n; ++i) {
        In x[nin];
        double y[nout];
        for (int k = 0; k < nin; ++k) {
            std::memcpy(&x[k], ip[k], sizeof(In));
            ip[k] += is[k];
        }
        kernel_call<K>::eval(x, y, state);
        for (int j = 0; j < nout; ++j) {
            std::memcpy(op[j], &y[j], sizeof(double));
            op[j] += os[j];
        }
    }
    return 0;
}

// Software prefetch of packed operands.  Measured at 10^7 elements on the
// development machine, the processor's own prefetching did not keep a loop
// with arithmetic between its loads and stores at the speed of a plain copy
// (a C loop y = x * a + b: 1.40 ns per element against 1.13 for the copy;
// Varallyai's meadow equations: 1.69 times a loop that streams the same six
// arrays), and asking for each cache line kPrefetchAhead elements before it
// is used brought both to the speed of memory (1.01 ns; 1.00 times).  The
// hint changes no value and raises no flag; it is given once per cache
// line of each operand (kPrefetchBlock elements) and only for lines inside
// the arrays.  A staged kernel asks for the lines of the next strip while
// it evaluates one, if they are at most kPrefetchBurst: a larger burst of
// requests stalled the processor (Saxton 2006, 13 arrays in strips of 128:
// 1.30 times its floor at 10^7 against 1.16 without).
constexpr npy_intp kPrefetchBlock = 8;
constexpr npy_intp kPrefetchAhead = 64;
constexpr npy_intp kPrefetchBurst = 48;

template <int N, class T>
PTF_ALWAYS_INLINE void prefetch_read(const T* const* p, npy_intp i) {
    for (int k = 0; k < N; ++k) {
        PTF_PREFETCH_READ(p[k] + i);
    }
}

template <int N>
PTF_ALWAYS_INLINE void prefetch_write(double* const* p, npy_intp i) {
    for (int k = 0; k < N; ++k) {
        PTF_PREFETCH_WRITE(p[k] + i);
    }
}

// Strip form of a staged kernel.  The elements of a strip are taken stage
// by stage: stage 0 for all of them, then stage 1 for all, and so on, with
// the carried values in a local array per value.  A stage that calls the C
// library then makes a strip of independent calls in a row, which the
// processor overlaps, instead of waiting for one element's log10 before its
// quotient and for the quotient before its exp; a stage of arithmetic only
// is vectorised across the strip, its loads and stores of whole vectors
// included.  Within a strip every input of every element is read (stage 0)
// before any output is written (last stage), so in-place use gives the
// element form's results.  Only called for independent elements.
//
// The strip is 128 elements unless the kernel sets `strip`: long enough
// for the calls of a stage to overlap, short enough for the carried values
// to stay in the first-level cache (1 KiB each).  A kernel with many input
// and output streams and few calls does better with short strips, whose
// bursts of memory traffic the processor still overlaps with the calls of
// the neighbouring stages (the figures are at the kernels).
template <class K, class = void>
struct kernel_strip {
    static constexpr npy_intp value = 128;
};
template <class K>
struct kernel_strip<K, std::void_t<decltype(K::strip)>> {
    static constexpr npy_intp value = K::strip;
};

template <class K, int S>
PTF_ALWAYS_INLINE void strip_stage(const double* const* ip,
                                   double* const* op,
                                   double (*carry)[kernel_strip<K>::value],
                                   npy_intp base, npy_intp m) {
PTF_INDEPENDENT_ITERATIONS
    for (npy_intp i = 0; i < m; ++i) {
        double x[K::nin];
        double c[K::ncarry] = {};  // a value set by a later stage: stored as 0
        double y[K::nout];
        if constexpr (S == 0) {
            for (int k = 0; k < K::nin; ++k) {
                x[k] = ip[k][base + i];
            }
        } else {
            for (int k = 0; k < K::ncarry; ++k) {
                c[k] = carry[k][i];
            }
        }
        K::template stage<S>(x, c, y);
        if constexpr (S + 1 < K::nstages) {
            for (int k = 0; k < K::ncarry; ++k) {
                carry[k][i] = c[k];
            }
        } else {
            for (int j = 0; j < K::nout; ++j) {
                op[j][base + i] = y[j];
            }
        }
    }
}

template <class K, int S = 0>
PTF_ALWAYS_INLINE void strip_stages(const double* const* ip,
                                    double* const* op,
                                    double (*carry)[kernel_strip<K>::value],
                                    npy_intp base, npy_intp m) {
    strip_stage<K, S>(ip, op, carry, base, m);
    if constexpr (S + 1 < K::nstages) {
        strip_stages<K, S + 1>(ip, op, carry, base, m);
    }
}

template <class K>
PTF_ALWAYS_INLINE void staged_strips(const double* const* ip,
                                     double* const* op, npy_intp n) {
    constexpr npy_intp strip = kernel_strip<K>::value;
    double carry[K::ncarry][strip];
    for (npy_intp base = 0; base < n; base += strip) {
        const npy_intp m = n - base < strip ? n - base : strip;
        // The lines of the next strip, while this one is evaluated, if
        // they are few enough to be asked for at once.
        if constexpr ((K::nin + K::nout) * (strip / kPrefetchBlock) <=
                      kPrefetchBurst) {
            const npy_intp end = base + 2 * strip < n ? base + 2 * strip : n;
            for (npy_intp p = base + strip; p < end; p += kPrefetchBlock) {
                prefetch_read<K::nin>(ip, p);
                prefetch_write<K::nout>(op, p);
            }
        }
        strip_stages<K>(ip, op, carry, base, m);
    }
}

// Contiguous loop: every operand is packed, element i of operand k is the
// i-th value of the array at data[k].  Same per-element operations as the
// strided loop; when the elements are independent (always, for NumPy's
// calls) the compiler may evaluate several consecutive elements at once in
// vector registers, each lane rounding exactly as the scalar code does.
template <class K>
PTF_ALWAYS_INLINE int contiguous_loop(
    PyArrayMethod_Context*, char* const data[], const npy_intp dimensions[],
    const npy_intp*, NpyAuxData*) {
    using In = typename kernel_input<K>::type;
    constexpr int nin = K::nin;
    constexpr int nout = K::nout;
    const npy_intp n = dimensions[0];
    if (n <= 0) {
        return 0;
    }
    const auto state = kernel_call<K>::begin();
    const In* ip[nin];
    double* op[nout];
    npy_intp packed[nin + nout];
    for (int k = 0; k < nin; ++k) {
        ip[k] = reinterpret_cast<const In*>(data[k]);
        packed[k] = static_cast<npy_intp>(sizeof(In));
    }
    for (int j = 0; j < nout; ++j) {
        op[j] = reinterpret_cast<double*>(data[nin + j]);
        packed[nin + j] = static_cast<npy_intp>(sizeof(double));
    }
    if (elements_independent<In>(data, packed, nin, nout, n)) {
        if constexpr (kernel_staged<K>::value) {
            staged_strips<K>(ip, op, n);
        } else {
            // Blocks of kPrefetchBlock elements, each asking for the lines
            // kPrefetchAhead elements on, then the rest.
            npy_intp i = 0;
            for (; i + kPrefetchAhead + kPrefetchBlock <= n;
                 i += kPrefetchBlock) {
                prefetch_read<nin>(ip, i + kPrefetchAhead);
                prefetch_write<nout>(op, i + kPrefetchAhead);
                // Vectorised, not unrolled into scalar code.
PTF_NOT_UNROLLED
PTF_INDEPENDENT_ITERATIONS
                for (npy_intp e = i; e < i + kPrefetchBlock; ++e) {
                    eval_element<K>(ip, op, e, state);
                }
            }
PTF_INDEPENDENT_ITERATIONS
            for (; i < n; ++i) {
                eval_element<K>(ip, op, i, state);
            }
        }
    } else {
        for (npy_intp i = 0; i < n; ++i) {
            eval_element<K>(ip, op, i, state);
        }
    }
    return 0;
}

}  // namespace ptf

// Names of the two loops of a row; the counts are part of the name, so that a
// registration row and its kernel must agree on them to link.
#define PTF_STRIDED(name, nin, nout) name##_##nin##_##nout##_strided
#define PTF_CONTIGUOUS(name, nin, nout) name##_##nin##_##nout##_contiguous

// The contiguous loops are compiled for several x86-64 vector extensions;
// the best one the processor offers is chosen when the module is loaded.
// None of them contracts or reorders floating-point operations.  Only GCC
// on x86-64 Linux with glibc: the choice at load time is an indirect
// function (ifunc) resolved by glibc's dynamic loader, which musl's loader
// does not support (__GLIBC__ comes with <cmath> above).  Elsewhere (musl,
// Clang, Apple Clang, MSVC) each contiguous loop is built once, for the
// baseline instruction set (SSE2 on x86-64, NEON on arm64), with the same
// values.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && \
    defined(__linux__) && defined(__GLIBC__) && !defined(LOAMARA_NO_CLONES)
#define PTF_VECTOR_CLONES \
    __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define PTF_VECTOR_CLONES
#endif

// Rows of a registration table.  A table file writes its rows once, as an
// X-macro list of PTF_ROW_F64 / PTF_ROW_INDEX entries, and defines the table
// by including ptf_table_define.h, which expands the list twice: with
// PTF_ROW_TYPED defined as PTF_ROW_DECLARATION to declare the loops that the
// family files define, then as PTF_ROW_INITIALISER inside the table's
// initialiser.  The last argument of PTF_ROW_TYPED names the kind of row.
// All operands float64: one loop.
#define PTF_ROW_F64(name, nin, nout) PTF_ROW_TYPED(name, nin, nout, F64)
// Single class-index input, float64 outputs: a uint32 loop and an int64
// loop, both defined by PTF_INDEX_LOOPS.
#define PTF_ROW_INDEX(name, nin, nout) PTF_ROW_TYPED(name, nin, nout, INDEX)
#define PTF_ROW_DECLARATION(name, nin, nout, kind) \
    PTF_ROW_DECLARE_##kind(name, nin, nout)
#define PTF_ROW_INITIALISER(name, nin, nout, kind)               \
    {#name, nin, nout, PTF_ROW_TYPES_##kind,                     \
     &PTF_STRIDED(name, nin, nout), &PTF_CONTIGUOUS(name, nin, nout), \
     PTF_ROW_EXTRA_##kind(name, nin, nout)},
#define PTF_ROW_DECLARE_F64(name, nin, nout) PTF_DECLARE_LOOPS(name, nin, nout)
#define PTF_ROW_TYPES_F64 {}
#define PTF_ROW_EXTRA_F64(name, nin, nout) {}
#define PTF_ROW_DECLARE_INDEX(name, nin, nout) \
    PTF_DECLARE_LOOPS(name, nin, nout)         \
    PTF_DECLARE_LOOPS(name##_i64, nin, nout)
#define PTF_ROW_TYPES_INDEX {::ptf::kU32}
#define PTF_ROW_EXTRA_INDEX(name, nin, nout)           \
    {::ptf::kI64, &PTF_STRIDED(name##_i64, nin, nout), \
     &PTF_CONTIGUOUS(name##_i64, nin, nout)}

#define PTF_DECLARE_LOOPS(name, nin, nout)                                   \
    int PTF_STRIDED(name, nin, nout)(PyArrayMethod_Context*, char* const*,   \
                                     const npy_intp*, const npy_intp*,       \
                                     NpyAuxData*);                           \
    int PTF_CONTIGUOUS(name, nin, nout)(PyArrayMethod_Context*,              \
                                        char* const*, const npy_intp*,       \
                                        const npy_intp*, NpyAuxData*);

// Defines the strided and contiguous loops of one ufunc from its kernel.
#define PTF_LOOPS(name, n_in, n_out, Kernel)                                 \
    static_assert(Kernel::nin == (n_in) && Kernel::nout == (n_out),          \
                  "operand counts of " #name " disagree with its kernel");   \
    PTF_DECLARE_LOOPS(name, n_in, n_out)                                     \
    int PTF_STRIDED(name, n_in, n_out)(PyArrayMethod_Context * c,            \
                                       char* const* d, const npy_intp* n,    \
                                       const npy_intp* s, NpyAuxData* a) {   \
        return ::ptf::strided_loop<Kernel>(c, d, n, s, a);                   \
    }                                                                        \
    PTF_VECTOR_CLONES                                                        \
    int PTF_CONTIGUOUS(name, n_in, n_out)(PyArrayMethod_Context * c,         \
                                          char* const* d, const npy_intp* n, \
                                          const npy_intp* s,                 \
                                          NpyAuxData* a) {                   \
        return ::ptf::contiguous_loop<Kernel>(c, d, n, s, a);                \
    }

// Defines the two loops of an index row (PTF_ROW_INDEX) from a kernel
// template over the index type: KernelTemplate<std::uint32_t> for the
// uint32 loop, KernelTemplate<std::int64_t> for the int64 loop.
#define PTF_INDEX_LOOPS(name, n_in, n_out, KernelTemplate)         \
    PTF_LOOPS(name, n_in, n_out, KernelTemplate<std::uint32_t>)    \
    PTF_LOOPS(name##_i64, n_in, n_out, KernelTemplate<std::int64_t>)

#endif  // LOAMARA_PTF_REGISTRY_H
