#ifndef QUORVANE_PYTHON_TTSHAPEVIEWS_H
#define QUORVANE_PYTHON_TTSHAPEVIEWS_H

#include <functional>

namespace quorvane {

class TTShape;

/// Applies a change to a shape held by Python. The views that get_dim hands out
/// point into the shape's list of dimensions, which the library's shape
/// operations may replace. While a view is alive the change is made on a copy:
/// one that keeps the number of dimensions is copied back into the same list, so
/// the views see it; one that changes the list leaves the old list alive with the
/// views, which are stale from then on but never reach freed memory. A change
/// that throws leaves the shape as it was.
void changeShape(TTShape& shape, const std::function<void(TTShape&)>& change);

} // namespace quorvane

#endif
