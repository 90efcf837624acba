"""Raster files in and out of ``loamara run``: NetCDF, Zarr and GeoTIFF.

Inputs are opened lazily, as dask-backed xarray variables in chunks of about
1024 x 1024 cells (aligned on the files' own tiles), so a soil map of any
size goes through :func:`loamara.estimate` block by block:

    ds = open_inputs([Path("sand_0-5cm_mean.tif"), Path("clay_0-5cm_mean.tif"),
                      Path("soc_0-5cm_mean.tif")])
    r = loamara.estimate("saxton2006", data=ds, preset="soilgrids")
    write_outputs(output_dataset(ds, r), Path("saxton.tif"), progress=True)

Reading: NetCDF through xarray (CF decoding: scale, offset and fill values
applied, grid-mapping variables as coordinates), Zarr through
``xarray.open_zarr``, GeoTIFF through rioxarray with nodata as NaN and the
band's scale and offset applied (one variable per file, named after the
file; a single band loses its ``band`` dimension).  Integer layers and
float32 layers are read as float64, which holds each of their values
exactly, so unit conversions are made in double precision as everywhere
else in the package.  All inputs must share one grid.

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
import warnings
from collections.abc import Callable, Mapping, Sequence
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from typing import TYPE_CHECKING, Any

import numpy as np

from ._errors import RunError
from ._formats import FORMATS, format_of, suffixes
from ._output import free_part_path, install, remove
from ._progress import dask_progress

if TYPE_CHECKING:
    import xarray as xr

__all__ = ["RASTER_SUFFIXES", "DEFAULT_CHUNK", "is_raster", "open_inputs",
           "output_dataset", "write_outputs"]

RASTER_SUFFIXES = suffixes("raster")
_LABELS = {f.name: f.label for f in FORMATS.values()}

# Cells per side of a chunk: 1024 x 1024 float64 values are 8 MiB, large
# enough that a task's overhead is small against its work and small enough
# that a few operands and outputs per thread stay far below a machine's
# memory.
DEFAULT_CHUNK = 1024

# Blocks in flight between a dask cluster and this process, at most.
_MAX_IN_FLIGHT = 16

# Dataset.encoding key under which open_inputs records the input paths.
_SOURCES = "loamara_sources"

# GeoTIFF outputs: ZSTD at its fastest level, which every GDAL since 2.3
# reads (DEFLATE costs three times as much here, and the floating-point
# predictor doubles the time for a tenth less size on float64 outputs).
# Bands are stored one after the other, so that each tile of each band is
# written once, whole.
_GEOTIFF_CREATION = {"compress": "zstd", "zstd_level": 1,
                     "interleave": "band", "bigtiff": "if_safer"}

# GDAL's block cache (MiB) while a GeoTIFF is written: its default, 5 % of
# the machine's memory, fills with written tiles before any is flushed, so
# that memory would grow with the raster up to that size.
_GDAL_CACHE_MB = 64


def _kind(path: Path) -> str | None:
    fmt = format_of(path)
    return fmt.name if fmt is not None and fmt.kind == "raster" else None


def is_raster(path: Path) -> bool:
    """True for a path whose suffix is one of :data:`RASTER_SUFFIXES` (a
    ``.zarr`` store is a directory)."""
    return _kind(Path(path)) is not None


def _need(module: str, what: str) -> Any:
    """Imports an optional dependency, or says how to install it."""
    try:
        return importlib.import_module(module)
    except ImportError as exc:
        raise RunError(f"{what} needs the Python package "
                       f"{module.split('.')[0]} ({exc}); install them all "
                       f"with: pip install 'loamara[{FORMATS['netcdf'].extra}]'"
                       ) from None


# ---------------------------------------------------------------------------
# Reading


def _side(chunks: int | None) -> int:
    if chunks is None:
        return DEFAULT_CHUNK
    try:
        side = operator.index(chunks)
    except TypeError:
        raise RunError(f"the chunk size must be a whole number of cells, "
                       f"not {chunks!r}") from None
    if side < 1:
        raise RunError(f"the chunk size must be at least 1 cell, not {side}")
    return side


def _aligned(side: int, tile: int | None, size: int) -> int:
    """Chunk length along one dimension: ``side`` rounded down to whole
    stored chunks (tiles) of the file, or one stored chunk when that is
    larger (up to four times ``side``: beyond, memory matters more than
    reading a stored chunk more than once); never more than the
    dimension."""
    if tile and tile > 1:
        if tile >= side:
            side = tile if tile <= 4 * side else side
        else:
            side = side // tile * tile
    return max(1, min(side, size))


# Spatial dimension names rioxarray does not recognise by themselves (it
# knows x/y, longitude/latitude and coordinates with CF axis attributes).
_YX_NAMES = (("lat", "lon"), ("rlat", "rlon"), ("northing", "easting"))


def _spatial_dims(ds: Any) -> tuple[str, str] | None:
    """The (y, x) dimensions of a dataset, or None."""
    try:
        return ds.rio.y_dim, ds.rio.x_dim
    except Exception:  # rioxarray's MissingSpatialDimensionError and kin
        pass
    for y, x in _YX_NAMES:
        if y in ds.dims and x in ds.dims:
            return y, x
    return None


def _with_rio_dims(ds: Any) -> Any:
    """``ds`` with its spatial dimensions made known to rioxarray."""
    dims = _spatial_dims(ds)
    if dims is None:
        return ds
    return ds.rio.set_spatial_dims(x_dim=dims[1], y_dim=dims[0])


def _chunk_plan(ds: Any, side: int) -> dict[str, int | str]:
    """Dask chunks for a lazily opened dataset: ``side`` cells along y and
    x, whole file chunks along other dimensions (one layer when the file
    does not say), aligned on the chunks the file is stored in."""
    spatial = _spatial_dims(ds)
    preferred: dict[str, int] = {}
    for var in ds.data_vars.values():
        for dim, size in (var.encoding.get("preferred_chunks") or {}).items():
            preferred[dim] = max(preferred.get(dim, 0), int(size))
    plan: dict[str, int | str] = {}
    for dim, size in ds.sizes.items():
        if spatial is None:
            plan[dim] = "auto"
        elif dim in spatial:
            plan[dim] = _aligned(side, preferred.get(dim), size)
        else:
            plan[dim] = max(1, min(preferred.get(dim, 1), size))
    return plan


# Attributes that make a scalar variable a CRS (a CF grid mapping) rather
# than data.
_CRS_ATTRS = ("grid_mapping_name", "crs_wkt", "spatial_ref")


def _crs_as_coords(ds: Any) -> Any:
    """A CRS variable that no data variable names as its grid mapping is
    still a coordinate, not data, and when it is the only one, the grid
    mapping of every data variable that names none."""
    crs = [k for k, v in ds.variables.items()
           if v.ndim == 0 and any(a in v.attrs for a in _CRS_ATTRS)]
    ds = ds.set_coords([k for k in crs if k in ds.data_vars])
    if len(crs) == 1:
        for var in ds.data_vars.values():
            if "grid_mapping" not in var.encoding and \
                    "grid_mapping" not in var.attrs:
                var.encoding["grid_mapping"] = crs[0]
    return ds


def _open_netcdf(path: Path, side: int) -> Any:
    import xarray as xr

    kw: dict[str, Any] = {"decode_coords": "all"}
    with xr.open_dataset(path, **kw) as probe:
        plan = _chunk_plan(_crs_as_coords(probe), side)
    return _crs_as_coords(xr.open_dataset(path, chunks=plan, **kw))


def _open_zarr(path: Path, side: int) -> Any:
    import xarray as xr

    if not path.is_dir():
        raise RunError(f"{path}: not a Zarr store (a Zarr store is a "
                       "directory)")
    kw: dict[str, Any] = {"decode_coords": "all"}
    with xr.open_zarr(path, chunks=None, **kw) as probe:
        plan = _chunk_plan(_crs_as_coords(probe), side)
    return _crs_as_coords(xr.open_zarr(path, chunks=plan, **kw))


def _open_geotiff(path: Path, side: int) -> Any:
    rasterio = _need("rasterio", "reading GeoTIFF")
    rioxarray = _need("rioxarray", "reading GeoTIFF")
    with rasterio.open(path) as src:
        tile_y, tile_x = src.block_shapes[0]
        height, width = src.height, src.width
    arr = rioxarray.open_rasterio(
        path, mask_and_scale=False, lock=False,
        chunks={"band": 1, "y": _aligned(side, tile_y, height),
                "x": _aligned(side, tile_x, width)})
    if not hasattr(arr, "dims"):
        raise RunError(f"{path}: holds several subdatasets, not one raster")
    arr = _decoded(arr)
    if arr.sizes.get("band") == 1:
        arr = arr.squeeze("band", drop=True)
    return arr.to_dataset(name=path.stem)


def _band_values(value: Any, arr: Any) -> Any:
    """A per-band scale or offset (a tuple, one per band) as a DataArray
    along ``band``; a single value as a double."""
    if isinstance(value, (tuple, list)):
        if len(set(value)) == 1:
            return np.float64(value[0])
        import xarray as xr
        return xr.DataArray(np.asarray(value, dtype=np.float64), dims="band",
                            coords={"band": arr["band"]})
    return np.float64(value)


def _decoded(arr: Any) -> Any:
    """A GeoTIFF band as read (stored values), decoded in double precision:
    nodata as NaN, then stored value x scale + offset.  (rioxarray's own
    decoding computes in float32: 213 x 0.1 would give 21.30000114.)"""
    attrs = dict(arr.attrs)
    encoding = {k: v for k, v in arr.encoding.items()
                if k in ("grid_mapping", "source", "preferred_chunks")}
    fill = attrs.pop("_FillValue", None)
    scale = attrs.pop("scale_factor", attrs.pop("scales", 1.0))
    offset = attrs.pop("add_offset", attrs.pop("offsets", 0.0))
    out = arr.astype(np.float64)
    if fill is not None and fill == fill:
        out = out.where(arr != fill)
    scale = _band_values(scale, arr)
    offset = _band_values(offset, arr)
    if np.any(scale != 1.0):
        out = out * scale
    if np.any(offset != 0.0):
        out = out + offset
    out.attrs = attrs
    out.encoding = encoding
    return out


_OPENERS: dict[str, Callable[[Path, int], Any]] = {
    "netcdf": _open_netcdf, "zarr": _open_zarr, "geotiff": _open_geotiff}


def _open_one(path: Path, side: int) -> Any:
    kind = _kind(path)
    if kind is None:
        raise RunError(f"{path}: not a raster file; the raster formats are "
                       + ", ".join(RASTER_SUFFIXES))
    if not path.exists():
        raise RunError(f"{path}: no such file or directory")
    try:
        ds = _OPENERS[kind](path, side)
    except RunError:
        raise
    except Exception as exc:
        raise RunError(f"{path}: cannot be read as {_LABELS[kind]}: "
                       f"{_reason(exc)}") from exc
    if not ds.data_vars:
        ds.close()
        raise RunError(f"{path}: holds no data variable (only "
                       + (", ".join(map(str, ds.coords)) or "nothing") + ")")
    return ds


def _reason(exc: BaseException) -> str:
    text = str(exc).strip() or type(exc).__name__
    return text.splitlines()[0] if len(text) > 400 else text


def _grid(ds: Any) -> tuple[Any, ...]:
    """What makes a grid: the spatial dimensions, their coordinates and the
    coordinate reference system."""
    dims = _spatial_dims(ds)
    if dims is None:
        return (None, tuple(sorted(ds.sizes.items())))
    coords = tuple(np.asarray(ds[d].values) if d in ds.coords else
                   ds.sizes[d] for d in dims)
    try:
        crs = ds.rio.crs
    except Exception:
        crs = None
    return dims, coords, crs


def _same_grid(a: tuple[Any, ...], b: tuple[Any, ...]) -> str | None:
    """None when grid ``b`` is grid ``a``, else how ``b`` differs."""
    if a[0] != b[0]:
        return (f"dimensions {b[0] or 'unknown'}, not {a[0] or 'unknown'}")
    if a[0] is None:
        return None if a[1] == b[1] else "its dimensions"
    for dim, ca, cb in zip(a[0], a[1], b[1]):
        if np.shape(ca) != np.shape(cb):
            return f"{dim}: {np.size(cb)} cells, not {np.size(ca)}"
        if not np.array_equal(ca, cb):
            return f"its {dim} coordinates"
    if a[2] != b[2]:
        return f"its CRS: {b[2] or 'none'}, not {a[2] or 'none'}"
    return None


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
    _need("xarray", "reading rasters")
    _need("dask.array", "reading rasters")
    _need("rioxarray", "reading rasters")  # the .rio accessor: grids, CRS
    import xarray as xr

    side = _side(chunks)
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
        _check_parts(parts)
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


def _check_parts(parts: list[tuple[Path, Any]]) -> None:
    seen: dict[str, Path] = {}
    for path, ds in parts:
        for name in ds.data_vars:
            if name in seen:
                raise RunError(f"variable {name!r} is in both {seen[name]} "
                               f"and {path}; give each variable once")
            seen[str(name)] = path
    first_path, first = parts[0]
    grid = _grid(first)
    differ = []
    for path, ds in parts[1:]:
        what = _same_grid(grid, _grid(ds))
        if what is not None:
            differ.append(f"{path} differs from {first_path} in {what}")
    if differ:
        raise RunError("the inputs are not on one grid: " + "; ".join(differ)
                       + "; resample them to one grid first (e.g. with "
                       "gdalwarp)")


# ---------------------------------------------------------------------------
# The output dataset


def _grid_mapping_names(ds: Any) -> set[str]:
    names = set()
    for var in ds.variables.values():
        for src in (var.encoding, var.attrs):
            gm = src.get("grid_mapping")
            if isinstance(gm, str):
                names.add(gm)
    return names


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
    gm_names = _grid_mapping_names(inputs) & set(inputs.coords)
    coords = {k: v.variable for k, v in inputs.coords.items()
              if set(v.dims) <= dims}
    ds = xr.Dataset(variables, coords=coords)
    if _spatial_dims(ds) is not None:
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


def _sources(ds: Any) -> list[Path]:
    paths = [Path(p) for p in ds.encoding.get(_SOURCES, ())]
    for var in ds.variables.values():
        src = var.encoding.get("source")
        if isinstance(src, str):
            paths.append(Path(src))
    return paths


def _is_zarr_store(path: Path) -> bool:
    return any((path / name).exists() for name in
               ("zarr.json", ".zgroup", ".zarray", ".zattrs"))


def _check_target(ds: Any, target: Path, kind: str) -> None:
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
    if kind == "zarr":
        if not target.is_dir():
            raise RunError(f"cannot write {target}: it exists and is not a "
                           "directory (a Zarr store)")
        if not _is_zarr_store(target):
            raise RunError(f"cannot write {target}: it is a directory that "
                           "is not a Zarr store; it is left alone, choose "
                           "another name or remove it")
    elif target.is_dir():
        raise RunError(f"cannot write {target}: it is a directory")


def _irregular(chunks: tuple[int, ...]) -> bool:
    """True unless the chunks are all of one length (the last may be
    shorter), as Zarr stores them."""
    first = chunks[0]
    return not (all(c == first for c in chunks[:-1]) and chunks[-1] <= first)


def _prepared(ds: Any, kind: str, target: Path) -> Any:
    """The dataset as it is written: data variables as dask arrays in one
    chunk layout (regular for Zarr, on whole tiles for GeoTIFF), without
    encodings left over from other files."""
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
    if kind == "geotiff":
        ds, _ = _tile(_geotiff_layout(ds, target))
    fix = {dim: max(chunks) for dim, chunks in ds.chunks.items()
           if _irregular(chunks)}
    if fix:
        ds = ds.chunk(fix)
    return ds


# ----- GeoTIFF

def _geotiff_layout(ds: Any, target: Path) -> Any:
    """Checks that every variable is a 2-D map on a regular grid and puts
    its dimensions in (y, x) order, north up."""
    dims = _spatial_dims(ds)
    if dims is None:
        raise RunError(f"cannot write {target} as GeoTIFF: no x/y dimensions "
                       "in " + ", ".join(map(str, ds.dims)))
    for name in ds.data_vars:
        if set(ds[name].dims) != set(dims):
            raise RunError(
                f"cannot write {target} as GeoTIFF: variable {name!r} has "
                f"dimensions {ds[name].dims}; a GeoTIFF band is a 2-D "
                f"{dims} map; write NetCDF (.nc) or Zarr (.zarr) instead")
    for dim in dims:
        if dim in ds.indexes and ds.sizes[dim] > 2:
            step = np.diff(np.asarray(ds[dim].values, dtype=np.float64))
            if not np.allclose(step, step[0], rtol=1e-6, atol=0):
                raise RunError(f"cannot write {target} as GeoTIFF: the {dim} "
                               "coordinates are not evenly spaced; write "
                               "NetCDF (.nc) or Zarr (.zarr) instead")
    ds = ds.transpose(*dims, ...)
    y = dims[0]
    if (y in ds.indexes and ds.sizes[y] > 1
            and ds.indexes[y].is_monotonic_increasing):
        # South up: stored north up, as GeoTIFF readers expect, with the
        # transform computed again from the coordinates.
        ds = ds.isel({y: slice(None, None, -1)})
        for name in _grid_mapping_names(ds) & set(ds.coords):
            attrs = dict(ds[name].attrs)
            attrs.pop("GeoTransform", None)
            ds[name].attrs = attrs
    return ds


def _tile(ds: Any) -> tuple[Any, int]:
    """The GeoTIFF tile size (512 or 256) and the dataset in chunks that
    start on tile boundaries, so that every tile is written exactly once."""
    for tile in (512, 256):
        if all(all(c % tile == 0 for c in chunks[:-1])
               for chunks in ds.chunks.values()):
            return ds, tile
    plan = {dim: max(256, round(chunks[0] / 256) * 256)
            for dim, chunks in ds.chunks.items()}
    return ds.chunk(plan), 256


class _GeoTiff:
    """An open GeoTIFF that dask writes into block by block (one band per
    variable), from any thread, one write at a time."""

    def __init__(self, dst: Any) -> None:
        self._dst = dst
        self._window = _need("rasterio.windows", "writing GeoTIFF").Window
        self._lock = threading.Lock()
        self._open = True

    def band(self, index: int) -> _Band:
        return _Band(self, index)

    def write(self, index: int, key: tuple[slice, slice], block: Any) -> None:
        rows, cols = key
        window = self._window(cols.start, rows.start, cols.stop - cols.start,
                        rows.stop - rows.start)
        with self._lock:
            if not self._open:
                raise RuntimeError("the GeoTIFF being written was closed")
            self._dst.write(np.asarray(block), index, window=window)

    def close(self) -> None:
        with self._lock:
            if self._open:
                self._open = False
                self._dst.close()


class _Band:
    def __init__(self, tif: _GeoTiff, index: int) -> None:
        self._tif = tif
        self._index = index

    def __setitem__(self, key: tuple[slice, slice], block: Any) -> None:
        self._tif.write(self._index, key, block)


def _tag_text(value: Any) -> str | None:
    if isinstance(value, (str, int, float, np.number)):
        return str(value)
    return None


def _write_geotiff(ds: Any, path: Path) -> None:
    rasterio = _need("rasterio", "writing GeoTIFF")
    ds, tile = _tile(ds)
    names = list(ds.data_vars)
    height, width = (ds.sizes[d] for d in _spatial_dims(ds) or ())
    dtype = np.result_type(*(ds[n].dtype for n in names))
    if dtype.kind not in "fiu" or dtype.itemsize > 8:
        raise RunError(f"cannot write {dtype} values to GeoTIFF")
    geo = _with_rio_dims(ds).rio
    profile = dict(driver="GTiff", width=width, height=height,
                   count=len(names), dtype=dtype.name, crs=geo.crs,
                   transform=geo.transform(), tiled=True,
                   blockxsize=tile, blockysize=tile,
                   nodata=np.nan if dtype.kind == "f" else None,
                   **_GEOTIFF_CREATION)
    with rasterio.Env(GDAL_CACHEMAX=_GDAL_CACHE_MB):
        _store_geotiff(rasterio.open(path, "w", **profile), ds, names, dtype)


def _store_geotiff(dst: Any, ds: Any, names: list[Any], dtype: Any) -> None:
    """Writes the attributes, then the blocks of every band, and closes
    ``dst`` (also on failure)."""
    da = _need("dask.array", "writing GeoTIFF")
    tif = _GeoTiff(dst)
    try:
        tags = {k: t for k, v in ds.attrs.items()
                if (t := _tag_text(v)) is not None}
        if tags:
            dst.update_tags(**tags)
        for index, name in enumerate(names, start=1):
            attrs = ds[name].attrs
            dst.set_band_description(index, str(name))
            unit = attrs.get("units")
            if isinstance(unit, str) and unit:
                dst.set_band_unit(index, unit)
            band_tags = {k: t for k, v in attrs.items()
                         if (t := _tag_text(v)) is not None}
            if band_tags:
                dst.update_tags(index, **band_tags)
        da.store([ds[n].data.astype(dtype, copy=False) for n in names],
                 [tif.band(i) for i in range(1, len(names) + 1)],
                 lock=False)
    finally:
        tif.close()


# ----- NetCDF and Zarr

def _write_netcdf(ds: Any, path: Path) -> None:
    """NetCDF-4, each variable stored in the chunks of the dask blocks
    (so that each stored chunk is written once, whole) and compressed with
    zlib at level 1 after byte shuffling: the fastest level, most of the
    gain."""
    _need("netCDF4", "writing NetCDF")
    encoding = {}
    for name in ds.data_vars:
        var = ds[name]
        enc: dict[str, Any] = dict(var.encoding)
        if var.dtype.kind == "f":
            enc["_FillValue"] = np.nan
        enc.update(zlib=True, complevel=1, shuffle=True)
        if var.chunks:
            enc["chunksizes"] = tuple(c[0] for c in var.chunks)
        encoding[name] = enc
    ds.to_netcdf(path, engine="netcdf4", format="NETCDF4",
                 encoding=encoding)


def _write_zarr(ds: Any, path: Path) -> None:
    """A Zarr store in the dask chunks, compressed with Blosc (LZ4, byte
    shuffle): Zarr 2's default, given explicitly to Zarr 3, whose own
    default (Zstandard) costs half again as much time here for a larger
    store."""
    zarr = _need("zarr", "writing Zarr")
    encoding: dict[str, Any] = {}
    if int(str(zarr.__version__).split(".")[0]) >= 3:
        blosc = importlib.import_module("zarr.codecs").BloscCodec(
            cname="lz4", clevel=5, shuffle="shuffle")
        encoding = {name: {**ds[name].encoding, "compressors": [blosc]}
                    for name in ds.data_vars}
    with warnings.catch_warnings():
        # Zarr format 3 itself defines no consolidated metadata
        # yet; xarray and zarr read it all the same.
        warnings.filterwarnings("ignore", message=".*[Cc]onsolidated "
                                "metadata.*")
        ds.to_zarr(path, mode="w-", consolidated=True, encoding=encoding)


_WRITERS: dict[str, Callable[[Any, Path], None]] = {
    "netcdf": _write_netcdf, "zarr": _write_zarr, "geotiff": _write_geotiff}


# ----- Schedulers

_LOCAL = {"threads": "threads", "threaded": "threads",
          "synchronous": "synchronous", "sync": "synchronous",
          "single-threaded": "synchronous"}
_ADDRESS = re.compile(r"^([a-z][a-z0-9+.-]*://)?[^\s/:]+(:\d+)$|"
                      r"^[a-z][a-z0-9+.-]*://\S+$", re.IGNORECASE)


def _connect(address: str) -> Any:
    distributed = _need("distributed", "a dask cluster")
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
                       f"{_reason(exc)}") from None


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
        da = _need("dask.array", "a dask cluster")
        cull = _need("dask.optimization", "a dask cluster").cull
        tokenize = _need("dask.base", "a dask cluster").tokenize

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
    kind = _kind(target)
    if kind is None:
        raise RunError(f"cannot write {target}: not a raster format; the "
                       "raster suffixes are " + ", ".join(RASTER_SUFFIXES))
    _need("xarray", "writing rasters")
    _need("dask.array", "writing rasters")
    _need("rioxarray", "writing rasters")
    if scheduler is not None and not isinstance(scheduler, str):
        raise RunError(f"scheduler must be an address or a name, not "
                       f"{scheduler!r}")
    name = (scheduler or "threads").strip()
    local = _LOCAL.get(name.lower())
    if local is None and not _ADDRESS.match(name):
        raise RunError(f"unknown scheduler {scheduler!r}: give the address "
                       "of a dask.distributed scheduler (tcp://host:8786), "
                       "'threads' or 'synchronous'")
    _check_target(ds, target, kind)
    data = _prepared(ds, kind, target)
    cluster = None if local is not None else _Cluster(_connect(name))
    try:
        _write(data, target, kind, progress, local, cluster)
    finally:
        if cluster is not None:
            cluster.client.close()


class _Abandoned(Exception):
    """Raised before each task of a write that has been abandoned."""


def _write(data: Any, target: Path, kind: str, progress: bool,
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
            _WRITERS[kind](data, tmp)

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
    text = _reason(exc)
    return text if name in ("RangeError", "RunError") else f"{name}: {text}"
