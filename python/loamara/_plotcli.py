"""``loamara plot``: figures from the command line.

    loamara plot curves --sand 40 --silt 40 --clay 20 --om 2 [--bd 1.4]
                        [--topsoil 1] [--ptf NAME ...] -o curves.png
    loamara plot triangle soils.csv [--sand COL --silt COL --clay COL]
                          -o triangle.png

The format follows the suffix of the output (.png, .pdf, .svg).  A figure
is written to a hidden temporary file beside the target and renamed over it
once complete, so a failure leaves no file behind (and an existing file of
that name as it was).  Errors end the command with ``loamara: error: ...``
and exit status 1.
"""
from __future__ import annotations

import argparse
import math
import os
import sys
import warnings
from collections.abc import Sequence
from pathlib import Path
from typing import TYPE_CHECKING, Any

import numpy as np

from ._errors import RunError
from ._run import WarningPrinter, check_paths, cli_text
from .io import label_text, suffix_text
from .io._output import create_part_file, install, remove

if TYPE_CHECKING:
    from matplotlib.figure import Figure

__all__ = ["add_parser", "FIGURE_FORMATS", "check_figure_path",
           "save_figures"]

FIGURE_FORMATS = {".png": "png", ".pdf": "pdf", ".svg": "svg"}

# Resolution of PNG output, dots per inch.
PNG_DPI = 110


def check_figure_path(target: Path) -> str:
    """The format of a figure file from its suffix; RunError for a suffix
    that is not a figure format or a place that cannot be written."""
    fmt = FIGURE_FORMATS.get(target.suffix.lower())
    if fmt is None:
        raise RunError(f"cannot write a figure to {target}: use a file name "
                       "ending in .png, .pdf or .svg")
    check_paths([], target)
    return fmt


def save_figures(figures: Sequence[tuple[Figure, Path]]) -> None:
    """Writes each figure to its file, all or none: every figure goes to a
    temporary file beside its target first, and the files are renamed
    into place only when all of them have been written."""
    parts: list[tuple[Path, Path]] = []
    try:
        for fig, target in figures:
            fmt = check_figure_path(target)
            fd, part = create_part_file(target)
            assert fd is not None
            parts.append((part, target))
            with os.fdopen(fd, "wb") as f:
                fig.savefig(f, format=fmt, dpi=PNG_DPI,
                            metadata=_metadata(fmt))
        for part, target in parts:
            install(part, target)
    except BaseException:
        for part, _ in parts:
            remove(part)
        raise


def _metadata(fmt: str) -> dict[str, Any]:
    # No creation date: the same figure gives the same file.
    if fmt == "pdf":
        return {"CreationDate": None}
    if fmt == "svg":
        return {"Date": None}
    return {}


def _finite(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"not a finite number: {text!r}")
    return value


def plot_module() -> Any:
    """loamara.plot with matplotlib importable, else RunError."""
    from . import plot

    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise RunError(plot.MATPLOTLIB_MISSING) from None
    return plot


def cmd_curves(args: argparse.Namespace) -> int:
    from ._checks import RangeError
    from .curves import CurveError
    from .units import UnitError

    target = Path(args.output)
    check_figure_path(target)
    soil = {name: getattr(args, name) for name in
            ("sand", "silt", "clay", "om", "oc", "bd", "topsoil")}
    if all(v is None for v in soil.values()):
        raise RunError("describe the soil: --sand, --silt, --clay (%), --om "
                       "or --oc (%), --bd (g/cm3)")
    plot = plot_module()
    with warnings.catch_warnings(record=True) as records:
        warnings.simplefilter("always")
        try:
            fig = plot.retention(args.ptf or None, **soil, k=not args.no_k,
                                 k_unit=args.k_unit, check=args.check)
        except (CurveError, UnitError, RangeError, ValueError,
                ImportError) as exc:
            raise RunError(cli_text(str(exc))) from None
    WarningPrinter().add(records)
    for s in plot.skipped(fig):
        print(f"loamara: skipped {s.name} ({s.publication}): {s.reason}",
              file=sys.stderr)
    drawn = getattr(fig, "loamara_drawn", ())
    if not drawn:
        raise RunError("none of the functions can be drawn for this soil; "
                       "no figure written")
    save_figures([(fig, target)])
    print(f"{len(drawn)} function{'s' * (len(drawn) != 1)} drawn, written "
          f"to {target}", file=sys.stderr)
    return 0


def read_texture(path: Path, columns: Sequence[str], delimiter: str = ","
                 ) -> tuple[list[np.ndarray], int]:
    """The sand, silt and clay columns (in this order) of a CSV or Parquet
    table as float64 arrays, and the number of rows; RunError naming the
    file, line and column of anything that is not a number."""
    from .io import TableError, read_columns, read_header

    if not path.exists():
        raise RunError(f"{path}: no such file")
    try:
        header = read_header(path, delimiter)
        missing = [c for c in columns if c not in header]
        if missing:
            raise RunError(
                f"{path}: no column " + ", ".join(map(repr, missing))
                + "; the header has: " + ", ".join(map(repr, header))
                + "\nname the columns with --sand, --silt and --clay")
        twice = [c for c in columns if header.count(c) > 1]
        if twice:
            raise RunError(f"{path}: column {twice[0]!r} appears more than "
                           "once in the header")
        what = ("sand, % by mass", "silt, % by mass", "clay, % by mass")
        what_of: dict[str, str] = {}
        for col, w in zip(columns, what):
            what_of.setdefault(col, w)
        got = read_columns(path, header, what_of, delimiter)
    except TableError as exc:
        raise RunError(str(exc)) from None
    values = [got[c] for c in columns]
    return values, int(values[0].size)


