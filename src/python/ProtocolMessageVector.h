#ifndef QUORVANE_PYTHON_PROTOCOLMESSAGEVECTOR_H
#define QUORVANE_PYTHON_PROTOCOLMESSAGEVECTOR_H

#include <vector>

#include <pybind11/pybind11.h>

#include "hebase/impl/ProtocolMessage.h"

// Python holds vectors of messages as ProtocolMessageVector objects and hands
// them to the library by reference, so that a round fills the caller's vector.
PYBIND11_MAKE_OPAQUE(std::vector<quorvane::ProtocolMessage>)

#endif
