"""``loamara run``: one function on every row of a table or cell of a raster."""
from __future__ import annotations

import argparse
import sys
from typing import Any

from pathlib import Path

from .._catalog import lookup
from ..io import label_text, suffix_text
from .._run import run_table
from ._options import add_data_options, inputs, run_options

def run(args: argparse.Namespace) -> int:
    p = lookup(args.name)
    opts = run_options(args)
    paths, raster = inputs(args)
    if raster:
        from .._run import run_raster
        what = run_raster(p, paths, Path(args.output), opts)
        print(f"{p.name}: {what} written to {args.output}", file=sys.stderr)
        return 0
    rows = run_table(p, paths[0], Path(args.output), opts)
    closing = rows.closing() if hasattr(rows, "closing") else ""
    print(f"{p.name}: {rows} row{'s' * (rows != 1)} written to "
          f"{args.output}{closing}", file=sys.stderr)
    return 0


def add_parser(sub: Any) -> None:
    p = sub.add_parser(
        "run", help="apply a function to every row of a table",
        description="Apply a function to every row of a table ("
        f"{label_text('table')}) or every cell of a raster "
        f"({label_text('raster', ',')}). Inputs come from the columns "
        "named like them (see `loamara describe NAME`), from --map, or "
        "from a preset's column "
        "names; each is converted from its unit (--units, the preset, or "
        "else the unit of the publication) and checked. The output holds "
        "the input columns followed by one column per output, named with "
        "its unit. Empty cells are missing values (NaN). The output file "
        "appears only when every row has been processed.")
    p.add_argument("name", help="full or short name of the function")
    p.add_argument("input", nargs="+",
                   help=f"input table ({suffix_text('table')}) with a "
                   f"header, or raster layers ({suffix_text('raster', ',')}"
                   "; several files are "
                   "layers of one grid, named by their file names)")
    p.add_argument("-o", "--output", required=True,
                   help=f"output table ({suffix_text('table', ',')}) or "
                   f"raster ({suffix_text('raster', ',')}); replaced if it "
                   "exists")
    add_data_options(p)
    p.add_argument("--out-units", action="append", default=[],
                   metavar="OUTPUT=UNIT",
                   help="convert OUTPUT to UNIT, e.g. ksat=cm/d "
                   "(repeatable)")
    p.add_argument("--outputs", metavar="NAMES",
                   help="write only these outputs (comma-separated)")
    p.add_argument("--prefix", default="",
                   help="prefix of the output column names")
    p.set_defaults(func=run)
