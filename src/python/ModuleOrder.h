#ifndef QUORVANE_PYTHON_MODULEORDER_H
#define QUORVANE_PYTHON_MODULEORDER_H

#include <pybind11/pybind11.h>

namespace quorvane {

/// The module's namespace lists its names in the order of the init's steps. A
/// class that members of an earlier step take is registered before them, so
/// that their signatures name it by its Python name; at its own step it is
/// moved to the end of the namespace, as if it were added then.
void moveToCurrentStep(pybind11::module_& m, const char* name);

} // namespace quorvane

#endif
