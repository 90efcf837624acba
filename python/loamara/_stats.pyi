# Type stub of loamara._stats: the compiled statistics of an ensemble across
# its members (see module/stats_module.cpp for their definitions).
from numpy import ufunc

ensemble_statistics: ufunc
"""ensemble_statistics(values(m), logs(m), extrapolated(m), weights(m), range(4)) -> (12): per sample, centre, weighted centre, spread, median, q25, q75, iqr, min, max, n, n_outside, n_extrapolated"""
