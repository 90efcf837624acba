"""Units of the inputs and outputs, through pint.

Every operand of the catalog carries a unit string that pint parses (or the
marker "not established").  This module turns two such units into the
conversion between them, and applies it.

Conversions are exact where the ratio of the two units is a whole number or
the reciprocal of one: percent to mass fraction divides by 100, g/kg to
percent by 10, cg/cm^3 to g/cm^3 by 100, m/s to mm/h multiplies by 3600000,
each a single correctly rounded operation, bit for bit what a user would
write by hand.  Any other ratio (mm/h to cm/d, 2.4) is one multiplication by
the double nearest to it.

Unit strings are read as pint reads them, with a few additions for the
habits of soil data and of CF metadata (the ``units`` attribute of NetCDF
and SoilGrids files): exponents written after the unit (``cg cm-3``,
``m3 m-3``), ``fraction`` for a plain ratio, ``g/100g``, and pH values (a
plain number, also as SoilGrids' ``pHx10``).  Head units of water
(``cmH2O``, ``mmH2O``) are pressures, so a suction in cm of water converts
to kPa; a length unit given for a suction or head (``cm``) is read as the
height of a water column.

pint is an optional dependency (``pip install 'loamara[units]'``); nothing
here is imported by the base package until units are used.
"""
from __future__ import annotations

import functools
import math
import re
from dataclasses import dataclass
from fractions import Fraction
from typing import Any

import numpy as np

__all__ = ["Conversion", "UnitError", "conversion", "parse", "registry",
           "NOT_ESTABLISHED", "same_unit"]

NOT_ESTABLISHED = "not established"

_DEFINITIONS = [
    "fraction = [] = frac",
    "pH = [] = pH_unit",
]

# Spellings pint does not read, as whole unit strings.
_ALIASES = {"": "dimensionless", "1": "dimensionless", "-": "dimensionless",
            "pHx10": "0.1 * pH", "pH*10": "0.1 * pH", "pH x 10": "0.1 * pH",
            "pH10": "0.1 * pH"}

# CF writes exponents straight after the unit (cm-3, m2); pint wants **.
_CF_EXPONENT = re.compile(
    r"(?<=[A-Za-z])(?<![0-9][eE])(?=-?[0-9]+(?:[\s/*)]|$))")
_PER_HUNDRED = re.compile(r"/\s*100\s*([A-Za-z]+)")


class UnitError(ValueError):
    """A unit that pint cannot read, or two units that do not convert."""


def _missing_pint() -> ImportError:
    return ImportError("units need pint: pip install 'loamara[units]' "
                       "(or pip install pint)")


@functools.lru_cache(maxsize=1)
def registry() -> Any:
    """The package's pint UnitRegistry (created on first use)."""
    try:
        import pint
    except ImportError:
        raise _missing_pint() from None
    ureg: Any = pint.UnitRegistry(
        preprocessors=[lambda s: _PER_HUNDRED.sub(r"/(100 \1)", s),
                       lambda s: _CF_EXPONENT.sub("**", s)])
    for line in _DEFINITIONS:
        ureg.define(line)
    return ureg


def _clean(text: str) -> str:
    t = text.strip()
    return _ALIASES.get(t, t)


@functools.lru_cache(maxsize=512)
def parse(text: str) -> Any:
    """The pint Quantity of one unit of ``text`` (its magnitude is the scale
    of a scaled unit such as SoilGrids' "10^-3 cm^3/cm^3", else 1);
    UnitError if pint cannot read it."""
    if text == NOT_ESTABLISHED:
        raise UnitError("this unit is not established")
    ureg = registry()
    try:
        q = ureg.parse_expression(_clean(text))
    except Exception as exc:  # pint raises several unrelated types
        raise UnitError(f"unknown unit {text!r}: {exc}") from None
    if not isinstance(q, ureg.Quantity):  # a plain number, e.g. "100"
        q = ureg.Quantity(q, "dimensionless")
    return q


