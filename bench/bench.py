"""Benchmark of every loamara ufunc against its floor.

For each ufunc this measures, in one run, with float64 operands:

* ns/element of the contiguous loop at 10**5 (cache-resident), 10**6 and
  10**7 elements (memory-bound), outputs preallocated;
* its floor at each size, and the ratio of the time to it (× floor).  The
  floor is the time of a compiled loop that streams the same numbers of
  input and output arrays (bench/native.py: C, the module's own compiler
  options, run on the ufunc's own arrays) plus the cost of every C-library
  call the ufunc's formula makes per element (bench/libm_calls.py), each
  measured on the arguments the kernel sees for the benchmark's inputs.
  Every repetition times the stream, the calls and the ufunc back to back,
  and × floor is the median of the repetitions' ratios.  For a ufunc that
  calls no exp/log/log10/pow the floor is the stream alone;
* for the ufuncs that have one, the speed-up over the same formula written as
  a plain NumPy expression (bench/numpy_expressions.py), both allocating
  their outputs as a user's call would, and with the ufunc writing into
  existing arrays;
* the cost of strided operands (every second element of inputs and outputs)
  relative to the contiguous call;
* the speed-up of loamara.parallel_apply on all cores over one thread.

Single-thread times are the calling thread's own CPU time
(time.thread_time): time spent waiting while other processes of a shared
machine run does not count, though they still share its caches and memory.
The threaded column compares wall-clock times.  Every figure is the median
of --repeat repetitions; the summary gives their spread and the spread of
the stream baseline across the run.

Usage: python bench/bench.py [--out DIR] [--quick] [--filter REGEX]
Writes DIR/bench.md (the table) and DIR/throughput.png (a plot).
python bench/bench.py --chunk-sweep times parallel_apply by chunk size.
"""
from __future__ import annotations

import argparse
import importlib
import os
import platform
import re
import statistics
import sys
import time

import numpy as np

from loamara.parallel import default_threads, parallel_apply

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from libm_calls import (CURVE_INPUTS, LIBM_CALLS, REASONS,  # noqa: E402
                        calls_label)
from native import Native  # noqa: E402

try:
    from numpy_expressions import EXPRESSIONS  # noqa: E402
except ImportError:  # pragma: no cover
    EXPRESSIONS = {}

# Modules whose ufuncs are benchmarked; one that is not installed is skipped.
MODULES = ("_loamara", "loamara._curves", "loamara._more")

# The ufuncs whose input is a class index (uint32), benchmarked on indices
# 0 to 10, inside every one of their tables.
CLASS_INDEX = {"calc_ptf_clapp1978", "calc_ptf_carsel1988",
               "calc_ptf_rawls1982_class", "calc_ptf_schaap2001_class",
               "calc_ptf_wosten1999_class"}

# Targets, as ratios to the floor.
TARGET_LIBM = 1.2        # ufuncs calling the C library, 1e6 and 1e7
TARGET_MEMORY = 1.15     # arithmetic only, largest size
TARGET_CACHE = 1.30      # arithmetic only, in cache

# Cache-resident block of arguments on which each C-library call is timed.
LIBM_BLOCK = 4096


def all_ufuncs() -> dict:
    found = {}
    for mod in MODULES:
        try:
            m = importlib.import_module(mod)
        except ImportError:
            continue
        for n, v in vars(m).items():
            if isinstance(v, np.ufunc):
                found[n] = v
    return found


SPREADS: dict[str, list] = {}


def loops_for(fn, clock=time.thread_time, min_time: float = 0.005) -> int:
    """Calls of fn that take at least min_time (after one warm-up call)."""
    t0 = clock()
    fn()
    once = clock() - t0
    return max(1, int(min_time / max(once, 1e-9)))


def time_once(fn, loops: int, clock=time.thread_time) -> float:
    """Seconds per call of fn, over `loops` calls."""
    t0 = clock()
    for _ in range(loops):
        fn()
    return (clock() - t0) / loops


def record_spread(kind: str, samples) -> None:
    """Keeps (max - min) / median of repeated timings, by kind."""
    med = statistics.median(samples)
    if med > 0:
        SPREADS.setdefault(kind, []).append((max(samples) - min(samples)) / med)


def timeit(fn, repeat: int, kind: str, clock=time.thread_time) -> float:
    """Median seconds per call over `repeat` repetitions, each looping long
    enough to be timed reliably; the spread is recorded under `kind`."""
    loops = loops_for(fn, clock)
    samples = [time_once(fn, loops, clock) for _ in range(repeat)]
    record_spread(kind, samples)
    return statistics.median(samples)


