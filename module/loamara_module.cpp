// Entry point of the _loamara extension module: the 176 pedotransfer
// functions of module/ptf_table.cpp.  The import itself is
// ptf_create_module (module/ptf_module.cpp).
#include "ptf_registry.h"

namespace {

PyModuleDef loamara_module = {
    PyModuleDef_HEAD_INIT,
    "_loamara",  // name
    nullptr,     // no docstring
    -1,          // no per-module state
    nullptr,     // no methods
    nullptr,     // no slots
    nullptr,     // traverse
    nullptr,     // clear
    nullptr,     // free
};

}  // namespace

PyMODINIT_FUNC PyInit__loamara(void) {
    return ptf::ptf_create_module(&loamara_module, ptf::kPtfTable,
                                  ptf::kPtfTableSize);
}
