#include "python/PythonBackedStorage.h"

#include <memory>
#include <sstream>
#include <stdexcept>

namespace py = pybind11;

namespace quorvane {

namespace {

py::object takeMethod(const py::object& handler, const char* name)
{
  py::object method = handler.attr(name);
  if (!PyCallable_Check(method.ptr()))
    throw std::invalid_argument(std::string("Handler object doesn't have method ") + name);
  return method;
}

} // namespace

PythonBackedStorage::PythonBackedStorage(py::object handler)
    : getBufferForRead(takeMethod(handler, "get_buffer_for_read")),
      onBufferWriteOpen(takeMethod(handler, "on_buffer_write_open")),
      onBufferWriteClose(takeMethod(handler, "on_buffer_write_close"))
{
}

// The owners of a storage release it from Python, with the GIL held.
PythonBackedStorage::~PythonBackedStorage() {}

Buffer PythonBackedStorage::openBufferForRead(const std::string& name)
{
  py::object result = getBufferForRead(py::str(name));
  if (!PyBytes_Check(result.ptr()))
    throw py::type_error("Object of type '" +
                         std::string(Py_TYPE(result.ptr())->tp_name) +
                         "' is not an instance of 'bytes'");
  auto stream = std::make_shared<std::istringstream>(
      std::string(PyBytes_AS_STRING(result.ptr()),
                  static_cast<size_t>(PyBytes_GET_SIZE(result.ptr()))));
  return Buffer(*this, name, std::shared_ptr<std::istream>(stream));
}

Buffer PythonBackedStorage::openBufferForWrite(const std::string& name)
{
  onBufferWriteOpen(py::str(name));
  auto stream = std::make_shared<std::ostringstream>();
  return Buffer(*this, name, std::shared_ptr<std::ostream>(stream));
}

void PythonBackedStorage::closeBuffer(Buffer& buffer)
{
  if (buffer.getMode() != Buffer::OPEN_OUT)
    return;
  auto& stream = dynamic_cast<std::ostringstream&>(buffer.out());
  if (!stream)
    throw std::runtime_error("Writing buffer " + buffer.getName() + " failed");
  py::bytes data(stream.str());
  onBufferWriteClose(py::str(buffer.getName()), data);
}

void PythonBackedStorage::discardBuffer(Buffer&) {}

} // namespace quorvane
