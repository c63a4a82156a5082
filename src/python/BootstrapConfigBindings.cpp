#include <pybind11/pybind11.h>

#include "hebase/BootstrapConfig.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"

namespace py = pybind11;

namespace quorvane {

void initBootstrapConfigBindings(py::module_& m)
{
  BoundClass<BootstrapConfig>(m, "BootstrapConfig", R"(
        A configuration of the bootstrap process via various parameter setups.
        )")
      .def(py::init<>())
      .def_readwrite("support_complex_data", &BootstrapConfig::supportComplexData)
      .def_readwrite("duplicate_real_input", &BootstrapConfig::duplicateRealInput)
      .def_readwrite("target_chain_index", &BootstrapConfig::targetChainIndex)
      .def_readwrite("verbose", &BootstrapConfig::verbose)
      .def_readwrite("store_enc_matrices", &BootstrapConfig::storeEncMatrices)
      .def_readwrite("load_enc_matrices", &BootstrapConfig::loadEncMatrices);
}

} // namespace quorvane
