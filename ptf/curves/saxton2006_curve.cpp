// The complete tension curve of Saxton and Rawls (2006), "Soil water
// characteristic estimates by texture and organic matter for hydrologic
// solutions", Soil Sci. Soc. Am. J. 70:1569-1578, in both directions, from
// the four values that calc_ptf_saxton2006 of _loamara estimates: theta1500,
// theta33, thetaS and the air-entry tension psi_e.
//
// Units as in the publication: tensions psi and psi_e in kPa, positive;
// water contents volume fractions.
//
// Segments of the curve (psi_e < 33 kPa, as the publication's soils have):
//   saturated     psi <= psi_e:       theta = thetaS
//   linear        psi_e < psi <= 33:  psi = 33 - ((33 - psi_e) *
//                                     (theta - theta33)) / (thetaS - theta33)
//   power law     psi > 33:           psi = A * theta^(-B), with
//                 B = (ln 1500 - ln 33) / (ln theta33 - ln theta1500),
//                 A = exp(B * ln theta33 + ln 33).
// The power law passes through theta1500 at 1500 kPa and continues beyond
// it: drier than 1500 kPa the curve keeps the same exponent, theta
// decreasing towards 0 as psi grows.  B and A, the linear segment and the
// power law are evaluated by the functions that the Saxton family of
// _loamara uses (ptf/models/saxton2006_tension.h), so that the suction
// curve agrees bit for bit with calc_ptf_saxton2006_tension_wet and
// calc_ptf_saxton2006_tension_dry on their segments.
//
// The segment tests are quiet comparisons that are false for NaN: a NaN
// psi or theta falls through to the power law and gives NaN.  A NaN
// parameter gives NaN in the segments whose formula uses it (theta1500 and
// theta33 the power law; theta33, thetaS and psi_e the linear segment); a
// NaN psi_e (thetaS in the suction curve) also makes the saturation test
// false.
#include "ptf_registry.h"
#include "ptf/models/saxton2006_tension.h"

namespace {

using ptf::saxton2006::tension_curve_a;
using ptf::saxton2006::tension_curve_b;

// theta(psi).  Segment boundaries: psi_e belongs to the saturated segment,
// so theta(psi_e) = thetaS exactly; 33 kPa belongs to the linear segment,
// whose inverse
//   theta = theta33 + ((33 - psi) * (thetaS - theta33)) / (33 - psi_e)
// (product before division) gives theta33 exactly at psi = 33.  Above 33
// kPa the inverse of the power law, theta = pow(psi / A, -1 / B), with
// -1 / B one division.  Every psi <= 0 is saturated for psi_e >= 0.  With
// psi_e >= 33 the linear segment is empty and the power law starts at
// psi_e.
// Inputs: psi, theta1500, theta33, thetaS, psi_e.  Output: theta.
struct Saxton2006Curve {
    static constexpr int nin = 5, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double psi = x[0];
        const double theta33 = x[2];
        const double theta_s = x[3];
        const double psi_e = x[4];
        if (std::islessequal(psi, psi_e)) {
            y[0] = theta_s;
        } else if (std::islessequal(psi, 33.0)) {
            y[0] = theta33 +
                   ((33.0 - psi) * (theta_s - theta33)) / (33.0 - psi_e);
        } else {
            const double b = tension_curve_b(theta33, x[1]);
            const double a = tension_curve_a(b, theta33);
            y[0] = std::pow(psi / a, -1.0 / b);
        }
    }
};

// psi(theta).  theta >= thetaS gives psi_e, the upper end of the saturated
// range; theta33 <= theta < thetaS the linear segment (exactly 33 at
// theta33); theta < theta33 the power law psi = theta^(-B) * A, also below
// theta1500.  theta <= 0 gives +inf or NaN, as pow gives.
// Inputs: theta, theta1500, theta33, thetaS, psi_e.  Output: psi.
struct Saxton2006CurveSuction {
    static constexpr int nin = 5, nout = 1;
    static inline void eval(const double* x, double* y) {
        const double theta = x[0];
        const double theta33 = x[2];
        const double theta_s = x[3];
        const double psi_e = x[4];
        if (std::isgreaterequal(theta, theta_s)) {
            y[0] = psi_e;
        } else if (std::isgreaterequal(theta, theta33)) {
            y[0] = ptf::saxton2006::tension_wet(theta, theta33, theta_s,
                                                psi_e);
        } else {
            y[0] = ptf::saxton2006::tension_dry(theta, x[1], theta33);
        }
    }
};

}  // namespace

PTF_LOOPS(calc_swrc_saxton2006, 5, 1, Saxton2006Curve)
PTF_LOOPS(calc_swrc_saxton2006_suction, 5, 1, Saxton2006CurveSuction)
