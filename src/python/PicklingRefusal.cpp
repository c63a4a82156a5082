#include "python/PicklingRefusal.h"

#include <string>

namespace py = pybind11;

namespace quorvane {

namespace {

// Raises the TypeError of a refused pickling. Self must be an object of the
// type: otherwise (None, say) the call is refused as pybind11 refuses a
// mismatched self, with its TypeError about incompatible arguments.
void refuse(PyTypeObject* type, py::handle self)
{
  if (!PyObject_TypeCheck(self.ptr(), type))
    throw py::reference_cast_error();
  throw py::type_error(std::string("cannot pickle '") + Py_TYPE(self.ptr())->tp_name +
                       "' object");
}

} // namespace

std::unordered_set<PyTypeObject*> registeredTypes()
{
  std::unordered_set<PyTypeObject*> types;
  for (const auto& entry : py::detail::get_internals().registered_types_py)
    types.insert(entry.first);
  return types;
}

void refusePicklingOfTypesSince(const std::unordered_set<PyTypeObject*>& before)
{
  const char* doc = "Raises TypeError: objects of the library are not picklable.";
  for (PyTypeObject* added : registeredTypes()) {
    if (before.count(added) != 0)
      continue;
    py::handle type(reinterpret_cast<PyObject*>(added));
    py::setattr(type, "__reduce_ex__",
                py::cpp_function([added](py::handle self, int) { refuse(added, self); },
                                 py::name("__reduce_ex__"), py::is_method(type),
                                 py::arg("protocol"), doc));
    py::setattr(type, "__reduce__",
                py::cpp_function([added](py::handle self) { refuse(added, self); },
                                 py::name("__reduce__"), py::is_method(type), doc));
  }
}

} // namespace quorvane
