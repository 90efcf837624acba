"""Raster input and output of `loamara run`: NetCDF, Zarr and GeoTIFF files
in, lazy estimates, outputs written chunk by chunk and read back, and the
failures that must leave nothing behind."""
import os
import subprocess
import sys
import warnings
from pathlib import Path

import numpy as np
import pytest

xr = pytest.importorskip("xarray")
pytest.importorskip("dask.array")
rioxarray = pytest.importorskip("rioxarray")
rasterio = pytest.importorskip("rasterio")
pytest.importorskip("netCDF4")
pytest.importorskip("zarr")
pytest.importorskip("pint")
from rasterio.crs import CRS  # noqa: E402
from rasterio.transform import Affine  # noqa: E402

import _loamara  # noqa: E402
import loamara  # noqa: E402
from loamara._cli import _Terminated  # noqa: E402
from loamara.io import (RASTER_SUFFIXES, is_raster,  # noqa: E402
                        open_inputs, output_dataset, write_outputs)
from loamara._run import RunError  # noqa: E402
from ptfcheck import assert_same_bits  # noqa: E402

# affine 3 asks rasterio and rioxarray for `@` instead of `*`.
pytestmark = pytest.mark.filterwarnings(
    "ignore:Use `@` matmul:PendingDeprecationWarning")

H, W = 60, 80                       # cells: 2 x 3 chunks of 32 x 32
CHUNK = 32
NODATA = -32768
EPSG = "EPSG:32633"


def grid(west, north):
    """A north-up 250 m grid with its upper left corner at west, north."""
    return Affine(250.0, 0.0, west, 0.0, -250.0, north)


TRANSFORM = grid(500_000.0, 5_000_000.0)
UNITS = {"sand_0-5cm_mean": "g/kg", "clay_0-5cm_mean": "g/kg",
         "soc_0-5cm_mean": "dg/kg"}
FORMATS = {"netcdf": ".nc", "zarr": ".zarr", "geotiff": ".tif"}


def soil_layers():
    """SoilGrids-like int16 layers, with nodata in the first row's first
    cells of every layer and in one cell of clay only."""
    rng = np.random.default_rng(11)
    sand = rng.integers(100, 700, (H, W))
    clay = rng.integers(50, 300, (H, W))
    soc = rng.integers(5, 500, (H, W))
    layers = {"sand_0-5cm_mean": sand, "clay_0-5cm_mean": clay,
              "soc_0-5cm_mean": soc}
    for a in layers.values():
        a[0, :3] = NODATA
    layers["clay_0-5cm_mean"][40, 70] = NODATA
    return {k: v.astype(np.int16) for k, v in layers.items()}


def coords():
    x = TRANSFORM.c + TRANSFORM.a * (np.arange(W) + 0.5)
    y = TRANSFORM.f + TRANSFORM.e * (np.arange(H) + 0.5)
    return y, x


def write_geotiff(path, data, nodata=NODATA, transform=TRANSFORM, crs=EPSG,
                  unit=None, **extra):
    data = np.asarray(data)
    bands = data if data.ndim == 3 else data[None]
    with rasterio.open(path, "w", driver="GTiff", width=bands.shape[2],
                       height=bands.shape[1], count=bands.shape[0],
                       dtype=str(bands.dtype), nodata=nodata, crs=crs,
                       transform=transform, tiled=True, blockxsize=32,
                       blockysize=32, **extra) as dst:
        dst.write(bands)
        if unit:
            for b in range(1, bands.shape[0] + 1):
                dst.set_band_unit(b, unit)
    return Path(path)


def layer_dataset(layers):
    y, x = coords()
    ds = xr.Dataset(
        {k: (("y", "x"), v, {"units": UNITS[k]}) for k, v in layers.items()},
        coords={"y": y, "x": x})
    for k in layers:
        ds[k].encoding["_FillValue"] = NODATA
    return ds.rio.write_crs(EPSG)


