"""``loamara which``: the functions the quantities at hand allow."""
from __future__ import annotations

import argparse
import sys
from typing import Any

from .._errors import RunError
from ._options import add_units_and_preset, unit_options

def run(args: argparse.Namespace) -> int:
    from .._applicable import applicable

    have = [h.strip() for h in args.have.split(",") if h.strip()]
    if not have:
        raise RunError("--have: give the quantities at hand, e.g. "
                       "--have sand,silt,clay,oc,bd")
    units = unit_options(args.units, "--units", "NAME=UNIT")
    _check_units_of_kinds(units, args.preset)
    try:
        found = applicable(have, units=units, preset=args.preset,
                           target=args.target)
    except ValueError as exc:
        raise RunError(str(exc)) from None
    sys.stdout.write(found.text(conversions=not args.brief))
    curves = _curve_members(args.target, have, units, args.preset) \
        if args.target else []
    if curves:
        print(f"{args.target} read off a retention curve (the curve members "
              f"of `loamara ensemble {args.target}`) ({len(curves)}):")
        for m in curves:
            how = m.reason.split(" (the publication")[0].split(";")[0]
            print(f"  {m.ptf.name}  {m.ptf.publication}  ({how})")
    return 0 if len(found) or curves else 1


def _curve_members(target: str, have: list[str], units: dict[str, str],
                   preset: str | None) -> list[Any]:
    """The functions whose retention curve gives ``target`` from these
    quantities: the curve members of its default ensemble (one function
    per publication)."""
    from .._ensemble import given_preset, select_members
    from ..presets import get as get_preset

    base = get_preset(preset) if preset else None
    _, given = given_preset(None, {h: None for h in have}, units, base)
    return [m for m in select_members(target, given.variables)
            if m.from_curve]


def _check_units_of_kinds(units: dict[str, str], preset: str | None) -> None:
    """Refuses a unit that does not convert to the unit of the quantity
    its name stands for (``--units sand=furlong``)."""
    from .._catalog import kinds
    from .._applicable import kind_of
    from ..presets import get as get_preset
    from ..units import UnitError, conversion

    base = get_preset(preset) if preset else None
    for name, unit in units.items():
        kind = kind_of(name, base)
        if kind is None or not kinds()[kind].unit:
            continue
        k = kinds()[kind]
        try:
            conversion(unit, k.unit)
        except (UnitError, ImportError) as exc:
            raise RunError(f"--units {name}={unit}: {name} is the "
                           f"{k.label}, in {k.unit} or a unit that converts "
                           f"to it ({exc})") from None


def add_parser(sub: Any) -> None:
    p = sub.add_parser(
        "which", help="the functions computable from the data at hand",
        description="List the functions whose inputs the given quantities "
        "cover, grouped by what they estimate, with the conversions each "
        "call makes (units, organic matter from organic carbon, ...).")
    p.add_argument("--have", required=True, metavar="NAMES",
                   help="the quantities at hand, comma-separated names or "
                   "kinds (sand,silt,clay,oc,bd)")
    add_units_and_preset(p, "NAME")
    p.add_argument("--target", metavar="KIND",
                   help="only functions estimating this kind (theta_33)")
    p.add_argument("--brief", action="store_true",
                   help="no conversion lines")
    p.set_defaults(func=run)
