// The Python module's exception translator, run by an embedded interpreter:
// functions bound here throw, and the Python errors their calls raise are read.
// The translator is registered as the module registers it, and a translator of
// another exception type is registered after it.

#include <gtest/gtest.h>

#include <pybind11/embed.h>

#include <exception>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "python/ExceptionTranslation.h"

namespace py = pybind11;
using namespace quorvane;

namespace {

const char* const NOT_UTF8 = "name \xcdockup, end \xff";
const char* const ESCAPED = "name \\xcdockup, end \\xff";

// An exception type that a translator registered after the module's maps to
// its own Python type.
struct LaterError : std::runtime_error
{
  using std::runtime_error::runtime_error;
};

struct BadAlloc : std::bad_alloc
{
  const char* what() const noexcept override { return NOT_UTF8; }
};

struct Other : std::exception
{
  const char* what() const noexcept override { return NOT_UTF8; }
};

// A Python error as Python shows it: type, text, and the same of its cause
// and of its context (empty when there is none).
struct Raised
{
  std::string type, text, causeType, causeText, contextType, contextText;

  bool operator==(const Raised& o) const
  {
    return type == o.type && text == o.text && causeType == o.causeType &&
           causeText == o.causeText && contextType == o.contextType &&
           contextText == o.contextText;
  }
};

std::ostream& operator<<(std::ostream& out, const Raised& r)
{
  return out << r.type << "(" << r.text << ") cause " << r.causeType << "(" << r.causeText
             << ") context " << r.contextType << "(" << r.contextText << ")";
}

std::string typeName(py::handle value)
{
  return value.is_none() ? "" : py::str(py::type::handle_of(value).attr("__name__"));
}

std::string text(py::handle value) { return value.is_none() ? "" : std::string(py::str(value)); }

// The error that calling body as a bound function raises.
Raised raisedBy(const std::function<void()>& body)
{
  py::cpp_function call([body] { body(); });
  try {
    call();
  } catch (py::error_already_set& e) {
    py::object cause = e.value().attr("__cause__");
    py::object context = e.value().attr("__context__");
    return {typeName(e.value()), text(e.value()), typeName(cause),
            text(cause),         typeName(context), text(context)};
  }
  ADD_FAILURE() << "nothing raised";
  return {};
}

template <typename E>
std::function<void()> thrower(const char* message)
{
  return [message] { throw E(message); };
}

// Throws E over a pending Python KeyError "pending".
template <typename E>
std::function<void()> pending(const char* message)
{
  return [message] {
    PyErr_SetString(PyExc_KeyError, "pending");
    throw E(message);
  };
}

// Throws E with a std::out_of_range "inner" nested in it.
template <typename E>
std::function<void()> nested(const char* message)
{
  return [message] {
    try {
      throw std::out_of_range("inner");
    } catch (...) {
      std::throw_with_nested(E(message));
    }
  };
}

// Each standard type, with a message pybind11 decodes and one it does not.
struct TypeCase
{
  std::function<void()> valid, notUtf8;
  std::string pythonType;
};

const std::vector<TypeCase>& typeCases()
{
  static const std::vector<TypeCase> cases = {
      {thrower<std::runtime_error>("text"), thrower<std::runtime_error>(NOT_UTF8),
       "RuntimeError"},
      {thrower<std::invalid_argument>("text"), thrower<std::invalid_argument>(NOT_UTF8),
       "ValueError"},
      {thrower<std::domain_error>("text"), thrower<std::domain_error>(NOT_UTF8), "ValueError"},
      {thrower<std::length_error>("text"), thrower<std::length_error>(NOT_UTF8), "ValueError"},
      {thrower<std::out_of_range>("text"), thrower<std::out_of_range>(NOT_UTF8), "IndexError"},
      {thrower<std::range_error>("text"), thrower<std::range_error>(NOT_UTF8), "ValueError"},
      {thrower<std::overflow_error>("text"), thrower<std::overflow_error>(NOT_UTF8),
       "OverflowError"},
      {thrower<std::underflow_error>("text"), thrower<std::underflow_error>(NOT_UTF8),
       "RuntimeError"},
      {thrower<std::logic_error>("text"), thrower<std::logic_error>(NOT_UTF8), "RuntimeError"},
      {[] { throw std::bad_alloc(); }, [] { throw BadAlloc(); }, "MemoryError"},
      {[] { throw std::bad_cast(); }, [] { throw Other(); }, "RuntimeError"},
  };
  return cases;
}

} // namespace

TEST(ExceptionTranslationTest, MessagesThatAreNotUtf8KeepPybind11sTypes)
{
  for (const TypeCase& c : typeCases()) {
    // pybind11's own translation, which the valid messages reach.
    const Raised valid = raisedBy(c.valid);
    EXPECT_EQ(valid.type, c.pythonType);
    const Raised escaped = raisedBy(c.notUtf8);
    EXPECT_EQ(escaped, (Raised{c.pythonType, ESCAPED}));
  }
}

