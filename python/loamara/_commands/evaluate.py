"""``loamara evaluate``: the applicable functions ranked against
measured values."""
from __future__ import annotations

from typing import Any

from ._options import add_data_options


def add_parser(sub: Any) -> None:
    from .._evaluate import add_parser as add

    add(sub, add_data_options)
