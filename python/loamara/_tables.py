"""Tables in and out for ``loamara run`` and ``loamara ensemble``: CSV and
Parquet, read and written in chunks of rows.

CSV is read with pyarrow's streaming reader where pyarrow is installed (it
parses in parallel, several times faster than any reader in Python), else
with pandas' C engine.  Every column is read as text, so that the input
columns are written back exactly as they were; only the columns that feed
the function are parsed, as decimal numbers (``nan`` and ``inf`` included;
an empty cell is a missing value, NaN).  Parquet columns keep their types.

Errors name the file, the line (the physical line, counted as a text editor
does) and the column: the fast readers do not know line numbers, so when
they fail, the file is read again from the start with Python's csv module
to find the first bad line.  Text that is not UTF-8 is reported the same
way.
"""
from __future__ import annotations

import csv
import importlib
import io
import warnings
from collections.abc import Iterator, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import IO, Any, NoReturn

import numpy as np

from ._errors import TableError, TableWarning
from ._formats import FORMATS, format_of
from .parallel import map_threads

__all__ = ["TableError", "TableWarning", "Chunk", "read_header", "read_chunks",
           "TableWriter", "table_format", "TABLE_SUFFIXES"]

TABLE_SUFFIXES = {s: f.name for f in FORMATS.values() if f.kind == "table"
                  for s in f.suffixes}

_UINT32_MAX = 4294967295


def table_format(path: Path) -> str | None:
    fmt = format_of(path)
    return fmt.name if fmt is not None and fmt.kind == "table" else None


def _pyarrow() -> Any:
    try:
        return importlib.import_module("pyarrow")
    except ImportError:
        return None


def _require_pandas() -> Any:
    try:
        return importlib.import_module("pandas")
    except ImportError:
        raise TableError("reading and writing tables needs pandas (and, "
                         "for speed, pyarrow): pip install 'loamara[tables]'"
                         ) from None


# ---------------------------------------------------------------------------
# Locating errors line by line (only after a fast reader has failed)


def _decoded_lines(raw: IO[bytes], source: str) -> Iterator[str]:
    """The lines of a binary file as text, decoded one line at a time so that
    text that is not UTF-8 is reported with its line number (a byte-order
    mark at the start is dropped)."""
    for number, line in enumerate(raw, start=1):
        if number == 1 and line.startswith(b"\xef\xbb\xbf"):
            line = line[3:]
        try:
            yield line.decode("utf-8")
        except UnicodeDecodeError as exc:
            raise TableError(f"{source}, line {number}: not UTF-8 text "
                             f"(byte {line[exc.start]:#04x} at column "
                             f"{exc.start + 1}); save the file as UTF-8"
                             ) from None


def _csv_rows(path: Path, delimiter: str) -> Iterator[tuple[int, int,
                                                            list[str]]]:
    """(data row number, line number, fields) of every non-blank data row,
    with Python's csv module (no field size limit)."""
    source = str(path)
    limit = csv.field_size_limit()
    csv.field_size_limit(2**31 - 1)
    try:
        with open(path, "rb") as f:
            reader = csv.reader(_decoded_lines(f, source),
                                delimiter=delimiter)
            row_no = -1  # the header is row 0
            while True:
                try:
                    fields = next(reader)
                except StopIteration:
                    return
                except csv.Error as exc:
                    raise TableError(f"{source}, line {reader.line_num}: "
                                     f"{exc}") from None
                if not fields or (len(fields) == 1 and not fields[0].strip()):
                    continue
                row_no += 1
                yield row_no, reader.line_num, fields
    finally:
        csv.field_size_limit(limit)


def _find_row(path: Path, delimiter: str, row: int) -> int:
    """The line number of data row ``row`` (1 is the first after the
    header)."""
    for row_no, line_no, _ in _csv_rows(path, delimiter):
        if row_no == row:
            return line_no
    return -1


def _first_structural_error(path: Path, delimiter: str,
                            width: int) -> TableError:
    """Finds the first line that breaks the table (encoding, quoting, field
    count) after a fast reader has refused the file."""
    for row_no, line_no, fields in _csv_rows(path, delimiter):
        if row_no and len(fields) != width:
            return TableError(f"{path}, line {line_no} (data row {row_no}): "
                              f"{len(fields)} fields, but the header has "
                              f"{width}")
    return TableError(f"{path}: cannot be read as a table")


def _cell(text: str, limit: int = 40) -> str:
    return repr(text if len(text) <= limit else text[:limit] + "...")


# ---------------------------------------------------------------------------
# Reading


@dataclass
class Chunk:
    """A block of rows: the table as read (for writing back) and the
    number of rows before it."""

    table: Any           # pyarrow RecordBatch/Table or pandas DataFrame
    first_row: int       # data rows before this chunk
    path: Path
    delimiter: str

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
        pa = _pyarrow()
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
        pa = _pyarrow()
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
                line = _find_row(self.path, self.delimiter, row) \
                    if table_format(self.path) == "csv" else -1
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
    pd = _require_pandas()
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


