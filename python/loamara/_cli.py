"""The ``loamara`` command line (also ``python -m loamara``).

    loamara list [--output TEXT] [--publication TEXT]
    loamara describe NAME
    loamara run NAME INPUT.csv -o OUTPUT.csv [--map COLUMN=INPUT ...]
    loamara demo [--plots DIR]
    loamara plot curves --sand X --silt X --clay X --om X [--bd X] -o F.png
    loamara plot triangle SOILS.csv -o F.png

Each subcommand is a module of ``_commands`` (see there how one is
added); this module builds the parser from them and runs one.

Exit status: 0 on success, 1 for bad data or an unknown name, 2 for a
malformed command line.
"""
from __future__ import annotations

import argparse
import os
import signal
import sys
from collections.abc import Sequence

from . import _commands
from ._catalog import UnknownPTFError
from ._commands.describe import describe_text as describe_text
from ._errors import RunError
from .units import UnitError


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="loamara",
        description="Soil pedotransfer functions: catalog, description and "
        "evaluation on CSV files.")
    from . import __version__

    parser.add_argument("--version", action="version",
                        version=f"loamara {__version__}")
    sub = parser.add_subparsers(dest="command", required=True,
                                metavar="COMMAND")

    for command in _commands.modules():
        command.add_parser(sub)
    return parser


class _Terminated(BaseException):
    """SIGTERM, raised in the main thread so that the work in progress is
    abandoned like after Ctrl-C (no partial output file is left)."""


def _on_sigterm(signum: int, frame: object) -> None:
    raise _Terminated()


def main(argv: Sequence[str] | None = None) -> int:
    """Entry point of the ``loamara`` command; returns the exit status."""
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        previous = signal.signal(signal.SIGTERM, _on_sigterm)
    except ValueError:  # not the main thread: leave signals alone
        previous = None
    try:
        status: int = args.func(args)
    except (UnknownPTFError, RunError, UnitError) as exc:
        # A unit that does not convert is the caller's to mend (the
        # message names the input, the unit given and the unit needed).
        print(f"loamara: error: {exc}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("loamara: interrupted", file=sys.stderr)
        return 130
    except _Terminated:
        print("loamara: terminated", file=sys.stderr)
        return 128 + signal.SIGTERM
    except BrokenPipeError:  # e.g. `loamara list | head`
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return 0
    except OSError as exc:
        print(f"loamara: error: {exc}", file=sys.stderr)
        return 1
    except Exception as exc:  # noqa: BLE001 - a fault of ours, said plainly
        if os.environ.get("LOAMARA_DEBUG"):
            raise
        print(f"loamara: error: {type(exc).__name__}: {exc} (this is a "
              "fault of loamara; LOAMARA_DEBUG=1 shows where)",
              file=sys.stderr)
        return 1
    finally:
        if previous is not None:
            signal.signal(signal.SIGTERM, previous)
    return status
