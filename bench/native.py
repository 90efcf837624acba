"""Compiled baselines of the benchmark, built when the benchmark starts.

Two kinds of C loop, compiled with the compiler options of the module itself
(read from CMakeLists.txt, so that both see the same rules of exact
arithmetic and the same optimisation level) and loaded through ctypes:

* stream_<nin>_<nout>: reads nin packed float64 arrays and writes nout, with
  the least arithmetic that touches every element of every stream (the sum
  of the inputs, stored to every output).  Like the module's contiguous
  loops it is compiled for AVX-512, AVX2 and baseline x86-64, the best one
  chosen at load time, and asks for each cache line of every array as far
  ahead as they do (kPrefetchBlock and kPrefetchAhead, read from
  module/ptf_registry.h).  It is the memory term of a ufunc with the same
  numbers of inputs and outputs: the time below which no loop over these
  arrays goes.
* loop_exp, loop_log, loop_log10, loop_pow: call the C library's function on
  every element of an argument array, storing each result.  Timed on a
  cache-resident block of the arguments a kernel sees, they give the cost of
  one call, which the benchmark adds to the stream term to form a ufunc's
  floor.
"""
from __future__ import annotations

import ctypes
import os
import re
import subprocess
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
CMAKELISTS = os.path.join(HERE, os.pardir, "CMakeLists.txt")
REGISTRY = os.path.join(HERE, os.pardir, "module", "ptf_registry.h")

# Compiled for the same instruction sets as the module's contiguous loops.
CLONES = ('__attribute__((target_clones("avx512f", "avx2", "default")))'
          if sys.platform.startswith("linux") else "")

LIBM_LOOPS = r"""
#include <math.h>

#define UNARY(name)                                                        \
    void loop_##name(const double* a, double* out, long n, long reps) {    \
        for (long r = 0; r < reps; ++r) {                                  \
            for (long i = 0; i < n; ++i) {                                 \
                out[i] = name(a[i]);                                       \
            }                                                              \
        }                                                                  \
    }
UNARY(exp)
UNARY(log)
UNARY(log10)
UNARY(erfc)

void loop_pow(const double* a, const double* b, double* out, long n,
              long reps) {
    for (long r = 0; r < reps; ++r) {
        for (long i = 0; i < n; ++i) {
            out[i] = pow(a[i], b[i]);
        }
    }
}
"""


def module_flags(path: str = CMAKELISTS) -> list[str]:
    """The GCC/Clang options CMakeLists.txt gives the modules' sources
    (every target_compile_options of the modules' targets, or of the
    function that sets them up, whose options start with a dash, in
    order; MSVC's /options are not ours here)."""
    with open(path) as f:
        text = f.read()
    flags = []
    for block in re.findall(r"target_compile_options\((?:_loamara|\$\{target"
                            r"\}) PRIVATE([^)]*)\)", text):
        flags += [t for t in block.split() if t.startswith("-")]
    if "-ffp-contract=off" not in flags:
        raise RuntimeError(f"no exact-arithmetic options found in {path}")
    return flags


def prefetch_constants(path: str = REGISTRY) -> tuple[int, int]:
    """kPrefetchBlock and kPrefetchAhead of the module's loops."""
    with open(path) as f:
        text = f.read()
    block, ahead = (int(re.search(rf"constexpr npy_intp {name} = (\d+);",
                                  text).group(1))
                    for name in ("kPrefetchBlock", "kPrefetchAhead"))
    return block, ahead


def stream_source(nin: int, nout: int, block: int, ahead: int) -> str:
    def body(i, indent):
        total = " + ".join(f"x{k}[{i}]" for k in range(nin))
        return ([f"{indent}const double s = {total};"]
                + [f"{indent}y{j}[{i}] = s;" for j in range(nout)])

    lines = [f"{CLONES}",
             f"void stream_{nin}_{nout}(double* const* in, double* const* out,"
             f" long n) {{"]
    lines += [f"    const double* restrict x{k} = in[{k}];" for k in range(nin)]
    lines += [f"    double* restrict y{j} = out[{j}];" for j in range(nout)]
    # As in the module's contiguous loops: blocks that prefetch the lines
    # `ahead` elements on, then the rest; and the hint that the iterations
    # are independent, without which GCC gives up vectorising loops over
    # many arrays (too many pairs to check for overlap at run time).
    lines += ["    long i = 0;",
              f"    for (; i + {ahead + block} <= n; i += {block}) {{"]
    lines += [f"        __builtin_prefetch(x{k} + i + {ahead}, 0, 3);"
              for k in range(nin)]
    lines += [f"        __builtin_prefetch(y{j} + i + {ahead}, 1, 3);"
              for j in range(nout)]
    lines += ["#pragma GCC ivdep",
              f"        for (long e = i; e < i + {block}; ++e) {{"]
    lines += body("e", " " * 12)
    lines += ["        }", "    }", "#pragma GCC ivdep",
              "    for (; i < n; ++i) {"]
    lines += body("i", " " * 8)
    lines += ["    }", "}", ""]
    return "\n".join(lines)


class Native:
    """The compiled loops for the given (nin, nout) pairs."""

    def __init__(self, pairs, cc: str | None = None):
        cc = cc or os.environ.get("CC", "cc")
        self.flags = module_flags()
        self.pairs = sorted(set(pairs))
        block, ahead = prefetch_constants()
        src = LIBM_LOOPS + "\n".join(stream_source(i, o, block, ahead)
                                     for i, o in self.pairs)
        self._dir = tempfile.TemporaryDirectory(prefix="loamara-bench-")
        c_path = os.path.join(self._dir.name, "baselines.c")
        so_path = os.path.join(self._dir.name, "baselines.so")
        with open(c_path, "w") as f:
            f.write(src)
        cmd = [cc, "-std=c11", *self.flags, "-fPIC", "-shared", c_path,
               "-o", so_path, "-lm"]
        subprocess.run(cmd, check=True)
        self.lib = ctypes.CDLL(so_path)
        vp, lng = ctypes.c_void_p, ctypes.c_long
        for name in ("exp", "log", "log10", "erfc"):
            fn = getattr(self.lib, f"loop_{name}")
            fn.argtypes, fn.restype = [vp, vp, lng, lng], None
        self.lib.loop_pow.argtypes = [vp, vp, vp, lng, lng]
        self.lib.loop_pow.restype = None
        for i, o in self.pairs:
            fn = getattr(self.lib, f"stream_{i}_{o}")
            fn.argtypes, fn.restype = [vp, vp, lng], None

    def stream(self, inputs, outputs):
        """A function that runs the stream loop over these packed arrays."""
        n = len(outputs[0])
        fn = getattr(self.lib, f"stream_{len(inputs)}_{len(outputs)}")
        ins = (ctypes.c_void_p * len(inputs))(*[a.ctypes.data for a in inputs])
        outs = (ctypes.c_void_p * len(outputs))(
            *[a.ctypes.data for a in outputs])
        keep = (inputs, outputs)  # the arrays live as long as the closure

        def run():
            fn(ins, outs, n)
            return keep
        return run

    def libm(self, func: str, args, out, reps: int):
        """A function that makes reps * len(out) calls of the C library's
        func on the packed argument arrays args, storing into out."""
        args = [np.ascontiguousarray(a, dtype=np.float64) for a in args]
        ptrs = [a.ctypes.data for a in args]
        fn = getattr(self.lib, f"loop_{func}")
        n = len(out)
        optr = out.ctypes.data
        keep = (args, out)

        def run():
            fn(*ptrs, optr, n, reps)
            return keep
        return run