def make_inputs(directory, fmt, layers):
    """The layers as raster files of one format; returns their paths."""
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    if fmt == "geotiff":
        return [write_geotiff(directory / f"{k}.tif", v, unit=UNITS[k])
                for k, v in layers.items()]
    ds = layer_dataset(layers)
    if fmt == "netcdf":
        # The CRS variable without grid_mapping attributes pointing to it,
        # as some tools write them (the Zarr store has them).
        path = directory / "layers.nc"
        ds.to_netcdf(path, encoding={
            k: {"chunksizes": (32, 32), "_FillValue": NODATA}
            for k in layers})
    else:
        path = directory / "layers.zarr"
        for k in layers:
            ds[k].encoding["chunks"] = (32, 32)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            ds.to_zarr(path, consolidated=True)
    return [path]


@pytest.fixture(scope="module")
def layers():
    return soil_layers()


@pytest.fixture(scope="module")
def inputs(tmp_path_factory, layers):
    base = tmp_path_factory.mktemp("inputs")
    return {fmt: make_inputs(base / fmt, fmt, layers) for fmt in FORMATS}


def in_memory(layers, check="warn"):
    """estimate on the same cells held in memory (NaN at nodata)."""
    y, x = coords()
    data = xr.Dataset(
        {k: (("y", "x"), np.where(v == NODATA, np.nan, v.astype(np.float64)),
             {"units": UNITS[k]}) for k, v in layers.items()},
        coords={"y": y, "x": x})
    return loamara.estimate("saxton2006", data=data, preset="soilgrids",
                            out_units={"ksat": "cm/d"}, check=check)


def read_back(path):
    """Name -> (values, units) of every output, the y and x coordinates
    and the CRS of a written file."""
    path = Path(path)
    if path.suffix == ".tif":
        with rasterio.open(path) as src:
            out = {d: (src.read(i + 1), src.units[i])
                   for i, d in enumerate(src.descriptions)}
            for i in range(src.count):  # units also among the band's tags
                assert src.tags(i + 1)["units"] == src.units[i]
        arr = rioxarray.open_rasterio(path)
        return out, arr.y.values, arr.x.values, arr.rio.crs
    if path.suffix == ".zarr":
        ds = xr.open_zarr(path, decode_coords="all")
    else:
        ds = xr.open_dataset(path, decode_coords="all")
    with ds:
        out = {k: (ds[k].values, ds[k].attrs.get("units")) for k in
               ds.data_vars}
        return out, ds.y.values, ds.x.values, ds.rio.crs


def listing(directory):
    return sorted(os.listdir(directory))


def test_suffixes():
    assert RASTER_SUFFIXES == (".nc", ".nc4", ".netcdf", ".cdf", ".zarr",
                               ".tif", ".tiff")
    assert is_raster(Path("a/b.TIF")) and is_raster(Path("s.zarr"))
    assert is_raster(Path("x.nc4")) and not is_raster(Path("soils.csv"))
    assert not is_raster(Path("zarr"))


@pytest.mark.parametrize("source", FORMATS)
@pytest.mark.parametrize("dest", FORMATS)
def test_round_trip_is_bit_exact_and_keeps_grid_and_units(
        source, dest, inputs, layers, tmp_path):
    ds = open_inputs(inputs[source], chunks=CHUNK)
    assert set(ds.data_vars) == set(UNITS)
    assert ds["clay_0-5cm_mean"].dims == ("y", "x")
    assert ds["clay_0-5cm_mean"].chunks == ((32, 28), (32, 32, 16))
    r = loamara.estimate("saxton2006", data=ds, preset="soilgrids",
                         out_units={"ksat": "cm/d"})
    target = tmp_path / f"out{FORMATS[dest]}"
    write_outputs(output_dataset(ds, r), target)
    assert listing(tmp_path) == [target.name]
    got, y, x, crs = read_back(target)
    want = in_memory(layers)
    if dest == "zarr":  # a Zarr store lists its arrays by name
        assert sorted(got) == sorted(want)
    else:
        assert list(got) == list(want)
    for name, (values, unit) in got.items():
        assert_same_bits(values, want[name].values)
        assert unit == want.units[name]
    assert got["ksat"][1] == "cm/d"
    # The same cells through the bare ufunc, converted by hand.
    f = {k: np.where(v == NODATA, np.nan, v.astype(np.float64))
         for k, v in layers.items()}
    bare = _loamara.calc_ptf_saxton2006(
        f["sand_0-5cm_mean"] / 1000.0, f["clay_0-5cm_mean"] / 1000.0,
        np.multiply(f["soc_0-5cm_mean"] / 100.0, 1.724))
    assert_same_bits(got["theta_33"][0], bare[1])
    assert_same_bits(got["ksat"][0], bare[8] * 2.4)
    # Nodata in any input is NaN in every output, and only there.
    missing = np.zeros((H, W), bool)
    for v in layers.values():
        missing |= v == NODATA
    np.testing.assert_array_equal(np.isnan(got["theta_s"][0]), missing)
    want_y, want_x = coords()
    np.testing.assert_allclose(y, want_y, rtol=0, atol=1e-6)
    np.testing.assert_allclose(x, want_x, rtol=0, atol=1e-6)
    if dest == source == "geotiff" or dest != "geotiff":
        np.testing.assert_array_equal(y, want_y)
        np.testing.assert_array_equal(x, want_x)
    assert crs == CRS.from_string(EPSG)


