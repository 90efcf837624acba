"""``loamara plot``: figures (its subcommands are in ``_plotcli``)."""
from __future__ import annotations

from typing import Any

from .. import _plotcli


def add_parser(sub: Any) -> None:
    _plotcli.add_parser(sub)
