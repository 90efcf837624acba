"""Fitting retention (and conductivity) curves to laboratory data.

    r = loamara.fit([10, 33, 100, 330, 1000, 15000], theta, model="vg",
                    h_unit="cm")
    r.params["alpha"], r.stderr["alpha"], r.ci["alpha"], r.aicc
    loamara.curve(r, [1, 10, 100], h_unit="kPa")   # the fitted curve
    r.measured()["theta_33"]                        # like a measurement

Least squares with :func:`scipy.optimize.least_squares` (the ``fit``
extra), every residual computed with the compiled curve ufuncs of
``loamara._curves``.  Models (``model=``):

* ``"vg"`` (``"van_genuchten"``): van Genuchten (1980) with m = 1 - 1/n;
  ``"vg_m"`` (``"van_genuchten_m"``): the same with m free;
* ``"bc"`` (``"brooks_corey"``): Brooks and Corey (1964);
* ``"campbell"``: Campbell (1974), theta_r = 0;
* ``"kosugi"``: Kosugi (1996), lognormal;
* ``"durner"``: Durner (1994), two van Genuchten pore systems, each with
  m = 1 - 1/n, the first the coarser (alpha_1 >= alpha_2);
* ``"best"``: all of them, ranked by AICc (see below).

Bounds: water contents in [0, 1], theta_r <= theta_s is not imposed (a
fit that crosses says so in its note); alpha, h_m, psi_b, psi_e, sigma,
lambda, b and Ks positive; n > 1 where m = 1 - 1/n (n > 0 with m free);
w_1 in [0, 1].  ``fixed={"theta_r": 0}`` holds parameters at given values.

Starting values come from a grid over the shape parameters, on which the
two water contents are solved in closed form (the curve is linear in
theta_r and theta_s), so a fit does not depend on a guess.

Conductivity data ``k`` (optional, for van Genuchten with m = 1 - 1/n,
Brooks and Corey, Campbell and Kosugi) are fitted jointly on a log10
scale: each residual is ``k_weight * (log10 K_model - log10 K_measured)``
(default weight 0.1: a decade of conductivity weighs as much as 0.1
cm^3/cm^3 of water content).  Mualem's pore connectivity L is 0.5 unless
``l="fit"``.

Statistics: the standard errors come from the Jacobian J at the optimum,
cov = s^2 (J^T J)^-1 with s^2 = SSR / (N - p); the 95 % intervals are
value +- t(0.975, N - p) * se.  A parameter held at a bound by the
optimiser gets no standard error (NaN) and is named in ``note``.  RMSE
and R2 are of the water contents; AIC = N ln(SSR/N) + 2k, AICc = AIC +
2k(k+1)/(N-k-1) and BIC = N ln(SSR/N) + k ln N with k = p + 1 (the error
variance counts).  ``"best"`` ranks by AICc rather than AIC because
retention data have few points per sample (5 to 15): AIC then favours the
models with more parameters (Burnham and Anderson 2002).

Heads are numbers in ``h_unit`` (any length of water column or pressure,
default cm) or a pint Quantity; the pressure parameters are reported in
``h_unit`` (alpha in 1/h_unit).  Water contents are volume fractions, or
in ``theta_unit`` (``"%"``).  Conductivities keep their own unit.
"""
from __future__ import annotations

import importlib
import math
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any, Callable

import numpy as np

from . import _curves
from .curves import Parameter

__all__ = ["FitError", "FitResult", "fit", "MODEL_NAMES"]

K_WEIGHT = 0.1
FLOOR_K = 1e-300   # conductivities below this are taken as this in log10


class FitError(ValueError):
    """Data that cannot be fitted, or a fit that did not converge."""


@dataclass(frozen=True)
class _Model:
    key: str            # the model's name in results
    curve: str          # the catalog's curve model
    label: str
    params: tuple[str, ...]
    lower: tuple[float, ...]
    upper: tuple[float, ...]
    pressure: dict[str, bool]      # pressure parameter -> is a reciprocal
    grid: Callable[[np.ndarray], dict[str, np.ndarray]]
    theta: Callable[..., Any]
    k: Callable[..., Any] | None = None
    k_params: tuple[str, ...] = ()


