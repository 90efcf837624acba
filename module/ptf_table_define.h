// Defines one registration table from its rows.  A table file defines
//   PTF_TABLE_ROWS   its rows, an X-macro list of PTF_ROW_F64 /
//                    PTF_ROW_INDEX,
//   PTF_TABLE_ARRAY  the name of the table (in namespace ptf),
//   PTF_TABLE_SIZE   the name of its length (in namespace ptf),
// and then includes this file once.  The rows are expanded twice: first to
// declare the loops that the family files define with PTF_LOOPS (or
// PTF_INDEX_LOOPS), then as the table's initialiser.
#ifndef PTF_TABLE_ROWS
#error "define PTF_TABLE_ROWS, PTF_TABLE_ARRAY and PTF_TABLE_SIZE first"
#endif

#define PTF_ROW_TYPED PTF_ROW_DECLARATION
PTF_TABLE_ROWS
#undef PTF_ROW_TYPED

namespace ptf {

#define PTF_ROW_TYPED PTF_ROW_INITIALISER
const PtfUfuncEntry PTF_TABLE_ARRAY[] = {PTF_TABLE_ROWS};
#undef PTF_ROW_TYPED

const int PTF_TABLE_SIZE =
    static_cast<int>(sizeof(PTF_TABLE_ARRAY) / sizeof(PTF_TABLE_ARRAY[0]));

}  // namespace ptf
