"""Rasters in and out of ``loamara run``, whatever their format: the input
files opened lazily and merged into one dataset on one grid, the dataset
of the outputs, and the write of it with dask, cancellable at any moment.
The formats themselves (NetCDF, Zarr, GeoTIFF) are modules of this package
behind the registry.

Inputs are opened lazily, as dask-backed xarray variables in chunks of about
1024 x 1024 cells (aligned on the files' own tiles), so a soil map of any
size goes through :func:`loamara.estimate` block by block:

    ds = open_inputs([Path("sand_0-5cm_mean.tif"), Path("clay_0-5cm_mean.tif"),
                      Path("soc_0-5cm_mean.tif")])
    r = loamara.estimate("saxton2006", data=ds, preset="soilgrids")
    write_outputs(output_dataset(ds, r), Path("saxton.tif"), progress=True)

Integer layers and float32 layers are read as float64, which holds each of
their values exactly, so unit conversions are made in double precision as
everywhere else in the package.  All inputs must share one grid.

Writing: the output is computed and written chunk by chunk into a hidden
temporary file (or directory) beside the target, which replaces the target
only when everything has been written; on any failure, Ctrl-C or SIGTERM
the temporary output is removed and an existing target is left as it was.
Locally, dask's threaded scheduler runs on all cores.  On a dask.distributed
cluster, the blocks are computed by the workers (which read the inputs, so
they must see the input paths, as on a cluster's shared file system) and
sent to this process, which writes them; a bounded number of blocks is in
flight at a time, so neither side holds more than a few blocks.
"""
from __future__ import annotations

import importlib
import itertools
import operator
import os
import re
import threading
from collections.abc import Callable, Mapping, Sequence
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from typing import TYPE_CHECKING, Any

import numpy as np

from .._errors import RunError
from .._progress import dask_progress
from ._grid import (DEFAULT_CHUNK, check_one_grid, chunk_side,
                    grid_mapping_names, spatial_dims)
from ._output import free_part_path, install, remove
from ._registry import extra_of, raster_format, suffixes

if TYPE_CHECKING:
    import xarray as xr

__all__ = ["RASTER_SUFFIXES", "DEFAULT_CHUNK", "RasterWriter", "is_raster",
           "need", "reason", "open_inputs", "output_dataset",
           "write_outputs"]

RASTER_SUFFIXES = suffixes("raster")

# Blocks in flight between a dask cluster and this process, at most.
_MAX_IN_FLIGHT = 16

# Dataset.encoding key under which open_inputs records the input paths.
_SOURCES = "loamara_sources"


def is_raster(path: Path) -> bool:
    """True for a path whose suffix is one of :data:`RASTER_SUFFIXES` (a
    ``.zarr`` store is a directory)."""
    return raster_format(Path(path)) is not None


def need(module: str, what: str) -> Any:
    """Imports an optional dependency, or says how to install it."""
    try:
        return importlib.import_module(module)
    except ImportError as exc:
        raise RunError(f"{what} needs the Python package "
                       f"{module.split('.')[0]} ({exc}); install them all "
                       f"with: pip install 'loamara[{extra_of('raster')}]'"
                       ) from None


# ---------------------------------------------------------------------------
# Reading


def _open_one(path: Path, side: int) -> Any:
    fmt = raster_format(path)
    if fmt is None:
        raise RunError(f"{path}: not a raster file; the raster formats are "
                       + ", ".join(RASTER_SUFFIXES))
    if not path.exists():
        raise RunError(f"{path}: no such file or directory")
    try:
        ds = fmt.get_reader()(path, side)
    except RunError:
        raise
    except Exception as exc:
        raise RunError(f"{path}: cannot be read as {fmt.label}: "
                       f"{reason(exc)}") from exc
    if not ds.data_vars:
        ds.close()
        raise RunError(f"{path}: holds no data variable (only "
                       + (", ".join(map(str, ds.coords)) or "nothing") + ")")
    return ds


def reason(exc: BaseException) -> str:
    """The message of a library's exception, its first line when long."""
    text = str(exc).strip() or type(exc).__name__
    return text.splitlines()[0] if len(text) > 400 else text

def _as_float64(var: Any) -> Any:
    """Integer and short float layers as float64 (exactly their values)."""
    kind = var.dtype.kind
    if (kind in "iu" or (kind == "f" and var.dtype.itemsize < 8)):
        attrs = dict(var.attrs)
        encoding = {k: v for k, v in var.encoding.items()
                    if k in ("grid_mapping", "source")}
        var = var.astype(np.float64)
        var.attrs = attrs
        var.encoding = encoding
    return var