INF = math.inf


def _suctions(h: np.ndarray, lo: float = 0.1, hi: float = 10.0,
              num: int = 15) -> np.ndarray:
    pos = h[h > 0]
    a, b = (float(pos.min()), float(pos.max())) if pos.size else (1.0, 1e4)
    return np.geomspace(a * lo, b * hi, num)


def _vg_grid(h: np.ndarray) -> dict[str, np.ndarray]:
    return {"alpha": 1.0 / _suctions(h),
            "n": np.array([1.05, 1.1, 1.2, 1.35, 1.5, 1.8, 2.2, 2.8, 3.5,
                           5.0])}


def _vgm_grid(h: np.ndarray) -> dict[str, np.ndarray]:
    g = _vg_grid(h)
    g["m"] = np.array([0.1, 0.2, 0.35, 0.5, 0.7, 1.0])
    return g


def _vg_theta(h: Any, tr: Any, ts: Any, alpha: Any, n: Any,
              m: Any = None) -> Any:
    return _curves.calc_swrc_van_genuchten(
        h, tr, ts, alpha, n, 1.0 - 1.0 / np.asarray(n) if m is None else m)


MODELS: dict[str, _Model] = {
    "van_genuchten": _Model(
        "van_genuchten", "van_genuchten",
        "van Genuchten (1980), m = 1 - 1/n",
        ("theta_r", "theta_s", "alpha", "n"), (0, 0, 0, 1),
        (1, 1, INF, INF), {"alpha": True}, _vg_grid, _vg_theta,
        lambda h, ks, alpha, n, l: _curves.calc_hcc_mualem_van_genuchten(
            h, ks, alpha, n, l), ("ks", "alpha", "n", "l")),
    "van_genuchten_m": _Model(
        "van_genuchten_m", "van_genuchten", "van Genuchten (1980), m free",
        ("theta_r", "theta_s", "alpha", "n", "m"), (0, 0, 0, 0, 0),
        (1, 1, INF, INF, INF), {"alpha": True}, _vgm_grid,
        _curves.calc_swrc_van_genuchten),
    "brooks_corey": _Model(
        "brooks_corey", "brooks_corey", "Brooks and Corey (1964)",
        ("theta_r", "theta_s", "psi_b", "lambda"), (0, 0, 0, 0),
        (1, 1, INF, INF), {"psi_b": False},
        lambda h: {"psi_b": _suctions(h, 0.3, 1.0),
                   "lambda": np.array([0.05, 0.1, 0.2, 0.35, 0.5, 0.8, 1.2,
                                       2.0])},
        _curves.calc_swrc_brooks_corey,
        lambda h, ks, hb, lam: _curves.calc_hcc_brooks_corey(h, ks, hb, lam),
        ("ks", "psi_b", "lambda")),
    "campbell": _Model(
        "campbell", "campbell", "Campbell (1974)",
        ("theta_s", "psi_e", "b"), (0, 0, 0), (1, INF, INF),
        {"psi_e": False},
        lambda h: {"psi_e": _suctions(h, 0.3, 1.0),
                   "b": np.array([1.0, 2.0, 3.5, 5.0, 7.0, 10.0, 14.0,
                                  20.0])},
        _curves.calc_swrc_campbell),
    "kosugi": _Model(
        "kosugi", "kosugi", "Kosugi (1996)",
        ("theta_r", "theta_s", "h_m", "sigma"), (0, 0, 0, 0),
        (1, 1, INF, INF), {"h_m": False},
        lambda h: {"h_m": _suctions(h),
                   "sigma": np.array([0.3, 0.6, 1.0, 1.5, 2.0, 2.8, 4.0])},
        _curves.calc_swrc_kosugi,
        lambda h, ks, hm, sigma, l: _curves.calc_hcc_kosugi(h, ks, hm, sigma,
                                                            l),
        ("ks", "h_m", "sigma", "l")),
    "durner": _Model(
        "durner", "durner", "Durner (1994)",
        ("theta_r", "theta_s", "w_1", "alpha_1", "n_1", "alpha_2", "n_2"),
        (0, 0, 0, 0, 1, 0, 1), (1, 1, 1, INF, INF, INF, INF),
        {"alpha_1": True, "alpha_2": True},
        lambda h: {"w_1": np.array([0.2, 0.5, 0.8]),
                   "alpha_1": 1.0 / _suctions(h, 0.1, 1.0, 7),
                   "n_1": np.array([1.5, 2.5, 4.0]),
                   "alpha_2": 1.0 / _suctions(h, 1.0, 10.0, 7),
                   "n_2": np.array([1.1, 1.3, 1.6])},
        _curves.calc_swrc_durner),
}

