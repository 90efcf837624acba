"""``loamara fit``: retention (and conductivity) curves fitted to the
samples of a laboratory table."""
from __future__ import annotations

from typing import Any


def add_parser(sub: Any) -> None:
    from .._fitcli import add_parser as add

    add(sub)
