#include <pybind11/pybind11.h>

#include <memory>
#include <string>

#include "hebase/HeContext.h"
#include "math/CTileTensor.h"
#include "math/PTileTensor.h"
#include "math/TTEncoder.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ContextLifetime.h"
#include "python/NumpyUtils.h"

namespace py = pybind11;

namespace quorvane {

void initTTEncoderBindings(py::module_& m)
{
  BoundClass<TTEncoder>(m, "TTEncoder", R"(
    An encoder for tile tensors: encodes and/or encrypts a tensor into a tile
    tensor, and back again.
    )")
      .def(py::init([](const HeContext& he) { return std::make_unique<TTEncoder>(he, 0); }),
           py::keep_alive<1, 2>(), R"(
            A constructor from HeContext, constructs an empty object.

            :param he: The context.
            :type he: HeContext
            )",
           py::arg("he"))
      .def("get_encoder", static_cast<Encoder& (TTEncoder::*)()>(&TTEncoder::getEncoder),
           py::return_value_policy::reference_internal, R"(
            Returns a reference to the basic encoder used by the TTEncoder.

            :rtype: Encoder
            )")
      .def(
          "encode",
          [](const TTEncoder& self, const TTShape& shape, const NumpyArray<double>& vals,
             int chainIndex) {
            const HeContext& he = self.getEncoder().getHeContext();
            PTileTensor res(he);
            self.encode(res, shape, NumpyUtils::argumentToDoubleTensor(vals, "vals"),
                        chainIndex);
            return holdWithContext(std::move(res), he);
          },
          R"(
            Encodes the values into a PTileTensor of the given shape. Incomplete
            dimensions of the shape take the sizes of the values.

            :param shape: The tile tensor shape.
            :type shape: TTShape
            :param vals: The values.
            :type vals: numpy.ndarray[numpy.float64]
            :param chain_index: The chain index to encode at (default -1: the top one).
            :type chain_index: int
            :rtype: PTileTensor
            )",
          py::arg("shape"), py::arg("vals"), py::arg("chain_index") = -1)
      .def(
          "decode_double",
          [](const TTEncoder& self, const PTileTensor& src) {
            return NumpyUtils::fromDoubleTensor(self.decodeDouble(src));
          },
          R"(
            Decodes a PTileTensor into an array of its shape's original sizes.

            :param src: The tensor to decode.
            :type src: PTileTensor
            :rtype: numpy.ndarray[numpy.float64]
            )",
          py::arg("src"))
      .def("encrypt", &TTEncoder::encrypt, R"(
            Encrypt.

            :param res: The resulting CTileTensor.
            :type res: CTileTensor
            :param src: The input PTileTensor.
            :type src: PTileTensor
            )",
           py::arg("res"), py::arg("src"))
      .def("decrypt", &TTEncoder::decrypt, R"(
            Decrypt.

            :param res: The resulting PTileTensor.
            :type res: PTileTensor
            :param src: The input CTileTensor.
            :type src: CTileTensor
            )",
           py::arg("res"), py::arg("src"))
      .def(
          "encode_encrypt",
          [](const TTEncoder& self, const TTShape& shape, const NumpyArray<double>& vals,
             int chainIndex) {
            const HeContext& he = self.getEncoder().getHeContext();
            CTileTensor res(he);
            self.encodeEncrypt(res, shape, NumpyUtils::argumentToDoubleTensor(vals, "vals"),
                               chainIndex);
            return holdWithContext(std::move(res), he);
          },
          R"(
            Encodes and encrypts the values into a CTileTensor of the given shape.

            :param shape: The tile tensor shape.
            :type shape: TTShape
            :param vals: The values.
            :type vals: numpy.ndarray[numpy.float64]
            :param chain_index: The chain index to encode at (default -1: the top one).
            :type chain_index: int
            :rtype: CTileTensor
            )",
          py::arg("shape"), py::arg("vals"), py::arg("chain_index") = -1)
      .def(
          "encode_encrypt_generic_packing",
          [](const TTEncoder& self, const NumpyArray<double>& vals,
             const GenericPackingConfig& config) {
            const HeContext& he = self.getEncoder().getHeContext();
            CTileTensor res(he);
            self.encodeEncryptGenericPacking(
                res, NumpyUtils::argumentToDoubleTensor(vals, "vals"), config);
            return holdWithContext(std::move(res), he);
          },
          R"(
            Encodes and encrypts the values with a shape and chain index chosen by
            generic packing.

            :param vals: The values.
            :type vals: numpy.ndarray[numpy.float64]
            :param generic_packing_config: The configuration (default: LOW_SPACE).
            :type generic_packing_config: GenericPackingConfig
            :rtype: CTileTensor
            )",
          py::arg("vals"), py::arg("generic_packing_config") = GenericPackingConfig())
      .def(
          "decrypt_decode_double",
          [](const TTEncoder& self, const CTileTensor& src) {
            return NumpyUtils::fromDoubleTensor(self.decryptDecodeDouble(src));
          },
          R"(
            Decrypts and decodes a CTileTensor into an array of its shape's original sizes.

            :param src: The tensor to decrypt.
            :type src: CTileTensor
            :rtype: numpy.ndarray[numpy.float64]
            )",
          py::arg("src"))
      .def(
          "assert_equals",
          [](const TTEncoder& self, const CTileTensor& c, const std::string& title,
             const NumpyArray<double>& expectedVals, double eps, bool percent) {
            return self.assertEquals(
                c, title, NumpyUtils::argumentToDoubleTensor(expectedVals, "expected_vals"), eps,
                percent);
          },
          R"(
            Decrypts and decodes c and compares it with the expected values, which must
            have its shape.

            :param c: The tensor to check.
            :type c: CTileTensor
            :param title: Printed if the assertion fails.
            :type title: str
            :param expected_vals: The expected values.
            :type expected_vals: numpy.ndarray[numpy.float64]
            :param eps: The largest difference allowed (default 1e-6).
            :type eps: float
            :param percent: Compare relative differences (default False).
            :type percent: bool
            :return: The largest absolute difference.
            :rtype: float
            :raises RuntimeError: when an element differs by more than eps.
            )",
          py::arg("c"), py::arg("title"), py::arg("expected_vals"), py::arg("eps") = 1e-6,
          py::arg("percent") = false);
}

} // namespace quorvane
