#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <complex>
#include <memory>
#include <sstream>
#include <vector>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ContextLifetime.h"
#include "python/NumpyUtils.h"

namespace py = pybind11;

namespace quorvane {

namespace {

template <class Value>
std::shared_ptr<PTile> encodeTile(const Encoder& encoder, const Value& value, int chainIndex)
{
  PTile res(encoder.getHeContext());
  encoder.encode(res, value, chainIndex);
  return holdWithContext(std::move(res), encoder.getHeContext());
}

template <class Value>
std::shared_ptr<CTile> encodeEncryptTile(const Encoder& encoder, const Value& value,
                                         int chainIndex)
{
  CTile res(encoder.getHeContext());
  encoder.encodeEncrypt(res, value, chainIndex);
  return holdWithContext(std::move(res), encoder.getHeContext());
}

template <class T>
double assertEqualsArray(const Encoder& encoder, const CTile& c, const std::string& title,
                         const NumpyArray<T>& expected, double eps, bool percent)
{
  return encoder.assertEquals(c, title, NumpyUtils::toVector(expected), eps, percent);
}

const char* const ENCODE_DOC = R"(
            Encodes the values into a new PTile: a single number goes into every
            slot; a list fills the first slots, and the remaining slots hold zero.
            Encoding a single number is usually more efficient than encoding a list.

            :param chain_index: The chain index to encode at; -1 for the top one.
                                Applies to CKKS contexts and is ignored otherwise.
            :type chain_index: int
            :rtype: PTile
            )";

const char* const ENCODE_ENCRYPT_DOC = R"(
            Encodes the values and encrypts them into a new CTile; the remaining
            slots hold zero.

            :param chain_index: The chain index to encode at; -1 for the top one.
                                Applies to CKKS contexts and is ignored otherwise.
            :type chain_index: int
            :raises RuntimeError: if there are more values than slots.
            :rtype: CTile
            )";

const char* const ASSERT_EQUALS_DOC = R"(
            Asserts that the decrypted c equals expected_vals within eps: the
            absolute difference of every slot, or its relative difference when
            percent is set. Only as many slots as expected values are compared.

            :param c: The ciphertext to check.
            :type c: CTile
            :param title: Heads the failure report.
            :type title: str
            :param eps: The tolerance.
            :type eps: float
            :param percent: Compare relative differences.
            :type percent: bool
            :return: The largest absolute difference.
            :rtype: float
            :raises RuntimeError: "Assert Equals Failed" when a slot is out of tolerance.
            )";

} // namespace

