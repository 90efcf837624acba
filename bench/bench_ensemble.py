"""What an ensemble costs on top of evaluating its members.

The default ksat ensemble of soils given as sand, silt, clay (percent),
organic carbon (percent) and bulk density, on 10**6 soils (NumPy arrays),
against the same members evaluated one by one through loamara.estimate
with the checks off and converted to the ensemble's unit, timed in the
same run (target: a ratio of at most 1.5).  The ensemble does the checks
(the default), finds its members, evaluates them and takes the
statistics across them.  Also ``members="all"``, for comparison.

Rosetta (the rosetta-soil package, where it is installed) is left out
unless --with-rosetta is given: its neural networks run in Python at
about 1,500 samples a second, so with it the run measures that package,
not the ensemble (it then takes ten minutes for each repetition).

Times are medians of --repeat repetitions, the two taken in turn.

Usage: python bench/bench_ensemble.py [--repeat 3] [--size 1e6]
       [--kind ksat] [--with-rosetta]
"""
from __future__ import annotations

import argparse
import statistics
import sys
import time
import warnings

import numpy as np

import loamara
from loamara._ensemble import given_preset, select_members

PCT = {"sand": "%", "silt": "%", "clay": "%", "oc": "%"}


def soils(n: int) -> dict[str, np.ndarray]:
    rng = np.random.default_rng(0)
    sand = rng.uniform(5.0, 85.0, n)
    clay = np.minimum(rng.uniform(3.0, 55.0, n), 97.0 - sand)
    return {"sand": sand, "silt": 100.0 - sand - clay, "clay": clay,
            "oc": rng.uniform(0.2, 4.0, n), "bd": rng.uniform(1.1, 1.7, n)}


def median_times(fns, repeat: int) -> list[float]:
    """The median time of each function, the functions taken in turn in
    each repetition, so that each meets the memory the others leave."""
    times: list[list[float]] = [[] for _ in fns]
    for _ in range(repeat):
        for fn, t in zip(fns, times):
            t0 = time.perf_counter()
            fn()
            t.append(time.perf_counter() - t0)
    return [statistics.median(t) for t in times]


def members_alone(kind: str, data: dict[str, np.ndarray],
                  members: str) -> None:
    """Each member through estimate, checks off, in the kind's unit."""
    unit = loamara._catalog.kinds()[kind].unit
    _, given = given_preset(data, {}, PCT, None)
    for m in select_members(kind, given.variables, members=members):
        c = m.candidate
        used = {s.label for b in c.binding.inputs for s in b.sources}
        loamara.estimate(c.ptf, data={k: data[k] for k in used},
                         units={k: v for k, v in PCT.items() if k in used},
                         check="off", out_units={c.output.name: unit})


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--size", type=float, default=1e6)
    ap.add_argument("--kind", default="ksat")
    ap.add_argument("--with-rosetta", action="store_true")
    args = ap.parse_args()
    if not args.with_rosetta:
        sys.modules["rosetta"] = None  # type: ignore[assignment]
    data = soils(int(args.size))
    warnings.simplefilter("ignore")  # the random soils may warn
    print(f"{args.kind} ensemble of {int(args.size)} soils, median of "
          f"{args.repeat}")
    for members in ("default", "all"):
        e = loamara.ensemble(args.kind, data, units=PCT, members=members)
        alone, whole = median_times(
            [lambda: members_alone(args.kind, data, members),
             lambda: loamara.ensemble(args.kind, data, units=PCT,
                                      members=members)], args.repeat)
        print(f"  members={members!r}: {len(e.names)} members; alone "
              f"(checks off) {alone:.3f} s, ensemble {whole:.3f} s, "
              f"ratio {whole / alone:.2f}")


if __name__ == "__main__":
    main()
