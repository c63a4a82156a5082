#include "python/PicklingRefusal.h"

#include <stdexcept>
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

// Gives the type a __new__ of its own, as every static type has one: CPython's
// wrapper of tp_new, bound to the type, which keeps its tp_new. copyreg's
// protocols 0 and 1 (object.__reduce__) then stop at the type and refuse the
// object, instead of calling pybind11's base type, which has no value to make
// and aborts.
void giveOwnNew(PyTypeObject* type)
{
  auto* base = reinterpret_cast<PyTypeObject*>(py::detail::get_internals().instance_base);
  PyObject* baseNew = PyDict_GetItemString(base->tp_dict, "__new__");
  if (baseNew == nullptr || !PyCFunction_Check(baseNew) ||
      PyCFunction_GET_SELF(baseNew) != reinterpret_cast<PyObject*>(base))
    throw std::runtime_error("pybind11's base type has no __new__ of its own");
  PyMethodDef* wrapper = reinterpret_cast<PyCFunctionObject*>(baseNew)->m_ml;
  PyObject* bound = PyCFunction_NewEx(wrapper, reinterpret_cast<PyObject*>(type), nullptr);
  if (bound == nullptr)
    throw py::error_already_set();
  py::setattr(reinterpret_cast<PyObject*>(type), "__new__",
              py::reinterpret_steal<py::object>(bound));
  if (type->tp_new != base->tp_new)
    throw std::runtime_error("a __new__ of its own changed how the type makes objects");
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
    giveOwnNew(added);
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
