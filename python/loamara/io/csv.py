"""CSV tables (``.csv``, ``.txt``, ``.tsv``), read and written in chunks of
rows.

Read with pyarrow's streaming reader where pyarrow is installed (it parses
in parallel, several times faster than any reader in Python), else with
Python's csv module.  Every column is read as text, so that the input
columns are written back exactly as they were.

Errors name the file, the line (the physical line, counted as a text editor
does) and the column: the fast reader does not know line numbers, so when
it fails, the file is read again from the start with Python's csv module
to find the first bad line.  Text that is not UTF-8 is reported the same
way.
"""
from __future__ import annotations

import csv
import functools
import io
from collections.abc import Iterator, Sequence
from pathlib import Path
from typing import IO, Any

import numpy as np

from .._errors import TableError
from ..parallel import map_threads
from ._table import Chunk, TableReader, TableWriter, require_pandas
from ._table import optional_pyarrow as _pyarrow

__all__ = ["READER", "CsvReader", "CsvWriter"]


# ---------------------------------------------------------------------------
# Locating errors line by line (only after the fast reader has failed)


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


def _field_count_error(path: Path, line_no: int, row_no: int, found: int,
                       width: int) -> TableError:
    return TableError(f"{path}, line {line_no} (data row {row_no}): "
                      f"{found} fields, but the header has {width}")


def _first_structural_error(path: Path, delimiter: str,
                            width: int) -> TableError:
    """Finds the first line that breaks the table (encoding, quoting, field
    count) after the fast reader has refused the file."""
    for row_no, line_no, fields in _csv_rows(path, delimiter):
        if row_no and len(fields) != width:
            return _field_count_error(path, line_no, row_no, len(fields),
                                      width)
    return TableError(f"{path}: cannot be read as a table")


# ---------------------------------------------------------------------------
# Reading


class CsvReader(TableReader):
    """CSV: the header line, then the rows as text columns."""

    def header(self, path: Path, delimiter: str) -> list[str]:
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

    def chunks(self, path: Path, header: Sequence[str], rows: int,
               delimiter: str) -> Iterator[Chunk]:
        pa = _pyarrow()
        if pa is not None:
            return _arrow_csv(path, header, rows, delimiter, pa)
        return _pandas_csv(path, header, rows, delimiter)

    def count_rows(self, path: Path) -> int | None:
        """The lines after the header (blank lines and line breaks in
        quoted cells count too: an estimate, for a progress display)."""
        n = 0
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                n += block.count(b"\n")
        return max(n - 1, 0)


READER = CsvReader()


def _arrow_csv(path: Path, header: Sequence[str], rows: int,
               delimiter: str, pa: Any) -> Iterator[Chunk]:
    import pyarrow.csv as pcsv

    locate = functools.partial(_find_row, path, delimiter)
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
                yield Chunk(head, first, path, locate)
                first += rows
                pending = rest.rename_columns(names).to_batches() \
                    if rest.num_rows else []
                count = rest.num_rows
    except (pa.ArrowInvalid, UnicodeDecodeError):
        raise _first_structural_error(path, delimiter, len(header)) from None
    if count:
        yield Chunk(pa.Table.from_batches(pending).rename_columns(
            list(header)), first, path, locate)


def _pandas_csv(path: Path, header: Sequence[str], rows: int,
                delimiter: str) -> Iterator[Chunk]:
    """Without pyarrow: the csv module, which checks every row's field
    count (pandas' reader pads short rows silently), in chunks of text
    columns."""
    pd = require_pandas()
    locate = functools.partial(_find_row, path, delimiter)
    width = len(header)
    block: list[list[str]] = []
    first = 0
    for row_no, line_no, fields in _csv_rows(path, delimiter):
        if row_no == 0:
            continue
        if len(fields) != width:
            raise _field_count_error(path, line_no, row_no, len(fields),
                                     width)
        block.append(fields)
        if len(block) == rows:
            yield Chunk(pd.DataFrame(block, columns=list(header), dtype=str),
                        first, path, locate)
            first += len(block)
            block = []
    if block:
        yield Chunk(pd.DataFrame(block, columns=list(header), dtype=str),
                    first, path, locate)


# ---------------------------------------------------------------------------
# Writing


class CsvWriter(TableWriter):
    """A header line (the input columns, then the output columns), then
    the rows: the input cells as read, the outputs in the shortest text
    that reads back as the same double."""

    def __init__(self, fout: IO[bytes], header: Sequence[str],
                 columns: Sequence[str], units: Sequence[str],
                 delimiter: str = ",") -> None:
        super().__init__(fout, header, columns, units, delimiter)
        text = io.StringIO()
        csv.writer(text, delimiter=delimiter, lineterminator="\n"
                   ).writerow(self.header + self.columns)
        self.f.write(text.getvalue().encode("utf-8"))

    def write(self, chunk: Chunk, outputs: Sequence[np.ndarray]) -> None:
        pa = _pyarrow()
        if pa is None:
            self._write_pandas(chunk, outputs)
            return
        table, arrays = self.arrow_columns(chunk, outputs, pa)
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
        text = io.StringIO()
        df.to_csv(text, header=False, index=False, sep=self.delimiter,
                  na_rep="nan", lineterminator="\n")
        self.f.write(text.getvalue().encode("utf-8"))


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