def test_open_inputs_layout(tmp_path, layers):
    clay = layers["clay_0-5cm_mean"]
    one = write_geotiff(tmp_path / "clay_0-5cm_mean.tif", clay, unit="g/kg")
    # Two bands, scaled by GDAL's scale and offset, another nodata.
    raw = np.stack([clay, clay]).astype(np.int16)
    two = tmp_path / "wv0033_0-5cm_mean.tif"
    write_geotiff(two, raw)
    with rasterio.open(two, "r+") as dst:
        dst.scales = (0.5, 0.5)
        dst.offsets = (1.0, 1.0)
    ds = open_inputs([one, two], chunks=40)
    assert list(ds.data_vars) == ["clay_0-5cm_mean", "wv0033_0-5cm_mean"]
    a, b = ds["clay_0-5cm_mean"], ds["wv0033_0-5cm_mean"]
    assert a.dims == ("y", "x") and b.dims == ("band", "y", "x")
    # 40 cells per side, rounded down to the files' 32 x 32 tiles.
    assert a.chunks == ((32, 28), (32, 32, 16))
    assert a.dtype == b.dtype == np.float64
    assert a.attrs["units"] == "g/kg"
    assert ds.rio.crs == CRS.from_string(EPSG)
    assert "spatial_ref" in ds.coords
    values = a.values
    assert np.isnan(values[0, :3]).all() and np.isnan(values[40, 70])
    ok = clay != NODATA
    np.testing.assert_array_equal(values[ok], clay[ok])
    np.testing.assert_array_equal(b.values[1][ok], clay[ok] * 0.5 + 1.0)
    # The default: 1024 cells per side, the whole of a small raster.
    assert open_inputs([one])["clay_0-5cm_mean"].chunks == ((H,), (W,))


