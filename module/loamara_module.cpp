// Entry point of the _loamara extension module: the 176 pedotransfer
// functions of module/ptf_table.cpp.  The import itself is
// ptf_create_module (module/ptf_module.cpp).
#include "ptf_registry.h"

namespace {

PTF_MODULE_DEF(loamara_module, "_loamara");

}  // namespace

PyMODINIT_FUNC PyInit__loamara(void) {
    return ptf::ptf_create_module(&loamara_module, ptf::kPtfTable,
                                  ptf::kPtfTableSize);
}
