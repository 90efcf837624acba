"""The ufuncs of ``_loamara``, re-exported as attributes of ``loamara``
(the same objects).  Their types are declared in ``_ufuncs.pyi``."""
from _loamara import *  # noqa: F403
