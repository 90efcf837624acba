"""Contract of every registered ufunc of both extension modules, _loamara
and loamara._curves: registration, types, layouts, in-place use and empty
calls.  Parametrized over the modules' own ufuncs, so a family is covered
the moment its rows are registered."""
import numpy as np
import pytest

import _loamara
import loamara._curves as _curves
import loamara._more as _more
from ptfcheck import (CURVE_ROWS, EXPECTED_ROWS, INDEX_DTYPES, MORE_ROWS,
                      UINT32_INPUT, all_ufuncs, assert_same_bits, bits,
                      input_dtype, registered_names)

NAMES = registered_names()
CURVE_NAMES = registered_names(_curves)
MORE_NAMES = registered_names(_more)
UFUNCS = all_ufuncs()
# Every loop: (name, input dtype), the index ufunc once per index type.
LOOPS = [pytest.param(n, t, id=f"{n}-{np.dtype(t).name}")
         for n in UFUNCS
         for t in (INDEX_DTYPES if n in UINT32_INPUT else (np.float64,))]


@pytest.fixture(autouse=True)
def quiet_fp():
    # Random inputs leave the domain of some logarithms and powers.
    with np.errstate(all="ignore"):
        yield
STANDARD_ATTRS = {"__name__", "__doc__", "__package__", "__loader__",
                  "__spec__", "__file__"}


def test_registration_order_and_counts():
    built = set(NAMES)
    expected = [row for row in EXPECTED_ROWS if row[0] in built]
    assert [(n, getattr(_loamara, n).nin, getattr(_loamara, n).nout)
            for n in NAMES] == expected
    assert len(NAMES) == 176
    assert NAMES[0] == "calc_ptf_ahuja1984"
    assert NAMES[-1] == "calc_ptf_zhao2016_m2_6"


def test_module_has_nothing_else():
    assert _loamara.__doc__ is None
    assert set(vars(_loamara)) - set(NAMES) <= STANDARD_ATTRS
    for missing in ("calc_ptf_gunarathna2019_vwc1500_set2",
                    "calc_ptf_lal1979_group_i_upper_plastic_limit_from_sand"):
        assert not hasattr(_loamara, missing)
    assert not set(CURVE_NAMES) & set(vars(_loamara))
    assert not set(MORE_NAMES) & set(vars(_loamara))


def test_curves_registration_and_nothing_else():
    assert [(n, getattr(_curves, n).nin, getattr(_curves, n).nout)
            for n in CURVE_NAMES] == CURVE_ROWS
    assert _curves.__name__ == "loamara._curves"
    assert _curves.__doc__ is None
    assert set(vars(_curves)) - set(CURVE_NAMES) <= STANDARD_ATTRS


def test_more_registration_and_nothing_else():
    assert [(n, getattr(_more, n).nin, getattr(_more, n).nout)
            for n in MORE_NAMES] == MORE_ROWS
    assert _more.__name__ == "loamara._more"
    assert _more.__doc__ is None
    assert set(vars(_more)) - set(MORE_NAMES) <= STANDARD_ATTRS
    assert not set(MORE_NAMES) & set(CURVE_NAMES)


# Input types the promoter sends to each loop: the row's float64 loop, and
# the two loops of the class index.
PROMOTED = {
    np.float64: [np.float32, np.int64, np.uint8, np.bool_],
    np.uint32: [np.uint8, np.uint16, np.bool_],
    np.int64: [np.int8, np.int16, np.int32, np.intc, np.longlong, np.uint64,
               np.ulonglong],
}


@pytest.mark.parametrize("name, dt", LOOPS)
def test_loops_with_row_types(name, dt):
    uf = UFUNCS[name]
    assert uf.__name__ == name
    assert uf.identity is None
    assert uf.ntypes == 0 and uf.types == []  # no legacy loops
    ins = (np.dtype(dt),) * uf.nin
    outs = (np.dtype(np.float64),) * uf.nout
    assert uf.resolve_dtypes(ins + (None,) * uf.nout) == ins + outs
    # The promoter sends other input types to this loop.
    for other in PROMOTED[dt]:
        assert uf.resolve_dtypes((np.dtype(other),) * uf.nin +
                                 (None,) * uf.nout) == ins + outs
    other = np.dtype(np.uint16 if name in UINT32_INPUT else np.float32)
    # A loop type the caller insists on does not exist.
    with pytest.raises(TypeError):
        uf.resolve_dtypes((None,) * uf.nin + (other,) * uf.nout,
                          signature=(other,) * (uf.nin + uf.nout))


# Operand types NumPy converts under the default casting, and one value of
# each that converts exactly to the row's type.
CONVERTED = {
    "float64": [np.float32, np.float16, np.int64, np.int8, np.uint32,
                np.bool_, np.longdouble, float, int],
    "uint32": [np.uint8, np.uint16, np.uint32, np.bool_, np.int8, np.int16,
               np.int32, np.int64, np.uint64, int],
}


