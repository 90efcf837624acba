"""USDA texture classes: names of the codes of ``calc_texture_usda`` and
their mapping onto the class tables of ``calc_ptf_clapp1978`` and of the
USDA class tables of ``loamara._more`` (Carsel and Parrish, Rawls et al.,
Rosetta); the HYPRES class index of ``calc_ptf_wosten1999_class`` from an
FAO texture class and the topsoil indicator.

``loamara.calc_texture_usda(sand, silt, clay)`` (percent by mass) returns
class codes 1 to 12 as float64, NaN where a sample cannot be classified;
``USDA_CLASSES[code - 1]`` is the name of a code.
"""
from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

__all__ = ["USDA_CLASSES", "usda_class_names", "clapp_index_from_usda",
           "usda_index", "FAO_CLASSES", "hypres_index"]

#: The twelve USDA texture classes, in code order (code 1 first).
USDA_CLASSES: tuple[str, ...] = (
    "sand",
    "loamy sand",
    "sandy loam",
    "silt loam",
    "silt",
    "loam",
    "sandy clay loam",
    "silty clay loam",
    "clay loam",
    "sandy clay",
    "silty clay",
    "clay",
)

# Row of Clapp and Hornberger's (1978) table for each USDA code 1 to 12.
# Their table has no silt class: silt (code 5) takes the silt loam row.
_CLAPP_ROW = np.array([0, 1, 2, 3, 3, 4, 5, 6, 7, 8, 9, 10], dtype=np.uint32)

# The index for an unclassified sample: outside Clapp and Hornberger's
# eleven rows, so calc_ptf_clapp1978 gives NaN in all its outputs.
_CLAPP_NONE = np.uint32(11)


def _class_positions(codes: Any) -> tuple[npt.NDArray[np.intp],
                                          npt.NDArray[np.bool_]]:
    """Zero-based positions of the codes (0 where NaN) and the NaN mask;
    ValueError for anything that is neither NaN nor a whole number from 1
    to 12."""
    c = np.asarray(codes, dtype=np.float64)
    missing = np.isnan(c)
    valid = np.isin(c, np.arange(1.0, 13.0)) | missing
    if not valid.all():
        bad = c[~valid].ravel()[0]
        raise ValueError(f"not a USDA texture class code (1 to 12 or NaN): "
                         f"{float(bad)!r}")
    pos = np.where(missing, 1.0, c).astype(np.intp) - 1
    return pos, missing


def usda_class_names(codes: Any) -> npt.NDArray[np.str_]:
    """Names of USDA texture class codes, as a string array of the codes'
    shape: ``USDA_CLASSES[code - 1]``, and '' for NaN (a sample that
    ``calc_texture_usda`` could not classify).

    >>> usda_class_names([1.0, 12.0, float("nan")]).tolist()
    ['sand', 'clay', '']
    """
    pos, missing = _class_positions(codes)
    names: npt.NDArray[np.str_] = np.where(
        missing, "", np.asarray(USDA_CLASSES)[pos])
    return names


def clapp_index_from_usda(codes: Any) -> npt.NDArray[np.uint32]:
    """The row index of ``calc_ptf_clapp1978`` (uint32, 0 sand, 1 loamy
    sand, 2 sandy loam, 3 silt loam, 4 loam, 5 sandy clay loam, 6 silty
    clay loam, 7 clay loam, 8 sandy clay, 9 silty clay, 10 clay) for USDA
    texture class codes.

    Clapp and Hornberger (1978) have no silt class: silt (code 5) is mapped
    to silt loam (3), the nearest class of their table.  NaN codes (samples
    that could not be classified) are mapped to 11, outside the table, for
    which ``calc_ptf_clapp1978`` gives NaN in every output.

    >>> clapp_index_from_usda([1.0, 5.0, 12.0, float("nan")]).tolist()
    [0, 3, 10, 11]
    """
    pos, missing = _class_positions(codes)
    index: npt.NDArray[np.uint32] = np.where(
        missing, _CLAPP_NONE, _CLAPP_ROW[pos]).astype(np.uint32)
    return index


def usda_index(codes: Any) -> npt.NDArray[np.uint32]:
    """The USDA class index of the class tables of ``loamara._more``
    (uint32, the code less one: 0 sand ... 4 silt ... 11 clay) for USDA
    texture class codes; 12, outside every table (NaN outputs), for NaN.

    >>> usda_index([1.0, 5.0, 12.0, float("nan")]).tolist()
    [0, 4, 11, 12]
    """
    pos, missing = _class_positions(codes)
    index: npt.NDArray[np.uint32] = np.where(missing, 12, pos).astype(
        np.uint32)
    return index


#: The FAO texture classes of the HYPRES class table (Woesten et al.
#: 1999), in index order, and the organic soils (index 5).  Their
#: boundaries in the texture triangle are not established in the sources
#: consulted, so the class is given, not found from texture.
FAO_CLASSES: tuple[str, ...] = ("coarse", "medium", "medium fine", "fine",
                                "very fine", "organic")
_FAO_SHORT = {"c": 0, "m": 1, "mf": 2, "f": 3, "vf": 4, "o": 5}


def _fao_position(value: Any) -> int:
    if isinstance(value, (str, np.str_)):
        key = " ".join(str(value).lower().replace("_", " ").replace(
            "-", " ").split())
        if key in FAO_CLASSES:
            return FAO_CLASSES.index(key)
        if key in _FAO_SHORT:
            return _FAO_SHORT[key]
    else:
        f = float(value)
        if f in range(6):
            return int(f)
    raise ValueError(f"not an FAO (HYPRES) texture class: {value!r}; the "
                     "classes are " + ", ".join(map(repr, FAO_CLASSES))
                     + " (or their index 0 to 5)")


def hypres_index(fao_class: Any, topsoil: Any) -> npt.NDArray[np.uint32]:
    """The row index of ``calc_ptf_wosten1999_class`` (uint32: 0 to 4
    topsoil coarse ... very fine, 5 to 9 subsoil, 10 organic) for FAO
    texture classes (names or index 0 to 5, 5 organic) and topsoil
    indicators (1 topsoil, 0 subsoil; any other value, NaN included, gives
    11, outside the table, and so NaN outputs, except for organic soils,
    whose one row serves both layers).

    >>> hypres_index(["medium fine", "coarse", "organic"], [1, 0, 0]).tolist()
    [2, 5, 10]
    """
    cls = np.asarray(fao_class, dtype=object)
    top = np.asarray(topsoil, dtype=np.float64)
    cls, top = np.broadcast_arrays(cls, top)
    pos = np.vectorize(_fao_position, otypes=[np.intp])(cls) if cls.size \
        else np.zeros(cls.shape, dtype=np.intp)
    layer = np.where(top == 1.0, 0, np.where(top == 0.0, 5, -1))
    index = np.where(pos == 5, 10, np.where(layer < 0, 11, pos + layer))
    return index.astype(np.uint32)