TEST(ExceptionTranslationTest, Pybind11sOwnExceptionsWithMessagesThatAreNotUtf8KeepTheirTypes)
{
  struct Case
  {
    std::function<void()> valid, notUtf8;
    std::string pythonType, escapedText;
  };
  const std::vector<Case> cases = {
      {thrower<py::value_error>("text"), thrower<py::value_error>(NOT_UTF8), "ValueError",
       ESCAPED},
      {thrower<py::type_error>("text"), thrower<py::type_error>(NOT_UTF8), "TypeError", ESCAPED},
      {thrower<py::index_error>("text"), thrower<py::index_error>(NOT_UTF8), "IndexError",
       ESCAPED},
      // KeyError shows its argument's repr, backslashes doubled.
      {thrower<py::key_error>("text"), thrower<py::key_error>(NOT_UTF8), "KeyError",
       R"('name \\xcdockup, end \\xff')"},
      {thrower<py::stop_iteration>("text"), thrower<py::stop_iteration>(NOT_UTF8),
       "StopIteration", ESCAPED},
      {thrower<py::buffer_error>("text"), thrower<py::buffer_error>(NOT_UTF8), "BufferError",
       ESCAPED},
      {thrower<py::import_error>("text"), thrower<py::import_error>(NOT_UTF8), "ImportError",
       ESCAPED},
      {thrower<py::attribute_error>("text"), thrower<py::attribute_error>(NOT_UTF8),
       "AttributeError", ESCAPED},
      {thrower<py::cast_error>("text"), thrower<py::cast_error>(NOT_UTF8), "RuntimeError",
       ESCAPED},
  };
  for (const Case& c : cases) {
    // pybind11's own translation, which the valid messages reach.
    EXPECT_EQ(raisedBy(c.valid).type, c.pythonType);
    EXPECT_EQ(raisedBy(c.notUtf8), (Raised{c.pythonType, c.escapedText, "", "", "", ""}));
  }
  // A bound function's reference_cast_error makes pybind11 try the next
  // overload; elsewhere it reaches the translators.
  translateException(std::make_exception_ptr(py::reference_cast_error(NOT_UTF8)));
  ASSERT_TRUE(PyErr_Occurred());
  py::error_already_set raised;
  EXPECT_TRUE(raised.matches(PyExc_RuntimeError));
  EXPECT_EQ(text(raised.value()), ESCAPED);
  EXPECT_EQ(typeName(raised.value()), "RuntimeError");
}

TEST(ExceptionTranslationTest, ValidTextsReachPybind11Unchanged)
{
  for (const char* message : {"plain", "caf\xc3\xa9 \xe2\x98\x83", ""}) {
    EXPECT_EQ(raisedBy(thrower<std::invalid_argument>(message)), (Raised{"ValueError", message}));
    // Called directly, the translator rethrows the very exception.
    std::exception_ptr thrown = std::make_exception_ptr(std::out_of_range(message));
    try {
      translateException(thrown);
      ADD_FAILURE() << "not rethrown";
    } catch (const std::out_of_range& e) {
      EXPECT_EQ(std::current_exception(), thrown);
      EXPECT_STREQ(e.what(), message);
    }
    EXPECT_FALSE(PyErr_Occurred());
  }
}

TEST(ExceptionTranslationTest, OtherExceptionsAreLeftToPybind11)
{
  struct Case
  {
    std::function<void()> body;
    Raised raised;
  };
  const std::vector<Case> cases = {
      // A Python error that crosses C++ keeps its type and its text.
      {[] { py::module_::import("json").attr("loads")("{"); }, {"JSONDecodeError",
        "Expecting property name enclosed in double quotes: line 1 column 2 (char 1)"}},
      {[] { throw py::key_error("k"); }, {"KeyError", "'k'"}},
      {[] { throw py::stop_iteration(); }, {"StopIteration", ""}},
      {[] { throw 42; }, {"RuntimeError", "Caught an unknown exception!"}},
      // The translator registered after the module's is no longer hidden.
      {[] { throw LaterError("later"); }, {"LaterError", "later"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(raisedBy(c.body), c.raised);
}

TEST(ExceptionTranslationTest, PendingErrorsAndNestedExceptionsAreChainedAsPybind11Does)
{
  struct Case
  {
    std::function<void()> valid, notUtf8;
    Raised raised;
  };
  // pybind11 sets its own exceptions over a pending or nested error.
  const std::vector<Case> cases = {
      {pending<std::invalid_argument>("text"), pending<std::invalid_argument>(NOT_UTF8),
       {"ValueError", ESCAPED, "KeyError", "'pending'", "KeyError", "'pending'"}},
      {nested<std::overflow_error>("text"), nested<std::overflow_error>(NOT_UTF8),
       {"OverflowError", ESCAPED, "IndexError", "inner", "IndexError", "inner"}},
      {pending<py::type_error>("text"), pending<py::type_error>(NOT_UTF8),
       {"TypeError", ESCAPED, "", "", "", ""}},
      {nested<py::value_error>("text"), nested<py::value_error>(NOT_UTF8),
       {"ValueError", ESCAPED, "", "", "", ""}},
  };
  for (const Case& c : cases) {
    Raised expected = c.raised;
    EXPECT_EQ(raisedBy(c.notUtf8), expected);
    // The same chain as pybind11's for a message it decodes.
    expected.text = "text";
    EXPECT_EQ(raisedBy(c.valid), expected);
  }
}

int main(int argc, char** argv)
{
  testing::InitGoogleTest(&argc, argv);
  py::scoped_interpreter python;
  py::register_local_exception_translator(&translateException);
  py::register_exception<LaterError>(py::module_::import("__main__"), "LaterError");
  return RUN_ALL_TESTS();
}
