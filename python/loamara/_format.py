"""Plain-text layout shared by error messages and the command line."""
from __future__ import annotations

import textwrap
from collections.abc import Sequence

from ._catalog import Quantity


def quantity_lines(quantities: Sequence[Quantity],
                   width: int = 100) -> list[str]:
    """One aligned entry per quantity: number, name, unit in brackets (with
    the operand type where it is not float64), then the meaning, wrapped to
    ``width`` columns under its own column (or below, if that is narrow)."""
    units = [f"[{q.unit}]" if q.dtype == "float64"
             else f"[{q.unit}, {q.dtype}]" for q in quantities]
    wn = max((len(q.name) for q in quantities), default=0)
    wu = max((len(u) for u in units), default=0)
    lines: list[str] = []
    for i, (q, u) in enumerate(zip(quantities, units), start=1):
        lead = f"  {i:>2}. "
        head = f"{lead}{q.name:<{wn}}  {u:<{wu}}  "
        room = width - len(head)
        if room >= 30:
            wrapped = textwrap.wrap(q.meaning, room) or [""]
            lines.append(head + wrapped[0])
            lines.extend(" " * len(head) + w for w in wrapped[1:])
        else:
            lines.append(head.rstrip())
            indent = " " * (len(lead) + 4)
            lines.extend(textwrap.wrap(q.meaning,
                                       max(width - len(indent), 20),
                                       initial_indent=indent,
                                       subsequent_indent=indent))
    return lines
