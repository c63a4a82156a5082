#include <pybind11/pybind11.h>

#include <memory>
#include <sstream>
#include <string>

#include "hebase/HeConfigRequirement.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/mockup/TrackingContext.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"

namespace py = pybind11;

namespace quorvane {

void initTrackingContextBindings(py::module_& m)
{
  BoundClass<TrackingContext, HeContext, std::shared_ptr<TrackingContext>>(m, "TrackingContext")
      .def(
          "get_stats_and_clear",
          [](TrackingContext& he) {
            std::ostringstream out;
            he.getStatsAndClear(out);
            return out.str();
          },
          "Returns an overview of current statistics, and clears stats.")
      .def("start_operation_count_track", &TrackingContext::startOperationCountTrack,
           "Start the CPU time tracking from 0");
}

void initMockupContextBindings(py::module_& m)
{
  BoundClass<MockupContext, TrackingContext, std::shared_ptr<MockupContext>>(m, "MockupContext")
      .def(py::init<>())
      .def("init", &MockupContext::init, R"(
            Initializes this MockupContext according the given requirement.

            :param req: The required configuration (for example security level
                        and number of slots).
            :type req: HeConfigRequirement
            :raises RuntimeError: If the requirement can't be met, or the context
                                  is already initialized.
            )",
           py::arg("req"));
}

} // namespace quorvane
