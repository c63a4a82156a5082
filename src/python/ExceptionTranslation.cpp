#include "python/ExceptionTranslation.h"

#include <pybind11/pybind11.h>

#include <cstring>
#include <new>
#include <stdexcept>

namespace py = pybind11;

namespace quorvane {

namespace {

// A str of the message; bytes that are not UTF-8 become backslash escapes.
// Null (with the Python error set) only when Python cannot allocate it.
PyObject* messageText(const char* message)
{
  return PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)),
                              "backslashreplace");
}

// Sets type(message); when a Python error is already set (by a nested
// exception), the new one is raised from it, as pybind11 does.
void raise(PyObject* type, const char* message)
{
  PyObject* cause = nullptr;
  if (PyErr_Occurred()) {
    PyObject* causeType = nullptr;
    PyObject* causeTrace = nullptr;
    PyErr_Fetch(&causeType, &cause, &causeTrace);
    PyErr_NormalizeException(&causeType, &cause, &causeTrace);
    if (causeTrace != nullptr) {
      PyException_SetTraceback(cause, causeTrace);
      Py_DECREF(causeTrace);
    }
    Py_DECREF(causeType);
  }
  PyObject* text = messageText(message);
  if (text == nullptr) {
    Py_XDECREF(cause);
    return;
  }
  PyErr_SetObject(type, text);
  Py_DECREF(text);
  if (cause == nullptr)
    return;
  PyObject* errorType = nullptr;
  PyObject* error = nullptr;
  PyObject* trace = nullptr;
  PyErr_Fetch(&errorType, &error, &trace);
  PyErr_NormalizeException(&errorType, &error, &trace);
  // Both calls take a reference.
  Py_INCREF(cause);
  PyException_SetCause(error, cause);
  PyException_SetContext(error, cause);
  PyErr_Restore(errorType, error, trace);
}

// Translates the exception nested in e first, when there is one.
void translateNested(const std::nested_exception* nested, const std::exception_ptr& outer)
{
  if (nested == nullptr)
    return;
  std::exception_ptr inner = nested->nested_ptr();
  if (inner != nullptr && inner != outer)
    translateException(inner);
}

template <typename T>
void translateNestedOf(const T& e, const std::exception_ptr& outer)
{
  translateNested(dynamic_cast<const std::nested_exception*>(&e), outer);
}

// Whether Python's strict decoder accepts the text (no overlong forms, no
// surrogates, nothing above U+10FFFF). Checked without the Python API, so that
// an error already set by a nested exception stays set.
bool isUtf8(const char* message)
{
  const auto* p = reinterpret_cast<const unsigned char*>(message);
  while (*p != 0) {
    const unsigned char lead = *p;
    int length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead < 0x80) {
      ++p;
      continue;
    }
    if (lead >= 0xc2 && lead <= 0xdf) {
      length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      length = 3;
      if (lead == 0xe0)
        low = 0xa0;
      else if (lead == 0xed)
        high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      length = 4;
      if (lead == 0xf0)
        low = 0x90;
      else if (lead == 0xf4)
        high = 0x8f;
    } else {
      return false;
    }
    // The first continuation byte carries the range limits; the NUL at the
    // end fails every check.
    if (p[1] < low || p[1] > high)
      return false;
    for (int i = 2; i < length; ++i)
      if (p[i] < 0x80 || p[i] > 0xbf)
        return false;
    p += length;
  }
  return true;
}

// The Python type of pybind11's own exceptions.
PyObject* pythonTypeOf(const py::builtin_exception& e)
{
  if (dynamic_cast<const py::stop_iteration*>(&e))
    return PyExc_StopIteration;
  if (dynamic_cast<const py::index_error*>(&e))
    return PyExc_IndexError;
  if (dynamic_cast<const py::key_error*>(&e))
    return PyExc_KeyError;
  if (dynamic_cast<const py::value_error*>(&e))
    return PyExc_ValueError;
  if (dynamic_cast<const py::type_error*>(&e))
    return PyExc_TypeError;
  if (dynamic_cast<const py::buffer_error*>(&e))
    return PyExc_BufferError;
  if (dynamic_cast<const py::import_error*>(&e))
    return PyExc_ImportError;
  if (dynamic_cast<const py::attribute_error*>(&e))
    return PyExc_AttributeError;
  return PyExc_RuntimeError;
}

// The Python type of the standard exceptions, in pybind11's order.
PyObject* pythonTypeOf(const std::exception& e)
{
  if (dynamic_cast<const std::bad_alloc*>(&e))
    return PyExc_MemoryError;
  if (dynamic_cast<const std::domain_error*>(&e) ||
      dynamic_cast<const std::invalid_argument*>(&e) ||
      dynamic_cast<const std::length_error*>(&e))
    return PyExc_ValueError;
  if (dynamic_cast<const std::out_of_range*>(&e))
    return PyExc_IndexError;
  if (dynamic_cast<const std::range_error*>(&e))
    return PyExc_ValueError;
  if (dynamic_cast<const std::overflow_error*>(&e))
    return PyExc_OverflowError;
  return PyExc_RuntimeError;
}

} // namespace

void translateException(std::exception_ptr exception)
{
  if (!exception)
    return;
  try {
    std::rethrow_exception(exception);
  } catch (py::error_already_set& e) {
    translateNestedOf(e, exception);
    e.restore();
  } catch (const py::builtin_exception& e) {
    translateNestedOf(e, exception);
    // Set as pybind11 sets it, without a cause.
    if (isUtf8(e.what())) {
      e.set_error();
    } else if (PyObject* text = messageText(e.what())) {
      PyErr_SetObject(pythonTypeOf(e), text);
      Py_DECREF(text);
    }
  } catch (const std::exception& e) {
    translateNestedOf(e, exception);
    raise(pythonTypeOf(e), e.what());
  } catch (const std::nested_exception& e) {
    translateNested(&e, exception);
    raise(PyExc_RuntimeError, "Caught an unknown nested exception!");
  } catch (...) {
    raise(PyExc_RuntimeError, "Caught an unknown exception!");
  }
}

} // namespace quorvane
