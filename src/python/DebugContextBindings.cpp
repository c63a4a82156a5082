#include <pybind11/pybind11.h>

#include <memory>

#include "hebase/HeConfigRequirement.h"
#include "hebase/mockup/DebugContext.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"

namespace py = pybind11;

namespace quorvane {

void initDebugContextBindings(py::module_& m)
{
  BoundClass<DebugContext, HeContext, std::shared_ptr<DebugContext>>(m, "DebugContext")
      .def_property("diff_threshold", &DebugContext::getDiffThreshold,
                    &DebugContext::setDiffThreshold)
      .def(py::init([](std::shared_ptr<HeContext> he1, std::shared_ptr<HeContext> he2,
                       double diffThreshold) {
             // The two contexts must outlive this one, also when only objects
             // made from it are still held: its holder owns them too.
             if (!he1 || !he2)
               throw py::type_error("DebugContext needs two contexts");
             DebugContext* raw = new DebugContext(*he1, *he2, diffThreshold, false);
             return std::shared_ptr<DebugContext>(raw, [he1, he2](DebugContext* p) { delete p; });
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
           py::arg("he1"), py::arg("he2"), py::arg("diff_threshold") = 1e-05)
      .def("init", &DebugContext::init, R"(
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
