#include "python/UnconstructedObjects.h"

#include <cstddef>

#include "python/PicklingRefusal.h"

namespace py = pybind11;

namespace quorvane {

const char* const UNCONSTRUCTED_OBJECT_TEXT =
    "This object was made without its constructor (through __new__) and holds no value";

namespace {

// pybind11 allocates the value of an object that holds none, uninitialised,
// when a function takes it by reference or pointer; this allocator refuses.
void* refuseAllocation(std::size_t)
{
  throw py::value_error(UNCONSTRUCTED_OBJECT_TEXT);
}

} // namespace

void refuseUnconstructedObjectsOfTypesSince(const std::unordered_set<PyTypeObject*>& before)
{
  for (PyTypeObject* added : registeredTypes()) {
    if (before.count(added) != 0)
      continue;
    // Constructors make their values with new; pybind11 calls a type's
    // allocator only for such an object.
    for (py::detail::type_info* info : py::detail::all_type_info(added))
      info->operator_new = &refuseAllocation;
  }
}

} // namespace quorvane
