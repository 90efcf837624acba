"""Plain-text layout shared by error messages and the command line."""
from __future__ import annotations

import textwrap
from collections.abc import Mapping, Sequence
from typing import Any

from ._catalog import (NOT_ESTABLISHED, PTF, Publication, Quantity,
                       format_range)


_NBSP = "\u00a0"


def quantity_detail(q: Quantity) -> str:
    """Kind, unit string and range of a quantity, e.g. ``kind sand; unit
    dimensionless; range [0, 1]``, plus its former names.  The spaces
    inside the range are non-breaking."""
    if q.kind == NOT_ESTABLISHED:
        text = "kind and unit not established"
    else:
        if q.unit_from:
            text = f"kind {q.kind}; unit that of input {q.unit_from}"
        else:
            text = f"kind {q.kind}; unit {q.unit}"
        if q.log10:
            text += " (the value is its base-10 logarithm)"
        if q.range is not None:
            # Kept on one line by quantity_lines.
            rng = format_range(q.range, q.range_open).replace(" ", _NBSP)
            text += f"; range {rng}"
    if q.aliases:
        text += "; formerly " + ", ".join(q.aliases)
    return text


def quantity_lines(quantities: Sequence[Quantity], width: int = 100,
                   details: bool = False) -> list[str]:
    """One aligned entry per quantity: number, name, unit in brackets (with
    the operand type where it is not float64), then the meaning, wrapped to
    ``width`` columns under its own column (or below, if that is narrow).
    With ``details``, the kind, the unit string and the range follow the
    meaning."""
    units = [f"[{q.unit_label}]" if q.dtype == "float64"
             else f"[{q.unit_label}, {q.dtype}]" for q in quantities]
    wn = max((len(q.name) for q in quantities), default=0)
    wu = max((len(u) for u in units), default=0)
    lines: list[str] = []
    for i, (q, u) in enumerate(zip(quantities, units), start=1):
        lead = f"  {i:>2}. "
        head = f"{lead}{q.name:<{wn}}  {u:<{wu}}  "
        room = width - len(head)
        paragraphs = [q.meaning]
        if details:
            paragraphs.append(quantity_detail(q))
        start = len(lines)
        if room >= 30:
            wrapped = [w for t in paragraphs
                       for w in (textwrap.wrap(t, room) or [""])]
            lines.append(head + wrapped[0])
            lines.extend(" " * len(head) + w for w in wrapped[1:])
        else:
            lines.append(head.rstrip())
            indent = " " * (len(lead) + 4)
            for t in paragraphs:
                lines.extend(textwrap.wrap(t, max(width - len(indent), 20),
                                           initial_indent=indent,
                                           subsequent_indent=indent))
        lines[start:] = [ln.replace(_NBSP, " ") for ln in lines[start:]]
    return lines


def curve_source(src: Mapping[str, Any]) -> str:
    """Where a curve parameter comes from, in words: ``output alpha``,
    ``1.0 dimensionless``, ``1 - 1/n (Mualem)``, ``not established: ...``."""
    if "output" in src:
        return f"output {src['output']}"
    if "value" in src:
        unit = src.get("unit")
        return f"{src['value']:g}" + (f" {unit}" if unit else "")
    if "table" in src:
        values = ", ".join(f"{v:g}" for v in src["table"])
        return (f"by {src.get('by', 'class')}: {values} "
                f"{src.get('unit', '')}").rstrip()
    if src.get("mualem"):
        return "1 - 1/n (Mualem)"
    if "not_established" in src:
        return f"not established: {src['not_established']}"
    return str(dict(src))


def calibration_lines(pub: Publication) -> list[str]:
    """Where a publication's functions hold and how well, in words, one
    fact a line: the data they were fitted on, the established input
    ranges, the published accuracy ("not established" where unknown)."""
    cal = pub.calibration
    if cal is None or not cal.established:
        lines = ["Calibration data: not established"]
    else:
        facts = [cal.population]
        if cal.region:
            facts.append(f"region {cal.region}")
        if cal.n_samples is not None:
            facts.append(f"{cal.n_samples} samples")
        if cal.layers:
            facts.append(cal.layers)
        lines = ["Calibration data: " + "; ".join(facts)
                 + f" (source: {cal.evidence})"]
    if cal is not None and cal.ranges:
        lines.append("Calibration ranges: " + ", ".join(
            f"{k} {format_range(r)}" for k, r in cal.ranges.items()))
    else:
        lines.append("Calibration ranges: not established")
    if pub.accuracy:
        for a in pub.accuracy:
            stats = [f"RMSE {a.rmse:g} {a.unit}".rstrip()
                     if a.rmse is not None else "RMSE not established",
                     f"R2 {a.r2:g}" if a.r2 is not None else
                     "R2 not established"]
            if a.n is not None:
                stats.append(f"n {a.n}")
            log = " (log10)" if a.log10 else ""
            lines.append(f"Accuracy of {a.output}{log}: " + ", ".join(stats)
                         + f" (source: {a.evidence})")
    else:
        lines.append("Accuracy: not established")
    return lines


def variant_lines(p: PTF) -> list[str]:
    """The soil group a variant was fitted to and a documented doubt."""
    lines = []
    if p.group is not None:
        lines.append(f"Fitted to: {p.group.describe()} only")
    if p.doubt is not None:
        lines.append(f"Doubt: {p.doubt}")
    return lines
