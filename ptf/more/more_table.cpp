// The registration table of loamara._more: one row per ufunc, in
// registration order.  Families stand in alphabetical order of the author
// word of their names; within a family the continuous functions come
// before the class tables.  Each row names the loops that its family file
// defines with PTF_LOOPS; the operand counts are part of those names, so a
// row and its kernel must agree on them for the module to link.
#include "ptf_registry.h"

#define MORE_TABLE \
    PTF_ROW_INDEX(calc_ptf_carsel1988, 1, 5) \
    PTF_ROW_F64(calc_ptf_cosby1984, 3, 4) \
    PTF_ROW_INDEX(calc_ptf_rawls1982_class, 1, 5) \
    PTF_ROW_F64(calc_ptf_rawls1985, 3, 3) \
    PTF_ROW_INDEX(calc_ptf_schaap2001_class, 1, 7) \
    PTF_ROW_F64(calc_ptf_toth2015, 6, 4) \
    PTF_ROW_F64(calc_ptf_toth2015_ptf05, 5, 1) \
    PTF_ROW_F64(calc_ptf_toth2015_ptf09, 3, 1) \
    PTF_ROW_F64(calc_ptf_toth2015_ptf12, 3, 1) \
    PTF_ROW_F64(calc_ptf_weynants2009, 4, 5) \
    PTF_ROW_F64(calc_ptf_wosten1999, 5, 5) \
    PTF_ROW_INDEX(calc_ptf_wosten1999_class, 1, 7)

#define PTF_TABLE_ROWS MORE_TABLE
#define PTF_TABLE_ARRAY kMoreTable
#define PTF_TABLE_SIZE kMoreTableSize
#include "ptf_table_define.h"
