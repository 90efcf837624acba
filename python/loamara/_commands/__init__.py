"""The subcommands of ``loamara``, one module each.

A command is a module here with a function ``add_parser(sub)`` that adds
its subparser to ``sub`` (the subparsers of the ``loamara`` parser) and
sets ``func`` to the function that runs it (``args -> exit status``;
errors as :class:`loamara._errors.RunError`), and one line in
:data:`COMMANDS`.  The options several commands share are in
:mod:`._options`.  The order of :data:`COMMANDS` is the order of
``loamara --help``.
"""
from __future__ import annotations

import importlib
from collections.abc import Iterator
from types import ModuleType

__all__ = ["COMMANDS", "modules"]

COMMANDS = ("list", "describe", "run", "which", "ensemble", "evaluate",
            "fit", "demo", "plot")


def modules() -> Iterator[ModuleType]:
    """The command modules, in the order of :data:`COMMANDS`."""
    for name in COMMANDS:
        yield importlib.import_module(f"{__name__}.{name}")
