"""Figures: retention and conductivity curves of several pedotransfer
functions for one soil, and the USDA texture triangle.

    import loamara.plot

    fig = loamara.plot.retention(sand=40, silt=40, clay=20, om=2, bd=1.4)
    fig.savefig("curves.png")
    for s in loamara.plot.skipped(fig):
        print(s.publication, s.reason)

    fig = loamara.plot.texture_triangle([40, 10], [40, 60], [20, 30])

Both need matplotlib (``pip install 'loamara[plot]'``), which is imported
only when a figure is made, and pint for the unit conversions of the
curves.  A figure is created through ``matplotlib.pyplot`` only when the
caller has imported pyplot (so that it shows in an interactive session);
otherwise it is a bare :class:`matplotlib.figure.Figure` drawn by the Agg
renderer, which needs no display.  Nothing here calls ``show()``.

The class areas of the triangle are computed from the class definitions of
the Soil Survey Manual (Soil Survey Division Staff 1993, chapter 3) that
``calc_texture_usda`` implements: each class is an intersection of
half-planes in sand, silt and clay (or a union of two), clipped exactly in
rational arithmetic; :func:`usda_class_polygons` returns them.
"""
from __future__ import annotations

import math
import re
import sys
import warnings
from collections.abc import Mapping, Sequence
from fractions import Fraction
from functools import lru_cache
from typing import TYPE_CHECKING, Any, NamedTuple

import numpy as np

from ._bind import BindError
from ._catalog import PTF, catalog, kinds, lookup
from ._checks import RangeWarning
from ._estimate import Result, estimate
from .curves import MODELS, CurveError, curve

if TYPE_CHECKING:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

__all__ = ["retention", "fitted", "texture_triangle", "ensemble",
           "evaluation",
           "skipped", "Skipped",
           "usda_class_polygons", "curve_ptfs", "MATPLOTLIB_MISSING"]

MATPLOTLIB_MISSING = "plots need matplotlib: pip install 'loamara[plot]'"

# The suctions of a curve figure, kPa: from near saturation to air-dry
# (10^5 kPa is about pF 6).
H_MIN_KPA, H_MAX_KPA = 0.1, 1.0e5
# Field capacity and permanent wilting point, marked on the suction axis.
MARKED_KPA = ((33.0, "33 kPa"), (1500.0, "1500 kPa"))


def _matplotlib() -> Any:
    try:
        import matplotlib
    except ImportError:
        raise ImportError(MATPLOTLIB_MISSING) from None
    return matplotlib


def _new_figure(figsize: tuple[float, float]) -> Figure:
    """A new figure: through pyplot where the caller uses pyplot, else a
    bare Figure with an Agg canvas (no display, no global state)."""
    _matplotlib()
    pyplot = sys.modules.get("matplotlib.pyplot")
    if pyplot is not None:
        fig: Figure = pyplot.figure(figsize=figsize)
        return fig
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    fig = Figure(figsize=figsize)
    FigureCanvasAgg(fig)
    return fig


# ---------------------------------------------------------------------------
# Retention and conductivity curves


class Skipped(NamedTuple):
    """A function that :func:`retention` did not draw, and why."""

    name: str          # catalog name, e.g. calc_ptf_clapp1978
    publication: str   # e.g. Clapp and Hornberger (1978)
    reason: str        # in full, with the catalog's explanation
    short: str         # a few words, as the figure's note shows them


def skipped(fig: Figure) -> tuple[Skipped, ...]:
    """The functions the last :func:`retention` call on ``fig`` could not
    draw, with their reasons (also the attribute ``fig.loamara_skipped``)."""
    found: tuple[Skipped, ...] = getattr(fig, "loamara_skipped", ())
    return found


def curve_ptfs() -> tuple[PTF, ...]:
    """Every function whose outputs the catalog tags as the parameters of a
    retention curve model, in catalog order (whether or not every parameter
    is established)."""
    return tuple(p for p in catalog() if p.curve is not None)


# Curve parameters as a figure names them.
_PARAM_TEXT = {"psi_e": "air-entry suction \u03c8e", "psi_b":
               "bubbling pressure \u03c8b", "m": "shape m", "alpha":
               "\u03b1", "theta_r": "\u03b8r", "theta_s": "\u03b8s",
               "n": "n", "b": "b", "lambda": "\u03bb"}

# The soil description of retention(): name -> (meaning, unit as shown).
SOIL_QUANTITIES = {
    "sand": ("sand", "%"), "silt": ("silt", "%"), "clay": ("clay", "%"),
    "om": ("organic matter", "%"), "oc": ("organic carbon", "%"),
    "bd": ("bulk density", "g/cm\u00b3"),
    "topsoil": ("topsoil indicator", ""),
}


def _words(items: Sequence[str]) -> str:
    if len(items) <= 1:
        return "".join(items)
    return ", ".join(items[:-1]) + " and " + items[-1]


def _curve_problem(p: PTF) -> tuple[str, str] | None:
    """Why the retention curve of ``p`` cannot be drawn from its outputs
    alone (parameters not established), in full and in short; None where
    it can."""
    tag = p.curve
    if tag is None:
        return None
    missing = [(k, v["not_established"]) for k, v in tag.parameters.items()
               if "not_established" in v and k not in ("ks", "l")]
    if not missing:
        return None
    full = (f"its retention curve ({MODELS[tag.model]}) needs "
            + _words([k for k, _ in missing])
            + (", which is" if len(missing) == 1 else ", which are")
            + " not established ("
            + "; ".join(f"{k}: {why}" for k, why in missing) + ")")
    short = _words([_PARAM_TEXT.get(k, k) for k, _ in missing]) + \
        " not established"
    return full, short


def _points(p: PTF) -> list[tuple[str, float]]:
    """The outputs of ``p`` that are volumetric water contents at a fixed
    positive suction: (output name, suction in kPa)."""
    table = kinds()
    out = []
    for q in p.outputs:
        k = table.get(q.kind)
        if (k is not None and k.basis == "volume" and k.suction_kpa
                and q.kind == f"theta_{k.suction_kpa:g}" and not q.log10):
            out.append((q.name, float(k.suction_kpa)))
    return out


def _no_drawing(p: PTF) -> tuple[str, str]:
    """The reason a function without a curve or a volumetric point gives."""
    table = kinds()
    other = [q for q in p.outputs
             if (k := table.get(q.kind)) is not None and k.suction_kpa]
    if other and all(table[q.kind].basis == "mass" for q in other):
        return ("its water contents are by mass (" + ", ".join(
            q.name for q in other) + "), not by volume",
            "water contents by mass, not by volume")
    if other:
        return ("whether its water contents (" + ", ".join(
            q.name for q in other) + ") are by mass or by volume is not "
            "established", "mass or volume basis not established")
    return ("it estimates neither a retention curve nor a volumetric water "
            "content at a given suction", "no retention curve or water "
            "content at a given suction")