void initEncoderBindings(py::module_& m)
{
  BoundClass<Encoder>(m, "Encoder", R"(
    A class used to encode, encrypt, decode and decrypt ciphertexts and plaintexts.
    )")
      .def(py::init<const HeContext&>(), py::keep_alive<1, 2>(), R"(
            A constructor from an HeContext, constructs an empty object.

            :param he: The context.
            :type he: HeContext
            )",
           py::arg("he"))
      .def("set_default_device", &Encoder::setDefaultDevice, R"(
            Sets the device of the plaintexts and ciphertexts this encoder
            produces from now on.

            :param device: The device.
            :type device: DeviceType
            )",
           py::arg("device"))
      .def("get_default_device", &Encoder::getDefaultDevice, R"(
            Returns the device of the plaintexts and ciphertexts this encoder
            produces; initially the context's default device.

            :rtype: DeviceType
            )")
      .def("set_default_scale", &Encoder::setDefaultScale, R"(
            Sets the default scale: the scale with which values are encoded in
            CKKS-like schemes. Unset, the scheme's default is used; once set, the
            encoder uses the given value from then on.

            :param scale: The scale.
            :type scale: float
            )",
           py::arg("scale"))
      .def("get_default_scale", &Encoder::getDefaultScale, R"(
            Returns the scale set by set_default_scale, else the context's default
            scale for the chain index.

            :param chain_index: The chain index; -1 for the top one.
            :type chain_index: int
            :rtype: float
            )",
           py::arg("chain_index").noconvert())
      .def("restore_default_scale", &Encoder::restoreDefaultScale, R"(
            Returns to the default scale defined by the context.
            )")
      .def("set_decrypt_added_noise_enabled", &Encoder::setDecryptAddedNoiseEnabled, R"(
            Sets whether decryption adds noise, a security measure of CKKS.
            Libraries that support it enable it by default.

            :param val: Whether to add noise.
            :type val: bool
            :raises RuntimeError: when enabling is not supported.
            )",
           py::arg("val"))
      .def("get_decrypt_added_noise_enabled", &Encoder::getDecryptAddedNoiseEnabled, R"(
            Returns whether decryption adds noise.

            :rtype: bool
            )")
      .def("set_decrypt_added_noise_precision", &Encoder::setDecryptAddedNoisePrecision, R"(
            Sets the precision to preserve while adding decryption noise; ignored
            when the noise is off.

            :raises RuntimeError: if not supported by the underlying library.
            )")
      .def("get_decrypt_added_noise_precision", &Encoder::getDecryptAddedNoisePrecision, R"(
            Returns the precision preserved while adding decryption noise.

            :rtype: int
            :raises RuntimeError: if not supported by the underlying library.
            )")
      // Integer overloads take only true integers, so other numbers reach the
      // floating overloads instead of being truncated.
      .def("encode", &encodeTile<int>, ENCODE_DOC, py::arg("val").noconvert(),
           py::arg("chain_index").noconvert() = -1)
      .def("encode", &encodeTile<double>, ENCODE_DOC, py::arg("val"),
           py::arg("chain_index").noconvert() = -1)
      .def("encode", &encodeTile<std::vector<int>>, ENCODE_DOC, py::arg("val").noconvert(),
           py::arg("chain_index").noconvert() = -1)
      .def("encode", &encodeTile<std::vector<double>>, ENCODE_DOC, py::arg("vals"),
           py::arg("chain_index").noconvert() = -1)
      .def("encode", &encodeTile<std::vector<std::complex<double>>>, ENCODE_DOC, py::arg("vals"),
           py::arg("chain_index").noconvert() = -1)
      .def(
          "decode_int",
          [](const Encoder& self, const PTile& src) {
            return NumpyUtils::fromVector(self.decodeInt(src));
          },
          R"(
            Decodes the plaintext into integers: each value taken to the nearest
            integer, halves away from zero.

            :param src: The plaintext.
            :type src: PTile
            :raises OverflowError: when a value is outside the 32-bit range.
            )",
          py::arg("src"))
      .def(
          "decode_double",
          [](const Encoder& self, const PTile& src) {
            return NumpyUtils::fromDoubleVector(self.decodeDouble(src));
          },
          R"(
            Decodes the plaintext into doubles.

            :param src: The plaintext.
            :type src: PTile
            )",
          py::arg("src"))
      .def(
          "decode_complex",
          [](const Encoder& self, const PTile& src) {
            return NumpyUtils::fromVector(self.decodeComplex(src));
          },
          R"(
            Decodes the plaintext into complex numbers.

            :param src: The plaintext.
            :type src: PTile
            )",
          py::arg("src"))
      .def("encode_encrypt", &encodeEncryptTile<std::vector<int>>, ENCODE_ENCRYPT_DOC,
           py::arg("vals").noconvert(), py::arg("chain_index").noconvert() = -1)
      .def("encode_encrypt", &encodeEncryptTile<std::vector<double>>, ENCODE_ENCRYPT_DOC,
           py::arg("vals"), py::arg("chain_index").noconvert() = -1)
      .def("encode_encrypt", &encodeEncryptTile<std::vector<std::complex<double>>>,
           ENCODE_ENCRYPT_DOC, py::arg("vals"), py::arg("chain_index").noconvert() = -1)
      .def(
          "encrypt_tile",
          [](const Encoder& self, const Tile& src) {
            CTile res(self.getHeContext());
            self.encryptTile(res, src);
            // A copied CTile belongs to the context of its source.
            const HeContext& he = res.getHeContext();
            return holdWithContext(std::move(res), he);
          },
          R"(
            Encrypts a PTile into a new CTile; a CTile comes back as a copy.

            :param src: The tile.
            :type src: Tile
            :rtype: CTile
            )",
          py::arg("src"))
      .def(
          "decrypt_decode_tile_double",
          [](const Encoder& self, const Tile& src) {
            return NumpyUtils::fromDoubleVector(self.decryptDecodeTileDouble(src));
          },
          R"(
            Decrypts and decodes a CTile, or decodes a PTile, into doubles.

            :param src: The tile.
            :type src: Tile
            )",
          py::arg("src"))
      .def(
          "decrypt_decode_double",
          [](const Encoder& self, const CTile& ctxt) {
            return NumpyUtils::fromDoubleVector(self.decryptDecodeDouble(ctxt));
          },
          R"(
            Decrypts, then decodes into doubles.

            :param ctxt: The ciphertext.
            :type ctxt: CTile
            )",
          py::arg("ctxt"))
      .def(
          "decrypt_decode_int",
          [](const Encoder& self, const CTile& ctxt) {
            return NumpyUtils::fromVector(self.decryptDecodeInt(ctxt));
          },
          R"(
            Decrypts, then decodes into integers (nearest integer, halves away
            from zero).

            :param ctxt: The ciphertext.
            :type ctxt: CTile
            :raises OverflowError: when a value is outside the 32-bit range.
            )",
          py::arg("ctxt"))
      .def(
          "decrypt_decode_complex",
          [](const Encoder& self, const CTile& ctxt) {
            return NumpyUtils::fromVector(self.decryptDecodeComplex(ctxt));
          },
          R"(
            Decrypts, then decodes into complex numbers.

            :param ctxt: The ciphertext.
            :type ctxt: CTile
            )",
          py::arg("ctxt"))
      .def(
          "print_error_stats",
          [](const Encoder& self, const CTile& actual, const NumpyArray<double>& expected,
             bool asCsv) {
            std::ostringstream out;
            self.printErrorStats(actual, NumpyUtils::toDoubleVector(expected), out, asCsv);
            return out.str();
          },
          R"(
            Returns statistics of the difference between the decrypted actual_c and
            expected_z (one expected value per slot): the largest difference, and
            the mean and standard deviation of the differences, absolute and
            relative. As CSV: "max, mean, std".

            :param actual_c: The ciphertext.
            :type actual_c: CTile
            :param expected_z: The expected values, at least one per slot.
            :type expected_z: numpy.ndarray
            :param as_csv: Return one CSV line.
            :type as_csv: bool
            :rtype: str
            :raises ValueError: if expected_z holds fewer values than slots.
            )",
          py::arg("actual_c"), py::arg("expected_z"), py::arg("as_csv") = false)
      // Only an exact int32 or float64 array takes the first two overloads;
      // anything else is compared as complex numbers, so that nothing is cast
      // to integers.
      .def("assert_equals", &assertEqualsArray<int>, ASSERT_EQUALS_DOC, py::arg("c"),
           py::arg("title"), py::arg("expected_vals").noconvert(), py::arg("eps") = 1e-6,
           py::arg("percent") = false)
      .def("assert_equals", &assertEqualsArray<double>, ASSERT_EQUALS_DOC, py::arg("c"),
           py::arg("title"), py::arg("expected_vals").noconvert(), py::arg("eps") = 1e-6,
           py::arg("percent") = false)
      .def("assert_equals", &assertEqualsArray<std::complex<double>>, ASSERT_EQUALS_DOC,
           py::arg("c"), py::arg("title"), py::arg("expected_vals"),
           py::arg("eps") = 1e-6, py::arg("percent") = false);
}

} // namespace quorvane