ALIASES = {"vg": "van_genuchten", "vg_m": "van_genuchten_m",
           "bc": "brooks_corey"}
MODEL_NAMES = tuple(MODELS) + tuple(ALIASES) + ("best",)
_K_MODEL = {"campbell"}   # K(theta) rather than K(h)


def _campbell_k(h: Any, ks: Any, ts: Any, pe: Any, b: Any) -> Any:
    theta = _curves.calc_swrc_campbell(h, ts, pe, b)
    return _curves.calc_hcc_campbell(theta, ks, ts, b)


def model_key(model: str) -> str:
    key = ALIASES.get(model, model)
    if key not in MODELS and key != "best":
        raise FitError(f"unknown model {model!r}; choose one of "
                       + ", ".join(MODEL_NAMES))
    return key


# ---------------------------------------------------------------------------
# Results


@dataclass(frozen=True)
class FitResult:
    """A fitted curve: parameters with standard errors and 95 % intervals,
    goodness of fit, and the data it was fitted to.  ``loamara.curve``,
    ``loamara.plot.retention`` and :meth:`measured` evaluate it."""

    model: str
    label: str
    params: dict[str, float]
    stderr: dict[str, float]
    ci: dict[str, tuple[float, float]]
    units: dict[str, str]
    fixed: tuple[str, ...]
    n: int
    n_params: int
    ssr: float
    rmse: float
    r2: float
    aic: float
    aicc: float
    bic: float
    h_unit: str
    h: np.ndarray = field(repr=False)
    theta: np.ndarray = field(repr=False)
    k: np.ndarray | None = field(default=None, repr=False)
    k_weight: float = K_WEIGHT
    note: str = ""
    nfev: int = 0
    free: tuple[str, ...] = ()
    cov: np.ndarray | None = field(default=None, repr=False)
    t975: float = math.nan
    ranking: tuple[FitResult, ...] = field(default=(), repr=False)

    @property
    def name(self) -> str:
        return f"the fitted {self.label}"

    def curve_parameters(self, params: Mapping[str, Any] | None = None
                         ) -> tuple[str, dict[str, Parameter]]:
        """The curve model of the catalog and its parameters, for
        :func:`loamara.curve`."""
        out = {k: Parameter(v, self.units[k], "fitted")
               for k, v in self.params.items()}
        if self.model == "van_genuchten":
            out["m"] = Parameter(1.0 - 1.0 / self.params["n"],
                                 "dimensionless", "1 - 1/n")
        for k, v in (params or {}).items():
            out[k] = Parameter(v, self.units.get(k, "dimensionless"),
                               "given")
        return MODELS[self.model].curve, out

    def theta_at(self, h: Any, h_unit: str | None = None) -> np.ndarray:
        """Water content (volume fraction) of the fitted curve at the
        suctions ``h`` (in ``h_unit``, default the unit of the fit)."""
        from .curves import curve
        return curve(self, h, h_unit=h_unit or self.h_unit)

    def k_at(self, h: Any, h_unit: str | None = None,
             out_unit: str | None = None) -> np.ndarray:
        """Conductivity of the fitted curve at the suctions ``h``."""
        from .curves import curve
        return curve(self, h, "k", h_unit=h_unit or self.h_unit,
                     out_unit=out_unit)

    def theta_band(self, h: Any, h_unit: str | None = None
                   ) -> tuple[np.ndarray, np.ndarray]:
        """The 95 % confidence band of the fitted retention curve at the
        suctions ``h``: theta +- t * sqrt(g' cov g), g the gradient of
        theta in the free parameters (central differences)."""
        base = self.theta_at(h, h_unit)
        # Parameters held at a bound have no variance: they count as fixed.
        if self.cov is None:
            nan = np.full_like(base, np.nan)
            return nan, nan
        cov = self.cov
        keep = [i for i in range(len(self.free)) if np.isfinite(cov[i, i])]
        if not keep or not np.isfinite(cov[np.ix_(keep, keep)]).all():
            nan = np.full_like(base, np.nan)
            return nan, nan
        grads = []
        for i in keep:
            q = self.free[i]
            v = self.params[q]
            step = 1e-6 * max(abs(v), 1e-8)
            up = _replace(self, params={**self.params, q: v + step})
            dn = _replace(self, params={**self.params, q: v - step})
            grads.append((up.theta_at(h, h_unit) - dn.theta_at(h, h_unit))
                         / (2 * step))
        g = np.stack(grads, axis=-1)
        cov = cov[np.ix_(keep, keep)]
        var = np.einsum("...i,ij,...j->...", g, cov, g)
        half = self.t975 * np.sqrt(np.maximum(var, 0.0))
        return base - half, base + half

    def measured(self) -> dict[str, float]:
        """The fitted curve as measured-like values, by kind of the
        catalog: theta_s, the volumetric water contents at the catalog's
        fixed suctions (theta_10, theta_33, theta_1500, ...), and ksat
        (mm/h) where conductivity was fitted."""
        from ._catalog import kinds
        from . import units

        out: dict[str, float] = {"theta_s": self.params["theta_s"]}
        fixed = {k.name: k.suction_kpa for k in kinds().values()
                 if k.suction_kpa and k.basis == "volume"}
        values = self.theta_at(np.array(list(fixed.values()), float),
                               h_unit="kPa")
        out.update({k: float(v) for k, v in zip(fixed, values)})
        if "ks" in self.params:
            out["ksat"] = float(units.conversion(self.units["ks"], "mm/h")
                                .apply(self.params["ks"]))
        return out

    def table_row(self) -> dict[str, float]:
        """The numbers of the fit, one name each (``alpha``, ``alpha_se``,
        ``alpha_lo``, ``alpha_hi``, ..., ``rmse``, ``aicc``)."""
        row: dict[str, float] = {}
        for p, v in self.params.items():
            row[p] = v
            row[f"{p}_se"] = self.stderr[p]
            row[f"{p}_lo"], row[f"{p}_hi"] = self.ci[p]
        row.update(n_points=float(self.n), rmse=self.rmse, r2=self.r2, aic=self.aic,
                   aicc=self.aicc, bic=self.bic)
        return row