def open_inputs(paths: Sequence[Path], chunks: int | None = None
                ) -> xr.Dataset:
    """Opens raster files lazily as one xarray Dataset backed by dask.

    ``paths``: NetCDF (``.nc``, ``.nc4``, ``.netcdf``, ``.cdf``), Zarr
    stores (``.zarr`` directories) and GeoTIFFs (``.tif``, ``.tiff``), in any
    mix, all on one grid (the same x and y coordinates and CRS).  The
    variables of NetCDF and Zarr keep their names; a GeoTIFF gives one
    variable named after the file (``clay_0-5cm_mean.tif`` ->
    ``clay_0-5cm_mean``), without the ``band`` dimension when it has a
    single band.  Attributes (``units``), coordinates and the CRS (the
    ``spatial_ref`` coordinate) are kept; fill values and nodata are NaN,
    scale and offset are applied; integer and float32 values become float64
    (exactly).

    ``chunks``: cells per side of a dask chunk along y and x (default
    :data:`DEFAULT_CHUNK`), rounded to whole tiles of the file.

    Raises :class:`RunError` naming the file and the reason for a missing,
    unreadable or variable-free file, a variable found in two files, and
    files on different grids.
    """
    need("xarray", "reading rasters")
    need("dask.array", "reading rasters")
    need("rioxarray", "reading rasters")  # the .rio accessor: grids, CRS
    import xarray as xr

    side = chunk_side(chunks)
    given: Any = paths
    if isinstance(given, (str, os.PathLike)):  # one path, not its letters
        given = [given]
    paths = [Path(p) for p in given]
    if not paths:
        raise RunError("no input raster given")
    parts: list[tuple[Path, Any]] = []
    try:
        for path in paths:
            # Absolute paths: the workers of a cluster have their own cwd.
            parts.append((path, _open_one(path.absolute(), side)))
        check_one_grid(parts)
        # Variables on one grid: nothing to align; differing attributes of
        # the grid-mapping coordinate (the same CRS written by two
        # libraries) are resolved by taking the first file's.
        ds = xr.merge([p for _, p in parts], join="exact",
                      compat="override", combine_attrs="drop_conflicts")
    except BaseException:
        for _, part in parts:
            part.close()
        raise
    ds = ds.assign({name: _as_float64(ds[name]) for name in ds.data_vars})
    ds.encoding[_SOURCES] = [str(p) for p in paths]
    dataset: xr.Dataset = ds
    return dataset


# ---------------------------------------------------------------------------
# The output dataset


def output_dataset(inputs: xr.Dataset,
                   outputs: Mapping[str, xr.DataArray]) -> xr.Dataset:
    """A Dataset of ``outputs`` (name -> DataArray, e.g. the
    :class:`loamara.Result` of ``estimate`` on ``inputs``) on the grid of
    ``inputs``: the output variables with their attributes (``units``,
    ``long_name``) and no encoding of the inputs, the coordinates of the
    inputs along the outputs' dimensions and the inputs' CRS, none of the
    input variables.  Raises :class:`RunError` for an output that is not on
    the inputs' grid."""
    import xarray as xr

    if not outputs:
        raise RunError("no output to write")
    variables: dict[str, Any] = {}
    dims: set[Any] = set()
    for name, arr in outputs.items():
        if not isinstance(arr, xr.DataArray):
            raise RunError(f"output {name!r} is a {type(arr).__name__}, not "
                           "an xarray DataArray on the inputs' grid")
        for dim in arr.dims:
            if dim not in inputs.sizes or arr.sizes[dim] != inputs.sizes[dim]:
                raise RunError(
                    f"output {name!r} has dimension {dim!r} of "
                    f"{arr.sizes[dim]} cells, which is not a dimension of "
                    "the inputs' grid (" + ", ".join(
                        f"{d}: {n}" for d, n in inputs.sizes.items()) + ")")
            if dim in arr.indexes and dim in inputs.indexes and not \
                    arr.indexes[dim].equals(inputs.indexes[dim]):
                raise RunError(f"output {name!r} has other {dim} "
                               "coordinates than the inputs")
        var = arr.variable.copy(deep=False)
        var.encoding = {}
        variables[str(name)] = var
        dims.update(arr.dims)
    gm_names = grid_mapping_names(inputs) & set(inputs.coords)
    coords = {k: v.variable for k, v in inputs.coords.items()
              if set(v.dims) <= dims}
    ds = xr.Dataset(variables, coords=coords)
    if spatial_dims(ds) is not None:
        if gm_names:
            gm = "spatial_ref" if "spatial_ref" in gm_names else sorted(
                gm_names)[0]
            for name in variables:
                ds[name].encoding["grid_mapping"] = gm
            for extra in gm_names - {gm}:
                ds = ds.drop_vars(extra)
        else:
            try:
                crs = inputs.rio.crs
            except Exception:
                crs = None
            if crs is not None:
                ds = ds.rio.write_crs(crs)
    sources = inputs.encoding.get(_SOURCES)
    if sources:
        ds.encoding[_SOURCES] = list(sources)
    return ds


