"""What every table format shares: the chunk of rows (:class:`Chunk`) and
the reading of its columns as numbers, the reader and writer interfaces
(:class:`TableReader`, :class:`TableWriter`), and the functions that read
any table through the reader of its format in the registry.

Numbers: only the columns that feed a function are parsed, as decimal
numbers (``nan`` and ``inf`` included; an empty cell is a missing value,
NaN); typed columns (Parquet) keep their values, integers as the nearest
double (a :class:`TableWarning` when one has no exact double), decimals
through their decimal text, dictionary-encoded columns through their
values.  Errors name the file, the line where the format has lines (CSV:
the physical line, counted as a text editor does), the row and the
column.
"""
from __future__ import annotations

import importlib
import warnings
from collections.abc import Callable, Iterator, Mapping, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import IO, Any, NoReturn

import numpy as np

from .._errors import TableError, TableWarning
from ._registry import FORMATS, Format, table_format

__all__ = ["TableError", "TableWarning", "Chunk", "TableReader",
           "TableWriter", "optional_pyarrow", "require_pandas", "reader_of",
           "read_header", "read_chunks", "read_columns", "input_schema",
           "count_rows", "writer_class"]

_UINT32_MAX = 4294967295


def optional_pyarrow() -> Any:
    """pyarrow, or None where it is not installed."""
    try:
        return importlib.import_module("pyarrow")
    except ImportError:
        return None


def require_pandas() -> Any:
    """pandas, or TableError saying how to install it."""
    try:
        return importlib.import_module("pandas")
    except ImportError:
        raise TableError("reading and writing tables needs pandas (and, "
                         "for speed, pyarrow): pip install 'loamara[tables]'"
                         ) from None


def _cell(text: str, limit: int = 40) -> str:
    return repr(text if len(text) <= limit else text[:limit] + "...")


# ---------------------------------------------------------------------------
# A chunk of rows and its columns as numbers


@dataclass
class Chunk:
    """A block of rows: the table as read (for writing back), the number
    of rows before it, its file, and where the format has lines, the line
    number of a data row (1 is the first after the header; -1 unknown)."""

    table: Any           # pyarrow RecordBatch/Table or pandas DataFrame
    first_row: int       # data rows before this chunk
    path: Path
    locate: Callable[[int], int] | None = None

    @property
    def nrows(self) -> int:
        return int(self.table.num_rows if hasattr(self.table, "num_rows")
                   else len(self.table))

    def text(self, column: str) -> list[str]:
        col = self.table.column(column) if hasattr(self.table,
                                                   "num_rows") else \
            self.table[column]
        return [str(v) for v in (col.to_pylist() if hasattr(col, "to_pylist")
                                 else col.tolist())]

    def numbers(self, column: str, what: str, index: bool = False
                ) -> np.ndarray:
        """A column as float64 (or a uint32 class index), or TableError
        naming the first cell that is not a number."""
        pa = optional_pyarrow()
        if pa is not None and hasattr(self.table, "num_rows"):
            values = _arrow_numbers(self.table.column(column), pa,
                                    f"{self.path}, column {column!r} "
                                    f"({what})")
        else:
            values = _pandas_numbers(self.table[column])
        if values is None or (index and not _whole(values)):
            self._bad_cell(column, what, index)
        if index:
            return values.astype(np.uint32)
        return values

    def _bad_cell(self, column: str, what: str, index: bool) -> NoReturn:
        schema: Any = getattr(self.table, "schema", None)
        pa = optional_pyarrow()
        if pa is not None and hasattr(schema, "field"):
            typ = schema.field(column).type
            if not (index or pa.types.is_string(typ)
                    or pa.types.is_large_string(typ)
                    or pa.types.is_dictionary(typ)):
                raise TableError(f"{self.path}, column {column!r} ({what}): "
                                 f"cannot read it as numbers (its type is "
                                 f"{typ})")
        cells = self.text(column)
        for k, cell in enumerate(cells):
            ok = _parse_cell(cell, index)
            if not ok:
                row = self.first_row + k + 1
                line = self.locate(row) if self.locate is not None else -1
                where = (f"line {line} (data row {row})" if line > 0
                         else f"data row {row}")
                kind = ("a whole number from 0 to 4294967295 (texture-class "
                        "index)" if index else "a number")
                raise TableError(f"{self.path}, {where}, column {column!r} "
                                 f"({what}): cannot read {_cell(cell)} as "
                                 f"{kind}")
        raise TableError(f"{self.path}, column {column!r} ({what}): cannot "
                         "read it as numbers")