# ---------------------------------------------------------------------------
# Fitting


def _scipy() -> tuple[Any, Any]:
    try:
        opt = importlib.import_module("scipy.optimize")
        stats = importlib.import_module("scipy.stats")
    except ImportError:
        raise ImportError("fitting needs SciPy: pip install "
                          "'loamara[fit]'") from None
    return opt, stats


def _values(x: Any, unit: str | None, default: str, what: str) -> np.ndarray:
    if hasattr(x, "magnitude") and hasattr(x, "units"):
        if unit is not None and what != "h":
            raise TypeError(f"{what} is a pint Quantity and has a unit "
                            "argument as well")
        src, x = str(x.units), x.magnitude
    else:
        src = unit or default
    arr = np.array(getattr(x, "values", x), dtype=np.float64).ravel()
    if src != default:
        from . import units
        try:
            arr = np.asarray(units.conversion(src, default).apply(arr),
                             dtype=np.float64)
        except units.UnitError as exc:
            raise FitError(f"{what}: {exc}") from None
    return arr


def check_data(h: np.ndarray, theta: np.ndarray, k: np.ndarray | None,
               n_params: int) -> None:
    """FitError with the reason for data that cannot be fitted."""
    if h.shape != theta.shape:
        raise FitError(f"h has {h.size} values and theta {theta.size}")
    if k is not None and k.shape != h.shape:
        raise FitError(f"k has {k.size} values and h {h.size}")
    bad = ~np.isfinite(h) | ~np.isfinite(theta)
    if bad.any():
        raise FitError(f"missing or not finite suction or water content at "
                       f"{int(bad.sum())} of {h.size} points (first at "
                       f"point {int(np.argmax(bad)) + 1})")
    if (theta < 0).any():
        raise FitError(f"negative water content {float(theta[theta < 0][0])!r} "
                       f"at point {int(np.argmax(theta < 0)) + 1}")
    if (theta > 1).any():
        raise FitError(f"water content {float(theta[theta > 1][0])!r} above 1 at "
                       f"point {int(np.argmax(theta > 1)) + 1}: give "
                       "theta_unit='%' for percent")
    if np.unique(h).size < 2:
        raise FitError("all points are at one suction: a curve needs "
                       "several")
    if h.size <= n_params:
        raise FitError(f"{h.size} points for {n_params} parameters: a fit "
                       "needs more points than parameters")
    if k is not None:
        okk = np.isfinite(k)
        if (k[okk] <= 0).any():
            raise FitError("conductivities must be positive (log10 scale)")


