#ifndef QUORVANE_MATH_DOUBLETENSOR_H
#define QUORVANE_MATH_DOUBLETENSOR_H

#include <cstddef>
#include <iostream>
#include <string>
#include <vector>

#include "hebase/utils/Assert.h"
#include "hebase/utils/Printable.h"

namespace quorvane {

class DoubleTensorImpl;

/// A dense tensor of doubles with value semantics. Storage order is
/// column-major (the first index fastest); flat vectors passed in or out are
/// in storage order when storageOrder is true, in row-major order otherwise.
class DoubleTensor
{
public:
  /// An empty tensor: order 0, size 0, shape [].
  DoubleTensor();
  /// A zero tensor of the shape (see DoubleTensorImpl for what is refused).
  explicit DoubleTensor(const std::vector<int>& shape);
  DoubleTensor(const DoubleTensor& other);
  /// Takes the source's values over and leaves it empty; never fails.
  DoubleTensor(DoubleTensor&& other) noexcept;
  DoubleTensor& operator=(const DoubleTensor& other);
  DoubleTensor& operator=(DoubleTensor&& other) noexcept;
  ~DoubleTensor();

  int getOrder() const;
  int size() const;
  int getDimSize(int dim) const;
  std::vector<int> getShape() const;

  /// Element at flat (storage-order) index i; range-checked for order 1 only.
  double& at(int i);
  const double& at(int i) const;

  /// Element at indices (i, j, ...).
  template <typename... Is>
  double& at(int i, Is... is)
  {
    if (getOrder() == 1)
      QV_ASSERT(sizeof...(is) == 0);
    const int indices[] = {i, static_cast<int>(is)...};
    return atIndices(indices, sizeof...(is) + 1);
  }

  template <typename... Is>
  const double& at(int i, Is... is) const
  {
    return const_cast<DoubleTensor&>(*this).at(i, is...);
  }

  /// Changes the shape; values keep their flat positions. Without allowResize
  /// the element count must stay the same.
  void reshape(const std::vector<int>& shape, bool allowResize);
  void fill(double value);

  /// Copies vals (of size() elements) into the tensor.
  void init(const std::vector<double>& vals, bool storageOrder);
  /// Takes the shape and then the values; on failure the tensor is unchanged.
  void init(const std::vector<int>& shape, const std::vector<double>& vals, bool storageOrder);
  /// Takes the shape with every element set to value.
  void init(const std::vector<int>& shape, double value);

  /// All elements as a flat vector in the requested order.
  std::vector<double> getVals(bool storageOrder) const;
  /// The shape as "[2,3]".
  std::string getShapeAsString() const;

  /// Adds x to every element.
  void addScalar(double x);

  /// Compares element by element and returns the mean squared error. With eps
  /// >= 0 an element differing by more than eps (relatively when relative is
  /// set), or NaN, is reported on standard output and refused.
  double assertEquals(const DoubleTensor& other, const std::string& title, double eps,
                      bool relative = false) const;
  /// Throws std::invalid_argument unless the shapes agree (ignoring ignoreDim).
  void assertShapeEquals(const DoubleTensor& other, const std::string& title,
                         int ignoreDim = -1) const;

  /// The title, the shape and (unless VERBOSITY_NONE) the values.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const;
  /// A table of two chosen dimensions, or the general print when none fit.
  void printAs2dArray(std::ostream& out = std::cout, bool withHeader = true) const;
  /// A table of an order-2 tensor.
  void print2dTensor(std::ostream& out = std::cout, bool withHeader = true) const;

  /// Writes the dimension count, the shape and the values in storage order.
  std::streamoff save(std::ostream& out) const;
  /// Reads what save wrote; on failure the tensor is unchanged.
  std::streamoff load(std::istream& in);

  /// The storage; its declaration is in math/DoubleTensorImpl.h.
  DoubleTensorImpl& getImpl();
  const DoubleTensorImpl& getImpl() const;

  /// Flat storage, size() elements.
  double* data();
  const double* data() const;

private:
  double& atIndices(const int* indices, int count);

  // Holds exactly one DoubleTensorImpl, kept out of this header.
  static constexpr size_t IMPL_SIZE = 128;
  alignas(alignof(std::max_align_t)) unsigned char implStorage[IMPL_SIZE];
};

/// "[" entries joined by "," "]"; an entry equal to anyValue is written "any".
std::string shapeToString(const std::vector<int>& shape, int anyValue);

/// A list under the global print options' head and tail counts; bracketed, or
/// with " [i]=" before every element when indexed.
void printIntVector(std::ostream& out, const std::vector<int>& v, bool indexed);
/// The same for doubles, in the stream's format.
void printDoubleVector(std::ostream& out, const std::vector<double>& v, bool indexed);
std::string intVectorToString(const std::vector<int>& v, bool indexed);

/// The two dimensions (or one) that a 2-D display of the shape uses; empty when
/// more than two dimensions are larger than 1.
std::vector<int> get2dArrayDims(const std::vector<int>& shape);
/// Indices of the entries larger than 1, ascending.
std::vector<int> getNonTrivialDims(const std::vector<int>& shape);

} // namespace quorvane

#endif