def _is_pressure(q: Any) -> bool:
    return bool(q.check("[pressure]"))


def _is_length(q: Any) -> bool:
    return bool(q.check("[length]"))


def _factor(src: Any, dst: Any) -> float:
    """Magnitude of one ``src`` in ``dst`` (both parsed quantities).  A
    length for a pressure, or the other way round (also as reciprocals, for
    van Genuchten's alpha), is taken as the height of a water column."""
    ureg = registry()
    head = ureg.Quantity(1.0, "cmH2O") / ureg.Quantity(1.0, "cm")
    q = src
    if _is_length(q) and _is_pressure(dst):
        q = q * head
    elif _is_pressure(q) and _is_length(dst):
        q = q / head
    elif _is_length(1 / q) and _is_pressure(1 / dst):
        q = q / head
    elif _is_pressure(1 / q) and _is_length(1 / dst):
        q = q * head
    try:
        return float(q.to(dst.units).magnitude / dst.magnitude)
    except Exception:  # pint.DimensionalityError and relatives
        raise UnitError(f"cannot convert {_named(src)} to {_named(dst)}: "
                        "different kinds of quantity") from None


def _named(q: Any) -> str:
    """A parsed unit with its dimension, for messages: ``m ([length])``;
    a plain ratio is ``1 (dimensionless)``, not an empty string."""
    text = f"{q.units:~P}" or "1"
    return f"{text} ({q.dimensionality})" if not q.dimensionless \
        else f"{text} (dimensionless)"


@dataclass(frozen=True)
class Conversion:
    """value_in_target = value * multiply / divide (one of the two is 1):
    a whole ratio or the reciprocal of one is applied exactly."""

    multiply: float = 1.0
    divide: float = 1.0
    description: str = ""

    @property
    def identity(self) -> bool:
        return self.multiply == 1.0 and self.divide == 1.0

    def apply(self, values: Any) -> Any:
        """The converted values (a new array; the input is not altered).
        Short floats (float16, float32, as raster readers return them) are
        widened to double first, which holds their values exactly: the
        conversion is one double operation whatever the input type."""
        if self.identity:
            return values
        dtype = getattr(values, "dtype", None)
        if (isinstance(dtype, np.dtype) and dtype.kind == "f"
                and dtype.itemsize < 8):
            values = values.astype(np.float64)
        if self.divide != 1.0:
            return np.divide(values, self.divide)
        return np.multiply(values, self.multiply)


def _whole(x: float) -> bool:
    return x.is_integer() and abs(x) < 2.0 ** 53


@functools.lru_cache(maxsize=1024)
def conversion(src: str, dst: str) -> Conversion:
    """The conversion from unit ``src`` to unit ``dst`` (strings)."""
    if _clean(src) == _clean(dst):
        return Conversion(description="")
    f = _factor(parse(src), parse(dst))
    if f == 1.0:
        return Conversion(description="")
    if not (math.isfinite(f) and f > 0):
        raise UnitError(f"cannot convert {src} to {dst}")
    # Recover an exact ratio that pint's float arithmetic has rounded.
    ratio = Fraction(f).limit_denominator(1 << 40)
    close = abs(float(ratio) - f) <= 4 * math.ulp(f)
    if close and ratio.numerator == 1 and _whole(float(ratio.denominator)):
        d = float(ratio.denominator)
        return Conversion(divide=d, description=f"÷ {d:g}")
    if close and ratio.denominator == 1 and _whole(float(ratio.numerator)):
        m = float(ratio.numerator)
        return Conversion(multiply=m, description=f"× {m:g}")
    return Conversion(multiply=f, description=f"× {f:.10g}")


def same_unit(a: str, b: str) -> bool:
    """True when the two unit strings denote the same unit."""
    try:
        return conversion(a, b).identity
    except (UnitError, ImportError):
        return _clean(a) == _clean(b)


def check_dimension(src: str, dst: str) -> None:
    """Raises UnitError unless ``src`` converts to ``dst``."""
    conversion(src, dst)
