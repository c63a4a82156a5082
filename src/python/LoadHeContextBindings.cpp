#include <pybind11/pybind11.h>

#include <memory>
#include <sstream>
#include <string>

#include "hebase/HeContext.h"
#include "python/Bindings.h"

namespace py = pybind11;

namespace quorvane {

void initLoadHeContextBindings(py::module_& m)
{
  m.def(
      "load_he_context",
      [](const py::bytes& buf) {
        std::istringstream in(static_cast<std::string>(buf));
        return loadHeContext(in);
      },
      R"(
        Loads a context from a buffer written by HeContext.save_to_buffer; the
        type of the context is determined by the buffer's content.

        :param buf: The saved context; it must start with the context.
        :type buf: bytes
        :return: The loaded context.
        :rtype: HeContext
        )",
      py::arg("buf"));
  m.def("load_he_context_from_file", &loadHeContextFromFile, R"(
        Loads a context from a file written by HeContext.save_to_file; the
        type of the context is determined by the file's content.

        :param file_name: The file to load from.
        :type file_name: str
        :return: The loaded context.
        :rtype: HeContext
        )",
        py::arg("file_name"));
}

} // namespace quorvane
