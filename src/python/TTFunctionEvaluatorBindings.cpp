#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <utility>
#include <vector>

#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "math/CTileTensor.h"
#include "math/TTFunctionEvaluator.h"
#include "math/TileTensor.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/CTileVector.h"
#include "python/ContextLifetime.h"
#include "python/NumpyUtils.h"

namespace py = pybind11;

namespace quorvane {

namespace {

const char* SIGMOID_DOC_TAIL = R"(

            :param src: The values, overwritten with the result; the
                        approximation holds over [-8, 8].
            :type src: CTileTensor
            )";

std::string sigmoidDoc(int order)
{
  return "\n            An approximation of sigmoid by an order " + std::to_string(order) +
         " polynomial, in place." + SIGMOID_DOC_TAIL;
}

} // namespace

void initTTFunctionEvaluatorBindings(py::module_& m)
{
  BoundClass<TTFunctionEvaluator>(m, "TTFunctionEvaluator", R"(
    Evaluates available functions on CTileTensor objects, such as polynomial
    evaluation and sigmoid, tile by tile.
    )")
      .def(py::init<const HeContext&>(), py::keep_alive<1, 2>(), R"(
            A constructor from HeContext.

            :param he: The heContext.
            :type he: HeContext
            )",
           py::arg("he"))
      .def(
          "inverse",
          [](const TTFunctionEvaluator& self, const CTileTensor& src, double lowerBound,
             double upperBound, int bitResolution) {
            CTileTensor res(src);
            self.inverse(res, lowerBound, upperBound, bitResolution);
            return holdWithContext(std::move(res), src.getHeContext());
          },
          R"(
            The same as inverse of FunctionEvaluator but on a tile tensor, tile
            by tile: an approximation of 1/src. The values of src must lie
            between lower_bound and upper_bound, which must be finite, and
            lower_bound must be non-negative; the tighter the bounds, the more
            accurate the result.

            :param src: The values to invert; unchanged.
            :type src: CTileTensor
            :param lower_bound: A lower bound on the values of src.
            :type lower_bound: float
            :param upper_bound: An upper bound on the values of src.
            :type upper_bound: float
            :param bit_resolution: A higher value increases accuracy at the cost
                                   of multiplication depth; at least 1, default 5.
            :type bit_resolution: int
            :return: The approximate inverse.
            :rtype: CTileTensor
            )",
          py::arg("src"), py::arg("lower_bound"), py::arg("upper_bound"),
          py::arg("bit_resolution") = 5)
      .def(
          "poly_eval_in_place",
          [](const TTFunctionEvaluator& self, CTileTensor& src, const NumpyArray<double>& coefs,
             EvalType type) { self.polyEvalInPlace(src, NumpyUtils::toDoubleVector(coefs), type); },
          R"(
            Evaluates the polynomial with the given coefficients on src and
            stores the result in src.

            :param src: The values, overwritten with the result.
            :type src: CTileTensor
            :param coefs: The coefficients; coefs[0] is the free coefficient,
                          coefs[i] the coefficient of x^i.
            :type coefs: numpy.ndarray[numpy.float64]
            :param type: The evaluation algorithm (see EvalType); default
                         MIN_DEPTH.
            :type type: EvalType
            )",
          py::arg("src"), py::arg("coefs"), py::arg("type") = MIN_DEPTH)
      .def("poly_eval_in_place",
           py::overload_cast<CTileTensor&, const std::vector<CTile>&, bool>(
               &TTFunctionEvaluator::polyEvalInPlace, py::const_),
           R"(
            Evaluates a polynomial with encrypted coefficients on src and stores
            the result in src.

            :param src: The values, overwritten with the result.
            :type src: CTileTensor
            :param coefs: The coefficients; coefs[0] is the free coefficient.
            :type coefs: CTileVector
            :param normalized: If true, a term with coefficient 1 and power
                               equal to the number of coefficients is added;
                               default False.
            :type normalized: bool
            )",
           py::arg("src"), py::arg("coefs"), py::arg("normalized") = false)
      .def("pow_in_place", &TTFunctionEvaluator::powInPlace, R"(
            Computes src^degree, in place.

            :param src: The values, overwritten with the result.
            :type src: CTileTensor
            :param degree: The required exponent.
            :type degree: int
            )",
           py::arg("src"), py::arg("degree"))
      .def("sigmoid3_in_place", &TTFunctionEvaluator::sigmoid3InPlace, sigmoidDoc(3).c_str(),
           py::arg("src"))
      .def("sigmoid7_in_place", &TTFunctionEvaluator::sigmoid7InPlace, sigmoidDoc(7).c_str(),
           py::arg("src"))
      .def("sigmoid9_in_place", &TTFunctionEvaluator::sigmoid9InPlace, sigmoidDoc(9).c_str(),
           py::arg("src"))
      .def("sign_in_place", &TTFunctionEvaluator::signInPlace, R"(
            The approximated sign of src, computed as g(g(...g(f(f(...f(x))))))
            with two degree 7 polynomials g and f, in place.

            :param src: The values; they must lie in [-max_abs_val, max_abs_val].
            :type src: CTileTensor
            :param gRep: How many times g occurs.
            :type gRep: int
            :param fRep: How many times f occurs.
            :type fRep: int
            :param max_abs_val: A bound on the absolute values of src; default 1.
            :type max_abs_val: float
            :param binary_res: If true the result is near 0 for negative and near
                               1 for positive values, otherwise near -1 and near 1;
                               default False.
            :type binary_res: bool
            )",
           py::arg("src"), py::arg("gRep"), py::arg("fRep"), py::arg("max_abs_val") = 1,
           py::arg("binary_res") = false)
      .def(
          "compare",
          [](const TTFunctionEvaluator& self, const CTileTensor& a, const TileTensor& b,
             int gRep, int fRep, double maxDiff) {
            return holdWithContext(self.compare(a, b, gRep, fRep, maxDiff), a.getHeContext());
          },
          R"(
            The same as compare of FunctionEvaluator but element-wise on tile
            tensors, with the usual broadcasting rules of binary operations: 1
            where a > b, 0 where a < b and 0.5 where a == b. Raises ValueError
            when the shapes do not fit.

            :param a: The first operand; unchanged.
            :type a: CTileTensor
            :param b: The second operand, a CTileTensor or a PTileTensor.
            :type b: TileTensor
            :param g_rep: The number of applications of g(x) (see sign_in_place);
                          more gives accuracy for a slower, deeper computation.
            :type g_rep: int
            :param f_rep: The number of applications of f(x).
            :type f_rep: int
            :param max_diff: An upper bound on |a - b|.
            :type max_diff: float
            :rtype: CTileTensor
            )",
          py::arg("a"), py::arg("b"), py::arg("g_rep"), py::arg("f_rep"), py::arg("max_diff"));
}

} // namespace quorvane
