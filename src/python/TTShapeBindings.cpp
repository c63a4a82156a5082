#include <pybind11/pybind11.h>

#include <memory>
#include <vector>

#include "math/TTShape.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/NumpyUtils.h"
#include "python/TTShapeViews.h"

namespace py = pybind11;

namespace quorvane {

void initTTShapeBindings(py::module_& m)
{
  BoundClass<TTShape, SaveableBasic, std::shared_ptr<TTShape>>(m, "TTShape", R"(
    Tile tensor shape. Contains meta data defining packing details of a tile tensor.
    Printable to a string in the tile tensor shape notation, such as [4/2, */8].
    )")
      .def(py::init<>())
      .def(py::init([](const NumpyArray<int>& tshape) {
             return TTShape(NumpyUtils::toVector<int>(tshape));
           }),
           R"(
            Initialize a ttshape with just tile dimension sizes defined.

            :param tshape: The required tile dimension sizes.
            :type tshape: numpy.ndarray[numpy.int32]
            )",
           py::arg("tshape"))
      .def(py::init([](const TTShape& src) { return std::make_shared<TTShape>(src); }), R"(
            Copy constructor.

            :param src: The object to copy.
            :type src: TTShape
            )",
           py::arg("src"))
      .def(py::init<const TTShape&>())
      .def("__copy__", [](const TTShape& self) { return TTShape(self); })
      .def("__deepcopy__", [](const TTShape& self, py::dict) { return TTShape(self); })
      // Members that change the shape go through changeShape, which keeps get_dim views safe.
      .def(
          "add_dim",
          [](TTShape& self, const TTDim& dim, int place) {
            changeShape(self, [&](TTShape& s) { s.addDim(dim, place); });
          },
          py::arg("dim"), py::arg("place") = -1)
      .def(
          "add_dim",
          [](TTShape& self, int originalSize, int tileSize, int numDuplicated,
             bool areUnusedSlotsUnknown, bool isInterleaved, bool isComplexPacked) {
            const TTDim dim(originalSize, tileSize, numDuplicated, areUnusedSlotsUnknown,
                            isInterleaved, isComplexPacked);
            changeShape(self, [&](TTShape& s) { s.addDim(dim, -1); });
          },
          py::arg("original_size"), py::arg("tile_size"), py::arg("num_duplicated") = 1,
          py::arg("are_unused_slots_unkown") = false, py::arg("is_interleaved") = false,
          py::arg("is_complex_packed") = false)
      // Views into the shape; they keep the shape's Python object alive.
      .def("get_dim", static_cast<TTDim& (TTShape::*)(int)>(&TTShape::getDim),
           py::return_value_policy::reference_internal, py::arg("dim"))
      .def("get_dim", static_cast<const TTDim& (TTShape::*)(int) const>(&TTShape::getDim),
           py::return_value_policy::reference_internal, py::arg("dim"))
      .def("get_sub_shape", &TTShape::getSubShape, R"(
            Returns a sub-TTShape of dimensions [first,last).

            :param first: The start index.
            :type first: int
            :param last: The ending index (not included).
            :type last: int
            :return: The sub shape.
            :rtype: TTShape
            )",
           py::arg("first"), py::arg("last"))
      .def(
          "get_original_sizes",
          [](const TTShape& self, bool includeDuplications) {
            return NumpyUtils::fromVector(self.getOriginalSizes(includeDuplications));
          },
          py::arg("include_duplications") = false)
      .def("get_tile_sizes",
           [](const TTShape& self) { return NumpyUtils::fromVector(self.getTileSizes()); })
      .def("get_external_sizes",
           [](const TTShape& self) { return NumpyUtils::fromVector(self.getExternalSizes()); })
      .def("get_with_duplicated_dim", &TTShape::getWithDuplicatedDim, R"(
            Get a copy of current ttshape with the specified dimension fully duplicated
            along tile size.

            :param dim: The dimension to duplicate.
            :type dim: int
            :rtype: TTShape
            )",
           py::arg("dim"))
      .def(
          "get_with_duplicated_dims",
          [](const TTShape& self, const NumpyArray<int>& dimsToDuplicate) {
            return self.getWithDuplicatedDims(NumpyUtils::toVector<int>(dimsToDuplicate));
          },
          R"(
            Get a copy of current ttshape with the specified dimensions fully duplicated
            along tile size.

            :param dims_to_duplicate: The dimensions to duplicate.
            :type dims_to_duplicate: numpy.ndarray[numpy.int32]
            :rtype: TTShape
            )",
          py::arg("dims_to_duplicate"))
      .def("get_incomplete_tile_sizes_and_interleaved",
           &TTShape::getIncompleteTileSizesAndInterleaved)
      .def(
          "set_original_sizes",
          [](TTShape& self, const NumpyArray<int>& orgSizes) {
            const std::vector<int> sizes = NumpyUtils::toVector<int>(orgSizes);
            changeShape(self, [&](TTShape& s) { s.setOriginalSizes(sizes); });
          },
          py::arg("org_sizes"))
      .def("is_incomplete", &TTShape::isIncomplete)
      .def("are_all_dims_incomplete", &TTShape::areAllDimsIncomplete)
      .def("is_diagonalized", &TTShape::isDiagonalized, R"(
            Returns whether this shape is diagonalized in its first two dimensions.
            )")
      .def(
          "set_diagonalized",
          [](TTShape& self, bool val) {
            changeShape(self, [&](TTShape& s) { s.setDiagonalized(val); });
          },
          R"(
            Set the diagonalized flag of this shape. A diagonalized shape must have at
            least two dimensions, and its dimensions 0 and 1 must not be duplicated,
            interleaved or complex packed; the original size of dimension 0 should be
            divisible by the product of the first two tile sizes.

            :param val: The value of the flag.
            :type val: bool
            )",
          py::arg("val"))
      .def("is_compatible", &TTShape::isCompatible, py::arg("other"),
           py::arg("actionType") = OTHER_ACTION_TYPE)
      .def("assert_compatible", &TTShape::assertCompatible, py::arg("other"),
           py::arg("action_type") = OTHER_ACTION_TYPE, py::arg("text") = "")
      .def(
          "apply_compatibility_adjustments",
          [](TTShape& self, const TTShape& other, ActionType actionType) {
            changeShape(self,
                        [&](TTShape& s) { s.applyCompatibilityAdjustments(other, actionType); });
          },
          py::arg("other"), py::arg("action_type"))
      .def("tile_layout_to_string", &TTShape::tileLayoutToString)
      .def("get_num_used_tiles", &TTShape::getNumUsedTiles)
      .def("get_num_slots_in_tile", &TTShape::getNumSlotsInTile)
      .def("get_num_dims", &TTShape::getNumDims)
      .def("get_rotate_offset_of_dim", &TTShape::getRotateOffsetOfDim, py::arg("i"))
      .def("contains_unknown_unused_slots", &TTShape::containsUnknownUnusedSlots)
      .def("clear_unknowns", &TTShape::clearUnknowns)
      .def(
          "set_all_unused_slots_unknown",
          [](TTShape& self) { changeShape(self, [](TTShape& s) { s.setAllUnusedSlotsUnknown(); }); },
          R"(
            Turns on the unknown flag for all dimensions which have unused slots.
            )")
      .def(
          "insert_dim_at",
          [](TTShape& self, const TTDim& dim, int pos) {
            changeShape(self, [&](TTShape& s) { s.insertDimAt(dim, pos); });
          },
          R"(
            Inserts a dimension at given position. The dimension at pos and those after
            it move one place up.

            :param dim: The dimension to insert (copied).
            :type dim: TTDim
            :param pos: The position, from 0 to the number of dimensions.
            :type pos: int
            )",
          py::arg("dim"), py::arg("pos"))
      .def("is_first_non_degenerate_tile_dim", &TTShape::isFirstNonDegenerateTileDim,
           py::arg("dim"));
}

} // namespace quorvane
