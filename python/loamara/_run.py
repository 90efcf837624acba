"""``loamara run``: applies one pedotransfer function to every row of a table
(CSV or Parquet) or every cell of a raster (NetCDF, Zarr, GeoTIFF), and
writes the outputs.

Inputs come from the columns (variables) named like them, or mapped with
``--map``, or bound by a preset (``--preset soilgrids``); their units from
``--units``, the preset, a raster's ``units`` attributes, or else the unit
of the publication.  Every value is converted and checked as
:func:`loamara.estimate` does.

Tables are read and written in chunks of rows (:mod:`loamara.io`); the output
holds the input columns unchanged, then one column per output whose name
states its unit (``theta_33 [cm^3/cm^3]``; in Parquet the unit is also in
the schema).  The output is written to a hidden temporary file beside the
target and renamed over it only when everything has been processed, so a
failure, Ctrl-C or SIGTERM never leaves a partial output file behind, and
an existing file of that name stays as it was.
"""
from __future__ import annotations

import contextlib
import os
import re
import shutil
import stat
import sys
import tempfile
import warnings
from collections.abc import Iterator, Mapping, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import numpy as np

from ._errors import RunError, TableError, TableWarning
from ._progress import Progress
from .io import (Format, count_rows, format_of, input_schema, is_raster,
                 read_chunks, read_header, suffix_text, table_format,
                 writer_class)
from .io._output import create_part_file, install, remove
from ._bind import BindError, Binding, bind, near_column
from ._catalog import PTF
from ._checks import RangeError, RangeWarning
from ._dedup import Seen
from ._estimate import estimate, output_conversions
from .presets import get as get_preset

DEFAULT_CHUNK_ROWS = 200_000


@dataclass
class RunOptions:
    """What the command line says about a run."""

    mapping: Mapping[str, str] = field(default_factory=dict)
    units: Mapping[str, str] = field(default_factory=dict)
    out_units: Mapping[str, str] = field(default_factory=dict)
    check: str = "warn"
    preset: str | None = None
    prefix: str = ""
    chunk_rows: int = DEFAULT_CHUNK_ROWS
    delimiter: str = ","
    progress: bool = False
    outputs: Sequence[str] | None = None
    scheduler: str | None = None
    threads: int | None = None
    ptfs: Sequence[str] | None = None
    raster_chunk: int | None = None
    ensemble: Mapping[str, Any] = field(default_factory=dict)
    """Options of ``loamara ensemble`` for :func:`loamara.ensemble`
    (members, groups, keep_outside, domain, weights)."""


def cli_text(message: str) -> str:
    """An estimate message in the words of the command line: the
    ``units={'sand': '%'}`` of the Python call is ``--units sand=%``."""
    return re.sub(r"units=\{'([^']*)': '([^']*)'\}", r"--units \1=\2",
                  message).replace("check='off'", "--check off")


def _is_regular_file(path: Path) -> bool:
    try:
        return stat.S_ISREG(os.stat(path).st_mode)
    except OSError:
        return False


def check_paths(sources: Sequence[Path], target: Path) -> None:
    """Refuses, before anything is read, an output that cannot be written
    or that would replace an input."""
    fmt = format_of(target)
    if target.is_dir() and not (fmt is not None and fmt.directory):
        raise RunError(f"cannot write {target}: it is a directory; give a "
                       "file name with -o")
    directory = target.resolve().parent
    if not directory.is_dir():
        raise RunError(f"cannot write {target}: directory {directory} "
                       "does not exist")
    for source in sources:
        try:
            same = target.exists() and os.path.samefile(source, target)
        except OSError:
            same = False
        if same:
            raise RunError(f"the output {target} is the input file: choose "
                           "another output file, the input is never "
                           "replaced")


class _Header(Mapping[str, Any]):
    """The columns of a table as the variables of a call (no values yet)."""

    def __init__(self, names: Sequence[str]) -> None:
        self.names = list(names)

    def __getitem__(self, key: str) -> Any:
        if key not in self.names:
            raise KeyError(key)
        return key

    def __iter__(self) -> Iterator[str]:
        return iter(self.names)

    def __len__(self) -> int:
        return len(self.names)


