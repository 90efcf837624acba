"""Benchmark of loamara's file input and output.

--raster: a SoilGrids-like soil map (three int16 GeoTIFF layers, sand and
clay in g/kg, organic carbon in dg/kg, tiled 512 x 512 and
deflate-compressed like ISRIC's files, with a nodata area) goes through the
whole raster path of `loamara run`:

    open_inputs -> estimate("saxton2006", preset="soilgrids")
    -> output_dataset -> write_outputs (NetCDF, then GeoTIFF)

and, in the same run, the bare ufunc `_loamara.calc_ptf_saxton2006` is
timed on the same cells in memory (converted to fractions and organic
matter by hand, one thread, into preallocated outputs; a plain call is
shown too).  Each measurement runs in a fresh process, which reports its
wall time, CPU time and peak resident memory (VmHWM, else ru_maxrss); the
figures are medians over --repeat rounds.  The throughput ratio is cells/s
of the pipeline over cells/s of the bare ufunc (the pipeline uses every
core, the ufunc one).  On a machine shared with other work the wall times
depend on that work; the CPU time does much less, and the last ratio
column spreads it over all cores (what the ratio would be on cores of its
own, with perfect parallelism).

--csv: a table of --rows soils (sand and clay as mass fractions, organic
matter in percent) goes through `loamara run saxton2006 soils.csv -o
out.csv` (a subprocess, as a user runs it), against the same job written by
hand with pandas: `pandas.read_csv`, the ufunc, `DataFrame.to_csv`, timed
in the same run, median of --repeat.

Usage: python bench/bench_io.py --raster [--size 4000] [--repeat 5]
       [--chunks 1024] [--dir DIR]
       python bench/bench_io.py --csv [--rows 1000000] [--repeat 5]
"""
from __future__ import annotations

import argparse
import json
import os
import platform
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

LAYERS = {  # name: (unit, low, high)
    "sand_0-5cm_mean": ("g/kg", 50, 850),
    "clay_0-5cm_mean": ("g/kg", 30, 600),
    "soc_0-5cm_mean": ("dg/kg", 5, 600),
}
NODATA = -32768


# ---------------------------------------------------------------------------
# Raster part


