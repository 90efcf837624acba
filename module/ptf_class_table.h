// Lookup kernels of class tables: a published table of values per class
// (a texture class, a soil group) read by a class index, for the two loops
// of an index row (PTF_ROW_INDEX, PTF_INDEX_LOOPS in ptf_registry.h).
//
// A table is a struct
//
//     struct Classes {
//         static constexpr int nclasses = 11, ncolumns = 6;
//         static constexpr double rows[nclasses][ncolumns] = {...};
//     };
//
// and its kernel template is ClassLookup<Classes, Index>, made a template
// of the index type alone by an alias:
//
//     template <class Index> using Lookup = ptf::ClassLookup<Classes, Index>;
//     PTF_INDEX_LOOPS(calc_ptf_clapp1978, 1, 6, Lookup)
#ifndef LOAMARA_PTF_CLASS_TABLE_H
#define LOAMARA_PTF_CLASS_TABLE_H

#include "ptf_registry.h"

namespace ptf {

// The positive quiet NaN, bit pattern 0x7ff8000000000000, written to every
// output of an index outside the table.
inline double class_missing() {
    constexpr std::uint64_t kBits = 0x7ff8000000000000ULL;
    double d;
    std::memcpy(&d, &kBits, sizeof d);
    return d;
}

// Input: a class index of type Index (uint32 or int64).  Outputs: the
// columns of its row, copied, not recomputed; the quiet NaN in every output
// for an index outside 0 .. nclasses - 1.  The index is compared as an
// unsigned number of its own width, so a negative int64 index lies above
// every class and reads nothing.
template <class Table, class Index>
struct ClassLookup {
    static_assert(std::is_integral<Index>::value, "a class index is whole");
    using in_type = Index;
    static constexpr int nin = 1, nout = Table::ncolumns;
    static inline void eval(const Index* x, double* y) {
        using Unsigned = typename std::make_unsigned<Index>::type;
        const Unsigned k = static_cast<Unsigned>(x[0]);
        if (k < static_cast<Unsigned>(Table::nclasses)) {
            for (int j = 0; j < nout; ++j) {
                y[j] = Table::rows[k][j];
            }
        } else {
            const double nan = class_missing();
            for (int j = 0; j < nout; ++j) {
                y[j] = nan;
            }
        }
    }
};

}  // namespace ptf

#endif  // LOAMARA_PTF_CLASS_TABLE_H
