"""NetCDF rasters (``.nc``, ``.nc4``, ``.netcdf``, ``.cdf``) through xarray.

Reading: CF decoding (scale, offset and fill values applied, grid-mapping
variables as coordinates), lazily in chunks aligned on the file's own.
Writing: NetCDF-4 through netCDF4, every variable and coordinate with its
attributes, the CRS as a CF grid mapping, NaN as fill value, each variable
stored in the chunks of the dask blocks, compressed.
"""
from __future__ import annotations

from pathlib import Path
from typing import Any

import numpy as np

from ._grid import open_aligned
from ._raster import RasterWriter, need

__all__ = ["open_netcdf", "NetcdfWriter", "WRITER"]


def open_netcdf(path: Path, side: int) -> Any:
    """A NetCDF file as a lazy Dataset in chunks of about ``side`` cells."""
    import xarray as xr

    return open_aligned(xr.open_dataset, path, side)


class NetcdfWriter(RasterWriter):
    def write(self, ds: Any, path: Path) -> None:
        """NetCDF-4, each variable stored in the chunks of the dask blocks
        (so that each stored chunk is written once, whole) and compressed
        with zlib at level 1 after byte shuffling: the fastest level, most
        of the gain."""
        need("netCDF4", "writing NetCDF")
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


WRITER = NetcdfWriter()