def test_open_inputs_failures(tmp_path, layers):
    good = write_geotiff(tmp_path / "sand_0-5cm_mean.tif",
                         layers["sand_0-5cm_mean"])

    def refused(paths, *words):
        with pytest.raises(RunError) as e:
            open_inputs(paths)
        for w in words:
            assert str(w) in str(e.value)

    refused([tmp_path / "nothing.tif"], "nothing.tif", "no such file")
    refused(str(tmp_path / "nothing.tif"), "nothing.tif", "no such file")
    refused([tmp_path / "soils.csv"], "soils.csv", "not a raster")
    garbage = tmp_path / "garbage.nc"
    garbage.write_bytes(b"not a NetCDF file\n" * 10)
    refused([garbage], "garbage.nc", "cannot be read as NetCDF")
    broken = tmp_path / "broken.tif"
    broken.write_bytes(b"II*\x00" + b"\x00" * 40)
    refused([broken], "broken.tif", "cannot be read as GeoTIFF")
    refused([tmp_path / "empty.zarr"], "empty.zarr", "no such file")
    (tmp_path / "notzarr.zarr").mkdir()
    refused([tmp_path / "notzarr.zarr"], "notzarr.zarr",
            "cannot be read as Zarr")
    empty = tmp_path / "coords.nc"
    xr.Dataset(coords={"x": np.arange(3.0)}).to_netcdf(empty)
    refused([empty], "coords.nc", "no data variable")
    shifted = write_geotiff(
        tmp_path / "clay_0-5cm_mean.tif", layers["clay_0-5cm_mean"],
        transform=grid(500_250.0, 5_000_000.0))
    refused([good, shifted], "not on one grid", good, shifted,
            "x coordinates")
    other_crs = write_geotiff(tmp_path / "soc_0-5cm_mean.tif",
                              layers["soc_0-5cm_mean"], crs="EPSG:32632")
    refused([good, other_crs], "not on one grid", other_crs,
            "CRS: EPSG:32632, not EPSG:32633")
    smaller = write_geotiff(tmp_path / "cfvo.tif",
                            layers["soc_0-5cm_mean"][:50])
    refused([good, smaller], "not on one grid", smaller, "50 cells, not 60")
    copy = tmp_path / "copy"
    copy.mkdir()
    twin = write_geotiff(copy / "sand_0-5cm_mean.tif",
                         layers["sand_0-5cm_mean"])
    refused([good, twin], "'sand_0-5cm_mean'", "in both", good, twin)
    with pytest.raises(RunError, match="chunk size"):
        open_inputs([good], chunks=0)


def test_crs_variable_named_by_no_variable_is_the_grid_mapping(tmp_path,
                                                               layers):
    ds = layer_dataset(layers).rename(spatial_ref="crs")
    for k in layers:
        ds[k].encoding.pop("grid_mapping", None)
        ds[k].attrs.pop("grid_mapping", None)
    ds.drop_vars("soc_0-5cm_mean").to_netcdf(tmp_path / "texture.nc")
    soc = write_geotiff(tmp_path / "soc_0-5cm_mean.tif",
                        layers["soc_0-5cm_mean"], unit="dg/kg")
    inp = open_inputs([tmp_path / "texture.nc", soc])   # one grid, one CRS
    r = loamara.estimate("saxton2006", data=inp, preset="soilgrids")
    write_outputs(output_dataset(inp, r), tmp_path / "out.nc")
    assert read_back(tmp_path / "out.nc")[3] == CRS.from_string(EPSG)


def test_output_dataset_carries_grid_not_inputs(inputs):
    ds = open_inputs(inputs["netcdf"], chunks=CHUNK)
    r = loamara.estimate("saxton2006", data=ds, preset="soilgrids")
    theta = r["theta_33"]
    theta.encoding.update({"dtype": "int16", "scale_factor": 0.1})
    out = output_dataset(ds, {"theta_33": theta, "ksat": r["ksat"]})
    assert list(out.data_vars) == ["theta_33", "ksat"]
    assert out.theta_33.encoding == {"grid_mapping": "spatial_ref"}
    assert out.theta_33.attrs["units"] == "cm^3/cm^3"
    assert out.rio.crs == CRS.from_string(EPSG)
    np.testing.assert_array_equal(out.x.values, ds.x.values)
    assert out.theta_33.chunks == ds["sand_0-5cm_mean"].chunks
    with pytest.raises(RunError, match="not a dimension of the inputs"):
        output_dataset(ds, {"t": theta.isel(x=slice(0, 10))})
    with pytest.raises(RunError, match="other x coordinates"):
        output_dataset(ds, {"t": theta.assign_coords(x=theta.x + 1)})


class Boom(Exception):
    pass


def failing(arr, exc):
    """``arr`` whose block (1, 1) raises ``exc`` when computed."""
    def block(b, block_info=None):
        if block_info[0]["chunk-location"] == (1, 1):
            raise exc
        return b
    return arr.copy(data=arr.data.map_blocks(block, dtype=arr.dtype))


@pytest.mark.parametrize("fmt", FORMATS)
@pytest.mark.parametrize("exc", [Boom("disk on fire"), KeyboardInterrupt(),
                                 _Terminated()], ids=lambda e: type(e).__name__)