# ---------------------------------------------------------------------------
# Writing


class RasterWriter:
    """How a raster format is written (the ``writer`` of its registry
    entry): what an existing target may be, the layout the format needs,
    and the write itself, called on a dataset of dask arrays (dask's
    scheduler is set up by the caller)."""

    def check_existing(self, target: Path) -> None:
        """RunError when the existing ``target`` is not one this format
        replaces (by default: anything but a directory)."""
        if target.is_dir():
            raise RunError(f"cannot write {target}: it is a directory")

    def prepare(self, ds: Any, target: Path) -> Any:
        """The dataset in the layout the format needs (RunError when it
        cannot hold it); by default as it is."""
        return ds

    def write(self, ds: Any, path: Path) -> None:
        raise NotImplementedError


def _sources(ds: Any) -> list[Path]:
    paths = [Path(p) for p in ds.encoding.get(_SOURCES, ())]
    for var in ds.variables.values():
        src = var.encoding.get("source")
        if isinstance(src, str):
            paths.append(Path(src))
    return paths


def _check_target(ds: Any, target: Path, writer: RasterWriter) -> None:
    """Refuses, before anything is computed, a target that cannot be
    written, would replace an input, or is not an output of this kind."""
    directory = target.absolute().parent
    if not directory.is_dir():
        raise RunError(f"cannot write {target}: directory {directory} does "
                       "not exist")
    for src in _sources(ds):
        try:
            same = target.exists() and src.exists() and \
                os.path.samefile(src, target)
        except OSError:
            same = False
        if same:
            raise RunError(f"the output {target} is an input: choose another "
                           "output, the inputs are never replaced")
    if not target.exists() and not target.is_symlink():
        return
    writer.check_existing(target)


def _irregular(chunks: tuple[int, ...]) -> bool:
    """True unless the chunks are all of one length (the last may be
    shorter), as Zarr stores them."""
    first = chunks[0]
    return not (all(c == first for c in chunks[:-1]) and chunks[-1] <= first)


def _prepared(ds: Any, writer: RasterWriter, target: Path) -> Any:
    """The dataset as it is written: data variables as dask arrays in one
    chunk layout (regular, as Zarr stores them; the format's writer may
    ask for more, whole tiles for GeoTIFF), without encodings left over
    from other files."""
    import xarray as xr

    if not isinstance(ds, xr.Dataset) or not ds.data_vars:
        raise RunError(f"nothing to write to {target}: no data variable")
    ds = ds.copy()
    ds.encoding = {k: v for k, v in ds.encoding.items() if k != _SOURCES}
    for name in ds.data_vars:
        enc = {k: v for k, v in ds[name].encoding.items()
               if k in ("grid_mapping", "coordinates")}
        ds[name].encoding = enc
        if ds[name].chunks is None:
            ds[name] = ds[name].chunk(DEFAULT_CHUNK)
            ds[name].encoding = enc
    ds = ds.unify_chunks()
    ds = writer.prepare(ds, target)
    fix = {dim: max(chunks) for dim, chunks in ds.chunks.items()
           if _irregular(chunks)}
    if fix:
        ds = ds.chunk(fix)
    return ds


# ----- Schedulers

_LOCAL = {"threads": "threads", "threaded": "threads",
          "synchronous": "synchronous", "sync": "synchronous",
          "single-threaded": "synchronous"}
_ADDRESS = re.compile(r"^([a-z][a-z0-9+.-]*://)?[^\s/:]+(:\d+)$|"
                      r"^[a-z][a-z0-9+.-]*://\S+$", re.IGNORECASE)


