"""Many threads in the same ufunc at once: NumPy runs our loops without the
interpreter lock (flags 0), so they must be re-entrant."""
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import _loamara as L
from ptfcheck import assert_same_bits


def test_concurrent_calls_equal_serial():
    rng = np.random.default_rng(3)
    sand = rng.uniform(0.1, 0.6, 200_000)
    clay = rng.uniform(0.05, 0.35, 200_000)
    om = rng.uniform(0.5, 5.0, 200_000)
    silt, bd = sand * 100, clay * 5
    serial = [L.calc_ptf_saxton2006(sand, clay, om),
              (L.calc_ptf_jabro1992(silt, silt, bd),)]

    def work(i):
        if i % 2:
            return (L.calc_ptf_jabro1992(silt, silt, bd),)
        return L.calc_ptf_saxton2006(sand, clay, om)

    with ThreadPoolExecutor(max_workers=8) as pool:
        results = list(pool.map(work, range(32)))
    for i, res in enumerate(results):
        for got, ref in zip(res, serial[i % 2]):
            assert_same_bits(got, ref)
