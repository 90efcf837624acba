"""Progress on standard error, one mechanism for every long job: rows of
a table and the tasks of a raster's dask graph.  A tqdm bar where tqdm is
installed, else a counter that rewrites one line.
"""
from __future__ import annotations

import importlib
import sys
import threading
from collections.abc import Iterator
from contextlib import contextmanager
from typing import Any

__all__ = ["Progress", "dask_progress"]


class Progress:
    """Work done, on standard error: a tqdm bar when tqdm is installed,
    otherwise a counter that rewrites one line."""

    def __init__(self, total: int | None, enabled: bool,
                 unit: str = "rows", label: str = "") -> None:
        self._bar: Any = None
        self._done = 0
        self._enabled = enabled
        self._total = total
        if enabled:
            try:
                tqdm: Any = importlib.import_module("tqdm")
            except ImportError:
                pass
            else:
                self._bar = tqdm.tqdm(total=total, unit=f" {unit}",
                                      desc=label or None, file=sys.stderr,
                                      leave=False, mininterval=0.5)
        self._unit = unit
        self._label = f"{label}: " if label else ""

    def update(self, n: int) -> None:
        self._done += n
        if self._bar is not None:
            self._bar.update(n)
        elif self._enabled:
            of = f" of ~{self._total}" if self._total else ""
            sys.stderr.write(f"\r{self._label}{self._done} "
                             f"{self._unit}{of}")
            sys.stderr.flush()

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
        elif self._enabled:
            sys.stderr.write("\n")
            sys.stderr.flush()


@contextmanager
def dask_progress(enabled: bool, label: str) -> Iterator[None]:
    """The tasks of every dask computation inside, counted on a
    :class:`Progress` (tasks end on any thread)."""
    if not enabled:
        yield
        return
    from dask.callbacks import Callback

    bar: Progress | None = None
    lock = threading.Lock()

    def start(dsk: Any) -> None:
        nonlocal bar
        bar = Progress(len(dsk), True, "tasks", label)

    def done(key: Any, result: Any, dsk: Any, state: Any, worker: Any
             ) -> None:
        with lock:
            if bar is not None:
                bar.update(1)

    def finish(dsk: Any, state: Any, errored: bool) -> None:
        nonlocal bar
        with lock:
            if bar is not None:
                bar.close()
                bar = None

    with Callback(start=start, posttask=done,  # type: ignore[no-untyped-call]
                  finish=finish):
        yield
