"""``loamara run``: applies one pedotransfer function to every row of a CSV
file and writes the rows with the outputs appended as named columns.

The file is read and written in chunks of rows, with the standard csv
module and NumPy only.  The output is written to a temporary file in the
target directory and renamed over the target only when every row has been
processed, so a failure never leaves a partial output file behind (and an
existing file of that name stays as it was).  Cells are read as decimal
numbers (``nan`` and ``inf`` included); an empty cell is a missing value and
becomes NaN.  A texture-class index must be a whole number.  Outputs are
written with the shortest decimal text that reads back as the same double.
"""
from __future__ import annotations

import csv
import importlib
import os
import secrets
import stat
import sys
from collections.abc import Iterator, Mapping, Sequence
from pathlib import Path
from typing import IO, Any

import numpy as np

from ._catalog import PTF

DEFAULT_CHUNK_ROWS = 50_000
_UINT32_MAX = 4294967295


class RunError(Exception):
    """A problem with the input data or the command line of ``run``; the
    message names the file, line, column and input concerned."""


def resolve_columns(ptf: PTF, header: Sequence[str],
                    mapping: Mapping[str, str], source: str) -> list[int]:
    """The column index of each input, in input order.  ``mapping`` takes
    input names to column names; other inputs come from the column of their
    own name."""
    names = ptf.input_names
    for inp, col in mapping.items():
        if inp not in names:
            raise RunError(f"--map {col}={inp}: {ptf.name} has no input "
                           f"{inp!r}; its inputs are: " + ", ".join(names))
    positions: dict[str, list[int]] = {}
    for i, col in enumerate(header):
        positions.setdefault(col, []).append(i)
    indexes: list[int] = []
    missing: list[str] = []
    for q in ptf.inputs:
        col = mapping.get(q.name, q.name)
        found = positions.get(col, [])
        if len(found) > 1:
            raise RunError(f"{source}: column {col!r} (input {q.name}) "
                           "appears more than once in the header")
        if not found:
            how = (f"column {col!r} given by --map" if q.name in mapping
                   else f"column {col!r}")
            missing.append(f"{how} for input {q.name} [{q.unit_label}]: "
                           f"{q.meaning}")
            continue
        indexes.append(found[0])
    if missing:
        raise RunError(
            f"{source}: missing " + ("column" if len(missing) == 1
                                     else "columns") + ":\n  "
            + "\n  ".join(missing)
            + "\nthe header has: " + ", ".join(repr(h) for h in header)
            + "\nuse --map COLUMN=INPUT to take an input from another column")
    return indexes


def _parse_float(cell: str) -> float:
    text = cell.strip()
    if not text:
        return float("nan")
    return float(text)


def _parse_index(cell: str) -> int:
    text = cell.strip()
    try:
        value = int(text)
    except ValueError:
        f = float(text)  # ValueError for text that is no number at all
        if not f.is_integer():
            raise ValueError("not a whole number") from None
        value = int(f)
    if not 0 <= value <= _UINT32_MAX:
        raise ValueError(f"outside 0 to {_UINT32_MAX}")
    return value


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
            raise RunError(f"{source}, line {number}: not UTF-8 text "
                           f"(byte {line[exc.start]:#04x} at column "
                           f"{exc.start + 1}); save the file as UTF-8"
                           ) from None


def _is_regular_file(path: Path) -> bool:
    try:
        return stat.S_ISREG(os.stat(path).st_mode)
    except OSError:
        return False


def check_paths(source: Path, target: Path) -> None:
    """Refuses, before anything is read, an output that cannot be written
    or that would replace the input."""
    if target.is_dir():
        raise RunError(f"cannot write {target}: it is a directory; give a "
                       "file name with -o")
    directory = target.resolve().parent
    if not directory.is_dir():
        raise RunError(f"cannot write {target}: directory {directory} "
                       "does not exist")
    try:
        same = target.exists() and os.path.samefile(source, target)
    except OSError:
        same = False
    if same:
        raise RunError(f"the output {target} is the input file: choose "
                       "another output file, the input is never replaced")


def _count_lines(path: Path) -> int:
    n = 0
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            n += block.count(b"\n")
    return n


class _Progress:
    """Rows done, on standard error: a tqdm bar when tqdm is installed,
    otherwise a counter that rewrites one line."""

    def __init__(self, total: int | None, enabled: bool) -> None:
        self._bar: Any = None
        self._done = 0
        self._enabled = enabled
        self._total = total
        if enabled:
            try:
                tqdm: Any = importlib.import_module("tqdm")
            except ImportError:
                pass
            else:
                self._bar = tqdm.tqdm(total=total, unit=" rows",
                                      file=sys.stderr, leave=False)

    def update(self, n: int) -> None:
        self._done += n
        if self._bar is not None:
            self._bar.update(n)
        elif self._enabled:
            of = f" of ~{self._total}" if self._total else ""
            sys.stderr.write(f"\r{self._done} rows{of}")
            sys.stderr.flush()

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
        elif self._enabled:
            sys.stderr.write("\n")
            sys.stderr.flush()