class Operands:
    """Input and output arrays of one size, made once and shared by every
    ufunc (page faults of fresh arrays are not what we measure).  Inputs lie
    inside the domain of every formula (no NaN fast paths): positive, below
    1 where a fraction is meant; Weber's shape parameter gets 1 added."""

    def __init__(self, n: int, rng):
        self.n = n
        wide = rng.uniform(0.15, 0.45, (13, 2 * n))
        self.inputs = [w[:n] for w in wide]        # contiguous
        self.strided = [w[::2] for w in wide]      # every second element
        self.shape_param = self.inputs[3] + 1.0
        self.shape_param_strided = self.strided[3] + 1.0
        self.classes = rng.integers(0, 11, 2 * n).astype(np.uint32)
        self.outputs = [np.empty(n) for _ in range(12)]
        self.outputs_strided = [np.empty(2 * n)[::2] for _ in range(12)]
        self._curves: dict[tuple[str, bool], list[np.ndarray]] = {}
        self._wide = wide

    def args(self, name: str, nin: int, strided: bool = False):
        if name in CLASS_INDEX:
            return [self.classes[::2] if strided else self.classes[:self.n]]
        if name in CURVE_INPUTS:
            key = (name, strided)
            if key not in self._curves:  # made once, like the others
                wide = [f(w) for f, w in zip(CURVE_INPUTS[name],
                                             self._wide)]
                self._curves[key] = [w[::2] if strided else w[:self.n]
                                     for w in wide]
            return self._curves[key]
        xs = list((self.strided if strided else self.inputs)[:nin])
        if name == "calc_ptf_weber2020":
            xs[3] = self.shape_param_strided if strided else self.shape_param
        return xs

    def outs(self, nout: int, strided: bool = False):
        pool = self.outputs_strided if strided else self.outputs
        return tuple(pool[:nout])


def libm_loops(name, uf, ops: Operands, native: Native) -> list:
    """One timed loop per C-library call of the ufunc: the call made
    `reps` times over a cache-resident block of the arguments its kernel
    sees.  Returns (function, calls per run)."""
    calls = LIBM_CALLS.get(name, [])
    x = [a[:LIBM_BLOCK] for a in ops.args(name, uf.nin)]
    y = uf(*x)
    y = y if isinstance(y, tuple) else (y,)
    loops = []
    for func, argfn in calls:
        args = argfn(x, y)
        out = np.empty(LIBM_BLOCK)
        reps = loops_for(native.libm(func, args, out, 1))
        loops.append((native.libm(func, args, out, reps), reps * LIBM_BLOCK))
    return loops


def bench_one(name, uf, sizes, ops, repeat, threads, native):
    row = {"name": name, "nin": uf.nin, "nout": uf.nout,
           "libm": name in LIBM_CALLS, "calls": calls_label(name)}
    with np.errstate(all="ignore"):
        calls = libm_loops(name, uf, ops[sizes[-1]], native)
        for n in sizes:
            xs, outs = ops[n].args(name, uf.nin), ops[n].outs(uf.nout)
            # The stream runs on the same arrays as the ufunc (float inputs
            # for Clapp's uint32 indices), and each repetition times the
            # stream, every C-library call and the ufunc back to back, so
            # that the three see the same state of caches, memory and
            # machine; the ratio is the median of the repetitions' ratios.
            stream = native.stream(ops[n].inputs[:uf.nin], outs)
            ufunc = lambda: uf(*xs, out=outs)  # noqa: E731
            s_loops, u_loops = loops_for(stream), loops_for(ufunc)
            ts, tl, tu, ratio = [], [], [], []
            for _ in range(repeat):
                ts.append(time_once(stream, s_loops))
                tl.append(sum(time_once(fn, 1) / calls_per_run
                              for fn, calls_per_run in calls))
                tu.append(time_once(ufunc, u_loops))
                ratio.append(tu[-1] / (ts[-1] + n * tl[-1]))
            record_spread(f"stream {uf.nin}→{uf.nout} {n:.0e}", ts)
            record_spread("ufunc", tu)
            if calls:
                record_spread("libm", tl)
            record_spread("× floor", ratio)
            t, t_s, t_l = (statistics.median(v) for v in (tu, ts, tl))
            row[f"ns_{n}"] = t / n * 1e9
            row[f"stream_{n}"] = t_s / n * 1e9
            row[f"floor_{n}"] = (t_s + n * t_l) / n * 1e9
            row[f"xf_{n}"] = statistics.median(ratio)
        n = sizes[-1]
        t_contig = row[f"ns_{n}"] * n * 1e-9
        sx, souts = ops[n].args(name, uf.nin, True), ops[n].outs(uf.nout, True)
        row["strided"] = timeit(lambda: uf(*sx, out=souts), repeat,
                                "ufunc") / t_contig
        xs, outs = ops[n].args(name, uf.nin), ops[n].outs(uf.nout)
        if threads > 1:
            # Wall-clock on both sides: CPU time does not show a speed-up.
            wall = time.perf_counter
            t_one = timeit(lambda: uf(*xs, out=outs), repeat, "wall",
                           clock=wall)
            t_par = timeit(lambda: parallel_apply(uf, *xs, out=outs,
                                                  threads=threads),
                           repeat, "wall", clock=wall)
            row["threads"] = t_one / t_par
        expr = EXPRESSIONS.get(name)
        if expr is not None:
            # Both allocate their outputs, as a user's call would.
            t_uf = timeit(lambda: uf(*xs), repeat, "ufunc")
            t_np = timeit(lambda: expr(*xs), repeat, "numpy")
            row["numpy"] = t_np / t_uf
            # The same expression against the ufunc writing into existing
            # arrays, as when a raster is processed block by block.
            row["numpy_out"] = t_np / t_contig
    return row


