#include <pybind11/pybind11.h>

#include <memory>

#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/Tile.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ContextLifetime.h"

namespace py = pybind11;

namespace quorvane {

void initTileBindings(py::module_& m)
{
  BoundClass<Tile, Saveable, std::shared_ptr<Tile>>(m, "Tile", R"(
    A tile is a vector of numbers, either encrypted (CTile) or encoded (PTile).
    )")
      .def("set_scale", &Tile::setScale, R"(
            Sets the attached meta data scale of the plaintext / ciphertext.
            This may change the way its content are interpreted.

            :param scale: The new scale.
            :type scale: float
            :raises RuntimeError: if not supported by the underlying library.
            )",
           py::arg("scale"))
      .def("get_scale", &Tile::getScale, R"(
            Returns the attached meta data scale of the plaintext / ciphertext.

            :rtype: float
            )")
      .def("reduce_chain_index", &Tile::reduceChainIndex, R"(
            Reduces the chain-index property of the plaintext / ciphertext by 1.
            Ignored if not supported.

            :raises RuntimeError: if the chain index is already at its lowest value.
            )")
      .def("set_chain_index", &Tile::setChainIndex, R"(
            Sets the chain-index property of this object to equal the specified value.
            The value may only be lower than or equal to the current chain index.
            Ignored if not supported.

            :param chain_index: The new chain index.
            :type chain_index: int
            :raises RuntimeError: if the value is out of range.
            )",
           py::arg("chain_index").noconvert())
      .def("get_chain_index", &Tile::getChainIndex, R"(
            Returns the chain-index property of the plaintext / ciphertext, a
            non-negative integer. Returns a negative value if not supported.

            :rtype: int
            )")
      .def("slot_count", &Tile::slotCount, R"(
            This method returns the number of slots in this object.

            :rtype: int
            )");
}

void initPTileBindings(py::module_& m)
{
  BoundClass<PTile, Tile, std::shared_ptr<PTile>>(m, "PTile", R"(
    A class representing an encoded (unencrypted) plaintext.
    It is called a PTile because several PTiles are usually combined to hold a
    more complicated object such as a matrix.
    )")
      .def(py::init([](const HeContext& he) { return holdWithContext(PTile(he), he); }), R"(
            A constructor from HeContext, constructs an empty object.

            :param he: The context.
            :type he: HeContext
            )",
           py::arg("he"))
      .def(py::init(&holdCopyWithContext<PTile>), R"(
            Copy constructor.

            :param src: The PTile to copy.
            :type src: PTile
            )",
           py::arg("src"))
      .def("to_device", &Tile::toDevice, R"(
            Move this PTile to another device.

            :param device: The target device.
            :type device: DeviceType
            )",
           py::arg("device"))
      .def("get_current_device", &Tile::getCurrentDevice, R"(
            Returns the current device of this PTile.

            :rtype: DeviceType
            )")
      .def("is_all_zeroes", &PTile::isAllZeroes, R"(
            Returns true if this PTile encodes all zeroes plaintext, and false otherwise.

            :rtype: bool
            )")
      .def("__copy__", &holdCopyWithContext<PTile>)
      .def("__deepcopy__", [](const PTile& self, py::dict) { return holdCopyWithContext(self); });
}

} // namespace quorvane
