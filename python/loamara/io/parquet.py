"""Parquet tables (``.parquet``, ``.pq``) through pyarrow, read in record
batches and written one row group per chunk.

The columns keep their types (the input columns are written back as they
were read); the output columns are float64 with their unit in the field
metadata (``{"units": "cm^3/cm^3"}``).  An output of no rows is still a
valid Parquet table, with the input's schema and the output columns.
"""
from __future__ import annotations

import importlib
from collections.abc import Iterator, Sequence
from pathlib import Path
from typing import Any

import numpy as np

from .._errors import TableError
from ._table import Chunk, TableReader, TableWriter, optional_pyarrow

__all__ = ["READER", "ParquetReader", "ParquetWriter"]


def _parquet() -> Any:
    if optional_pyarrow() is None:
        raise TableError("Parquet needs pyarrow: pip install "
                         "'loamara[tables]'")
    return importlib.import_module("pyarrow.parquet")


class ParquetReader(TableReader):
    """Parquet: the schema's names, then record batches."""

    def header(self, path: Path, delimiter: str) -> list[str]:
        pq = _parquet()
        try:
            return list(pq.ParquetFile(path).schema_arrow.names)
        except Exception as exc:  # pyarrow raises several types
            raise TableError(f"{path}: not a Parquet file ({exc})") from None

    def chunks(self, path: Path, header: Sequence[str], rows: int,
               delimiter: str) -> Iterator[Chunk]:
        pq = _parquet()
        first = 0
        for batch in pq.ParquetFile(path).iter_batches(batch_size=rows):
            yield Chunk(batch, first, path)
            first += batch.num_rows

    def schema(self, path: Path) -> Any:
        return _parquet().ParquetFile(path).schema_arrow

    def count_rows(self, path: Path) -> int | None:
        return int(_parquet().ParquetFile(path).metadata.num_rows)


READER = ParquetReader()


class ParquetWriter(TableWriter):
    """The input columns with their types, then the outputs as float64
    columns with their units in the schema."""

    stores_units = True
    _writer: Any = None  # pyarrow's ParquetWriter, from the first chunk

    def _output_fields(self, pa: Any) -> list[Any]:
        return [pa.field(c, pa.float64(), metadata={"units": u})
                for c, u in zip(self.columns, self.units)]

    def write(self, chunk: Chunk, outputs: Sequence[np.ndarray]) -> None:
        pq = _parquet()
        pa = optional_pyarrow()
        table, arrays = self.arrow_columns(chunk, outputs, pa)
        fields = list(table.schema) + self._output_fields(pa)
        out = pa.Table.from_arrays(arrays, schema=pa.schema(fields))
        if self._writer is None:
            self._writer = pq.ParquetWriter(self.f, out.schema)
        self._writer.write_table(out)

    def close(self, schema: Any = None) -> None:
        """Finishes the file.  An output of no rows is still a valid
        table, with the columns of ``schema`` (the input's; text columns
        of the header when None) and the output columns."""
        if self._writer is None:
            pq = _parquet()
            pa = optional_pyarrow()
            fields = list(schema) if schema is not None else [
                pa.field(h, pa.string()) for h in self.header]
            empty = pa.schema(fields + self._output_fields(pa)).empty_table()
            pq.write_table(empty, self.f)
            return
        self._writer.close()
