// Entry point of the _loamara extension module.
//
// Single-phase initialisation from a static definition: no docstring, no
// methods, no slots, no per-module state.  The import binds NumPy's array
// and ufunc C-API tables (the only process-wide state, written here once and
// only read afterwards) and then registers one ufunc per row of the table.
#define LOAMARA_DEFINE_API_TABLES
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
    PyObject* module = PyModule_Create2(&loamara_module, 1013);
    if (module == nullptr) {
        return nullptr;
    }
    // NumPy's header routines perform the import, capsule, ABI, feature
    // version and byte-order checks; unlike NumPy's convenience macros we
    // release the module object on failure.
    if (_import_array() < 0) {
        PyErr_Print();
        PyErr_SetString(PyExc_ImportError,
                        "numpy._core.multiarray failed to import");
        Py_DECREF(module);
        return nullptr;
    }
    if (_import_umath() < 0) {
        PyErr_Print();
        PyErr_SetString(PyExc_ImportError, "numpy._core.umath failed to import");
        Py_DECREF(module);
        return nullptr;
    }
    if (ptf::ptf_register_all(module) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