def bind_columns(ptf: PTF, header: Sequence[str], opts: RunOptions,
                 source: str) -> Binding:
    """Which column feeds which input, as :func:`estimate` will bind them;
    a RunError in the command line's words otherwise."""
    preset = get_preset(opts.preset) if opts.preset else None
    try:
        binding = bind(ptf, (), {}, data=_Header(header),
                       mapping=opts.mapping, units=opts.units, preset=preset)
    except BindError as exc:
        if not exc.missing or "--map" in str(exc):
            raise RunError(cli_text(str(exc))) from None
        lines = []
        for name in exc.missing:
            q = next(q for q in ptf.inputs if q.name == name)
            col = opts.mapping.get(name, name)
            how = (f"column {col!r} given by --map" if name in opts.mapping
                   else f"column {col!r}")
            near = near_column(q.name, header) if name not in \
                opts.mapping else None
            lines.append(f"{how} for input {q.name} [{q.unit_label}]: "
                         f"{q.meaning}" + (f" (did you mean {near!r}? "
                                           f"--map {near}={q.name})"
                                           if near else ""))
        raise RunError(
            f"{source}: missing " + ("column" if len(lines) == 1
                                     else "columns") + ":\n  "
            + "\n  ".join(lines)
            + "\nthe header has: " + ", ".join(repr(h) for h in header)
            + "\nuse --map COLUMN=INPUT to take an input from another "
            "column" + (", or --preset NAME" if preset is None else ""))
    except TypeError as exc:  # units for an unknown column
        raise RunError(cli_text(str(exc))) from None
    for b in binding.inputs:
        for s in b.sources:
            if header.count(s.label) > 1:
                raise RunError(f"{source}: column {s.label!r} (input "
                               f"{b.q.name}) appears more than once in the "
                               "header")
    return binding


def output_columns(ptf: PTF, binding: Binding, opts: RunOptions,
                   header: Sequence[str], source: str
                   ) -> tuple[list[int], list[str], list[str]]:
    """The outputs to write (positions), their column names with units, and
    their units."""
    try:
        units_out, _ = output_conversions(ptf, binding, opts.out_units)
    except (TypeError, ValueError) as exc:
        raise RunError(cli_text(str(exc))) from None
    names = ptf.output_names
    if opts.outputs:
        unknown = [o for o in opts.outputs if o not in names]
        if unknown:
            raise RunError("--outputs names " + ", ".join(map(repr, unknown))
                           + f", not an output of {ptf.name}; its outputs "
                           "are: " + ", ".join(names))
        chosen = [names.index(o) for o in opts.outputs]
    else:
        chosen = list(range(len(names)))
    cols = [f"{opts.prefix}{names[j]} [{units_out[names[j]]}]"
            for j in chosen]
    clash = [f"{opts.prefix}{names[j]}" for j in chosen
             if f"{opts.prefix}{names[j]}" in header] + [
                 c for c in cols if c in header]
    if clash:
        raise RunError(
            f"{source} already has a column named "
            + ", ".join(repr(c) for c in clash)
            + "; choose a prefix for the output columns with --prefix "
            "(for example --prefix est_)")
    return chosen, cols, [units_out[names[j]] for j in chosen]


class WarningPrinter:
    """The plausibility warnings of all chunks, reported once each."""

    def __init__(self) -> None:
        self.seen = Seen()

    def add(self, records: Sequence[warnings.WarningMessage]) -> None:
        for w in records:
            if issubclass(w.category, (RangeWarning, TableWarning)):
                first = str(w.message).split("\n(")[0]
                if self.seen.first(first):
                    print("loamara: warning: " + cli_text(str(w.message)),
                          file=sys.stderr)
            elif not issubclass(w.category, (DeprecationWarning,
                                             PendingDeprecationWarning,
                                             ImportWarning,
                                             ResourceWarning)):
                # What Python shows by default (libraries' deprecation
                # notices are not the user's business).
                warnings.showwarning(w.message, w.category, w.filename,
                                     w.lineno)


class Job:
    """What a run computes from each chunk of data: the columns it reads,
    the columns it writes, and the computation."""

    labels: list[str]          # the input columns, parsed as numbers
    index_labels: set[str]     # of those, texture-class indexes (uint32)
    what: dict[str, str]       # label -> "input sand", for messages
    columns: list[str]         # output column names, with units
    units: list[str]           # the unit of each output column

    def compute(self, data: dict[str, Any], opts: RunOptions) -> list[Any]:
        raise NotImplementedError


