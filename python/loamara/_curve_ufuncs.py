"""The ufuncs of ``loamara._curves`` (retention and conductivity curves,
USDA texture classes), re-exported as attributes of ``loamara`` (the same
objects).  Their types are declared in ``_curves.pyi``."""
from ._curves import *  # noqa: F403