@pytest.mark.parametrize("name", UFUNCS)
def test_other_operand_types_take_the_same_loop(name):
    uf = UFUNCS[name]
    dt = input_dtype(name)
    xs = [np.array([1.0, 2.0, 0.0, 3.0]) + k for k in range(uf.nin)]
    ref = as_tuple(uf(*[x.astype(dt) for x in xs]))
    for t in CONVERTED[np.dtype(dt).name]:
        if t in (float, int):  # plain Python numbers, element by element
            got = [as_tuple(uf(*[t(x[i]) for x in xs])) for i in range(4)]
            got = tuple(np.array([g[j] for g in got])
                        for j in range(uf.nout))
            want = ref
        else:
            got = as_tuple(uf(*[x.astype(t) for x in xs]))
            want = as_tuple(uf(*[x.astype(t).astype(dt) for x in xs]))
        for g, r in zip(got, want):
            assert g.dtype == np.float64
            assert_same_bits(g, r)
    # Types that do not convert under same_kind casting: NumPy's error.
    bad_types = [np.complex128, np.str_, object, "M8[s]"]
    if name in UINT32_INPUT:  # a class index is no measurement
        bad_types += [np.float64, np.float32, float]
    for bad in bad_types:
        if bad is float:
            with pytest.raises(TypeError, match="Cannot cast"):
                uf(*[float(x[0]) for x in xs])
            continue
        with pytest.raises(TypeError, match="Cannot cast"):
            uf(*[x.astype(bad) for x in xs])
    # The loop itself casts nothing, so the strictest casting accepts
    # operands of the row's own types.
    for t in INDEX_DTYPES if name in UINT32_INPUT else (dt,):
        exact = [x.astype(t) for x in xs]
        for casting in ("no", "equiv", "safe"):
            for g, r in zip(as_tuple(uf(*exact, casting=casting)), ref):
                assert_same_bits(g, r)
    if name in UINT32_INPUT:
        # An int32 index needs a cast to the int64 loop, which "no" refuses
        # and "unsafe" allows.
        with pytest.raises(TypeError, match="casting rule 'no'"):
            uf(xs[0].astype(np.int32), casting="no")
        got = as_tuple(uf(xs[0].astype(np.int32), casting="unsafe"))
        for g, r in zip(got, ref):
            assert_same_bits(g, r)


def random_inputs(name, n, rng, dt=np.float64):
    uf = UFUNCS[name]
    if name in UINT32_INPUT:
        # Indices in and out of the table; negative ones for int64.
        low = -6 if dt == np.int64 else 0
        return [rng.integers(low, 16, n).astype(dt)]
    # Positive values of a plausible size keep most formulas finite; NaN
    # results are compared bit for bit like any other value.
    xs = [rng.uniform(0.05, 60.0, n) for _ in range(uf.nin)]
    if name in CURVE_NAMES:
        # The curves' first input also at and below saturation (h <= 0,
        # theta above theta_s), exactly 0 and NaN, so that every segment
        # and select is reached in every layout.
        first = rng.uniform(-20.0, 60.0, n)
        first[::7] = 0.0
        first[3::11] = np.nan
        xs[0] = first
    return xs


def as_tuple(res):
    return res if isinstance(res, tuple) else (res,)


@pytest.mark.parametrize("name, dt", LOOPS)
def test_layouts_agree_bit_for_bit(name, dt):
    uf = UFUNCS[name]
    rng = np.random.default_rng(abs(hash(name)) % 2**32)
    n = 150  # two blocks of the strided loop and a remainder
    xs = random_inputs(name, n, rng, dt)
    ref = as_tuple(uf(*xs))

    # Every second element, inputs and outputs.
    wide = [np.repeat(x, 2) for x in xs]
    outs = tuple(np.full(2 * n, -1.0) for _ in range(uf.nout))
    got = as_tuple(uf(*[w[::2] for w in wide], out=tuple(o[::2] for o in outs)))
    for g, r, o in zip(got, ref, outs):
        assert_same_bits(g, r)
        assert np.all(o[1::2] == -1.0)  # nothing written between elements

    # Negative strides.
    got = as_tuple(uf(*[x[::-1] for x in xs]))
    for g, r in zip(got, ref):
        assert_same_bits(g[::-1], r)

    # A broadcast (zero-stride) first input against a materialised copy.
    first = xs[0][:1]
    bcast = as_tuple(uf(first, *xs[1:])) if uf.nin > 1 else as_tuple(
        uf(np.broadcast_to(first, (n,))))
    full = as_tuple(uf(np.repeat(first, n), *xs[1:]))
    for g, r in zip(bcast, full):
        assert_same_bits(g, r)

    # 2-D, Fortran order and a large call.
    grid = [np.asfortranarray(np.resize(x, (5, 7))) for x in xs]
    got2 = as_tuple(uf(*grid))
    for g, x_out in zip(got2, as_tuple(uf(*[np.ascontiguousarray(a) for a in grid]))):
        assert_same_bits(g, x_out)
    big = [np.resize(x, 20001) for x in xs]
    for g, r in zip(as_tuple(uf(*big)), ref):
        assert_same_bits(g[:n], r)