def fit(h: Any, theta: Any, model: str = "vg", k: Any = None, *,
        h_unit: str = "cm", theta_unit: str | None = None,
        fixed: Mapping[str, float] | None = None, l: float | str = 0.5,
        k_weight: float = K_WEIGHT, k_unit: str | None = None
        ) -> FitResult:
    """Fit a retention model to the water contents ``theta`` at the
    suctions ``h`` (and, optionally, the conductivities ``k`` at the same
    suctions; NaN where not measured).  Raises :class:`FitError` for data
    that cannot be fitted and for a fit that does not converge."""
    key = model_key(model)
    hv = _values(h, None if hasattr(h, "units") else h_unit, h_unit, "h")
    tv = _values(theta, theta_unit, "cm^3/cm^3", "theta")
    kv = None if k is None else np.array(getattr(k, "values", k),
                                         dtype=np.float64).ravel()
    if key == "best":
        fits, errors = [], []
        for name in MODELS:
            if kv is not None and MODELS[name].k is None \
                    and name not in _K_MODEL:
                continue
            try:
                fits.append(_fit(name, hv, tv, kv, h_unit, fixed, l,
                                 k_weight, k_unit))
            except FitError as exc:
                errors.append(f"{name}: {exc}")
        if not fits:
            raise FitError("no model could be fitted: " + "; ".join(errors))
        ranked = tuple(sorted(fits, key=lambda r: (not math.isfinite(
            r.aicc) and r.aicc != -INF, r.aicc)))
        best = ranked[0]
        return _replace(best, ranking=ranked)
    return _fit(key, hv, tv, kv, h_unit, fixed, l, k_weight, k_unit)


def _replace(r: FitResult, **changes: Any) -> FitResult:
    import dataclasses
    return dataclasses.replace(r, **changes)


