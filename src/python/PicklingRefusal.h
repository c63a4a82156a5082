#ifndef QUORVANE_PYTHON_PICKLINGREFUSAL_H
#define QUORVANE_PYTHON_PICKLINGREFUSAL_H

#include <unordered_set>

#include <pybind11/pybind11.h>

namespace quorvane {

/// The Python types that pybind11 has registered so far, in every module.
std::unordered_set<PyTypeObject*> registeredTypes();

/// Makes objects of every type pybind11 registered after `before` was taken
/// refuse pickling: each protocol, __reduce__ and the copy module raise
/// TypeError "cannot pickle '<type>' object", the text with which Python refuses
/// protocols 2 and above. Without it, protocols 0 and 1 and __reduce__ reach
/// copyreg, which constructs pybind11's base type and aborts the process. Each
/// type also gets a __new__ of its own (the same as pybind11's), so that
/// copyreg called directly (object.__reduce__, copyreg._reduce_ex) refuses the
/// object with its TypeError "cannot pickle '<class name>' object".
/// Enumerations, which pybind11 pickles through __getstate__ and __setstate__,
/// keep protocols 2 and above (and copies); they refuse protocols 0 and 1 and
/// __reduce__. Members of the types' own (__copy__, __deepcopy__) still copy.
void refusePicklingOfTypesSince(const std::unordered_set<PyTypeObject*>& before);

} // namespace quorvane

#endif