class EstimateJob(Job):
    """``loamara run``: one function, its chosen outputs."""

    def __init__(self, ptf: PTF, header: Sequence[str], opts: RunOptions,
                 source: str) -> None:
        self.ptf = ptf
        binding = bind_columns(ptf, header, opts, source)
        self.chosen, self.columns, self.units = output_columns(
            ptf, binding, opts, header, source)
        # The columns read: not those of optional inputs the table lacks.
        read = [(b, s) for b in binding.inputs for s in b.sources
                if s.how != "absent"]
        self.labels = sorted({s.label for _, s in read})
        self.index_labels = {s.label for b, s in read
                             if b.q.dtype == "uint32"}
        self.what = {s.label: f"input {b.q.name}" for b, s in read}
        # Values outside what their kinds can be, by output, over all
        # chunks (for the closing line).
        self.outside: dict[str, int] = {}

    def compute(self, data: dict[str, Any], opts: RunOptions) -> list[Any]:
        r = estimate(self.ptf.name, data=data, mapping=opts.mapping,
                     units=opts.units, preset=opts.preset,
                     out_units=opts.out_units, check=opts.check,
                     threads=opts.threads)
        written = {self.ptf.outputs[j].name for j in self.chosen}
        for name, n in (r.outside or {}).items():
            if name in written:
                self.outside[name] = self.outside.get(name, 0) + n
        outs = r.as_tuple()
        return [outs[j] for j in self.chosen]


class EnsembleJob(Job):
    """``loamara ensemble``: every function the columns allow for one kind,
    then the statistics across them."""

    def __init__(self, kind: str, header: Sequence[str], opts: RunOptions,
                 source: str) -> None:
        from ._ensemble import (UNITLESS, given_preset, omitted_members,
                                select_members, statistics)

        self.kind = kind
        self.names = {col: name for name, col in opts.mapping.items()}
        missing = [c for c in self.names if c not in header]
        if missing:
            raise RunError(f"{source}: --map names column"
                           f"{'s' * (len(missing) > 1)} "
                           + ", ".join(map(repr, missing))
                           + ", not in the header: "
                           + ", ".join(map(repr, header)))
        unknown = [k for k in opts.units if k not in header]
        if unknown:
            raise RunError(f"--units names column"
                           f"{'s' * (len(unknown) > 1)} "
                           + ", ".join(map(repr, unknown))
                           + f", not in the header of {source}")
        base = get_preset(opts.preset) if opts.preset else None
        try:
            _, given = given_preset(dict.fromkeys(header), {}, opts.units,
                                    base, self.names)
            chosen = select_members(
                kind, given.variables, opts.ptfs,
                opts.ensemble.get("members", "default"),
                opts.ensemble.get("groups"))
            # The functions of the kind left out, and why (for the notes).
            self.omitted = omitted_members(
                kind, given.variables, opts.ptfs,
                opts.ensemble.get("members", "default"),
                opts.ensemble.get("groups"))
        except ValueError as exc:
            raise RunError(str(exc)) from None
        cands = [m.candidate for m in chosen]
        if not cands:
            raise RunError(
                f"{source}: no function estimates {kind} from the columns "
                + ", ".join(map(repr, header))
                + f"; `loamara which --have {','.join(header)}` lists what "
                "they allow (--map COLUMN=NAME tells what a column holds)"
                + "".join(f"; {n} {why}" for n, why in self.omitted.items()))
        self.ptfs = [c.ptf.name for c in cands]
        from ._catalog import kinds
        unit = kinds()[kind].unit or ""
        members = [m.label for m in chosen]
        stats = list(statistics(kind, opts.ensemble.get("weights")))
        self.columns = [f"{opts.prefix}{m} [{unit}]" for m in members] + [
            f"{opts.prefix}{st}" + ("" if st in UNITLESS else f" [{unit}]")
            for st in stats]
        self.units = [unit] * len(members) + [
            "1" if st in UNITLESS else unit for st in stats]
        self.stats = stats
        clash = [c for c in self.columns if c in header]
        if clash:
            raise RunError(f"{source} already has a column named "
                           + ", ".join(map(repr, clash))
                           + "; choose a prefix with --prefix")
        labels: set[str] = set()
        self.index_labels: set[str] = set()
        self.what: dict[str, str] = {}
        for c in cands:
            for b in [*c.binding.inputs,
                      *(x for st in c.steps for x in st.binding.inputs)]:
                for src in b.sources:
                    if src.label in header:
                        labels.add(src.label)
                        self.what.setdefault(src.label, f"input {b.q.name} "
                                             f"of {c.ptf.short_name}")
                        if b.q.dtype == "uint32":
                            self.index_labels.add(src.label)
        self.labels = sorted(labels)

    def compute(self, data: dict[str, Any], opts: RunOptions) -> list[Any]:
        from ._ensemble import ensemble

        e = ensemble(self.kind, data,
                     units={k: v for k, v in opts.units.items()
                            if k in data},
                     preset=opts.preset, check=opts.check, ptfs=self.ptfs,
                     threads=opts.threads,
                     names={c: n for c, n in self.names.items()
                            if c in data}, **opts.ensemble)
        members = np.asarray(e.members)
        return ([members[..., i] for i in range(members.shape[-1])]
                + [np.asarray(e.stats[s], dtype=np.float64)
                   for s in self.stats])


