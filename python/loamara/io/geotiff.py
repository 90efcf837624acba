"""GeoTIFF rasters (``.tif``, ``.tiff``) through rasterio and rioxarray.

Reading: one variable per file, named after the file (a single band loses
its ``band`` dimension), nodata as NaN and the band's scale and offset
applied in double precision, lazily in chunks aligned on the file's tiles.
Writing: one band per variable (2-D maps on a regular grid, north up),
band descriptions the variable names, each band's attributes in its
metadata (``units`` also as the band's unit), NaN as nodata, tiled,
ZSTD-compressed, BigTIFF when needed.
"""
from __future__ import annotations

import threading
from pathlib import Path
from typing import Any

import numpy as np

from .._errors import RunError
from ._grid import aligned, grid_mapping_names, spatial_dims, with_rio_dims
from ._raster import RasterWriter, need

__all__ = ["open_geotiff", "GeoTiffWriter", "WRITER"]

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


def open_geotiff(path: Path, side: int) -> Any:
    """A GeoTIFF as a lazy Dataset in chunks of about ``side`` cells."""
    rasterio = need("rasterio", "reading GeoTIFF")
    rioxarray = need("rioxarray", "reading GeoTIFF")
    with rasterio.open(path) as src:
        tile_y, tile_x = src.block_shapes[0]
        height, width = src.height, src.width
    arr = rioxarray.open_rasterio(
        path, mask_and_scale=False, lock=False,
        chunks={"band": 1, "y": aligned(side, tile_y, height),
                "x": aligned(side, tile_x, width)})
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


def _geotiff_layout(ds: Any, target: Path) -> Any:
    """Checks that every variable is a 2-D map on a regular grid and puts
    its dimensions in (y, x) order, north up."""
    dims = spatial_dims(ds)
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
        for name in grid_mapping_names(ds) & set(ds.coords):
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
        self._window = need("rasterio.windows", "writing GeoTIFF").Window
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


class GeoTiffWriter(RasterWriter):
    def prepare(self, ds: Any, target: Path) -> Any:
        """2-D maps on a regular grid, north up, in chunks of whole
        tiles."""
        return _tile(_geotiff_layout(ds, target))[0]

    def write(self, ds: Any, path: Path) -> None:
        _write_geotiff(ds, path)


WRITER = GeoTiffWriter()


def _write_geotiff(ds: Any, path: Path) -> None:
    rasterio = need("rasterio", "writing GeoTIFF")
    ds, tile = _tile(ds)
    names = list(ds.data_vars)
    height, width = (ds.sizes[d] for d in spatial_dims(ds) or ())
    dtype = np.result_type(*(ds[n].dtype for n in names))
    if dtype.kind not in "fiu" or dtype.itemsize > 8:
        raise RunError(f"cannot write {dtype} values to GeoTIFF")
    geo = with_rio_dims(ds).rio
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
    da = need("dask.array", "writing GeoTIFF")
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
