#include <pybind11/pybind11.h>

#include <memory>

#include "hebase/HeConfigRequirement.h"
#include "hebase/mockup/DebugContext.h"
#include "python/Bindings.h"

namespace py = pybind11;

namespace quorvane {

void initDebugContextBindings(py::module_& m)
{
  py::class_<DebugContext, HeContext, std::shared_ptr<DebugContext>>(m, "DebugContext")
      .def_property("diff_threshold", &DebugContext::getDiffThreshold,
                    &DebugContext::setDiffThreshold)
      .def(py::init([](HeContext& he1, HeContext& he2, double diffThreshold) {
             return std::make_shared<DebugContext>(he1, he2, diffThreshold, false);
           }),
           R"(
            Constructs a context that operates by running the two given contexts
            and comparing the results.

            :param he1: The first context, whose results are reported.
            :type he1: HeContext
            :param he2: The second context, used for comparison.
            :type he2: HeContext
            :param diff_threshold: The largest accepted difference between the
                                   two contexts' results; negative switches the
                                   comparisons off.
            :type diff_threshold: float
            )",
           py::arg("he1"), py::arg("he2"), py::arg("diff_threshold") = 1e-05,
           // The two contexts must live as long as this one.
           py::keep_alive<1, 2>(), py::keep_alive<1, 3>())
      .def(
          "init", [](DebugContext& he, const HeConfigRequirement& req) { he.init(req); },
          R"(
            Initializes this DebugContext according the given requirement.

            :param req: The required configuration (for example security level
                        and number of slots).
            :type req: HeConfigRequirement
            :raises RuntimeError: If the requirement can't be met, or the context
                                  is already initialized.
            )",
          py::arg("req"));
}

} // namespace quorvane
