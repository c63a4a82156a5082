#ifndef QUORVANE_PYTHON_CTILEVECTOR_H
#define QUORVANE_PYTHON_CTILEVECTOR_H

#include <vector>

#include <pybind11/pybind11.h>

#include "hebase/CTile.h"

// A vector of tiles crosses into Python as the bound type CTileVector, never
// as a converted list: every file binding a member that takes or returns one
// includes this header.
PYBIND11_MAKE_OPAQUE(std::vector<quorvane::CTile>)

#endif
