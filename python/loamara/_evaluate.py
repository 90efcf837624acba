"""Which function suits my soils: the applicable pedotransfer functions
evaluated against measured values, and ranked.

    ev = loamara.evaluate({"theta_33": "th33", "ksat": "ks"}, soils,
                          units={"sand": "%", "clay": "%", "th33": "%"})
    print(ev)                 # one ranking per kind
    ev.to_frame()             # the same as a table
    loamara.plot.evaluation(ev)   # predicted against measured

For each kind measured, the functions are the members of
:func:`loamara.ensemble` on the same soils (by the same rules: one general
variant per publication, curves included, ``members=`` and ``groups=`` as
there), each evaluated on every soil and compared with the measured value
wherever both are numbers: n, mean error (bias, predicted minus measured),
mean absolute error, root mean square error and the coefficient of
determination R2 = 1 - SS_res / SS_tot (about the mean of the measured
values; it is negative for a function worse than that mean).  For kinds
summarised in log10 (conductivities, alpha, air-entry suction) the same
measures are taken on log10 of the values as well, over the pairs where
both are positive, and the ranking is by the RMSE of log10; otherwise by
the RMSE.  Physically impossible predictions are kept: they are what the
function predicts.

Measured values are a Mapping of kind to values: arrays or Series aligned
with the soils, or the name of a column of ``soils`` (which is then not
taken as a predictor).  Any object that supplies measured values at the
suction of a kind plugs in the same way: a Mapping whose keys are kinds
(``loamara.kinds()[k].suction_kpa`` is the suction of a water content at a
fixed suction) and whose values are read only for the kinds evaluated
(``kinds=`` picks them from a Mapping that offers many).
"""
from __future__ import annotations

import argparse
import importlib
import sys
from collections.abc import Iterable, Mapping
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import numpy as np

from ._catalog import kinds as _kinds
from ._ensemble import DOMAIN_CHOICES, MEMBER_CHOICES, Ensemble, ensemble

__all__ = ["evaluate", "Evaluation", "METRICS", "add_parser", "run"]

METRICS = ("n", "bias", "mae", "rmse", "r2")
LOG_METRICS = ("n_log10", "bias_log10", "mae_log10", "rmse_log10",
               "r2_log10")


def _metrics(pred: np.ndarray, obs: np.ndarray) -> tuple[float, ...]:
    """n, bias, MAE, RMSE and R2 of the pairs where both are numbers."""
    ok = np.isfinite(pred) & np.isfinite(obs)
    n = int(np.count_nonzero(ok))
    if n == 0:
        return (0, np.nan, np.nan, np.nan, np.nan)
    p, o = pred[ok], obs[ok]
    err = p - o
    ss_res = float(np.sum(err * err))
    dev = o - np.mean(o)
    ss_tot = float(np.sum(dev * dev))
    r2 = 1.0 - ss_res / ss_tot if ss_tot > 0 else np.nan
    return (n, float(np.mean(err)), float(np.mean(np.abs(err))),
            float(np.sqrt(ss_res / n)), r2)


def _log_metrics(pred: np.ndarray, obs: np.ndarray) -> tuple[float, ...]:
    ok = (pred > 0) & (obs > 0)
    with np.errstate(all="ignore"):
        return _metrics(np.where(ok, np.log10(np.where(ok, pred, 1.0)),
                                 np.nan),
                        np.where(ok, np.log10(np.where(ok, obs, 1.0)),
                                 np.nan))


