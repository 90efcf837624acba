"""Edge inputs: zeros, subnormals, negatives, infinities, NaN and values that
make logarithms and powers invalid.  Every float64 ufunc gives the same
values, bit for bit (a NaN equals any NaN), and raises the same
floating-point flags for an element whether it is evaluated alone, inside a
contiguous call (where the loops may group elements, vectorise them or run
them in strips) or inside a strided call (element by element)."""
import zlib

import numpy as np
import pytest

import _loamara
from ptfcheck import (UINT32_INPUT, as_tuple, assert_same_bits, edge_inputs,
                      fp_flags, registered_names)

NAMES = [n for n in registered_names() if n not in UINT32_INPUT]


def rng_for(name, salt=0):
    """The same inputs for a ufunc in every run."""
    return np.random.default_rng(zlib.crc32(name.encode()) + salt)


@pytest.mark.parametrize("name", NAMES)
def test_edge_values_agree_across_layouts(name):
    uf = getattr(_loamara, name)
    rng = rng_for(name)
    n = 1000  # several strips of the staged loops and a remainder
    xs = edge_inputs(uf.nin, n, rng)
    with np.errstate(all="ignore"):
        ref = as_tuple(uf(*xs))
        wide = [np.repeat(x, 2)[::2] for x in xs]
        strided = as_tuple(uf(*wide))
        in_place = [x.copy() for x in xs]
        outs = tuple(in_place[j] if j < uf.nin else np.empty(n)
                     for j in range(uf.nout))
        got_in_place = as_tuple(uf(*in_place, out=outs))
        singles = [as_tuple(uf(*[x[i:i + 1] for x in xs])) for i in
                   range(0, n, 37)]
    for j in range(uf.nout):
        assert_same_bits(strided[j], ref[j])
        assert_same_bits(got_in_place[j], ref[j])
        assert_same_bits(np.concatenate([s[j] for s in singles]),
                         ref[j][::37])


def clean_point(uf):
    """Inputs of a plausible size at which the ufunc raises no flag."""
    for v in (0.3, 2.0, 20.0, 0.05):
        point = [v * (1 + 0.1 * k) for k in range(uf.nin)]
        flags, _ = fp_flags(lambda: uf(*[np.full(1, p) for p in point]))
        if flags == 0:
            return point
    raise AssertionError(f"no clean point for {uf.__name__}")


@pytest.mark.parametrize("name", NAMES)
def test_flags_of_an_element_do_not_depend_on_the_layout(name):
    uf = getattr(_loamara, name)
    rng = rng_for(name, 1)
    clean = clean_point(uf)
    n = 300
    edges = edge_inputs(uf.nin, 40, rng)
    for i in range(40):
        pos = (37 * i) % n  # inside and at the ends of strips and vectors
        alone, out1 = fp_flags(lambda: uf(*[x[i:i + 1] for x in edges]))
        arrays = [np.full(n, c) for c in clean]
        for a, x in zip(arrays, edges):
            a[pos] = x[i]
        packed, outc = fp_flags(lambda: uf(*arrays))
        strided, outs = fp_flags(
            lambda: uf(*[np.repeat(a, 2)[::2] for a in arrays]))
        assert alone == packed == strided, (
            f"element {[x[i] for x in edges]} at {pos}: flags alone "
            f"{alone}, in a packed call {packed}, strided {strided}")
        for o1, oc, os_ in zip(as_tuple(out1), as_tuple(outc),
                               as_tuple(outs)):
            assert_same_bits(oc[pos:pos + 1], o1)
            assert_same_bits(os_[pos:pos + 1], o1)
