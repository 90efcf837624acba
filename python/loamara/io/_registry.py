"""The file formats of tables and rasters: one registry that every reader,
writer, message and help text consults.  A format is one module of this
package (its reader and its writer) and one line in :data:`FORMATS`.

The reader and writer of an entry are named as ``"module:attribute"``
within ``loamara.io`` and imported only when a file of that format is read
or written, so that the registry itself needs nothing beyond the standard
library (``import loamara`` stays NumPy-only, and help texts are built
without pandas, pyarrow or xarray).

What the reader and writer are depends on the kind:

* a table reader is a :class:`loamara.io._table.TableReader` (the header,
  the rows in chunks, and optionally the schema and the row count); a
  table writer is a :class:`loamara.io._table.TableWriter` subclass,
  instantiated for each output file;
* a raster reader is a function ``open(path, side)`` that opens one file
  lazily as an xarray Dataset in chunks of about ``side`` cells; a raster
  writer is a :class:`loamara.io._raster.RasterWriter` (checks of an
  existing target, the layout it needs, and the write itself).
"""
from __future__ import annotations

import importlib
from dataclasses import dataclass
from pathlib import Path
from typing import Any

__all__ = ["Format", "FORMATS", "format_of", "table_format", "raster_format",
           "suffixes", "suffix_text", "label_text", "extra_of"]


@dataclass(frozen=True)
class Format:
    """One file format: its name, its label in messages, whether it holds
    a table (rows) or a raster (a grid), its suffixes (the first is the
    one to suggest), the optional extra that installs what it needs, its
    reader and writer (``"module:attribute"`` in this package, imported on
    first use), and whether it is a directory (a Zarr store)."""

    name: str
    label: str
    kind: str
    suffixes: tuple[str, ...]
    extra: str
    reader: str
    writer: str
    directory: bool = False

    def get_reader(self) -> Any:
        """The reader object (its module imported now)."""
        return _resolve(self.reader)

    def get_writer(self) -> Any:
        """The writer object (its module imported now)."""
        return _resolve(self.writer)


def _resolve(reference: str) -> Any:
    module, _, attribute = reference.partition(":")
    return getattr(importlib.import_module(f"{__package__}.{module}"),
                   attribute)


FORMATS: dict[str, Format] = {f.name: f for f in (
    Format("csv", "CSV", "table", (".csv", ".txt", ".tsv"), "tables",
           "csv:READER", "csv:CsvWriter"),
    Format("parquet", "Parquet", "table", (".parquet", ".pq"), "tables",
           "parquet:READER", "parquet:ParquetWriter"),
    Format("netcdf", "NetCDF", "raster", (".nc", ".nc4", ".netcdf", ".cdf"),
           "raster", "netcdf:open_netcdf", "netcdf:WRITER"),
    Format("zarr", "Zarr", "raster", (".zarr",), "raster",
           "zarr:open_zarr", "zarr:WRITER", directory=True),
    Format("geotiff", "GeoTIFF", "raster", (".tif", ".tiff"), "raster",
           "geotiff:open_geotiff", "geotiff:WRITER"),
)}


def format_of(path: Path | str) -> Format | None:
    """The format of a path, by its suffix (any letter case)."""
    suffix = Path(path).suffix.lower()
    for f in FORMATS.values():
        if suffix in f.suffixes:
            return f
    return None


def _of_kind(path: Path | str, kind: str) -> Format | None:
    fmt = format_of(path)
    return fmt if fmt is not None and fmt.kind == kind else None


def table_format(path: Path | str) -> Format | None:
    """The table format of a path, or None (not a table suffix)."""
    return _of_kind(path, "table")


def raster_format(path: Path | str) -> Format | None:
    """The raster format of a path, or None (not a raster suffix)."""
    return _of_kind(path, "raster")


def suffixes(kind: str) -> tuple[str, ...]:
    """Every suffix of the formats of ``kind`` ("table" or "raster")."""
    return tuple(s for f in FORMATS.values() if f.kind == kind
                 for s in f.suffixes)


def extra_of(kind: str) -> str:
    """The optional extra that installs what the formats of ``kind``
    need (``pip install 'loamara[EXTRA]'``)."""
    return next(f.extra for f in FORMATS.values() if f.kind == kind)


def suffix_text(kind: str, last: str = "or") -> str:
    """The main suffix of each format of ``kind``, for messages:
    ``.nc, .zarr or .tif`` (``last=","``: ``.nc, .zarr, .tif``)."""
    return _listed([f.suffixes[0] for f in FORMATS.values()
                    if f.kind == kind], last)


def label_text(kind: str, last: str = "or") -> str:
    """The label of each format of ``kind``, for help texts: ``CSV or
    Parquet``."""
    return _listed([f.label for f in FORMATS.values() if f.kind == kind],
                   last)


def _listed(items: list[str], last: str) -> str:
    if last == "," or len(items) == 1:
        return ", ".join(items)
    return ", ".join(items[:-1]) + f" {last} " + items[-1]
