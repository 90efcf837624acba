"""Retention and conductivity curves from the results of pedotransfer
functions.

Many PTFs estimate the parameters of a curve model rather than the curve
itself.  The catalog tags each of them with its model (van Genuchten 1980,
Campbell 1974, Brooks and Corey 1964, the segments of Saxton and Rawls
2006) and maps its outputs onto the model's parameters, with their units.
:func:`curve` evaluates that model for any :func:`loamara.estimate` result
at the suctions ``h`` given, with the curve ufuncs of ``loamara._curves``:

    r = loamara.estimate("vereecken1989", sand=40, clay=20, oc=1.2, bd=1.4,
                         units={"sand": "%", "clay": "%"})
    theta = loamara.curve(r, [1, 10, 33, 100, 1500], h_unit="kPa")

Suctions are positive (h <= 0 is saturation); ``h`` may be in any pressure
unit or any length, read as the height of a water column (``cm``, ``m``).
It is converted to the unit of the model's own pressure parameter (the
reciprocal of van Genuchten's alpha, Campbell's or Brooks and Corey's
air-entry suction, kPa for Saxton and Rawls), so that the parameters reach
the curve ufunc exactly as the PTF returned them.  Water contents come back
as volume fractions (cm^3/cm^3), conductivities in the unit of the PTF's
saturated conductivity unless ``out_unit`` says otherwise.

Parameters a publication does not establish (the shape m of Hodnett and
Tomasella, alpha of Li et al.) make
:func:`curve` raise :class:`CurveError` with the reason; ``params=`` gives
them (``params={"m": 1 - 1 / r.n}``), as it can replace any other.
"""
from __future__ import annotations

from collections.abc import Mapping
from dataclasses import dataclass
from typing import Any

import numpy as np

from . import _curves
from ._catalog import CurveTag, lookup
from ._estimate import Result

__all__ = ["CurveError", "curve", "curve_parameters", "has_curve",
           "MODELS"]

# Each model: its parameters, and the curve ufuncs for theta(h) and K(h).
MODELS = {
    "van_genuchten": "van Genuchten (1980)",
    "campbell": "Campbell (1974)",
    "brooks_corey": "Brooks and Corey (1964)",
    "saxton2006": "Saxton and Rawls (2006)",
}

# The parameter whose unit fixes the unit of h, and whether it is the
# reciprocal of that unit.
_PRESSURE = {"van_genuchten": ("alpha", True), "campbell": ("psi_e", False),
             "brooks_corey": ("psi_b", False), "saxton2006": ("psi_e", False)}

_CONTENTS = ("theta_r", "theta_s", "theta_1500", "theta_33")

# Pore connectivity of the Mualem model: 0.5 by convention (Mualem 1976).
DEFAULT_L = 0.5


class CurveError(ValueError):
    """A curve that cannot be evaluated: no curve model, a parameter that
    is not established, or units that do not convert."""


@dataclass(frozen=True)
class Parameter:
    """One parameter of a curve, as the PTF gives it."""

    value: Any
    unit: str          # plain unit of the value (after undoing a log10)
    source: str        # the output it comes from, or "constant"/"given"


def has_curve(ptf: Any) -> bool:
    """True where the function's outputs are parameters of a curve model
    and every parameter the retention curve needs is established."""
    tag = lookup(ptf).curve
    return tag is not None and not _missing(tag, ("ks", "l"))


def _missing(tag: CurveTag, optional: tuple[str, ...] = ()) -> list[str]:
    return [k for k, v in tag.parameters.items()
            if "not_established" in v and k not in optional]


