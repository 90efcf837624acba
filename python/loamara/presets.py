"""Named input conventions: which variable names carry which quantity, in
which unit.

A preset lets data in a well-known layout go straight into any
pedotransfer function, with every conversion done by the package:

    loamara.estimate("saxton2006", preset="soilgrids", sand=..., clay=...,
                     soc=...)
    loamara run saxton2006 layers.nc --preset soilgrids -o out.nc

A preset variable matches a data variable of the same name, or one whose
name starts with it followed by an underscore (SoilGrids layer names such
as ``clay_0-5cm_mean``).  It is bound to every input of a function whose
kind it has (``soc`` is organic carbon; ``bdod`` bulk density).
"""
from __future__ import annotations

from collections.abc import Mapping
from dataclasses import dataclass, field

__all__ = ["Preset", "Variable", "PRESETS", "get", "names"]


@dataclass(frozen=True)
class Variable:
    """One variable of a preset: the quantity (a kind of the catalog) and
    the unit its values are stored in."""

    kind: str
    unit: str
    description: str = ""


@dataclass(frozen=True)
class Preset:
    name: str
    description: str
    variables: Mapping[str, Variable] = field(default_factory=dict)
    source: str = ""
    # The stored value that marks a missing cell (None: no such value).
    nodata: float | None = None

    def match(self, name: str) -> tuple[str, Variable] | None:
        """The preset variable a data variable name stands for: the same
        name, or the name followed by ``_`` and a suffix (depth, statistic).
        The longest matching variable name wins."""
        key = name.strip()
        found = None
        for var_name, var in self.variables.items():
            if key == var_name or key.startswith(var_name + "_"):
                if found is None or len(var_name) > len(found[0]):
                    found = (var_name, var)
        return found


_SOILGRIDS_TEXT = "SoilGrids 2.0 (Poggio et al. 2021, doi:10.5194/soil-7-217-2021)"

SOILGRIDS = Preset(
    name="soilgrids",
    description="SoilGrids 2.0 layers in their stored integer units "
    "(the layer names as ISRIC publishes them, e.g. clay_0-5cm_mean)",
    source=_SOILGRIDS_TEXT + ", units of the mapped values as ISRIC "
    "documents them",
    # The nodata value of the int16 layers ISRIC distributes.
    nodata=-32768.0,
    variables={
        "sand": Variable("sand", "g/kg", "sand (0.05-2 mm) content, g/kg"),
        "silt": Variable("silt", "g/kg", "silt (0.002-0.05 mm) content, g/kg"),
        "clay": Variable("clay", "g/kg", "clay (< 0.002 mm) content, g/kg"),
        "soc": Variable("organic_carbon", "dg/kg",
                        "soil organic carbon content, dg/kg"),
        "bdod": Variable("bulk_density", "cg/cm^3",
                         "bulk density of the fine earth, cg/cm^3"),
        "cec": Variable("cec", "mmol/kg",
                        "cation exchange capacity at pH 7, mmol(c)/kg"),
        "phh2o": Variable("ph", "pHx10", "pH in water, times 10"),
        "cfvo": Variable("gravel_volume", "cm^3/dm^3",
                         "coarse fragments by volume, cm^3/dm^3"),
        "wv0010": Variable("theta_10", "10^-3 cm^3/cm^3",
                           "water content at 10 kPa, 10^-3 cm^3/cm^3"),
        "wv0033": Variable("theta_33", "10^-3 cm^3/cm^3",
                           "water content at 33 kPa, 10^-3 cm^3/cm^3"),
        "wv1500": Variable("theta_1500", "10^-3 cm^3/cm^3",
                           "water content at 1500 kPa, 10^-3 cm^3/cm^3"),
    })

PERCENT = Preset(
    name="percent",
    description="a laboratory table: sand, silt, clay, organic carbon and "
    "organic matter in percent by mass, bulk density in g/cm^3",
    variables={
        "sand": Variable("sand", "percent"),
        "silt": Variable("silt", "percent"),
        "clay": Variable("clay", "percent"),
        "oc": Variable("organic_carbon", "percent"),
        "soc": Variable("organic_carbon", "percent"),
        "om": Variable("organic_matter", "percent"),
        "som": Variable("organic_matter", "percent"),
        "bd": Variable("bulk_density", "g/cm^3"),
    })

PRESETS: dict[str, Preset] = {p.name: p for p in (SOILGRIDS, PERCENT)}


def names() -> list[str]:
    return sorted(PRESETS)


def get(preset: str | Preset) -> Preset:
    """A preset by name (or the preset itself)."""
    if isinstance(preset, Preset):
        return preset
    try:
        return PRESETS[str(preset).strip().lower()]
    except KeyError:
        raise ValueError(f"unknown preset {preset!r}; the presets are: "
                         + ", ".join(names())) from None
