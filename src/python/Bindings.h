#ifndef QUORVANE_PYTHON_BINDINGS_H
#define QUORVANE_PYTHON_BINDINGS_H

#include <pybind11/pybind11.h>

namespace quorvane {

// One registration function per bound family, called by the module init in
// the order of initModule.
void initPrintableBindings(pybind11::module_& m);
void initPrintOptionsBindings(pybind11::module_& m);

/// Registers everything in the module's fixed order.
void initModule(pybind11::module_& m);

} // namespace quorvane

#endif
