"""Cosby et al. (1984) Table 4 and Rawls and Brakensiek (1985)."""
import loamara._more as M
from ptfcheck import (LIBM, assert_matches_reference, assert_nan_dependence,
                      assert_worked)


def ref_cosby(S, Si, C):
    return [3.10 + C * 0.157 - S * 0.003,
            LIBM.pow(10.0, 1.54 - S * 0.0095 + Si * 0.0063),
            (50.5 - S * 0.142 - C * 0.037) / 100.0,
            LIBM.pow(10.0, -0.60 + S * 0.0126 - C * 0.0064)]


def ref_rawls(S, C, P):
    S2, C2, P2 = S * S, C * C, P * P
    tr = (-0.0182482 + S * 0.00087269 + C * 0.00513488 + P * 0.02939286
          - C2 * 0.00015395 - S * P * 0.0010827 - C2 * P2 * 0.00018233
          + C2 * P * 0.00030703 - P2 * C * 0.0023584)
    hb = (5.3396738 + C * 0.1845038 - P * 2.48394546 - C2 * 0.00213853
          - S * P * 0.04356349 - C * P * 0.61745089 + S2 * P2 * 0.00143598
          - C2 * P2 * 0.00855375 - S2 * C * 0.00001282 + C2 * P * 0.00895359
          - S2 * P * 0.00072472 + C2 * S * 0.0000054 + P2 * C * 0.50028060)
    la = (-0.7842831 + S * 0.0177544 - P * 1.062498 - C2 * 0.00273493
          - S2 * 0.00005304 + P2 * 1.11134946 - S * P * 0.03088295
          + S2 * P2 * 0.00026587 - C2 * P2 * 0.00610522
          - S2 * C * 0.00000235 + C2 * P * 0.00798746 - P2 * C * 0.00674491)
    return [tr, LIBM.exp(hb), LIBM.exp(la)]


def test_edge_inputs_match_stepwise_reference():
    assert_matches_reference(M.calc_ptf_cosby1984, ref_cosby)
    assert_matches_reference(M.calc_ptf_rawls1985, ref_rawls)


def test_cosby_worked_and_nan_dependence():
    # 40 % sand, 40 % silt, 20 % clay: b 6.12, psi_s 10^1.412 cm,
    # theta_s 0.4408, Ks 10^-0.224 in/h.
    assert_worked(M.calc_ptf_cosby1984, (40.0, 40.0, 20.0),
                  ["6.12", "25.8226", "0.4408", "0.597035"])
    assert_nan_dependence(M.calc_ptf_cosby1984, (40.0, 40.0, 20.0),
                          [{0, 1, 2, 3}, {1}, {0, 2, 3}])


def test_rawls_worked_and_nan_dependence():
    assert_worked(M.calc_ptf_rawls1985, (40.0, 20.0, 0.47),
                  ["0.0824284", "23.5767", "0.321016"])
    assert_nan_dependence(M.calc_ptf_rawls1985, (40.0, 20.0, 0.47),
                          [{0, 1, 2}, {0, 1, 2}, {0, 1, 2}])