def chunk_sweep(threads, repeat):
    """Speed-up of parallel_apply over one call at 10**7 elements, by chunk
    size: the measurement behind its default chunk size."""
    import _loamara
    n = 10**7
    ops = Operands(n, np.random.default_rng(1))
    sizes = [2**k for k in (13, 15, 17, 19, 21)]
    lines = ["| ufunc | " + " | ".join(f"2**{c.bit_length() - 1}"
                                       for c in sizes) + " |",
             "|---|" + "---|" * len(sizes)]
    wall = time.perf_counter
    for name in ("calc_ptf_saxton2006", "calc_ptf_jabro1992",
                 "calc_ptf_rawls1982_full_wrc",
                 "calc_ptf_lal1979_group_i_water_0bar_from_clay"):
        uf = getattr(_loamara, name)
        xs, outs = ops.args(name, uf.nin), ops.outs(uf.nout)
        with np.errstate(all="ignore"):
            one = timeit(lambda: uf(*xs, out=outs), repeat, "wall", clock=wall)
            cells = [one / timeit(lambda: parallel_apply(
                uf, *xs, out=outs, chunk_size=c, threads=threads), repeat,
                "wall", clock=wall) for c in sizes]
        lines.append(f"| `{name}` | " + " | ".join(f"{v:.2f}" for v in cells)
                     + " |")
    return "\n".join(lines)


def fmt(v, pattern="{:.2f}"):
    return "" if v is None else pattern.format(v)


def exp10(n: int) -> str:
    return f"1e{len(str(n)) - 1}"


def table(rows, sizes):
    large = sizes[-1]
    head = (["ufunc", "in→out", "libm calls"]
            + [f"ns/el {exp10(n)}" for n in sizes]
            + [f"floor ns/el {exp10(large)}"]
            + [f"× floor {exp10(n)}" for n in sizes]
            + ["vs NumPy", "vs NumPy, out=", "strided", "threads"])
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for r in rows:
        cells = ([f"`{r['name']}`", f"{r['nin']}→{r['nout']}", r["calls"]]
                 + [f"{r[f'ns_{n}']:.2f}" for n in sizes]
                 + [f"{r[f'floor_{large}']:.2f}"]
                 + [f"{r[f'xf_{n}']:.2f}" for n in sizes]
                 + [fmt(r.get("numpy")), fmt(r.get("numpy_out")),
                    f"{r['strided']:.2f}", fmt(r.get("threads"))])
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def percent(v):
    return f"{100 * v:.0f} %"