def _raster_warnings() -> Any:
    """Collects the plausibility warnings of a raster run (blocks are
    checked as they are computed, on any thread) and prints each once."""
    notes = WarningPrinter()

    @contextlib.contextmanager
    def collect() -> Iterator[None]:
        try:
            with warnings.catch_warnings(record=True) as records:
                warnings.simplefilter("always")
                yield
        finally:
            # Outside the recording: a warning shown here is not recorded
            # again into the list being read.
            notes.add(records)
    return collect()


def run_raster(ptf: PTF, sources: Sequence[Path], target: Path,
               opts: RunOptions) -> str:
    """Evaluates ``ptf`` on every cell of the rasters ``sources`` (their
    variables bound to inputs by name, --map or preset, units from their
    attributes) and writes the outputs to the raster ``target``; lazily,
    block by block.  Returns a description of what was written."""
    from .io import open_inputs

    _check_raster_paths(sources, target)
    ds = open_inputs(list(sources), opts.raster_chunk)
    binding = bind_columns(ptf, [str(v) for v in ds.data_vars], opts,
                           ", ".join(map(str, sources)))
    chosen, _, units_out = output_columns(ptf, binding, opts, [], "")
    try:
        r = estimate(ptf.name, data=ds, mapping=opts.mapping,
                     units=opts.units, preset=opts.preset,
                     out_units=opts.out_units, check=opts.check)
    except (TypeError, ValueError) as exc:
        raise RunError(cli_text(str(exc))) from None
    names = ptf.output_names
    outputs = {f"{opts.prefix}{names[j]}": r[names[j]] for j in chosen}
    for j, arr in zip(chosen, outputs.values()):
        q = ptf.outputs[j]
        if q.kind in CF_STANDARD_NAMES and not q.log10:
            arr.attrs["standard_name"] = CF_STANDARD_NAMES[q.kind]
    _write_raster(ds, outputs, target, opts,
                  _cf_globals(f"{ptf.name} ({ptf.publication})",
                              [ptf.citation]))
    return (f"{len(outputs)} output{'s' * (len(outputs) != 1)} on a "
            + " x ".join(str(n) for n in next(iter(outputs.values())).shape)
            + " grid")


