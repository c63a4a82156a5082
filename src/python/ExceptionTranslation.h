#ifndef QUORVANE_PYTHON_EXCEPTIONTRANSLATION_H
#define QUORVANE_PYTHON_EXCEPTIONTRANSLATION_H

#include <exception>

namespace quorvane {

/// Sets the Python error for an exception leaving a bound call, with the
/// Python type pybind11's default translation gives it (ValueError for
/// invalid arguments, IndexError for out-of-range, RuntimeError for the rest,
/// and so on). Unlike that translation, a message that is not valid UTF-8
/// keeps its text: the bytes that do not decode appear escaped ("\xcd"),
/// where pybind11 would raise UnicodeDecodeError instead. The library nests no
/// exceptions, so none is raised as the cause of another.
void translateException(std::exception_ptr exception);

} // namespace quorvane

#endif
