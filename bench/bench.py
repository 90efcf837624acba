"""Benchmark of every loamara ufunc.

For each ufunc this measures, in one run, with float64 operands:

* ns/element of the contiguous loop at 10**5 elements (cache-resident) and
  10**7 elements (memory-bound), outputs preallocated;
* the ratio of that time to a memory-bandwidth baseline with the same
  operand counts (1.00 = as fast as NumPy moving the same arrays);
* for the ufuncs that have one, the speed-up over the same formula written as
  a plain NumPy expression (bench/numpy_expressions.py), both allocating
  their outputs as a user's call would;
* the cost of strided operands (every second element of inputs and outputs)
  relative to the contiguous call;
* the speed-up of loamara.parallel_apply on all cores over one thread.

Every time is the median of --repeat repetitions.  The bandwidth baseline is
built from two NumPy calls timed at the same size in the same run:
np.copyto(b, a) (one array read, one written) and np.add(a, b, out=c) (two
read, one written).  Their difference is the cost R of reading one more
array and copy - R the cost W of writing one; a ufunc with nin inputs and
nout outputs is compared with copy + (nin - 1) R + (nout - 1) W, which is
exactly the copy for 1 -> 1 and exactly the addition for 2 -> 1.

Usage: python bench/bench.py [--out DIR] [--quick] [--filter REGEX]
Writes DIR/bench.md (the table) and DIR/throughput.png (a plot).
python bench/bench.py --chunk-sweep times parallel_apply by chunk size.
"""
from __future__ import annotations

import argparse
import os
import platform
import re
import statistics
import sys
import time

import numpy as np

import _loamara
from loamara.parallel import default_threads, parallel_apply

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
try:
    from numpy_expressions import EXPRESSIONS  # noqa: E402
except ImportError:  # pragma: no cover
    EXPRESSIONS = {}

# Ufuncs whose formula calls exp, log, log10 or pow; the others should run
# at the speed of memory.
TRANSCENDENTAL = re.compile(
    r"ahuja|aimrun|jabro|saxton2006$|saxton2006_(tension_dry|conductivity)"
    r"|vereecken|puckett|hodnett|li2007|mayr|wang|weber"
    r"|ferrerjulia2004_(campbell_shiozawa|saxton|dane_puckett|puckett|cosby)$"
    r"|ferrerjulia2004_.*_sand$|oosterveld1980_(field_capacity|retention"
    r"|available_water)")


def uses_libm(name: str) -> bool:
    return bool(TRANSCENDENTAL.search(name))


def timeit(fn, repeat: int, min_time: float = 0.005) -> float:
    """Median seconds per call over `repeat` repetitions (each repetition
    loops long enough to be timed reliably)."""
    t0 = time.perf_counter()
    fn()  # warm-up, also sizes the repetitions
    once = time.perf_counter() - t0
    loops = max(1, int(min_time / max(once, 1e-9)))
    samples = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        for _ in range(loops):
            fn()
        samples.append((time.perf_counter() - t0) / loops)
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

    def args(self, name: str, strided: bool = False):
        uf = getattr(_loamara, name)
        if name == "calc_ptf_clapp1978":
            return [self.classes[::2] if strided else self.classes[:self.n]]
        xs = list((self.strided if strided else self.inputs)[:uf.nin])
        if name == "calc_ptf_weber2020":
            xs[3] = self.shape_param_strided if strided else self.shape_param
        return xs

    def outs(self, name: str, strided: bool = False):
        uf = getattr(_loamara, name)
        pool = self.outputs_strided if strided else self.outputs
        return tuple(pool[:uf.nout])


class Baseline:
    """Bandwidth baseline at one size (see the module docstring)."""

    def __init__(self, ops: Operands, repeat: int):
        a, b = ops.inputs[0], ops.inputs[1]
        c = ops.outputs[0]
        self.copy = timeit(lambda: np.copyto(c, a), repeat)
        self.add = timeit(lambda: np.add(a, b, out=c), repeat)
        self.read = max(self.add - self.copy, 0.0)
        self.write = max(self.copy - self.read, 0.0)

    def time(self, nin: int, nout: int) -> float:
        return self.copy + (nin - 1) * self.read + (nout - 1) * self.write


