// The import of an extension module of this project, shared by _loamara and
// loamara._curves: module creation, the binding of NumPy's C-API tables and
// the registration walk over the module's table.
//
// Each module is created from a static definition by single-phase
// initialisation: no docstring, no methods, no slots, no per-module state.
// This file defines NumPy's array and ufunc C-API tables (the only
// process-wide state, written here once during import and only read
// afterwards); each module links its own copy, so the two modules bind them
// independently.
#define LOAMARA_DEFINE_API_TABLES
#include "ptf_registry.h"

namespace ptf {

PyObject* ptf_create_module(PyModuleDef* def, const PtfUfuncEntry* table,
                            int size) {
    PyObject* module = PyModule_Create2(def, 1013);
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
    if (ptf_register_table(module, table, size) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

}  // namespace ptf
