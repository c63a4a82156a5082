#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>

#include "math/GenericPackingUtils.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"

namespace py = pybind11;

namespace quorvane {

void initGenericPackingConfigBindings(py::module_& m)
{
  py::enum_<GenericPackingOption>(m, "GenericPackingOption",
                                  "The option by which to pack data generically")
      .value("LOW_SPACE", LOW_SPACE)
      .value("SEPERATE_ELEMENTS", SEPERATE_ELEMENTS)
      .value("BATCH_PACKING", BATCH_PACKING);

  BoundClass<GenericPackingConfig, std::shared_ptr<GenericPackingConfig>>(
      m, "GenericPackingConfig", "Configuration by which to pack data generically.")
      .def(py::init<>())
      .def_readwrite("option", &GenericPackingConfig::option, R"(
            The option by which to pack data generically.

            :type: GenericPackingOption
            )")
      .def_readwrite("batch_dim", &GenericPackingConfig::batchDim, R"(
            The batch dimension. Must be provided when the option is SEPERATE_ELEMENTS or
            BATCH_PACKING.

            :type: Optional[int]
            )");
}

} // namespace quorvane
