// The registration table of loamara._curves: one row per ufunc, in
// registration order.  Retention curves theta(h) and their inverses
// (calc_swrc_*), conductivity curves (calc_hcc_*) and the USDA texture
// class.  Models stand in order of the parameters they need, fewest last:
// Durner's (1994) bimodal van Genuchten curve, van Genuchten (1980) with
// Mualem's conductivity, Kosugi's (1996) lognormal curve with Mualem's
// conductivity, Brooks and Corey (1964), Campbell (1974), the complete
// curve of Saxton and Rawls (2006); the texture class closes the table.
// Each row names the loops that its family file defines with PTF_LOOPS; the
// operand counts are part of those names, so a row and its kernel must
// agree on them for the module to link.
#include "ptf_registry.h"

#define CURVE_TABLE \
    PTF_ROW_F64(calc_swrc_durner, 8, 1) \
    PTF_ROW_F64(calc_swrc_van_genuchten, 6, 1) \
    PTF_ROW_F64(calc_swrc_van_genuchten_head, 6, 1) \
    PTF_ROW_F64(calc_hcc_mualem_van_genuchten, 5, 1) \
    PTF_ROW_F64(calc_swrc_kosugi, 5, 1) \
    PTF_ROW_F64(calc_hcc_kosugi, 5, 1) \
    PTF_ROW_F64(calc_swrc_brooks_corey, 5, 1) \
    PTF_ROW_F64(calc_hcc_brooks_corey, 4, 1) \
    PTF_ROW_F64(calc_swrc_campbell, 4, 1) \
    PTF_ROW_F64(calc_swrc_campbell_suction, 4, 1) \
    PTF_ROW_F64(calc_hcc_campbell, 4, 1) \
    PTF_ROW_F64(calc_swrc_saxton2006, 5, 1) \
    PTF_ROW_F64(calc_swrc_saxton2006_suction, 5, 1) \
    PTF_ROW_F64(calc_texture_usda, 3, 1)

#define PTF_TABLE_ROWS CURVE_TABLE
#define PTF_TABLE_ARRAY kCurveTable
#define PTF_TABLE_SIZE kCurveTableSize
#include "ptf_table_define.h"
