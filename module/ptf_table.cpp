// The registration table: one row per ufunc, in registration order.
//
// Families stand in alphabetical order of the author word of their names;
// within a family the rows keep the order of the publication's equations.
// Each row names the loops that its family file defines with PTF_LOOPS;
// the operand counts are part of those names, so a row and its kernel must
// agree on them for the module to link.
#include "ptf_registry.h"

#define PTF_TABLE \
    PTF_ROW_F64(calc_ptf_ahuja1984, 4, 1) \
    PTF_ROW_F64(calc_ptf_aimrun2009, 4, 1) \
    PTF_ROW_F64(calc_ptf_beniaich2023_slr1, 1, 3) \
    PTF_ROW_F64(calc_ptf_beniaich2023_slr2, 1, 3) \
    PTF_ROW_F64(calc_ptf_beniaich2023_slr3, 1, 3) \
    PTF_ROW_F64(calc_ptf_beniaich2023_slr4, 2, 3) \
    PTF_ROW_F64(calc_ptf_beniaich2023_slr5, 2, 3) \
    PTF_ROW_F64(calc_ptf_beniaich2023_slr6, 1, 3) \
    PTF_ROW_F64(calc_ptf_beniaich2023_mlr1, 3, 3) \
    PTF_ROW_F64(calc_ptf_beniaich2023_mlr2, 2, 3) \
    PTF_ROW_F64(calc_ptf_beniaich2023_mlr3, 2, 3) \
    PTF_ROW_F64(calc_ptf_beniaich2023_mlr4, 2, 3) \
    PTF_ROW_F64(calc_ptf_beniaich2023_mlr5, 3, 3) \
    PTF_ROW_F64(calc_ptf_chakraborty2011_eq1, 2, 4) \
    PTF_ROW_F64(calc_ptf_chakraborty2011_eq2, 2, 4) \
    PTF_ROW_F64(calc_ptf_chakraborty2011_eq3, 3, 4) \
    PTF_ROW_F64(calc_ptf_chakraborty2011_eq4, 3, 4) \
    PTF_ROW_F64(calc_ptf_chakraborty2011_eq5, 4, 4) \
    PTF_ROW_F64(calc_ptf_chakraborty2011_eq6, 5, 4) \
    PTF_ROW_U32(calc_ptf_clapp1978, 1, 6) \
    PTF_ROW_F64(calc_ptf_cosby1984_univariate, 3, 7) \
    PTF_ROW_F64(calc_ptf_dharumarajan2019_nkp, 3, 2) \
    PTF_ROW_F64(calc_ptf_dharumarajan2019_nkp_clay, 1, 2) \
    PTF_ROW_F64(calc_ptf_dharumarajan2019_skp, 3, 2) \
    PTF_ROW_F64(calc_ptf_dharumarajan2019_skp_clay, 1, 2) \
    PTF_ROW_F64(calc_ptf_dharumarajan2019_infiltration, 3, 1) \
    PTF_ROW_F64(calc_ptf_dijkerman1988, 2, 2) \
    PTF_ROW_F64(calc_ptf_dijkerman1988_available_water, 2, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_campbell_shiozawa, 2, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_saxton, 2, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_dane_puckett, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_puckett, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_cosby, 2, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_humic_acrisol_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_humic_acrisol_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_calcic_cambisol_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_calcic_cambisol_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_dystric_cambisol_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_dystric_cambisol_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_eutric_cambisol_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_eutric_cambisol_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_gleyic_cambisol_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_gleyic_cambisol_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_humic_cambisol_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_humic_cambisol_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_calcaric_fluvisol_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_calcaric_fluvisol_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_calcic_luvisol_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_calcic_luvisol_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_chromic_luvisol_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_chromic_luvisol_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_gleyic_luvisol_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_gleyic_luvisol_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_orthic_luvisol_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_orthic_luvisol_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_ranker_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_ranker_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_calcaric_regosol_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_calcaric_regosol_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_dystric_regosol_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_dystric_regosol_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_eutric_regosol_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_eutric_regosol_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_rendzina_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_rendzina_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_gleyic_solonchak_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_gleyic_solonchak_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_general_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_ferrerjulia2004_general_texture_organic_matter, 3, 1) \
    PTF_ROW_F64(calc_ptf_gunarathna2019_vwc10_set1, 1, 1) \
    PTF_ROW_F64(calc_ptf_gunarathna2019_vwc10_set2, 2, 1) \
    PTF_ROW_F64(calc_ptf_gunarathna2019_vwc10_set3, 3, 1) \
    PTF_ROW_F64(calc_ptf_gunarathna2019_vwc10_set4, 3, 1) \
    PTF_ROW_F64(calc_ptf_gunarathna2019_vwc33_set1, 1, 1) \
    PTF_ROW_F64(calc_ptf_gunarathna2019_vwc33_set2, 2, 1) \
    PTF_ROW_F64(calc_ptf_gunarathna2019_vwc33_set3, 3, 1) \
    PTF_ROW_F64(calc_ptf_gunarathna2019_vwc33_set4, 3, 1) \
    PTF_ROW_F64(calc_ptf_gunarathna2019_vwc1500_set1, 1, 1) \
    PTF_ROW_F64(calc_ptf_gunarathna2019_vwc1500_set3, 2, 1) \
    PTF_ROW_F64(calc_ptf_gunarathna2019_vwc1500_set4, 2, 1) \
    PTF_ROW_F64(calc_ptf_hodnett2002, 7, 4) \
    PTF_ROW_F64(calc_ptf_jabro1992, 3, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_water_0bar_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_water_0bar_from_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_water_0bar_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_water_0bar_from_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_water_01bar_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_water_03bar_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_water_01bar_from_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_water_03bar_from_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_water_01bar_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_water_03bar_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_water_01bar_from_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_water_03bar_from_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_water_15bar_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_water_15bar_from_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_water_15bar_from_silt, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_water_15bar_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_water_15bar_from_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_moisture_equivalent_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_moisture_equivalent_from_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_moisture_equivalent_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_moisture_equivalent_from_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_moisture_equivalent_from_silt, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_water_03bar_from_water_01bar, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_water_15bar_from_water_01bar, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_upper_plastic_limit_from_organic_carbon, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_lower_plastic_limit_from_organic_carbon, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_plasticity_index_from_organic_carbon, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_upper_plastic_limit_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_lower_plastic_limit_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_plasticity_index_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_lower_plastic_limit_from_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_i_plasticity_index_from_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_upper_plastic_limit_from_organic_carbon, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_plasticity_index_from_organic_carbon, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_upper_plastic_limit_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_lower_plastic_limit_from_clay, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_upper_plastic_limit_from_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_lower_plastic_limit_from_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_upper_plastic_limit_from_silt, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_lower_plastic_limit_from_silt, 1, 1) \
    PTF_ROW_F64(calc_ptf_lal1979_group_ii_plasticity_index_from_silt, 1, 1) \
    PTF_ROW_F64(calc_ptf_li2007, 5, 4) \
    PTF_ROW_F64(calc_ptf_mayr1999, 5, 3) \
    PTF_ROW_F64(calc_ptf_myeni2021_fc, 3, 1) \
    PTF_ROW_F64(calc_ptf_myeni2021_pwp, 3, 1) \
    PTF_ROW_F64(calc_ptf_oosterveld1980_field_capacity_tension, 1, 1) \
    PTF_ROW_F64(calc_ptf_oosterveld1980_retention, 4, 1) \
    PTF_ROW_F64(calc_ptf_oosterveld1980_field_capacity, 3, 1) \
    PTF_ROW_F64(calc_ptf_oosterveld1980_wilting_point, 3, 1) \
    PTF_ROW_F64(calc_ptf_oosterveld1980_available_water, 3, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_fc, 3, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_fc_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_fc_sand_organic_matter, 2, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_fc_vol_sand_organic_matter, 2, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_pwp, 3, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_pwp_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_pwp_sand_organic_matter, 2, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_awc, 2, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_awc_sand_organic_matter, 2, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_awc_coarse_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_awc_fine_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_awc_very_fine_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_eawc, 3, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_eawc_sand, 1, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_eawc_sand_organic_matter, 2, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_eawc_coarse_sand_organic_matter, 2, 1) \
    PTF_ROW_F64(calc_ptf_pidgeon1972_eawc_fine_sand_organic_matter, 2, 1) \
    PTF_ROW_F64(calc_ptf_puckett1985, 5, 11) \
    PTF_ROW_F64(calc_ptf_rawls1982_theta_1500, 2, 1) \
    PTF_ROW_F64(calc_ptf_rawls1982_theta_33, 3, 1) \
    PTF_ROW_F64(calc_ptf_rawls1982_full_wrc, 5, 12) \
    PTF_ROW_F64(calc_ptf_saxton2006, 3, 10) \
    PTF_ROW_F64(calc_ptf_saxton2006_density, 4, 4) \
    PTF_ROW_F64(calc_ptf_saxton2006_tension_dry, 3, 1) \
    PTF_ROW_F64(calc_ptf_saxton2006_tension_wet, 4, 1) \
    PTF_ROW_F64(calc_ptf_saxton2006_conductivity, 4, 1) \
    PTF_ROW_F64(calc_ptf_saxton2006_gravel, 4, 4) \
    PTF_ROW_F64(calc_ptf_saxton2006_salinity, 3, 2) \
    PTF_ROW_F64(calc_ptf_tiwary2014_igp, 3, 1) \
    PTF_ROW_F64(calc_ptf_tiwary2014_bsr, 6, 4) \
    PTF_ROW_F64(calc_ptf_varallyai1982_meadow, 3, 3) \
    PTF_ROW_F64(calc_ptf_varallyai1982_chernozem_a, 2, 3) \
    PTF_ROW_F64(calc_ptf_varallyai1982_chernozem_b, 2, 3) \
    PTF_ROW_F64(calc_ptf_varallyai1982_chernozem_c, 2, 3) \
    PTF_ROW_F64(calc_ptf_vereecken1989, 4, 4) \
    PTF_ROW_F64(calc_ptf_vereecken1989_detailed, 13, 4) \
    PTF_ROW_F64(calc_ptf_wang2012, 6, 3) \
    PTF_ROW_F64(calc_ptf_weber2020, 6, 7) \
    PTF_ROW_F64(calc_ptf_zhao2016_m2_1, 3, 1) \
    PTF_ROW_F64(calc_ptf_zhao2016_m2_2, 3, 1) \
    PTF_ROW_F64(calc_ptf_zhao2016_m2_3, 3, 1) \
    PTF_ROW_F64(calc_ptf_zhao2016_m2_4, 3, 1) \
    PTF_ROW_F64(calc_ptf_zhao2016_m2_5, 3, 1) \
    PTF_ROW_F64(calc_ptf_zhao2016_m2_6, 3, 1)

// Declarations of the loops that the family files define.
#define PTF_ROW_TYPED PTF_ROW_DECLARATION
PTF_TABLE
#undef PTF_ROW_TYPED

namespace ptf {

#define PTF_ROW_TYPED PTF_ROW_INITIALISER
const PtfUfuncEntry kPtfTable[] = {PTF_TABLE};
#undef PTF_ROW_TYPED

const int kPtfTableSize =
    static_cast<int>(sizeof(kPtfTable) / sizeof(kPtfTable[0]));

}  // namespace ptf