def curve_parameters(result: Result,
                     params: Mapping[str, Any] | None = None
                     ) -> tuple[str, dict[str, Parameter]]:
    """The model and the parameters of the curve of an estimate result.
    Parameters not established raise CurveError unless ``params`` gives
    them (plain values, in the model's units: water contents as fractions,
    pressures in kPa, alpha in 1/kPa, conductivity in mm/h)."""
    tag = result.ptf.curve
    if tag is None:
        raise CurveError(f"{result.ptf.name} estimates no parameters of a "
                         "retention curve model")
    given = dict(params or {})
    unknown = [k for k in given if k not in tag.parameters
               and k not in ("ks", "l", "m")]
    if unknown:
        raise CurveError(f"params: {', '.join(map(repr, unknown))} is not a "
                         f"parameter of the {tag.model} model; its "
                         "parameters are: " + ", ".join(tag.parameters))
    out: dict[str, Parameter] = {}
    for name, source in tag.parameters.items():
        if name in given:
            out[name] = Parameter(given.pop(name), _given_unit(name),
                                  "given")
        elif "output" in source:
            out[name] = _from_output(result, source["output"])
        elif "value" in source:
            out[name] = Parameter(float(source["value"]),
                                  source.get("unit", "dimensionless"),
                                  "constant")
        elif "table" in source:
            out[name] = _from_table(result, source)
        elif source.get("mualem"):
            continue  # m = 1 - 1/n, set below
        else:
            continue  # not established: checked where it is needed
    for name, value in given.items():
        out[name] = Parameter(value, _given_unit(name), "given")
    if tag.model == "van_genuchten" and "m" not in out and tag.parameters.get(
            "m", {}).get("mualem"):
        n = np.asarray(out["n"].value, dtype=np.float64)
        out["m"] = Parameter(1.0 - 1.0 / n, "dimensionless", "1 - 1/n")
    return tag.model, out


def _given_unit(name: str) -> str:
    return {"alpha": "1/kPa", "psi_e": "kPa", "psi_b": "kPa",
            "ks": "mm/h"}.get(name, "dimensionless" if name not in
                              _CONTENTS else "cm^3/cm^3")


def _from_output(result: Result, name: str) -> Parameter:
    value = result[name]
    value = np.asarray(getattr(value, "values", value), dtype=np.float64)
    unit = result.units[name]
    if unit.startswith("log10(") and unit.endswith(")"):
        return Parameter(np.power(10.0, value), unit[6:-1], name)
    return Parameter(value, unit, name)


def _from_table(result: Result, source: Mapping[str, Any]) -> Parameter:
    """A parameter looked up by the class index of the call (Clapp and
    Hornberger's psi_s by texture class); NaN for an index outside the
    table, as the class table's own outputs."""
    table = np.append(np.asarray(source["table"], dtype=np.float64), np.nan)
    index = result.class_index
    if index is None:
        raise CurveError(f"{result.ptf.name}: the result does not hold the "
                         "class index its curve parameter is looked up by")
    idx = np.asarray(getattr(index, "values", index)).astype(np.uint64)
    return Parameter(table[np.minimum(idx, len(table) - 1)],
                     source.get("unit", "dimensionless"),
                     f"table by {source.get('by', 'class')}")


def _need(model: str, p: dict[str, Parameter], names: tuple[str, ...],
          result: Result, what: str) -> list[Any]:
    tag = result.ptf.curve
    assert tag is not None
    missing = [k for k in names if k not in p]
    if missing:
        reasons = [f"{k}: {tag.parameters.get(k, {}).get('not_established', 'not estimated by this function')}"
                   for k in missing]
        raise CurveError(
            f"the {what} curve of {result.ptf.name} ({MODELS[model]}) needs "
            + ", ".join(missing) + ", which "
            + ("is" if len(missing) == 1 else "are")
            + " not established (" + "; ".join(reasons) + "); give "
            + ("it" if len(missing) == 1 else "them") + " with params=")
    return [p[k] for k in names]


def _convert(value: Any, src: str, dst: str) -> Any:
    from . import units

    try:
        return units.conversion(src, dst).apply(value)
    except (units.UnitError, ImportError) as exc:
        raise CurveError(str(exc)) from None


def _fraction(par: Parameter) -> Any:
    return _convert(par.value, par.unit, "cm^3/cm^3")


