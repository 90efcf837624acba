// Class tables as kernels: a ufunc that looks up the row of a class index
// (uint32) and copies its columns to the outputs.  A row of NaN stands for
// a class the publication has no values for; an index past the last row
// gives the positive quiet NaN (bit pattern 0x7ff8000000000000) in every
// output, as the table of Clapp and Hornberger (1978) in _loamara does.
#ifndef LOAMARA_CLASS_TABLE_H
#define LOAMARA_CLASS_TABLE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace ptf {

inline double class_missing() {
    constexpr std::uint64_t kBits = 0x7ff8000000000000ULL;
    double d;
    std::memcpy(&d, &kBits, sizeof d);
    return d;
}

template <class T>
struct table_shape;
template <std::size_t R, std::size_t C>
struct table_shape<const double[R][C]> {
    static constexpr std::uint32_t rows = static_cast<std::uint32_t>(R);
    static constexpr int cols = static_cast<int>(C);
};

// Input: the class index.  Outputs: the columns of its row.
template <const auto& Table>
struct ClassTable {
    using shape = table_shape<std::remove_reference_t<decltype(Table)>>;
    using in_type = std::uint32_t;
    static constexpr int nin = 1, nout = shape::cols;
    static inline void eval(const std::uint32_t* x, double* y) {
        const std::uint32_t k = x[0];
        if (k < shape::rows) {
            for (int j = 0; j < nout; ++j) {
                y[j] = Table[k][j];
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

#endif  // LOAMARA_CLASS_TABLE_H
