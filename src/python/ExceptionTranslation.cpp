#include "python/ExceptionTranslation.h"

#include <pybind11/pybind11.h>

#include <cstring>
#include <new>
#include <stdexcept>

namespace py = pybind11;

namespace quorvane {

namespace {

// Sets type(message); bytes of the message that are not UTF-8 become
// backslash escapes. When Python cannot allocate the text, its MemoryError
// is set instead.
void raise(PyObject* type, const char* message)
{
  PyObject* text = PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)),
                                        "backslashreplace");
  if (text == nullptr)
    return;
  PyErr_SetObject(type, text);
  Py_DECREF(text);
}

template <typename E>
bool isA(const std::exception& e)
{
  return dynamic_cast<const E*>(&e) != nullptr;
}

// The Python type pybind11 gives an exception: its own exceptions first, then
// the standard ones in pybind11's order, RuntimeError for the rest.
PyObject* pythonTypeOf(const std::exception& e)
{
  struct Rule
  {
    bool (*matches)(const std::exception&);
    PyObject* type;
  };
  const Rule rules[] = {
      {isA<py::stop_iteration>, PyExc_StopIteration},
      {isA<py::index_error>, PyExc_IndexError},
      {isA<py::key_error>, PyExc_KeyError},
      {isA<py::value_error>, PyExc_ValueError},
      {isA<py::type_error>, PyExc_TypeError},
      {isA<py::buffer_error>, PyExc_BufferError},
      {isA<py::import_error>, PyExc_ImportError},
      {isA<py::attribute_error>, PyExc_AttributeError},
      {isA<std::bad_alloc>, PyExc_MemoryError},
      {isA<std::domain_error>, PyExc_ValueError},
      {isA<std::invalid_argument>, PyExc_ValueError},
      {isA<std::length_error>, PyExc_ValueError},
      {isA<std::out_of_range>, PyExc_IndexError},
      {isA<std::range_error>, PyExc_ValueError},
      {isA<std::overflow_error>, PyExc_OverflowError},
  };
  for (const Rule& rule : rules)
    if (rule.matches(e))
      return rule.type;
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
    e.restore();
  } catch (const std::exception& e) {
    raise(pythonTypeOf(e), e.what());
  } catch (const std::nested_exception&) {
    raise(PyExc_RuntimeError, "Caught an unknown nested exception!");
  } catch (...) {
    raise(PyExc_RuntimeError, "Caught an unknown exception!");
  }
}

} // namespace quorvane
