"""Fitting speed: van Genuchten (m = 1 - 1/n) fitted to many samples of 10
points each, with loamara.fit_many on one thread and on all cores, against
the same fits made by a plain loop of scipy.optimize.curve_fit calls on a
NumPy expression of the curve.

    python bench/bench_fit.py [--samples 10000] [--threads N]

The samples are noisy (0.004 cm^3/cm^3) curves of random soils (theta_r
0.02-0.1, theta_s 0.35-0.5, alpha 0.005-0.15 1/cm, n 1.1-2.8) at 10
suctions from 1 to 15000 cm.  curve_fit gets a fixed start (0.05, 0.4,
0.02, 1.5) and the same bounds; loamara.fit starts from its grid.  The
figures are samples per second and their ratio, in one run; the median
relative difference of n between the two tells that they solve the same
problem.
"""
from __future__ import annotations

import argparse
import time

import numpy as np

import loamara
from loamara.parallel import default_threads

H = np.array([1.0, 3.0, 10.0, 30.0, 60.0, 100.0, 330.0, 1000.0, 3000.0,
              15000.0])


def samples(count: int, seed: int = 0) -> list[tuple]:
    rng = np.random.default_rng(seed)
    out = []
    for i in range(count):
        tr, ts = rng.uniform(0.02, 0.1), rng.uniform(0.35, 0.5)
        a, n = 10 ** rng.uniform(np.log10(0.005), np.log10(0.15)), \
            rng.uniform(1.1, 2.8)
        theta = loamara.calc_swrc_van_genuchten(H, tr, ts, a, n, 1 - 1 / n)
        theta = np.clip(theta + rng.normal(0.0, 0.004, H.size), 0.0, 1.0)
        out.append((i, H, theta, None))
    return out


def vg_numpy(h, tr, ts, a, n):
    return tr + (ts - tr) / (1.0 + (a * h) ** n) ** (1.0 - 1.0 / n)


def curve_fit_loop(groups) -> tuple[float, list[float]]:
    from scipy.optimize import curve_fit

    ns = []
    t0 = time.perf_counter()
    for _, h, theta, _ in groups:
        try:
            p, _ = curve_fit(vg_numpy, h, theta, p0=(0.05, 0.4, 0.02, 1.5),
                             bounds=([0, 0, 0, 1], [1, 1, np.inf, np.inf]))
            ns.append(p[3])
        except RuntimeError:
            ns.append(np.nan)
    return time.perf_counter() - t0, ns


def ours(groups, threads: int) -> tuple[float, list[float], int]:
    t0 = time.perf_counter()
    out = loamara.fit_many(groups, workers=threads, model="vg")
    dt = time.perf_counter() - t0
    ns = [r.params["n"] if r is not None else np.nan for _, r, _ in out]
    return dt, ns, sum(r is None for _, r, _ in out)


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--samples", type=int, default=10_000)
    ap.add_argument("--threads", type=int, default=default_threads())
    args = ap.parse_args()
    groups = samples(args.samples)
    loamara.fit(H, groups[0][2])   # imports, caches
    t_ref, n_ref = curve_fit_loop(groups)
    t_one, n_one, fail_one = ours(groups, 1)
    t_all, n_all, fail_all = ours(groups, args.threads)
    k = args.samples
    print(f"{k} samples x {H.size} points, van Genuchten m = 1 - 1/n")
    print(f"curve_fit loop:            {k / t_ref:8.1f} samples/s")
    print(f"loamara.fit_many, 1 thread: {k / t_one:8.1f} samples/s "
          f"(ratio {t_ref / t_one:.2f}), {fail_one} not fitted")
    print(f"loamara.fit_many, {args.threads} threads: {k / t_all:8.1f} "
          f"samples/s (ratio {t_ref / t_all:.2f}), {fail_all} not fitted")
    rel = np.abs(np.array(n_one) / np.array(n_ref) - 1)
    print(f"median |n / n_curve_fit - 1|: {np.nanmedian(rel):.2e}; "
          f"over 1e-3 in {int(np.sum(rel > 1e-3))} samples")


if __name__ == "__main__":
    main()