def cmd_triangle(args: argparse.Namespace) -> int:
    target = Path(args.output)
    check_figure_path(target)
    source = Path(args.input)
    if len(args.delimiter) != 1:
        raise RunError(f"the delimiter must be one character, not "
                       f"{args.delimiter!r}")
    plot = plot_module()
    (sand, silt, clay), rows = read_texture(
        source, (args.sand, args.silt, args.clay), args.delimiter)
    if rows == 0:
        raise RunError(f"{source}: no data rows")
    fig = plot.texture_triangle(sand, silt, clay)
    names = getattr(fig, "loamara_classes")
    unclassified = np.flatnonzero(names == "")
    if unclassified.size:
        shown = ", ".join(str(i + 1) for i in unclassified[:10])
        more = " ..." if unclassified.size > 10 else ""
        print(f"loamara: warning: {source}: {unclassified.size} of {rows} "
              "samples cannot be classified (missing, negative or infinite "
              f"values) and are not drawn: data rows {shown}{more}",
              file=sys.stderr)
    save_figures([(fig, target)])
    print(f"{rows - unclassified.size} sample"
          f"{'s' * (rows - unclassified.size != 1)} drawn, written to "
          f"{target}", file=sys.stderr)
    return 0


def add_parser(sub: Any) -> None:
    """Adds the ``plot`` command and its subcommands to the subparsers
    ``sub`` of the ``loamara`` command line."""
    p = sub.add_parser(
        "plot", help="figures: retention curves of several functions, the "
        "texture triangle",
        description="Draw figures (needs matplotlib: pip install "
        "'loamara[plot]'). The format follows the suffix of -o: .png, .pdf "
        "or .svg.")
    kinds = p.add_subparsers(dest="figure", required=True, metavar="FIGURE")

    c = kinds.add_parser(
        "curves", help="retention and conductivity curves of one soil",
        description="Retention curves theta(h) and, where the model gives "
        "them, conductivity curves K(h) of several pedotransfer functions "
        "for one soil, with the water contents they estimate at fixed "
        "suctions as markers. By default every function with a curve model "
        "whose inputs the soil description gives; the others are listed on "
        "standard error with the reason.")
    for name, text in (("sand", "sand, %% by mass"),
                       ("silt", "silt, %% by mass"),
                       ("clay", "clay, %% by mass"),
                       ("om", "organic matter, %% by mass"),
                       ("oc", "organic carbon, %% by mass (organic matter "
                        "and carbon are derived from each other with the "
                        "factor 1.724 where a function needs the other)"),
                       ("bd", "dry bulk density, g/cm3"),
                       ("topsoil", "1 for a topsoil, 0 for a subsoil "
                        "(HYPRES, Toth et al. 2015)")):
        c.add_argument(f"--{name}", type=_finite, metavar="X", help=text)
    c.add_argument("--ptf", action="extend", nargs="+", metavar="NAME",
                   help="draw these functions (full or short names; "
                   "repeatable)")
    c.add_argument("--k-unit", default="cm/d", metavar="UNIT",
                   help="unit of the conductivity axis (default cm/d)")
    c.add_argument("--no-k", action="store_true",
                   help="retention curves only")
    c.add_argument("--check", choices=("warn", "raise", "off"),
                   default="warn",
                   help="implausible inputs: warn (default), stop with an "
                   "error (raise), or say nothing (off)")
    c.add_argument("-o", "--output", required=True,
                   help="figure file, .png, .pdf or .svg")
    c.set_defaults(func=cmd_curves)

    t = kinds.add_parser(
        "triangle", help="samples in the USDA texture triangle",
        description="The USDA texture triangle with the twelve class areas "
        f"and one point per row of a table ({label_text('table')}), coloured "
        "by its class. Sand, silt and clay are percent by mass.")
    t.add_argument("input", help=f"table of samples ({suffix_text('table')}) "
                   "with a header")
    t.add_argument("--sand", default="sand", metavar="COLUMN",
                   help="column of sand (default 'sand')")
    t.add_argument("--silt", default="silt", metavar="COLUMN",
                   help="column of silt (default 'silt')")
    t.add_argument("--clay", default="clay", metavar="COLUMN",
                   help="column of clay (default 'clay')")
    t.add_argument("--delimiter", default=",",
                   help="CSV field delimiter (default ',')")
    t.add_argument("-o", "--output", required=True,
                   help="figure file, .png, .pdf or .svg")
    t.set_defaults(func=cmd_triangle)
