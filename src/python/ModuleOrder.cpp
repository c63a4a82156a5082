#include "python/ModuleOrder.h"

namespace py = pybind11;

namespace quorvane {

void moveToCurrentStep(py::module_& m, const char* name)
{
  // A dict keeps the order of insertion; the object stays referenced here
  // while it is out of the namespace.
  py::object value = m.attr(name);
  py::delattr(m, name);
  m.attr(name) = value;
}

} // namespace quorvane
