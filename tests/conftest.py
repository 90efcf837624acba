import fnmatch
import os
import sys

import pytest

# Lets the tests import the shared helpers as a plain module.
sys.path.insert(0, os.path.dirname(__file__))

# Test modules that exercise only the compiled extension modules, through
# NumPy alone: the registration contract, each family's kernels, threads,
# import failures, the NumPy-expression baseline, and the tests of the
# curve and texture module.  Their tests carry the marker "ufunc"; CI runs
# them again under sanitizers and against the oldest supported NumPy, in
# environments holding nothing but NumPy and pytest.  Every other module
# (estimate, command line, parallel_apply, dask, catalog, docs, stubs)
# tests the Python package.
UFUNC_MODULE_PATTERNS = (
    "test_contract.py",
    "test_threads.py",
    "test_import_failures.py",
    "test_numpy_expressions.py",
    "test_*[0-9][0-9][0-9][0-9]*.py",  # one family: test_<author><year>...
    "test_curves*.py",
    "test_texture*.py",
)


def is_ufunc_module(filename):
    return any(fnmatch.fnmatchcase(filename, p) for p in UFUNC_MODULE_PATTERNS)


def pytest_collection_modifyitems(config, items):
    for item in items:
        if is_ufunc_module(item.path.name):
            item.add_marker(pytest.mark.ufunc)


def pytest_ignore_collect(collection_path, config):
    # With exactly "-m ufunc" every other module would be deselected after
    # import; not importing it at all spares those environments pandas,
    # xarray and dask.
    if (config.getoption("markexpr") == "ufunc"
            and collection_path.suffix == ".py"
            and collection_path.name.startswith("test_")
            and not is_ufunc_module(collection_path.name)):
        return True
    return None
