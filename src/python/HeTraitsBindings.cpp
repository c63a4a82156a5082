#include <pybind11/pybind11.h>

#include "hebase/HeTraits.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"

namespace py = pybind11;

namespace quorvane {

void initHeTraitsBindings(py::module_& m)
{
  BoundClass<HeTraits>(m, "HeTraits", "A set of flags characterizing the underyling HE scheme.")
      .def_property("supports_bootstrap_utils", &HeTraits::getSupportsCKKSBootstrapping,
                    &HeTraits::setSupportsCKKSBootstrapping)
      .def_property("supports_botstrapping", &HeTraits::getSupportsBootstrapping,
                    &HeTraits::setSupportsBootstrapping)
      .def_property("supports_explicit_rescale", &HeTraits::getSupportsExplicitRescale,
                    &HeTraits::setSupportsExplicitRescale)
      .def_property("automatically_manages_chain_indices",
                    &HeTraits::getAutomaticallyManagesChainIndices,
                    &HeTraits::setAutomaticallyManagesChainIndices)
      .def_property("automatically_manages_rescale", &HeTraits::getAutomaticallyManagesRescale,
                    &HeTraits::setAutomaticallyManagesRescale)
      .def_property("defers_rescale", &HeTraits::getDefersRescale, &HeTraits::setDefersRescale)
      .def_property("supports_explicit_chain_indices", &HeTraits::getSupportsExplicitChainIndices,
                    &HeTraits::setSupportsExplicitChainIndices)
      .def_property("supports_complex_numbers", &HeTraits::getSupportsComplexNumbers,
                    &HeTraits::setSupportsComplexNumbers)
      .def_property("supports_bitwise_operations", &HeTraits::getSupportsBitwiseOperations,
                    &HeTraits::setSupportsBitwiseOperations)
      .def_property("is_modular_arithmetic", &HeTraits::getIsModularArithmetic,
                    &HeTraits::setIsModularArithmetic)
      .def_property("supports_scaled_encoding", &HeTraits::getSupportsScaledEncoding,
                    &HeTraits::setSupportsScaledEncoding)
      .def_property("arithmetic_modulus", &HeTraits::getArithmeticModulus,
                    &HeTraits::setArithmeticModulus)
      .def_property("is_debug_empty", &HeTraits::getIsDebugEmpty, &HeTraits::setIsDebugEmpty)
      .def_property("supports_decrypt_added_noise", &HeTraits::getSupportsDecryptAddedNoise,
                    &HeTraits::setSupportsDecryptAddedNoise)
      .def_property("supports_sec_key_seed", &HeTraits::getSupportsSecKeySeed,
                    &HeTraits::setSupportsSecKeySeed)
      .def_property("supports_gpu", &HeTraits::getSupportsGpu, &HeTraits::setSupportsGpu)
      .def_property("supports_handle_transparent_ciphertexts",
                    &HeTraits::getSupportsHandleTransparentCiphertexts,
                    &HeTraits::setSupportsHandleTransparentCiphertexts);
}

} // namespace quorvane
