#include "python/TTShapeViews.h"

#include <pybind11/pybind11.h>

#include <typeinfo>
#include <vector>

#include "math/TTShape.h"

namespace py = pybind11;

namespace quorvane {

void changeShape(TTShape& shape, const std::function<void(TTShape&)>& change)
{
  // The Python objects that refer to the shape's dimensions in place.
  std::vector<py::handle> views;
  const py::detail::type_info* dimType = py::detail::get_type_info(typeid(TTDim));
  for (int i = 0; dimType != nullptr && i < shape.getNumDims(); ++i) {
    py::handle view = py::detail::get_object_handle(&shape.getDim(i), dimType);
    if (view)
      views.push_back(view);
  }
  if (views.empty()) {
    change(shape);
    return;
  }
  TTShape updated(shape);
  change(updated);
  if (updated.getNumDims() == shape.getNumDims()) {
    // A copy assignment keeps the list's storage, hence the views.
    shape = updated;
    return;
  }
  TTShape* previous = new TTShape();
  py::capsule storage(previous, [](void* p) { delete static_cast<TTShape*>(p); });
  *previous = std::move(shape);
  shape = std::move(updated);
  for (py::handle view : views)
    py::detail::keep_alive_impl(view, storage);
}

} // namespace quorvane