def _bind_problem(p: PTF, exc: BindError) -> tuple[str, str]:
    by_name = {q.name: q for q in p.inputs}
    names = [n for n in exc.missing if n in by_name]
    unknown = [n for n in names if not by_name[n].established]
    if unknown:
        return (f"its inputs {', '.join(unknown)} are predictors whose "
                "meaning is not established, so they cannot be taken from "
                "a soil description", "predictors " + ", ".join(unknown)
                + " not established")
    if names:
        return ("needs " + ", ".join(
            f"{n} [{by_name[n].unit_label}]" for n in names)
            + ", not given", "needs " + _words(names))
    return str(exc).splitlines()[0], "inputs cannot be bound"


def _scalar(value: Any, what: str) -> float:
    arr = np.asarray(getattr(value, "values", value), dtype=np.float64)
    if arr.size != 1:
        raise ValueError(f"{what}: one soil is drawn at a time; got "
                         f"{arr.size} values")
    return float(arr.reshape(()))


class _Drawn(NamedTuple):
    ptf: PTF
    label: str
    theta: np.ndarray | None            # over the suctions drawn
    k: np.ndarray | None
    k_problem: str | None          # why there is no K curve
    points: list[tuple[str, float, float]]   # output, suction kPa, theta


def _evaluate(entries: Sequence[Any], soil: Mapping[str, float],
              h: np.ndarray, h_unit: str, k: bool, k_unit: str,
              check: str) -> tuple[list[_Drawn], list[Skipped]]:
    from . import units

    drawn: list[_Drawn] = []
    skips: list[Skipped] = []
    for entry in entries:
        if isinstance(entry, Result):
            p, result = entry.ptf, entry
        else:
            p, result = lookup(entry), None

        def skip(full: str, short: str) -> None:
            skips.append(Skipped(p.name, p.publication, full, short))

        problem = _curve_problem(p)
        if problem is not None:
            skip(*problem)
            continue
        points = _points(p)
        if p.curve is None and not points:
            skip(*_no_drawing(p))
            continue
        if result is None and p.needs is not None:
            skip(f"{p.name} needs {p.needs}",
                 "needs " + p.needs.split(":")[0])
            continue
        if result is None:
            if not soil:
                raise ValueError(f"{p.name} is named without a soil: give "
                                 "sand, silt, clay, om or oc, and bd (or "
                                 "pass estimate results)")
            try:
                result = _estimate_percent(p, soil, check)
            except BindError as exc:
                skip(*_bind_problem(p, exc))
                continue
        theta = kcurve = None
        k_problem = None
        if p.curve is not None:
            try:
                theta = curve(result, h, h_unit=h_unit)
            except CurveError as exc:
                skip(str(exc), "curve cannot be evaluated")
                continue
            if theta.size != h.size:
                raise ValueError(f"{p.name}: one soil is drawn at a time; "
                                 f"the result holds {theta.size // h.size} "
                                 "soils")
            theta = theta.reshape(h.shape)
            if not np.isfinite(theta).any():
                skip("the curve is not a number at any suction for this "
                     "soil (outside the function's domain)",
                     "not a number for this soil")
                continue
            if k:
                ks = p.curve.parameters.get("ks")
                if ks is None:
                    k_problem = "no saturated conductivity estimated"
                elif "not_established" in ks:
                    k_problem = "saturated conductivity not established"
                else:
                    try:
                        kcurve = curve(result, h, "k", h_unit=h_unit,
                                       out_unit=k_unit).reshape(h.shape)
                    except CurveError:
                        k_problem = "conductivity curve cannot be evaluated"
                    if kcurve is not None and not (kcurve > 0).any():
                        kcurve = None
                        k_problem = "not a number for this soil"
        values = []
        for name, kpa in points:
            value = _scalar(result[name], f"{p.name} output {name}")
            value = float(units.conversion(result.units[name],
                                           "cm^3/cm^3").apply(value))
            if math.isfinite(value):
                values.append((name, kpa, value))
        if theta is None and not values:
            skip("its water contents are not numbers for this soil",
                 "not a number for this soil")
            continue
        drawn.append(_Drawn(p, p.publication, theta, kcurve, k_problem,
                            values))
    # One label per publication; functions of one publication drawn as
    # curves are told apart by their variant.
    count: dict[str, int] = {}
    for d in drawn:
        if d.theta is not None:
            count[d.ptf.publication] = count.get(d.ptf.publication, 0) + 1
    drawn = [d._replace(label=f"{d.label}, {_variant(d.ptf)}")
             if count.get(d.ptf.publication, 0) > 1 and d.theta is not None
             else d for d in drawn]
    return drawn, skips


def _estimate_percent(p: PTF, soil: Mapping[str, float],
                      check: str) -> Result:
    """``estimate`` with the soil description in percent (bulk density in
    g/cm^3), converted by the catalog's units.  Its plausibility warnings
    advise on the soil description rather than on ``units=``, which
    retention() does not take."""
    with warnings.catch_warnings(record=True) as records:
        warnings.simplefilter("always")
        result = estimate(p.name, data=dict(soil), preset="percent",
                          check=check)
    for w in records:
        if issubclass(w.category, RangeWarning):
            text = re.sub(r"pass units=\{'(\w+)': '[^']*'\}",
                          r"give \1 in percent", str(w.message))
            warnings.warn(text, RangeWarning, stacklevel=4)
        else:
            warnings.warn_explicit(w.message, w.category, w.filename,
                                   w.lineno)
    return result


def _variant(p: PTF) -> str:
    rest = p.short_name[len(p.family):].strip("_")
    return rest.replace("_", " ") if rest else p.short_name


def _soil(quantities: Mapping[str, Any]) -> dict[str, float]:
    out: dict[str, float] = {}
    for name, value in quantities.items():
        if value is None:
            continue
        x = _scalar(value, name)
        if not math.isfinite(x):
            raise ValueError(f"{name} must be a finite number, not {x!r}")
        out[name] = x
    return out


def _title(soil: Mapping[str, float]) -> str:
    parts = [f"{SOIL_QUANTITIES[k][0]} {v:g} {SOIL_QUANTITIES[k][1]}"
             for k, v in soil.items()]
    text = ", ".join(parts)
    if all(t in soil for t in ("sand", "silt", "clay")):
        from ._curves import calc_texture_usda
        from .texture import usda_class_names

        code = calc_texture_usda(soil["sand"], soil["silt"], soil["clay"])
        name = str(usda_class_names(code))
        if name:
            text = f"{name[0].upper()}{name[1:]} ({text})"
    return text