def _parse_cell(cell: str, index: bool) -> bool:
    text = cell.strip()
    if text == "":
        return not index  # missing: NaN (an index has no missing value)
    try:
        value = float(text)
    except ValueError:
        return False
    if "_" in text:
        return False
    if index:
        return value.is_integer() and 0 <= value <= _UINT32_MAX
    return True


def _whole(values: np.ndarray) -> bool:
    with np.errstate(invalid="ignore"):
        return bool(np.all(np.isfinite(values) & (values == np.floor(values))
                           & (values >= 0) & (values <= _UINT32_MAX)))


def _arrow_numbers(col: Any, pa: Any, where: str = "") -> np.ndarray | None:
    import pyarrow.compute as pc

    if pa.types.is_dictionary(col.type):  # dictionary-encoded: its values
        col = pc.cast(col, col.type.value_type)
    if pa.types.is_decimal(col.type):
        # Through the decimal text, which Arrow parses correctly rounded
        # (its decimal to double cast need not be).
        col = pc.cast(col, pa.string())
    if pa.types.is_integer(col.type):
        return _arrow_integers(col, pa, where)
    if pa.types.is_floating(col.type) or pa.types.is_boolean(col.type):
        return np.asarray(col.cast(pa.float64()).to_numpy(
            zero_copy_only=False), dtype=np.float64)
    if pa.types.is_null(col.type):
        return np.full(len(col), np.nan)
    if not (pa.types.is_string(col.type) or pa.types.is_large_string(
            col.type)):
        return None
    text = pc.utf8_trim_whitespace(col)
    blank = pc.equal(text, "")
    text = pc.if_else(blank, pa.scalar(None, pa.string()), text)
    try:
        num = pc.cast(text, pa.float64())
    except (pa.ArrowInvalid, pa.ArrowNotImplementedError):
        return None
    return np.asarray(num.to_numpy(zero_copy_only=False), dtype=np.float64)


def _arrow_integers(col: Any, pa: Any, where: str) -> np.ndarray:
    """Integers as the nearest doubles; a TableWarning when some of them
    (beyond 2**53) have no exact double."""
    import pyarrow.compute as pc

    values = np.asarray(pc.cast(col, pa.float64(), safe=False).to_numpy(
        zero_copy_only=False), dtype=np.float64)
    with np.errstate(invalid="ignore"):
        big = np.abs(values) >= 2.0 ** 53
    if big.any():
        ints = [v for v, b in zip(col.to_pylist(), big) if b]
        inexact = sum(int(float(v)) != v for v in ints)
        if inexact:
            warnings.warn(f"{where}: {inexact} whole number"
                          f"{'s' * (inexact != 1)} beyond 2**53 "
                          "have no exact double and are read as the "
                          f"nearest one (e.g. {ints[0]} as "
                          f"{float(ints[0])!r})", TableWarning,
                          stacklevel=4)
    return values


def _pandas_numbers(col: Any) -> np.ndarray | None:
    pd = require_pandas()
    if col.dtype.kind in "biuf":
        return col.to_numpy(dtype=np.float64, na_value=np.nan)
    text = col.astype(str).str.strip()
    bad_text = text.str.contains("_", regex=False)
    if bad_text.any():
        return None
    num = pd.to_numeric(text.where(text != "", "nan"), errors="coerce")
    if (num.isna() & ~text.str.lower().isin(["nan", "", "none"])).any():
        return None
    return num.to_numpy(dtype=np.float64)


# ---------------------------------------------------------------------------
# Readers