def _start(model_def: _Model, h: np.ndarray, theta: np.ndarray,
           fixed: Mapping[str, float]) -> dict[str, float]:
    """The best point of the grid over the shape parameters, with the
    water contents solved in closed form at each."""
    grid = model_def.grid(h)
    shape = [p for p in model_def.params if p not in ("theta_r", "theta_s")]
    axes = [np.atleast_1d(np.float64(fixed[p])) if p in fixed else grid[p]
            for p in shape]
    mesh = [a.reshape(-1, 1) for a in np.meshgrid(*axes, indexing="ij")]
    with np.errstate(all="ignore"):
        if model_def.key == "campbell":
            s = model_def.theta(h, 1.0, *mesh)
        else:
            s = model_def.theta(h, 0.0, 1.0, *mesh)
        has_r = "theta_r" in model_def.params
        tr_fix, ts_fix = fixed.get("theta_r"), fixed.get("theta_s")
        if not has_r:
            tr = np.zeros((s.shape[0], 1))
            ts = (np.full_like(tr, ts_fix) if ts_fix is not None else
                  (s * theta).sum(1, keepdims=True) / (s * s).sum(
                      1, keepdims=True))
        elif tr_fix is not None and ts_fix is not None:
            tr = np.full((s.shape[0], 1), tr_fix)
            ts = np.full_like(tr, ts_fix)
        elif tr_fix is not None:
            tr = np.full((s.shape[0], 1), tr_fix)
            ts = tr + (s * (theta - tr)).sum(1, keepdims=True) / (s * s).sum(
                1, keepdims=True)
        elif ts_fix is not None:
            q = 1.0 - s
            ts = np.full((s.shape[0], 1), ts_fix)
            tr = (q * (theta - ts * s)).sum(1, keepdims=True) / (q * q).sum(
                1, keepdims=True)
        else:
            # theta = tr + (ts - tr) s: least squares in (tr, d = ts - tr).
            sm, tm = s.mean(1, keepdims=True), theta.mean()
            d = ((s - sm) * (theta - tm)).sum(1, keepdims=True) / (
                (s - sm) ** 2).sum(1, keepdims=True)
            tr = tm - d * sm
            ts = tr + d
        tr = np.clip(tr, 0.0, max(float(theta.min()), 0.0))
        ts = np.clip(ts, float(theta.max()) if ts_fix is None else 0.0, 1.0)
        if ts_fix is not None:
            ts[:] = ts_fix
        if tr_fix is not None:
            tr[:] = tr_fix
        model_theta = tr + (ts - tr) * s if has_r else ts * s
        ssr = ((model_theta - theta) ** 2).sum(1)
    best = int(np.nanargmin(np.where(np.isfinite(ssr), ssr, np.inf)))
    start = {p: float(m[best, 0]) for p, m in zip(shape, mesh)}
    start["theta_s"] = float(ts[best, 0])
    if has_r:
        start["theta_r"] = float(tr[best, 0])
    return start


