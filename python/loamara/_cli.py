"""The ``loamara`` command line (also ``python -m loamara``).

    loamara list [--output TEXT] [--publication TEXT]
    loamara describe NAME
    loamara run NAME INPUT.csv -o OUTPUT.csv [--map COLUMN=INPUT ...]
    loamara demo [--plots DIR]
    loamara plot curves --sand X --silt X --clay X --om X [--bd X] -o F.png
    loamara plot triangle SOILS.csv -o F.png

Exit status: 0 on success, 1 for bad data or an unknown name, 2 for a
malformed command line.
"""
from __future__ import annotations

import argparse
import difflib
import os
import shutil
import signal
import sys
import textwrap
from collections.abc import Sequence
from pathlib import Path

from . import _plotcli
from ._catalog import PTF, UnknownPTFError, catalog, lookup
from ._format import curve_source, quantity_lines
from ._errors import RunError
from ._formats import suffix_text
from ._run import (DEFAULT_CHUNK_ROWS, RunOptions, progress_wanted,
                   run_table)


def _width() -> int:
    return max(60, min(shutil.get_terminal_size((100, 24)).columns, 120))


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


def cmd_list(args: argparse.Namespace) -> int:
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


def describe_text(p: PTF, width: int = 100) -> str:
    """The full description of one function, as ``loamara describe``
    prints it: publication and reference, calls, inputs and outputs with
    unit, kind and physical range, the curve model, notes."""
    wrap = textwrap.TextWrapper(width=width, initial_indent="  ",
                                subsequent_indent="  ")
    item = textwrap.TextWrapper(width=width, initial_indent="  - ",
                                subsequent_indent="    ")
    ref = p.citation
    lines = [p.name, wrap.fill(f"{p.publication}. {p.summary}"), "",
             "Reference:", wrap.fill(ref.citation)]
    if ref.doi:
        lines.append(f"  doi:{ref.doi}  https://doi.org/{ref.doi}")
    lines.append(wrap.fill(("Citation verified" if ref.verified else
                            "Citation not verified") + f": {ref.source}."))
    lines += ["", "Call:", f"  _loamara.{p.signature()}",
              f"  {p.estimate_call()}", "", "Inputs:"]
    lines += quantity_lines(p.inputs, width, details=True)
    lines += ["", "Outputs:"]
    lines += quantity_lines(p.outputs, width, details=True)
    if p.curve is not None:
        lines += ["", f"Curve model: {p.curve.model}"]
        for par, src in p.curve.parameters.items():
            lines.append(item.fill(f"{par}: {curve_source(src)}"))
        if p.curve.note:
            lines.append(wrap.fill(p.curve.note))
    if p.notes:
        lines += ["", "Notes:"]
        lines += [item.fill(n) for n in p.notes]
    return "\n".join(lines) + "\n"


def cmd_describe(args: argparse.Namespace) -> int:
    sys.stdout.write(describe_text(lookup(args.name), _width()))
    return 0


def _pairs(items: Sequence[str], option: str, what: str
           ) -> list[tuple[str, str]]:
    out = []
    for item in items:
        left, sep, right = item.partition("=")
        if not sep or not left.strip() or not right.strip():
            raise RunError(f"{option} {item!r}: expected {what}")
        out.append((left.strip(), right.strip()))
    return out


def _mapping(items: Sequence[str]) -> dict[str, str]:
    out: dict[str, str] = {}
    for column, inp in _pairs(items, "--map", "COLUMN=INPUT"):
        if inp in out:
            raise RunError(f"--map: input {inp!r} is mapped twice")
        out[inp] = column
    return out


def _unit_options(items: Sequence[str], option: str, what: str
                  ) -> dict[str, str]:
    out: dict[str, str] = {}
    for name, unit in _pairs(items, option, what):
        if name in out:
            raise RunError(f"{option}: {name!r} is given twice")
        out[name] = unit
    return out


