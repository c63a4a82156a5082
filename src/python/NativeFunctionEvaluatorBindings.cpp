#include <pybind11/pybind11.h>

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

/// Stores a copy of the tile in the list held by self, keeping its context alive.
void copyIn(py::handle self, CTileVector& v, size_t at, const CTile& tile)
{
  keepContextAlive(self, tile.getHeContext());
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

void appendAll(py::handle self, CTileVector& v, const CTileVector& tiles)
{
  v.reserve(v.size() + tiles.size());
  for (const CTile& t : tiles)
    copyIn(self, v, v.size(), t);
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

  BoundClass<CTileVector>(m, "CTileVector", "A vector (list) of CTile objects.")
      .def(py::init<>())
      .def(
          "__init__",
          [](py::detail::value_and_holder& self, const CTileVector& src) {
            constructWith(self, CTileVector(src));
          },
          py::detail::is_new_style_constructor(), "Copy constructor: copies every tile.")
      .def("__repr__",
           [](const CTileVector& v) {
             std::ostringstream out;
             out << "CTileVector[";
             for (size_t i = 0; i < v.size(); ++i)
               out << (i > 0 ? ", " : "") << v[i];
             out << "]";
             return out.str();
           })
      .def(
          "append",
          [](py::object self, const CTile& x) {
            CTileVector& v = self.cast<CTileVector&>();
            copyIn(self, v, v.size(), x);
          },
          "Adds a copy of the tile at the end.", py::arg("x"))
      .def(
          "__init__",
          [](py::detail::value_and_holder& self, const py::iterable& items) {
            constructWith(self, tilesOf(items));
          },
          py::detail::is_new_style_constructor(),
          "Makes a list of copies of the tiles of an iterable.")
      .def(
          "clear", [](CTileVector& v) { v.clear(); }, "Removes all tiles.")
      .def(
          "extend",
          [](py::object self, const CTileVector& other) {
            // Copied first: other may be this very list.
            CTileVector tiles(other);
            appendAll(self, self.cast<CTileVector&>(), tiles);
          },
          "Appends copies of all tiles of the list.", py::arg("L"))
      .def(
          "extend",
          [](py::object self, const py::iterable& items) {
            appendAll(self, self.cast<CTileVector&>(), tilesOf(items));
          },
          "Appends copies of all tiles of an iterable; nothing when one item is no tile.",
          py::arg("L"))
      .def(
          "insert",
          [](py::object self, py::ssize_t i, const CTile& x) {
            CTileVector& v = self.cast<CTileVector&>();
            py::ssize_t n = static_cast<py::ssize_t>(v.size());
            if (i < 0)
              i += n;
            if (i < 0 || i > n)
              throw py::index_error();
            copyIn(self, v, static_cast<size_t>(i), x);
          },
          "Inserts a copy of the tile before position i.", py::arg("i"), py::arg("x"))
      .def(
          "pop",
          [](CTileVector& v) {
            if (v.empty())
              throw py::index_error();
            std::shared_ptr<CTile> res = copyOut(v.back());
            v.pop_back();
            return res;
          },
          "Removes and returns the last tile.")
      .def(
          "pop",
          [](CTileVector& v, py::ssize_t i) {
            size_t at = position(v, i);
            std::shared_ptr<CTile> res = copyOut(v[at]);
            v.erase(v.begin() + at);
            return res;
          },
          "Removes and returns the tile at position i.", py::arg("i"))
      .def("__setitem__",
           [](py::object self, py::ssize_t i, const CTile& x) {
             CTileVector& v = self.cast<CTileVector&>();
             size_t at = position(v, i);
             keepContextAlive(self, x.getHeContext());
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
          "A new list of copies of the tiles of a slice.", py::arg("s"))
      .def(
          "__setitem__",
          [](py::object self, const py::slice& s, const CTileVector& value) {
            CTileVector& v = self.cast<CTileVector&>();
            size_t start = 0, stop = 0, step = 0, length = 0;
            if (!s.compute(v.size(), &start, &stop, &step, &length))
              throw py::error_already_set();
            if (length != value.size())
              throw std::runtime_error(
                  "Left and right hand size of slice assignment have different sizes!");
            CTileVector tiles(value);
            for (size_t k = 0; k < length; ++k, start += step) {
              keepContextAlive(self, tiles[k].getHeContext());
              v[start] = std::move(tiles[k]);
            }
          },
          "Replaces the tiles of a slice by copies of the tiles of a list of the same length.")
      .def("__delitem__",
           [](CTileVector& v, py::ssize_t i) { v.erase(v.begin() + position(v, i)); })
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
          "Deletes the tiles of a slice.")
      .def("__getitem__",
           [](const CTileVector& v, py::ssize_t i) { return copyOut(v[position(v, i)]); })
      .def("__iter__",
           [](CTileVector& v) {
             // The iterator holds the list's own Python object.
             return CTileVectorIterator{py::cast(&v, py::return_value_policy::reference), 0};
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
    Functions supplied directly by the underlying scheme, obtained from the
    context. No context of this library supplies any yet.
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
