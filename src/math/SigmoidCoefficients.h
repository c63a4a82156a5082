#ifndef QUORVANE_MATH_SIGMOIDCOEFFICIENTS_H
#define QUORVANE_MATH_SIGMOIDCOEFFICIENTS_H

#include <vector>

namespace quorvane {

// Polynomial approximations of the sigmoid 1 / (1 + e^-x), built at start-up
// with the library's other constant tables (StartupRegistration.cpp). Entry i
// of a table is the coefficient of y^i, y being the input scaled as stated. Over
// the input range [-8, 8] the largest error is below 0.115 (order 3), 0.033
// (order 7) and 0.017 (order 9); beyond it the error grows quickly.

/// Order 3, y = x / 8 (entry 2 is zero).
extern const std::vector<double> SIGMOID_ORDER3_COEFS;
/// Order 7, y = -x / 8: the odd coefficients carry the opposite signs.
extern const std::vector<double> SIGMOID_ORDER7_COEFS;
/// Order 9, y = x / 10.
extern const std::vector<double> SIGMOID_ORDER9_COEFS;

/// The input scalings of the three tables.
const double SIGMOID_ORDER3_INPUT_SCALE = 0.125;
const double SIGMOID_ORDER7_INPUT_SCALE = -0.125;
const double SIGMOID_ORDER9_INPUT_SCALE = 0.1;

} // namespace quorvane

#endif