def test_failure_leaves_no_output_and_keeps_old_target(fmt, exc, inputs,
                                                       tmp_path):
    ds = open_inputs(inputs["geotiff"], chunks=CHUNK)
    r = loamara.estimate("saxton2006", data=ds, preset="soilgrids")
    target = tmp_path / f"out{FORMATS[fmt]}"
    write_outputs(output_dataset(ds, {"aw": r["aw"]}), target)
    before = read_back(target)[0]
    listed = listing(tmp_path)
    outs = output_dataset(ds, {"theta_33": r["theta_33"],
                               "ksat": failing(r["ksat"], exc)})
    expected = RunError if isinstance(exc, Exception) else type(exc)
    with pytest.raises(expected) as e:
        write_outputs(outs, target)
    if expected is RunError:
        assert "disk on fire" in str(e.value) and target.name in str(e.value)
    assert listing(tmp_path) == listed
    after = read_back(target)[0]
    assert list(after) == ["aw"]
    assert_same_bits(after["aw"][0], before["aw"][0])


def test_range_check_failure_names_the_input(tmp_path, layers):
    bad = dict(layers)
    bad["clay_0-5cm_mean"] = layers["clay_0-5cm_mean"].copy()
    bad["clay_0-5cm_mean"][50, 75] = 1500            # 150 % clay
    paths = make_inputs(tmp_path / "in", "geotiff", bad)
    ds = open_inputs(paths, chunks=CHUNK)
    r = loamara.estimate("saxton2006", data=ds, preset="soilgrids",
                         check="raise")
    target = tmp_path / "out.nc"
    with pytest.raises(RunError, match="clay") as e:
        write_outputs(output_dataset(ds, r), target)
    assert "out.nc not written" in str(e.value)
    assert listing(tmp_path) == ["in"]


def test_refused_targets_compute_nothing(inputs, tmp_path):
    ds = open_inputs(inputs["geotiff"], chunks=CHUNK)
    r = loamara.estimate("saxton2006", data=ds, preset="soilgrids")
    out = output_dataset(ds, {"aw": failing(r["aw"], Boom("computed"))})
    (tmp_path / "dir.nc").mkdir()
    (tmp_path / "plain.zarr").mkdir()
    (tmp_path / "plain.zarr" / "notes.txt").write_text("mine")
    (tmp_path / "file.zarr").write_text("not a store")
    cases = {
        tmp_path / "out.csv": "not a raster format",
        tmp_path / "missing" / "out.nc": "does not exist",
        inputs["geotiff"][0]: "is an input",
        tmp_path / "dir.nc": "is a directory",
        tmp_path / "plain.zarr": "not a Zarr store",
        tmp_path / "file.zarr": "not a directory",
    }
    for target, words in cases.items():
        with pytest.raises(RunError, match=words):
            write_outputs(out, target)
    zarr_in = open_inputs(inputs["zarr"], chunks=CHUNK)
    rz = loamara.estimate("saxton2006", data=zarr_in, preset="soilgrids")
    with pytest.raises(RunError, match="is an input"):
        write_outputs(output_dataset(zarr_in, rz), inputs["zarr"][0])
    with pytest.raises(RunError, match="unknown scheduler"):
        write_outputs(out, tmp_path / "out.nc", scheduler="processes")
    assert (tmp_path / "plain.zarr" / "notes.txt").read_text() == "mine"
    assert listing(tmp_path) == ["dir.nc", "file.zarr", "plain.zarr"]


def test_geotiff_needs_2d_maps(inputs, tmp_path, layers):
    path = write_geotiff(tmp_path / "wv.tif",
                         np.stack([layers["clay_0-5cm_mean"]] * 2))
    ds = open_inputs([path], chunks=CHUNK)
    out = output_dataset(ds, {"wv": ds["wv"] * 2.0})
    with pytest.raises(RunError, match="2-D"):
        write_outputs(out, tmp_path / "out.tif")
    write_outputs(out, tmp_path / "out.nc")
    back, *_ = read_back(tmp_path / "out.nc")
    assert back["wv"][0].shape == (2, H, W)


