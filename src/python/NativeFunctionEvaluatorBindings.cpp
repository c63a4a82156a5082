#include <pybind11/pybind11.h>
#include <pybind11/typing.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "math/NativeFunctionEvaluator.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/CTileVector.h"
#include "python/ContextLifetime.h"

namespace py = pybind11;

namespace quorvane {

namespace {

typedef std::vector<CTile> CTileVector;

/// A Python index (negative from the end) as a position in v; IndexError outside.
size_t position(const CTileVector& v, py::ssize_t i)
{
  py::ssize_t n = static_cast<py::ssize_t>(v.size());
  if (i < 0)
    i += n;
  if (i < 0 || i >= n)
    throw py::index_error();
  return static_cast<size_t>(i);
}

/// A new Python CTile holding a copy of the element.
std::shared_ptr<CTile> copyOut(const CTile& tile) { return holdCopyWithContext(tile); }

/// The Python object that holds the list (every list a member sees has one).
py::object ownerOf(CTileVector& v) { return py::cast(&v, py::return_value_policy::reference); }

/// Stores a copy of the tile in the list, keeping its context alive with the list.
void copyIn(CTileVector& v, size_t at, const CTile& tile)
{
  keepContextAlive(ownerOf(v), tile.getHeContext());
  v.insert(v.begin() + at, tile);
}

/// The tiles of an iterable, converted before anything is stored.
CTileVector tilesOf(const py::iterable& items)
{
  CTileVector tiles;
  for (py::handle item : items)
    tiles.push_back(item.cast<const CTile&>());
  return tiles;
}

void appendAll(CTileVector& v, const CTileVector& tiles)
{
  v.reserve(v.size() + tiles.size());
  for (const CTile& t : tiles)
    copyIn(v, v.size(), t);
}

/// Constructs the list of a new Python CTileVector from tiles, keeping their
/// contexts alive with it.
void constructWith(py::detail::value_and_holder& self, CTileVector tiles)
{
  py::handle instance(reinterpret_cast<PyObject*>(self.inst));
  for (const CTile& t : tiles)
    keepContextAlive(instance, t.getHeContext());
  py::detail::initimpl::construct<py::class_<CTileVector>>(
      self, std::make_unique<CTileVector>(std::move(tiles)), false);
}

/// Iterates over a list by position, yielding copies; the list stays alive
/// while the iterator lives, and changes to it are seen.
struct CTileVectorIterator
{
  py::object owner;
  size_t next = 0;
};

void initCTileVectorBindings(py::module_& m)
{
  BoundClass<CTileVectorIterator>(py::handle(), "iterator", py::module_local())
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", [](CTileVectorIterator& it) {
        const CTileVector& v = it.owner.cast<const CTileVector&>();
        if (it.next >= v.size())
          throw py::stop_iteration();
        return copyOut(v[it.next++]);
      });

