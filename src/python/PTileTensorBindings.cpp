#include <pybind11/pybind11.h>

#include <memory>

#include "hebase/HeContext.h"
#include "math/PTileTensor.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ContextLifetime.h"

namespace py = pybind11;

namespace quorvane {

void initPTileTensorBindings(py::module_& m)
{
  BoundClass<PTileTensor, TileTensor, std::shared_ptr<PTileTensor>> cls{
      py::object(m.attr("PTileTensor"))};
  cls.attr("__doc__") = py::str(R"(
    A plaintext tile tensor. A tile tensor is a data structure for storing tensors
    (multi-dimensional arrays such as vectors, matrices or higher-dimensional
    arrays) in a set of fixed-size tiles, in this case plaintexts.
    )");
  cls.def(py::init([](const HeContext& he) { return holdWithContext(PTileTensor(he), he); }), R"(
            Constructs an empty PTileTensor object.

            :param he: The HeContext to initialise it with.
            :type he: HeContext
            )",
          py::arg("he"))
      .def(py::init(&holdCopyWithContext<PTileTensor>), R"(
            Copy constructor.

            :param src: The object to copy.
            :type src: PTileTensor
            )",
           py::arg("src"))
      .def("__copy__", &holdCopyWithContext<PTileTensor>)
      .def("__deepcopy__",
           [](const PTileTensor& self, py::dict) { return holdCopyWithContext(self); })
      .def("reduce_chain_index", &PTileTensor::reduceChainIndex, R"(
            Calls the corresponding function for every PTile.
            )")
      .def(
          "set_chain_index",
          [](PTileTensor& self, const PTileTensor& other) { self.setChainIndex(other); },
          R"(
            Calls the corresponding function for every PTile.

            :param other: The PTileTensor to get the chain index from.
            :type other: PTileTensor
            )",
          py::arg("other"))
      .def("set_chain_index", static_cast<void (PTileTensor::*)(int)>(&PTileTensor::setChainIndex),
           R"(
            Calls the corresponding function for every PTile.

            :param chain_index: The required chain index.
            :type chain_index: int
            )",
           py::arg("chain_index"))
      .def("get_chain_index", &PTileTensor::getChainIndex, R"(
            Returns the chain index of the tiles, which are maintained to have equal
            chain index.

            :rtype: int
            )")
      .def(
          "get_reduce_chain_index",
          [](const PTileTensor& self) {
            return holdWithContext(self.getReduceChainIndex(), self.getHeContext());
          },
          R"(
            Returns the result of reducing the chain indexes of every PTile.

            :rtype: PTileTensor
            )")
      .def(
          "get_set_chain_index",
          [](const PTileTensor& self, const PTileTensor& other) {
            return holdWithContext(self.getSetChainIndex(other), self.getHeContext());
          },
          R"(
            Returns the result of calling the corresponding function for every PTile.

            :param other: The PTileTensor to get the chain index from.
            :type other: PTileTensor
            :rtype: PTileTensor
            )",
          py::arg("other"))
      .def(
          "get_set_chain_index",
          [](const PTileTensor& self, int chainIndex) {
            return holdWithContext(self.getSetChainIndex(chainIndex), self.getHeContext());
          },
          R"(
            Returns the result of calling the corresponding function for every PTile.

            :param chain_index: The required chain index.
            :type chain_index: int
            :rtype: PTileTensor
            )",
          py::arg("chain_index"));
}

} // namespace quorvane