def read_header(path: Path, delimiter: str = ",") -> list[str]:
    """The column names of a table."""
    fmt = table_format(path)
    if fmt == "parquet":
        pq = _parquet()
        try:
            return list(pq.ParquetFile(path).schema_arrow.names)
        except Exception as exc:  # pyarrow raises several types
            raise TableError(f"{path}: not a Parquet file ({exc})") from None
    with open(path, "rb") as f:
        lines = _decoded_lines(f, str(path))
        reader = csv.reader(lines, delimiter=delimiter)
        try:
            return [h.strip() for h in next(reader)]
        except StopIteration:
            raise TableError(f"{path} is empty: a header line with the "
                             "column names is expected") from None
        except csv.Error as exc:
            raise TableError(f"{path}, line 1: {exc}") from None


def input_schema(path: Path) -> Any:
    """The Arrow schema of a Parquet table (None for CSV, whose columns
    are text)."""
    if table_format(path) != "parquet":
        return None
    return _parquet().ParquetFile(path).schema_arrow


def _parquet() -> Any:
    if _pyarrow() is None:
        raise TableError("Parquet needs pyarrow: pip install "
                         "'loamara[tables]'")
    return importlib.import_module("pyarrow.parquet")


def read_chunks(path: Path, header: Sequence[str], rows: int,
                delimiter: str = ",") -> Iterator[Chunk]:
    """The table in chunks of about ``rows`` rows."""
    fmt = table_format(path) or "csv"
    if fmt == "parquet":
        pq = _parquet()
        first = 0
        for batch in pq.ParquetFile(path).iter_batches(batch_size=rows):
            yield Chunk(batch, first, path, delimiter)
            first += batch.num_rows
        return
    pa = _pyarrow()
    if pa is not None:
        yield from _arrow_csv(path, header, rows, delimiter, pa)
    else:
        yield from _pandas_csv(path, header, rows, delimiter)


def _arrow_csv(path: Path, header: Sequence[str], rows: int,
               delimiter: str, pa: Any) -> Iterator[Chunk]:
    import pyarrow.csv as pcsv

    names = [f"c{i}" for i in range(len(header))]  # headers may repeat
    read = pcsv.ReadOptions(column_names=names, skip_rows=1,
                            block_size=max(1 << 16, min(rows * 64, 1 << 26)),
                            encoding="utf8")
    parse = pcsv.ParseOptions(delimiter=delimiter, newlines_in_values=True)
    convert = pcsv.ConvertOptions(
        column_types={n: pa.string() for n in names},
        strings_can_be_null=False, quoted_strings_can_be_null=False)
    first = 0
    pending: list[Any] = []
    count = 0
    try:
        reader = pcsv.open_csv(path, read_options=read, parse_options=parse,
                               convert_options=convert)
        for batch in reader:
            pending.append(batch)
            count += batch.num_rows
            while count >= rows:
                table = pa.Table.from_batches(pending).rename_columns(
                    list(header))
                head, rest = table.slice(0, rows), table.slice(rows)
                yield Chunk(head, first, path, delimiter)
                first += rows
                pending = rest.rename_columns(names).to_batches() \
                    if rest.num_rows else []
                count = rest.num_rows
    except (pa.ArrowInvalid, UnicodeDecodeError):
        raise _first_structural_error(path, delimiter, len(header)) from None
    if count:
        yield Chunk(pa.Table.from_batches(pending).rename_columns(
            list(header)), first, path, delimiter)


def _pandas_csv(path: Path, header: Sequence[str], rows: int,
                delimiter: str) -> Iterator[Chunk]:
    """Without pyarrow: the csv module, which checks every row's field
    count (pandas' reader pads short rows silently), in chunks of text
    columns."""
    pd = _require_pandas()
    width = len(header)
    block: list[list[str]] = []
    first = 0
    for row_no, line_no, fields in _csv_rows(path, delimiter):
        if row_no == 0:
            continue
        if len(fields) != width:
            raise TableError(f"{path}, line {line_no} (data row {row_no}): "
                             f"{len(fields)} fields, but the header has "
                             f"{width}")
        block.append(fields)
        if len(block) == rows:
            yield Chunk(pd.DataFrame(block, columns=list(header), dtype=str),
                        first, path, delimiter)
            first += len(block)
            block = []
    if block:
        yield Chunk(pd.DataFrame(block, columns=list(header), dtype=str),
                    first, path, delimiter)


# ---------------------------------------------------------------------------
# Writing


