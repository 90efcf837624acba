"""The chunked, threaded evaluation gives exactly what one call gives."""
import threading
import time

import numpy as np
import pytest

import _loamara as L
from loamara.parallel import parallel_apply
from ptfcheck import assert_same_bits


def tup(r):
    return r if isinstance(r, tuple) else (r,)


CASES = ["calc_ptf_saxton2006", "calc_ptf_jabro1992",
         "calc_ptf_rawls1982_full_wrc", "calc_ptf_clapp1978"]


def inputs(name, shape, rng):
    uf = getattr(L, name)
    if name == "calc_ptf_clapp1978":
        return [rng.integers(0, 14, shape).astype(np.uint32)]
    return [rng.uniform(0.05, 0.6, shape) for _ in range(uf.nin)]


@pytest.mark.parametrize("name", CASES)
@pytest.mark.parametrize("threads", [1, 2, 3])
def test_bit_identical_to_one_call(name, threads):
    rng = np.random.default_rng(0)
    uf = getattr(L, name)
    xs = inputs(name, (3001,), rng)
    with np.errstate(all="ignore"):
        ref = tup(uf(*xs))
        got = tup(parallel_apply(uf, *xs, chunk_size=100, threads=threads))
    assert len(got) == uf.nout
    for g, r in zip(got, ref):
        assert_same_bits(g, r)


def test_broadcasting_and_layouts():
    rng = np.random.default_rng(1)
    f = L.calc_ptf_saxton2006
    sand = rng.uniform(0.1, 0.8, (40, 1))
    clay = np.asfortranarray(rng.uniform(0.05, 0.4, (40, 55)))[:, ::-1]
    om = 2.5 * np.ones(55)
    ref = f(sand, clay, om)
    got = parallel_apply(f, sand, clay, om, chunk_size=64, threads=2)
    for g, r in zip(got, ref):
        assert g.shape == (40, 55)
        assert_same_bits(g, r)


def test_out_and_in_place():
    rng = np.random.default_rng(2)
    f = L.calc_ptf_jabro1992
    silt, clay, bd = (rng.uniform(1, 60, 5000) for _ in range(3))
    ref = f(silt, clay, bd)
    out = np.empty(5000)
    res = parallel_apply(f, silt, clay, bd, out=out, chunk_size=256)
    assert res is out
    assert_same_bits(out, ref)
    res = parallel_apply(f, silt, clay, bd, out=(silt,), chunk_size=256)
    assert res is silt
    assert_same_bits(silt, ref)
    # Outputs into a strided view of a larger array.
    big = np.zeros(10000)
    parallel_apply(f, clay, clay, bd, out=big[::2], chunk_size=256)
    assert_same_bits(big[::2], f(clay, clay, bd))
    assert not big[1::2].any()


def test_multiple_outputs_given_and_partial_overlap():
    rng = np.random.default_rng(3)
    f = L.calc_ptf_saxton2006
    x = rng.uniform(0.1, 0.5, 3 * 4000)
    ref = f(x[:4000], x[4000:8000], x[8000:])
    outs = tuple(np.empty(4000) for _ in range(10))
    res = parallel_apply(f, x[:4000], x[4000:8000], x[8000:], out=outs,
                         chunk_size=300)
    assert all(a is b for a, b in zip(res, outs))
    for g, r in zip(res, ref):
        assert_same_bits(g, r)
    # An output that overlaps an input shifted by one element.
    y = x.copy()
    expected = f(x[1:4001], x[4000:8000], x[8000:])[0]
    parallel_apply(f, y[1:4001], y[4000:8000], y[8000:],
                   out=(y[:4000],) + outs[1:], chunk_size=300)
    assert_same_bits(y[:4000], expected)


