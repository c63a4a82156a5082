#include <pybind11/pybind11.h>
#include <pybind11/stl_bind.h>

#include <memory>
#include <string>
#include <vector>

#include "python/ProtocolMessageVector.h"

#include "hebase/HeContext.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ContextLifetime.h"
#include "python/Docstrings.h"

namespace py = pybind11;

namespace quorvane {

void initProtocolMessageBindings(py::module_& m)
{
  py::bind_vector<std::vector<ProtocolMessage>, std::shared_ptr<std::vector<ProtocolMessage>>>(
      m, "ProtocolMessageVector", "A vector (list) of ProtocolMessage objects.");

  BoundClass<ProtocolMessage, Saveable, std::shared_ptr<ProtocolMessage>>(
      m, "ProtocolMessage", QV_DOC "A message in a multi-party protocol." QV_DOC_END)
      .def(py::init([](const HeContext& he) {
             return holdWithContext(std::make_shared<ProtocolMessage>(he), he);
           }),
           QV_DOC "Construct an empty ProtocolMessage."
                  "\n" QV_DOC ":param he: The heContext." QV_DOC_END,
           py::arg("he"))
      .def("get_protocol_type", &ProtocolMessage::getProtocolType,
           QV_DOC "Get the protocol type of the protocol of this message."
                  "\n" QV_DOC ":return: The protocol type." QV_DOC
                  ":rtype: ProtocolType." QV_DOC_END)
      .def("get_source_participant_id", &ProtocolMessage::getSourceParticipantId,
           QV_DOC "Get the source participant ID of this message."
                  "\n" QV_DOC ":return: The source participant ID." QV_DOC
                  ":rtype: int." QV_DOC_END)
      .def("get_destination_role", &ProtocolMessage::getDestinationRole,
           QV_DOC "Get the destination role of this message."
                  "\n" QV_DOC ":return: The destination role." QV_DOC
                  ":rtype: MultiPartyRole." QV_DOC_END)
      .def("get_to_be_received_on_round", &ProtocolMessage::getToBeReceivedOnRound,
           QV_DOC "Get the round number in which this message is to be received by the "
                  "destination."
                  "\n" QV_DOC ":return: The round number." QV_DOC ":rtype: int." QV_DOC_END)
      .def("get_metadata_as_string", &ProtocolMessage::getMetadataAsString,
           QV_DOC ":param single_line: Whether to print the metadata in a single line." QV_DOC
                  ":type single_line: bool." QV_DOC
                  ":return: Returns the metadata of this protocol message object as a string."
                  QV_DOC ":rtype: str." QV_DOC_END,
           py::arg("single_line"));
}

} // namespace quorvane
