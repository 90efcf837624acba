"""What loamara.estimate costs on top of the bare ufunc call.

Two measurements, each against the bare ufunc timed in the same run:

* small calls: one soil given as Python numbers, by name and by position;
  the difference to the bare call is the package's own time (target: at
  most 4 us);
* large calls, 10**6 and 10**7 elements, one thread: estimate with the
  checks off, with the checks on (the default), and with every input
  converted from percent, as ratios to the bare call (target: at most 1.3
  with the checks on and no conversion, for a function of three or more
  inputs).  Then the default (all cores) against the bare call;
* the speed-up of parallel_apply and of estimate on all cores over one
  thread, for an expensive and two memory-bound functions.

Times are medians of --repeat repetitions (small calls: the minimum of
each repetition's mean over many calls, as timeit does, then the median).

Usage: python bench/bench_calls.py [--repeat 5] [--sizes 1e6,1e7]
"""
from __future__ import annotations

import argparse
import statistics
import time
import timeit
import warnings

import numpy as np

import loamara

LARGE = [  # (function, inputs as fractions/percent, percent inputs)
    ("saxton2006", {"sand": (0.05, 0.9), "clay": (0.02, 0.5),
                    "om": (0.5, 5.0)}, ("sand", "clay")),
    ("pidgeon1972_fc", {"silt": (5.0, 60.0), "clay": (5.0, 60.0),
                        "om": (0.5, 5.0)}, ()),
    ("jabro1992", {"silt": (5.0, 60.0), "clay": (5.0, 60.0),
                   "bd": (1.1, 1.7)}, ()),
]


def small_calls(repeat: int) -> list[str]:
    uf = loamara.calc_ptf_saxton2006
    n = 20000

    def per_call(fn) -> float:
        return statistics.median(
            min(timeit.repeat(fn, number=n, repeat=3)) / n
            for _ in range(repeat))

    bare = per_call(lambda: uf(0.4, 0.2, 2.5))
    named = per_call(lambda: loamara.estimate("saxton2006", sand=0.4,
                                              clay=0.2, om=2.5))
    pos = per_call(lambda: loamara.estimate("saxton2006", 0.4, 0.2, 2.5))
    return [
        "| call | us/call | own time, us |",
        "|---|---|---|",
        f"| `calc_ptf_saxton2006(0.4, 0.2, 2.5)` | {bare * 1e6:.2f} | |",
        f"| `estimate(\"saxton2006\", sand=0.4, clay=0.2, om=2.5)` | "
        f"{named * 1e6:.2f} | {(named - bare) * 1e6:.2f} |",
        f"| `estimate(\"saxton2006\", 0.4, 0.2, 2.5)` | {pos * 1e6:.2f} | "
        f"{(pos - bare) * 1e6:.2f} |",
    ]


def _median_time(fn, repeat: int) -> float:
    fn()
    out = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        out.append(time.perf_counter() - t0)
    return statistics.median(out)


def large_calls(sizes: list[int], repeat: int) -> list[str]:
    rows = ["| function | elements | bare ufunc, ms | checks off | checks on "
            "| checks on, inputs from % | all cores |",
            "|---|---|---|---|---|---|---|"]
    rng = np.random.default_rng(0)
    for name, spans, pct in LARGE:
        uf = loamara.lookup(name).ufunc
        for n in sizes:
            data = {k: rng.uniform(lo, hi, n) for k, (lo, hi) in
                    spans.items()}
            as_pct = {k: (v * 100 if k in pct else v) for k, v in
                      data.items()}
            units = {k: "%" for k in pct}
            args = list(data.values())
            with warnings.catch_warnings(), np.errstate(all="ignore"):
                warnings.simplefilter("ignore")
                bare = _median_time(lambda: uf(*args), repeat)
                off = _median_time(lambda: loamara.estimate(
                    name, check="off", threads=1, **data), repeat)
                on = _median_time(lambda: loamara.estimate(
                    name, threads=1, **data), repeat)
                conv = _median_time(lambda: loamara.estimate(
                    name, threads=1, units=units or None, **as_pct),
                    repeat)
                cores = _median_time(lambda: loamara.estimate(
                    name, **data), repeat)
            rows.append(f"| `{name}` | {n:.0e} | {bare * 1e3:.1f} | "
                        f"{off / bare:.2f} | {on / bare:.2f} | "
                        f"{conv / bare:.2f} | {cores / bare:.2f} |")
    return rows


def threads(repeat: int) -> list[str]:
    """parallel_apply and estimate on all cores against one plain call,
    wall clock, outputs preallocated for the ufunc calls."""
    from loamara.parallel import default_threads, parallel_apply

    rows = [f"| function | elements | one call, ms | parallel_apply "
            f"({default_threads()} threads) | estimate, all cores |",
            "|---|---|---|---|---|"]
    rng = np.random.default_rng(1)
    for name in ("saxton2006", "rawls1982_full_wrc",
                 "lal1979_group_i_water_0bar_from_clay"):
        p = loamara.lookup(name)
        for n in (10**5, 10**6, 10**7):
            xs = [rng.uniform(0.15, 0.45, n) for _ in range(p.nin)]
            outs = tuple(np.empty(n) for _ in range(p.nout))
            with np.errstate(all="ignore"):
                one = _median_time(lambda: p.ufunc(*xs, out=outs), repeat)
                par = _median_time(lambda: parallel_apply(p.ufunc, *xs,
                                                          out=outs), repeat)
                est = _median_time(lambda: loamara.estimate(
                    name, *xs, check="off"), repeat)
                est1 = _median_time(lambda: loamara.estimate(
                    name, *xs, check="off", threads=1), repeat)
            rows.append(f"| `{name}` | {n:.0e} | {one * 1e3:.2f} | "
                        f"{one / par:.2f} | {est1 / est:.2f} |")
    return rows


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--sizes", default="1e6,1e7")
    args = ap.parse_args(argv)
    sizes = [int(float(s)) for s in args.sizes.split(",")]
    print("Small calls (median of the repetitions):\n")
    print("\n".join(small_calls(args.repeat)))
    print("\nLarge calls, ratio to the bare ufunc (median of "
          f"{args.repeat}):\n")
    print("\n".join(large_calls(sizes, args.repeat)))
    print("\nAll cores, speed-up over one thread (median of "
          f"{args.repeat}):\n")
    print("\n".join(threads(args.repeat)))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
