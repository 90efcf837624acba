// The registration walk: one ufunc per row of a module's table, in table
// order.
#include "ptf_registry.h"

namespace ptf {

namespace {

// DType class of an operand type code, from the bound array C-API table.
PyArray_DTypeMeta* dtype_of(std::uint8_t code) {
    return code == kU32 ? &PyArray_UInt32DType : &PyArray_DoubleDType;
}

// Promoter: whatever DTypes the caller's operands have, ask NumPy for the
// row's own operand types (float64; uint32 for an index input).  NumPy then
// converts the operands under the caller's `casting` (default same_kind):
// Python numbers, bool, integer, float16/float32 and longdouble arrays
// become float64, Python ints and unsigned arrays of up to 32 bits a uint32
// index, and complex, datetime, string and object operands fail with
// NumPy's own casting error.  A DType fixed by the caller's `signature=` or
// `dtype=` is kept, so that NumPy reports that no loop matches it.  Called
// only when no loop matches the operand DTypes exactly; NumPy caches the
// outcome per combination of DTypes.
template <PtfType First>
int promote_to_row(PyObject* ufunc, PyArray_DTypeMeta* const[],
                   PyArray_DTypeMeta* const signature[],
                   PyArray_DTypeMeta* new_op_dtypes[]) {
    const int nargs = reinterpret_cast<PyUFuncObject*>(ufunc)->nargs;
    for (int k = 0; k < nargs; ++k) {
        PyArray_DTypeMeta* dt = signature[k];
        if (dt == nullptr) {
            dt = dtype_of(k == 0 ? First : kF64);
        }
        Py_INCREF(dt);
        new_op_dtypes[k] = dt;
    }
    return 0;
}

// Attaches the promoter to a row's ufunc, for every combination of DTypes
// (None matches any).  Returns 0, or -1 with an exception set.
int add_promoter(PyObject* ufunc, const PtfUfuncEntry& row) {
    // Every operand but the first input is float64 in every row; the
    // promoter is chosen by that first input's type.
    for (int k = 1; k < row.nin + row.nout; ++k) {
        if (row.types[k] != kF64) {
            PyErr_Format(PyExc_SystemError,
                         "%s: no promoter for its operand types", row.name);
            return -1;
        }
    }
    PyArrayMethod_PromoterFunction* fn =
        row.types[0] == kU32 ? &promote_to_row<kU32> : &promote_to_row<kF64>;
    PyObject* capsule = PyCapsule_New(reinterpret_cast<void*>(fn),
                                      "numpy._ufunc_promoter", nullptr);
    if (capsule == nullptr) {
        return -1;
    }
    PyObject* any = PyTuple_New(row.nin + row.nout);
    if (any == nullptr) {
        Py_DECREF(capsule);
        return -1;
    }
    for (int k = 0; k < row.nin + row.nout; ++k) {
        Py_INCREF(Py_None);
        PyTuple_SET_ITEM(any, k, Py_None);
    }
    const int rc = PyUFunc_AddPromoter(ufunc, any, capsule);
    Py_DECREF(any);
    Py_DECREF(capsule);
    return rc < 0 ? -1 : 0;
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
        // The loop converts nothing: it takes exactly its operand types.
        NPY_NO_CASTING,
        static_cast<NPY_ARRAYMETHOD_FLAGS>(0),
        dtypes,
        slots,
    };
    if (PyUFunc_AddLoopFromSpec(ufunc, &spec) < 0 ||
        add_promoter(ufunc, row) < 0) {
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

int ptf_register_table(PyObject* module, const PtfUfuncEntry* table,
                       int size) {
    for (int r = 0; r < size; ++r) {
        if (register_row(module, table[r]) < 0) {
            return -1;
        }
    }
    return 0;
}

}  // namespace ptf
