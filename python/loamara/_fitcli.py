"""``loamara fit``: curve models fitted to every sample of a long table.

    loamara fit data.csv --sample id --h h_cm --theta theta --h-unit cm
                --model vg [--k k_cm_d --k-unit cm/d] -o params.csv
                [--plot DIR]

One row per measured point (sample id, suction, water content[,
conductivity]); one output row per sample: the sample id, the model, the
status ("ok", or why the sample could not be fitted: too few points,
missing values, negative water contents, one suction only, no
convergence), the number of points, each parameter with its standard
error and 95 % interval (``alpha [1/cm]``, ``alpha_se [1/cm]``, ...),
RMSE, R2, AIC, AICc and BIC.  A sample that fails gets empty (NaN)
numbers and its reason; the others are fitted all the same.  The output
appears only when every sample is done (CSV or Parquet, by its suffix).
``--plot DIR`` writes ``<sample>.png`` for each fitted sample: its points
and the fitted curve(s).
"""
from __future__ import annotations

import argparse
import math
import os
import re
import sys
from pathlib import Path
from typing import Any

import numpy as np

from ._errors import RunError, TableError
from ._progress import Progress
from ._run import check_paths, progress_wanted
from .io import (Chunk, Format, read_columns, read_header, suffix_text,
                 table_format, writer_class)
from .io._output import create_part_file, install, remove

__all__ = ["add_parser", "run"]


def add_parser(sub: Any) -> None:
    from ._fit import MODEL_NAMES

    p = sub.add_parser(
        "fit", help="fit retention curve models to every sample of a table",
        description="Fit a retention curve model (and, with --k, its "
        "conductivity on a log10 scale) to every sample of a long table "
        "with one measured point per row. Writes one row per sample: "
        "parameters with standard errors and 95 %% intervals, RMSE, R2, "
        "AIC, AICc, BIC; a sample that cannot be fitted gets its reason in "
        "the status column and empty numbers.")
    p.add_argument("input", help=f"table ({suffix_text('table')}) with a "
                   "header")
    p.add_argument("-o", "--output", required=True,
                   help=f"output table ({suffix_text('table')}); replaced if "
                   "it exists")
    p.add_argument("--sample", required=True, metavar="COLUMN",
                   help="column of the sample ids")
    p.add_argument("--h", required=True, metavar="COLUMN",
                   help="column of the suctions (positive)")
    p.add_argument("--theta", required=True, metavar="COLUMN",
                   help="column of the volumetric water contents")
    p.add_argument("--k", metavar="COLUMN",
                   help="column of conductivities (empty where not "
                   "measured), fitted on a log10 scale")
    p.add_argument("--h-unit", default="cm",
                   help="unit of the suctions (default cm; kPa, hPa, "
                   "m, ...); pressure parameters are reported in it")
    p.add_argument("--theta-unit", default=None,
                   help="unit of the water contents (default volume "
                   "fraction; %% for percent)")
    p.add_argument("--k-unit", default=None,
                   help="unit of the conductivities (kept for Ks)")
    p.add_argument("--model", default="vg", choices=MODEL_NAMES,
                   help="vg (m = 1 - 1/n), vg_m (m free), bc, campbell, "
                   "kosugi, durner, or best (all, the lowest AICc kept)")
    p.add_argument("--fix", action="append", default=[],
                   metavar="PARAM=VALUE",
                   help="hold a parameter fixed, e.g. theta_r=0 "
                   "(repeatable)")
    p.add_argument("--k-weight", type=float, default=None,
                   help="weight of the log10 K residuals (default 0.1)")
    p.add_argument("--threads", type=int, default=None,
                   help="threads (default: every core)")
    p.add_argument("--plot", metavar="DIR",
                   help="also draw each sample's points and fitted curve "
                   "into DIR/<sample>.png (needs matplotlib)")
    p.add_argument("--delimiter", default=",",
                   help="CSV field delimiter (default ',')")
    p.set_defaults(func=run)


def _fixed(items: list[str]) -> dict[str, float]:
    out: dict[str, float] = {}
    for item in items:
        name, sep, value = item.partition("=")
        try:
            out[name.strip()] = float(value)
        except ValueError:
            sep = ""
        if not sep:
            raise RunError(f"--fix {item!r}: expected PARAM=NUMBER, e.g. "
                           "theta_r=0")
    return out


def _read(path: Path, args: argparse.Namespace
          ) -> tuple[list[str], np.ndarray, np.ndarray, np.ndarray | None]:
    header = read_header(path, args.delimiter)
    cols = [args.sample, args.h, args.theta] + ([args.k] if args.k else [])
    missing = [c for c in cols if c not in header]
    if missing:
        raise RunError(f"{path}: no column {', '.join(map(repr, missing))}; "
                       "the columns are " + ", ".join(header))
    got = read_columns(path, header, {c: c for c in cols[1:]},
                       args.delimiter, text=[args.sample])
    return got[args.sample], got[args.h], got[args.theta], \
        got[args.k] if args.k else None