def test_lat_lon_grid_south_up_becomes_north_up_geotiff(tmp_path):
    lat = 40.025 + 0.05 * np.arange(20)          # ascending: south up
    lon = 5.025 + 0.05 * np.arange(30)
    rng = np.random.default_rng(4)
    shape = (lat.size, lon.size)
    ds = xr.Dataset({k: (("lat", "lon"), rng.uniform(lo, hi, shape),
                         {"units": "%"})
                     for k, lo, hi in (("sand", 20, 60), ("clay", 5, 30),
                                       ("om", 1, 4))},
                    coords={"lat": lat, "lon": lon}).rio.write_crs(
                        "EPSG:4326")
    ds.to_netcdf(tmp_path / "ll.nc")
    inp = open_inputs([tmp_path / "ll.nc"], chunks=16)
    assert inp.sand.chunks == ((16, 4), (16, 14))
    r = loamara.estimate("saxton2006", data=inp)
    write_outputs(output_dataset(inp, r), tmp_path / "out.tif")
    back = rioxarray.open_rasterio(tmp_path / "out.tif")
    assert back.rio.transform().e < 0 and back.rio.crs == CRS.from_epsg(4326)
    np.testing.assert_allclose(back.y.values, lat[::-1], rtol=0, atol=1e-9)
    np.testing.assert_allclose(back.x.values, lon, rtol=0, atol=1e-9)
    assert_same_bits(back.sel(band=9).values[::-1], r.ksat.values)
    uneven = ds.assign_coords(lat=np.cumsum(np.linspace(0.01, 0.1, 20)))
    uneven.to_netcdf(tmp_path / "uneven.nc")
    inp = open_inputs([tmp_path / "uneven.nc"])
    out = output_dataset(inp, loamara.estimate("saxton2006", data=inp))
    with pytest.raises(RunError, match="not evenly spaced"):
        write_outputs(out, tmp_path / "uneven.tif")


def test_zarr_store_is_replaced_whole(inputs, tmp_path):
    ds = open_inputs(inputs["netcdf"], chunks=CHUNK)
    r = loamara.estimate("saxton2006", data=ds, preset="soilgrids")
    target = tmp_path / "out.zarr"
    write_outputs(output_dataset(ds, {"aw": r["aw"], "b": r["b"]}), target)
    write_outputs(output_dataset(ds, {"ksat": r["ksat"]}), target)
    assert listing(tmp_path) == ["out.zarr"]
    got = read_back(target)[0]
    assert list(got) == ["ksat"]
    assert_same_bits(got["ksat"][0], r["ksat"].values)


@pytest.mark.parametrize("tqdm", [True, False])
def test_progress_bar_on_stderr(inputs, tmp_path, capsys, monkeypatch, tqdm):
    if tqdm:
        pytest.importorskip("tqdm")
    else:  # the plain counter
        monkeypatch.setitem(sys.modules, "tqdm", None)
    ds = open_inputs(inputs["geotiff"], chunks=CHUNK)
    r = loamara.estimate("saxton2006", data=ds, preset="soilgrids")
    write_outputs(output_dataset(ds, r), tmp_path / "out.nc", progress=True)
    captured = capsys.readouterr()
    assert "writing out.nc" in captured.err and captured.out == ""
    assert " tasks" in captured.err


def test_dask_cluster_by_address(inputs, layers, tmp_path):
    distributed = pytest.importorskip("dask.distributed")
    ds = open_inputs(inputs["geotiff"], chunks=CHUNK)
    r = loamara.estimate("saxton2006", data=ds, preset="soilgrids",
                         out_units={"ksat": "cm/d"})
    out = output_dataset(ds, r)
    want = in_memory(layers)
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2,
                                  processes=False,
                                  dashboard_address=None) as cluster:
        for fmt in ("geotiff", "zarr"):
            target = tmp_path / f"out{FORMATS[fmt]}"
            write_outputs(out, target, scheduler=cluster.scheduler_address)
            got = read_back(target)[0]
            for name, (values, _) in got.items():
                assert_same_bits(values, want[name].values)
        bad = output_dataset(ds, {"ksat": failing(r["ksat"], Boom("far"))})
        with pytest.raises(RunError, match="far"):
            write_outputs(bad, tmp_path / "bad.nc",
                          scheduler=cluster.scheduler_address)
    assert listing(tmp_path) == ["out.tif", "out.zarr"]