def retention(results_or_names: Any = None, *,
              sand: float | None = None, silt: float | None = None,
              clay: float | None = None, om: float | None = None,
              oc: float | None = None, bd: float | None = None,
              topsoil: float | None = None,
              h: Any = None, h_unit: str = "kPa",
              ax: Axes | Sequence[Axes] | None = None, k: bool = True,
              k_unit: str = "cm/d", check: str = "warn",
              title: str | None = None) -> Figure:
    """Retention curves theta(h), and conductivity curves K(h) where the
    model gives them, of several pedotransfer functions for one soil.

    ``results_or_names`` is a list of :func:`loamara.estimate` results
    and/or function names (a single one will do); None takes every
    function with a curve model in the catalog (:func:`curve_ptfs`).
    Names are evaluated for the soil described by ``sand``, ``silt``,
    ``clay``, ``om`` (organic matter) or ``oc`` (organic carbon), all in
    percent by mass, and ``bd`` (bulk density, g/cm^3): each function takes
    the quantities it needs, converted to the units of its publication
    from the catalog (sand 40 % is 0.4 for Saxton and Rawls 2006; organic
    carbon is derived from organic matter, or the other way round, with
    the van Bemmelen factor 1.724), and ``topsoil`` (1 for a topsoil, 0
    for a subsoil: HYPRES, Toth et al. 2015).  ``check`` is passed to
    ``estimate``.

    Suction ``h`` (default 400 values from 0.1 to 10^5 kPa) is in
    ``h_unit`` (any pressure, or a length of water column such as ``cm``)
    and drawn on a log axis, with 33 and 1500 kPa marked.  Each curve is
    labelled by its publication.  The water contents a function estimates
    at fixed suctions (Saxton and Rawls' theta_33 and theta_1500, Rawls et
    al. 1982, Gunarathna et al. 2019, ...) are drawn as markers at their
    suction, in the colour of the function; point estimates of functions
    of one publication share a colour and a legend entry.  With ``k``, the
    conductivity curves are drawn in a second panel, on a log axis in
    ``k_unit``.

    ``ax`` is an Axes for the retention curves alone, or a pair of Axes
    (theta, K), e.g. from ``plt.subplots(1, 2)``; the title and the note
    of the functions not drawn are then left to the caller.  By default a
    new figure is made.

    Functions that cannot be drawn are left out: those whose curve needs a
    parameter the publication does not establish (Clapp and Hornberger
    1978's air-entry suction, Hodnett and Tomasella 2002's m), those whose
    inputs the soil description does not give, and those that estimate no
    volumetric water content.  The figure notes them; :func:`skipped`
    returns them with their reasons.

    Returns the matplotlib Figure; ``fig.loamara_skipped`` (or
    ``skipped(fig)``) is the tuple of :class:`Skipped` records.
    """
    from . import units

    soil = _soil({"sand": sand, "silt": silt, "clay": clay, "om": om,
                  "oc": oc, "bd": bd, "topsoil": topsoil})
    if results_or_names is None:
        entries: list[Any] = [p.name for p in curve_ptfs()]
    elif isinstance(results_or_names, (str, Result, np.ufunc)):
        entries = [results_or_names]
    else:
        entries = list(results_or_names)
    # Fitted curves (loamara.fit) are drawn after the functions.
    fits = [e for e in entries if _is_fit(e)]
    entries = [e for e in entries if not _is_fit(e)]
    to_h = units.conversion("kPa", h_unit)  # UnitError for a bad unit
    if k:
        units.conversion("mm/h", k_unit)
    if h is None:
        h = to_h.apply(np.geomspace(H_MIN_KPA, H_MAX_KPA, 400))
    h = np.asarray(h, dtype=np.float64)
    if h.ndim != 1 or h.size < 2 or not np.all(h > 0):
        raise ValueError("h must be a list of at least two positive "
                         "suctions")
    with np.errstate(all="ignore"):
        drawn, skips = _evaluate(entries, soil, h, h_unit, k, k_unit, check)

    with_k = k and any(d.k is not None for d in drawn)
    if ax is None:
        fig, ax_theta, ax_k = _curve_figure(with_k, len(skips))
    else:
        axes = (list(np.ravel(np.asarray(ax, dtype=object)))
                if isinstance(ax, (Sequence, np.ndarray)) else [ax])
        if len(axes) not in (1, 2):
            raise ValueError("ax must be one Axes or a pair (theta, K)")
        ax_theta = axes[0]
        ax_k = axes[1] if len(axes) == 2 and with_k else None
        fig = ax_theta.get_figure()  # type: ignore[assignment]

    colours = _colours(len(drawn))
    styles = _line_styles(len(drawn))
    seen: dict[str, Any] = {}
    for i, d in enumerate(drawn):
        colour = colours[i]
        if d.theta is None and d.label in seen:
            colour = seen[d.label]
        if d.theta is not None:
            line, = ax_theta.plot(h, d.theta, color=colour, lw=1.8,
                                  ls=styles[i], label=d.label, zorder=3)
            line.set_gid(f"loamara-theta:{d.ptf.name}")
        for name, kpa, value in d.points:
            on_curve = d.theta is not None
            marker = ax_theta.plot(
                [float(to_h.apply(kpa))], [value], ls="none",
                marker="o" if on_curve else "D", ms=6 if on_curve else 5.5,
                mfc=colour, mec="black" if on_curve else "white", mew=0.8,
                zorder=4,
                label=d.label if (not on_curve and d.label not in seen)
                else "_nolegend_")[0]
            marker.set_gid(f"loamara-point:{d.ptf.name}:{name}")
        seen.setdefault(d.label, colour)
        if ax_k is not None and d.k is not None:
            line, = ax_k.plot(h, d.k, color=colour, lw=1.8, ls=styles[i],
                              label=d.label)
            line.set_gid(f"loamara-k:{d.ptf.name}")

    fit_top = _draw_fits(ax_theta, fits, h, h_unit, len(drawn))
    _suction_axis(ax_theta, h, h_unit, to_h)
    ax_theta.set_ylabel("Volumetric water content \u03b8 (cm\u00b3/cm\u00b3)")
    top = max([float(np.nanmax(d.theta)) for d in drawn
               if d.theta is not None]
              + [v for d in drawn for _, _, v in d.points] + [0.3, fit_top])
    ax_theta.set_ylim(0.0, min(1.0, 1.1 * top))
    if any(d.theta is not None and d.points for d in drawn):
        # What the markers on the curves are.
        ax_theta.plot([], [], ls="none", marker="o", ms=6, mfc="0.6",
                      mec="black", mew=0.8,
                      label="a function's own estimate at a fixed suction")
    if drawn or fits:
        ax_theta.legend(loc="best", fontsize=8, framealpha=0.9)
    if ax_k is not None:
        _suction_axis(ax_k, h, h_unit, to_h)
        ax_k.set_yscale("log", nonpositive="mask")
        ax_k.set_ylabel(f"Hydraulic conductivity K ({_unit_text(k_unit)})")
        ax_k.legend(loc="best", fontsize=8, framealpha=0.9)
        k_max = max(float(np.nanmax(d.k)) for d in drawn if d.k is not None)
        # Ten decades below the largest saturated conductivity: the range
        # that matters for flow; far drier soil conducts nothing.
        ax_k.set_ylim(k_max * 1e-10, k_max * 5)
        without = [f"{d.label}: {d.k_problem}" for d in drawn
                   if d.theta is not None and d.k is None]
        if without:
            ax_k.text(0.02, 0.03, "No K(h):\n" + "\n".join(without),
                      transform=ax_k.transAxes, fontsize=7.5, va="bottom",
                      ha="left", color="0.3")
    if title is None and soil:
        title = _title(soil)
    if title and ax is None:
        fig.suptitle(title, fontsize=11)
    if skips and ax is None:
        lines = ["Not drawn:"] + [f"  {s.publication} "
                                  f"[{lookup(s.name).short_name}]: "
                                  f"{s.short}" for s in skips]
        fig.text(0.01, 0.01, "\n".join(lines), fontsize=7.5, va="bottom",
                 ha="left", color="0.25")
    setattr(fig, "loamara_skipped", tuple(skips))
    setattr(fig, "loamara_drawn", tuple(d.ptf.name for d in drawn))
    return fig