def run(args: argparse.Namespace) -> int:
    from . import _fit as fitmod

    source, target = Path(args.input), Path(args.output)
    check_paths([source], target)
    out_fmt = table_format(target)
    if out_fmt is None:
        raise RunError(f"cannot write a table to {target}: use "
                       f"{suffix_text('table')}")
    if args.plot is not None and not Path(args.plot).is_dir():
        raise RunError(f"--plot {args.plot}: not a directory")
    options: dict[str, Any] = {"model": args.model, "h_unit": args.h_unit,
                               "theta_unit": args.theta_unit,
                               "fixed": _fixed(args.fix),
                               "k_unit": args.k_unit}
    if args.k_weight is not None:
        options["k_weight"] = args.k_weight
    try:
        from . import units
        units.conversion(args.h_unit, "cm")
        if args.theta_unit:
            units.conversion(args.theta_unit, "cm^3/cm^3")
        ids, h, theta, k = _read(source, args)
    except (TableError, ImportError, ValueError) as exc:
        raise RunError(str(exc)) from None
    groups = fitmod.group_samples(ids, h, theta, k)
    bar = Progress(len(groups), progress_wanted(), unit="samples")
    try:
        results = fitmod.fit_many(groups, workers=args.threads,
                                  progress=bar.update, **options)
    except (fitmod.FitError, ImportError) as exc:
        raise RunError(str(exc)) from None
    finally:
        bar.close()
    _write(results, target, out_fmt, args)
    failed = [(sid, why) for sid, r, why in results if r is None]
    print(f"loamara fit: {len(results) - len(failed)} of {len(results)} "
          f"samples fitted; written to {target}", file=sys.stderr)
    for sid, why in failed[:10]:
        print(f"  sample {sid}: {why}", file=sys.stderr)
    if len(failed) > 10:
        print(f"  ... {len(failed) - 10} more (see the status column)",
              file=sys.stderr)
    if args.plot is not None:
        _plots([r for _, r, _ in results if r is not None],
               [sid for sid, r, _ in results if r is not None],
               Path(args.plot))
    return 0


def _columns(results: list[Any]) -> tuple[list[str], list[str]]:
    """Output names and units: every parameter of the models fitted, in
    order of first appearance, then the statistics."""
    params: dict[str, str] = {}
    for _, r, _ in results:
        if r is not None:
            for p in r.params:
                params.setdefault(p, r.units[p])
    names, units = [], []
    for p, u in params.items():
        for suffix in ("", "_se", "_lo", "_hi"):
            names.append(p + suffix)
            units.append(u)
    for s in ("n_points", "rmse", "r2", "aic", "aicc", "bic"):
        names.append(s)
        units.append("cm^3/cm^3" if s == "rmse" else "dimensionless")
    return names, units


def _write(results: list[Any], target: Path, fmt: Format,
           args: argparse.Namespace) -> None:
    import pandas as pd

    from ._fit import model_key

    names, units = _columns(results)
    text = pd.DataFrame({
        args.sample: [str(sid) for sid, _, _ in results],
        "model": [r.model if r is not None else model_key(args.model)
                  for _, r, _ in results],
        "status": ["ok" if r is not None else why for _, r, why in results],
    })
    rows = [r.table_row() if r is not None else {} for _, r, _ in results]
    outputs = [np.array([row.get(c, math.nan) for row in rows], float)
               for c in names]
    writer_of = writer_class(fmt)
    headed = [c if writer_of.stores_units or u == "dimensionless" else
              f"{c} [{u}]" for c, u in zip(names, units)]
    fd, part = create_part_file(target)
    assert fd is not None
    try:
        with os.fdopen(fd, "wb") as fout:
            writer = writer_of(fout, list(text.columns), headed, units,
                               args.delimiter)
            writer.write(Chunk(text, 0, target), outputs)
            writer.close()
        install(part, target)
    except BaseException:
        remove(part)
        raise


def _plots(results: list[Any], ids: list[Any], directory: Path) -> None:
    from ._plotcli import save_figures
    from .plot import fitted

    figures = []
    for sid, r in zip(ids, results):
        safe = re.sub(r"[^A-Za-z0-9_.-]+", "_", str(sid)) or "sample"
        fig = fitted(r, title=f"sample {sid}")
        figures.append((fig, directory / f"{safe}.png"))
    save_figures(figures)