def unaligned(x):
    """A copy of x at an odd byte offset: not aligned for its type."""
    buf = np.zeros(x.nbytes + 1, dtype=np.uint8)
    view = buf[1:].view(x.dtype)
    view[...] = x
    assert not view.flags.aligned
    return view


@pytest.mark.parametrize("name, dt", LOOPS)
def test_unaligned_byteswapped_out_and_where(name, dt):
    # NumPy hands these layouts to the loops through its buffers and casts;
    # each must give the packed call's values, and where= must leave the
    # masked-out elements of out= as they were.
    uf = UFUNCS[name]
    n = 37
    xs = random_inputs(name, n, np.random.default_rng(11), dt)
    ref = as_tuple(uf(*xs))
    layouts = {
        "unaligned inputs": ([unaligned(x) for x in xs], None),
        "byte-swapped inputs": ([x.astype(x.dtype.newbyteorder())
                                 for x in xs], None),
        "unaligned outputs": (xs, [unaligned(np.zeros(n))
                                   for _ in range(uf.nout)]),
        "byte-swapped outputs": (xs, [np.zeros(n, ">f8" if np.little_endian
                                               else "<f8")
                                      for _ in range(uf.nout)]),
    }
    for what, (ins, outs) in layouts.items():
        kw = {} if outs is None else {"out": tuple(outs)}
        got = as_tuple(uf(*ins, **kw))
        for g, r in zip(got, ref):
            assert_same_bits(g, r)
            if name in UINT32_INPUT:  # the defined NaN survives the copies
                assert (bits(g) == bits(r)).all(), what
    mask = np.arange(n) % 3 != 1
    outs = tuple(np.full(n, -7.0) for _ in range(uf.nout))
    got = as_tuple(uf(*xs, out=outs, where=mask))
    for g, o, r in zip(got, outs, ref):
        assert g is o
        assert_same_bits(g[mask], r[mask])
        assert np.all(g[~mask] == -7.0)


@pytest.mark.parametrize("name", [n for n in UFUNCS if n not in UINT32_INPUT])
def test_in_place_equals_fresh_output(name):
    uf = UFUNCS[name]
    rng = np.random.default_rng(7)
    xs = random_inputs(name, 50, rng)
    fresh = as_tuple(uf(*xs))
    work = [x.copy() for x in xs]
    # Output j overwrites input j (as far as there are inputs).
    outs = tuple(work[j] if j < uf.nin else np.empty(50) for j in range(uf.nout))
    got = as_tuple(uf(*work, out=outs))
    for j, (g, r) in enumerate(zip(got, fresh)):
        assert_same_bits(g, r)
        if j < uf.nin:
            assert g is work[j]
    # Every output on the first input.
    work = [x.copy() for x in xs]
    got = uf(*work, out=(work[0],) * 1) if uf.nout == 1 else None
    if got is not None:
        assert_same_bits(got, fresh[0])


@pytest.mark.parametrize("name, dt", LOOPS)
def test_zero_length(name, dt):
    uf = UFUNCS[name]
    res = as_tuple(uf(*[np.empty(0, dtype=dt)] * uf.nin))
    assert len(res) == uf.nout
    for r in res:
        assert r.shape == (0,) and r.dtype == np.float64
    res = as_tuple(uf(*[np.empty((3, 0), dtype=dt)] * uf.nin))
    assert all(r.shape == (3, 0) for r in res)


TWO_TO_ONE = [n for n in UFUNCS
              if UFUNCS[n].nin == 2 and UFUNCS[n].nout == 1]


@pytest.mark.parametrize("name", TWO_TO_ONE)
def test_reduce_and_accumulate_fold_element_by_element(name):
    # A reduction feeds each element's output back as the next element's
    # first input through a zero-stride operand: the loops must not group
    # such elements.
    uf = UFUNCS[name]
    x = np.random.default_rng(5).uniform(0.2, 0.6, 300)
    acc = x[0]
    expected = [acc]
    for v in x[1:]:
        acc = uf(np.float64(acc), np.float64(v))
        expected.append(acc)
    assert_same_bits(uf.accumulate(x), expected)
    assert_same_bits(uf.reduce(x), expected[-1])
    assert_same_bits(uf.reduce(np.stack([x, x[::-1]]), axis=1),
                     [expected[-1], uf.reduce(x[::-1])])
