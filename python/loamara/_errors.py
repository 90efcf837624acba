"""The errors of reading, computing and writing tables and rasters, in a
module of their own: every part of the input/output and command-line code
raises them, and none needs another part to do so."""
from __future__ import annotations

__all__ = ["RunError", "TableError", "TableWarning"]


class RunError(Exception):
    """A problem with the input data or the command line of ``run``; the
    message names the file, line, column and input concerned."""


class TableError(Exception):
    """A table that cannot be read or written; the message names the file,
    line and column."""


class TableWarning(UserWarning):
    """Values of a table that are read with a loss: integers beyond 2**53
    that have no exact double."""
