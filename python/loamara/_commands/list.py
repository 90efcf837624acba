"""``loamara list``: the functions, one line each."""
from __future__ import annotations

import argparse
import sys
from typing import Any

from .._catalog import PTF, catalog

def _matches(p: PTF, output: str | None, publication: str | None) -> bool:
    if output:
        key = output.lower()
        if not any(key in f"{q.name} {q.meaning} {q.unit}".lower()
                   for q in p.outputs):
            return False
    if publication:
        key = publication.lower()
        if key not in f"{p.publication} {p.family}".lower():
            return False
    return True


def run(args: argparse.Namespace) -> int:
    found = [p for p in catalog()
             if _matches(p, args.output, args.publication)]
    if not found:
        print("no pedotransfer function matches", file=sys.stderr)
        return 1
    wn = max(len(p.name) for p in found)
    for p in found:
        outs = ", ".join(p.output_names)
        print(f"{p.name:<{wn}}  {p.publication}: {p.nin} in -> {outs}")
    return 0


def add_parser(sub: Any) -> None:
    p = sub.add_parser("list", help="list the functions, one line each",
                       description="List the pedotransfer functions, one "
                       "line each: name, publication, input count, outputs.")
    p.add_argument("--output", metavar="TEXT",
                   help="only functions with an output whose name, meaning "
                   "or unit contains TEXT (e.g. conductivity, theta_33, "
                   "kPa)")
    p.add_argument("--publication", metavar="TEXT",
                   help="only functions whose publication contains TEXT "
                   "(e.g. Saxton, 1982)")
    p.set_defaults(func=run)
