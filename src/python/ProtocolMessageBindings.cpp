#include <pybind11/pybind11.h>
#include <pybind11/stl_bind.h>
#include <pybind11/typing.h>

#include <memory>
#include <string>
#include <vector>

#include "python/ProtocolMessageVector.h"

#include "hebase/HeContext.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ContextLifetime.h"
#include "python/Docstrings.h"
#include "python/ModuleOrder.h"
#include "python/VectorItems.h"

namespace py = pybind11;

namespace quorvane {

namespace {

typedef std::vector<ProtocolMessage> Messages;
typedef py::class_<Messages, std::shared_ptr<Messages>> MessagesClass;
typedef BoundClass<ProtocolMessage, Saveable, std::shared_ptr<ProtocolMessage>> MessageClass;

/// Keeps alive, with the Python object of the vector, the context of every
/// message in it (the vector holds copies, which refer to their contexts).
void keepContexts(const Messages& v)
{
  const py::object vector = py::cast(&v, py::return_value_policy::reference);
  for (const ProtocolMessage& message : v)
    keepContextAlive(vector, message.getImpl()->getHeContext());
}

/// The messages of an iterable, converted before anything is stored.
Messages messagesOf(const py::iterable& items)
{
  return vectorItemsOf<ProtocolMessage>(items, "ProtocolMessageVector");
}

/// A Python position in a vector of n messages (negative from the end; n
/// itself when the end is allowed); IndexError outside.
size_t position(py::ssize_t i, size_t n, bool endAllowed = false)
{
  const py::ssize_t size = static_cast<py::ssize_t>(n);
  if (i < 0)
    i += size;
  if (i < 0 || i > size || (i == size && !endAllowed))
    throw py::index_error();
  return static_cast<size_t>(i);
}

/// The positions of a slice of a vector of n messages.
std::vector<size_t> positions(const py::slice& s, size_t n)
{
  size_t start = 0, stop = 0, step = 0, length = 0;
  if (!s.compute(n, &start, &stop, &step, &length))
    throw py::error_already_set();
  std::vector<size_t> res;
  for (size_t k = 0; k < length; ++k, start += step)
    res.push_back(start);
  return res;
}

/// Makes the new Python vector self hold the messages and keep their contexts alive.
void construct(py::detail::value_and_holder& self, Messages messages)
{
  auto held = std::make_shared<Messages>(std::move(messages));
  py::detail::initimpl::construct<MessagesClass>(self, held, false);
  keepContexts(*held);
}

/// An item of the vector for Python: a message sharing the item's backend
/// object, so that it stays valid when the vector changes or goes away.
std::shared_ptr<ProtocolMessage> sharedItem(const Messages& v, size_t at)
{
  const std::shared_ptr<AbstractProtocolMessage>& backendObject = v[at].getImpl();
  return holdWithContext(std::make_shared<ProtocolMessage>(backendObject),
                         backendObject->getHeContext());
}

/// A message taken out of a vector, held with its context.
std::shared_ptr<ProtocolMessage> takenOut(Messages& v, size_t at)
{
  const HeContext& he = v[at].getImpl()->getHeContext();
  std::shared_ptr<ProtocolMessage> res = holdWithContext(std::move(v[at]), he);
  v.erase(v.begin() + at);
  return res;
}

/// The list methods of the vector that store messages from Python or hand
/// them out, replaced by ones that keep the messages' contexts alive: a
/// message put in by hand is a copy that does not keep its context as its
/// Python object does. Same arguments, results and texts as the list methods.
void keepContextsOfMessages(MessagesClass& cl)
{
  for (const char* name : {"__init__", "append", "extend", "insert", "pop", "__setitem__",
                           "__getitem__", "__iter__"})
    py::delattr(cl, name);
  cl.def(py::init<>())
      .def(
          "__init__",
          [](py::detail::value_and_holder& self, const Messages& src) { construct(self, src); },
          py::detail::is_new_style_constructor(), "Copy constructor")
      .def(
          "__init__",
          [](py::detail::value_and_holder& self, const py::iterable& items) {
            construct(self, messagesOf(items));
          },
          py::detail::is_new_style_constructor())
      .def(
          "append",
          [](Messages& v, const ProtocolMessage& x) {
            v.push_back(x);
            keepContexts(v);
          },
          py::arg("x"), "Add an item to the end of the list")
      .def(
          "extend",
          [](Messages& v, const Messages& src) {
            // Copied first: src may be this very vector.
            const Messages copies(src);
            v.insert(v.end(), copies.begin(), copies.end());
            keepContexts(v);
          },
          py::arg("L"), "Extend the list by appending all the items in the given list")
      .def(
          "extend",
          [](Messages& v, const py::iterable& items) {
            const Messages copies = messagesOf(items);
            v.insert(v.end(), copies.begin(), copies.end());
            keepContexts(v);
          },
          py::arg("L"), "Extend the list by appending all the items in the given list")
      .def(
          "insert",
          [](Messages& v, py::ssize_t i, const ProtocolMessage& x) {
            v.insert(v.begin() + position(i, v.size(), true), x);
            keepContexts(v);
          },
          py::arg("i"), py::arg("x"), "Insert an item at a given position.")
      .def(
          "pop",
          [](Messages& v) {
            if (v.empty())
              throw py::index_error();
            return takenOut(v, v.size() - 1);
          },
          "Remove and return the last item")
      .def(
          "pop", [](Messages& v, py::ssize_t i) { return takenOut(v, position(i, v.size())); },
          py::arg("i"), "Remove and return the item at index ``i``")
      .def("__setitem__",
           [](Messages& v, py::ssize_t i, const ProtocolMessage& x) {
             v[position(i, v.size())] = x;
             keepContexts(v);
           })
      .def(
          "__getitem__",
          [](const Messages& v, const py::slice& s) {
            auto res = std::make_shared<Messages>();
            for (size_t at : positions(s, v.size()))
              res->push_back(v[at]);
            return res;
          },
          // The slice keeps the vector, and so the contexts it keeps, alive.
          py::keep_alive<0, 1>(), py::arg("s"), "Retrieve list elements using a slice object")
      .def(
          "__setitem__",
          [](Messages& v, const py::slice& s, const Messages& value) {
            const std::vector<size_t> at = positions(s, v.size());
            if (at.size() != value.size())
              throw std::runtime_error(
                  "Left and right hand size of slice assignment have different sizes!");
            const Messages copies(value);
            for (size_t k = 0; k < at.size(); ++k)
              v[at[k]] = copies[k];
            keepContexts(v);
          },
          "Assign list elements using a slice object")
      .def("__getitem__",
           [](const Messages& v, py::ssize_t i) { return sharedItem(v, position(i, v.size())); })
      // Each item shares its message with the list.
      .def("__iter__", [](const Messages& v) {
        py::list items;
        for (size_t at = 0; at < v.size(); ++at)
          items.append(sharedItem(v, at));
        return py::typing::Iterator<ProtocolMessage>(py::iter(items));
      });
}

} // namespace

void declareProtocolMessageClasses(py::module_& m)
{
  py::bind_vector<Messages, std::shared_ptr<Messages>>(
      m, "ProtocolMessageVector", "A vector (list) of ProtocolMessage objects.");
  MessageClass(m, "ProtocolMessage", QV_DOC "A message in a multi-party protocol." QV_DOC_END);
}

void initProtocolMessageBindings(py::module_& m)
{
  moveToCurrentStep(m, "ProtocolMessageVector");
  moveToCurrentStep(m, "ProtocolMessage");
  MessagesClass messages{py::object(m.attr("ProtocolMessageVector"))};

  MessageClass{py::object(m.attr("ProtocolMessage"))}
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

  // After ProtocolMessage, whose Python name the signatures then give.
  keepContextsOfMessages(messages);
}

} // namespace quorvane
