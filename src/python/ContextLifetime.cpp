#include "python/ContextLifetime.h"

#include <pybind11/pybind11.h>

#include "hebase/HeContext.h"

namespace py = pybind11;

namespace quorvane {

std::shared_ptr<const HeContext> findPythonHeldContext(const HeContext& he)
{
  // Casting by reference finds the Python object that already wraps the
  // context; a context Python does not own yields a wrapper without a holder.
  try {
    py::object wrapper = py::cast(&he, py::return_value_policy::reference);
    return py::cast<std::shared_ptr<HeContext>>(wrapper);
  } catch (const py::cast_error&) {
    return nullptr;
  } catch (const py::error_already_set&) {
    return nullptr;
  }
}

} // namespace quorvane
