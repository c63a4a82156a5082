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
  const char* enumDoc = "From protocol 2 on, the value's class and state (__getstate__); "
                        "raises TypeError for protocols 0 and 1.";
  const py::object newObject = py::module_::import("copyreg").attr("__newobj__");
  for (PyTypeObject* added : registeredTypes()) {
    if (before.count(added) != 0)
      continue;
    py::handle type(reinterpret_cast<PyObject*>(added));
    py::setattr(type, "__reduce__",
                py::cpp_function([added](py::handle self) { refuse(added, self); },
                                 py::name("__reduce__"), py::is_method(type), doc));
    if (!py::hasattr(type, "__members__")) {
      py::setattr(type, "__reduce_ex__",
                  py::cpp_function([added](py::handle self, int) { refuse(added, self); },
                                   py::name("__reduce_ex__"), py::is_method(type),
                                   py::arg("protocol"), doc));
      continue;
    }
    // An enumeration keeps the pickling pybind11 gives it from protocol 2 on:
    // what object.__reduce_ex__ made of it before __reduce__ was replaced.
    py::setattr(type, "__reduce_ex__",
                py::cpp_function(
                    [added, newObject](py::handle self, int protocol) -> py::tuple {
                      if (protocol < 2 || !PyObject_TypeCheck(self.ptr(), added))
                        refuse(added, self);
                      return py::make_tuple(newObject, py::make_tuple(py::type::of(self)),
                                            self.attr("__getstate__")(), py::none(),
                                            py::none());
                    },
                    py::name("__reduce_ex__"), py::is_method(type), py::arg("protocol"),
                    enumDoc));
  }
}

} // namespace quorvane