@dataclass(repr=False)
class Evaluation:
    """The functions of each measured kind ranked against the measured
    values.  ``rows`` holds one dict per kind and function, best first
    within each kind (``rank`` 1); ``ensembles`` the predictions (an
    :class:`~loamara.Ensemble` per kind) and ``measured`` the measured
    values in the kind's unit."""

    rows: list[dict[str, Any]]
    ensembles: dict[str, Ensemble]
    measured: dict[str, np.ndarray]
    notes: list[str] = field(default_factory=list)

    def ranking(self, kind: str) -> list[str]:
        """The functions for ``kind``, best first."""
        return [r["ptf"] for r in self.rows if r["kind"] == kind]

    def to_frame(self) -> Any:
        """The rows as a pandas DataFrame."""
        pd: Any = importlib.import_module("pandas")
        return pd.DataFrame(self.rows)

    def __repr__(self) -> str:
        return ("<Evaluation of " + ", ".join(
            f"{k} ({len(self.ranking(k))} functions, "
            f"{int(np.isfinite(v).sum())} measured)"
            for k, v in self.measured.items()) + ">")

    def __str__(self) -> str:
        out = []
        for kind in self.measured:
            e = self.ensembles[kind]
            log = e.summary == "log"
            cols = [*METRICS, *(LOG_METRICS if log else ())]
            rows = [r for r in self.rows if r["kind"] == kind]
            width = max([len(r["ptf"]) for r in rows] + [8])
            out.append(f"{kind} [{e.unit}]: ranked by "
                       + ("rmse_log10" if log else "rmse"))
            out.append(f"  {'rank':>4}  {'function':<{width}}"
                       + "".join(f"{c:>12}" for c in cols))
            for r in rows:
                cells = "".join(f"{r[c]:>12d}" if isinstance(r[c], int)
                                else f"{r[c]:>12.4g}" for c in cols)
                out.append(f"  {r['rank']:>4}  {r['ptf']:<{width}}{cells}")
        out += self.notes
        return "\n".join(out)


def evaluate(measured: Mapping[str, Any], soils: Any = None, *,
             units: Mapping[str, str] | None = None,
             measured_units: Mapping[str, str] | None = None,
             preset: Any = None, names: Mapping[str, str] | None = None,
             kinds: Iterable[str] | None = None,
             members: str = "default", groups: Iterable[str] | None = None,
             ptfs: Iterable[str] | None = None, check: str = "warn",
             threads: int | None = None, **inputs: Any) -> Evaluation:
    """Every applicable function for each measured kind, evaluated on
    ``soils`` (a DataFrame, Dataset or dict of columns; keyword inputs as
    for :func:`loamara.ensemble`) and ranked against ``measured`` (kind ->
    values or a column of ``soils``).  ``units`` gives the units of the
    columns, measured ones included; ``measured_units`` those of measured
    values given as arrays (default: the kind's unit).  ``kinds`` picks
    the kinds to evaluate; ``members``, ``groups``, ``ptfs``, ``names``,
    ``preset`` and ``check`` are as for :func:`loamara.ensemble`."""
    from . import units as u

    chosen = list(kinds) if kinds is not None else list(measured)
    for k in chosen:
        if k not in _kinds():
            raise ValueError(f"measured: unknown kind {k!r}")
        if k not in measured:
            raise ValueError(f"kinds names {k!r}, which is not measured")
    columns = {k: measured[k] for k in chosen
               if isinstance(measured[k], str)}
    data = soils
    if columns:
        if soils is None:
            raise ValueError("measured values named by column need soils")
        missing = [c for c in columns.values() if c not in _keys(soils)]
        if missing:
            raise ValueError("measured: no column " + ", ".join(
                map(repr, missing)) + " in soils; its columns are: "
                + ", ".join(map(str, _keys(soils))))
        data = _without(soils, set(columns.values()))
    soil_units = {k: v for k, v in (units or {}).items()
                  if k not in columns.values()}
    rows: list[dict[str, Any]] = []
    notes: list[str] = []
    ensembles: dict[str, Ensemble] = {}
    obs_of: dict[str, np.ndarray] = {}
    for kind in chosen:
        col = columns.get(kind)
        value = measured[kind] if col is None else soils[col]
        unit = ((units or {}).get(col) if col is not None
                else (measured_units or {}).get(kind))
        obs = np.asarray(getattr(value, "values", value),
                         dtype=np.float64).reshape(-1)
        target = _kinds()[kind].unit or ""
        if unit:
            obs = np.asarray(u.conversion(unit, target).apply(obs))
        e = ensemble(kind, data, units=soil_units or None, preset=preset,
                     names=names, members=members, groups=groups,
                     ptfs=ptfs, check=check, threads=threads,
                     keep_outside=True, **inputs)
        pred = np.asarray(e.members, dtype=np.float64)
        if pred.ndim == 1:
            pred = pred[None, :]
        if getattr(e.members, "dims", None) is not None:
            pred = np.moveaxis(np.asarray(e.members), 0, -1)
        pred = pred.reshape(-1, len(e.names))
        if pred.shape[0] != obs.size:
            raise ValueError(f"measured {kind}: {obs.size} values for "
                             f"{pred.shape[0]} soils")
        log = e.summary == "log"
        found = []
        for j, name in enumerate(e.names):
            row: dict[str, Any] = {"kind": kind, "ptf": name}
            row.update(zip(METRICS, _metrics(pred[:, j], obs)))
            if log:
                row.update(zip(LOG_METRICS, _log_metrics(pred[:, j], obs)))
            row["reason"] = e.reasons.get(name, "")
            found.append(row)
        key = "rmse_log10" if log else "rmse"
        found.sort(key=lambda r: (not np.isfinite(r[key]), r[key], r["ptf"]))
        for rank, row in enumerate(found, 1):
            row["rank"] = rank
        rows += found
        ensembles[kind], obs_of[kind] = e, obs
        notes += [f"{kind}: {name} is not ranked: {why}"
                  for name, why in e.omitted.items()]
    return Evaluation(rows, ensembles, obs_of, notes)


