"""What every raster format shares about grids: the spatial dimensions of a
dataset, the dask chunks a file is opened in (aligned on the tiles or
chunks it is stored in), whether several files are on one grid, and the
CRS variables (CF grid mappings) that belong to the coordinates.
"""
from __future__ import annotations

import operator
from collections.abc import Callable
from pathlib import Path
from typing import Any

import numpy as np

from .._errors import RunError

__all__ = ["DEFAULT_CHUNK", "chunk_side", "aligned", "spatial_dims",
           "with_rio_dims", "chunk_plan", "crs_as_coords",
           "grid_mapping_names", "open_aligned", "check_one_grid"]

# Cells per side of a chunk: 1024 x 1024 float64 values are 8 MiB, large
# enough that a task's overhead is small against its work and small enough
# that a few operands and outputs per thread stay far below a machine's
# memory.
DEFAULT_CHUNK = 1024


def chunk_side(chunks: int | None) -> int:
    """Cells per side of a chunk: ``chunks``, checked, or the default."""
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


def aligned(side: int, tile: int | None, size: int) -> int:
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


def spatial_dims(ds: Any) -> tuple[str, str] | None:
    """The (y, x) dimensions of a dataset, or None."""
    try:
        return ds.rio.y_dim, ds.rio.x_dim
    except Exception:  # rioxarray's MissingSpatialDimensionError and kin
        pass
    for y, x in _YX_NAMES:
        if y in ds.dims and x in ds.dims:
            return y, x
    return None


def with_rio_dims(ds: Any) -> Any:
    """``ds`` with its spatial dimensions made known to rioxarray."""
    dims = spatial_dims(ds)
    if dims is None:
        return ds
    return ds.rio.set_spatial_dims(x_dim=dims[1], y_dim=dims[0])


def chunk_plan(ds: Any, side: int) -> dict[str, int | str]:
    """Dask chunks for a lazily opened dataset: ``side`` cells along y and
    x, whole file chunks along other dimensions (one layer when the file
    does not say), aligned on the chunks the file is stored in."""
    spatial = spatial_dims(ds)
    preferred: dict[str, int] = {}
    for var in ds.data_vars.values():
        for dim, size in (var.encoding.get("preferred_chunks") or {}).items():
            preferred[dim] = max(preferred.get(dim, 0), int(size))
    plan: dict[str, int | str] = {}
    for dim, size in ds.sizes.items():
        if spatial is None:
            plan[dim] = "auto"
        elif dim in spatial:
            plan[dim] = aligned(side, preferred.get(dim), size)
        else:
            plan[dim] = max(1, min(preferred.get(dim, 1), size))
    return plan


# Attributes that make a scalar variable a CRS (a CF grid mapping) rather
# than data.
_CRS_ATTRS = ("grid_mapping_name", "crs_wkt", "spatial_ref")


def crs_as_coords(ds: Any) -> Any:
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


def open_aligned(opener: Callable[..., Any], path: Path, side: int,
                 **probe: Any) -> Any:
    """A file opened lazily by ``opener`` (xarray's ``open_dataset`` or
    ``open_zarr``) in the chunks of :func:`chunk_plan`, its CRS variables
    as coordinates: first opened without dask (``probe``: the options that
    say so) to learn how it is stored, then with dask."""
    kw: dict[str, Any] = {"decode_coords": "all"}
    with opener(path, **probe, **kw) as first:
        plan = chunk_plan(crs_as_coords(first), side)
    return crs_as_coords(opener(path, chunks=plan, **kw))


def grid_mapping_names(ds: Any) -> set[str]:
    """The names of the grid-mapping variables the variables refer to."""
    names = set()
    for var in ds.variables.values():
        for src in (var.encoding, var.attrs):
            gm = src.get("grid_mapping")
            if isinstance(gm, str):
                names.add(gm)
    return names


def _grid(ds: Any) -> tuple[Any, ...]:
    """What makes a grid: the spatial dimensions, their coordinates and the
    coordinate reference system."""
    dims = spatial_dims(ds)
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


def check_one_grid(parts: list[tuple[Path, Any]]) -> None:
    """RunError unless the opened files ``parts`` (path, dataset) hold
    each variable once and are all on the grid of the first."""
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
