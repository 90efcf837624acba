// The registration walk: one ufunc per row of the table, in table order.
#include "ptf_registry.h"

namespace ptf {

namespace {

// DType class of an operand type code, from the bound array C-API table.
PyArray_DTypeMeta* dtype_of(std::uint8_t code) {
    return code == kU32 ? &PyArray_UInt32DType : &PyArray_DoubleDType;
}

int register_row(PyObject* module, const PtfUfuncEntry& row) {
    PyArray_DTypeMeta* dtypes[kMaxOperands];
    for (int k = 0; k < row.nin + row.nout; ++k) {
        dtypes[k] = dtype_of(row.types[k]);
    }
    // An empty ufunc: no legacy loops, no identity, no docstring.
    PyObject* ufunc = PyUFunc_FromFuncAndData(
        nullptr, nullptr, nullptr, 0, row.nin, row.nout, PyUFunc_None,
        row.name, nullptr, 0);
    if (ufunc == nullptr) {
        return -1;
    }
    PyType_Slot slots[] = {
        {NPY_METH_strided_loop, reinterpret_cast<void*>(row.strided)},
        {NPY_METH_contiguous_loop, reinterpret_cast<void*>(row.contiguous)},
        {0, nullptr},
    };
    PyArrayMethod_Spec spec = {
        row.name,
        row.nin,
        row.nout,
        NPY_SAME_KIND_CASTING,
        static_cast<NPY_ARRAYMETHOD_FLAGS>(0),
        dtypes,
        slots,
    };
    if (PyUFunc_AddLoopFromSpec(ufunc, &spec) < 0) {
        Py_DECREF(ufunc);
        return -1;
    }
    // On success the module owns the reference; on failure it is still ours.
    if (PyModule_AddObject(module, row.name, ufunc) < 0) {
        Py_DECREF(ufunc);
        return -1;
    }
    return 0;
}

}  // namespace

int ptf_register_all(PyObject* module) {
    for (int r = 0; r < kPtfTableSize; ++r) {
        if (register_row(module, kPtfTable[r]) < 0) {
            return -1;
        }
    }
    return 0;
}

}  // namespace ptf