def _fit(key: str, h: np.ndarray, theta: np.ndarray, k: np.ndarray | None,
         h_unit: str, fixed: Mapping[str, float] | None, l: float | str,
         k_weight: float, k_unit: str | None) -> FitResult:
    opt, stats = _scipy()
    model_def = MODELS[key]
    fixed = dict(fixed or {})
    k_params: tuple[str, ...] = ()
    if k is not None:
        if model_def.k is None and key not in _K_MODEL:
            raise FitError(f"{model_def.label}: no conductivity model to fit k "
                           "with (fit the retention data alone)")
        k_params = ("ks",) + (("l",) if "l" in model_def.k_params else ())
        if "l" in k_params and l != "fit":
            fixed.setdefault("l", float(l))
    names = model_def.params + k_params
    unknown = [p for p in fixed if p not in names]
    if unknown:
        raise FitError(f"fixed: {', '.join(unknown)} is not a parameter of "
                       f"{model_def.label}; its parameters are "
                       + ", ".join(names))
    free = [p for p in names if p not in fixed]
    n_k = 0 if k is None else int(np.isfinite(k).sum())
    check_data(h, theta, k, len(free))
    if k is not None and n_k == 0:
        raise FitError("k holds no conductivity value")
    bounds = dict(zip(model_def.params, zip(model_def.lower, model_def.upper)))
    bounds.update(ks=(0.0, INF), l=(-INF, INF))
    start = _start(model_def, h, theta, fixed)
    kok = None if k is None else np.isfinite(k)
    hk = None if k is None else h[kok]
    logk = None if k is None else np.log10(k[kok])

    def model_k(p: Mapping[str, float]) -> Any:
        if key == "campbell":
            return _campbell_k(hk, p["ks"], p["theta_s"], p["psi_e"], p["b"])
        assert model_def.k is not None
        return model_def.k(hk, *[p[n] for n in model_def.k_params])

    if k is not None:
        start["ks"] = 1.0
        start.setdefault("l", 0.5)
        with np.errstate(all="ignore"):
            guess = np.log10(np.maximum(model_k({**start, **fixed}),
                                        FLOOR_K))
        start["ks"] = float(10.0 ** np.mean(logk - guess)) if np.all(
            np.isfinite(guess)) else float(np.nanmax(k))
    for q in free:  # strictly inside the bounds
        low, high = bounds[q]
        start[q] = min(max(start[q], low + 1e-9 * max(1.0, abs(low))),
                       high - 1e-9 if math.isfinite(high) else start[q])

    def full(x: np.ndarray) -> dict[str, float]:
        p = dict(fixed)
        p.update(zip(free, x))
        return p

    def residuals(x: np.ndarray) -> np.ndarray:
        p = full(x)
        r = model_def.theta(h, *[p[n] for n in model_def.params]) - theta
        if k is None:
            return np.asarray(r)
        kk = np.log10(np.maximum(model_k(p), FLOOR_K))
        return np.concatenate([r, k_weight * (kk - logk)])

    x0 = np.array([start[q] for q in free])
    lo = np.array([bounds[q][0] for q in free])
    hi = np.array([bounds[q][1] for q in free])
    with np.errstate(all="ignore"):
        try:
            res = opt.least_squares(residuals, x0, bounds=(lo, hi),
                                    x_scale="jac", ftol=1e-12, xtol=1e-12,
                                    gtol=1e-12, max_nfev=200 * len(free))
        except ValueError as exc:
            raise FitError(f"{model_def.label}: {exc}") from None
    if res.status <= 0 or not np.isfinite(res.cost):
        raise FitError(f"{model_def.label} did not converge: {res.message}")
    r = res.fun
    n = r.size
    ssr = float(r @ r)
    rt = r[:theta.size]
    sst = float(((theta - theta.mean()) ** 2).sum())
    p_count = len(free)
    dof = n - p_count
    active = res.active_mask != 0
    jac = np.asarray(res.jac)[:, ~active]
    se = np.full(p_count, np.nan)
    cov_all = np.full((p_count, p_count), np.nan)
    notes = []
    if active.any():
        notes.append("at a bound (no standard error): "
                     + ", ".join(np.array(free)[active]))
    if dof > 0 and jac.shape[1]:
        s2 = ssr / dof
        with np.errstate(all="ignore"):
            jtj = jac.T @ jac
            try:
                cov = s2 * np.linalg.inv(jtj)
            except np.linalg.LinAlgError:
                cov = np.full(jtj.shape, np.nan)
                notes.append("parameters not identifiable from these data "
                             "(singular Jacobian)")
            se[~active] = np.sqrt(np.where(np.diag(cov) >= 0,
                                           np.diag(cov), np.nan))
            keep = np.flatnonzero(~active)
            cov_all[np.ix_(keep, keep)] = cov
    tq = float(stats.t.ppf(0.975, dof)) if dof > 0 else math.nan
    p = full(res.x)
    ses = {q: 0.0 if q in fixed else math.nan for q in names}
    ses.update(zip(free, map(float, se)))
    if key == "durner" and p["alpha_1"] < p["alpha_2"]:
        # The first pore system is the coarser one.
        for a, b in (("alpha_1", "alpha_2"), ("n_1", "n_2")):
            p[a], p[b] = p[b], p[a]
            ses[a], ses[b] = ses[b], ses[a]
        p["w_1"] = 1.0 - p["w_1"]
        # The covariance follows: the pairs swapped, w_1's sign turned.
        swap = np.eye(p_count)
        where = {q: i for i, q in enumerate(free)}
        for a, b in (("alpha_1", "alpha_2"), ("n_1", "n_2")):
            if a in where and b in where:
                i, j = where[a], where[b]
                swap[[i, j]] = swap[[j, i]]
            elif a in where or b in where:
                swap[:] = np.nan   # one of a pair fixed: no covariance
        if "w_1" in where:
            swap[where["w_1"]] *= -1.0
        cov_all = swap @ cov_all @ swap.T
    if "theta_r" in p and p["theta_r"] > p["theta_s"]:
        notes.append("theta_r above theta_s")
    ordered = {q: float(p[q]) for q in names}
    ci = {q: (v - tq * ses[q], v + tq * ses[q]) if q not in fixed
          else (v, v) for q, v in ordered.items()}
    kcount = p_count + 1
    with np.errstate(all="ignore"):
        loglik = n * math.log(ssr / n) if ssr > 0 else -INF
    aic = loglik + 2 * kcount
    aicc = aic + (2 * kcount * (kcount + 1) / (n - kcount - 1)
                  if n - kcount - 1 > 0 else INF)
    bic = loglik + kcount * math.log(n)
    units = {q: _unit(q, model_def, h_unit, k_unit) for q in names}
    return FitResult(
        model=key, label=model_def.label, params=ordered, stderr=ses, ci=ci,
        units=units, fixed=tuple(q for q in names if q in fixed), n=n,
        n_params=p_count, ssr=ssr,
        rmse=float(math.sqrt(float(rt @ rt) / theta.size)),
        r2=1.0 - float(rt @ rt) / sst if sst > 0 else math.nan,
        aic=aic, aicc=aicc, bic=bic, h_unit=h_unit, h=h.copy(),
        theta=theta.copy(), k=None if k is None else k.copy(),
        k_weight=k_weight, note="; ".join(notes), nfev=int(res.nfev),
        free=tuple(free), cov=cov_all, t975=tq)