def spread_lines(rows, sizes):
    lines = []
    kinds = [k for k in ("× floor", "ufunc", "stream", "libm") if k in SPREADS
             or any(s.startswith(k) for s in SPREADS)]
    for kind in kinds:
        vals = [v for k, vs in SPREADS.items()
                if k == kind or k.startswith(kind + " ") for v in vs]
        lines.append(f"  - {kind} timings ({len(vals)}): median "
                     f"{percent(statistics.median(vals))}, 90th percentile "
                     f"{percent(np.percentile(vals, 90))}")
    # The stream baseline is timed again next to every ufunc: its own spread
    # across the run, per operand-count pair measured at least 3 times.
    for n in sizes:
        by_pair: dict = {}
        for r in rows:
            by_pair.setdefault((r["nin"], r["nout"]), []).append(
                r[f"stream_{n}"])
        var = [((max(v) - min(v)) / statistics.median(v), p, len(v))
               for p, v in by_pair.items() if len(v) >= 3]
        if var:
            worst = max(var)
            lines.append(
                f"  - stream baseline at {exp10(n)} across the run: median "
                f"spread {percent(statistics.median(v for v, _, _ in var))} "
                f"over {len(var)} in→out pairs, widest "
                f"{percent(worst[0])} ({worst[1][0]}→{worst[1][1]}, "
                f"{worst[2]} timings)")
    return lines


def summary(rows, sizes):
    small, large = sizes[0], sizes[-1]
    target_sizes = [n for n in sizes if n >= 10**6] or [large]
    plain = [r for r in rows if not r["libm"]]
    libm = [r for r in rows if r["libm"]]
    lines = []

    def worst(items, key, pick=max):
        if not items:
            return "n/a"
        r = pick(items, key=lambda r: r[key])
        return f"{r[key]:.2f} (`{r['name']}`)"

    def med(items, key):
        return f"{statistics.median(r[key] for r in items):.2f}" if items \
            else "n/a"

    lines.append(f"- ufuncs: {len(rows)}; calling exp/log/log10/pow: "
                 f"{len(libm)} (bench/libm_calls.py)")
    for n in target_sizes:
        lines.append(f"- × floor at {exp10(n)}, calling the C library: worst "
                     f"{worst(libm, f'xf_{n}')}, median {med(libm, f'xf_{n}')}"
                     f" (target ≤ {TARGET_LIBM})")
    lines.append(f"- × floor (stream) at {exp10(large)}, arithmetic only: "
                 f"worst {worst(plain, f'xf_{large}')}, median "
                 f"{med(plain, f'xf_{large}')} (target ≤ {TARGET_MEMORY})")
    lines.append(f"- × floor (stream) at {exp10(small)}, arithmetic only, in "
                 f"cache: worst {worst(plain, f'xf_{small}')}, median "
                 f"{med(plain, f'xf_{small}')}; over {TARGET_CACHE}: "
                 f"{sum(r[f'xf_{small}'] > TARGET_CACHE for r in plain)} of "
                 f"{len(plain)}")
    over = [r for r in rows if any(
        r[f"xf_{n}"] > (TARGET_LIBM if r["libm"] else TARGET_MEMORY)
        for n in ([*target_sizes] if r["libm"] else [large]))]
    lines.append(f"- over target ({len(over)}):" + ("" if over else " none"))
    for r in over:
        figs = ", ".join(f"{r[f'xf_{n}']:.2f} at {exp10(n)}"
                         for n in target_sizes)
        reason = REASONS.get(r["name"], "no reason recorded")
        lines.append(f"  - `{r['name']}`: {figs}: {reason}")
    # A ufunc much slower than its stream but not declared as calling the C
    # library probably calls it: its row is missing from libm_calls.py.
    undeclared = [r for r in plain if r[f"xf_{large}"] > 3.0]
    if undeclared:
        lines.append("- over 3× the stream but no C-library calls declared: "
                     + ", ".join(f"`{r['name']}`" for r in undeclared))
    with_np = [r for r in rows if "numpy" in r]
    multi = [r for r in with_np if r["nout"] >= 3]
    lines.append(f"- slowest vs NumPy expression ({len(with_np)} ufuncs): "
                 f"{worst(with_np, 'numpy', min)}; three or more outputs "
                 f"({len(multi)}): {worst(multi, 'numpy', min)}; the same "
                 f"two with the ufunc writing into existing arrays: "
                 f"{worst(with_np, 'numpy_out', min)}; "
                 f"{worst(multi, 'numpy_out', min)}")
    below = [r for r in with_np if r["numpy"] < 1.0]
    lines.append(f"- slower than NumPy ({len(below)}): "
                 + (", ".join(f"`{r['name']}`" for r in below) or "none")
                 + " (all call exp/log/pow)" * bool(
                     below and all(r["libm"] for r in below)))
    lines.append(f"- worst strided/contiguous at {exp10(large)}: "
                 f"{worst(rows, 'strided')}; median {med(rows, 'strided')}")
    thr = [r for r in rows if "threads" in r]
    sax = [r for r in thr if r["name"] == "calc_ptf_saxton2006"]
    if sax:
        lines.append(f"- threaded speed-up of `calc_ptf_saxton2006` at "
                     f"{exp10(large)}: {sax[0]['threads']:.2f}; median "
                     f"{med(thr, 'threads')}")
    lines.append("- run-to-run spread, (max - min) / median of the "
                 "repetitions:")
    lines += spread_lines(rows, sizes)
    return "\n".join(lines)