def run_options(args: argparse.Namespace) -> RunOptions:
    """The options of ``run`` (and ``ensemble``) as the runner takes them."""
    outputs = None
    if getattr(args, "outputs", None):
        outputs = [o.strip() for o in args.outputs.split(",") if o.strip()]
    return RunOptions(
        mapping=_mapping(args.map),
        units=_unit_options(args.units, "--units", "COLUMN=UNIT"),
        out_units=_unit_options(getattr(args, "out_units", []),
                                "--out-units", "OUTPUT=UNIT"),
        check=args.check, preset=args.preset,
        prefix=getattr(args, "prefix", ""),
        chunk_rows=args.chunk_size or DEFAULT_CHUNK_ROWS,
        raster_chunk=args.chunk_size,
        delimiter=args.delimiter, progress=progress_wanted(),
        outputs=outputs, scheduler=getattr(args, "scheduler", None))


def _inputs(args: argparse.Namespace) -> tuple[list[Path], bool]:
    """The input paths, and whether they are rasters (a table is one
    file)."""
    from ._rasters import is_raster

    paths = [Path(p) for p in args.input]
    if any(is_raster(p) for p in paths) or is_raster(Path(args.output)):
        return paths, True
    if len(paths) != 1:
        raise RunError("a table is one file; several inputs are raster "
                       f"layers ({suffix_text('raster', ',')})")
    return paths, False


def cmd_run(args: argparse.Namespace) -> int:
    p = lookup(args.name)
    opts = run_options(args)
    paths, raster = _inputs(args)
    if raster:
        from ._run import run_raster
        what = run_raster(p, paths, Path(args.output), opts)
        print(f"{p.name}: {what} written to {args.output}", file=sys.stderr)
        return 0
    rows = run_table(p, paths[0], Path(args.output), opts)
    print(f"{p.name}: {rows} row{'s' * (rows != 1)} written to "
          f"{args.output}", file=sys.stderr)
    return 0


def cmd_which(args: argparse.Namespace) -> int:
    from .applicable import applicable

    have = [h.strip() for h in args.have.split(",") if h.strip()]
    if not have:
        raise RunError("--have: give the quantities at hand, e.g. "
                       "--have sand,silt,clay,oc,bd")
    units = _unit_options(args.units, "--units", "NAME=UNIT")
    _check_units_of_kinds(units, args.preset)
    try:
        found = applicable(have, units=units, preset=args.preset,
                           target=args.target)
    except ValueError as exc:
        raise RunError(str(exc)) from None
    sys.stdout.write(found.text(conversions=not args.brief))
    return 0 if len(found) else 1


def _check_units_of_kinds(units: dict[str, str], preset: str | None) -> None:
    """Refuses a unit that does not convert to the unit of the quantity
    its name stands for (``--units sand=furlong``)."""
    from ._catalog import kinds
    from .applicable import kind_of
    from .presets import get as get_preset
    from .units import UnitError, conversion

    base = get_preset(preset) if preset else None
    for name, unit in units.items():
        kind = kind_of(name, base)
        if kind is None or not kinds()[kind].unit:
            continue
        k = kinds()[kind]
        try:
            conversion(unit, k.unit)
        except (UnitError, ImportError) as exc:
            raise RunError(f"--units {name}={unit}: {name} is the "
                           f"{k.label}, in {k.unit} or a unit that converts "
                           f"to it ({exc})") from None