def _connect(address: str) -> Any:
    distributed = need("distributed", "a dask cluster")
    if address.startswith("inproc://") and address.split("/")[-2:-1] != [
            str(os.getpid())]:
        raise RunError(f"cannot reach the dask cluster at {address}: an "
                       "inproc:// address belongs to the process that "
                       "started the cluster; give its tcp:// address")
    try:
        return distributed.Client(address, set_as_default=False,
                                  timeout=30)
    except Exception as exc:
        raise RunError(f"cannot reach the dask cluster at {address}: "
                       f"{reason(exc)}") from None


class _Cluster:
    """Blocks of the outputs computed on a dask.distributed cluster and
    handed to this process: local dask arrays of the same chunks whose
    tasks fetch their block from the cluster, all outputs of a block in one
    request, so the local writers stay the same for every scheduler."""

    def __init__(self, client: Any) -> None:
        self.client = client
        self.pending: set[Any] = set()
        self._lock = threading.Lock()

    def threads(self) -> int:
        total = int(sum(self.client.nthreads().values()))
        return max(2, min(total + 1, _MAX_IN_FLIGHT))

    def cancel(self) -> None:
        with self._lock:
            pending = list(self.pending)
        if pending:
            try:
                self.client.cancel(pending)
            except Exception:
                pass

    def remote(self, ds: Any) -> Any:
        da = need("dask.array", "a dask cluster")
        cull = need("dask.optimization", "a dask cluster").cull
        tokenize = need("dask.base", "a dask cluster").tokenize

        names = list(ds.data_vars)
        arrays = [ds[n].data for n in names]
        # The task graph of all outputs, built once (not optimised: dask's
        # fusion of a whole map's graph takes longer than the few tasks it
        # saves each block); each block takes the part of it that it needs.
        graph: dict[Any, Any] = {}
        for arr in arrays:
            graph.update(arr.__dask_graph__())
        chunks = arrays[0].chunks
        token = tokenize(*[a.name for a in arrays])
        fetch = f"loamara-fetch-{token}"

        def block(*index: int) -> tuple[np.ndarray, ...]:
            keys = [(a.name, *index) for a in arrays]
            sub, _ = cull(graph, keys)
            futures = self.client.get(sub, keys, sync=False)
            with self._lock:
                self.pending.update(futures)
            try:
                return tuple(self.client.gather(futures))
            finally:
                with self._lock:
                    self.pending.difference_update(futures)

        layer: dict[Any, Any] = {}
        indexes = list(itertools.product(*(range(len(c)) for c in chunks)))
        for index in indexes:
            layer[(fetch, *index)] = (block, *index)
        out = ds.copy()
        for k, (name, arr) in enumerate(zip(names, arrays)):
            local = f"loamara-block-{k}-{token}"
            dsk = dict(layer)
            for index in indexes:
                dsk[(local, *index)] = (operator.getitem, (fetch, *index), k)
            out[name] = (ds[name].dims, da.Array(
                dsk, local, chunks=chunks, dtype=arr.dtype),
                ds[name].attrs)
            out[name].encoding = dict(ds[name].encoding)
        return out


def write_outputs(ds: xr.Dataset, target: Path, *, progress: bool = False,
                  scheduler: str | None = None) -> None:
    """Computes the variables of ``ds`` and writes them to ``target``, in
    the format of its suffix:

    * NetCDF (``.nc``, ``.nc4``, ``.netcdf``, ``.cdf``): NetCDF-4, every
      variable and coordinate with its attributes, the CRS as a CF grid
      mapping, NaN as fill value, variables stored in the dask chunks,
      zlib-compressed;
    * Zarr (``.zarr``, a directory): the same content in chunks of the
      dask chunks, Zarr's default compression, consolidated metadata;
    * GeoTIFF (``.tif``, ``.tiff``): one band per variable (2-D maps on a
      regular grid), band descriptions the variable names, each band's
      attributes in its metadata (``units`` also as the band's unit), NaN as
      nodata, tiled, ZSTD-compressed, BigTIFF when needed.

    Everything is computed chunk by chunk (memory is a few chunks per
    thread, whatever the size of the raster) into a temporary file beside
    ``target`` that replaces it only when complete.  On any failure,
    KeyboardInterrupt or SIGTERM nothing is left behind and an existing
    ``target`` stays as it was; errors are raised as :class:`RunError`
    (naming the target and the cause), interruptions as they are.

    ``progress``: a progress bar on standard error.  ``scheduler``: None
    (or ``"threads"``) for dask's threaded scheduler on all cores,
    ``"synchronous"`` for one thread, or the address of a dask.distributed
    scheduler (``"tcp://host:8786"``) to compute on that cluster.
    """
    target = Path(target)
    fmt = raster_format(target)
    if fmt is None:
        raise RunError(f"cannot write {target}: not a raster format; the "
                       "raster suffixes are " + ", ".join(RASTER_SUFFIXES))
    need("xarray", "writing rasters")
    need("dask.array", "writing rasters")
    need("rioxarray", "writing rasters")
    if scheduler is not None and not isinstance(scheduler, str):
        raise RunError(f"scheduler must be an address or a name, not "
                       f"{scheduler!r}")
    name = (scheduler or "threads").strip()
    local = _LOCAL.get(name.lower())
    if local is None and not _ADDRESS.match(name):
        raise RunError(f"unknown scheduler {scheduler!r}: give the address "
                       "of a dask.distributed scheduler (tcp://host:8786), "
                       "'threads' or 'synchronous'")
    writer: RasterWriter = fmt.get_writer()
    _check_target(ds, target, writer)
    data = _prepared(ds, writer, target)
    cluster = None if local is not None else _Cluster(_connect(name))
    try:
        _write(data, target, writer, progress, local, cluster)
    finally:
        if cluster is not None:
            cluster.client.close()