def plot(rows, sizes, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib not installed: no plot written", file=sys.stderr)
        return
    large = sizes[-1]
    names = [r["name"].removeprefix("calc_ptf_") for r in rows]
    melems = [1e3 / r[f"ns_{large}"] for r in rows]
    floor = [1e3 / r[f"floor_{large}"] for r in rows]
    fig, ax = plt.subplots(figsize=(10, max(6, len(rows) * 0.16)))
    y = np.arange(len(rows))
    colors = ["tab:orange" if r["libm"] else "tab:blue" for r in rows]
    ax.barh(y, melems, color=colors)
    ax.scatter(floor, y, marker="|", color="black", s=60)
    ax.set_yticks(y, names, fontsize=5)
    ax.set_ylim(len(rows) - 0.5, -0.5)
    ax.set_xscale("log")
    ax.set_xlabel(f"million elements per second at {large:.0e} elements, "
                  "one thread")
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch
    ax.legend(handles=[
        Patch(color="tab:blue", label="ufunc, arithmetic only"),
        Patch(color="tab:orange", label="ufunc calling exp/log/pow"),
        Line2D([], [], marker="|", color="black", linestyle="none",
               markersize=8, label="floor: stream loop + C-library calls"),
    ], loc="lower center", bbox_to_anchor=(0.5, 1.0), ncol=3, fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=130)


def cpu_name() -> str:
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown processor"


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--out", default=None, help="directory for bench.md "
                    "and throughput.png")
    ap.add_argument("--quick", action="store_true",
                    help="10**4 and 10**6 elements, 3 repetitions")
    ap.add_argument("--filter", default="", help="regex on ufunc names")
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--threads", type=int, default=default_threads())
    ap.add_argument("--chunk-sweep", action="store_true",
                    help="only time parallel_apply by chunk size")
    args = ap.parse_args(argv)
    if args.chunk_sweep:
        print(f"parallel_apply speed-up over one call at 1e7 elements, "
              f"{args.threads} threads, by chunk size:\n")
        print(chunk_sweep(args.threads, max(5, args.repeat)))
        return
    sizes = (10**4, 10**6) if args.quick else (10**5, 10**6, 10**7)
    repeat = 3 if args.quick else max(5, args.repeat)
    rng = np.random.default_rng(12345)
    ufuncs = {n: u for n, u in all_ufuncs().items()
              if re.search(args.filter, n)}
    unknown = sorted(set(LIBM_CALLS) - set(all_ufuncs()))
    if unknown:
        print("libm_calls.py names ufuncs that do not exist: "
              + ", ".join(unknown), file=sys.stderr)
    native = Native((u.nin, u.nout) for u in ufuncs.values())
    ops = {n: Operands(n, rng) for n in sizes}
    rows = []
    t0 = time.perf_counter()
    for i, (name, uf) in enumerate(ufuncs.items()):
        rows.append(bench_one(name, uf, sizes, ops, repeat, args.threads,
                              native))
        print(f"[{i + 1}/{len(ufuncs)}] {name}", file=sys.stderr, flush=True)
    elapsed = time.perf_counter() - t0
    machine = (f"{platform.machine()}, {os.cpu_count()} cores, {cpu_name()}, "
               f"{platform.platform()}, Python {platform.python_version()}, "
               f"NumPy {np.__version__}")
    report = "\n\n".join([
        f"loamara benchmark: {machine}; median of {repeat}; single-thread "
        f"times in thread CPU time; {args.threads} threads (wall clock) for "
        f"the threaded column; baselines compiled with "
        f"`{' '.join(native.flags)}`; {elapsed:.0f} s.",
        "Summary:\n" + summary(rows, sizes),
        table(rows, sizes),
    ]) + "\n"
    print(report)
    if args.out:
        os.makedirs(args.out, exist_ok=True)
        with open(os.path.join(args.out, "bench.md"), "w") as f:
            f.write(report)
        plot(rows, sizes, os.path.join(args.out, "throughput.png"))


if __name__ == "__main__":
    main()
