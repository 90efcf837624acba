"""``loamara demo``: a selection of functions on the sample soils."""
from __future__ import annotations

import argparse
import sys
import warnings
from typing import Any

from pathlib import Path

from .._errors import RunError

def run(args: argparse.Namespace) -> int:
    from .._demo import demo_text, write_plots
    from .._run import WarningPrinter

    # The checks' findings on the sample soils (Saxton and Rawls' negative
    # air-entry tension of the sand) as the other commands report them.
    with warnings.catch_warnings(record=True) as records:
        warnings.simplefilter("always")
        if args.plots is not None:
            write_plots(Path(args.plots))
        if args.layers is not None:
            from .._demo import write_layers
            try:
                paths = write_layers(Path(args.layers))
            except ImportError as exc:
                raise RunError(str(exc)) from None
            print("SoilGrids-like layers written: "
                  + " ".join(str(p) for p in paths), file=sys.stderr)
        text = demo_text()
    WarningPrinter().add(records)
    sys.stdout.write(text)
    return 0


def add_parser(sub: Any) -> None:
    p = sub.add_parser("demo", help="run a selection of functions on the "
                       "sample soils and print tables",
                       description="Evaluate a selection of functions "
                       "across families on the twelve USDA texture "
                       "classes shipped with the package.")
    p.add_argument("--plots", metavar="DIR",
                   help="also write curves.png (the loam's retention and "
                   "conductivity curves), triangle.png (the samples in "
                   "the texture triangle), ensemble.png (the ksat ensemble "
                   "of six samples), evaluation.png (theta_33 functions "
                   "against made-up measurements) and, with SciPy, fit.png "
                   "(two models fitted to a made-up laboratory sample) into "
                   "DIR (needs matplotlib)")
    p.add_argument("--layers", metavar="DIR",
                   help="also write SoilGrids-like GeoTIFF layers of a "
                   "made-up region (sand, silt, clay, soc, bdod, 0-5 cm) "
                   "into DIR, for trying the raster commands (needs "
                   "rioxarray)")
    p.set_defaults(func=run)
