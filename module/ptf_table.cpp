// The registration table: one row per ufunc, in registration order.
//
// Families stand in alphabetical order of the author word of their names;
// within a family the rows keep the order of the publication's equations.
// Each row names the loops that its family file defines with PTF_LOOPS;
// the operand counts are part of those names, so a row and its kernel must
// agree on them for the module to link.
#include "ptf_registry.h"

// All operands float64.
#define PTF_ROW_F64(name, nin, nout) PTF_ROW_TYPED(name, nin, nout, {})
// Single uint32 input, float64 outputs.
#define PTF_ROW_U32(name, nin, nout) \
    PTF_ROW_TYPED(name, nin, nout, {::ptf::kU32})

#define PTF_TABLE \
    PTF_ROW_F64(calc_ptf_ahuja1984, 4, 1) \
    PTF_ROW_F64(calc_ptf_aimrun2009, 4, 1) \
    PTF_ROW_F64(calc_ptf_jabro1992, 3, 1)

// Declarations of the loops that the family files define.
#define PTF_ROW_TYPED(name, nin, nout, types) PTF_DECLARE_LOOPS(name, nin, nout)
PTF_TABLE
#undef PTF_ROW_TYPED

namespace ptf {

#define PTF_ROW_TYPED(name, nin, nout, types)                         \
    {#name, nin, nout, types, &PTF_STRIDED(name, nin, nout),          \
     &PTF_CONTIGUOUS(name, nin, nout)},
const PtfUfuncEntry kPtfTable[] = {PTF_TABLE};
#undef PTF_ROW_TYPED

const int kPtfTableSize =
    static_cast<int>(sizeof(kPtfTable) / sizeof(kPtfTable[0]));

}  // namespace ptf
