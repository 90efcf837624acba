"""Rosetta (Schaap, Leij and van Genuchten 2001) through its maintained
package, rosetta-soil (the optional extra ``rosetta``).

``estimate("rosetta3", sand=, silt=, clay=, bd=, theta_33=, theta_1500=)``
gives each sample to the Rosetta model its inputs allow: texture only;
texture and bulk density; and the water contents at 33 kPa, then at
1500 kPa.  The neural networks and their bootstrap are the package's; this
module only binds the inputs (units, checks) and names the outputs: the
van Genuchten-Mualem parameters and the standard deviations of their
bootstrap predictions.
"""
from __future__ import annotations

from collections.abc import Mapping
from typing import Any

import numpy as np

from ._catalog import PTF, CurveTag, Quantity, publications

VERSIONS = {"rosetta1": 1, "rosetta2": 2, "rosetta3": 3}


class RosettaPTF(PTF):
    """The record of a Rosetta version: the same fields as a catalog record,
    but evaluated by the rosetta-soil package, not by a ufunc."""

    @property
    def ufunc(self) -> Any:
        return None


def _q(name: str, unit: str, kind: str, rng: tuple[float | None, float | None]
       | None, meaning: str, opened: tuple[bool, bool] = (False, False)
       ) -> Quantity:
    return Quantity(name=name, unit=unit, kind=kind, range=rng,
                    range_open=opened, meaning=meaning)


_INPUTS = (
    _q("sand", "percent", "sand", (0.0, 100.0), "sand content (0.05-2 mm)"),
    _q("silt", "percent", "silt", (0.0, 100.0), "silt content (0.002-0.05 mm)"),
    _q("clay", "percent", "clay", (0.0, 100.0), "clay content (< 0.002 mm)"),
    _q("bd", "g/cm^3", "bulk_density", (0.0, 2.65), "dry bulk density "
       "(optional)", (True, True)),
    _q("theta_33", "cm^3/cm^3", "theta_33", (0.0, 1.0), "volumetric water "
       "content at 33 kPa (optional; used with bd)"),
    _q("theta_1500", "cm^3/cm^3", "theta_1500", (0.0, 1.0), "volumetric "
       "water content at 1500 kPa (optional; used with bd and theta_33)"),
)
_PARAMS = (
    ("theta_r", "cm^3/cm^3", "theta_r", "residual volumetric water content"),
    ("theta_s", "cm^3/cm^3", "theta_s", "saturated volumetric water content"),
    ("alpha", "1/cmH2O", "alpha", "van Genuchten alpha, per cm of water"),
    ("n", "dimensionless", "n", "van Genuchten n"),
    ("ksat", "cm/d", "ksat", "saturated hydraulic conductivity"),
)
_OUTPUTS = tuple(
    _q(n, u, k, None, m + " (arithmetic mean of the bootstrap)")
    for n, u, k, m in _PARAMS) + tuple(
    _q(f"sd_{n}", u, "not_established", None,
       f"standard deviation of the bootstrap predictions of {n}")
    for n, u, _, _ in _PARAMS) + (
    _q("model", "dimensionless", "not_established", None,
       "the Rosetta model used: 2 texture, 3 + bulk density, 4 + theta_33, "
       "5 + theta_1500; -1 none (insufficient or erroneous data)"),)


def ptf_record(name: str) -> RosettaPTF:
    """The record of ``rosetta1``, ``rosetta2`` or ``rosetta3``."""
    return RosettaPTF(
        name=name, family="schaap2001", publication="Schaap et al. (2001)",
        summary=f"Rosetta version {VERSIONS[name]}: van Genuchten-Mualem "
        "parameters with bootstrap standard deviations, through the "
        "rosetta-soil package.",
        inputs=_INPUTS, outputs=_OUTPUTS,
        citation=publications()["schaap2001"],
        notes=("Evaluated by the rosetta-soil package (optional extra "
               "'rosetta'); each sample goes to the model its inputs allow.",),
        curve=CurveTag(model="van_genuchten", parameters={
            "theta_r": {"output": "theta_r"},
            "theta_s": {"output": "theta_s"}, "alpha": {"output": "alpha"},
            "n": {"output": "n"}, "m": {"mualem": True},
            "ks": {"output": "ksat"}}),
        module="rosetta")


def _value(v: Any, q: Quantity, unit: str | None) -> np.ndarray:
    from . import units as u

    own = getattr(v, "units", None)
    if own is not None and hasattr(v, "magnitude"):
        unit, v = str(own), v.magnitude
    a = np.asarray(getattr(v, "values", v), dtype=np.float64)
    if unit is not None:
        a = u.conversion(unit, q.unit).apply(a)
    return a


def estimate(name: str, *, units: Mapping[str, str] | None = None,
             check: str = "warn", **inputs: Any) -> Any:
    """Rosetta for named inputs; see the module's docstring."""
    from . import _checks
    from ._estimate import Result, Prepared

    try:
        from rosetta import rosetta
    except ImportError as exc:
        raise ImportError(
            f"{name} needs the rosetta-soil package: pip install "
            "'loamara[rosetta]'") from exc
    ptf = ptf_record(name)
    units = dict(units or {})
    names = [q.name for q in _INPUTS]
    unknown = [k for k in list(inputs) + list(units) if k not in names]
    if unknown:
        raise TypeError(f"{name}: unexpected input {unknown[0]!r}; its "
                        "inputs are: " + ", ".join(names))
    missing = [k for k in names[:3] if k not in inputs]
    if missing:
        raise TypeError(f"{name}: missing input" + "s" * (len(missing) > 1)
                        + " " + ", ".join(map(repr, missing)))
    cols = [_value(inputs[q.name], q, units.get(q.name)) if q.name in inputs
            else np.array(np.nan) for q in _INPUTS]
    cols = np.broadcast_arrays(*cols)
    shape = cols[0].shape
    _checks.run_checks(ptf, cols, check, stacklevel=4)
    flat = np.stack([c.ravel() for c in cols], axis=1)
    # The inputs a sample has, in the order Rosetta's models add them.
    have = np.cumprod(~np.isnan(flat[:, 3:]), axis=1).sum(axis=1) + 3
    mean = np.full((flat.shape[0], 7), np.nan)
    sd = np.full((flat.shape[0], 7), np.nan)
    code = np.full(flat.shape[0], -1.0)
    for k in np.unique(have):
        rows = np.flatnonzero(have == k)
        m, s, c = rosetta(VERSIONS[name], flat[rows, :k].tolist())
        mean[rows], sd[rows], code[rows] = m, s, c
    values = tuple(mean[:, j].reshape(shape) for j in range(5)) + tuple(
        sd[:, j].reshape(shape) for j in range(5)) + (code.reshape(shape),)
    notes = tuple(f"Rosetta model {int(c)} for {int((code == c).sum())} "
                  "sample(s)" for c in np.unique(code))
    return Result(Prepared(ptf), values, notes=notes)
