"""Failure paths of the import, each in a fresh interpreter with a stand-in
NumPy first on sys.path.  The stand-in API tables are made with ctypes: a
table of function pointers in a capsule, as NumPy publishes its own."""
import importlib.util
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

EXT_DIR = os.path.dirname(importlib.util.find_spec("_loamara").origin)

# A stand-in C-API table: slot 0 ABI version, 210 byte order, 211 feature
# version; everything else null.
TABLE = """
import ctypes
_UINT = ctypes.CFUNCTYPE(ctypes.c_uint)
_INT = ctypes.CFUNCTYPE(ctypes.c_int)
_abi = _UINT(lambda: {abi})
_endian = _INT(lambda: {endian})
_feature = _UINT(lambda: {feature})
_table = (ctypes.c_void_p * 400)()
_table[0] = ctypes.cast(_abi, ctypes.c_void_p)
_table[210] = ctypes.cast(_endian, ctypes.c_void_p)
_table[211] = ctypes.cast(_feature, ctypes.c_void_p)
ctypes.pythonapi.PyCapsule_New.restype = ctypes.py_object
ctypes.pythonapi.PyCapsule_New.argtypes = [ctypes.c_void_p, ctypes.c_char_p,
                                           ctypes.c_void_p]
_ARRAY_API = ctypes.pythonapi.PyCapsule_New(
    ctypes.cast(_table, ctypes.c_void_p), None, None)
"""


# The statement that imports each module: _loamara from beside the
# extension, loamara._curves from its file, without the loamara package
# (whose own import needs NumPy).
CURVES_FILE = importlib.util.find_spec("loamara._curves").origin
MORE_FILE = importlib.util.find_spec("loamara._more").origin
STATS_FILE = importlib.util.find_spec("loamara._stats").origin
IMPORT = {
    "_loamara": "import _loamara",
    "_curves": ("import importlib.util as u; _curves = u.module_from_spec("
                f"u.spec_from_file_location('loamara._curves', "
                f"{CURVES_FILE!r}))"),
    "_more": ("import importlib.util as u; _more = u.module_from_spec("
              f"u.spec_from_file_location('loamara._more', "
              f"{MORE_FILE!r}))"),
    "_stats": ("import importlib.util as u; _stats = u.module_from_spec("
               f"u.spec_from_file_location('loamara._stats', "
               f"{STATS_FILE!r}))"),
}


def run_import(tmp_path, files, prelude="", module="_loamara"):
    """Imports _loamara (or loamara._curves) in a subprocess with the
    stand-in files (relative path -> source) first on sys.path; returns
    (exception line, stderr)."""
    root = tmp_path / "standin"
    for rel, src in files.items():
        path = root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(textwrap.dedent(src))
    code = textwrap.dedent(f"""
        import sys
        sys.path[:0] = [{str(root)!r}, {EXT_DIR!r}]
        {prelude}
        try:
            {IMPORT[module]}
        except BaseException as exc:
            print(f"RAISED {{type(exc).__name__}}: {{exc}}")
        else:
            print("IMPORTED", len([n for n in vars({module}) if n.startswith('calc_')]))
        print("LOADED", "_loamara" in sys.modules)
    """)
    env = dict(os.environ)
    env.pop("PYTHONPATH", None)
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True,
                          text=True, env=env, timeout=120)
    return proc.stdout, proc.stderr


ARRAY_FAILED = "RAISED ImportError: numpy._core.multiarray failed to import"
UMATH_FAILED = "RAISED ImportError: numpy._core.umath failed to import"


def standin_core(body, name="numpy/_core/_multiarray_umath.py"):
    return {"numpy/__init__.py": "", "numpy/_core/__init__.py": "",
            name: body}


@pytest.mark.parametrize("module", ["_loamara", "_curves", "_more", "_stats"])
def test_no_numpy_at_all(tmp_path, module):
    out, err = run_import(tmp_path, {}, prelude="sys.modules['numpy'] = None",
                          module=module)
    assert ARRAY_FAILED in out
    assert "LOADED False" in out
    assert "ModuleNotFoundError" in err
    assert "numpy.core" in err  # the fallback's error is the one printed


