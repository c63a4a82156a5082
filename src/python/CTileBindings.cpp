#include <pybind11/pybind11.h>

#include <memory>

#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ContextLifetime.h"

namespace py = pybind11;

namespace quorvane {

void initCTileBindings(py::module_& m)
{
  BoundClass<CTile, Tile, std::shared_ptr<CTile>>(m, "CTile", R"(
    A class representing a ciphertext.
    It is called a CTile because several CTiles are usually combined to hold a
    more complicated object such as a matrix. The effect of each operation on
    the chain index is documented by the underlying encryption scheme.
    )")
      .def(py::init([](const HeContext& he) { return holdWithContext(CTile(he), he); }), R"(
            A constructor from HeContext, constructs an empty object.

            :param he: The context.
            :type he: HeContext
            )",
           py::arg("he"))
      .def(py::init(&holdCopyWithContext<CTile>), R"(
            Copy constructor.

            :param src: The CTile to copy.
            :type src: CTile
            )",
           py::arg("src"))
      .def("__copy__", &holdCopyWithContext<CTile>)
      .def("__deepcopy__", [](const CTile& self, py::dict) { return holdCopyWithContext(self); })
      .def("conjugate", &CTile::conjugate, R"(
            Conjugates contents of this CTile in place, elementwise.
            For non-complex numbers this has no effect.
            The scheme may add light-weight follow-up steps; see conjugate_raw().
            )")
      .def("conjugate_raw", &CTile::conjugateRaw, R"(
            See conjugate().
            )")
      .def("add", &CTile::add, R"(
            Add content of another ciphertext to this one, elementwise.
            The result is stored in place. The scheme may add light-weight
            follow-up steps; add_raw() is the raw addition.

            :param other: The ciphertext to add.
            :type other: CTile
            )",
           py::arg("other"))
      .def("add_raw", &CTile::addRaw, R"(
            See add().

            :param other: The ciphertext to add.
            :type other: CTile
            )",
           py::arg("other"))
      .def("add_tile", &CTile::addTile, R"(
            Calls add(CTile) or add_plain(PTile) depending on the type of other.

            :param other: The tile to add.
            :type other: Tile
            )",
           py::arg("other"))
      .def("add_tile_raw", &CTile::addTileRaw, R"(
            See add_tile(); reaches add_raw() or add_plain_raw().

            :param other: The tile to add.
            :type other: Tile
            )",
           py::arg("other"))
      .def("sub_tile", &CTile::subTile, R"(
            Calls sub(CTile) or sub_plain(PTile) depending on the type of other.

            :param other: The tile to subtract.
            :type other: Tile
            )",
           py::arg("other"))
      .def("sub_tile_raw", &CTile::subTileRaw, R"(
            See sub_tile(); reaches sub_raw() or sub_plain_raw().

            :param other: The tile to subtract.
            :type other: Tile
            )",
           py::arg("other"))
      .def("multiply_tile", &CTile::multiplyTile, R"(
            Calls multiply(CTile) or multiply_plain(PTile) depending on the type of other.

            :param other: The tile to multiply by.
            :type other: Tile
            )",
           py::arg("other"))
      .def("multiply_tile_raw", &CTile::multiplyTileRaw, R"(
            See multiply_tile(); reaches multiply_raw() or multiply_plain_raw().

            :param other: The tile to multiply by.
            :type other: Tile
            )",
           py::arg("other"))
      .def("multiply", &CTile::multiply, R"(
            Multiply another ciphertext with this one, elementwise.
            The result is stored in place. The scheme's light-weight follow-up
            steps run (relinearisation and rescaling in CKKS); multiply_raw()
            is the raw operation.

            :param other: The ciphertext to multiply by.
            :type other: CTile
            )",
           py::arg("other"))
      .def("multiply_raw", &CTile::multiplyRaw, R"(
            See multiply().

            :param other: The ciphertext to multiply by.
            :type other: CTile
            )",
           py::arg("other"))
      .def(
          "get_multiply",
          [](const CTile& self, const CTile& other) {
            return holdWithContext(self.getMultiply(other), self.getHeContext());
          },
          R"(
            Returns the product of this and other as a new tile; this tile is not
            changed. Relies on CTile::multiply().

            :param other: The ciphertext to multiply by.
            :type other: CTile
            :rtype: CTile
            )",
          py::arg("other"))
      .def("sub", &CTile::sub, R"(
            Subtract the content of another CTile from this one, element-wise.
            The raw operation is sub_raw().

            :param other: The ciphertext to subtract.
            :type other: CTile
            )",
           py::arg("other"))
      .def("sub_raw", &CTile::subRaw, R"(
            See sub().

            :param other: The ciphertext to subtract.
            :type other: CTile
            )",
           py::arg("other"))
      .def("add_plain", &CTile::addPlain, R"(
            Add content of another PTile to this one, elementwise.
            The raw operation is add_plain_raw().

            :param other: The plaintext to add.
            :type other: PTile
            )",
           py::arg("other"))
      .def("add_plain_raw", &CTile::addPlainRaw, R"(
            See add_plain().

            :param other: The plaintext to add.
            :type other: PTile
            )",
           py::arg("other"))
      .def("sub_plain", &CTile::subPlain, R"(
            Subtracts a PTile from this ciphertext elementwise, in place.
            The raw operation is sub_plain_raw().

            :param other: The plaintext to subtract.
            :type other: PTile
            )",
           py::arg("other"))
      .def("sub_plain_raw", &CTile::subPlainRaw, R"(
            See sub_plain().

            :param other: The plaintext to subtract.
            :type other: PTile
            )",
           py::arg("other"))
      .def("multiply_plain", &CTile::multiplyPlain, R"(
            Multiplies this ciphertext by a PTile elementwise, in place.
            The raw operation is multiply_plain_raw().

            :param other: The plaintext to multiply by.
            :type other: PTile
            )",
           py::arg("other"))
      .def("multiply_plain_raw", &CTile::multiplyPlainRaw, R"(
            See multiply_plain().

            :param other: The plaintext to multiply by.
            :type other: PTile
            )",
           py::arg("other"))
      .def("square", &CTile::square, R"(
            squares contents of this CTile in place, elementwise.
            The raw operation is square_raw().
            )")
      .def("square_raw", &CTile::squareRaw, R"(
            See square().
            )")
      .def("rotate", &CTile::rotate, R"(
            Rotate left.
            For an offset of n, the element at slots 10 will move to slot 10-n.
            The first n elements are rotated back to be last.

            :param n: The offset; negative values rotate right.
            :type n: int
            )",
           py::arg("n").noconvert())
      .def("multiply_by_chainging_scale", &CTile::multiplyByChangingScale, R"(
            Multiplies every slot by factor by changing only the scale attached to
            the ciphertext. Very fast, but not available for every scheme, and may
            cause mismatching scales in later operations.

            :param factor: The factor.
            :type factor: float
            :raises RuntimeError: if not supported.
            )",
           py::arg("factor"))
      .def("add_scalar", py::overload_cast<double>(&CTile::addScalar), R"(
            Adds a double scalar value to all slots in this ciphertext.

            :param scalar: The value to add.
            :type scalar: float
            )",
           py::arg("scalar"))
      .def("add_scalar", py::overload_cast<int>(&CTile::addScalar), R"(
            Adds an integer scalar value to all slots in this ciphertext.

            :param scalar: The value to add.
            :type scalar: int
            )",
           py::arg("scalar").noconvert())
      // The integer overload takes only true integers, so any other number
      // reaches the double overload instead of being truncated.
      .def("multiply_scalar", py::overload_cast<int>(&CTile::multiplyScalar), R"(
            Multiplies all slots in this ciphertext with an integer scalar value.

            :param scalar: The factor.
            :type scalar: int
            )",
           py::arg("scalar").noconvert())
      .def("multiply_scalar", py::overload_cast<double>(&CTile::multiplyScalar), R"(
            Multiplies all slots in this ciphertext with a double scalar value.

            :param scalar: The factor.
            :type scalar: float
            )",
           py::arg("scalar"))
      .def("multiply_imaginary_unit", &CTile::multiplyImaginaryUnit, R"(
            Multiplies all slots in this ciphertext with the imaginary unit (i).
            )")
      .def("nullify_imaginary_part", &CTile::nullifyImaginaryPart, R"(
            Nullify the imaginary part of each slot in this ciphertext.
            )")
      .def("relinearize", &CTile::relinearize, R"(
            Relinearisation, reducing the size of the ciphertext after a
            multiplication; multiply() does it when needed.
            Ignored if not needed or not supported.
            )")
      .def("rescale", &CTile::rescale, R"(
            Rescaling, reducing the ciphertext's modulus bits and its attached
            scale; multiply() does it. Ignored if not needed or not supported.
            The scheme may add light-weight follow-up steps; see rescale_raw().
            )")
      .def("rescale_raw", &CTile::rescaleRaw, R"(
            See rescale().
            )")
      .def("negate", &CTile::negate, R"(
            Negates content of this ciphertext.
            )")
      .def("inner_sum", &CTile::innerSum, R"(
            Computes the inner sum of some of the ciphertext's slots, by repeated
            rotations and additions: with the rotations rot1, 2*rot1, 4*rot1 and so
            on while below rot2. Used by higher-level algorithms.

            :param rot1: The first rotation.
            :type rot1: int
            :param rot2: The bound of the rotations.
            :type rot2: int
            :param reverse: Flips every rotation (left to right and back).
            :type reverse: bool
            )",
           py::arg("rot1").noconvert(), py::arg("rot2").noconvert(), py::arg("reverse") = false)
      .def("sum_exp_by_squaring_left_to_right", &CTile::sumExpBySquaringLeftToRight, R"(
            Sums n slots of this ciphertext: afterwards slot i holds the sum of
            slots i to i+n-1, indices cyclic.
            Summation is done similar to left-to-right repeated squaring algorithm.

            :param n: The number of slots summed.
            :type n: int
            )",
           py::arg("n").noconvert())
      .def("sum_exp_by_squaring_right_to_left", &CTile::sumExpBySquaringRightToLeft, R"(
            Sums n slots of this ciphertext: afterwards slot i holds the sum of
            slots i to i+n-1, indices cyclic.
            Summation is done similar to right-to-left repeated squaring algorithm.

            :param n: The number of slots summed.
            :type n: int
            )",
           py::arg("n").noconvert())
      .def("to_device", &Tile::toDevice, R"(
            Move this CTile to another device.

            :param device: The target device.
            :type device: DeviceType
            )",
           py::arg("device"))
      .def("get_current_device", &Tile::getCurrentDevice, R"(
            Returns the current device of this CTile.

            :rtype: DeviceType
            )")
      .def("is_empty", &CTile::isEmpty, R"(
            Returns true if this CTile does not include an encryption of any value,
            and false otherwise.

            :rtype: bool
            )");
}

} // namespace quorvane