def test_where_scalars_and_empty():
    f = L.calc_ptf_jabro1992
    x = np.linspace(1, 50, 4000)
    mask = x > 20
    out = np.full(4000, -1.0)
    parallel_apply(f, x, x, 1.4 * np.ones(1), out=out, where=mask,
                   chunk_size=100)
    ref = np.full(4000, -1.0)
    f(x, x, np.ones(1) * 1.4, out=ref, where=mask)
    assert_same_bits(out, ref)
    s = parallel_apply(f, np.float64(40), np.float64(20), np.float64(1.4))
    assert_same_bits(s, f(np.float64(40), np.float64(20), np.float64(1.4)))
    assert parallel_apply(f, *[np.empty(0)] * 3).shape == (0,)


def test_errors_are_the_ufuncs_own():
    f = L.calc_ptf_jabro1992
    with pytest.raises(TypeError):
        parallel_apply(f, np.arange(10) * 1j, np.arange(10), np.arange(10))
    with pytest.raises(ValueError):
        parallel_apply(f, np.ones(5), np.ones(6), np.ones(5))
    with np.errstate(invalid="raise"), pytest.raises(FloatingPointError):
        parallel_apply(f, -np.ones(5000), np.ones(5000), np.ones(5000),
                       chunk_size=100, threads=2)


def test_a_failing_chunk_stops_every_write_before_the_call_returns():
    f = L.calc_ptf_jabro1992
    n = 200 * 1000
    silt = np.full(n, 30.0)
    silt[1500] = -1.0  # log of a negative number: invalid
    out = np.full(n, -7.0)
    with np.errstate(invalid="raise"), pytest.raises(FloatingPointError):
        parallel_apply(f, silt, silt, np.full(n, 1.4), out=out,
                       chunk_size=1000, threads=2)
    snapshot = out.copy()
    time.sleep(0.3)
    assert_same_bits(out, snapshot)  # nothing wrote after the exception


def test_outputs_that_overlap_each_other_give_the_plain_result():
    # Chunks running at once would race where the two outputs meet.
    f = L.calc_ptf_saxton2006
    n = 400_000
    rng = np.random.default_rng(4)
    sand, clay = rng.uniform(0.1, 0.5, (2, n))
    results = []
    for call in (f, lambda *a, out: parallel_apply(*(f, *a), out=out,
                                                     chunk_size=20_000,
                                                     threads=2)):
        b = np.zeros(n + 1)
        rest = tuple(np.zeros(n) for _ in range(8))
        call(sand, clay, 2.5, out=(b[:-1], b[1:]) + rest)
        results.append((b,) + rest)
    for got, want in zip(*results):
        assert_same_bits(got, want)


def test_one_array_as_out_of_a_multi_output_ufunc_is_refused():
    x = np.full(5000, 30.0)
    with pytest.raises(TypeError, match="tuple"):
        parallel_apply(L.calc_ptf_dijkerman1988, x, x, out=np.empty(5000),
                       chunk_size=100)


def test_thread_pools_stay_bounded():
    x = np.full(400, 30.0)
    for threads in range(2, 34):
        parallel_apply(L.calc_ptf_jabro1992, x, x, x, chunk_size=10,
                       threads=threads)
    for _ in range(100):  # replaced pools' threads end once idle
        ours = [t for t in threading.enumerate()
                if t.name.startswith("loamara")]
        if len(ours) <= 33:
            break
        time.sleep(0.05)
    assert len(ours) <= 33


def test_same_type_and_values_at_every_size():
    pd = pytest.importorskip("pandas")
    f = L.calc_ptf_jabro1992
    for n in (5, 5000):
        s = pd.Series(np.linspace(10, 40, n), index=np.arange(n) * 2)
        got = parallel_apply(f, s, s, 1.4, chunk_size=100)
        assert isinstance(got, pd.Series)
        assert_same_bits(got.to_numpy(), f(s.to_numpy(), s.to_numpy(), 1.4))
        # Python numbers and float32 arrays take the same loop.
        x32 = np.linspace(10, 40, n, dtype=np.float32)
        assert_same_bits(parallel_apply(f, x32, 20, 1.4, chunk_size=100),
                         f(x32.astype(np.float64), 20.0, 1.4))
