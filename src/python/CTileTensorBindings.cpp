#include <pybind11/pybind11.h>

#include <memory>

#include "hebase/HeContext.h"
#include "math/CTileTensor.h"
#include "math/PTileTensor.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ContextLifetime.h"

namespace py = pybind11;

namespace quorvane {

void initCTileTensorBindings(py::module_& m)
{
  BoundClass<CTileTensor, TileTensor, std::shared_ptr<CTileTensor>> cls{
      py::object(m.attr("CTileTensor"))};
  cls.attr("__doc__") = py::str(R"(
    An encrypted tile tensor. A tile tensor is a data structure for storing
    tensors (vectors, matrices or arrays of higher order) in a set of fixed-size
    tiles, in this case ciphertexts.
    )");
  // The members of this class come in the order of the module's interface;
  // operations along dimensions (multiply and sum, rotations, shifts, sums,
  // duplication, flattening) and the returning twins take their places when
  // they are built.
  cls.def(py::init([](const HeContext& he) { return holdWithContext(CTileTensor(he), he); }), R"(
            Constructs an empty CTileTensor object.

            :param he: The context.
            :type he: HeContext
            )",
          py::arg("he"))
      .def(py::init([](const HeContext& he, const TTShape& s) {
             return holdWithContext(CTileTensor(he, s), he);
           }),
           R"(
            Construct an object of a certain shape. Its tiles are empty: the object is
            not packed until it is filled by an encoder or a load.

            :param HeContext: The context.
            :type HeContext: HeContext
            :param s: The shape.
            :type s: TTShape
            )",
           py::arg("HeContext"), py::arg("s"))
      .def(py::init(&holdCopyWithContext<CTileTensor>), R"(
            Copy constructor.

            :param src: The object to copy.
            :type src: CTileTensor
            )",
           py::arg("src"))
      .def("__copy__", &holdCopyWithContext<CTileTensor>)
      .def("__deepcopy__",
           [](const CTileTensor& self, py::dict) { return holdCopyWithContext(self); })
      .def("add", &CTileTensor::add, R"(
            Elementwise add with other CTileTensor. Relies on CTile::add.

            :param other: The tensor to add.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("add_raw", &CTileTensor::addRaw, R"(
            Elementwise add with other CTileTensor. Relies on CTile::add_raw.

            :param other: The tensor to add.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("sub", &CTileTensor::sub, R"(
            Elementwise sub with other CTileTensor. Relies on CTile::sub.

            :param other: The tensor to subtract.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("sub_raw", &CTileTensor::subRaw, R"(
            Elementwise sub with other CTileTensor. Relies on CTile::sub_raw.

            :param other: The tensor to subtract.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("multiply", &CTileTensor::multiply, R"(
            Elementwise multiplication with other CTileTensor. Relies on CTile::multiply.

            :param other: The tensor to multiply by.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("multiply_raw", &CTileTensor::multiplyRaw, R"(
            Elementwise multiplication with other CTileTensor. Relies on
            CTile::multiply_raw (no relinearization or rescaling).

            :param other: The tensor to multiply by.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("add_plain", &CTileTensor::addPlain, R"(
            Elementwise add with other (plaintext) PTileTensor.

            :param other: The tensor to add.
            :type other: PTileTensor
            )",
           py::arg("other"))
      .def("add_plain_raw", &CTileTensor::addPlainRaw, R"(
            Elementwise add with other (plaintext) PTileTensor, raw.

            :param other: The tensor to add.
            :type other: PTileTensor
            )",
           py::arg("other"))
      .def("sub_plain", &CTileTensor::subPlain, R"(
            Elementwise sub with other (plaintext) PTileTensor.

            :param other: The tensor to subtract.
            :type other: PTileTensor
            )",
           py::arg("other"))
      .def("sub_plain_raw", &CTileTensor::subPlainRaw, R"(
            Elementwise sub with other (plaintext) PTileTensor, raw.

            :param other: The tensor to subtract.
            :type other: PTileTensor
            )",
           py::arg("other"))
      .def("multiply_plain", &CTileTensor::multiplyPlain, R"(
            Elementwise multiply by other (plaintext) PTileTensor.

            :param other: The tensor to multiply by.
            :type other: PTileTensor
            )",
           py::arg("other"))
      .def("multiply_plain_raw", &CTileTensor::multiplyPlainRaw, R"(
            Elementwise multiply by other (plaintext) PTileTensor, raw.

            :param other: The tensor to multiply by.
            :type other: PTileTensor
            )",
           py::arg("other"))
      .def("multiply_scalar", &CTileTensor::multiplyScalar, R"(
            Multiplies all used tensor elements by a given scalar. Consumes one chain
            index; as a side effect unused elements become zero, so unknown unused
            elements are eliminated.

            :param scalar: The scalar.
            :type scalar: float
            )",
           py::arg("scalar"))
      .def("add_scalar", &CTileTensor::addScalar, R"(
            adds a double scalar value to all elements of this tensor.

            :param scalar: The scalar.
            :type scalar: float
            :param keep_unknowns_clear: Add to the used slots only, keeping unused
                slots as they are (default 'false': every slot, and unused slots
                become unknown).
            :type keep_unknowns_clear: bool
            )",
           py::arg("scalar"), py::arg("keep_unknowns_clear") = false)
      .def("square", &CTileTensor::square, R"(
            Elementwise square. Relies on CTile::square.
            )")
      .def("square_raw", &CTileTensor::squareRaw, R"(
            Elementwise square. Relies on CTile::squareRaw.
            )")
      .def("negate", &CTileTensor::negate, R"(
            Elementwise negate. Relies on CTile::negate.
            )")
      .def("relinearize", &CTileTensor::relinearize, R"(
            Calls corresponding function for every CTile.
            )")
      .def("rescale", &CTileTensor::rescale, R"(
            Calls corresponding function for every CTile.
            )")
      .def("relinearize_and_rescale", &CTileTensor::relinearizeAndRescale, R"(
            Calls corresponding function for every CTile.
            )")
      .def("clear_unknowns", &CTileTensor::clearUnknowns, R"(
            Clears all unknowns from this tile tensor.
            )")
      .def("reduce_chain_index", &CTileTensor::reduceChainIndex, R"(
            Calls corresponding function for every CTile.
            )")
      .def("set_chain_index",
           static_cast<void (CTileTensor::*)(const CTileTensor&)>(&CTileTensor::setChainIndex),
           R"(
            Calls corresponding function for every CTile.

            :param other: CTileTensor to get chain index from.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("set_chain_index", static_cast<void (CTileTensor::*)(int)>(&CTileTensor::setChainIndex),
           R"(
            Calls corresponding function for every CTile.

            :param chain_index: The required chain index.
            :type chain_index: int
            )",
           py::arg("chain_index"))
      .def("adjust_chain_index", &CTileTensor::adjustChainIndex, R"(
            Calls corresponding function for every CTile.

            :param chain_index: The required chain index.
            :type chain_index: int
            )",
           py::arg("chain_index"))
      .def("get_chain_index", &CTileTensor::getChainIndex, R"(
            Returns chain index of tiles. All tiles of a tensor share one chain index.

            :rtype: int
            )")
      .def("re_encrypt", &CTileTensor::reEncrypt, R"(
            Decrypt the CTileTensor and encrypts it again to bring it to top chain
            index. Requires the secret key.
            )");
}

} // namespace quorvane
