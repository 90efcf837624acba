"""Time per point of two curve ufuncs of loamara._curves against their libm
floor: the same C-library pow calls per point, on the same arguments, in a
small C loop compiled with the flags of the extension modules.

    python bench/curves_libm_floor.py [--n 10000000] [--repeat 5]

One curve per call, as a user makes it: 10**n suction heads h (cm, spread
log-uniformly over 0.1 to 1e5) against scalar parameters (a loam), output
preallocated.  calc_swrc_van_genuchten (m = 1 - 1/n precomputed) makes two
pow calls per point, calc_hcc_mualem_van_genuchten five.  Ufunc and C loop
alternate, one repetition each, and each figure is the median of --repeat.
Needs a C compiler (cc).
"""
from __future__ import annotations

import argparse
import os
import statistics
import subprocess
import tempfile
import time

import numpy as np

import loamara

# The compile options of the extension modules (CMakeLists.txt).
FLAGS = ["-O3", "-ffp-contract=off", "-fno-fast-math",
         "-fno-unsafe-math-optimizations", "-fno-finite-math-only",
         "-fno-associative-math", "-fno-reciprocal-math", "-fmath-errno",
         "-fsigned-zeros", "-ftrapping-math", "-msse2", "-mfpmath=sse"]

THETA_R, THETA_S, ALPHA, N, KS, L = 0.078, 0.43, 0.036, 1.56, 24.96, 0.5
M = 1.0 - 1.0 / N

# The pow calls of each kernel, on the arguments the kernel gives them; the
# loop stores a value that depends on every call so none is dropped.
C_SOURCE = r"""
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + 1e-9 * t.tv_nsec;
}

int main(int argc, char** argv) {
    const char* which = argv[1];
    long n = atol(argv[2]);
    double alpha = atof(argv[4]), nn = atof(argv[5]), m = atof(argv[6]);
    double l = atof(argv[7]);
    double* h = malloc(n * sizeof *h);
    double* y = malloc(n * sizeof *y);
    FILE* f = fopen(argv[3], "rb");
    if (!f || fread(h, sizeof *h, n, f) != (size_t)n) return 2;
    fclose(f);
    for (long i = 0; i < n; ++i) y[i] = 0.0;   /* touch the output pages */
    double t0 = now();
    if (which[0] == 'v') {                 /* van Genuchten: 2 pow */
        for (long i = 0; i < n; ++i)
            y[i] = pow(1.0 + pow(alpha * h[i], nn), m);
    } else {                               /* Mualem-van Genuchten: 5 pow */
        double mm = 1.0 - 1.0 / nn;
        for (long i = 0; i < n; ++i) {
            double se = pow(1.0 + pow(alpha * h[i], nn), -mm);
            double x = pow(se, 1.0 / mm);
            y[i] = pow(se, l) * pow(1.0 - x, mm);
        }
    }
    double t1 = now();
    double s = 0.0;
    for (long i = 0; i < n; i += 4096) s += y[i];
    printf("%.6f %.17g\n", (t1 - t0) * 1e9 / n, s);
    return 0;
}
"""


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--n", type=int, default=10**7)
    ap.add_argument("--repeat", type=int, default=5)
    args = ap.parse_args()
    rng = np.random.default_rng(0)
    h = 10.0 ** rng.uniform(-1.0, 5.0, args.n)
    out = np.empty_like(h)
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "floor.c")
        exe = os.path.join(tmp, "floor")
        data = os.path.join(tmp, "h.bin")
        with open(src, "w") as f:
            f.write(C_SOURCE)
        subprocess.run(["cc", *FLAGS, src, "-o", exe, "-lm"], check=True)
        h.tofile(data)
        cases = [
            ("calc_swrc_van_genuchten", "v", 2,
             lambda: loamara.calc_swrc_van_genuchten(
                 h, THETA_R, THETA_S, ALPHA, N, M, out=out)),
            ("calc_hcc_mualem_van_genuchten", "k", 5,
             lambda: loamara.calc_hcc_mualem_van_genuchten(
                 h, KS, ALPHA, N, L, out=out)),
        ]
        print(f"{args.n} points, median of {args.repeat}; "
              f"cc {' '.join(FLAGS)}")
        for name, which, calls, call in cases:
            call()   # warm up: pages of out, the promoter's cache
            ufunc_ns, floor_ns = [], []
            for _ in range(args.repeat):
                t0 = time.perf_counter()
                call()
                ufunc_ns.append((time.perf_counter() - t0) * 1e9 / args.n)
                res = subprocess.run(
                    [exe, which, str(args.n), data, repr(ALPHA), repr(N),
                     repr(M), repr(L)], check=True, capture_output=True,
                    text=True)
                floor_ns.append(float(res.stdout.split()[0]))
            u = statistics.median(ufunc_ns)
            fl = statistics.median(floor_ns)
            print(f"{name}: {u:.2f} ns/point, libm floor ({calls} pow) "
                  f"{fl:.2f} ns/point, ratio {u / fl:.3f}")


if __name__ == "__main__":
    main()