class TableReader:
    """How a table format is read (the ``reader`` of its registry entry).
    ``delimiter`` is the CSV field delimiter; other formats ignore it."""

    def header(self, path: Path, delimiter: str) -> list[str]:
        """The column names."""
        raise NotImplementedError

    def chunks(self, path: Path, header: Sequence[str], rows: int,
               delimiter: str) -> Iterator[Chunk]:
        """The table in chunks of about ``rows`` rows."""
        raise NotImplementedError

    def schema(self, path: Path) -> Any:
        """The Arrow schema of a typed table (None: its columns are
        text)."""
        return None

    def count_rows(self, path: Path) -> int | None:
        """The number of data rows, where it is cheap to know (None: not
        known before reading)."""
        return None


def reader_of(path: Path) -> TableReader:
    """The reader of a table by its suffix; a file of any other suffix (a
    pipe, ``.dat``) is read as CSV."""
    fmt = table_format(path) or FORMATS["csv"]
    reader: TableReader = fmt.get_reader()
    return reader


def read_header(path: Path, delimiter: str = ",") -> list[str]:
    """The column names of a table."""
    return reader_of(path).header(path, delimiter)


def read_chunks(path: Path, header: Sequence[str], rows: int,
                delimiter: str = ",") -> Iterator[Chunk]:
    """The table in chunks of about ``rows`` rows."""
    return reader_of(path).chunks(path, header, rows, delimiter)


def read_columns(path: Path, header: Sequence[str],
                 columns: Mapping[str, str], delimiter: str = ",", *,
                 text: Sequence[str] = (), rows: int = 200_000
                 ) -> dict[str, Any]:
    """Whole columns of a table, read in chunks: each of ``columns``
    (column -> what it holds, for messages) as a float64 array, each of
    ``text`` as the list of its cells."""
    numbers: dict[str, list[np.ndarray]] = {c: [] for c in columns}
    cells: dict[str, list[str]] = {c: [] for c in text}
    for chunk in read_chunks(path, header, rows, delimiter):
        for c in text:
            cells[c] += chunk.text(c)
        for c, what in columns.items():
            numbers[c].append(chunk.numbers(c, what))
    out: dict[str, Any] = dict(cells)
    for c, parts in numbers.items():
        out[c] = (np.concatenate(parts) if parts
                  else np.empty(0, dtype=np.float64))
    return out


def input_schema(path: Path) -> Any:
    """The Arrow schema of a typed table (None for CSV, whose columns are
    text)."""
    return reader_of(path).schema(path)


def count_rows(path: Path) -> int | None:
    """The number of data rows of a table, for a progress display (None
    when it is not known before reading)."""
    return reader_of(path).count_rows(path)


# ---------------------------------------------------------------------------
# Writers


class TableWriter:
    """Writes chunks to a table file: the input columns as read, then the
    output columns (the ``writer`` of a registry entry).  ``columns`` are
    the output column names, ``units`` the unit of each (a format that
    stores units with its columns, :attr:`stores_units`, keeps them there
    as well)."""

    stores_units = False

    def __init__(self, fout: IO[bytes], header: Sequence[str],
                 columns: Sequence[str], units: Sequence[str],
                 delimiter: str = ",") -> None:
        self.f = fout
        self.header = list(header)
        self.columns = list(columns)
        self.units = list(units)
        self.delimiter = delimiter

    def write(self, chunk: Chunk, outputs: Sequence[np.ndarray]) -> None:
        raise NotImplementedError

    def close(self, schema: Any = None) -> None:
        """Finishes the file; ``schema`` is the input's (None: text
        columns), for formats that write a typed table of no rows."""

    @staticmethod
    def arrow_columns(chunk: Chunk, outputs: Sequence[np.ndarray],
                      pa: Any) -> tuple[Any, list[Any]]:
        """The chunk as an Arrow table, and its columns followed by the
        outputs as float64 Arrow arrays."""
        table = chunk.table
        if not hasattr(table, "num_rows"):
            table = pa.Table.from_pandas(table, preserve_index=False)
        elif isinstance(table, pa.RecordBatch):
            table = pa.Table.from_batches([table])
        arrays = list(table.columns) + [pa.array(np.asarray(o, np.float64))
                                        for o in outputs]
        return table, arrays


def writer_class(fmt: Format) -> type[TableWriter]:
    """The writer of a table format."""
    cls: type[TableWriter] = fmt.get_writer()
    return cls
