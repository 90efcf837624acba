"""``loamara ensemble``: every applicable function for one quantity, with the spread."""
from __future__ import annotations

import argparse
import sys
from typing import Any

import difflib
from pathlib import Path

from .._catalog import lookup
from .._errors import RunError
from .._formats import suffix_text
from ._options import add_data_options, inputs, run_options

def run(args: argparse.Namespace) -> int:
    from .._run import EnsembleJob, run_job

    opts = run_options(args)
    opts.ptfs = [lookup(n).name for n in args.ptf] if args.ptf else None
    kind = args.kind
    from .._catalog import kinds
    if kind not in kinds():
        near = difflib.get_close_matches(kind, list(kinds()), n=3)
        raise RunError(f"unknown kind {kind!r}"
                       + (f"; did you mean: {', '.join(near)}?" if near
                          else "; `loamara which --have ...` lists kinds"))
    paths, raster = inputs(args)
    if raster:
        from .._run import run_raster_ensemble
        what = run_raster_ensemble(kind, paths, Path(args.output), opts)
        print(f"ensemble of {kind}: {what} written to {args.output}",
              file=sys.stderr)
        return 0
    rows = run_job(lambda header, src: EnsembleJob(kind, header, opts, src),
                   paths[0], Path(args.output), opts)
    print(f"ensemble of {kind}: {rows} row{'s' * (rows != 1)} written to "
          f"{args.output}", file=sys.stderr)
    return 0


def add_parser(sub: Any) -> None:
    p = sub.add_parser(
        "ensemble", help="every applicable function for one quantity, "
        "with the spread",
        description="Evaluate every function that estimates KIND (e.g. "
        "theta_33, ksat) from the columns of a table, convert every result "
        "to the kind's unit, and write them side by side with their mean, "
        "median, min, max, standard deviation, count and count of "
        "physically impossible values across functions.")
    p.add_argument("kind", help="what to estimate: a kind such as theta_33, "
                   "theta_1500, ksat (`loamara which` lists them)")
    p.add_argument("input", nargs="+",
                   help=f"input table ({suffix_text('table')}), or raster "
                   f"layers ({suffix_text('raster', ',')})")
    p.add_argument("-o", "--output", required=True,
                   help=f"output table ({suffix_text('table', ',')}) or "
                   f"raster ({suffix_text('raster', ',')})")
    add_data_options(p)
    p.add_argument("--ptf", action="append", default=[], metavar="NAME",
                   help="only these functions (repeatable)")
    p.add_argument("--prefix", default="",
                   help="prefix of the output column names")
    p.set_defaults(func=run)
