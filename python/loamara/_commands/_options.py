"""What several commands share: where inputs come from and in which units
(--map, --units, --preset, --check, --chunk-size, --scheduler,
--delimiter), the parsing of NAME=VALUE options, and the input paths."""
from __future__ import annotations

import argparse
from collections.abc import Sequence
from pathlib import Path

from .._errors import RunError
from ..io import suffix_text
from .._run import DEFAULT_CHUNK_ROWS, RunOptions, progress_wanted


def pairs(items: Sequence[str], option: str, what: str
           ) -> list[tuple[str, str]]:
    out = []
    for item in items:
        left, sep, right = item.partition("=")
        if not sep or not left.strip() or not right.strip():
            raise RunError(f"{option} {item!r}: expected {what}")
        out.append((left.strip(), right.strip()))
    return out


def mapping(items: Sequence[str]) -> dict[str, str]:
    out: dict[str, str] = {}
    for column, inp in pairs(items, "--map", "COLUMN=INPUT"):
        if inp in out:
            raise RunError(f"--map: input {inp!r} is mapped twice")
        out[inp] = column
    return out


def unit_options(items: Sequence[str], option: str, what: str
                  ) -> dict[str, str]:
    out: dict[str, str] = {}
    for name, unit in pairs(items, option, what):
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
        mapping=mapping(args.map),
        units=unit_options(args.units, "--units", "COLUMN=UNIT"),
        out_units=unit_options(getattr(args, "out_units", []),
                                "--out-units", "OUTPUT=UNIT"),
        check=args.check, preset=args.preset,
        prefix=getattr(args, "prefix", ""),
        chunk_rows=args.chunk_size or DEFAULT_CHUNK_ROWS,
        raster_chunk=args.chunk_size,
        delimiter=args.delimiter, progress=progress_wanted(),
        outputs=outputs, scheduler=getattr(args, "scheduler", None))


def inputs(args: argparse.Namespace) -> tuple[list[Path], bool]:
    """The input paths, and whether they are rasters (a table is one
    file)."""
    from ..io import is_raster

    paths = [Path(p) for p in args.input]
    if any(is_raster(p) for p in paths) or is_raster(Path(args.output)):
        return paths, True
    if len(paths) != 1:
        raise RunError("a table is one file; several inputs are raster "
                       f"layers ({suffix_text('raster', ',')})")
    return paths, False


def add_units_and_preset(p: argparse.ArgumentParser, what: str) -> None:
    from ..presets import names as preset_names

    p.add_argument("--units", action="append", default=[],
                   metavar=f"{what}=UNIT",
                   help=f"the unit of a {what.lower()}, e.g. sand=%% or "
                   "clay=g/kg (repeatable; pint unit strings)")
    p.add_argument("--preset", choices=preset_names(),
                   help="a named input convention: which names carry which "
                   "quantity in which unit; " + preset_help())


def preset_help() -> str:
    """Every preset in a few words, with its names and units, for --help."""
    from ..presets import PRESETS

    parts = []
    for p in PRESETS.values():
        names = ", ".join(f"{n} [{v.unit}]" for n, v in p.variables.items())
        nodata = (f"; {p.nodata:g} is missing" if p.nodata is not None
                  else "")
        parts.append(f"{p.name}: {p.description} ({names}{nodata})")
    return "; ".join(parts).replace("%", "%%")


def add_data_options(p: argparse.ArgumentParser) -> None:
    """The options that say where inputs come from and in which units."""
    p.add_argument("--map", action="append", default=[],
                   metavar="COLUMN=INPUT",
                   help="take INPUT from column COLUMN (repeatable)")
    add_units_and_preset(p, "COLUMN")
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
