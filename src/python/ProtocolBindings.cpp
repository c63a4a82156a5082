#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>

#include "python/ProtocolMessageVector.h"

#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/impl/DecryptProtocol.h"
#include "hebase/impl/InitProtocol.h"
#include "math/CTileTensor.h"
#include "math/EncryptedData.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ContextLifetime.h"
#include "python/Docstrings.h"
#include "python/NumpyUtils.h"

namespace py = pybind11;

namespace quorvane {

void initProtocolBindings(py::module_& m)
{
  py::enum_<ProtocolType>(m, "ProtocolType", "An enum specifying the protocol type.")
      .value("PROTOCOL_INIT", PROTOCOL_INIT)
      .value("PROTOCOL_DECRYPT", PROTOCOL_DECRYPT)
      .export_values();

  // The message vectors a round sees keep the protocol, and so its context,
  // alive: the messages in them refer to that context.
  BoundClass<Protocol, Printable, std::shared_ptr<Protocol>>(
      m, "Protocol", QV_DOC "A Protocol for Multi-Party operations between multiple parties." QV_DOC_END)
      .def("execute_next_round", &Protocol::executeNextRound,
           QV_DOC "Execute the next round of this protocol and generate output messages for the "
                  "next round for all parties."
                  "\n" QV_DOC ":param output_messages: The output messages of the round." QV_DOC
                  ":type output_messages: Vector of ProtocolMessage objects." QV_DOC
                  ":param input_messages: The input messages for the round." QV_DOC
                  ":type input_messages: Vector of ProtocolMessage objects." QV_DOC
                  ":return: A boolean value indicates whether the protocol received all the "
                  "needed messages to execute the next round successfully." QV_DOC
                  ":rtype: bool." QV_DOC_END,
           py::arg("output_messages"), py::arg("input_messages"), py::keep_alive<2, 1>(),
           py::keep_alive<3, 1>())
      .def("needs_another_round", &Protocol::needsAnotherRound,
           QV_DOC ":return: Returns true iff this protocol needs another round." QV_DOC
                  ":rtype: bool." QV_DOC_END)
      .def("get_current_round", &Protocol::getCurrentRound,
           QV_DOC ":return: Returns the current round number." QV_DOC ":rtype: int." QV_DOC_END)
      .def("get_total_number_of_rounds", &Protocol::getTotalNumberOfRounds,
           QV_DOC ":return: Returns the total number of rounds in the protocol." QV_DOC
                  ":rtype: int." QV_DOC_END)
      .def("get_roles", &Protocol::getRoles,
           QV_DOC ":return: Returns the roles in the protocol of the current participant." QV_DOC
                  ":rtype: Set of integers." QV_DOC_END)
      .def("is_role", &Protocol::isRole,
           QV_DOC ":param role: The role to check." QV_DOC ":type role: MultiPartyRole." QV_DOC
                  ":return: Return true if the current participant has the given role in the "
                  "protocol." QV_DOC ":rtype: bool." QV_DOC_END,
           py::arg("role"))
      .def("is_input_message_valid_for_current_round",
           &Protocol::isInputMessageValidForCurrentRound,
           QV_DOC ":param input_message: The input message to check." QV_DOC
                  ":type input_message: ProtocolMessage." QV_DOC
                  ":return: Returns true if the given message is a valid input message for the "
                  "current round (e.g., that the destination role of the message matches the "
                  "role of the current participant)." QV_DOC ":rtype: bool." QV_DOC_END,
           py::arg("input_message"))
      .def("get_protocol_type", &Protocol::getProtocolType,
           QV_DOC ":return: Returns the protocol type of this protocol." QV_DOC
                  ":rtype: ProtocolType." QV_DOC_END)
      .def("reset_protocol", &Protocol::resetProtocol,
           QV_DOC "Reset the protocol prior to another use." QV_DOC_END)
      .def(
          "set_verbosity",
          [](Protocol& self, Verbosity verbosity) { self.setVerbosity(verbosity); },
          QV_DOC "Sets the verbosity level."
                 "\n" QV_DOC ":param verbosity: The verbosity level." QV_DOC
                 ":type verbosity: Verbosity." QV_DOC_END,
          py::arg("verbosity"));

  BoundClass<InitProtocol, Protocol, std::shared_ptr<InitProtocol>>(
      m, "InitProtocol", QV_DOC "Protocol for initialization of multi-party setting." QV_DOC_END)
      .def(py::init([](HeContext& he) {
             return holdWithContext(std::make_shared<InitProtocol>(he), he);
           }),
           QV_DOC "Constructor for InitProtocol."
                  "\n" QV_DOC ":param he: The heContext." QV_DOC_END,
           py::arg("he"));

  BoundClass<DecryptProtocol, Protocol, std::shared_ptr<DecryptProtocol>>(
      m, "DecryptProtocol", QV_DOC "Protocol for multi-party decryption." QV_DOC_END)
      .def(py::init([](const HeContext& he) {
             return holdWithContext(std::make_shared<DecryptProtocol>(he), he);
           }),
           QV_DOC "Constructor for DecryptProtocol."
                  "\n" QV_DOC ":param he: The heContext." QV_DOC_END,
           py::arg("he"))
      .def("set_plaintext_aggregator_id", &DecryptProtocol::setPlaintextAggregatorId,
           QV_DOC "Sets the ID of the plaintext-aggregator for the next run of the protocol (see "
                  "MultiPartyRole::MP_PLAINTEXT_AGGREGATOR)."
                  "\n" QV_DOC ":param id: The ID of the plaintext-aggregator." QV_DOC
                  ":type id: int." QV_DOC_END,
           py::arg("id"))
      .def("get_plaintext_aggregator_id", &DecryptProtocol::getPlaintextAggregatorId,
           QV_DOC ":return: Returns the ID of the plaintext-aggregator for the next run of the "
                  "protocol (see MultiPartyRole::MP_PLAINTEXT_AGGREGATOR)." QV_DOC
                  ":rtype: int." QV_DOC_END)
      .def("set_input", py::overload_cast<const EncryptedData&>(&DecryptProtocol::setInput),
           QV_DOC "Set the encrypted input to decrypt."
                  "\n" QV_DOC ":param input: The encrypted input to decrypt." QV_DOC
                  ":type input: EncryptedData." QV_DOC_END,
           py::arg("input"))
      .def("set_input", py::overload_cast<const CTileTensor&>(&DecryptProtocol::setInput),
           QV_DOC "Set the encrypted input to decrypt."
                  "\n" QV_DOC ":param input: The encrypted input to decrypt." QV_DOC
                  ":type input: CTileTensor." QV_DOC_END,
           py::arg("input"))
      .def("set_input", py::overload_cast<const CTile&>(&DecryptProtocol::setInput),
           QV_DOC "Set the encrypted input to decrypt."
                  "\n" QV_DOC ":param input: The encrypted input to decrypt." QV_DOC
                  ":type input: CTile." QV_DOC_END,
           py::arg("input"))
      .def(
          "get_output_vector_double_tensor",
          [](const DecryptProtocol& self) {
            py::list res;
            for (const std::shared_ptr<const DoubleTensor>& t :
                 self.getOutputVectorDoubleTensorCPtr())
              res.append(NumpyUtils::fromDoubleTensor(*t));
            return res;
          },
          QV_DOC "Get the decrypted output. Should be used only if the input was set using "
                 "set_input(EncryptedData)."
                 "\n" QV_DOC ":return: The decrypted output." QV_DOC
                 ":rtype: list of numpy.array." QV_DOC_END)
      .def(
          "get_output_double_tensor",
          [](const DecryptProtocol& self) {
            return NumpyUtils::fromDoubleTensor(self.getOutputDoubleTensor());
          },
          QV_DOC "Get the decrypted output. Should be used only if the input was set using "
                 "set_input(CTileTensor)."
                 "\n" QV_DOC ":return: The decrypted output." QV_DOC
                 ":rtype: numpy.array." QV_DOC_END)
      .def(
          "get_output_vector_double",
          [](const DecryptProtocol& self) {
            return NumpyUtils::fromDoubleVector(self.getOutputVectorDouble());
          },
          QV_DOC "Get the decrypted output. Should be used only if the input was set using "
                 "set_input(CTile)."
                 "\n" QV_DOC ":return: The decrypted output." QV_DOC
                 ":rtype: numpy.array." QV_DOC_END);
}

} // namespace quorvane
