"""``loamara ensemble``: every applicable function for one quantity, with the spread."""
from __future__ import annotations

import argparse
import sys
from typing import Any

import difflib
from pathlib import Path

from .._catalog import lookup
from .._errors import RunError
from ..io import suffix_text
from ._options import add_data_options, inputs, run_options

def run(args: argparse.Namespace) -> int:
    from .._evaluate import ensemble_options
    from .._run import EnsembleJob, run_job

    opts = run_options(args)
    opts.ptfs = [lookup(n).name for n in args.ptf] if args.ptf else None
    opts.ensemble = ensemble_options(args)
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
        what, omitted = run_raster_ensemble(kind, paths, Path(args.output),
                                            opts)
        _notes(omitted)
        print(f"ensemble of {kind}: {what} written to {args.output}",
              file=sys.stderr)
        return 0
    jobs: list[EnsembleJob] = []

    def job(header: Any, src: str) -> EnsembleJob:
        jobs.append(EnsembleJob(kind, header, opts, src))
        return jobs[-1]

    rows = run_job(job, paths[0], Path(args.output), opts)
    _notes(jobs[0].omitted if jobs else {})
    print(f"ensemble of {kind}: {rows} row{'s' * (rows != 1)} written to "
          f"{args.output}", file=sys.stderr)
    return 0


def _notes(omitted: dict[str, str]) -> None:
    """Why functions of the kind are not members, one note each."""
    for name, why in omitted.items():
        print(f"loamara: note: {name} is not a member: {why}",
              file=sys.stderr)


def add_parser(sub: Any) -> None:
    p = sub.add_parser(
        "ensemble", help="every applicable function for one quantity, "
        "with the spread",
        description="Evaluate the functions that estimate KIND (e.g. "
        "theta_33, ksat) from the columns of a table: one general variant "
        "per publication, and functions returning a retention curve "
        "through their curve at the kind's suction. Every result is "
        "converted to the kind's unit and written side by side with the "
        "statistics across functions: mean and standard deviation (for "
        "conductivities, alpha and air-entry suction: geometric mean and "
        "standard deviation of log10), median, quartiles, interquartile "
        "range, min, max, the count of values, of physically impossible "
        "values (left out of the statistics) and of members outside their "
        "calibration ranges.")
    p.add_argument("kind", help="what to estimate: a kind such as theta_33, "
                   "theta_1500, ksat (`loamara which` lists them)")
    p.add_argument("input", nargs="+",
                   help=f"input table ({suffix_text('table')}), or raster "
                   f"layers ({suffix_text('raster', ',')})")
    p.add_argument("-o", "--output", required=True,
                   help=f"output table ({suffix_text('table', ',')}) or "
                   f"raster ({suffix_text('raster', ',')})")
    add_data_options(p)
    from .._evaluate import add_member_options
    add_member_options(p, statistics=True)
    p.add_argument("--prefix", default="",
                   help="prefix of the output column names")
    p.set_defaults(func=run)
