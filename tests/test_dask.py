"""Lazy, chunk-by-chunk evaluation on dask arrays and dask-backed xarray
objects, locally and on a cluster of worker processes."""
import numpy as np
import pytest

dask = pytest.importorskip("dask")
da = pytest.importorskip("dask.array")
xr = pytest.importorskip("xarray")
distributed = pytest.importorskip("dask.distributed")
Client, LocalCluster = distributed.Client, distributed.LocalCluster

import _loamara
import loamara
from ptfcheck import assert_same_bits

SAXTON = _loamara.calc_ptf_saxton2006
F = np.float64


def texture(n=1000):
    rng = np.random.default_rng(7)
    sand = rng.uniform(0.05, 0.9, n)
    clay = rng.uniform(0.02, 0.6, n) * (1 - sand)
    om = rng.uniform(0.5, 6.0, n)
    return sand, clay, om


def test_multi_output_estimate_is_lazy_and_blockwise():
    sand, clay, om = texture()
    d_sand = da.from_array(sand, chunks=300)
    calls = []

    def counted(block):
        calls.append(block.shape)
        return block

    lazy_clay = da.from_array(clay, chunks=300).map_blocks(counted)

    def real_blocks():  # dask may probe functions with tiny arrays
        return sorted(s for s in calls if s in {(300,), (100,)})

    r = loamara.estimate("saxton2006", sand=d_sand, clay=lazy_clay, om=om)
    assert real_blocks() == []
    for out in r.values():
        assert isinstance(out, da.Array)
        assert out.chunks == d_sand.chunks and out.dtype == np.float64
    computed = dask.compute(*r.values(), scheduler="synchronous")
    # Each input block is read once, for all ten outputs together.
    assert real_blocks() == sorted([(300,)] * 3 + [(100,)])
    for got, want in zip(computed, SAXTON(sand, clay, om)):
        assert_same_bits(got, want)


def test_numpy_and_scalar_inputs_are_chunked_like_the_dask_ones():
    silt = np.linspace(5, 80, 24).reshape(4, 6)
    clay = np.linspace(3, 50, 6)
    r = loamara.estimate("jabro1992", silt=da.from_array(silt, chunks=(2, 3)),
                         clay=clay, bd=1.3)
    assert r.ksat.chunks == ((2, 2), (3, 3))
    assert_same_bits(r.ksat.compute(),
                     _loamara.calc_ptf_jabro1992(silt, clay, F(1.3)))


def test_single_output_ufunc_on_dask_arrays_stays_lazy():
    silt = da.from_array(np.linspace(5, 80, 10), chunks=4)
    out = loamara.calc_ptf_jabro1992(silt, silt * 0.5, F(1.4))
    assert isinstance(out, da.Array)
    assert_same_bits(out.compute(), _loamara.calc_ptf_jabro1992(
        silt.compute(), silt.compute() * 0.5, F(1.4)))


def test_dask_backed_xarray_stays_lazy_and_keeps_coordinates():
    sand, clay, om = texture(600)
    coords = {"y": np.arange(20), "x": np.arange(30) * 0.5}
    s = xr.DataArray(sand.reshape(20, 30), dims=("y", "x"),
                     coords=coords).chunk({"y": 5, "x": 10})
    c = xr.DataArray(clay.reshape(20, 30), dims=("y", "x"), coords=coords)
    r = loamara.estimate("saxton2006", sand=s, clay=c, om=2.0)
    want = SAXTON(sand.reshape(20, 30), clay.reshape(20, 30), F(2.0))
    for got, w in zip(r.values(), want):
        assert isinstance(got.data, da.Array)
        assert got.chunks == ((5,) * 4, (10,) * 3)
        assert_same_bits(got.compute().values, w)
        assert np.array_equal(got.coords["x"].values, coords["x"])


def test_bad_class_index_in_a_dask_block_fails_on_compute():
    k = da.from_array(np.array([0, 3, 10, -1]), chunks=2)
    r = loamara.estimate("clapp1978", texture_class=k)
    with pytest.raises(ValueError, match="texture_class"):
        r.b.compute(scheduler="synchronous")


def test_distributed_cluster_gives_the_in_memory_result():
    sand, clay, om = texture(20_000)
    want = SAXTON(sand, clay, om)
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                      dashboard_address=None) as cluster, \
            Client(cluster) as client:
        r = loamara.estimate("saxton2006",
                             sand=da.from_array(sand, chunks=2500),
                             clay=da.from_array(clay, chunks=2500),
                             om=da.from_array(om, chunks=2500))
        got = client.compute(list(r.values()), sync=True)
        # The blocks ran in the worker processes.
        assert len(client.scheduler_info()["workers"]) == 2
    for g, w in zip(got, want):
        assert_same_bits(g, w)