  // The members, their order and their docstrings are those of the
  // framework's vector binding; reads and insertions copy the tiles.
  BoundClass<CTileVector>(m, "CTileVector", "A vector (list) of CTile objects.")
      .def(py::init<>())
      .def(
          "__init__",
          [](py::detail::value_and_holder& self, const CTileVector& src) {
            constructWith(self, CTileVector(src));
          },
          py::detail::is_new_style_constructor(), "Copy constructor")
      .def(
          "__repr__",
          [](const CTileVector& v) {
            std::ostringstream out;
            out << "CTileVector[";
            for (size_t i = 0; i < v.size(); ++i)
              out << (i > 0 ? ", " : "") << v[i];
            out << "]";
            return out.str();
          },
          "Return the canonical string representation of this list.")
      .def(
          "append", [](CTileVector& v, const CTile& x) { copyIn(v, v.size(), x); }, py::arg("x"),
          "Add an item to the end of the list")
      .def(
          "__init__",
          [](py::detail::value_and_holder& self, const py::iterable& items) {
            constructWith(self, tilesOf(items));
          },
          py::detail::is_new_style_constructor())
      .def(
          "clear", [](CTileVector& v) { v.clear(); }, "Clear the contents")
      .def(
          "extend",
          [](CTileVector& v, const CTileVector& other) {
            // Copied first: other may be this very list.
            CTileVector tiles(other);
            appendAll(v, tiles);
          },
          py::arg("L"), "Extend the list by appending all the items in the given list")
      .def(
          "extend",
          // Every item is converted before anything is stored.
          [](CTileVector& v, const py::iterable& items) { appendAll(v, tilesOf(items)); },
          py::arg("L"), "Extend the list by appending all the items in the given list")
      .def(
          "insert",
          [](CTileVector& v, py::ssize_t i, const CTile& x) {
            py::ssize_t n = static_cast<py::ssize_t>(v.size());
            if (i < 0)
              i += n;
            if (i < 0 || i > n)
              throw py::index_error();
            copyIn(v, static_cast<size_t>(i), x);
          },
          py::arg("i"), py::arg("x"), "Insert an item at a given position.")
      .def(
          "pop",
          [](CTileVector& v) {
            if (v.empty())
              throw py::index_error();
            std::shared_ptr<CTile> res = copyOut(v.back());
            v.pop_back();
            return res;
          },
          "Remove and return the last item")
      .def(
          "pop",
          [](CTileVector& v, py::ssize_t i) {
            size_t at = position(v, i);
            std::shared_ptr<CTile> res = copyOut(v[at]);
            v.erase(v.begin() + at);
            return res;
          },
          py::arg("i"), "Remove and return the item at index ``i``")
      .def("__setitem__",
           [](CTileVector& v, py::ssize_t i, const CTile& x) {
             size_t at = position(v, i);
             keepContextAlive(ownerOf(v), x.getHeContext());
             v[at] = x;
           })
      .def(
          "__getitem__",
          [](const CTileVector& v, const py::slice& s) {
            size_t start = 0, stop = 0, step = 0, length = 0;
            if (!s.compute(v.size(), &start, &stop, &step, &length))
              throw py::error_already_set();
            auto res = std::make_unique<CTileVector>();
            res->reserve(length);
            for (size_t k = 0; k < length; ++k, start += step)
              res->push_back(v[start]);
            return res;
          },
          py::arg("s"), "Retrieve list elements using a slice object")
      .def(
          "__setitem__",
          [](CTileVector& v, const py::slice& s, const CTileVector& value) {
            size_t start = 0, stop = 0, step = 0, length = 0;
            if (!s.compute(v.size(), &start, &stop, &step, &length))
              throw py::error_already_set();
            if (length != value.size())
              throw std::runtime_error(
                  "Left and right hand size of slice assignment have different sizes!");
            CTileVector tiles(value);
            for (size_t k = 0; k < length; ++k, start += step) {
              keepContextAlive(ownerOf(v), tiles[k].getHeContext());
              v[start] = std::move(tiles[k]);
            }
          },
          "Assign list elements using a slice object")
      .def(
          "__delitem__",
          [](CTileVector& v, py::ssize_t i) { v.erase(v.begin() + position(v, i)); },
          "Delete the list elements at index ``i``")
      .def(
          "__delitem__",
          [](CTileVector& v, const py::slice& s) {
            size_t start = 0, stop = 0, step = 0, length = 0;
            if (!s.compute(v.size(), &start, &stop, &step, &length))
              throw py::error_already_set();
            // Later positions first, so the earlier ones stay where they are.
            std::vector<size_t> positions;
            for (size_t k = 0; k < length; ++k, start += step)
              positions.push_back(start);
            std::sort(positions.rbegin(), positions.rend());
            for (size_t at : positions)
              v.erase(v.begin() + at);
          },
          "Delete list elements using a slice object")
      .def("__getitem__",
           [](const CTileVector& v, py::ssize_t i) { return copyOut(v[position(v, i)]); })
      .def("__iter__",
           [](CTileVector& v) {
             // The iterator holds the list's own Python object.
             return py::typing::Iterator<CTile>(py::cast(CTileVectorIterator{ownerOf(v), 0}));
           })
      .def(
          "__bool__", [](const CTileVector& v) { return !v.empty(); },
          "Check whether the list is nonempty")
      .def("__len__", [](const CTileVector& v) { return v.size(); });
}

} // namespace

void initNativeFunctionEvaluatorBindings(py::module_& m)
{
  initCTileVectorBindings(m);

  BoundClass<NativeFunctionEvaluator>(m, "NativeFunctionEvaluator", R"(
    Holds functions supplied directly by the underlying schemes, obtained
    from the context. No context of this library supplies any yet.
    )")
      .def(py::init<const HeContext&>(), py::keep_alive<1, 2>(), R"(
            A constructor from HeContext, constructs an empty object.

            :param he: The heContext.
            :type he: HeContext
            )",
           py::arg("he"))
      .def("power_in_place", &NativeFunctionEvaluator::powerInPlace, R"(
            Raises every slot in given CTile to the power of p, in place.

            :param c: CTile to work on.
            :type c: CTile
            :param p: power to raise by.
            :type p: int
            )",
           py::arg("c"), py::arg("p"))
      .def(
          "total_product",
          [](NativeFunctionEvaluator& self, const std::vector<CTile>& v, const HeContext& he) {
            if (v.empty())
              throw std::invalid_argument("Empty multiplicands vector");
            CTile result(he);
            self.totalProduct(result, v);
            return holdWithContext(std::move(result), he);
          },
          R"(
            Computes the elementwise product of the given CTiles in a
            depth-efficient manner.

            :param v: The CTiles to multiply.
            :type v: CTileVector
            :param he: The context.
            :type he: HeContext
            :return: The product.
            :rtype: CTile
            )",
          py::arg("v"), py::arg("he"));
}

} // namespace quorvane
