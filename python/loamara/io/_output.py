"""The output target every writer uses: the output is written under a
hidden name beside the target (``.NAME.XXXXXXXX.part``), which replaces the
target only once it is complete, and is removed on any failure or signal;
an existing target stays as it was until then.  Files (tables, figures,
GeoTIFF, NetCDF) and directories (Zarr stores) alike.
"""
from __future__ import annotations

import os
import secrets
import shutil
from pathlib import Path

from .._errors import RunError

__all__ = ["part_path", "create_part_file", "free_part_path", "remove",
           "install"]


def part_path(target: Path) -> Path:
    """A hidden name beside ``target`` for its output in progress (renamed
    over ``target`` when complete, removed on failure)."""
    parent = target.resolve().parent
    return parent / f".{target.name}.{secrets.token_hex(4)}.part"


def create_part_file(target: Path, directory: bool = False
                     ) -> tuple[int | None, Path]:
    """A new, empty file (or directory) beside ``target`` for the output in
    progress, created with the permissions an ordinary new file gets."""
    while True:
        part = part_path(target)
        try:
            if directory:
                part.mkdir()
                return None, part
            fd = os.open(part, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
        except FileExistsError:
            continue
        return fd, part


def free_part_path(target: Path) -> Path:
    """A free hidden name beside ``target``, for writers that create the
    file or directory themselves (the raster writers)."""
    while True:
        tmp = part_path(target)
        if not tmp.exists() and not tmp.is_symlink():
            return tmp


def remove(path: Path) -> None:
    """Removes a part file or directory (nothing if it is not there)."""
    if path.is_dir() and not path.is_symlink():
        shutil.rmtree(path, ignore_errors=True)
    else:
        try:
            path.unlink()
        except FileNotFoundError:
            pass


def install(tmp: Path, target: Path) -> None:
    """Puts the finished output (file or directory) in place of the
    target, atomically where the file system allows it."""
    if not tmp.is_dir() or not target.is_dir():
        os.replace(tmp, target)
        return
    # A directory cannot be renamed over a non-empty one: the old store is
    # moved aside first, and back if the new one cannot take its place.
    old = free_part_path(target).with_suffix(".old")
    os.replace(target, old)
    try:
        os.replace(tmp, target)
    except BaseException:
        os.replace(old, target)
        raise
    try:
        shutil.rmtree(old)
    except OSError as exc:
        raise RunError(f"{target} is written, but the directory it replaced "
                       f"could not be removed from {old}: {exc}") from None