def _is_fit(entry: Any) -> bool:
    return not isinstance(entry, (str, Result, np.ufunc)) and hasattr(
        entry, "theta_band")


def _draw_fits(ax: Axes, fits: Sequence[Any], h: np.ndarray, h_unit: str,
               first_colour: int, band: bool = True) -> float:
    """Each fitted curve (loamara.fit) over ``h`` with its 95 % band, and
    the points it was fitted to; returns the largest water content
    drawn."""
    from . import units

    colours = _colours(first_colour + len(fits))[first_colour:]
    top = 0.0
    points_drawn: list[Any] = []
    for colour, r in zip(colours, fits):
        with np.errstate(all="ignore"):
            theta = r.theta_at(h, h_unit)
            lo, hi = r.theta_band(h, h_unit) if band else (None, None)
        line, = ax.plot(h, theta, color=colour, lw=1.8, zorder=3,
                        label=f"{r.label}, fitted (AICc {r.aicc:.1f})")
        line.set_gid(f"loamara-fit:{r.model}")
        if lo is not None and hi is not None and np.isfinite(lo).any():
            ax.fill_between(h, lo, hi, color=colour, alpha=0.18, lw=0,
                            zorder=2)
        if not any(r.h is p.h or (r.h.shape == p.h.shape and np.array_equal(
                r.h, p.h) and np.array_equal(r.theta, p.theta))
                for p in points_drawn):
            x = units.conversion(r.h_unit, h_unit).apply(r.h)
            pts = ax.plot(x, r.theta, ls="none", marker="o", ms=5.5,
                          mfc="white", mec="black", mew=1.0, zorder=5,
                          label="measured" if not points_drawn
                          else "_nolegend_")[0]
            pts.set_gid("loamara-measured")
            points_drawn.append(r)
        top = max(top, float(np.nanmax(r.theta)), float(np.nanmax(theta)))
    return top


def fitted(results: Any, *, h: Any = None, h_unit: str | None = None,
           band: bool = True, ax: Axes | None = None,
           title: str | None = None) -> Figure:
    """The points of a fit and its fitted curve(s) with their 95 %
    confidence bands: one :func:`loamara.fit` result, or several fitted to
    the same data (``fit(..., model="best").ranking``).  Suction on a log
    axis in ``h_unit`` (default the unit of the first fit)."""
    from . import units

    fits = [results] if _is_fit(results) else list(results)
    if not fits:
        raise ValueError("no fitted curve to draw")
    h_unit = h_unit or fits[0].h_unit
    if h is None:
        pos = np.concatenate([units.conversion(r.h_unit, h_unit).apply(
            r.h[r.h > 0]) for r in fits])
        lo = float(pos.min()) / 3 if pos.size else 0.1
        hi = float(pos.max()) * 3 if pos.size else 1e5
        h = np.geomspace(lo, hi, 300)
    h = np.asarray(h, dtype=np.float64)
    if ax is None:
        fig = _new_figure((6.4, 4.6))
        ax = fig.add_axes((0.12, 0.12, 0.84, 0.78))
    else:
        fig = ax.get_figure()  # type: ignore[assignment]
    top = _draw_fits(ax, fits, h, h_unit, 0, band)
    _suction_axis(ax, h, h_unit, units.conversion("kPa", h_unit))
    ax.set_ylabel("Volumetric water content \u03b8 (cm\u00b3/cm\u00b3)")
    ax.set_ylim(0.0, min(1.0, 1.1 * max(top, 0.05)))
    ax.legend(loc="best", fontsize=8, framealpha=0.9)
    if title:
        ax.set_title(title, fontsize=10, pad=14)
    return fig


def _unit_text(unit: str) -> str:
    return (unit.replace("^3", "\u00b3").replace("^2", "\u00b2")
            .replace("**3", "\u00b3"))


def _colours(n: int) -> list[Any]:
    cycle = ["#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd",
             "#8c564b", "#e377c2", "#17becf", "#bcbd22", "#7f7f7f"]
    return [cycle[i % len(cycle)] for i in range(n)]


