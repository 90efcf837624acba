"""The ufuncs of ``loamara._more`` (HYPRES, Weynants, Toth, Cosby's
multivariate regressions, Rawls and Brakensiek, and the class tables of
Carsel and Parrish, Rawls et al. and Rosetta), re-exported as attributes of
``loamara`` (the same objects).  Their types are declared in
``_more.pyi``."""
from ._more import *  # noqa: F403