def test_broken_numpy_is_not_retried(tmp_path):
    files = {
        "numpy/__init__.py": """
            import builtins
            builtins.attempts = getattr(builtins, "attempts", 0) + 1
            raise ImportError(f"stand-in numpy is broken ({builtins.attempts})")
        """,
    }
    out, err = run_import(tmp_path, files)
    assert ARRAY_FAILED in out
    assert "ImportError: stand-in numpy is broken (1)" in err
    assert err.count("Traceback") == 1


def test_fallback_module_name_then_old_feature_version(tmp_path):
    files = {"numpy/__init__.py": "", "numpy/core/__init__.py": "",
             "numpy/core/_multiarray_umath.py":
                 TABLE.format(abi=0x2000000, endian=1, feature=17)}
    out, err = run_import(tmp_path, files)
    assert ARRAY_FAILED in out
    assert "RuntimeError: module was compiled against NumPy C-API version 0x12 (NumPy 2.0)" in err
    assert "0x11" in err and "C-API incompatibility" in err


def test_missing_array_api(tmp_path):
    out, err = run_import(tmp_path, standin_core("x = 1\n"))
    assert ARRAY_FAILED in out
    assert "AttributeError" in err and "_ARRAY_API" in err


@pytest.mark.parametrize("value", ["object()", "type('C', (), {})()"])
def test_array_api_not_a_capsule(tmp_path, value):
    out, err = run_import(tmp_path, standin_core(f"_ARRAY_API = {value}\n"))
    assert ARRAY_FAILED in out
    assert "RuntimeError: _ARRAY_API is not PyCapsule object" in err


@pytest.mark.parametrize("abi, ok", [(0x2000001, False), (0x2000000, True)])
def test_abi_version(tmp_path, abi, ok):
    out, err = run_import(tmp_path, standin_core(
        TABLE.format(abi=abi, endian=1, feature=17)))
    assert ARRAY_FAILED in out
    message = ("module compiled against ABI version 0x2000000 but this "
               "version of numpy is 0x2000001")
    assert (message in err) is not ok
    # An accepted ABI version goes on to the feature check.
    assert ("C-API version 0x11" in err) is ok


@pytest.mark.parametrize("endian, message", [
    (0, "RuntimeError: FATAL: module compiled as unknown endian"),
    (2, "RuntimeError: FATAL: module compiled as little endian, but detected "
        "different endianness at runtime"),
])
def test_byte_order(tmp_path, endian, message):
    out, err = run_import(tmp_path, standin_core(
        TABLE.format(abi=0x2000000, endian=endian, feature=18)))
    assert ARRAY_FAILED in out
    assert message in err


@pytest.mark.parametrize("ufunc_api, printed", [
    ("", "AttributeError: _UFUNC_API not found"),
    ("_UFUNC_API = 3\n", "RuntimeError: _UFUNC_API is not PyCapsule object"),
])
def test_ufunc_api_cannot_be_bound(tmp_path, ufunc_api, printed):
    # Feature version 18 exactly passes; the array table is then bound and
    # the ufunc table fails before any ufunc is made.
    out, err = run_import(tmp_path, standin_core(
        TABLE.format(abi=0x2000000, endian=1, feature=18) + ufunc_api))
    assert UMATH_FAILED in out
    assert printed in err
    assert "LOADED False" in out


@pytest.mark.parametrize("module, entry", [
    ("_loamara", "PyInit__loamara"),
    ("loamara._curves", "PyInit__curves"),
    ("loamara._more", "PyInit__more"),
    ("loamara._stats", "PyInit__stats"),
])
def test_exported_symbols(module, entry):
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm not available")
    origin = importlib.util.find_spec(module).origin
    out = subprocess.run([nm, "-D", "--defined-only", origin],
                         capture_output=True, text=True, check=True).stdout
    exported = {line.split()[-1] for line in out.splitlines()
                if line.split()[-2:-1] and line.split()[-2] in "TDBRVWiu"}
    assert exported == {entry}


def test_the_public_api_is_listed():
    import loamara
    assert {"estimate", "applicable", "ensemble", "catalog", "curve",
            "parallel_apply", "RangeWarning"} <= set(loamara.__all__)
    ufuncs = [n for n in loamara.__all__ if n.startswith("calc_ptf_")]
    assert len(ufuncs) == len([p for p in loamara.catalog() if p.compiled])
    assert all(hasattr(loamara, n) for n in loamara.__all__)
