#include <pybind11/pybind11.h>

#include <memory>

#include "hebase/HeConfigRequirement.h"
#include "hebase/seal/SealCkksContext.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"

namespace py = pybind11;

namespace quorvane {

void initSealCkksContextBindings(py::module_& m)
{
  BoundClass<SealCkksContext, HeContext, std::shared_ptr<SealCkksContext>>(
      m, "SealCkksContext", "An implementation of HeContext using the SEAL CKKS backend.")
      .def(py::init<>())
      .def("init", &SealCkksContext::init, R"(
             Initializes this SealCkksContext according the given requirement.

             :param req: an HeConfigRequirement object, indicating the required
                         configuration parameters (e.g. securityLevel, numSlots).
             :raises RuntimeError: if it is not possible to fulfill the given
                                   requirement.
           )",
           py::arg("req"))
      .def("set_use_accurate_scaling", &SealCkksContext::setUseAccurateScaling, R"(
             Sets whether to enable the accurate scaling mode or not (default:
             enabled). Cannot be called after the context is initialized.

             :param use_accurate_scaling: Whether to enable the accurate scaling mode or
               not.
           )",
           py::arg("use_accurate_scaling"))
      .def("get_use_accurate_scaling", &SealCkksContext::getUseAccurateScaling, R"(
             Returns whether accurate scaling mode is enabled or not.
           )")
      .def("get_accurate_scale", &SealCkksContext::getAccurateScale, R"(
             Returns the accurate scale to be used for a given chain index. Only
             supported when accurate scaling mode is enabled. Cannot be called before
             the context is initialized.

             :param chain_index: The chain index to get the scale of.
           )",
           py::arg("chain_index"));
}

} // namespace quorvane