def run_raster_ensemble(kind: str, sources: Sequence[Path], target: Path,
                        opts: RunOptions) -> tuple[str, dict[str, str]]:
    """The ensemble of ``kind`` on every cell of the rasters ``sources``:
    one map per function and one per statistic.  Returns what was written
    and why functions of the kind are not members."""
    from ._ensemble import ensemble
    from .io import open_inputs

    _check_raster_paths(sources, target)
    ds = open_inputs(list(sources), opts.raster_chunk)
    try:
        e = ensemble(kind, ds, units=opts.units or None, preset=opts.preset,
                     check=opts.check, ptfs=opts.ptfs,
                     names={c: n for n, c in opts.mapping.items()},
                     **opts.ensemble)
    except (TypeError, ValueError) as exc:
        raise RunError(cli_text(str(exc))) from None
    from ._catalog import kinds, lookup
    from ._ensemble import UNITLESS

    k = kinds()[kind]
    outputs = {}
    for m in e.names:
        arr = e.members.sel(ptf=m, drop=True)
        arr.attrs["long_name"] = f"{k.label}, {m}"
        outputs[f"{opts.prefix}{kind}_{m}"] = arr
    located = []
    for st, arr in e.stats.items():
        arr.attrs["long_name"] = f"{st} of {k.label} across the functions"
        if st not in UNITLESS:
            arr.attrs.setdefault("units", k.unit)
            if st not in ("std", "iqr"):  # a value of the kind itself
                located.append(f"{opts.prefix}{kind}_{st}")
        outputs[f"{opts.prefix}{kind}_{st}"] = arr
    standard = CF_STANDARD_NAMES.get(kind)
    for name, arr in outputs.items():
        if standard and (name in located or name not in
                         {f"{opts.prefix}{kind}_{st}" for st in e.stats}):
            arr.attrs["standard_name"] = standard
    used = []
    for m in e.names:
        try:
            used.append(lookup(m).citation)
        except Exception:  # a member named otherwise: no reference
            continue
    _write_raster(ds, outputs, target, opts,
                  _cf_globals(f"ensemble of {kind}: " + ", ".join(e.names),
                              used))
    return (f"{len(e.names)} functions and {len(e.stats)} statistics",
            e.omitted)


# CF standard names of the kinds that have one, for outputs in a plain (not
# logarithmic) unit.  Each is an entry of the CF Standard Name Table,
# version 93 (2026-03-17), as shipped in compliance-checker 6.1.0
# (compliance_checker/data/cf-standard-name-table.xml); theta_33 and
# theta_1500 take the names of field capacity and wilting point, as the
# catalog's kinds describe them.
CF_STANDARD_NAMES = {
    "ksat": "soil_hydraulic_conductivity_at_saturation",
    "theta_fc": "volume_fraction_of_condensed_water_in_soil_at_field_capacity",
    "theta_33": "volume_fraction_of_condensed_water_in_soil_at_field_capacity",
    "theta_1500":
        "volume_fraction_of_condensed_water_in_soil_at_wilting_point",
}


def _cf_globals(what: str, citations: Sequence[Any]) -> dict[str, str]:
    """The global attributes of a raster output (CF conventions): what
    made it, when and with which command, and the publications."""
    import datetime
    import shlex

    from . import __version__

    refs = []
    for c in citations:
        text = c.citation + (f" doi:{c.doi}" if c.doi else "")
        if text not in refs:
            refs.append(text)
    now = datetime.datetime.now(datetime.timezone.utc)
    return {"Conventions": "CF-1.8",
            "source": f"loamara {__version__}: {what}",
            "history": f"{now:%Y-%m-%dT%H:%M:%SZ} loamara "
                       + shlex.join(sys.argv[1:]),
            "references": "\n".join(refs)}


def _write_raster(ds: Any, outputs: dict[str, Any], target: Path,
                  opts: RunOptions, attrs: Mapping[str, str] | None = None
                  ) -> None:
    from .io import output_dataset, write_outputs

    try:
        with _raster_warnings():
            out = output_dataset(ds, outputs)
            out.attrs.update(attrs or {})
            write_outputs(out, target, progress=opts.progress,
                                   scheduler=opts.scheduler)
    except RunError as exc:
        raise RunError(cli_text(str(exc))) from None


def _check_raster_paths(sources: Sequence[Path], target: Path) -> None:
    if not is_raster(target):
        raise RunError(f"cannot write a raster to {target}: use "
                       + suffix_text("raster"))
    tables = [s for s in sources if not is_raster(s)]
    if tables:
        raise RunError("rasters and tables cannot be mixed: "
                       + ", ".join(map(str, tables))
                       + f" is not a raster ({suffix_text('raster', ',')})")


class Rows(int):
    """The number of data rows a run wrote, and how many values of which
    outputs were outside what they can physically be."""

    outside: dict[str, int]

    def closing(self) -> str:
        """``; outside what they can be: 3 values of theta_33`` or ``""``."""
        found = getattr(self, "outside", {})
        if not found:
            return ""
        return "; outside what they can be: " + ", ".join(
            f"{n} value{'s' * (n != 1)} of {name}"
            for name, n in found.items())