def _rows(reader: Any, width: int, source: str
          ) -> Iterator[tuple[int, int, list[str]]]:
    """(data row number, line number, fields) of every non-blank row."""
    row_no = 0
    while True:
        try:
            fields = next(reader)
        except StopIteration:
            return
        except csv.Error as exc:
            raise RunError(f"{source}, line {reader.line_num} (data row "
                           f"{row_no + 1}): {exc}") from None
        if not fields or (len(fields) == 1 and not fields[0].strip()):
            continue  # a blank line
        row_no += 1
        if len(fields) != width:
            raise RunError(f"{source}, line {reader.line_num} (data row "
                           f"{row_no}): {len(fields)} fields, but the header "
                           f"has {width}")
        yield row_no, reader.line_num, fields


def _chunk_outputs(ptf: PTF, chunk: list[tuple[int, int, list[str]]],
                   columns: Sequence[int], header: Sequence[str],
                   source: str) -> tuple[np.ndarray, ...]:
    ops: list[np.ndarray] = []
    for q, col in zip(ptf.inputs, columns):
        is_index = q.dtype == "uint32"
        parse = _parse_index if is_index else _parse_float
        values: list[float] = []
        for row_no, line_no, fields in chunk:
            try:
                values.append(parse(fields[col]))
            except ValueError:
                what = ("a whole number from 0 to 4294967295 (texture-class "
                        "index)" if is_index else "a number")
                raise RunError(
                    f"{source}, line {line_no} (data row {row_no}), column "
                    f"{header[col]!r} (input {q.name}): cannot read "
                    f"{fields[col]!r} as {what}") from None
        ops.append(np.array(values,
                            dtype=np.uint32 if is_index else np.float64))
    with np.errstate(all="ignore"):  # NaN and inf speak for themselves
        out = ptf.ufunc(*ops)
    return out if isinstance(out, tuple) else (out,)


def _create_part_file(target: Path) -> tuple[int, Path]:
    """A new, empty file beside ``target`` for the output in progress,
    created with the permissions an ordinary new file gets."""
    directory = target.resolve().parent
    while True:
        part = directory / f".{target.name}.{secrets.token_hex(4)}.part"
        try:
            fd = os.open(part, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
        except FileExistsError:
            continue
        return fd, part


def run_csv(ptf: PTF, source: Path, target: Path,
            mapping: Mapping[str, str] | None = None, prefix: str = "",
            chunk_rows: int = DEFAULT_CHUNK_ROWS, delimiter: str = ",",
            progress: bool = False) -> int:
    """Evaluates ``ptf`` on every data row of the CSV file ``source`` and
    writes ``target``: the input columns unchanged, then one column per
    output, named ``prefix`` + output name.  Returns the number of data
    rows.  Raises :class:`RunError` for bad input (nothing is written then)
    and ``OSError`` for files that cannot be read or written."""
    if chunk_rows < 1:
        raise RunError("the chunk size must be at least 1 row")
    if len(delimiter) != 1:
        raise RunError(f"the delimiter must be one character, not "
                       f"{delimiter!r}")
    mapping = dict(mapping or {})
    src = str(source)
    check_paths(source, target)
    with open(source, "rb") as fin:
        reader = csv.reader(_decoded_lines(fin, src), delimiter=delimiter)
        try:
            header = [h.strip() for h in next(reader)]
        except StopIteration:
            raise RunError(f"{src} is empty: a header line with the column "
                           "names is expected") from None
        except csv.Error as exc:
            raise RunError(f"{src}, line 1: {exc}") from None
        columns = resolve_columns(ptf, header, mapping, src)
        out_names = [prefix + n for n in ptf.output_names]
        clash = [n for n in out_names if n in header]
        if clash:
            raise RunError(
                f"{src} already has a column named "
                + ", ".join(repr(c) for c in clash)
                + "; choose a prefix for the output columns with --prefix "
                "(for example --prefix est_)")
        # The line count for the progress bar reads the file a second time:
        # only a regular file can be read twice (a pipe or FIFO would lose
        # the rows the count consumed).
        total = (max(_count_lines(source) - 1, 0)
                 if progress and _is_regular_file(source) else None)
        fd, part = _create_part_file(target)
        bar = _Progress(total, progress)
        try:
            with os.fdopen(fd, "w", newline="", encoding="utf-8") as fout:
                rows = _write_all(ptf, reader, fout, header, columns,
                                  out_names, chunk_rows, delimiter, src, bar)
            os.replace(part, target)
        except BaseException:
            part.unlink(missing_ok=True)
            raise
        finally:
            bar.close()
    return rows


def _write_all(ptf: PTF, reader: Any, fout: IO[str], header: list[str],
               columns: Sequence[int], out_names: list[str],
               chunk_rows: int, delimiter: str, src: str,
               bar: _Progress) -> int:
    writer = csv.writer(fout, delimiter=delimiter, lineterminator="\n")
    writer.writerow(header + out_names)
    total = 0
    chunk: list[tuple[int, int, list[str]]] = []

    def flush() -> None:
        outs = _chunk_outputs(ptf, chunk, columns, header, src)
        texts = [[repr(v) for v in o.tolist()] for o in outs]
        for k, (_, _, fields) in enumerate(chunk):
            writer.writerow(fields + [t[k] for t in texts])
        bar.update(len(chunk))

    for item in _rows(reader, len(header), src):
        chunk.append(item)
        if len(chunk) >= chunk_rows:
            flush()
            total += len(chunk)
            chunk = []
    if chunk:
        flush()
        total += len(chunk)
    return total


def progress_wanted() -> bool:
    """A progress display only when standard error is a terminal."""
    try:
        return sys.stderr.isatty()
    except (AttributeError, ValueError):
        return False
