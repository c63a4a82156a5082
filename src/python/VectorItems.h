#ifndef QUORVANE_PYTHON_VECTORITEMS_H
#define QUORVANE_PYTHON_VECTORITEMS_H

#include <string>
#include <vector>

#include <pybind11/pybind11.h>

namespace quorvane {

/// Copies of the items of an iterable that Python puts into the bound vector
/// type vectorName, converted before anything is stored. An item that is not
/// a T (None included) is refused with TypeError "Cannot put item <i> of type
/// <type> into a <vectorName>: expected a <T's Python name>".
template <typename T>
std::vector<T> vectorItemsOf(const pybind11::iterable& items, const char* vectorName)
{
  std::vector<T> res;
  for (pybind11::handle item : items) {
    if (!pybind11::isinstance<T>(item)) {
      const pybind11::handle expected = pybind11::type::of<T>();
      throw pybind11::type_error(
          "Cannot put item " + std::to_string(res.size()) + " of type " +
          pybind11::str(pybind11::type::handle_of(item).attr("__name__")).cast<std::string>() +
          " into a " + vectorName + ": expected a " +
          expected.attr("__name__").cast<std::string>());
    }
    res.push_back(item.cast<const T&>());
  }
  return res;
}

} // namespace quorvane

#endif
