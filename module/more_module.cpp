// Entry point of the loamara._more extension module: the further
// pedotransfer functions and class tables of ptf/more/more_table.cpp
// (HYPRES, Weynants, Toth, Cosby's multivariate regressions, Rawls and
// Brakensiek, the class tables of Carsel and Parrish, Rawls, Brakensiek and
// Saxton, Rosetta and HYPRES).  The import itself is ptf_create_module
// (module/ptf_module.cpp), the same as for _loamara.
#include "ptf_registry.h"

namespace {

PTF_MODULE_DEF(more_module, "loamara._more");

}  // namespace

PyMODINIT_FUNC PyInit__more(void) {
    return ptf::ptf_create_module(&more_module, ptf::kMoreTable,
                                  ptf::kMoreTableSize);
}
