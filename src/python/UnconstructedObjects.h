#ifndef QUORVANE_PYTHON_UNCONSTRUCTEDOBJECTS_H
#define QUORVANE_PYTHON_UNCONSTRUCTEDOBJECTS_H

#include <unordered_set>

#include <pybind11/pybind11.h>

namespace quorvane {

/// The text of the ValueError that an object made without its constructor
/// raises when a function takes it.
extern const char* const UNCONSTRUCTED_OBJECT_TEXT;

/// Makes objects of every type pybind11 registered after `before` was taken
/// refuse to be used while they hold no C++ value: an object made by __new__
/// alone (Cls.__new__(Cls), or unpickling a stream that calls it) raises
/// ValueError UNCONSTRUCTED_OBJECT_TEXT when a method, property or function
/// takes it, where pybind11 would hand the function uninitialised memory.
void refuseUnconstructedObjectsOfTypesSince(const std::unordered_set<PyTypeObject*>& before);

} // namespace quorvane

#endif
