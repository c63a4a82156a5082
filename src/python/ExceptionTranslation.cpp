#include "python/ExceptionTranslation.h"

#include <pybind11/pybind11.h>

#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

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

template <typename E>
bool isA(const py::builtin_exception& e)
{
  return dynamic_cast<const E*>(&e) != nullptr;
}

// The Python type that pybind11's own exceptions set (cast_error and
// reference_cast_error set RuntimeError); nothing for another class derived
// from builtin_exception, whose type only its set_error knows.
PyObject* pythonTypeOfBuiltin(const py::builtin_exception& e)
{
  const std::pair<bool (*)(const py::builtin_exception&), PyObject*> types[] = {
      {isA<py::stop_iteration>, PyExc_StopIteration},
      {isA<py::index_error>, PyExc_IndexError},
      {isA<py::key_error>, PyExc_KeyError},
      {isA<py::value_error>, PyExc_ValueError},
      {isA<py::type_error>, PyExc_TypeError},
      {isA<py::buffer_error>, PyExc_BufferError},
      {isA<py::import_error>, PyExc_ImportError},
      {isA<py::attribute_error>, PyExc_AttributeError},
      {isA<py::cast_error>, PyExc_RuntimeError},
      {isA<py::reference_cast_error>, PyExc_RuntimeError},
  };
  for (const auto& [matches, pythonType] : types)
    if (matches(e))
      return pythonType;
  return nullptr;
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
  } catch (const py::builtin_exception& e) {
    PyObject* type = pythonTypeOfBuiltin(e);
    std::optional<std::string> escaped = type ? escapedUnlessUtf8(e.what()) : std::nullopt;
    if (!escaped)
      throw;
    // As pybind11 sets them: a nested exception is translated first, then
    // replaced by this one, as is a Python error already set.
    py::detail::handle_nested_exception(e, exception);
    py::set_error(type, escaped->c_str());
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
