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
    PTF_ROW_U32(calc_ptf_clapp1978, 1, 6) \
    PTF_ROW_F64(calc_ptf_cosby1984_univariate, 3, 7) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_campbell_shiozawa, 2, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_saxton, 2, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_dane_puckett, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_puckett, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_cosby, 2, 1) \
    PTF_ROW_F64(calc_ptf_hodnett2002, 7, 4) \
    PTF_ROW_F64(calc_ptf_jabro1992, 3, 1) \
    PTF_ROW_F64(calc_ptf_li2007, 5, 4) \
    PTF_ROW_F64(calc_ptf_mayr1999, 5, 3) \
    PTF_ROW_F64(calc_ptf_puckett1985, 5, 11) \
    PTF_ROW_F64(calc_ptf_rawls1982_theta_1500, 2, 1) \
    PTF_ROW_F64(calc_ptf_rawls1982_theta_33, 3, 1) \
    PTF_ROW_F64(calc_ptf_rawls1982_full_wrc, 5, 12) \
    PTF_ROW_F64(calc_ptf_saxton2006, 3, 10) \
    PTF_ROW_F64(calc_ptf_saxton2006_density, 4, 4) \
    PTF_ROW_F64(calc_ptf_saxton2006_tension_dry, 3, 1) \
    PTF_ROW_F64(calc_ptf_saxton2006_tension_wet, 4, 1) \
    PTF_ROW_F64(calc_ptf_saxton2006_conductivity, 4, 1) \
    PTF_ROW_F64(calc_ptf_saxton2006_gravel, 4, 4) \
    PTF_ROW_F64(calc_ptf_saxton2006_salinity, 3, 2) \
    PTF_ROW_F64(calc_ptf_tiwary2014_igp, 3, 1) \
    PTF_ROW_F64(calc_ptf_tiwary2014_bsr, 6, 4) \
    PTF_ROW_F64(calc_ptf_varallyai1982_meadow, 3, 3) \
    PTF_ROW_F64(calc_ptf_varallyai1982_chernozem_a, 2, 3) \
    PTF_ROW_F64(calc_ptf_varallyai1982_chernozem_b, 2, 3) \
    PTF_ROW_F64(calc_ptf_varallyai1982_chernozem_c, 2, 3) \
    PTF_ROW_F64(calc_ptf_vereecken1989, 4, 4) \
    PTF_ROW_F64(calc_ptf_vereecken1989_detailed, 13, 4) \
    PTF_ROW_F64(calc_ptf_wang2012, 6, 3) \
    PTF_ROW_F64(calc_ptf_weber2020, 6, 7)

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
