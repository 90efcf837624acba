"""Every ufunc of _loamara and loamara._curves on one fixed input set, so
that two builds (two compilers) can be compared bit for bit.

    python ufunc_bits.py write OUT.npz     outputs of the installed build
    python ufunc_bits.py compare A.npz B.npz

The inputs come from a seeded generator and are the same in every run: for
each ufunc 4096 elements per float64 input, mostly in 0.01 to 100 (the
range of percentages, densities and suctions), some in -5 to 5, and a few
special values (0, -0, 1, NaN, +-inf, the smallest normal, a huge value);
uint32 inputs (class indices) from 0 to 15.  Each ufunc is called on packed
arrays (its contiguous loop) and on every second element of them (its
strided loop); floating-point warnings are silenced, the values are kept.
compare reports every output that differs in any bit (signs of zero
included) and exits 1 if there is one.  A NaN matches a NaN whatever its
sign and payload: IEEE 754 does not specify them, and on x86-64 they follow
the order of the operands the compiler chose for a commutative operation
(NaN + x and x + NaN), which two compilers may choose differently; the
number of such NaNs is reported.
"""
import sys

import numpy as np

N = 4096
SPECIAL = np.array([0.0, -0.0, 1.0, np.nan, np.inf, -np.inf,
                    np.finfo(np.float64).tiny, 1e300])


def ufuncs():
    import _loamara
    from loamara import _curves
    for module in (_loamara, _curves):
        for name in sorted(vars(module)):
            f = getattr(module, name)
            if isinstance(f, np.ufunc):
                yield f"{module.__name__}.{name}", f


def inputs(f, seed):
    rng = np.random.default_rng(seed)
    arrays = []
    f64 = np.dtype(np.float64)
    try:
        f.resolve_dtypes((f64,) * f.nin + (None,) * f.nout)
        types = [f64] * f.nin
    except TypeError:  # the one uint32 loop: a class index
        types = [np.dtype(np.uint32)] * f.nin
    for dtype in types:
        if dtype == np.uint32:
            arrays.append(rng.integers(0, 16, N, dtype=np.uint32))
            continue
        x = rng.uniform(0.01, 100.0, N)
        x[::7] = rng.uniform(-5.0, 5.0, x[::7].size)
        x[:SPECIAL.size] = rng.permutation(SPECIAL)
        arrays.append(x)
    return arrays


def write(path):
    out = {}
    with np.errstate(all="ignore"):
        for seed, (name, f) in enumerate(ufuncs()):
            xs = inputs(f, seed)
            for layout, args in (("packed", xs), ("strided", [x[::2] for x in xs])):
                ys = f(*args)
                ys = ys if isinstance(ys, tuple) else (ys,)
                for j, y in enumerate(ys):
                    out[f"{name}/{layout}/{j}"] = np.ascontiguousarray(y)
    np.savez(path, **out)
    print(f"ufunc_bits: {len(out)} outputs written to {path}")


def compare(a_path, b_path):
    a, b = np.load(a_path), np.load(b_path)
    bad = sorted(set(a.files) ^ set(b.files))
    nan_bits = 0
    for key in sorted(set(a.files) & set(b.files)):
        x, y = a[key], b[key]
        if x.dtype != y.dtype or x.shape != y.shape:
            bad.append(key)
            continue
        differ = x.view(np.uint64) != y.view(np.uint64)
        nans = np.isnan(x) & np.isnan(y)
        if (differ & ~nans).any():
            bad.append(key)
        nan_bits += int((differ & nans).sum())
    for key in bad:
        print(f"ufunc_bits: {key} differs between {a_path} and {b_path}")
    if bad:
        return 1
    print(f"ufunc_bits: all {len(a.files)} outputs bit-identical "
          f"({nan_bits} NaNs differ in sign or payload only)")
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "write":
        write(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "compare":
        sys.exit(compare(sys.argv[2], sys.argv[3]))
    else:
        sys.exit(__doc__)
