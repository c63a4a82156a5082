#include <pybind11/pybind11.h>

#include <memory>

#include "hebase/HeContext.h"
#include "math/CTileTensor.h"
#include "math/EncryptedData.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ContextLifetime.h"
#include "python/ModuleOrder.h"

namespace py = pybind11;

namespace quorvane {

namespace {

typedef BoundClass<EncryptedData, Saveable, std::shared_ptr<EncryptedData>> DataClass;

} // namespace

void declareEncryptedDataClass(py::module_& m)
{
  DataClass(m, "EncryptedData", R"(
    A class to hold encrypted data. Each data object may have several batches.
    )");
}

void initEncryptedDataBindings(py::module_& m)
{
  BoundClass<EncryptedBatch, Saveable, std::shared_ptr<EncryptedBatch>>(m, "EncryptedBatch", R"(
    A class to hold an encrypted batch of elements. Each batch may have several
    items (for example an item for "samples" and an item for "labels"); all items
    must have the same number of elements along the batch dimension.
    )")
      .def(py::init([](const HeContext& he) { return holdWithContext(EncryptedBatch(he), he); }),
           R"(
            A constructor from HeContext, constructs an empty object.

            :param he: The HE context.
            :type he: HeContext
            )",
           py::arg("he"))
      .def("get_num_items", &EncryptedBatch::getNumItems, R"(
            Returns the number of different items in the batch.

            :rtype: int
            )")
      .def(
          "get_item",
          [](const EncryptedBatch& self, size_t i) {
            return holdWithContext(self.getItem(i), self.getHeContext());
          },
          R"(
            Returns a specific item of the batch (shared with the batch).

            :param i: The index of the item to get.
            :type i: int
            :rtype: CTileTensor
            )",
          py::arg("i"));

  moveToCurrentStep(m, "EncryptedData");
  DataClass{py::object(m.attr("EncryptedData"))}
      .def(py::init([](const HeContext& he) { return holdWithContext(EncryptedData(he), he); }),
           R"(
            A constructor from HeContext, constructs an empty object.

            :param he: The HE context.
            :type he: HeContext
            )",
           py::arg("he"))
      .def("get_num_batches", &EncryptedData::getNumBatches, R"(
            Returns the number of batches.

            :rtype: int
            )")
      .def(
          "get_batch",
          [](const EncryptedData& self, size_t i) {
            return holdWithContext(self.getBatch(i), self.getHeContext());
          },
          R"(
            Returns a specific batch.

            :param i: The index of the batch to get.
            :type i: int
            :rtype: EncryptedBatch
            )",
          py::arg("i"))
      .def("add_encrypted_data", &EncryptedData::addEncryptedData, R"(
            Adds the batches of the other EncryptedData to this object.

            :param other: The data to add.
            :type other: EncryptedData
            )",
           py::arg("other"));
}

} // namespace quorvane