class TableWriter:
    """Writes chunks to a table file: the input columns as read, then the
    output columns.  ``columns`` are the output column names (units in
    them for CSV), ``units`` the unit of each, stored in the Parquet
    schema."""

    def __init__(self, fout: IO[bytes], fmt: str, header: Sequence[str],
                 columns: Sequence[str], units: Sequence[str],
                 delimiter: str = ",") -> None:
        self.f = fout
        self.fmt = fmt
        self.header = list(header)
        self.columns = list(columns)
        self.units = list(units)
        self.delimiter = delimiter
        self._parquet: Any = None
        if fmt == "csv":
            text = io.StringIO()
            csv.writer(text, delimiter=delimiter, lineterminator="\n"
                       ).writerow(self.header + self.columns)
            self.f.write(text.getvalue().encode("utf-8"))

    def write(self, chunk: Chunk, outputs: Sequence[np.ndarray]) -> None:
        pa = _pyarrow()
        if pa is None:
            self._write_pandas(chunk, outputs)
            return
        table = chunk.table
        if not hasattr(table, "num_rows"):
            table = pa.Table.from_pandas(table, preserve_index=False)
        elif isinstance(table, pa.RecordBatch):
            table = pa.Table.from_batches([table])
        arrays = list(table.columns) + [pa.array(np.asarray(o, np.float64))
                                        for o in outputs]
        if self.fmt == "parquet":
            fields = list(table.schema) + [
                pa.field(c, pa.float64(), metadata={"units": u})
                for c, u in zip(self.columns, self.units)]
            out = pa.Table.from_arrays(arrays, schema=pa.schema(fields))
            if self._parquet is None:
                pq = _parquet()
                self._parquet = pq.ParquetWriter(self.f, out.schema)
            self._parquet.write_table(out)
            return
        names = [f"c{i}" for i in range(len(arrays))]
        if _needs_quotes(table, self.delimiter, pa):
            out = pa.Table.from_arrays(arrays, names=names)
            self._write_rows(out.to_pylist(), names)
            return
        import pyarrow.csv as pcsv
        # Formatting doubles is most of the writing: the outputs are turned
        # into text (shortest round-trip form, as the CSV writer would) on
        # every core first.
        texts = map_threads(_as_text, arrays[table.num_columns:])
        out = pa.Table.from_arrays(arrays[:table.num_columns] + texts,
                                   names=names)
        pcsv.write_csv(out, self.f, pcsv.WriteOptions(
            include_header=False, delimiter=self.delimiter,
            quoting_style="none"))

    def _write_rows(self, records: list[dict[str, Any]],
                    names: list[str]) -> None:
        text = io.StringIO()
        w = csv.writer(text, delimiter=self.delimiter, lineterminator="\n")
        for rec in records:
            w.writerow([_num_text(rec[n]) for n in names])
        self.f.write(text.getvalue().encode("utf-8"))

    def _write_pandas(self, chunk: Chunk, outputs: Sequence[np.ndarray]
                      ) -> None:
        df = chunk.table.copy()
        for c, o in zip(self.columns, outputs):
            df[c] = np.asarray(o, np.float64)
        if self.fmt == "parquet":
            raise TableError("Parquet needs pyarrow: pip install "
                             "'loamara[tables]'")
        text = io.StringIO()
        df.to_csv(text, header=False, index=False, sep=self.delimiter,
                  na_rep="nan", lineterminator="\n")
        self.f.write(text.getvalue().encode("utf-8"))

    def close(self, schema: Any = None) -> None:
        """Finishes the file.  A Parquet output of no rows is still a
        valid table, with the columns of ``schema`` (the input's) and the
        output columns."""
        if self.fmt == "parquet" and self._parquet is None:
            pa = _pyarrow()
            if pa is None:
                raise TableError("Parquet needs pyarrow: pip install "
                                 "'loamara[tables]'")
            fields = list(schema) if schema is not None else [
                pa.field(h, pa.string()) for h in self.header]
            fields += [pa.field(c, pa.float64(), metadata={"units": u})
                       for c, u in zip(self.columns, self.units)]
            empty = pa.schema(fields).empty_table()
            _parquet().write_table(empty, self.f)
        if self._parquet is not None:
            self._parquet.close()


def _as_text(arr: Any) -> Any:
    import pyarrow as pa
    import pyarrow.compute as pc

    return pc.cast(arr, pa.string())


def _num_text(v: Any) -> str:
    if isinstance(v, float):
        return repr(v)
    return "" if v is None else str(v)


def _needs_quotes(table: Any, delimiter: str, pa: Any) -> bool:
    """True when a text cell holds the delimiter, a quote or a line break
    (pyarrow's writer then would quote every text cell)."""
    import pyarrow.compute as pc

    pattern = "[" + "".join("\\" + c if c in "\\^]-" else c
                            for c in (delimiter, '"', "\n", "\r")) + "]"
    for col in table.columns:
        if pa.types.is_string(col.type) or pa.types.is_large_string(
                col.type):
            if pc.any(pc.match_substring_regex(col, pattern)).as_py():
                return True
    return False
