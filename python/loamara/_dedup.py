"""Reporting a warning once: the same problem found again in another block
of the data (another chunk of a table, another block of a raster) is not
repeated.

Two warnings are the same problem when their texts are equal once every
number in them is replaced: the counts and extremes of one block differ
from those of another, the names do not.  A number is a number only
standing on its own, so names that contain digits stay as they are:
``clay_0-5cm_mean`` and ``clay_5-15cm_mean`` are two layers, and each
gets its warning.

A :class:`Seen` lives as long as one call of :func:`loamara.estimate` or
one run of the command line, never longer: a second call on other data
reports its problems again.
"""
from __future__ import annotations

import re
import threading
from typing import Any

__all__ = ["Seen", "problem_key"]

# A decimal number (sign, fraction and exponent included) that is not part
# of a name: neither a letter, digit, underscore nor dot touches it.
_NUMBER = re.compile(
    r"(?<![\w.])[-+]?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][-+]?\d+)?(?![\w.])")


def problem_key(message: str) -> str:
    """The text of a warning with its numbers replaced by ``#``."""
    return _NUMBER.sub("#", message)


class Seen:
    """The problems reported so far, safe to share between threads (the
    blocks of lazy data are checked on any thread) and picklable (to the
    workers of a dask cluster, where each worker keeps its own)."""

    def __init__(self) -> None:
        self._keys: dict[str, int] = {}
        self._lock = threading.Lock()

    def first(self, message: str) -> bool:
        """True the first time a problem is seen; counts every time."""
        key = problem_key(message)
        with self._lock:
            count = self._keys.get(key, 0)
            self._keys[key] = count + 1
        return count == 0

    def __len__(self) -> int:
        return len(self._keys)

    def __getstate__(self) -> dict[str, Any]:
        with self._lock:
            return {"keys": dict(self._keys)}

    def __setstate__(self, state: dict[str, Any]) -> None:
        self._keys = dict(state["keys"])
        self._lock = threading.Lock()