def cmd_ensemble(args: argparse.Namespace) -> int:
    from ._run import EnsembleJob, run_job

    opts = run_options(args)
    opts.ptfs = [lookup(n).name for n in args.ptf] if args.ptf else None
    kind = args.kind
    from ._catalog import kinds
    if kind not in kinds():
        near = difflib.get_close_matches(kind, list(kinds()), n=3)
        raise RunError(f"unknown kind {kind!r}"
                       + (f"; did you mean: {', '.join(near)}?" if near
                          else "; `loamara which --have ...` lists kinds"))
    paths, raster = _inputs(args)
    if raster:
        from ._run import run_raster_ensemble
        what = run_raster_ensemble(kind, paths, Path(args.output), opts)
        print(f"ensemble of {kind}: {what} written to {args.output}",
              file=sys.stderr)
        return 0
    rows = run_job(lambda header, src: EnsembleJob(kind, header, opts, src),
                   paths[0], Path(args.output), opts)
    print(f"ensemble of {kind}: {rows} row{'s' * (rows != 1)} written to "
          f"{args.output}", file=sys.stderr)
    return 0


def cmd_demo(args: argparse.Namespace) -> int:
    from ._demo import demo_text, write_plots

    if args.plots is not None:
        write_plots(Path(args.plots))
    if args.layers is not None:
        from ._demo import write_layers
        try:
            paths = write_layers(Path(args.layers))
        except ImportError as exc:
            raise RunError(str(exc)) from None
        print("SoilGrids-like layers written: "
              + " ".join(str(p) for p in paths), file=sys.stderr)
    sys.stdout.write(demo_text())
    return 0


def _add_units_and_preset(p: argparse.ArgumentParser, what: str) -> None:
    from .presets import names as preset_names

    p.add_argument("--units", action="append", default=[],
                   metavar=f"{what}=UNIT",
                   help=f"the unit of a {what.lower()}, e.g. sand=%% or "
                   "clay=g/kg (repeatable; pint unit strings)")
    p.add_argument("--preset", choices=preset_names(),
                   help="a named input convention: which names carry which "
                   "quantity in which unit; " + preset_help())


def preset_help() -> str:
    """Every preset in a few words, with its names and units, for --help."""
    from .presets import PRESETS

    parts = []
    for p in PRESETS.values():
        names = ", ".join(f"{n} [{v.unit}]" for n, v in p.variables.items())
        nodata = (f"; {p.nodata:g} is missing" if p.nodata is not None
                  else "")
        parts.append(f"{p.name}: {p.description} ({names}{nodata})")
    return "; ".join(parts).replace("%", "%%")