def _keys(data: Any) -> list[Any]:
    return (list(data.data_vars) if hasattr(data, "data_vars") else
            list(data.columns) if hasattr(data, "columns") else
            list(data.keys()))


def _without(data: Any, drop: set[str]) -> Any:
    """The soils without the measured columns (never predictors)."""
    if hasattr(data, "drop_vars"):
        return data.drop_vars(list(drop))
    if hasattr(data, "drop") and hasattr(data, "columns"):
        return data.drop(columns=list(drop))
    return {k: v for k, v in data.items() if k not in drop}


# ---------------------------------------------------------------------------
# Command line: loamara evaluate SOILS --measured KIND=COLUMN ...


def add_parser(sub: Any, data_options: Any) -> None:
    """The ``evaluate`` subcommand; ``data_options`` adds the shared
    --map/--units/--preset/--check options."""
    from .io import label_text

    p = sub.add_parser(
        "evaluate", help="rank the functions against measured values",
        description="Evaluate every applicable function for each measured "
        f"kind on the soils of a table ({label_text('table')}) and rank "
        "them by "
        "their error against the measured column: n, bias, MAE, RMSE, R2 "
        "(and the same on log10 for conductivities, alpha and air-entry "
        "suction, ranked by the RMSE of log10).")
    p.add_argument("input", help="table of soils with measured columns")
    p.add_argument("--measured", action="append", default=[], required=True,
                   metavar="KIND=COLUMN",
                   help="a measured kind and its column, e.g. "
                   "theta_33=TH33 or ksat=KS_MMH (repeatable; the column's "
                   "unit by --units, else the kind's unit)")
    data_options(p)
    add_member_options(p)
    p.add_argument("--plot", metavar="FILE",
                   help="also draw predicted against measured, one panel "
                   "per function with the 1:1 line (.png, .pdf, .svg)")
    p.set_defaults(func=run)


