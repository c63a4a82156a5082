#ifndef QUORVANE_PYTHON_EXCEPTIONTRANSLATION_H
#define QUORVANE_PYTHON_EXCEPTIONTRANSLATION_H

#include <exception>

namespace quorvane {

/// The module's exception translator. A standard exception whose message is
/// not valid UTF-8, pybind11's own (value_error, cast_error, ...) included,
/// raises the Python type pybind11 gives it (ValueError for invalid arguments
/// and value_error, IndexError for out-of-range and index_error, TypeError for
/// type_error, RuntimeError for cast_error and the rest, and so on) with its
/// text, the bytes that do not decode escaped ("\xcd"), where pybind11 would
/// raise UnicodeDecodeError instead; nested exceptions and a Python error
/// already set are chained as pybind11 chains them. Everything else is
/// rethrown, so that the next translators, those registered with pybind11 and
/// its own, translate it.
void translateException(std::exception_ptr exception);

} // namespace quorvane

#endif