def _add_data_options(p: argparse.ArgumentParser) -> None:
    """The options that say where inputs come from and in which units."""
    p.add_argument("--map", action="append", default=[],
                   metavar="COLUMN=INPUT",
                   help="take INPUT from column COLUMN (repeatable)")
    _add_units_and_preset(p, "COLUMN")
    p.add_argument("--check", choices=("warn", "raise", "off"),
                   default="warn",
                   help="values outside their physical range, percent "
                   "given as fractions, texture sums far from 100 %%: "
                   "warn (default), stop with an error and no output "
                   "(raise), or say nothing (off)")
    p.add_argument("--chunk-size", type=int, default=None, metavar="N",
                   help=f"rows per chunk of a table (default "
                   f"{DEFAULT_CHUNK_ROWS}), or cells per side of a raster "
                   "block (default 1024)")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="rasters: compute on this dask.distributed cluster "
                   "(tcp://host:8786); default all cores of this machine")
    p.add_argument("--delimiter", default=",",
                   help="CSV field delimiter (default ',')")


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="loamara",
        description="Soil pedotransfer functions: catalog, description and "
        "evaluation on CSV files.")
    from . import __version__

    parser.add_argument("--version", action="version",
                        version=f"loamara {__version__}")
    sub = parser.add_subparsers(dest="command", required=True,
                                metavar="COMMAND")

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
    p.set_defaults(func=cmd_list)

    p = sub.add_parser("describe", help="inputs, outputs and units of one "
                       "function",
                       description="Describe one function: publication, "
                       "calls, inputs and outputs with units.")
    p.add_argument("name", help="full or short name (calc_ptf_saxton2006 or "
                   "saxton2006)")
    p.set_defaults(func=cmd_describe)

    p = sub.add_parser(
        "run", help="apply a function to every row of a table",
        description="Apply a function to every row of a table (CSV or "
        "Parquet). Inputs come from the columns named like them (see "
        "`loamara describe NAME`), from --map, or from a preset's column "
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
    _add_data_options(p)
    p.add_argument("--out-units", action="append", default=[],
                   metavar="OUTPUT=UNIT",
                   help="convert OUTPUT to UNIT, e.g. ksat=cm/d "
                   "(repeatable)")
    p.add_argument("--outputs", metavar="NAMES",
                   help="write only these outputs (comma-separated)")
    p.add_argument("--prefix", default="",
                   help="prefix of the output column names")
    p.set_defaults(func=cmd_run)

    p = sub.add_parser(
        "which", help="the functions computable from the data at hand",
        description="List the functions whose inputs the given quantities "
        "cover, grouped by what they estimate, with the conversions each "
        "call makes (units, organic matter from organic carbon, ...).")
    p.add_argument("--have", required=True, metavar="NAMES",
                   help="the quantities at hand, comma-separated names or "
                   "kinds (sand,silt,clay,oc,bd)")
    _add_units_and_preset(p, "NAME")
    p.add_argument("--target", metavar="KIND",
                   help="only functions estimating this kind (theta_33)")
    p.add_argument("--brief", action="store_true",
                   help="no conversion lines")
    p.set_defaults(func=cmd_which)

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
    _add_data_options(p)
    p.add_argument("--ptf", action="append", default=[], metavar="NAME",
                   help="only these functions (repeatable)")
    p.add_argument("--prefix", default="",
                   help="prefix of the output column names")
    p.set_defaults(func=cmd_ensemble)

    p = sub.add_parser("demo", help="run a selection of functions on the "
                       "sample soils and print tables",
                       description="Evaluate a selection of functions "
                       "across families on the twelve USDA texture "
                       "classes shipped with the package.")
    p.add_argument("--plots", metavar="DIR",
                   help="also write curves.png (the loam's retention and "
                   "conductivity curves) and triangle.png (the samples in "
                   "the texture triangle) into DIR (needs matplotlib)")
    p.add_argument("--layers", metavar="DIR",
                   help="also write SoilGrids-like GeoTIFF layers of a "
                   "made-up region (sand, silt, clay, soc, bdod, 0-5 cm) "
                   "into DIR, for trying the raster commands (needs "
                   "rioxarray)")
    p.set_defaults(func=cmd_demo)

    _plotcli.add_parser(sub)
    return parser


class _Terminated(BaseException):
    """SIGTERM, raised in the main thread so that the work in progress is
    abandoned like after Ctrl-C (no partial output file is left)."""


def _on_sigterm(signum: int, frame: object) -> None:
    raise _Terminated()


def main(argv: Sequence[str] | None = None) -> int:
    """Entry point of the ``loamara`` command; returns the exit status."""
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        previous = signal.signal(signal.SIGTERM, _on_sigterm)
    except ValueError:  # not the main thread: leave signals alone
        previous = None
    try:
        status: int = args.func(args)
    except (UnknownPTFError, RunError) as exc:
        print(f"loamara: error: {exc}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("loamara: interrupted", file=sys.stderr)
        return 130
    except _Terminated:
        print("loamara: terminated", file=sys.stderr)
        return 128 + signal.SIGTERM
    except BrokenPipeError:  # e.g. `loamara list | head`
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return 0
    except OSError as exc:
        print(f"loamara: error: {exc}", file=sys.stderr)
        return 1
    except Exception as exc:  # noqa: BLE001 - a fault of ours, said plainly
        if os.environ.get("LOAMARA_DEBUG"):
            raise
        print(f"loamara: error: {type(exc).__name__}: {exc} (this is a "
              "fault of loamara; LOAMARA_DEBUG=1 shows where)",
              file=sys.stderr)
        return 1
    finally:
        if previous is not None:
            signal.signal(signal.SIGTERM, previous)
    return status