def run_table(ptf: PTF, source: Path, target: Path, opts: RunOptions) -> int:
    """Evaluates ``ptf`` on every data row of the table ``source`` and
    writes ``target``.  Returns the number of data rows.  Raises
    :class:`RunError` for bad input (nothing is written then) and
    ``OSError`` for files that cannot be read or written."""
    return run_job(lambda header, src: EstimateJob(ptf, header, opts, src),
                   source, target, opts)


def run_job(make_job: Any, source: Path, target: Path,
            opts: RunOptions) -> int:
    """Reads the table ``source`` in chunks, computes the job on each and
    writes ``target`` atomically."""
    if opts.chunk_rows < 1:
        raise RunError("the chunk size must be at least 1 row")
    if len(opts.delimiter) != 1:
        raise RunError(f"the delimiter must be one character, not "
                       f"{opts.delimiter!r}")
    check_paths([source], target)
    out_fmt = table_format(target)
    if out_fmt is None:
        raise RunError(f"cannot write a table to {target}: use "
                       f"{suffix_text('table')} (a raster input writes "
                       f"{suffix_text('raster')})")
    fd, part = create_part_file(target)
    assert fd is not None
    try:
        with os.fdopen(fd, "wb") as fout:
            if _is_regular_file(source):
                rows = _run_table(make_job, source, fout, out_fmt, opts,
                                  str(source))
            else:
                # A pipe or FIFO can be read only once, and a table is read
                # in two passes (header, then rows; a third to locate an
                # error): keep a copy on disk first.
                with _spooled(source) as copy:
                    rows = _run_table(make_job, copy, fout, out_fmt, opts,
                                      str(source))
        install(part, target)
    except BaseException:
        remove(part)
        raise
    return rows


@contextlib.contextmanager
def _spooled(source: Path) -> Iterator[Path]:
    fd, name = tempfile.mkstemp(prefix="loamara-input-",
                                suffix=source.suffix or ".csv")
    path = Path(name)
    try:
        with os.fdopen(fd, "wb") as out, open(source, "rb") as f:
            shutil.copyfileobj(f, out, 1 << 20)
        yield path
    finally:
        path.unlink(missing_ok=True)


def _run_table(make_job: Any, source: Path, fout: Any, out_fmt: Format,
               opts: RunOptions, src: str) -> int:
    try:
        header = read_header(source, opts.delimiter)
        job = make_job(header, src)
        total = count_rows(source) if opts.progress else None
        bar = Progress(total, opts.progress)
        try:
            return _write_all(job, source, src, header, fout, out_fmt, opts,
                              bar)
        finally:
            bar.close()
    except TableError as exc:
        # Name the caller's file, also when it was read through a copy.
        raise RunError(str(exc).replace(str(source), src)) from None


def _write_all(job: Job, source: Path, src: str, header: list[str],
               fout: Any, out_fmt: Format, opts: RunOptions,
               bar: Progress) -> int:
    writer = writer_class(out_fmt)(fout, header, job.columns, job.units,
                                   opts.delimiter)
    notes = WarningPrinter()
    total = 0
    for chunk in read_chunks(source, header, opts.chunk_rows,
                             opts.delimiter):
        with warnings.catch_warnings(record=True) as records:
            warnings.simplefilter("always")
            data = {c: chunk.numbers(c, job.what[c], c in job.index_labels)
                    for c in job.labels}
            try:
                with np.errstate(all="ignore"):  # NaN and inf speak
                    outs = job.compute(data, opts)
            except RangeError as exc:
                rows = (f"data rows {chunk.first_row + 1} to "
                        f"{chunk.first_row + chunk.nrows}")
                raise RunError(f"{src}, {rows}: "
                               + cli_text(str(exc))) from None
        notes.add(records)
        writer.write(chunk, [np.broadcast_to(o, (chunk.nrows,))
                             for o in outs])
        total += chunk.nrows
        bar.update(chunk.nrows)
    writer.close(input_schema(source))
    written = Rows(total)
    written.outside = dict(getattr(job, "outside", {}))
    return written


def progress_wanted() -> bool:
    """A progress display only when standard error is a terminal."""
    try:
        return sys.stderr.isatty()
    except (AttributeError, ValueError):
        return False
