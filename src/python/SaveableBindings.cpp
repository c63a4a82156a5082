#include <pybind11/pybind11.h>

#include <memory>
#include <sstream>

#include "hebase/Storage.h"
#include "hebase/utils/Saveable.h"
#include "math/TTShape.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/TTShapeViews.h"

namespace py = pybind11;

namespace quorvane {

void initSaveableBasicBindings(py::module_& m)
{
  BoundClass<SaveableBasic, Printable, std::shared_ptr<SaveableBasic>>(m, "SaveableBasic")
      .def(
          "save_to_buffer",
          [](const SaveableBasic& self) {
            std::ostringstream out;
            self.save(out);
            return py::bytes(out.str());
          },
          R"(
            Saves this object into a buffer.

            :return: A memory buffer with the saved object.
            :rtype: bytes
            )")
      .def(
          "load_from_buffer",
          [](SaveableBasic& self, const py::bytes& buf) {
            std::istringstream in(static_cast<std::string>(buf));
            // A shape's dimensions may be in use by views (get_dim).
            if (TTShape* shape = dynamic_cast<TTShape*>(&self))
              changeShape(*shape, [&](TTShape& s) { s.load(in); });
            else
              self.load(in);
          },
          R"(
            Loads this object from a buffer.

            :param buf: A memory buffer holding a saved object.
            :type buf: bytes
            )",
          py::arg("buf"));
}

void initSaveableBindings(py::module_& m)
{
  BoundClass<Saveable, SaveableBasic, std::shared_ptr<Saveable>>(m, "Saveable")
      .def("get_class_name", &Saveable::getClassName, R"(
            Returns the class name of the object: the name written into its saved-object
            header, such as "CTile", "PTile" or "CTileTensor".

            :rtype: str
            )")
      .def("save_to_file", &Saveable::saveToFile, R"(
            Saves the object to a file in its saved form.

            :param file_name: The path of the file to write.
            :type file_name: str
            :return: The number of bytes written.
            :rtype: int
            )",
           py::arg("file_name"))
      .def("load_from_file", &Saveable::loadFromFile, R"(
            Loads the object from a file written by save_to_file.

            :param file_name: The path of the file to read.
            :type file_name: str
            :return: The number of bytes read.
            :rtype: int
            )",
           py::arg("file_name"))
      .def("attach_input_storage", &Saveable::attachInputStorage, R"(
            Attaches an input storage to this object. The header in the storage is
            looked for and verified at once.

            :param storage: The storage to read from.
            :type storage: Storage
            )",
           py::arg("storage"))
      .def("attach_output_storage", &Saveable::attachOutputStorage, R"(
            Attaches an output storage to this object. A header is written to the
            storage at once.

            :param storage: The storage to write into.
            :type storage: Storage
            )",
           py::arg("storage"))
      .def("flush_to_storage", &Saveable::flushToStorage, R"(
            For an object attached to an output storage, flushes the remaining data
            into the storage. Must be called when finishing with the object to
            complete its storing, and only once.
            )");
}

} // namespace quorvane
