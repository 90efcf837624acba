"""The file formats of tables and rasters: one registry that every reader,
writer, message and help text consults, so that a format is known by one
line here (and its reader and writer).
"""
from __future__ import annotations

from dataclasses import dataclass
from pathlib import Path

__all__ = ["Format", "FORMATS", "format_of", "suffixes", "suffix_text"]


@dataclass(frozen=True)
class Format:
    """One file format: its name, its label in messages, whether it holds
    a table (rows) or a raster (a grid), its suffixes (the first is the
    one to suggest), the optional extra that installs what it needs, and
    whether it is a directory (a Zarr store)."""

    name: str
    label: str
    kind: str
    suffixes: tuple[str, ...]
    extra: str
    directory: bool = False


FORMATS: dict[str, Format] = {f.name: f for f in (
    Format("csv", "CSV", "table", (".csv", ".txt", ".tsv"), "tables"),
    Format("parquet", "Parquet", "table", (".parquet", ".pq"), "tables"),
    Format("netcdf", "NetCDF", "raster", (".nc", ".nc4", ".netcdf", ".cdf"),
           "raster"),
    Format("zarr", "Zarr", "raster", (".zarr",), "raster", directory=True),
    Format("geotiff", "GeoTIFF", "raster", (".tif", ".tiff"), "raster"),
)}


def format_of(path: Path | str) -> Format | None:
    """The format of a path, by its suffix (any letter case)."""
    suffix = Path(path).suffix.lower()
    for f in FORMATS.values():
        if suffix in f.suffixes:
            return f
    return None


def suffixes(kind: str) -> tuple[str, ...]:
    """Every suffix of the formats of ``kind`` ("table" or "raster")."""
    return tuple(s for f in FORMATS.values() if f.kind == kind
                 for s in f.suffixes)


def suffix_text(kind: str, last: str = "or") -> str:
    """The main suffix of each format of ``kind``, for messages:
    ``.nc, .zarr or .tif`` (``last=","``: ``.nc, .zarr, .tif``)."""
    main = [f.suffixes[0] for f in FORMATS.values() if f.kind == kind]
    if last == "," or len(main) == 1:
        return ", ".join(main)
    return ", ".join(main[:-1]) + f" {last} " + main[-1]
