#include "python/ExceptionTranslation.h"

#include <pybind11/pybind11.h>

#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

namespace py = pybind11;

namespace quorvane {

namespace {

// The message with the bytes that do not decode as UTF-8 written as backslash
// escapes; nothing when it decodes as it is, or when Python cannot allocate
// the text. A Python error already set is left as it was.
std::optional<std::string> escapedUnlessUtf8(const char* message)
{
  py::error_scope pending;
  const auto size = static_cast<Py_ssize_t>(std::strlen(message));
  py::object text = py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(message, size, nullptr));
  if (text)
    return std::nullopt;
  PyErr_Clear();
  text = py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(message, size, "backslashreplace"));
  const char* escaped = text ? PyUnicode_AsUTF8(text.ptr()) : nullptr;
  if (escaped == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string(escaped);
}

// The Python type pybind11 gives a standard exception, found by its handlers
// in pybind11's order.
PyObject* pythonTypeOf(const std::exception_ptr& exception)
{
  try {
    std::rethrow_exception(exception);
  } catch (const std::bad_alloc&) {
    return PyExc_MemoryError;
  } catch (const std::domain_error&) {
    return PyExc_ValueError;
  } catch (const std::invalid_argument&) {
    return PyExc_ValueError;
  } catch (const std::length_error&) {
    return PyExc_ValueError;
  } catch (const std::out_of_range&) {
    return PyExc_IndexError;
  } catch (const std::range_error&) {
    return PyExc_ValueError;
  } catch (const std::overflow_error&) {
    return PyExc_OverflowError;
  } catch (...) {
    return PyExc_RuntimeError;
  }
}

} // namespace

void translateException(std::exception_ptr exception)
{
  if (!exception)
    return;
  try {
    std::rethrow_exception(exception);
  } catch (const py::error_already_set&) {
    throw;
  } catch (const py::builtin_exception&) {
    throw;
  } catch (const std::exception& e) {
    std::optional<std::string> escaped = escapedUnlessUtf8(e.what());
    if (!escaped)
      throw;
    // As pybind11 does: a nested exception is translated first, and a Python
    // error already set becomes the cause of the new one.
    py::detail::handle_nested_exception(e, exception);
    PyObject* type = pythonTypeOf(exception);
    if (PyErr_Occurred())
      py::raise_from(type, escaped->c_str());
    else
      py::set_error(type, escaped->c_str());
  }
}

} // namespace quorvane
