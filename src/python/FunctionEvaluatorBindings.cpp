#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/Tile.h"
#include "math/FunctionEvaluator.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/CTileVector.h"
#include "python/ContextLifetime.h"
#include "python/NumpyUtils.h"

namespace py = pybind11;

namespace quorvane {

namespace {

const std::string COMPARE_OPERANDS_DOC = R"(
            :param b: The second operand, a CTile or a PTile.
            :type b: Tile
            :param g_rep: The number of applications of g(x) (see sign).
            :type g_rep: int
            :param f_rep: The number of applications of f(x) (see sign).
            :type f_rep: int
            :param max_possible_abs_of_diff: An upper bound on |a - b|; the
                                             tighter, the more accurate.
            :type max_possible_abs_of_diff: float
            )";

const std::string COMPARE_IN_PLACE_DOC = R"(
            Compares two numbers: a becomes 1 where a > b, 0 where a < b and 0.5
            where a == b, by calculating sign(a-b).

            :param a: The first operand; overwritten with the result.
            :type a: CTile)" + COMPARE_OPERANDS_DOC;

const std::string COMPARE_DOC = R"(
            Compares two numbers: 1 where a > b, 0 where a < b and 0.5 where
            a == b, by calculating sign(a-b). a and b are unchanged.

            :param a: The first operand.
            :type a: CTile)" + COMPARE_OPERANDS_DOC + R"(:rtype: CTile
            )";

} // namespace

void initFunctionEvaluatorBindings(py::module_& m)
{
  py::enum_<EvalType>(m, "EvalType", R"(
    Specifies a polynomial evaluation algorithm.
    )")
      .value("PATERSONSTOCKMAYER", PATERSONSTOCKMAYER,
             "Polynomial evaluation using the paterson stockmayer algorithm")
      .value("EFFICIENT_POWERS", EFFICIENT_POWERS,
             "Polynomial evaluation that computes each needed power once and reuses it, "
             "minimising the number of products")
      .value("MIN_DEPTH", MIN_DEPTH,
             "Polynomial evaluation that minimises the multiplication depth")
      .value("NUMERICAL_STABILITY", NUMERICAL_STABILITY,
             "Polynomial evaluation that maintains numerical stability; recommended for high "
             "degree polynomials or very small coefficients");

  BoundClass<FunctionEvaluator>(m, "FunctionEvaluator", R"(
    Evaluates available functions on CTiles, such as the approximate inverse
    function, sign, comparison and one-hot indicators.
    )")
      .def(py::init<const HeContext&>(), py::keep_alive<1, 2>(), R"(
            A constructor from HeContext.

            :param he: The heContext.
            :type he: HeContext
            )",
           py::arg("he"))
      .def(
          "inverse",
          [](const FunctionEvaluator& self, const CTile& src, double lowerBound,
             double upperBound, int bitResolution) {
            CTile res(src);
            self.inverse(res, lowerBound, upperBound, bitResolution);
            return holdWithContext(std::move(res), src.getHeContext());
          },
          R"(
            Calculates an approximation of 1/src. The values of src must lie
            between lower_bound and upper_bound, which must be finite, and
            lower_bound must be non-negative; the tighter the bounds, the more
            accurate the result.
            The method is the iterative inverse of the paper that introduced
            CKKS (Cheon, Kim, Kim and Song, 2017).

            :param src: The values to invert.
            :type src: CTile
            :param lower_bound: A lower bound on the values of src.
            :type lower_bound: float
            :param upper_bound: An upper bound on the values of src.
            :type upper_bound: float
            :param bit_resolution: A higher value increases accuracy at the cost
                                   of multiplication depth; at least 1, default 5.
            :type bit_resolution: int
            :rtype: CTile
            )",
          py::arg("src"), py::arg("lower_bound"), py::arg("upper_bound"),
          py::arg("bit_resolution") = 5)
      .def("compareInPlace", &FunctionEvaluator::compareInPlace, COMPARE_IN_PLACE_DOC.c_str(),
           py::arg("a"), py::arg("b"), py::arg("g_rep"), py::arg("f_rep"),
           py::arg("max_possible_abs_of_diff"))
      .def(
          "compare",
          [](const FunctionEvaluator& self, const CTile& a, const Tile& b, int gRep, int fRep,
             double maxDiff) {
            return holdWithContext(self.compare(a, b, gRep, fRep, maxDiff), a.getHeContext());
          },
          COMPARE_DOC.c_str(), py::arg("a"), py::arg("b"), py::arg("g_rep"), py::arg("f_rep"),
          py::arg("max_possible_abs_of_diff"))
      .def(
          "sign",
          [](const FunctionEvaluator& self, const CTile& a, int gRep, int fRep, double maxAbsVal,
             bool binaryRes) {
            return holdWithContext(self.sign(a, gRep, fRep, maxAbsVal, binaryRes),
                                   a.getHeContext());
          },
          R"(
            The approximated sign of a, computed as g(g(...g(f(f(...f(x)))))) with
            two degree 7 polynomials g and f.

            :param a: The values; they must lie in [-max_abs_val, max_abs_val].
            :type a: CTile
            :param g_rep: How many times g occurs.
            :type g_rep: int
            :param f_rep: How many times f occurs.
            :type f_rep: int
            :param max_abs_val: A bound on the absolute values of a; default 1.
            :type max_abs_val: float
            :param binary_res: If true the result is near 0 for negative and near
                               1 for positive values, otherwise near -1 and near 1;
                               default false.
            :type binary_res: bool
            :rtype: CTile
            )",
          py::arg("a"), py::arg("g_rep"), py::arg("f_rep"), py::arg("max_abs_val") = 1,
          py::arg("binary_res") = false)
      .def(
          "one_hot",
          [](const FunctionEvaluator& self, const CTile& src,
             const NumpyArray<double>& possibleValues) {
            std::vector<CTile> out;
            self.oneHot(out, src, NumpyUtils::toDoubleVector(possibleValues));
            return out;
          },
          // The evaluator keeps the tiles' context alive.
          py::keep_alive<0, 1>(),
          R"(
            Given src and the list of the values that may occur in it, computes
            one indicator ciphertext per possible value: the i'th indicator holds
            1 in slot j when src[j] equals possible_values[i], and 0 otherwise.

            :param src: The values.
            :type src: CTile
            :param possible_values: The distinct values that may occur in src.
            :type possible_values: numpy.ndarray[numpy.float64]
            :rtype: CTileVector
            )",
          py::arg("src"), py::arg("possible_values"));
}

} // namespace quorvane
