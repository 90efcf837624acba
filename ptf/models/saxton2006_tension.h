// The tension equations of Saxton and Rawls (2006), "Soil water
// characteristic estimates by texture and organic matter for hydrologic
// solutions", Soil Sci. Soc. Am. J. 70:1569-1578: the power-law curve
// between 33 and 1500 kPa and the linear segment between 33 kPa and air
// entry.  Shared by the Saxton family of _loamara (ptf/models/saxton2006.cpp)
// and by the complete tension curve of loamara._curves
// (ptf/curves/saxton2006_curve.cpp), so that both evaluate the same
// operations in the same order.
//
// Water contents are volume fractions, tensions kPa.  ln 33 and ln 1500 are
// computed with the same std::log as the water contents.
#ifndef LOAMARA_SAXTON2006_TENSION_H
#define LOAMARA_SAXTON2006_TENSION_H

#include <cmath>

namespace ptf {
namespace saxton2006 {

// B = (ln 1500 - ln 33) / (ln theta33 - ln theta1500), the exponent of the
// power-law tension curve psi = A * theta^(-B) between 33 and 1500 kPa, from
// the two logarithms (a kernel that needs them twice computes each once:
// the same call on the same argument gives the same double, and the
// compiler does not merge two calls itself, since log may set errno).
inline double tension_curve_b_of_logs(double ln_theta33,
                                      double ln_theta1500) {
    return (std::log(1500.0) - std::log(33.0)) / (ln_theta33 - ln_theta1500);
}

// The exponent a = B * ln theta33 + ln 33 of A = exp(a).
inline double tension_curve_a_exponent(double b, double ln_theta33) {
    return b * ln_theta33 + std::log(33.0);
}

// B from the water contents.
inline double tension_curve_b(double theta33, double theta1500) {
    return tension_curve_b_of_logs(std::log(theta33), std::log(theta1500));
}

// A = exp(B * ln theta33 + ln 33), the coefficient of the same curve.
inline double tension_curve_a(double b, double theta33) {
    return std::exp(tension_curve_a_exponent(b, std::log(theta33)));
}

// Tension on the power-law curve: psi = theta^(-B) * A, the power taken
// first, then multiplied by A.
inline double tension_dry(double theta, double theta1500, double theta33) {
    const double b = tension_curve_b(theta33, theta1500);
    return std::pow(theta, -b) * tension_curve_a(b, theta33);
}

// Tension on the linear segment between 33 kPa and air entry psi_e:
// psi = 33 - ((33 - psi_e) * (theta - theta33)) / (thetaS - theta33), the
// product formed before the division.
inline double tension_wet(double theta, double theta33, double theta_s,
                          double psi_e) {
    return 33.0 -
           ((33.0 - psi_e) * (theta - theta33)) / (theta_s - theta33);
}

}  // namespace saxton2006
}  // namespace ptf

#endif  // LOAMARA_SAXTON2006_TENSION_H