def test_unreachable_cluster_is_named(inputs, tmp_path):
    dask = pytest.importorskip("dask")
    pytest.importorskip("dask.distributed")
    ds = open_inputs(inputs["geotiff"], chunks=CHUNK)
    r = loamara.estimate("saxton2006", data=ds, preset="soilgrids")
    with dask.config.set({"distributed.comm.timeouts.connect": "1s"}):
        with pytest.raises(RunError, match="tcp://127.0.0.1:9"):
            write_outputs(output_dataset(ds, r), tmp_path / "out.nc",
                          scheduler="tcp://127.0.0.1:9")
    assert listing(tmp_path) == []


def cli(*args):
    return subprocess.run([sys.executable, "-m", "loamara", *map(str, args)],
                          capture_output=True, text=True, timeout=300)


def test_run_and_ensemble_from_the_command_line(inputs, layers, tmp_path):
    distributed = pytest.importorskip("dask.distributed")
    want = in_memory(layers)
    target = tmp_path / "maps.tif"
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2,
                                  processes=False, protocol="tcp",
                                  dashboard_address=None) as cluster:
        res = cli("run", "saxton2006", *inputs["geotiff"], "-o", target,
                  "--preset", "soilgrids", "--out-units", "ksat=cm/d",
                  "--outputs", "theta_33,theta_1500,ksat", "--chunk-size",
                  CHUNK, "--scheduler", cluster.scheduler_address)
    assert res.returncode == 0, res.stderr
    got = read_back(target)[0]
    assert sorted(got) == ["ksat", "theta_1500", "theta_33"]
    assert got["ksat"][1] == "cm/d"
    for name, (values, _) in got.items():
        assert_same_bits(values, want[name].values)
    res = cli("ensemble", "theta_33", *inputs["netcdf"], "-o",
              tmp_path / "ens.nc", "--preset", "soilgrids")
    assert res.returncode == 0, res.stderr
    # Without bulk density Vereecken et al. are left out, with a note as
    # for tables.
    assert "vereecken1989 is not a member: needs bulk_density" in res.stderr
    ens = read_back(tmp_path / "ens.nc")[0]
    assert_same_bits(ens["theta_33_saxton2006"][0], want["theta_33"].values)
    assert {"theta_33_mean", "theta_33_std", "theta_33_n"} <= set(ens)
    # Compressed, with CF attributes.
    with xr.open_dataset(tmp_path / "ens.nc") as ds:
        assert ds.attrs["Conventions"] == "CF-1.8"
        assert "Saxton" in ds.attrs["references"]
        assert ds.attrs["history"].endswith("--preset soilgrids")
        mean = ds["theta_33_mean"]
        assert mean.encoding["zlib"] and mean.attrs["standard_name"] == (
            "volume_fraction_of_condensed_water_in_soil_at_field_capacity")
        assert "standard_name" not in ds["theta_33_std"].attrs
        assert mean.attrs["units"] == "cm^3/cm^3" and "long_name" in \
            mean.attrs


def test_a_unit_mistake_stops_a_raster_run(inputs, tmp_path):
    # The layers given as if they were percent: sand up to 700 %.
    res = cli("run", "saxton2006", *inputs["netcdf"], "-o",
              tmp_path / "out.nc", "--map", "sand_0-5cm_mean=sand",
              "--map", "clay_0-5cm_mean=clay", "--map", "soc_0-5cm_mean=om",
              "--units", "sand_0-5cm_mean=%", "--units",
              "clay_0-5cm_mean=%", "--units", "soc_0-5cm_mean=%",
              "--check", "raise")
    assert res.returncode == 1
    assert "--units sand_0-5cm_mean=g/kg" in res.stderr
    assert "Traceback" not in res.stderr and listing(tmp_path) == []