def smooth_field(rng: np.random.Generator, n: int, lo: float, hi: float
                 ) -> np.ndarray:
    """A spatially correlated field from lo to hi: coarse noise blown up
    by bilinear interpolation, plus a little cell-scale noise (soil maps are
    smooth at the scale of a few cells, not white noise)."""
    coarse = rng.uniform(0.0, 1.0, (n // 40 + 2, n // 40 + 2))
    pos = np.linspace(0, coarse.shape[0] - 1.001, n)
    i = pos.astype(int)
    f = pos - i
    rows = coarse[i] * (1 - f)[:, None] + coarse[i + 1] * f[:, None]
    field = rows[:, i] * (1 - f) + rows[:, i + 1] * f
    field += rng.normal(0.0, 0.02, (n, n))
    return np.clip(lo + (hi - lo) * field, lo, hi)


def make_raster(directory: Path, n: int) -> list[Path]:
    import rasterio
    from rasterio.transform import from_origin

    rng = np.random.default_rng(2021)
    sand = smooth_field(rng, n, *LAYERS["sand_0-5cm_mean"][1:])
    clay = np.minimum(smooth_field(rng, n, *LAYERS["clay_0-5cm_mean"][1:]),
                      980.0 - sand)
    soc = smooth_field(rng, n, *LAYERS["soc_0-5cm_mean"][1:])
    # A sea in one corner: about 8 % of the cells are nodata.
    yy, xx = np.mgrid[0:n, 0:n]
    sea = (yy / n) ** 2 + (xx / n) ** 2 < 0.1
    paths = []
    for name, values in (("sand_0-5cm_mean", sand),
                         ("clay_0-5cm_mean", clay),
                         ("soc_0-5cm_mean", soc)):
        data = np.rint(values).astype(np.int16)
        data[sea] = NODATA
        path = directory / f"{name}.tif"
        with rasterio.open(
                path, "w", driver="GTiff", width=n, height=n, count=1,
                dtype="int16", nodata=NODATA, crs="EPSG:3857",
                transform=from_origin(-1_000_000.0, 6_000_000.0, 250.0,
                                      250.0),
                tiled=True, blockxsize=512, blockysize=512,
                compress="deflate", predictor=2) as dst:
            dst.write(data, 1)
            dst.set_band_unit(1, LAYERS[name][0])
            dst.update_tags(1, units=LAYERS[name][0])
        paths.append(path)
    return paths


def cpu_seconds() -> float:
    use = resource.getrusage(resource.RUSAGE_SELF)
    return use.ru_utime + use.ru_stime


def measure_pipeline(inputs: list[str], target: str, chunks: int
                     ) -> tuple[float, float]:
    """Wall and CPU seconds from opening the inputs to the output in
    place.  Imports and the unit registry, made once per process, come
    before the clock starts."""
    import dask.array  # noqa: F401
    import rioxarray  # noqa: F401
    import xarray  # noqa: F401
    import zarr  # noqa: F401

    import loamara
    from loamara import units
    from loamara.io import open_inputs, output_dataset, write_outputs

    units.registry()
    c0, t0 = cpu_seconds(), time.perf_counter()
    ds = open_inputs([Path(p) for p in inputs], chunks=chunks)
    r = loamara.estimate("saxton2006", data=ds, preset="soilgrids")
    write_outputs(output_dataset(ds, r), Path(target))
    return time.perf_counter() - t0, cpu_seconds() - c0


def measure_ufunc(inputs: list[str]) -> dict[str, float]:
    """The bare ufunc on the cells in memory, converted by hand: once as a
    plain call that allocates its outputs, then (the baseline) the median
    of three calls into preallocated, already touched outputs, which leaves
    out the first touch of fresh memory (slow and erratic on a virtual
    machine)."""
    import rasterio

    import _loamara

    # First, in a process that has not yet used that much memory: the first
    # touch of as many fresh bytes as the outputs hold, what any pipeline
    # pays to have its outputs anywhere, in memory or in the page cache of
    # the file it writes.
    with rasterio.open(inputs[0]) as src:
        cells = src.width * src.height
    t0 = time.perf_counter()
    fresh = np.empty(10 * cells)
    fresh[:] = 0.0
    touch = time.perf_counter() - t0
    del fresh
    layers = {}
    for p in inputs:
        with rasterio.open(p) as src:
            a = src.read(1, masked=True)
        layers[Path(p).stem] = np.ma.filled(a.astype(np.float64), np.nan)
    sand = layers["sand_0-5cm_mean"] / 1000.0
    clay = layers["clay_0-5cm_mean"] / 1000.0
    om = np.multiply(layers["soc_0-5cm_mean"] / 100.0, 1.724)
    ufunc = _loamara.calc_ptf_saxton2006
    with np.errstate(all="ignore"):
        t0 = time.perf_counter()
        out = ufunc(sand, clay, om)
        plain = time.perf_counter() - t0
        walls, cpus = [], []
        for _ in range(3):
            c0, t0 = cpu_seconds(), time.perf_counter()
            ufunc(sand, clay, om, out=out)
            walls.append(time.perf_counter() - t0)
            cpus.append(cpu_seconds() - c0)
    return {"seconds": statistics.median(walls),
            "cpu": statistics.median(cpus), "plain": plain, "touch": touch}


def measure(args: argparse.Namespace) -> None:
    """One measurement in this process; prints seconds and peak memory."""
    inputs = args.inputs.split(",")
    if args.measure == "ufunc":
        result = measure_ufunc(inputs)
    else:
        seconds, cpu = measure_pipeline(inputs, args.target, args.chunks)
        target = Path(args.target)
        size = sum(f.stat().st_size for f in target.rglob("*")) \
            if target.is_dir() else target.stat().st_size
        result = {"seconds": seconds, "cpu": cpu, "bytes": size}
    result["maxrss"] = peak_memory()
    result["load"] = os.getloadavg()[0]
    print(json.dumps(result))


def peak_memory() -> int:
    """Bytes of this process's peak resident memory.  Linux keeps
    ru_maxrss across exec, so a child started by a large parent would
    report the parent's size: VmHWM, which starts anew with the program,
    is read where there is one."""
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def run_one(kind: str, inputs: list[Path], target: Path | None,
            chunks: int) -> dict[str, float]:
    cmd = [sys.executable, os.path.abspath(__file__), "--measure", kind,
           "--inputs", ",".join(map(str, inputs)), "--chunks", str(chunks)]
    if target is not None:
        cmd += ["--target", str(target)]
    done = subprocess.run(cmd, check=True, capture_output=True, text=True)
    result: dict[str, float] = {}
    for line in done.stdout.splitlines():
        if line.startswith("{"):
            result.update(json.loads(line))
    if target is not None:
        if target.is_dir():
            import shutil
            shutil.rmtree(target)
        else:
            target.unlink()
    return result


def raster(args: argparse.Namespace) -> None:
    n = args.size
    cells = n * n
    with tempfile.TemporaryDirectory(dir=args.dir) as tmp:
        directory = Path(tmp)
        t0 = time.perf_counter()
        inputs = make_raster(directory, n)
        print(f"{n} x {n} cells, three int16 GeoTIFF layers "
              f"({sum(p.stat().st_size for p in inputs) / 2**20:.0f} MiB), "
              f"made in {time.perf_counter() - t0:.1f} s; "
              f"{os.cpu_count()} cores; chunks {args.chunks}; "
              f"median of {args.repeat}", flush=True)
        kinds = {"ufunc": None, "netcdf": directory / "out.nc",
                 "geotiff": directory / "out.tif"}
        samples: dict[str, list[dict[str, float]]] = {k: [] for k in kinds}
        for r in range(args.repeat):
            for kind, target in kinds.items():
                res = run_one("ufunc" if kind == "ufunc" else "pipeline",
                              inputs, target, args.chunks)
                samples[kind].append(res)
                plain = (f"; plain call {res['plain']:.2f} s"
                         if "plain" in res else "")
                print(f"  round {r + 1} {kind:8s} {res['seconds']:6.2f} s "
                      f"(CPU {res['cpu']:5.2f} s{plain})  peak "
                      f"{res['maxrss'] / 2**20:5.0f} MiB  load average "
                      f"{res['load']:.1f}", flush=True)
    def median(kind: str, key: str) -> float:
        return statistics.median(s[key] for s in samples[kind])

    base = median("ufunc", "seconds")
    base_cpu = median("ufunc", "cpu")
    cores = os.cpu_count() or 1
    print()
    print(f"Python {platform.python_version()}, {platform.platform()}, "
          f"{cores} cores")
    print("| path | median s | Mcells/s | × bare ufunc | CPU s | × bare "
          f"ufunc on {cores} free cores | peak memory | output |")
    print("|---|---|---|---|---|---|---|---|")
    for kind, runs in samples.items():
        sec, cpu = median(kind, "seconds"), median(kind, "cpu")
        rss = median(kind, "maxrss") / 2**20
        size = (f"{median(kind, 'bytes') / 2**20:.0f} MiB"
                if "bytes" in runs[0] else "in memory")
        label = ("bare calc_ptf_saxton2006, 1 thread, out=" if kind == "ufunc"
                 else f"pipeline to {kind}")
        # What the ratio would be with the cores to itself: the CPU time
        # spread over all cores (an upper bound, as if perfectly parallel).
        ideal = base_cpu / (cpu / (1 if kind == "ufunc" else cores))
        print(f"| {label} | {sec:.2f} | {cells / sec / 1e6:.1f} | "
              f"{base / sec:.2f} | {cpu:.2f} | {ideal:.2f} | {rss:.0f} MiB "
              f"| {size} |")
    plain, touch = median("ufunc", "plain"), median("ufunc", "touch")
    print(f"the bare ufunc as a plain call (allocating its outputs): "
          f"{plain:.2f} s; first touch of the outputs' {10 * cells * 8 / 2**30:.2f}"
          f" GiB of fresh memory alone: {touch:.2f} s")
    floor = base + touch
    for kind in ("netcdf", "geotiff"):
        sec = median(kind, "seconds")
        print(f"pipeline to {kind}: {plain / sec:.2f} x the plain call, "
              f"{floor / sec:.2f} x the floor (bare ufunc + first touch of "
              f"the output bytes, {floor:.2f} s)")
    loads = [s["load"] for runs in samples.values() for s in runs]
    print(f"load average during the runs: {min(loads):.1f} to "
          f"{max(loads):.1f} (the machine's other work shares the cores)")


# ---------------------------------------------------------------------------
# CSV part

HAND_WRITTEN = """
import sys
import pandas as pd
import _loamara
d = pd.read_csv(sys.argv[1])
outs = _loamara.calc_ptf_saxton2006(d["sand"].to_numpy(),
                                    d["clay"].to_numpy(), d["om"].to_numpy())
for name, o in zip(["theta_1500", "theta_33", "theta_s", "aw", "psi_e", "a",
                    "b", "lam", "ksat", "rho_n"], outs):
    d[name] = o
d.to_csv(sys.argv[2], index=False)
"""


def csv_table(args: argparse.Namespace) -> None:
    rng = np.random.default_rng(0)
    n = args.rows
    with tempfile.TemporaryDirectory(dir=args.dir) as tmp:
        src = Path(tmp) / "soils.csv"
        sand = rng.uniform(0.1, 0.8, n).round(4)
        clay = (rng.uniform(0.05, 0.6, n) * (1 - sand)).round(4)
        om = rng.uniform(0.5, 5.0, n).round(3)
        with open(src, "w") as f:
            f.write("id,sand,clay,om\n")
            np.savetxt(f, np.column_stack([np.arange(n), sand, clay, om]),
                       fmt=["%d", "%.4f", "%.4f", "%.3f"], delimiter=",")
        runs = {
            "loamara run": [sys.executable, "-m", "loamara", "run",
                            "saxton2006", str(src), "-o",
                            str(Path(tmp) / "out.csv")],
            "pandas by hand": [sys.executable, "-c", HAND_WRITTEN, str(src),
                               str(Path(tmp) / "hand.csv")],
        }
        times: dict[str, list[float]] = {k: [] for k in runs}
        for _ in range(args.repeat):
            for name, cmd in runs.items():
                t0 = time.perf_counter()
                subprocess.run(cmd, check=True, capture_output=True)
                times[name].append(time.perf_counter() - t0)
        med = {k: statistics.median(v) for k, v in times.items()}
        print(f"CSV, {n} rows, `loamara run saxton2006` against pandas "
              f"read_csv + ufunc + to_csv written by hand (median of "
              f"{args.repeat}; {platform.python_version()}, "
              f"{os.cpu_count()} cores):\n")
        print("| pipeline | s | rows/s | x pandas by hand |")
        print("|---|---|---|---|")
        for k, v in med.items():
            print(f"| {k} | {v:.2f} | {n / v:,.0f} | "
                  f"{med['pandas by hand'] / v:.2f} |")
        spread = {k: (min(v), max(v)) for k, v in times.items()}
        print("\nrange over the repetitions: " + "; ".join(
            f"{k} {a:.2f}-{b:.2f} s" for k, (a, b) in spread.items()))


# ---------------------------------------------------------------------------


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--raster", action="store_true",
                    help="the raster path: GeoTIFF layers -> NetCDF and "
                    "GeoTIFF, against the bare ufunc")
    ap.add_argument("--csv", action="store_true",
                    help="the table path: loamara run on a CSV file "
                    "against pandas by hand")
    ap.add_argument("--rows", type=int, default=1_000_000,
                    help="rows of the CSV table (default 10**6)")
    ap.add_argument("--size", type=int, default=4000,
                    help="cells per side of the raster (default 4000)")
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--chunks", type=int, default=1024,
                    help="cells per side of a chunk (default 1024)")
    ap.add_argument("--dir", default=None,
                    help="directory for the temporary files")
    ap.add_argument("--measure", help=argparse.SUPPRESS)
    ap.add_argument("--inputs", help=argparse.SUPPRESS)
    ap.add_argument("--target", help=argparse.SUPPRESS)
    args = ap.parse_args(argv)
    if args.measure:
        measure(args)
        return 0
    if args.csv:
        csv_table(args)
    if args.raster:
        raster(args)
    if not (args.csv or args.raster):
        ap.error("choose what to measure: --csv, --raster")
    return 2


if __name__ == "__main__":
    sys.exit(main())