def _line_styles(n: int) -> list[str]:
    """Solid lines for the first round of colours, then dashed, then
    dotted, so that no two curves look alike."""
    rounds = ["-", "--", ":"]
    return [rounds[min(i // 10, 2)] for i in range(n)]


def _curve_figure(with_k: bool, n_skipped: int
                  ) -> tuple[Figure, Axes, Axes | None]:
    note = (0.16 * (n_skipped + 1) + 0.1) if n_skipped else 0.0
    width = 11.0 if with_k else 6.4
    height = 4.6 + note
    fig = _new_figure((width, height))
    bottom = (0.55 + note) / height
    top = 1.0 - 0.55 / height
    if with_k:
        ax_theta = fig.add_axes((0.065, bottom, 0.405, top - bottom))
        ax_k = fig.add_axes((0.57, bottom, 0.405, top - bottom))
        return fig, ax_theta, ax_k
    ax_theta = fig.add_axes((0.12, bottom, 0.84, top - bottom))
    return fig, ax_theta, None


def _suction_axis(ax: Axes, h: np.ndarray, h_unit: str, to_h: Any) -> None:
    ax.set_xscale("log")
    ax.set_xlim(float(h.min()), float(h.max()))
    ax.set_xlabel(f"Suction h ({_unit_text(h_unit)})")
    ax.grid(True, which="major", color="0.9", lw=0.6)
    for kpa, text in MARKED_KPA:
        x = float(to_h.apply(kpa))
        if h.min() < x < h.max():
            ax.axvline(x, color="0.55", ls=":", lw=1.0, zorder=1)
            ax.text(x, 1.01, text, fontsize=7.5, color="0.35",
                    transform=ax.get_xaxis_transform(), va="bottom",
                    ha="center")


# ---------------------------------------------------------------------------
# The USDA texture triangle

# Each class as a union of pieces, each piece an intersection of
# half-planes c_sand*sand + c_silt*silt + c_clay*clay >= bound (percent;
# written with "at least" and "at most").  They follow the class
# definitions of the Soil Survey Manual in the order in which
# calc_texture_usda tests them (ptf/curves/usda_texture.cpp), so that the
# pieces tile the triangle without overlap:
#   sand             silt + 1.5 clay <= 15, i.e. 2 sand - clay >= 170
#   loamy sand       silt + 2 clay <= 30, and not sand
#   sandy loam       clay <= 20, silt + 2 clay >= 30 and sand >= 52; or
#                    clay <= 7, silt <= 50, silt + 2 clay >= 30 (sand
#                    below 52 here, so that the pieces do not overlap)
#   silt loam        silt >= 50 and 12 <= clay <= 27; or 50 <= silt <= 80
#                    and clay <= 12
#   silt             silt >= 80, clay <= 12
#   loam             7 <= clay <= 27, 28 <= silt <= 50, sand <= 52
#   sandy clay loam  20 <= clay <= 35, silt <= 28, sand >= 45
#   silty clay loam  27 <= clay <= 40, sand <= 20
#   clay loam        27 <= clay <= 40, 20 <= sand <= 45
#   sandy clay       clay >= 35, sand >= 45
#   silty clay       clay >= 40, silt >= 40
#   clay             clay >= 40, sand <= 45, silt <= 40
_Half = tuple[int, int, int, Fraction]   # c_sand, c_silt, c_clay, bound


def _at_least(bound: float, sand: int = 0, silt: int = 0, clay: int = 0
              ) -> _Half:
    return (sand, silt, clay, Fraction(bound))


def _at_most(bound: float, sand: int = 0, silt: int = 0, clay: int = 0
             ) -> _Half:
    return (-sand, -silt, -clay, -Fraction(bound))


_CLASS_PIECES: dict[str, list[list[_Half]]] = {
    "sand": [[_at_least(170, sand=2, clay=-1)]],
    "loamy sand": [[_at_most(30, silt=1, clay=2),
                    _at_most(170, sand=2, clay=-1)]],
    "sandy loam": [
        [_at_most(20, clay=1), _at_least(30, silt=1, clay=2),
         _at_least(52, sand=1)],
        [_at_most(7, clay=1), _at_most(50, silt=1),
         _at_least(30, silt=1, clay=2), _at_most(52, sand=1)]],
    "silt loam": [
        [_at_least(50, silt=1), _at_least(12, clay=1), _at_most(27, clay=1)],
        [_at_least(50, silt=1), _at_most(80, silt=1), _at_most(12, clay=1)]],
    "silt": [[_at_least(80, silt=1), _at_most(12, clay=1)]],
    "loam": [[_at_least(7, clay=1), _at_most(27, clay=1),
              _at_least(28, silt=1), _at_most(50, silt=1),
              _at_most(52, sand=1)]],
    "sandy clay loam": [[_at_least(20, clay=1), _at_most(35, clay=1),
                         _at_most(28, silt=1), _at_least(45, sand=1)]],
    "silty clay loam": [[_at_least(27, clay=1), _at_most(40, clay=1),
                         _at_most(20, sand=1)]],
    "clay loam": [[_at_least(27, clay=1), _at_most(40, clay=1),
                   _at_least(20, sand=1), _at_most(45, sand=1)]],
    "sandy clay": [[_at_least(35, clay=1), _at_least(45, sand=1)]],
    "silty clay": [[_at_least(40, clay=1), _at_least(40, silt=1)]],
    "clay": [[_at_least(40, clay=1), _at_most(45, sand=1),
              _at_most(40, silt=1)]],
}

_Point = tuple[Fraction, Fraction]   # (sand, clay); silt = 100 - both


def _clip(poly: list[_Point], half: _Half) -> list[_Point]:
    """The part of a convex polygon where the half-plane holds
    (Sutherland-Hodgman, exact), in the (sand, clay) plane."""
    cs, ct, cc, bound = half
    # silt = 100 - sand - clay
    a, b, c = cs - ct, cc - ct, bound - 100 * ct

    def value(p: _Point) -> Fraction:
        return a * p[0] + b * p[1] - c

    out: list[_Point] = []
    for i, cur in enumerate(poly):
        prev = poly[i - 1]
        vc, vp = value(cur), value(prev)
        if vc >= 0:
            if vp < 0:
                out.append(_cross(prev, cur, vp, vc))
            out.append(cur)
        elif vp >= 0:
            out.append(_cross(prev, cur, vp, vc))
    unique: list[_Point] = []
    for p in out:
        if not unique or unique[-1] != p:
            unique.append(p)
    if len(unique) > 1 and unique[0] == unique[-1]:
        unique.pop()
    return unique


def _cross(p: _Point, q: _Point, vp: Fraction, vq: Fraction) -> _Point:
    t = vp / (vp - vq)
    return (p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1]))


def _area2(poly: Sequence[_Point]) -> Fraction:
    return sum((poly[i - 1][0] * p[1] - p[0] * poly[i - 1][1]
                for i, p in enumerate(poly)), Fraction(0))


def _on_segment(v: _Point, a: _Point, b: _Point) -> Fraction | None:
    """The position of v strictly inside segment a-b (0..1), or None."""
    cross = (b[0] - a[0]) * (v[1] - a[1]) - (b[1] - a[1]) * (v[0] - a[0])
    if cross != 0:
        return None
    d = (b[0] - a[0], b[1] - a[1])
    t = ((v[0] - a[0]) * d[0] + (v[1] - a[1]) * d[1]) / (d[0] ** 2
                                                         + d[1] ** 2)
    return t if 0 < t < 1 else None


def _union(pieces: list[list[_Point]]) -> list[_Point]:
    """The outline of adjacent convex pieces that do not overlap: their
    edges, split where a vertex of another piece lies on them, less the
    edges two pieces share."""
    if len(pieces) == 1:
        return pieces[0]
    vertices = {v for piece in pieces for v in piece}
    edges: list[tuple[_Point, _Point]] = []
    for piece in pieces:
        for i, b in enumerate(piece):
            a = piece[i - 1]
            inner = sorted((t, v) for v in vertices
                           if (t := _on_segment(v, a, b)) is not None)
            chain = [a] + [v for _, v in inner] + [b]
            edges += list(zip(chain[:-1], chain[1:]))
    kept = {e for e in edges if (e[1], e[0]) not in edges}
    following = {a: b for a, b in kept}
    if len(following) != len(kept):
        raise AssertionError("class pieces do not form one outline")
    start = min(following)
    ring = [start]
    while following[ring[-1]] != start:
        ring.append(following[ring[-1]])
    if len(ring) != len(kept):
        raise AssertionError("class pieces do not form one outline")
    # Drop vertices in the middle of a straight edge.
    return [v for i, v in enumerate(ring)
            if _on_segment(v, ring[i - 1], ring[(i + 1) % len(ring)])
            is None]


@lru_cache(maxsize=1)
def _class_rings() -> dict[str, tuple[_Point, ...]]:
    triangle: list[_Point] = [(Fraction(100), Fraction(0)),
                              (Fraction(0), Fraction(0)),
                              (Fraction(0), Fraction(100))]
    if _area2(triangle) < 0:
        triangle.reverse()
    rings: dict[str, tuple[_Point, ...]] = {}
    for name, pieces in _CLASS_PIECES.items():
        clipped = []
        for halves in pieces:
            poly = triangle
            for half in halves:
                poly = _clip(poly, half)
            clipped.append(poly)
        rings[name] = tuple(_union(clipped))
    return rings


def usda_class_polygons() -> dict[str, np.ndarray]:
    """The area of every USDA texture class in the triangle: for each class
    name (in the order of ``loamara.texture.USDA_CLASSES``), the vertices
    of its outline as an (n + 1, 3) array of sand, silt and clay in
    percent, the first vertex repeated at the end.  Exact where the
    definitions meet (every vertex is a whole or half percent)."""
    from .texture import USDA_CLASSES

    rings = _class_rings()
    out = {}
    for name in USDA_CLASSES:
        ring = list(rings[name]) + [rings[name][0]]
        out[name] = np.array([[float(s), float(100 - s - c), float(c)]
                              for s, c in ring])
    return out


_SQRT3_2 = math.sqrt(3.0) / 2.0

# One colour per class, in class-code order.
CLASS_COLOURS = (
    "#e6c229", "#f1a340", "#d9822b", "#7fb77e", "#3f8f5f", "#a6761d",
    "#e7298a", "#1b9e77", "#7570b3", "#d95f02", "#4477aa", "#8c2d04",
)


def _xy(sand: Any, silt: Any, clay: Any) -> tuple[np.ndarray, np.ndarray]:
    """Plot coordinates in the triangle: sand at the lower left corner,
    silt at the lower right, clay at the top; a side is 100 long."""
    s = np.asarray(sand, dtype=np.float64)
    t = np.asarray(silt, dtype=np.float64)
    c = np.asarray(clay, dtype=np.float64)
    return t + 0.5 * c, _SQRT3_2 * c


def _label_spot(x: np.ndarray, y: np.ndarray, avoid: np.ndarray,
                half_width: float, half_height: float
                ) -> tuple[float, float, float, float]:
    """Where to write a class name in the polygon (x, y): the point of a
    grid of half a percent where a text box of the given half sizes fits
    inside the polygon and stays farthest from its outline and from the
    samples ``avoid``.  Returns the point (NaN where the box fits nowhere),
    its distance from the outline, and the angle of the polygon's long
    axis for a narrow strip (0 otherwise; the text then runs along the
    strip)."""
    from matplotlib.path import Path

    path = Path(np.column_stack([x, y]))
    gx, gy = np.meshgrid(np.arange(x.min(), x.max(), 0.5),
                         np.arange(y.min(), y.max(), 0.5))
    pts = np.column_stack([gx.ravel(), gy.ravel()])
    pts = pts[path.contains_points(pts)]
    if len(pts) == 0:
        return float(x.mean()), float(y.mean()), 0.0, 0.0
    edge = np.full(len(pts), np.inf)
    for i in range(len(x) - 1):
        a = np.array([x[i], y[i]])
        d = np.array([x[i + 1], y[i + 1]]) - a
        t = np.clip(((pts - a) @ d) / (d @ d), 0.0, 1.0)
        edge = np.minimum(edge, np.hypot(*(pts - a - t[:, None] * d).T))
    values, vectors = np.linalg.eigh(np.cov(pts.T))
    if values[1] > 6.0 * values[0] and float(edge.max()) < 4.0:
        vx, vy = vectors[:, 1]
        angle = (math.degrees(math.atan2(vy, vx)) + 90.0) % 180.0 - 90.0
        score = edge
        if len(avoid):
            near = np.hypot(pts[:, None, 0] - avoid[None, :, 0],
                            pts[:, None, 1] - avoid[None, :, 1]).min(axis=1)
            score = np.minimum(edge, 0.5 * near)
        j = int(np.argmax(score))
        return float(pts[j, 0]), float(pts[j, 1]), float(edge[j]), angle
    fits = np.ones(len(pts), dtype=bool)
    for fx in (-1.0, 0.0, 1.0):
        for fy in (-1.0, 1.0):
            fits &= path.contains_points(pts + (fx * half_width,
                                                fy * half_height))
    score = edge.copy()
    if len(avoid):
        # The gap between the text box and the nearest sample point.
        gap = np.max([np.abs(pts[:, None, 0] - avoid[None, :, 0])
                      - half_width,
                      np.abs(pts[:, None, 1] - avoid[None, :, 1])
                      - half_height], axis=0).min(axis=1)
        score = np.minimum(score, 2.0 * gap)
    if not fits.any():
        return float("nan"), float("nan"), 0.0, 0.0
    score[~fits] = -np.inf
    j = int(np.argmax(score))
    return float(pts[j, 0]), float(pts[j, 1]), float(edge[j]), 0.0


# Samples beyond this count are not avoided by the class names.
_AVOID_MAX = 400


def _pt(sand: float, silt: float, clay: float) -> tuple[float, float]:
    x, y = _xy(sand, silt, clay)
    return float(x), float(y)


def _triangle_frame(ax: Axes) -> None:
    """Outline, 10 % grid, ticks and axis names."""
    ax.set_aspect("equal")
    ax.set_axis_off()
    corners_x, corners_y = _xy([100, 0, 0, 100], [0, 100, 0, 0],
                               [0, 0, 100, 0])
    ax.plot(corners_x, corners_y, color="black", lw=1.2, zorder=5)
    for v in range(10, 100, 10):
        # Lines of equal clay, silt and sand.
        for ends in (([100 - v, 0], [0, 100 - v], [v, v]),
                     ([100 - v, 0], [v, v], [0, 100 - v]),
                     ([v, v], [100 - v, 0], [0, 100 - v])):
            ax.plot(*_xy(*ends), color="0.85", lw=0.5, zorder=0)
    tick = 1.6
    dx, dy = tick * 0.5, tick * _SQRT3_2
    for v in range(0, 101, 10):
        # Clay on the left side, read across to the right.
        x, y = _pt(100 - v, 0, v)
        ax.plot([x, x - tick], [y, y], color="black", lw=0.8)
        ax.text(x - tick - 0.8, y, f"{v}", ha="right", va="center",
                fontsize=8)
        # Silt on the right side, read down to the lower left.
        x, y = _pt(0, v, 100 - v)
        ax.plot([x, x + dx], [y, y + dy], color="black", lw=0.8)
        ax.text(x + dx + 0.6, y + dy + 0.6, f"{v}", ha="left",
                va="bottom", fontsize=8)
        # Sand along the base, read up to the upper left.
        x, y = _pt(v, 100 - v, 0)
        ax.plot([x, x + dx], [y, y - dy], color="black", lw=0.8)
        ax.text(x + dx, y - dy - 0.8, f"{v}", ha="center", va="top",
                fontsize=8)
    x, y = _pt(50, 0, 50)
    ax.text(x - 9.5, y + 5.5, "Clay (%) \u2192", rotation=60,
            ha="center", va="center", fontsize=10)
    x, y = _pt(0, 50, 50)
    ax.text(x + 9.5, y + 5.5, "Silt (%) \u2192", rotation=-60,
            ha="center", va="center", fontsize=10)
    x, y = _pt(50, 50, 0)
    ax.text(x, y - 9.5, "\u2190 Sand (%)", ha="center", va="center",
            fontsize=10)
    ax.set_xlim(-14, 114)
    ax.set_ylim(-14, 100 * _SQRT3_2 + 6)


def texture_triangle(sand: Any, silt: Any, clay: Any, ax: Axes | None = None,
                     labels: Sequence[str] | None = None,
                     title: str | None = "USDA soil texture classes"
                     ) -> Figure:
    """The USDA texture triangle with the twelve class areas and the
    samples as points, coloured by the class ``calc_texture_usda`` gives
    them.

    ``sand``, ``silt`` and ``clay`` are percent by mass (any array-likes
    that broadcast); samples that do not add up to 100 are drawn where
    ``calc_texture_usda`` classifies them, at their proportions.  Samples
    it cannot classify (missing, negative or infinite values) are not
    drawn; their count is shown.  ``labels``, one text per sample, are
    written beside the points.  ``ax`` is an Axes to draw in (its aspect
    is set equal and its frame turned off); by default a new figure is
    made.

    Returns the matplotlib Figure; ``fig.loamara_classes`` holds the class
    name of every sample ('' where unclassified).
    """
    from ._curves import calc_texture_usda
    from .texture import USDA_CLASSES, usda_class_names

    s, t, c = np.broadcast_arrays(*(np.asarray(v, dtype=np.float64).ravel()
                                    if np.ndim(v) else
                                    np.asarray(v, dtype=np.float64)
                                    for v in (sand, silt, clay)))
    s, t, c = (np.atleast_1d(v).ravel() for v in (s, t, c))
    if labels is not None and len(labels) != s.size:
        raise ValueError(f"labels: {len(labels)} texts for {s.size} "
                         "samples")
    with np.errstate(all="ignore"):
        codes = np.asarray(calc_texture_usda(s, t, c))
        total = s + t + c
        ps, pt, pc = (100.0 * s / total, 100.0 * t / total,
                      100.0 * c / total)
    names = usda_class_names(codes)
    ok = ~np.isnan(codes)

    if ax is None:
        fig = _new_figure((8.6, 6.0))
        ax = fig.add_axes((0.0, 0.0, 0.74, 0.95))
    else:
        fig = ax.get_figure()  # type: ignore[assignment]
    _triangle_frame(ax)
    from matplotlib.patches import Polygon

    from matplotlib import patheffects

    x, y = _xy(ps, pt, pc)
    avoid = (np.column_stack([x[ok], y[ok]]) if 0 < ok.sum() <= _AVOID_MAX
             else np.empty((0, 2)))
    halo = [patheffects.withStroke(linewidth=2.5, foreground="white")]
    polygons = usda_class_polygons()
    for k, name in enumerate(USDA_CLASSES):
        v = polygons[name]
        px, py = _xy(v[:, 0], v[:, 1], v[:, 2])
        patch = Polygon(np.column_stack([px, py]), closed=True,
                        facecolor=CLASS_COLOURS[k], alpha=0.13,
                        edgecolor="none", zorder=1)
        patch.set_gid(f"loamara-class-area:{name}")
        ax.add_patch(patch)
        outline, = ax.plot(px, py, color="0.15", lw=0.9, zorder=2)
        outline.set_gid(f"loamara-class:{name}")
        # The largest of these font sizes whose text fits in the area;
        # half the text box in data units (about 20 to the inch here).
        for size in (8.5, 7.5, 6.5):
            lx, ly, _, angle = _label_spot(
                px, py, avoid, 0.3 * size / 72.0 * 20.0 * len(name),
                0.7 * size / 72.0 * 20.0)
            if math.isfinite(lx):
                break
        else:
            lx, ly = float(np.mean(px[:-1])), float(np.mean(py[:-1]))
        ax.text(lx, ly, name, ha="center", va="center",
                fontsize=size, rotation=angle,
                rotation_mode="anchor", color="0.1", zorder=3,
                style="italic", path_effects=halo)

    for k, name in enumerate(USDA_CLASSES):
        sel = ok & (codes == k + 1)
        n = int(sel.sum())
        if not n:
            continue
        pts = ax.scatter(x[sel], y[sel], s=30, color=CLASS_COLOURS[k],
                         edgecolors="black", linewidths=0.6, zorder=6,
                         label=f"{name} ({n})")
        pts.set_gid(f"loamara-samples:{name}")
    if labels is not None:
        for i in np.flatnonzero(ok):
            ax.annotate(str(labels[int(i)]), (x[i], y[i]), xytext=(4, 3),
                        textcoords="offset points", fontsize=7, zorder=7)
    handles, _ = ax.get_legend_handles_labels()
    missing = int((~ok).sum())
    header = f"{int(ok.sum())} sample{'s' * (int(ok.sum()) != 1)}"
    if missing:
        header += f"; {missing} not classified"
    if handles:
        ax.legend(loc="upper left", bbox_to_anchor=(1.0, 0.98),
                  fontsize=8.5, title=header, title_fontsize=9,
                  frameon=False, borderaxespad=0.0)
    else:
        ax.text(1.0, 0.98, header, transform=ax.transAxes, fontsize=9,
                va="top")
    if title:
        ax.set_title(title, fontsize=11)
    setattr(fig, "loamara_classes", names)
    return fig


# ---------------------------------------------------------------------------
# Ensembles and evaluations

_MARKERS = "osD^vP*Xh<>p"


def ensemble(e: Any, labels: Sequence[str] | None = None,
             ax: Axes | None = None, max_soils: int = 12) -> Figure:
    """The members of an ensemble (:func:`loamara.ensemble`) and their
    spread, soil by soil: each member a marker (hollow where read off a
    retention curve), the interquartile range a bar, the median a line and
    the mean (geometric mean for kinds summarised in log10, on a log axis)
    a diamond.  Values that are physically impossible, or not positive on
    a log axis, are not drawn; their count is shown.  ``labels`` names the
    soils (default: the index of a pandas ensemble, else 1, 2, ...); at
    most ``max_soils`` soils are drawn."""
    values = np.asarray(e.members, dtype=np.float64)
    if getattr(e.members, "dims", None) is not None:
        values = np.moveaxis(values, 0, -1)
    values = values.reshape(-1, len(e.names))[:max_soils]
    soils = values.shape[0]
    if labels is None:
        index = getattr(e.members, "index", None)
        labels = ([str(v) for v in index[:soils]] if index is not None
                  else [str(i + 1) for i in range(soils)])
    labels = list(labels)[:soils]
    if len(labels) != soils:
        raise ValueError(f"labels: {len(labels)} texts for {soils} soils")
    log = e.summary == "log"
    stat = {k: np.asarray(v, dtype=np.float64).reshape(-1)[:soils]
            for k, v in e.stats.items()}
    centre = stat["gmean" if log else "mean"]
    if ax is None:
        fig = _new_figure((max(6.4, 1.0 + 0.75 * soils) + 3.4, 4.8))
        ax = fig.add_axes((0.09, 0.2, 0.56, 0.72))
    else:
        fig = ax.get_figure()  # type: ignore[assignment]
    outside = _physical_mask(e.kind, values)
    hidden = int(np.count_nonzero(outside | (log & ~(values > 0))
                                  & ~np.isnan(values)))
    x = np.arange(soils, dtype=np.float64)
    ax.bar(x, stat["q75"] - stat["q25"], bottom=stat["q25"], width=0.6,
           color="0.88", edgecolor="0.6", zorder=1, label="interquartile "
           "range" + (" (log10)" if log else ""))
    ax.hlines(stat["median"], x - 0.3, x + 0.3, color="0.2", lw=1.6,
              zorder=2, label="median")
    colours = _colours(len(e.names))
    offsets = np.linspace(-0.22, 0.22, len(e.names)) if len(e.names) > 1 \
        else np.zeros(1)
    for j, name in enumerate(e.names):
        y = np.where(outside[:, j] | (log & ~(values[:, j] > 0)), np.nan,
                     values[:, j])
        hollow = name in e.curves
        ax.plot(x + offsets[j], y, ls="none",
                marker=_MARKERS[j % len(_MARKERS)], ms=6,
                mfc="none" if hollow else colours[j], mec=colours[j],
                label=name + (" (curve)" if hollow else ""), zorder=3)
    ax.plot(x, centre, ls="none", marker="D", ms=9, mfc="none", mec="k",
            mew=1.6, zorder=4, label="geometric mean" if log else "mean")
    if log:
        ax.set_yscale("log")
    ax.set_xticks(x)
    ax.set_xticklabels(labels, rotation=30 if soils > 4 else 0,
                       ha="right" if soils > 4 else "center")
    ax.set_xlim(-0.6, soils - 0.4)
    k = kinds()[e.kind]
    ax.set_ylabel(f"{e.kind} ({_unit_text(e.unit)})")
    ax.set_title(f"Ensemble of {len(e.names)} functions: {k.label}",
                 fontsize=10)
    ax.grid(True, axis="y", color="0.92", lw=0.6)
    ax.legend(loc="upper left", bbox_to_anchor=(1.02, 1.0), fontsize=7.5,
              frameon=False)
    if hidden:
        ax.text(0.0, -0.26, f"{hidden} member value"
                f"{'s' * (hidden != 1)} not drawn (physically impossible"
                + (" or not positive" if log else "") + ")",
                transform=ax.transAxes, fontsize=7.5, color="0.35")
    return fig


def _physical_mask(kind: str, values: np.ndarray) -> np.ndarray:
    from ._ensemble import outside_physical

    mask: np.ndarray = outside_physical(kind)(values)
    return mask


def evaluation(ev: Any, kind: str | None = None,
               columns: int = 4) -> Figure:
    """Predicted against measured values of an evaluation
    (:func:`loamara.evaluate`), one panel per function in the order of
    its ranking, with the 1:1 line and the panel's RMSE (of log10, on log
    axes, for kinds summarised in log10).  ``kind`` picks the kind of an
    evaluation of several (default: the first)."""
    kind = kind or next(iter(ev.measured))
    if kind not in ev.measured:
        raise ValueError(f"kind {kind!r} was not evaluated; evaluated: "
                         + ", ".join(ev.measured))
    e = ev.ensembles[kind]
    obs = ev.measured[kind]
    pred = np.asarray(e.members, dtype=np.float64)
    if getattr(e.members, "dims", None) is not None:
        pred = np.moveaxis(pred, 0, -1)
    pred = pred.reshape(-1, len(e.names))
    rows = [r for r in ev.rows if r["kind"] == kind]
    log = e.summary == "log"
    n = len(rows)
    cols = max(1, min(columns, n))
    lines = math.ceil(n / cols)
    fig = _new_figure((2.7 * cols + 0.6, 2.6 * lines + 0.7))
    finite = np.concatenate([obs, pred.ravel()])
    finite = finite[np.isfinite(finite) & ((finite > 0) if log else True)]
    lo, hi = ((float(finite.min()), float(finite.max())) if finite.size
              else (0.0, 1.0))
    if log:
        lo, hi = lo / 1.5, hi * 1.5
    else:
        pad = 0.05 * (hi - lo or 1.0)
        lo, hi = lo - pad, hi + pad
    for i, row in enumerate(rows):
        ax = fig.add_subplot(lines, cols, i + 1)
        j = e.names.index(row["ptf"])
        ax.plot([lo, hi], [lo, hi], color="0.5", lw=1.0, ls="--", zorder=1)
        ax.plot(obs, pred[:, j], ls="none", marker="o", ms=3.5,
                mfc="none" if row["ptf"] in e.curves else "#1f77b4",
                mec="#1f77b4", zorder=2)
        if log:
            ax.set_xscale("log")
            ax.set_yscale("log")
        ax.set_xlim(lo, hi)
        ax.set_ylim(lo, hi)
        key = "rmse_log10" if log else "rmse"
        ax.set_title(f"{row['rank']}. {row['ptf']}", fontsize=8)
        ax.text(0.04, 0.96, f"{key} {row[key]:.3g}\nbias "
                f"{row['bias_log10' if log else 'bias']:.3g}\nn {row['n']}",
                transform=ax.transAxes, fontsize=7, va="top")
        ax.tick_params(labelsize=7)
        if i % cols == 0:
            ax.set_ylabel("predicted", fontsize=8)
        if i >= n - cols:
            ax.set_xlabel("measured", fontsize=8)
    fig.suptitle(f"{kind} ({_unit_text(e.unit)}): predicted against "
                 "measured, best first", fontsize=10)
    fig.tight_layout()
    return fig