def _unit(name: str, model_def: _Model, h_unit: str, k_unit: str | None) -> str:
    if name in model_def.pressure:
        return f"1/{h_unit}" if model_def.pressure[name] else h_unit
    if name.startswith("theta"):
        return "cm^3/cm^3"
    if name == "ks":
        return k_unit or "dimensionless"
    return "dimensionless"


Group = tuple[Any, np.ndarray, np.ndarray, "np.ndarray | None"]
Fitted = tuple[Any, "FitResult | None", str]


def _fit_chunk(job: tuple[list[Group], dict[str, Any]]) -> list[Fitted]:
    groups, options = job
    out: list[Fitted] = []
    for sid, h, theta, k in groups:
        try:
            out.append((sid, fit(h, theta, k=k, **options), ""))
        except FitError as exc:
            out.append((sid, None, str(exc)))
    return out


def fit_many(groups: Sequence[Group], *, workers: int | None = 1,
             progress: Callable[[int], None] | None = None,
             **options: Any) -> list[Fitted]:
    """Fits each (sample id, h, theta, k) on its own, in order: a list of
    (sample id, result or None, "" or the reason it could not be fitted:
    bad data, no convergence).  One sample's failure stops no other.
    ``workers`` threads (None: every core; see
    :func:`loamara.parallel.map_chunks`); ``progress(n)`` is told of
    every n samples done.  Options are those of :func:`fit`."""
    from .parallel import default_threads, map_chunks

    _scipy()
    model_key(options.get("model", "vg"))
    groups = list(groups)
    count = default_threads() if workers is None else int(workers)
    # Chunks of about 1/8 of a worker's share, so that the load evens out
    # and the progress moves.
    size = max(8, -(-len(groups) // (8 * count)))
    chunks = [(groups[i:i + size], dict(options))
              for i in range(0, len(groups), size)]

    def done(i: int) -> None:
        if progress is not None:
            progress(len(chunks[i][0]))

    return map_chunks(_fit_chunk, chunks, count, done)


def group_samples(ids: Sequence[Any], h: np.ndarray, theta: np.ndarray,
                  k: np.ndarray | None = None) -> list[Group]:
    """The rows of a long table (one point a row) as one group per sample
    id, in the order of first appearance."""
    order: dict[Any, list[int]] = {}
    for i, sid in enumerate(ids):
        order.setdefault(sid, []).append(i)
    out: list[Group] = []
    for sid, rows in order.items():
        idx = np.asarray(rows)
        out.append((sid, h[idx], theta[idx], None if k is None else k[idx]))
    return out
