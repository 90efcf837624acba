"""Tables and rasters in and out of ``loamara run``, ``ensemble``,
``evaluate``, ``fit`` and ``plot``: one module per file format behind one
registry, in the manner of xarray's backends.

* :mod:`loamara.io._registry`: the formats (:data:`FORMATS`): suffixes,
  kind (table or raster), the extra that installs what they need, and
  their reader and writer, imported only when a file of the format is
  read or written;
* one module per format: :mod:`~loamara.io.csv`, :mod:`~loamara.io.parquet`
  (tables), :mod:`~loamara.io.netcdf`, :mod:`~loamara.io.zarr`,
  :mod:`~loamara.io.geotiff` (rasters);
* what the formats of a kind share: :mod:`loamara.io._table` (chunks of
  rows, numbers, the reader and writer interfaces),
  :mod:`loamara.io._grid` (grids and chunk plans) and
  :mod:`loamara.io._raster` (opening, the output dataset, the write with
  dask);
* :mod:`loamara.io._output`: the one output target every writer uses.

Adding a format is one module (a reader and a writer of its kind's
interface) and one line in :data:`FORMATS`; every reader, writer, message
and help text follows the registry.  Importing this package needs only
NumPy: pandas, pyarrow, xarray, dask and the format libraries are imported
when a file is read or written.
"""
from __future__ import annotations

from ._raster import (DEFAULT_CHUNK, RASTER_SUFFIXES, RasterWriter,
                      is_raster, open_inputs, output_dataset, write_outputs)
from ._registry import (FORMATS, Format, extra_of, format_of, label_text,
                        raster_format, suffix_text, suffixes, table_format)
from ._table import (Chunk, TableError, TableReader, TableWarning,
                     TableWriter, count_rows, input_schema, read_chunks,
                     read_columns, read_header, writer_class)

__all__ = ["Format", "FORMATS", "format_of", "table_format", "raster_format",
           "suffixes", "suffix_text", "label_text", "extra_of",
           "Chunk", "TableReader", "TableWriter", "TableError",
           "TableWarning", "read_header", "read_chunks", "read_columns",
           "input_schema",
           "count_rows", "writer_class",
           "RASTER_SUFFIXES", "DEFAULT_CHUNK", "RasterWriter", "is_raster",
           "open_inputs", "output_dataset", "write_outputs"]