class _Abandoned(Exception):
    """Raised before each task of a write that has been abandoned."""


def _write(data: Any, target: Path, writer: RasterWriter, progress: bool,
           local: str | None, cluster: _Cluster | None) -> None:
    import dask
    from dask.callbacks import Callback
    from dask.system import CPU_COUNT

    if cluster is not None:
        data = cluster.remote(data)
        threads = cluster.threads()
    else:
        threads = CPU_COUNT if local == "threads" else 1
    tmp = free_part_path(target)
    pool = ThreadPoolExecutor(max_workers=threads,
                              thread_name_prefix="loamara-write")
    stop = threading.Event()

    def abandon(key: Any, dsk: Any, state: Any) -> None:
        if stop.is_set():
            raise _Abandoned()

    refuse = Callback(pretask=abandon)  # type: ignore[no-untyped-call]

    def write() -> None:
        with dask.config.set(scheduler="threads", pool=pool), refuse, \
                dask_progress(progress, f"writing {target.name}"):
            writer.write(data, tmp)

    # The writers run on a thread of their own, and this one waits: a
    # signal (Ctrl-C, SIGTERM) interrupts the waiting, never a write in
    # the middle (Zarr's writes, for one, go on in the background when the
    # thread that made them is interrupted).  Then no block is started any
    # more, those running finish, and only then the output goes.
    # (Waited for through an Event: Thread.join interrupted by a signal
    # may report a running thread as ended.)
    outcome: list[BaseException] = []
    done = threading.Event()
    threading.Thread(target=_capture, args=(write, outcome, done),
                     name="loamara-writer", daemon=True).start()
    try:
        while not done.wait(0.2):
            pass
        if outcome:
            raise outcome[0]
    except BaseException as exc:
        stop.set()
        if cluster is not None:
            cluster.cancel()
        _wait_regardless(done)
        pool.shutdown(wait=True, cancel_futures=True)
        remove(tmp)
        if isinstance(exc, Exception) and not isinstance(exc, RunError):
            raise RunError(f"{target} not written: {_describe(exc)}") from exc
        raise
    pool.shutdown(wait=True)
    try:
        install(tmp, target)
    except BaseException as exc:
        remove(tmp)
        if isinstance(exc, OSError):
            raise RunError(f"{target} not written: cannot put the finished "
                           f"output in its place: {exc}") from exc
        raise


def _capture(fn: Callable[[], None], outcome: list[BaseException],
             done: threading.Event) -> None:
    try:
        fn()
    except BaseException as exc:  # noqa: BLE001 - raised by the waiter
        outcome.append(exc)
    finally:
        done.set()


def _wait_regardless(done: threading.Event) -> None:
    """Waits for ``done``, through further signals too (a second Ctrl-C
    must not let writes go on behind the removal of the output)."""
    while not done.is_set():
        try:
            done.wait(0.2)
        except BaseException:  # noqa: BLE001 - waited for all the same
            continue


def _describe(exc: BaseException) -> str:
    name = type(exc).__name__
    if name == "RangeError":  # every problem of the data, as worded
        return str(exc)
    text = reason(exc)
    return text if name in ("RangeError", "RunError") else f"{name}: {text}"

