#include <pybind11/pybind11.h>

#include <memory>
#include <stdexcept>

#include "hebase/HeConfigRequirement.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"

namespace py = pybind11;

namespace quorvane {

void initHeConfigRequirementBindings(py::module_& m)
{
  BoundClass<HeConfigRequirement, Printable, std::shared_ptr<HeConfigRequirement>>(
      m, "HeConfigRequirement", R"(
        A class used to construct an HeContext with certain requirements, such as
        security_level, integerPartPrecision, etc.
        )")
      .def(py::init<int, int, int, int, int>(), R"(
            Constructor.

            :param num_slots: The required number of slots in each ciphertext.
            :type num_slots: int
            :param multiplication_depth: The required multiplication depth.
            :type multiplication_depth: int
            :param fractional_part_precision: The required fractional part precision.
            :type fractional_part_precision: int
            :param integer_part_precision: The required integer part precision.
            :type integer_part_precision: int
            :param security_level: The required security level (at least 128).
            :type security_level: int
            )",
           py::arg("num_slots"), py::arg("multiplication_depth"),
           py::arg("fractional_part_precision"), py::arg("integer_part_precision"),
           py::arg("security_level") = 128)
      .def_static("insecure", &HeConfigRequirement::insecure, R"(
            Returns an object with an insecure configuration.

            :param num_slots: The required number of slots in each ciphertext.
            :type num_slots: int
            :param multiplication_depth: The required multiplication depth.
            :type multiplication_depth: int
            :param fractional_part_precision: The required fractional part precision.
            :type fractional_part_precision: int
            :param integer_part_precision: The required integer part precision.
            :type integer_part_precision: int
            :rtype: HeConfigRequirement
            )",
                  py::arg("num_slots"), py::arg("multiplication_depth"),
                  py::arg("fractional_part_precision") = -1,
                  py::arg("integer_part_precision") = -1)
      .def_readwrite("num_slots", &HeConfigRequirement::numSlots, R"(
            The required number of slots.
            )")
      .def_readwrite("multiplication_depth", &HeConfigRequirement::multiplicationDepth, R"(
            The required multiplication depth.
            )")
      .def_readwrite("fractional_part_precision", &HeConfigRequirement::fractionalPartPrecision,
                     R"(
            The required fractional part precision.
            )")
      .def_readwrite("integer_part_precision", &HeConfigRequirement::integerPartPrecision, R"(
            The required integer part precision.
            )")
      .def_readwrite("security_level", &HeConfigRequirement::securityLevel, R"(
            The required security level.
            )")
      .def_readwrite("bootstrappable", &HeConfigRequirement::bootstrappable, R"(
            Whether CTiles created by the HeContext will be bootstrappable.
            Setting it makes the context's initialization create a bootstrap
            evaluator, which lengthens the initialization.
            )")
      .def_readwrite("automatic_bootstrapping", &HeConfigRequirement::automaticBootstrapping, R"(
            Whether bootstrapping is applied automatically to prevent errors from a
            chain-index-consuming operation on a ciphertext whose chain index is too
            small. The bootstrapping points are scheme and library specific and are
            delayed as far as possible. May be true only if the HeContext supports
            bootstrapping.
            )")
      .def_readwrite("public_functions", &HeConfigRequirement::publicFunctions, R"(
            Which functionalities the public keys of the HeContext will support.
            )")
      .def(
          "set_multi_party_config",
          [](HeConfigRequirement& req, const MultiPartyConfig& config) {
            req.multiPartyConfig = config;
          },
          R"(
            Sets the optional configuration of multi-party HE setups.

            :param mp_config: The multi-party configuration object.
            :type mp_config: MultiPartyConfig
            )",
          py::arg("mp_config"))
      .def(
          "get_multi_party_config",
          [](const HeConfigRequirement& req) {
            if (!req.multiPartyConfig.has_value())
              throw std::runtime_error(
                  "This HeConfigRequirement does not have multi-party configuration.");
            return *req.multiPartyConfig;
          },
          R"(
            Gets the optional configuration of multi-party HE setups.

            :rtype: MultiPartyConfig.
            :raises RuntimeError: if this requirement has no multi-party configuration.
            )");
}

} // namespace quorvane
