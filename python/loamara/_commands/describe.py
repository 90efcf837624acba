"""``loamara describe``: everything about one function."""
from __future__ import annotations

import argparse
import sys
from typing import Any

import shutil
import textwrap

from .._catalog import PTF, lookup
from .._format import (calibration_lines, curve_source, quantity_lines,
                       variant_lines)


def _width() -> int:
    return max(60, min(shutil.get_terminal_size((100, 24)).columns, 120))


def describe_text(p: PTF, width: int = 100) -> str:
    """The full description of one function, as ``loamara describe``
    prints it: publication and reference, calls, inputs and outputs with
    unit, kind and physical range, the curve model, notes."""
    wrap = textwrap.TextWrapper(width=width, initial_indent="  ",
                                subsequent_indent="  ")
    item = textwrap.TextWrapper(width=width, initial_indent="  - ",
                                subsequent_indent="    ")
    ref = p.citation
    lines = [p.name, wrap.fill(f"{p.publication}. {p.summary}"), "",
             "Reference:", wrap.fill(ref.citation)]
    if ref.doi:
        lines.append(f"  doi:{ref.doi}  https://doi.org/{ref.doi}")
    lines.append(wrap.fill(("Citation verified" if ref.verified else
                            "Citation not verified") + f": {ref.source}."))
    lines += ["", "Where it holds:"]
    lines += [item.fill(t) for t in calibration_lines(ref)
              + variant_lines(p)]
    lines += ["", "Call:", f"  {p.call_text()}",
              f"  {p.estimate_call()}", "", "Inputs:"]
    lines += quantity_lines(p.inputs, width, details=True)
    lines += ["", "Outputs:"]
    lines += quantity_lines(p.outputs, width, details=True)
    if p.curve is not None:
        lines += ["", f"Curve model: {p.curve.model}"]
        for par, src in p.curve.parameters.items():
            lines.append(item.fill(f"{par}: {curve_source(src)}"))
        if p.curve.note:
            lines.append(wrap.fill(p.curve.note))
    if p.notes:
        lines += ["", "Notes:"]
        lines += [item.fill(n) for n in p.notes]
    return "\n".join(lines) + "\n"


def run(args: argparse.Namespace) -> int:
    sys.stdout.write(describe_text(lookup(args.name), _width()))
    return 0


def add_parser(sub: Any) -> None:
    p = sub.add_parser("describe", help="inputs, outputs and units of one "
                       "function",
                       description="Describe one function: publication, "
                       "calls, inputs and outputs with units.")
    p.add_argument("name", help="full or short name (calc_ptf_saxton2006 or "
                   "saxton2006)")
    p.set_defaults(func=run)
