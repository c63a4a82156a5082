#include <pybind11/pybind11.h>

#include <memory>

#include "hebase/FileStorage.h"
#include "hebase/HeContext.h"
#include "hebase/Storage.h"
#include "hebase/utils/Saveable.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ContextLifetime.h"
#include "python/PythonBackedStorage.h"

namespace py = pybind11;

namespace quorvane {

void initStorageBindings(py::module_& m)
{
  BoundClass<Storage, std::shared_ptr<Storage>>(m, "Storage", R"(
    An abstract class that allows saving Savable objects to storage and loading
    them from storage.
    )")
      .def("save", &Storage::save, R"(
            Saves a Saveable object into the buffer of this storage named by the
            second argument. A failed save leaves what the storage held under that
            name as it was.
            )")
      .def(
          "load",
          [](Storage& self, const HeContext& he, const std::string& name) {
            return holdWithContext(self.load(he, name), he);
          },
          R"(
            Loads a Saveable object from the named buffer of this storage, for the
            given context.

            :rtype: Saveable
            )");

  BoundClass<FileStorage, Storage, std::shared_ptr<FileStorage>>(m, "FileStorage", R"(
    A file-system implementation of Storage: every buffer is a file of one folder.
    )")
      .def(py::init([](const std::string& rootPath, int create) {
             return std::make_shared<FileStorage>(rootPath, create != 0);
           }),
           R"(
            :param root_path: The folder where the data is stored.
            :type root_path: str
            :param create: When true, the folder is created if it does not exist,
                           or cleaned if it exists. When false, the folder must
                           exist, else a ValueError is raised.
            :type create: int
            )",
           py::arg("root_path"), py::arg("create") = false);

  BoundClass<PythonBackedStorage, Storage, std::shared_ptr<PythonBackedStorage>>(
      m, "PythonBackedStorage", R"(
    A class that allows hooking Python code to handle load and save operations,
    to implement a custom storage engine.
    )")
      .def(py::init<py::object>(), R"(
            Constructs a storage from a handler object of any class that
            implements these three methods:

            get_buffer_for_read(self, name: str) -> bytes
                Returns the whole content of the named buffer.
            on_buffer_write_open(self, name: str) -> None
                Called when the named buffer is opened for writing.
            on_buffer_write_close(self, name: str, data: bytes) -> None
                Called with everything written to the named buffer when it is
                closed. A write that fails is abandoned without this call.
            )");
}

} // namespace quorvane
