#include "math/SigmoidCoefficients.h"

namespace quorvane {

const std::vector<double> SIGMOID_ORDER3_COEFS = {0.5, 1.20096, 0, -0.81562};

const std::vector<double> SIGMOID_ORDER7_COEFS = {0.5, -1.73496, 0, 4.19407,
                                                  0,   -5.43402, 0, 2.50739};

const std::vector<double> SIGMOID_ORDER9_COEFS = {0.5,
                                                  2.318583878945927,
                                                  0,
                                                  -11.622557469576737,
                                                  0,
                                                  37.47469955977713,
                                                  0,
                                                  -58.559563142590484,
                                                  0,
                                                  34.36770115907552};

} // namespace quorvane
