// Entry point of the loamara._curves extension module: retention and
// conductivity curves and the USDA texture classes of
// ptf/curves/curve_table.cpp.  The import itself is ptf_create_module
// (module/ptf_module.cpp), the same as for _loamara.
#include "ptf_registry.h"

namespace {

PTF_MODULE_DEF(curves_module, "loamara._curves");

}  // namespace

PyMODINIT_FUNC PyInit__curves(void) {
    return ptf::ptf_create_module(&curves_module, ptf::kCurveTable,
                                  ptf::kCurveTableSize);
}
