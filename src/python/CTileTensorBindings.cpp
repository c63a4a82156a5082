#include <pybind11/pybind11.h>

#include <memory>
#include <utility>

#include "hebase/HeContext.h"
#include "math/CTileTensor.h"
#include "math/PTileTensor.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ContextLifetime.h"

namespace py = pybind11;

namespace quorvane {

void initCTileTensorBindings(py::module_& m)
{
  BoundClass<CTileTensor, TileTensor, std::shared_ptr<CTileTensor>> cls{
      py::object(m.attr("CTileTensor"))};
  cls.attr("__doc__") = py::str(R"(
    An encrypted tile tensor. A tile tensor is a data structure for storing
    tensors (vectors, matrices or arrays of higher order) in a set of fixed-size
    tiles, in this case ciphertexts.
    )");
  // The members come in the order of the module's interface; the returning
  // twins follow get_chain_index, re_encrypt comes last.
  cls.def(py::init([](const HeContext& he) { return holdWithContext(CTileTensor(he), he); }), R"(
            Constructs an empty CTileTensor object.

            :param he: The context.
            :type he: HeContext
            )",
          py::arg("he"))
      .def(py::init([](const HeContext& he, const TTShape& s) {
             return holdWithContext(CTileTensor(he, s), he);
           }),
           R"(
            Construct an object of a certain shape. Its tiles are empty: the object is
            not packed until it is filled by an encoder or a load.

            :param HeContext: The context.
            :type HeContext: HeContext
            :param s: The shape.
            :type s: TTShape
            )",
           py::arg("HeContext"), py::arg("s"))
      .def(py::init(&holdCopyWithContext<CTileTensor>), R"(
            Copy constructor.

            :param src: The object to copy.
            :type src: CTileTensor
            )",
           py::arg("src"))
      .def("__copy__", &holdCopyWithContext<CTileTensor>)
      .def("__deepcopy__",
           [](const CTileTensor& self, py::dict) { return holdCopyWithContext(self); })
      .def("add", &CTileTensor::add, R"(
            Elementwise add with other CTileTensor. Relies on CTile::add.

            :param other: The tensor to add.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("add_raw", &CTileTensor::addRaw, R"(
            Elementwise add with other CTileTensor. Relies on CTile::add_raw.

            :param other: The tensor to add.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("sub", &CTileTensor::sub, R"(
            Elementwise sub with other CTileTensor. Relies on CTile::sub.

            :param other: The tensor to subtract.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("sub_raw", &CTileTensor::subRaw, R"(
            Elementwise sub with other CTileTensor. Relies on CTile::sub_raw.

            :param other: The tensor to subtract.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("multiply", &CTileTensor::multiply, R"(
            Elementwise multiplication with other CTileTensor. Relies on CTile::multiply.

            :param other: The tensor to multiply by.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("multiply_raw", &CTileTensor::multiplyRaw, R"(
            Elementwise multiplication with other CTileTensor. Relies on
            CTile::multiply_raw (no relinearization or rescaling).

            :param other: The tensor to multiply by.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("add_plain", &CTileTensor::addPlain, R"(
            Elementwise add with other (plaintext) PTileTensor.

            :param other: The tensor to add.
            :type other: PTileTensor
            )",
           py::arg("other"))
      .def("add_plain_raw", &CTileTensor::addPlainRaw, R"(
            Elementwise add with other (plaintext) PTileTensor, raw.

            :param other: The tensor to add.
            :type other: PTileTensor
            )",
           py::arg("other"))
      .def("sub_plain", &CTileTensor::subPlain, R"(
            Elementwise sub with other (plaintext) PTileTensor.

            :param other: The tensor to subtract.
            :type other: PTileTensor
            )",
           py::arg("other"))
      .def("sub_plain_raw", &CTileTensor::subPlainRaw, R"(
            Elementwise sub with other (plaintext) PTileTensor, raw.

            :param other: The tensor to subtract.
            :type other: PTileTensor
            )",
           py::arg("other"))
      .def("multiply_plain", &CTileTensor::multiplyPlain, R"(
            Elementwise multiply by other (plaintext) PTileTensor.

            :param other: The tensor to multiply by.
            :type other: PTileTensor
            )",
           py::arg("other"))
      .def("multiply_plain_raw", &CTileTensor::multiplyPlainRaw, R"(
            Elementwise multiply by other (plaintext) PTileTensor, raw.

            :param other: The tensor to multiply by.
            :type other: PTileTensor
            )",
           py::arg("other"))
      .def("multiply_scalar", &CTileTensor::multiplyScalar, R"(
            Multiplies all used tensor elements by a given scalar. Consumes one chain
            index; as a side effect unused elements become zero, so unknown unused
            elements are eliminated.

            :param scalar: The scalar.
            :type scalar: float
            )",
           py::arg("scalar"))
      .def("add_scalar", &CTileTensor::addScalar, R"(
            adds a double scalar value to all elements of this tensor.

            :param scalar: The scalar.
            :type scalar: float
            :param keep_unknowns_clear: Add to the used slots only, keeping unused
                slots as they are (default 'false': every slot, and unused slots
                become unknown).
            :type keep_unknowns_clear: bool
            )",
           py::arg("scalar"), py::arg("keep_unknowns_clear") = false)
      .def("square", &CTileTensor::square, R"(
            Elementwise square. Relies on CTile::square.
            )")
      .def("square_raw", &CTileTensor::squareRaw, R"(
            Elementwise square. Relies on CTile::squareRaw.
            )")
      .def("negate", &CTileTensor::negate, R"(
            Elementwise negate. Relies on CTile::negate.
            )")
      .def("multiply_and_sum", &CTileTensor::multiplyAndSum, R"(
            Elementwise multiplication with other, followed by summation over
            dimension sum_dim. For example:

            - Two vectors of the same length summed over dimension 0 give their
              inner product.
            - Matrix-vector multiplication: a matrix of shape [a/t1,b/t2] with a
              vector of shape [a/t1,*/t2], summed over dimension 0, or with a vector
              of shape [*/t1,b/t2], summed over dimension 1.
            - Matrix-matrix multiplication: [a/t1,b/t2,*/t3] with [a/t1,*/t2,c/t3]
              summed over dimension 0, or [a/t1,b/t2,*/t3] with [*/t1,b/t2,c/t3]
              summed over dimension 1.

            Performs a raw multiplication, sums the tiles over sum_dim, relinearizes,
            rescales, and sums inside the tiles over sum_dim.

            :param other: The tensor to multiply by.
            :type other: CTileTensor
            :param sum_dim: The dimension to sum over.
            :type sum_dim: int
            )",
           py::arg("other"), py::arg("sum_dim"))
      .def("multiply_plain_and_sum", &CTileTensor::multiplyPlainAndSum, R"(
            Elementwise multiplication with other (plaintext) PTileTensor, followed by
            summation over dimension sum_dim, without relinearization.
            See CTileTensor::multiplyAndSum for usage examples.

            :param other: The tensor to multiply by.
            :type other: PTileTensor
            :param sum_dim: The dimension to sum over.
            :type sum_dim: int
            )",
           py::arg("other"), py::arg("sum_dim"))
      .def("relinearize", &CTileTensor::relinearize, R"(
            Calls corresponding function for every CTile.
            )")
      .def("rescale", &CTileTensor::rescale, R"(
            Calls corresponding function for every CTile.
            )")
      .def("relinearize_and_rescale", &CTileTensor::relinearizeAndRescale, R"(
            Calls corresponding function for every CTile.
            )")
      .def("rotate_along_dim", &CTileTensor::rotateAlongDim, R"(
            Rotates the tensor cyclically along a dimension: the element at index
            (i+rot) % originalSize moves to i, and elements that fall out of one end
            come back at the other. If the external size of dim is not 1, dim must
            be interleaved; with external size 1 the rotation works the same whether
            the dimension is interleaved or not. dim must be the first non-trivial
            dimension (the first with a tile size above 1) and must contain no
            unused slots. A rotation by 0 changes nothing.

            :param dim: The dimension to rotate along.
            :type dim: int
            :param rot: The rotation offset.
            :type rot: int
            )",
           py::arg("dim"), py::arg("rot"))
      .def("shift_along_dim", &CTileTensor::shiftAlongDim, R"(
            Shifts the tensor along a dimension, not cyclically: the element at index
            i+shift moves to i, and the elements shifted out are lost. If the
            external size of dim is not 1, dim must be interleaved. shift must be at
            least 0 and smaller than the original size of dim; afterwards the
            original size of dim is smaller by shift and its unused slots are
            marked unknown.

            :param dim: The dimension to shift along.
            :type dim: int
            :param shift: The shift offset.
            :type shift: int
            )",
           py::arg("dim"), py::arg("shift"))
      .def("sum_over_dim", &CTileTensor::sumOverDim, R"(
            Sums over a dimension.

            :param dim: The dimension to sum over.
            :type dim: int
            )",
           py::arg("dim"))
      .def("sum_tiles_over_dim", &CTileTensor::sumTilesOverDim, R"(
            Sums tile over a dimension.

            :param dim: The dimension to sum over.
            :type dim: int
            )",
           py::arg("dim"))
      .def("sum_in_tiles_over_dim", &CTileTensor::sumInTilesOverDim, R"(
            Sums inside tiles over a dimension.

            :param dim: The dimension to sum over.
            :type dim: int
            )",
           py::arg("dim"))
      .def("duplicate_over_dim", &CTileTensor::duplicateOverDim, R"(
            Cause a dimension to become duplicated

            :param dim: The dimension, of original size 1, to duplicate.
            :type dim: int
            )",
           py::arg("dim"))
      .def("clear_unknowns", &CTileTensor::clearUnknowns, R"(
            Clears all unknowns from this tile tensor.
            )")
      .def("flatten", &CTileTensor::flatten, R"(
            Flattens consecutive fully-duplicated dimensions into a single
            fully-duplicated dimension: the dimensions from start_dim up to but not
            including end_dim. The new dimension's tile size is the product of the
            flattened tile sizes; it is interleaved if and only if all flattened
            dimensions are.

            :param start_dim: The first dimension to flatten.
            :type start_dim: int
            :param end_dim: The dimension after the last one to flatten.
            :type end_dim: int
            )",
           py::arg("start_dim"), py::arg("end_dim"))
      .def("reduce_chain_index", &CTileTensor::reduceChainIndex, R"(
            Calls corresponding function for every CTile.
            )")
      .def("set_chain_index",
           static_cast<void (CTileTensor::*)(const CTileTensor&)>(&CTileTensor::setChainIndex),
           R"(
            Calls corresponding function for every CTile.

            :param other: CTileTensor to get chain index from.
            :type other: CTileTensor
            )",
           py::arg("other"))
      .def("set_chain_index", static_cast<void (CTileTensor::*)(int)>(&CTileTensor::setChainIndex),
           R"(
            Calls corresponding function for every CTile.

            :param chain_index: The required chain index.
            :type chain_index: int
            )",
           py::arg("chain_index"))
      .def("adjust_chain_index", &CTileTensor::adjustChainIndex, R"(
            Calls corresponding function for every CTile.

            :param chain_index: The required chain index.
            :type chain_index: int
            )",
           py::arg("chain_index"))
      .def("get_chain_index", &CTileTensor::getChainIndex, R"(
            Returns chain index of tiles. All tiles of a tensor share one chain index.

            :rtype: int
            )")
      .def("get_sub", returningHeld(&CTileTensor::getSub), R"(
            Returns the result of elementwise sub of this and other
            CTileTensor. Relies on CTile::sub.

            :param other: The tensor to subtract.
            :type other: CTileTensor
            :rtype: CTileTensor
            )",
           py::arg("other"))
      .def("get_sub_raw", returningHeld(&CTileTensor::getSubRaw), R"(
            Returns the result of elementwise sub of this and other
            CTileTensor. Relies on CTile::subRaw.

            :param other: The tensor to subtract.
            :type other: CTileTensor
            :rtype: CTileTensor
            )",
           py::arg("other"))
      .def("get_add_plain", returningHeld(&CTileTensor::getAddPlain), R"(
            Returns the result of elementwise add of this and other PTileTensor.

            :param plain: The tensor to add.
            :type plain: PTileTensor
            :rtype: CTileTensor
            )",
           py::arg("plain"))
      .def("get_add_plain_raw", returningHeld(&CTileTensor::getAddPlainRaw), R"(
            Returns the result of elementwise add of this and other PTileTensor, raw.

            :param plain: The tensor to add.
            :type plain: PTileTensor
            :rtype: CTileTensor
            )",
           py::arg("plain"))
      .def("get_sub_plain", returningHeld(&CTileTensor::getSubPlain), R"(
            Returns the result of elementwise sub of this and other PTileTensor.

            :param plain: The tensor to subtract.
            :type plain: PTileTensor
            :rtype: CTileTensor
            )",
           py::arg("plain"))
      .def("get_sub_plain_raw", returningHeld(&CTileTensor::getSubPlainRaw), R"(
            Returns the result of elementwise sub of this and other PTileTensor, raw.

            :param plain: The tensor to subtract.
            :type plain: PTileTensor
            :rtype: CTileTensor
            )",
           py::arg("plain"))
      .def("get_multiply_plain", returningHeld(&CTileTensor::getMultiplyPlain), R"(
            Returns the result of elementwise multiplication of this and other
            PTileTensor.

            :param plain: The tensor to multiply by.
            :type plain: PTileTensor
            :rtype: CTileTensor
            )",
           py::arg("plain"))
      .def("get_multiply_plain_raw", returningHeld(&CTileTensor::getMultiplyPlainRaw), R"(
            Returns the result of elementwise multiplication of this and other
            PTileTensor, raw.

            :param plain: The tensor to multiply by.
            :type plain: PTileTensor
            :rtype: CTileTensor
            )",
           py::arg("plain"))
      .def("get_add_scalar", returningHeld(&CTileTensor::getAddScalar), R"(
            Returns the result of elementwise add of this and the given scalar (added
            to every slot: unused slots become unknown).

            :param val: The scalar.
            :type val: float
            :rtype: CTileTensor
            )",
           py::arg("val"))
      .def("get_multiply_scalar", returningHeld(&CTileTensor::getMultiplyScalar), R"(
            Returns the result of elementwise multiplication of this and the given
            scalar.

            :param val: The scalar.
            :type val: float
            :rtype: CTileTensor
            )",
           py::arg("val"))
      .def("get_square", returningHeld(&CTileTensor::getSquare), R"(
            Returns the result of elementwise squaring of this CTileTensor.
            Relies on CTile::square.

            :rtype: CTileTensor
            )")
      .def("get_square_raw", returningHeld(&CTileTensor::getSquareRaw), R"(
            Returns the result of elementwise squaring of this CTileTensor.
            Relies on CTile::squareRaw.

            :rtype: CTileTensor
            )")
      .def("get_matrix_multiplication", returningHeld(&CTileTensor::getMatrixMultiplication), R"(
            Computes matrix-vector multiplication with other.

            If other is not diagonalized, the result is
            other.get_multiply_and_sum(self, sum_dim). If it is diagonalized, the
            product is computed from its diagonals. For example, other is a matrix of
            shape [(d)16/t1,6/t2,1/t3], self a vector of shape [16/t1*t2,1/t3], and
            the result has shape [*/t1,6/t2,1/t3]. Constraints: other is
            diagonalized; self is not diagonalized; the tile size of self's
            dimension 0 equals the product of the tile sizes of other's dimensions 0
            and 1; the original size of self's dimension 0 equals that of other's
            dimension 0; self's dimensions 1 to the last are identical to other's
            dimensions 2 to the last; sum_dim is 0.

            :param other: The matrix, encrypted or encoded.
            :type other: TileTensor
            :param sum_dim: The dimension to sum over.
            :type sum_dim: int
            :rtype: CTileTensor
            )",
           py::arg("other"), py::arg("sum_dim"))
      .def("get_multiply_and_sum", returningHeld(&CTileTensor::getMultiplyAndSum), R"(
            Returns the result of elementwise multiplication and summation between
            this and other over dimension sum_dim. See multiply_and_sum for usage
            examples.

            :param other: The tensor to multiply by.
            :type other: CTileTensor
            :param sum_dim: The dimension to sum over.
            :type sum_dim: int
            :rtype: CTileTensor
            )",
           py::arg("other"), py::arg("sum_dim"))
      .def("get_multiply_plain_and_sum", returningHeld(&CTileTensor::getMultiplyPlainAndSum), R"(
            Returns the result of elementwise multiplication and summation between
            this and other (plaintext) PTileTensor over dimension sum_dim. See
            multiply_and_sum for usage examples.

            :param other: The tensor to multiply by.
            :type other: PTileTensor
            :param sum_dim: The dimension to sum over.
            :type sum_dim: int
            :rtype: CTileTensor
            )",
           py::arg("other"), py::arg("sum_dim"))
      .def("get_relinearize", returningHeld(&CTileTensor::getRelinearize), R"(
            Returns the result of calling relinearize on every CTile.

            :rtype: CTileTensor
            )")
      .def("get_rescale", returningHeld(&CTileTensor::getRescale), R"(
            Returns the result of calling rescale on every CTile.

            :rtype: CTileTensor
            )")
      .def("get_sum_over_dim", returningHeld(&CTileTensor::getSumOverDim), R"(
            Returns the result of summing over the specified dimension.

            :param dim: The dimension to sum over.
            :type dim: int
            :rtype: CTileTensor
            )",
           py::arg("dim"))
      .def("get_sum_tiles_over_dim", returningHeld(&CTileTensor::getSumTilesOverDim), R"(
            Returns the result of summing  tiles over the specified dimension.

            :param dim: The dimension to sum over.
            :type dim: int
            :rtype: CTileTensor
            )",
           py::arg("dim"))
      .def(
          "get_sum_in_tiles_over_dim",
          [](const CTileTensor& self, int dim) {
            CTileTensor res(self);
            res.sumInTilesOverDim(dim);
            return holdResult(std::move(res));
          },
          R"(
            Returns the result of summing inside the tiles over the specified
            dimension.

            :param dim: The dimension to sum over.
            :type dim: int
            :rtype: CTileTensor
            )",
          py::arg("dim"))
      .def("get_duplicate_over_dim", returningHeld(&CTileTensor::getDuplicateOverDim), R"(
            Returns the result of duplicating the specified dimension.

            :param dim: The dimension to duplicate.
            :type dim: int
            :rtype: CTileTensor
            )",
           py::arg("dim"))
      .def("get_clear_unknowns", returningHeld(&CTileTensor::getClearUnknowns), R"(
            Returns the result of cleraing all unknowns.

            :rtype: CTileTensor
            )")
      .def("get_reduce_chain_index", returningHeld(&CTileTensor::getReduceChainIndex), R"(
            Returns the result of reducing chain indexes of every CTile.

            :rtype: CTileTensor
            )")
      .def("get_set_chain_index",
           returningHeld(static_cast<CTileTensor (CTileTensor::*)(const CTileTensor&) const>(
               &CTileTensor::getSetChainIndex)),
           R"(
            Returns the result of Calling corresponding function for every CTile.

            :param other: CTileTensor to get chain index from.
            :type other: CTileTensor
            :rtype: CTileTensor
            )",
           py::arg("other"))
      .def("get_set_chain_index",
           returningHeld(
               static_cast<CTileTensor (CTileTensor::*)(int) const>(&CTileTensor::getSetChainIndex)),
           R"(
            Returns the result of Calling corresponding function for every CTile.

            :param chain_index: The required chain index.
            :type chain_index: int
            :rtype: CTileTensor
            )",
           py::arg("chain_index"))
      .def("get_convolution", returningHeld(&CTileTensor::getConvolution), R"(
            Returns the result of appling convolution with the given parameters.
            This tensor is the image, of shape [a/1,b/1,n/s] with n<=s (rows,
            columns, and n channels inside the tile). The result has shape
            [1/1,K/1,n/s] with K = outRows*outCols*e; its tile
            (i*outCols + j)*e + m holds output row i, column j of filter m.

            :param filters: The filters to convolve with, of shape
                [c/1,d/1,e/1,*f/s] with f>=n, at this tensor's chain index.
            :type filters: CTileTensor
            :param biases: The biases to add, of shape [1/1,1/1,e/1,*g/s] with g>=n,
                one chain index below this tensor.
            :type biases: CTileTensor
            :param stride_rows: The stride along the rows (at least 1).
            :type stride_rows: int
            :param stride_cols: The stride along the columns (at least 1).
            :type stride_cols: int
            :rtype: CTileTensor
            )",
           py::arg("filters"), py::arg("biases"), py::arg("stride_rows"), py::arg("stride_cols"))
      .def("get_slice", returningHeld(&CTileTensor::getSlice), R"(
            Returns a slice of the tensor in specific dimension. Along dim, the
            slice_depth indices from start_index on are kept. Whole tiles are copied, so
            start_index must be a multiple of the dimension's tile size (0 for an
            interleaved dimension; see shift_along_dim).

            :param dim: The dimension to slice; a negative one counts from the last.
            :type dim: int
            :param start_index: The first index of the slice.
            :type start_index: int
            :param slice_depth: The number of indices in the slice (at least 1).
            :type slice_depth: int
            :rtype: CTileTensor
            )",
           py::arg("dim"), py::arg("start_index"), py::arg("slice_depth"))
      .def("get_flatten", returningHeld(&CTileTensor::getFlatten), R"(
            Returns the result of flattening the fully-duplicated dimensions from
            start_dim up to but not including end_dim (see flatten).

            :param start_dim: The first dimension to flatten.
            :type start_dim: int
            :param end_dim: The dimension after the last one to flatten.
            :type end_dim: int
            :rtype: CTileTensor
            )",
           py::arg("start_dim"), py::arg("end_dim"))
      .def("re_encrypt", &CTileTensor::reEncrypt, R"(
            Decrypt the CTileTensor and encrypts it again to bring it to top chain
            index. Requires the secret key.
            )");
}

} // namespace quorvane
