#include <pybind11/pybind11.h>

#include <cstring>

#include "python/Bindings.h"

namespace py = pybind11;

namespace quorvane {

namespace {

// The function record behind a pybind11 function object, or null for other callables.
py::detail::function_record* functionRecord(py::handle function)
{
  py::handle h = py::detail::get_function(function);
  if (!h || !PyCFunction_Check(h.ptr()))
    return nullptr;
  py::handle self = PyCFunction_GET_SELF(h.ptr());
  if (!self || !py::isinstance<py::capsule>(self))
    return nullptr;
  auto capsule = py::reinterpret_borrow<py::capsule>(self);
  if (!py::detail::is_function_record_capsule(capsule))
    return nullptr;
  return capsule.get_pointer<py::detail::function_record>();
}

// pybind11 describes `self` only when a member has named arguments. Without that
// record, None passes as self to a member bound from a member-function pointer,
// which then runs on a null object. Give every such member the record that
// refuses None, as pybind11 does for members with named arguments.
void requireSelf(py::handle function)
{
  for (py::detail::function_record* record = functionRecord(function); record != nullptr;
       record = record->next) {
    if (!record->is_method || record->is_constructor || record->is_new_style_constructor ||
        !record->args.empty() || record->nargs == 0)
      continue;
    // The record frees its argument names when it is destroyed.
    record->args.emplace_back(strdup("self"), nullptr, py::handle(), /*convert=*/true,
                              /*none=*/false);
  }
}

} // namespace

void requireSelfArguments(py::module_& m)
{
  py::str moduleName = m.attr("__name__");
  py::object propertyType = py::module_::import("builtins").attr("property");
  for (auto item : m.attr("__dict__").cast<py::dict>()) {
    py::handle cls = item.second;
    if (!PyType_Check(cls.ptr()) || !moduleName.equal(cls.attr("__module__")))
      continue;
    for (auto member : cls.attr("__dict__").cast<py::dict>()) {
      py::handle value = member.second;
      if (py::isinstance(value, propertyType)) {
        requireSelf(value.attr("fget"));
        requireSelf(value.attr("fset"));
      } else {
        requireSelf(value);
      }
    }
  }
}

} // namespace quorvane
