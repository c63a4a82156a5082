#ifndef QUORVANE_MATH_DOUBLETENSORIMPL_H
#define QUORVANE_MATH_DOUBLETENSORIMPL_H

#include <cstddef>
#include <ostream>
#include <vector>

// Boost 1.74's tensor headers write BOOST_UBLAS_INLINE before templates, which
// does not compile when uBLAS defines it as "inline" (NDEBUG builds); uBLAS
// itself leaves it empty in debug builds.
#ifndef BOOST_UBLAS_INLINE
#define BOOST_UBLAS_INLINE
#endif
#include <boost/numeric/ublas/tensor/tensor.hpp>

#include "hebase/utils/Assert.h"

namespace quorvane {

/// Storage and shape of a dense tensor of doubles. Order 2 and more lives in a
/// first-order (column-major) uBLAS tensor; order 1 in a plain vector, since
/// uBLAS extents need at least two entries.
class DoubleTensorImpl
{
public:
  using Tensor = boost::numeric::ublas::tensor<double, boost::numeric::ublas::first_order>;

  /// An empty tensor: order 0, size 0.
  DoubleTensorImpl();
  /// A zero tensor of the shape. Refuses an empty shape, a 0 among two or more
  /// entries, negative entries and element counts beyond int (std::length_error).
  explicit DoubleTensorImpl(const std::vector<int>& shape);
  DoubleTensorImpl(const DoubleTensorImpl& other);
  /// Takes the source's storage over, leaving it empty; keeps its order-1 flag.
  DoubleTensorImpl(DoubleTensorImpl&& other) noexcept;
  DoubleTensorImpl& operator=(const DoubleTensorImpl& other);
  DoubleTensorImpl& operator=(DoubleTensorImpl&& other) noexcept;
  ~DoubleTensorImpl();

  /// 1 for order 1, else the number of extents (0 when empty).
  int getOrder() const;
  /// The number of elements.
  int size() const;
  /// The extent of dim.
  int getDimSize(int dim) const;
  std::vector<int> getShape() const;

  /// Element at flat (storage-order) index i; range-checked for order 1 only.
  double& at(int i) { return isOrder1 ? order1Values.at(i) : tensor[i]; }
  const double& at(int i) const { return isOrder1 ? order1Values.at(i) : tensor[i]; }

  /// Element at indices (i, j, ...): the sum of index times stride.
  template <typename... Is>
  double& at(int i, Is... is)
  {
    return const_cast<double&>(static_cast<const DoubleTensorImpl&>(*this).at(i, is...));
  }

  template <typename... Is>
  const double& at(int i, Is... is) const
  {
    if (isOrder1) {
      QV_ASSERT(sizeof...(is) == 0);
      return order1Values.at(i);
    }
    const size_t indices[] = {static_cast<size_t>(i), static_cast<size_t>(is)...};
    const auto& strides = tensor.strides();
    size_t flat = 0;
    for (size_t k = 0; k < sizeof...(is) + 1; ++k)
      flat += indices[k] * strides[k];
    return tensor[flat];
  }

  /// Flat storage, size() elements.
  double* data() { return isOrder1 ? order1Values.data() : tensor.data(); }
  const double* data() const { return isOrder1 ? order1Values.data() : tensor.data(); }

  /// Changes the shape; values keep their flat positions. Without allowResize
  /// the element count must stay the same.
  void reshape(const std::vector<int>& shape, bool allowResize);

  /// Sets every element to value.
  void fill(double value);

  /// Whether the values are held in the order-1 vector.
  bool isOrder1Tensor() const { return isOrder1; }

  /// Order 1: the values as a list; order 2 and more: the uBLAS tensor print.
  friend std::ostream& operator<<(std::ostream& out, const DoubleTensorImpl& t);

private:
  Tensor tensor;
  std::vector<double> order1Values;
  bool isOrder1 = false;
};

} // namespace quorvane

#endif