def bench_one(name, sizes, ops, repeat, threads):
    uf = getattr(_loamara, name)
    row = {"name": name, "nin": uf.nin, "nout": uf.nout,
           "libm": uses_libm(name)}
    with np.errstate(all="ignore"):
        for n in sizes:
            xs, outs = ops[n].args(name), ops[n].outs(name)
            # The baseline is timed next to the ufunc, on the same arrays, so
            # that both see the same state of caches and memory.
            base = Baseline(ops[n], repeat)
            t = timeit(lambda: uf(*xs, out=outs), repeat)
            row[f"ns_{n}"] = t / n * 1e9
            row[f"bw_{n}"] = t / base.time(uf.nin, uf.nout)
        n = sizes[-1]
        t_contig = row[f"ns_{n}"] * n * 1e-9
        sx, souts = ops[n].args(name, True), ops[n].outs(name, True)
        row["strided"] = timeit(lambda: uf(*sx, out=souts), repeat) / t_contig
        xs, outs = ops[n].args(name), ops[n].outs(name)
        if threads > 1:
            t_par = timeit(lambda: parallel_apply(uf, *xs, out=outs,
                                                  threads=threads), repeat)
            row["threads"] = t_contig / t_par
        expr = EXPRESSIONS.get(name)
        if expr is not None:
            # Both allocate their outputs, as a user's call would.
            t_uf = timeit(lambda: uf(*xs), repeat)
            t_np = timeit(lambda: expr(*xs), repeat)
            row["numpy"] = t_np / t_uf
            # The same expression against the ufunc writing into existing
            # arrays, as when a raster is processed block by block.
            row["numpy_out"] = t_np / t_contig
    return row


def chunk_sweep(threads, repeat):
    """Speed-up of parallel_apply over one call at 10**7 elements, by chunk
    size: the measurement behind its default chunk size."""
    n = 10**7
    ops = Operands(n, np.random.default_rng(1))
    sizes = [2**k for k in (13, 15, 17, 19, 21)]
    lines = ["| ufunc | " + " | ".join(f"2**{c.bit_length() - 1}"
                                       for c in sizes) + " |",
             "|---|" + "---|" * len(sizes)]
    for name in ("calc_ptf_saxton2006", "calc_ptf_jabro1992",
                 "calc_ptf_rawls1982_full_wrc",
                 "calc_ptf_lal1979_group_i_water_0bar_from_clay"):
        uf = getattr(_loamara, name)
        xs, outs = ops.args(name), ops.outs(name)
        with np.errstate(all="ignore"):
            one = timeit(lambda: uf(*xs, out=outs), repeat)
            cells = [one / timeit(lambda: parallel_apply(
                uf, *xs, out=outs, chunk_size=c, threads=threads), repeat)
                for c in sizes]
        lines.append(f"| `{name}` | " + " | ".join(f"{v:.2f}" for v in cells)
                     + " |")
    return "\n".join(lines)


def fmt(v, pattern="{:.2f}"):
    return "" if v is None else pattern.format(v)


def table(rows, sizes):
    small, large = sizes
    head = (f"| ufunc | in→out | libm | ns/el 1e{len(str(small)) - 1} "
            f"| ns/el 1e{len(str(large)) - 1} | ×bandwidth 1e{len(str(small)) - 1} "
            f"| ×bandwidth 1e{len(str(large)) - 1} | vs NumPy | vs NumPy, out= "
            f"| strided | threads |")
    lines = [head, "|" + "---|" * 11]
    for r in rows:
        lines.append(
            f"| `{r['name']}` | {r['nin']}→{r['nout']} | "
            f"{'yes' if r['libm'] else ''} | {r[f'ns_{small}']:.2f} | "
            f"{r[f'ns_{large}']:.2f} | {r[f'bw_{small}']:.2f} | "
            f"{r[f'bw_{large}']:.2f} | {fmt(r.get('numpy'))} | "
            f"{fmt(r.get('numpy_out'))} | "
            f"{r['strided']:.2f} | {fmt(r.get('threads'))} |")
    return "\n".join(lines)


