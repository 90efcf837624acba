// Entry point of the loamara._curves extension module: retention and
// conductivity curves and the USDA texture classes of
// ptf/curves/curve_table.cpp.  The import itself is ptf_create_module
// (module/ptf_module.cpp), the same as for _loamara.
#include "ptf_registry.h"

namespace {

PyModuleDef curves_module = {
    PyModuleDef_HEAD_INIT,
    "loamara._curves",  // name
    nullptr,            // no docstring
    -1,                 // no per-module state
    nullptr,            // no methods
    nullptr,            // no slots
    nullptr,            // traverse
    nullptr,            // clear
    nullptr,            // free
};

}  // namespace

PyMODINIT_FUNC PyInit__curves(void) {
    return ptf::ptf_create_module(&curves_module, ptf::kCurveTable,
                                  ptf::kCurveTableSize);
}
