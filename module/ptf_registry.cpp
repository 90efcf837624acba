// The registration walk: one ufunc per row of a module's table, in table
// order.
#include "ptf_registry.h"

namespace ptf {

namespace {

// DType class of an operand type code, from the bound array C-API table.
PyArray_DTypeMeta* dtype_of(std::uint8_t code) {
    switch (code) {
        case kU32:
            return &PyArray_UInt32DType;
        case kI64:
            return &PyArray_Int64DType;
        default:
            return &PyArray_DoubleDType;
    }
}

// Promoter of a float64 row: whatever DTypes the caller's operands have,
// ask NumPy for float64 throughout.  NumPy then converts the operands under
// the caller's `casting` (default same_kind): Python numbers, bool,
// integer, float16/float32 and longdouble arrays become float64, and
// complex, datetime, string and object operands fail with NumPy's own
// casting error.  A DType fixed by the caller's `signature=` or `dtype=` is
// kept, so that NumPy reports that no loop matches it.  Called only when no
// loop matches the operand DTypes exactly; NumPy caches the outcome per
// combination of DTypes.
int promote_to_row(PyObject* ufunc, PyArray_DTypeMeta* const[],
                   PyArray_DTypeMeta* const signature[],
                   PyArray_DTypeMeta* new_op_dtypes[]) {
    const int nargs = reinterpret_cast<PyUFuncObject*>(ufunc)->nargs;
    for (int k = 0; k < nargs; ++k) {
        PyArray_DTypeMeta* dt = signature[k];
        if (dt == nullptr) {
            dt = &PyArray_DoubleDType;
        }
        Py_INCREF(dt);
        new_op_dtypes[k] = dt;
    }
    return 0;
}

// True for the DTypes an index row takes in its int64 loop: every signed
// integer (int8 to int64, whatever C type NumPy names it after), Python
// ints, and unsigned 64-bit integers.  A uint64 index converts to int64
// under same_kind casting with its value kept up to 2**63 - 1 and every
// larger one negative, so each gives its class row or NaN as it should;
// through the uint32 loop it would wrap modulo 2**32 onto a class row.
bool takes_int64_index(const PyArray_DTypeMeta* dt) {
    return dt == &PyArray_ByteDType || dt == &PyArray_ShortDType ||
           dt == &PyArray_IntDType || dt == &PyArray_LongDType ||
           dt == &PyArray_LongLongDType || dt == &PyArray_PyLongDType ||
           dt == &PyArray_UInt64DType || dt == &PyArray_ULongLongDType ||
           (sizeof(unsigned long) == 8 && dt == &PyArray_ULongDType);
}

// Promoter of an index row (uint32 and int64 loops): the int64 loop for
// the DTypes above, the uint32 loop for any other first input (unsigned
// integers of up to 32 bits and bool convert; floats, complex, datetime,
// string and object operands keep NumPy's casting error, as a class index
// is no measurement), float64 for every output, and a DType fixed by
// `signature=` or `dtype=` kept, as above.
int promote_index_row(PyObject* ufunc, PyArray_DTypeMeta* const op_dtypes[],
                      PyArray_DTypeMeta* const signature[],
                      PyArray_DTypeMeta* new_op_dtypes[]) {
    const int nargs = reinterpret_cast<PyUFuncObject*>(ufunc)->nargs;
    for (int k = 0; k < nargs; ++k) {
        PyArray_DTypeMeta* dt = signature[k];
        if (dt == nullptr) {
            if (k > 0) {
                dt = &PyArray_DoubleDType;
            } else if (op_dtypes[0] != nullptr &&
                       takes_int64_index(op_dtypes[0])) {
                dt = &PyArray_Int64DType;
            } else {
                dt = &PyArray_UInt32DType;
            }
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
    // promoter is chosen by that first input's type and the row's loops:
    // float64 rows and index rows (uint32 and int64 loops) have one.
    for (int k = 1; k < row.nin + row.nout; ++k) {
        if (row.types[k] != kF64) {
            PyErr_Format(PyExc_SystemError,
                         "%s: no promoter for its operand types", row.name);
            return -1;
        }
    }
    const bool extra = row.extra.strided != nullptr;
    PyArrayMethod_PromoterFunction* fn = nullptr;
    if (!extra && row.types[0] == kF64) {
        fn = &promote_to_row;
    } else if (extra && row.types[0] == kU32 && row.extra.first == kI64) {
        fn = &promote_index_row;
    } else {
        PyErr_Format(PyExc_SystemError,
                     "%s: no promoter for its operand types", row.name);
        return -1;
    }
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

// Attaches one loop to the ufunc: the row's operand types with the first
// input of type `first`.  Returns 0, or -1 with NumPy's exception set.
int add_loop(PyObject* ufunc, const PtfUfuncEntry& row, std::uint8_t first,
             PtfLoop strided, PtfLoop contiguous) {
    PyArray_DTypeMeta* dtypes[kMaxOperands];
    for (int k = 0; k < row.nin + row.nout; ++k) {
        dtypes[k] = dtype_of(k == 0 ? first : row.types[k]);
    }
    PyType_Slot slots[] = {
        {NPY_METH_strided_loop, reinterpret_cast<void*>(strided)},
        {NPY_METH_contiguous_loop, reinterpret_cast<void*>(contiguous)},
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
    return PyUFunc_AddLoopFromSpec(ufunc, &spec) < 0 ? -1 : 0;
}

int register_row(PyObject* module, const PtfUfuncEntry& row) {
    // An empty ufunc: no legacy loops, no identity, no docstring.
    PyObject* ufunc = PyUFunc_FromFuncAndData(
        nullptr, nullptr, nullptr, 0, row.nin, row.nout, PyUFunc_None,
        row.name, nullptr, 0);
    if (ufunc == nullptr) {
        return -1;
    }
    // The row's loop, its further loop if it has one, then the promoter.
    if (add_loop(ufunc, row, row.types[0], row.strided, row.contiguous) < 0 ||
        (row.extra.strided != nullptr &&
         add_loop(ufunc, row, row.extra.first, row.extra.strided,
                  row.extra.contiguous) < 0) ||
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