def summary(rows, sizes):
    small, large = sizes
    plain = [r for r in rows if not r["libm"]]
    lines = []

    def worst(items, key, pick=max):
        if not items:
            return "n/a"
        r = pick(items, key=lambda r: r[key])
        return f"{r[key]:.2f} (`{r['name']}`)"

    lines.append(f"- ufuncs: {len(rows)}; without exp/log/pow: {len(plain)}")
    lines.append(f"- worst ×bandwidth at {large:.0e}, no libm calls: "
                 f"{worst(plain, f'bw_{large}')} (target ≤ 1.15)")
    lines.append(f"- worst ×bandwidth at {small:.0e}, no libm calls: "
                 f"{worst(plain, f'bw_{small}')} (target ≤ 1.30)")
    with_np = [r for r in rows if "numpy" in r]
    lines.append(f"- slowest vs NumPy expression ({len(with_np)} ufuncs): "
                 f"{worst(with_np, 'numpy', min)} (target ≥ 1.0)")
    multi = [r for r in with_np if r["nout"] >= 3]
    lines.append(f"- slowest vs NumPy, three or more outputs ({len(multi)} "
                 f"ufuncs): {worst(multi, 'numpy', min)} (target ≥ 3.0)")
    lines.append(f"- the same two with the ufunc writing into existing "
                 f"arrays: {worst(with_np, 'numpy_out', min)}; "
                 f"{worst(multi, 'numpy_out', min)}")
    below = [r for r in with_np if r["numpy"] < 1.0]
    lines.append(f"- slower than NumPy ({len(below)}): "
                 + ", ".join(f"`{r['name']}`" for r in below)
                 + " (all call exp/log/pow)" * all(r["libm"] for r in below))
    over = [r for r in plain if r[f"bw_{large}"] > 1.15]
    lines.append(f"- no libm calls but over 1.15× bandwidth at {large:.0e}: "
                 f"{len(over)} of {len(plain)}")
    over = [r for r in plain if r[f"bw_{small}"] > 1.3]
    lines.append(f"- no libm calls but over 1.3× bandwidth at {small:.0e}: "
                 f"{len(over)} of {len(plain)}")
    lines.append(f"- worst strided/contiguous at {large:.0e}: "
                 f"{worst(rows, 'strided')} (target ≤ 1.5)")
    sax = [r for r in rows if r["name"] == "calc_ptf_saxton2006"
           and "threads" in r]
    if sax:
        lines.append(f"- threaded speed-up of `calc_ptf_saxton2006` at "
                     f"{large:.0e}: {sax[0]['threads']:.2f} (target ≥ 1.8)")
    thr = [r for r in rows if "threads" in r]
    if thr:
        lines.append(f"- median threaded speed-up: "
                     f"{statistics.median(r['threads'] for r in thr):.2f}")
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
    bw = [1e3 / (r[f"ns_{large}"] / r[f"bw_{large}"]) for r in rows]
    fig, ax = plt.subplots(figsize=(10, max(6, len(rows) * 0.16)))
    y = np.arange(len(rows))
    colors = ["tab:orange" if r["libm"] else "tab:blue" for r in rows]
    ax.barh(y, melems, color=colors)
    ax.scatter(bw, y, marker="|", color="black", s=60)
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
               markersize=8, label="memory-bandwidth baseline"),
    ], loc="lower right", fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=130)


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
    sizes = (10**4, 10**6) if args.quick else (10**5, 10**7)
    repeat = 3 if args.quick else max(5, args.repeat)
    rng = np.random.default_rng(12345)
    names = [n for n, v in vars(_loamara).items()
             if isinstance(v, np.ufunc) and re.search(args.filter, n)]
    ops = {n: Operands(n, rng) for n in sizes}
    rows = []
    t0 = time.perf_counter()
    for i, name in enumerate(names):
        rows.append(bench_one(name, sizes, ops, repeat, args.threads))
        print(f"[{i + 1}/{len(names)}] {name}", file=sys.stderr, flush=True)
    elapsed = time.perf_counter() - t0
    machine = (f"{platform.machine()}, {os.cpu_count()} cores, "
               f"{platform.processor() or platform.platform()}, "
               f"Python {platform.python_version()}, NumPy {np.__version__}")
    report = "\n\n".join([
        f"loamara benchmark: {machine}; median of {repeat}; "
        f"{args.threads} threads for the threaded column; "
        f"{elapsed:.0f} s.",
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
