# Type stub of loamara._curves: every attribute is a numpy.ufunc, float64
# operands, one output.
from numpy import ufunc

calc_swrc_durner: ufunc
"""calc_swrc_durner(h, theta_r, theta_s, w_1, alpha_1, n_1, alpha_2, n_2) -> theta; Durner (1994)"""
calc_swrc_van_genuchten: ufunc
"""calc_swrc_van_genuchten(h, theta_r, theta_s, alpha, n, m) -> theta; van Genuchten (1980)"""
calc_swrc_van_genuchten_head: ufunc
"""calc_swrc_van_genuchten_head(theta, theta_r, theta_s, alpha, n, m) -> h; van Genuchten (1980)"""
calc_hcc_mualem_van_genuchten: ufunc
"""calc_hcc_mualem_van_genuchten(h, ks, alpha, n, l) -> k; Mualem (1976), van Genuchten (1980)"""
calc_swrc_kosugi: ufunc
"""calc_swrc_kosugi(h, theta_r, theta_s, h_m, sigma) -> theta; Kosugi (1996)"""
calc_hcc_kosugi: ufunc
"""calc_hcc_kosugi(h, ks, h_m, sigma, l) -> k; Kosugi (1996), Mualem (1976)"""
calc_swrc_brooks_corey: ufunc
"""calc_swrc_brooks_corey(h, theta_r, theta_s, h_b, lambda_) -> theta; Brooks and Corey (1964)"""
calc_hcc_brooks_corey: ufunc
"""calc_hcc_brooks_corey(h, ks, h_b, lambda_) -> k; Brooks and Corey (1964)"""
calc_swrc_campbell: ufunc
"""calc_swrc_campbell(psi, theta_s, psi_e, b) -> theta; Campbell (1974)"""
calc_swrc_campbell_suction: ufunc
"""calc_swrc_campbell_suction(theta, theta_s, psi_e, b) -> psi; Campbell (1974)"""
calc_hcc_campbell: ufunc
"""calc_hcc_campbell(theta, ks, theta_s, b) -> k; Campbell (1974)"""
calc_swrc_saxton2006: ufunc
"""calc_swrc_saxton2006(psi, theta_1500, theta_33, theta_s, psi_e) -> theta; Saxton and Rawls (2006)"""
calc_swrc_saxton2006_suction: ufunc
"""calc_swrc_saxton2006_suction(theta, theta_1500, theta_33, theta_s, psi_e) -> psi; Saxton and Rawls (2006)"""
calc_texture_usda: ufunc
"""calc_texture_usda(sand, silt, clay) -> texture_class; USDA Soil Survey Manual"""