def add_member_options(p: argparse.ArgumentParser,
                       statistics: bool = False) -> None:
    """The options choosing the functions of ``evaluate`` and ``ensemble``
    (and, with ``statistics``, those of the ensemble's statistics)."""
    p.add_argument("--members", choices=MEMBER_CHOICES, default="default",
                   help="default: one general variant per publication and "
                   "kind, curves included; all: every function with the "
                   "output")
    p.add_argument("--group", action="append", default=[], metavar="NAME",
                   help="take the variants fitted to this soil group or "
                   "region (e.g. 'Calcic Cambisol') in place of their "
                   "publication's general variant (repeatable)")
    p.add_argument("--ptf", action="append", default=[], metavar="NAME",
                   help="only these functions (repeatable)")
    if not statistics:
        return
    p.add_argument("--keep-outside", action="store_true",
                   help="keep physically impossible member values in the "
                   "statistics (they are counted in n_outside either way)")
    p.add_argument("--domain", choices=DOMAIN_CHOICES, default="keep",
                   help="strict: leave out members whose inputs are outside "
                   "their established calibration ranges (counted in "
                   "n_extrapolated either way)")
    p.add_argument("--weights", choices=("rmse",),
                   help="rmse: add the mean weighted by the inverse "
                   "square of each member's published RMSE")


def ensemble_options(args: argparse.Namespace) -> dict[str, Any]:
    """The keyword arguments of :func:`loamara.ensemble` that the options
    of :func:`add_member_options` give."""
    out: dict[str, Any] = {"members": args.members,
                           "groups": args.group or None}
    for name in ("keep_outside", "domain", "weights"):
        if hasattr(args, name):
            out[name] = getattr(args, name)
    return out


def run(args: argparse.Namespace) -> int:
    from ._applicable import kind_of
    from ._commands._options import mapping as _mapping
    from ._commands._options import pairs as _pairs
    from ._commands._options import unit_options as _unit_options
    from ._errors import RunError, TableError
    from ._run import cli_text
    from .io import read_columns, read_header
    from .presets import get as get_preset

    source = Path(args.input)
    measured = dict(_pairs(args.measured, "--measured", "KIND=COLUMN"))
    units = _unit_options(args.units, "--units", "COLUMN=UNIT")
    mapping = _mapping(args.map)
    plot_to = Path(args.plot) if args.plot else None
    if plot_to is not None:
        from ._plotcli import check_figure_path
        check_figure_path(plot_to)
    try:
        header = read_header(source, args.delimiter)
        missing = [c for c in [*measured.values(), *mapping.values()]
                   if c not in header]
        if missing:
            raise RunError(f"{source}: no column " + ", ".join(
                map(repr, missing)) + "; the header has: "
                + ", ".join(map(repr, header)))
        names = {col: name for name, col in mapping.items()}
        base = get_preset(args.preset) if args.preset else None
        wanted = [h for h in header if h in measured.values()
                  or kind_of(names.get(h, h), base) is not None]
        data = read_columns(source, header,
                            dict.fromkeys(wanted, "a column of the soils"),
                            args.delimiter, rows=1 << 16)
    except TableError as exc:
        raise RunError(str(exc)) from None
    import warnings

    from ._run import WarningPrinter
    records: list[warnings.WarningMessage] = []
    try:
        with warnings.catch_warnings(record=True) as records:
            warnings.simplefilter("always")
            ev = evaluate(measured, data,
                          units={k: v for k, v in units.items()
                                 if k in data} or None,
                          preset=args.preset,
                          names={c: n for c, n in names.items()
                                 if c in data},
                          ptfs=args.ptf or None, check=args.check,
                          **ensemble_options(args))
    except (TypeError, ValueError) as exc:
        raise RunError(cli_text(str(exc))) from None
    finally:  # the warnings of the data, also when the run fails
        WarningPrinter().add(records)
    sys.stdout.write(str(ev) + "\n")
    if plot_to is not None:
        from . import plot
        from ._plotcli import save_figures
        save_figures([(plot.evaluation(ev), plot_to)])
        print(f"figure written to {plot_to}", file=sys.stderr)
    return 0

