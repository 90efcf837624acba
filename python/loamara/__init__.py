"""loamara: soil pedotransfer functions as NumPy ufuncs.

The ufuncs themselves live in the extension modules ``_loamara`` and
``loamara._more`` (HYPRES, Weynants, Toth, Cosby's multivariate
regressions, Rawls and Brakensiek, the class tables of Carsel and Parrish,
Rawls et al. and Rosetta) and are reachable here under the same names
(``loamara.calc_ptf_saxton2006`` is ``_loamara.calc_ptf_saxton2006``).  On top of them this package offers

* :func:`catalog` and :func:`lookup`: the publication, inputs and outputs
  (names, units, meanings) of every ufunc;
* :func:`estimate`: calls with named inputs in any units, for NumPy,
  pandas, dask and xarray data, with plausibility checks of the inputs
  (:class:`RangeWarning`, :class:`RangeError`) and named input conventions
  (:mod:`loamara.presets`); units through pint (:mod:`loamara.units`);
* :func:`curve`: the retention or conductivity curve of an estimate
  result, from the curve ufuncs of ``loamara._curves`` (also re-exported
  here: ``calc_swrc_*``, ``calc_hcc_*``, ``calc_texture_usda``);
* :func:`fit`: curve models fitted to laboratory retention (and
  conductivity) data, with standard errors, intervals and AICc (needs
  SciPy: the ``fit`` extra);
* :func:`applicable` and :func:`ensemble`: which functions the data at
  hand allow, grouped by what they estimate, and an ensemble of them for
  a quantity with the spread across functions;
* :func:`evaluate`: the applicable functions ranked against measured
  values (bias, MAE, RMSE, R2);
* :func:`parallel_apply`: any ufunc over large arrays, in chunks on all
  cores, bit for bit equal to one call;
* the ``loamara`` command line (``list``, ``describe``, ``which``, ``run``,
  ``ensemble``, ``evaluate``, ``fit``, ``demo``, ``plot``).
"""
from ._catalog import PTF as PTF
from ._catalog import Quantity as Quantity
from ._catalog import UnknownPTFError as UnknownPTFError
from ._catalog import catalog as catalog
from ._catalog import lookup as lookup
from . import presets as presets
from ._checks import DomainError as DomainError
from ._checks import DomainWarning as DomainWarning
from ._checks import RangeError as RangeError
from ._checks import RangeWarning as RangeWarning
from ._estimate import Result as Result
from ._estimate import estimate as estimate
from . import texture as texture
from .curves import curve as curve
from ._applicable import applicable as applicable
from ._ensemble import Ensemble as Ensemble
from ._ensemble import ensemble as ensemble
from ._evaluate import Evaluation as Evaluation
from ._evaluate import evaluate as evaluate
from ._ufuncs import *  # noqa: F403  (the 176 ufuncs of _loamara)
from ._curve_ufuncs import *  # noqa: F403
from ._more_ufuncs import *  # noqa: F403  (HYPRES, Toth, Weynants, ...)
from .parallel import parallel_apply as parallel_apply
from ._fit import FitError as FitError
from ._fit import FitResult as FitResult
from ._fit import fit as fit
from ._fit import fit_many as fit_many
from ._fit import group_samples as group_samples

__version__ = "0.1.0"  # the one version source: pyproject.toml reads it

# The public API: the names above, the ufuncs of the compiled modules, and
# the submodules meant for users (presets, texture; units and plot are
# imported on use: ``from loamara import units``).
__all__ = sorted(
    ["PTF", "Quantity", "UnknownPTFError", "catalog", "lookup", "presets",
     "RangeError", "RangeWarning", "DomainError", "DomainWarning", "Result",
     "estimate", "texture", "curve", "applicable", "Ensemble", "ensemble",
     "Evaluation", "evaluate", "FitError", "FitResult", "fit", "fit_many",
     "group_samples", "parallel_apply"]
    + [n for n in dir() if n.startswith(("calc_ptf_", "calc_swrc_",
                                         "calc_hcc_", "calc_texture_"))])