def curve(result: Result, h: Any, what: str = "theta", *,
          h_unit: str | None = None, out_unit: str | None = None,
          params: Mapping[str, Any] | None = None) -> np.ndarray:
    """The retention curve theta(h) (``what="theta"``, volume fractions) or
    the conductivity curve K(h) (``what="k"``) of an estimate result.

    ``h`` is the suction: numbers in ``h_unit`` (any pressure, or a length
    of water column; default kPa) or a pint Quantity.  The parameters of
    the result broadcast against ``h`` as an outer product: the curve of
    each of n soils at m suctions has shape (n, m).  ``params`` replaces or
    supplies parameters (``{"m": ..., "l": 0.5}``).
    """
    if what not in ("theta", "k"):
        raise ValueError(f"what must be 'theta' or 'k', not {what!r}")
    if hasattr(h, "magnitude") and hasattr(h, "units"):
        if h_unit is not None:
            raise TypeError("h is a pint Quantity and has h_unit as well")
        h_unit, h = str(h.units), h.magnitude
    h_unit = h_unit or "kPa"
    model, p = curve_parameters(result, params)
    pname, reciprocal = _PRESSURE[model]
    if pname not in p:
        _need(model, p, (pname,), result, "retention")
    unit = p[pname].unit
    # h goes to the unit of the model's own pressure parameter.
    h_work = _convert(np.asarray(h, dtype=np.float64), h_unit,
                      f"1/({unit})" if reciprocal else unit)
    h_work = h_work.reshape((1,) * _param_ndim(p) + h_work.shape) \
        if np.ndim(h_work) else h_work

    def par(x: Any) -> Any:
        a = np.asarray(x, dtype=np.float64)
        return a.reshape(a.shape + (1,) * np.ndim(h)) if np.ndim(h) else a

    if model == "van_genuchten":
        tr, ts, alpha, n, m = _need(model, p, ("theta_r", "theta_s", "alpha",
                                               "n", "m"), result, "retention")
        if what == "theta":
            return np.asarray(_curves.calc_swrc_van_genuchten(
                h_work, par(_fraction(tr)), par(_fraction(ts)),
                par(alpha.value), par(n.value), par(m.value)))
        if p["m"].source not in ("1 - 1/n", "given"):
            raise CurveError(
                f"the conductivity curve of Mualem and van Genuchten needs "
                f"m = 1 - 1/n; {result.ptf.name} fixes m = "
                f"{p['m'].value!r}")
        ks, = _need(model, p, ("ks",), result, "conductivity")
        k = _curves.calc_hcc_mualem_van_genuchten(
            h_work, par(ks.value), par(alpha.value), par(n.value),
            par(p["l"].value if "l" in p else DEFAULT_L))
        return _k_out(k, ks.unit, out_unit)
    if model == "campbell":
        ts, pe, b = _need(model, p, ("theta_s", "psi_e", "b"), result,
                          "retention")
        theta = _curves.calc_swrc_campbell(h_work, par(_fraction(ts)),
                                           par(pe.value), par(b.value))
        if what == "theta":
            return np.asarray(theta)
        ks, = _need(model, p, ("ks",), result, "conductivity")
        k = _curves.calc_hcc_campbell(theta, par(ks.value),
                                      par(_fraction(ts)), par(b.value))
        return _k_out(k, ks.unit, out_unit)
    if model == "brooks_corey":
        tr, ts, hb, lam = _need(model, p, ("theta_r", "theta_s", "psi_b",
                                           "lambda"), result, "retention")
        if what == "theta":
            return np.asarray(_curves.calc_swrc_brooks_corey(
                h_work, par(_fraction(tr)), par(_fraction(ts)),
                par(hb.value), par(lam.value)))
        ks, = _need(model, p, ("ks",), result, "conductivity")
        return _k_out(_curves.calc_hcc_brooks_corey(
            h_work, par(ks.value), par(hb.value), par(lam.value)),
            ks.unit, out_unit)
    # Saxton and Rawls (2006): theta(psi) across the segments, then their
    # conductivity equation K(theta).
    t15, t33, ts, pe = _need(model, p, ("theta_1500", "theta_33", "theta_s",
                                        "psi_e"), result, "retention")
    theta = _curves.calc_swrc_saxton2006(
        h_work, par(_fraction(t15)), par(_fraction(t33)),
        par(_fraction(ts)), par(pe.value))
    if what == "theta":
        return np.asarray(theta)
    ks, lam = _need(model, p, ("ks", "lambda"), result, "conductivity")
    import _loamara
    k = _loamara.calc_ptf_saxton2006_conductivity(
        theta, par(_fraction(ts)), par(ks.value), par(lam.value))
    return _k_out(k, ks.unit, out_unit)


def _param_ndim(p: Mapping[str, Parameter]) -> int:
    return max((np.ndim(v.value) for v in p.values()), default=0)


def _k_out(k: Any, unit: str, out_unit: str | None) -> np.ndarray:
    values: np.ndarray = np.asarray(k)
    if out_unit is not None:
        values = np.asarray(_convert(values, unit, out_unit))
    return values