def test_demo_layers_go_through_the_readme_commands(tmp_path):
    res = cli("demo", "--layers", tmp_path / "layers")
    assert res.returncode == 0, res.stderr
    tifs = sorted((tmp_path / "layers").glob("*.tif"))
    assert [p.name.split("_")[0] for p in tifs] == ["bdod", "clay", "sand",
                                                     "silt", "soc"]
    res = cli("ensemble", "theta_1500", *tifs, "--preset", "soilgrids",
              "-o", tmp_path / "e.tif")
    assert res.returncode == 0 and "Warning" not in res.stderr, res.stderr
    with rasterio.open(tmp_path / "e.tif") as src:
        names = list(src.descriptions)
        mean = src.read(names.index("theta_1500_mean") + 1)
        assert src.units[names.index("theta_1500_mean")] == "cm^3/cm^3"
    assert np.isnan(mean).any() and (mean[~np.isnan(mean)] > 0).all()


def test_clapp_and_hornberger_run_on_the_demo_layers(tmp_path):
    # The class comes from the texture and keeps the layers' grid.
    res = cli("demo", "--layers", tmp_path / "layers")
    assert res.returncode == 0, res.stderr
    tifs = sorted((tmp_path / "layers").glob("*.tif"))
    res = cli("run", "clapp1978", *tifs, "--preset", "soilgrids", "-o",
              tmp_path / "c.tif", "--outputs", "b,theta_s,ksat")
    assert res.returncode == 0, res.stderr
    with rasterio.open(tmp_path / "c.tif") as src:
        b = src.read(list(src.descriptions).index("b") + 1)
    assert set(np.unique(b[~np.isnan(b)])) <= {
        4.05, 4.38, 4.9, 5.3, 5.39, 7.12, 7.75, 8.52, 10.4, 11.4}


def test_geotiff_scale_and_offset_are_applied_in_double(tmp_path):
    stored = np.array([[213, NODATA], [100, 5]], dtype=np.int16)
    path = tmp_path / "sand.tif"
    with rasterio.open(path, "w", driver="GTiff", width=2, height=2,
                       count=1, dtype="int16", nodata=NODATA, crs=EPSG,
                       transform=TRANSFORM) as dst:
        dst.write(stored, 1)
        dst.scales = (0.1,)
        dst.offsets = (1.5,)
    got = open_inputs([path])["sand"].values
    want = stored.astype(np.float64) * 0.1 + 1.5
    want[0, 1] = np.nan
    assert_same_bits(got, want)
    assert got[0, 0] == 21.3 + 1.5


def test_ctrl_c_during_a_zarr_write_leaves_nothing(tmp_path):
    import signal
    import time
    n = 768
    rng = np.random.default_rng(2)
    src = tmp_path / "big.nc"
    xr.Dataset({k: (("y", "x"), rng.uniform(lo, hi, (n, n)))
                for k, lo, hi in (("sand", 0.1, 0.7), ("clay", 0.05, 0.3),
                                  ("om", 0.5, 5))},
               coords={"y": np.arange(n, 0, -1.0), "x": np.arange(n * 1.0)}
               ).to_netcdf(src)
    out = tmp_path / "out.zarr"
    proc = subprocess.Popen(
        [sys.executable, "-m", "loamara", "run", "saxton2006", str(src),
         "-o", str(out), "--chunk-size", "64", "--scheduler", "sync"],
        stderr=subprocess.PIPE, text=True,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    for _ in range(600):
        if any(p.endswith(".part") for p in os.listdir(tmp_path)):
            break
        time.sleep(0.05)
    proc.send_signal(signal.SIGINT)  # (as Zarr writes its first metadata)
    _, err = proc.communicate(timeout=120)
    assert proc.returncode == 130, err
    assert "Traceback" not in err and err.strip().endswith("interrupted")
    time.sleep(0.5)  # nothing written after the exit either
    assert listing(tmp_path) == ["big.nc"]
