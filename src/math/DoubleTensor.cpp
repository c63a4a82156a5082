#include "math/DoubleTensor.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iomanip>
#include <new>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/PrintUtils.h"
#include "math/DoubleTensorImpl.h"
#include "math/MathUtils.h"
#include "math/TensorIterator.h"

namespace quorvane {

namespace {

// Values are read in blocks so that a corrupt count cannot allocate more than the stream holds.
constexpr int LOAD_BLOCK = 1 << 16;

template <typename T>
void printList(std::ostream& out, const std::vector<T>& v, bool indexed)
{
  const int64_t count = static_cast<int64_t>(v.size());
  const PrintedElements shown = PrintUtils::printedElements(count);
  if (!indexed)
    out << "[";
  for (int64_t i = 0; i < shown.headEnd; ++i) {
    if (i > 0)
      out << (indexed ? " " : ",");
    if (indexed)
      out << " [" << i << "]=";
    out << v[i];
  }
  if (shown.hasGap())
    out << " ... ";
  for (int64_t i = shown.tailStart; i < count; ++i) {
    if (i > 0)
      out << " ";
    if (indexed)
      out << " [" << i << "]=";
    out << v[i];
  }
  if (!indexed)
    out << "]";
}

// Checks a shape read from a stream before anything is allocated for it;
// returns its element count.
int checkedLoadedCount(const std::vector<int>& shape)
{
  std::string text;
  for (int n : shape)
    text += (text.empty() ? "[" : ",") + std::to_string(n);
  text += "]";
  const int minSize = shape.size() == 1 ? 0 : 1;
  long long count = 1;
  for (int n : shape) {
    if (n < minSize)
      throw std::runtime_error("Invalid double tensor shape in stream: " + text);
    count *= n;
    if (count > INT_MAX)
      throw std::runtime_error("Invalid double tensor shape in stream: " + text +
                               " has more elements than an int can count");
  }
  return static_cast<int>(count);
}

} // namespace

static_assert(sizeof(DoubleTensorImpl) <= 128 && alignof(DoubleTensorImpl) <= alignof(std::max_align_t),
              "DoubleTensor's storage cannot hold a DoubleTensorImpl");

DoubleTensorImpl& DoubleTensor::getImpl()
{
  return *std::launder(reinterpret_cast<DoubleTensorImpl*>(implStorage));
}

const DoubleTensorImpl& DoubleTensor::getImpl() const
{
  return *std::launder(reinterpret_cast<const DoubleTensorImpl*>(implStorage));
}

DoubleTensor::DoubleTensor()
{
  new (implStorage) DoubleTensorImpl();
}

DoubleTensor::DoubleTensor(const std::vector<int>& shape)
{
  new (implStorage) DoubleTensorImpl(shape);
}

DoubleTensor::DoubleTensor(const DoubleTensor& other)
{
  new (implStorage) DoubleTensorImpl(other.getImpl());
}

DoubleTensor::DoubleTensor(DoubleTensor&& other) noexcept
{
  new (implStorage) DoubleTensorImpl(std::move(other.getImpl()));
}

DoubleTensor& DoubleTensor::operator=(const DoubleTensor& other)
{
  getImpl() = other.getImpl();
  return *this;
}

DoubleTensor& DoubleTensor::operator=(DoubleTensor&& other) noexcept
{
  getImpl() = std::move(other.getImpl());
  return *this;
}

DoubleTensor::~DoubleTensor()
{
  getImpl().~DoubleTensorImpl();
}

int DoubleTensor::getOrder() const
{
  return getImpl().getOrder();
}

int DoubleTensor::size() const
{
  return getImpl().size();
}

int DoubleTensor::getDimSize(int dim) const
{
  return getImpl().getDimSize(dim);
}

std::vector<int> DoubleTensor::getShape() const
{
  return getImpl().getShape();
}

double& DoubleTensor::at(int i)
{
  return getImpl().at(i);
}

const double& DoubleTensor::at(int i) const
{
  return getImpl().at(i);
}

double& DoubleTensor::atIndices(const int* indices, int count)
{
  DoubleTensorImpl& impl = getImpl();
  if (impl.isOrder1Tensor())
    return impl.at(indices[0]);
  size_t flat = 0;
  size_t stride = 1;
  for (int k = 0; k < count; ++k) {
    flat += static_cast<size_t>(indices[k]) * stride;
    stride *= static_cast<size_t>(impl.getDimSize(k));
  }
  return impl.data()[flat];
}

double* DoubleTensor::data()
{
  return getImpl().data();
}

const double* DoubleTensor::data() const
{
  return getImpl().data();
}

void DoubleTensor::reshape(const std::vector<int>& shape, bool allowResize)
{
  getImpl().reshape(shape, allowResize);
}

void DoubleTensor::fill(double value)
{
  getImpl().fill(value);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
void DoubleTensor::init(const std::vector<double>& vals, bool storageOrder)
{
  QV_ASSERT(size() == vals.size());
#pragma GCC diagnostic pop
  double* values = data();
  if (storageOrder) {
    std::copy(vals.begin(), vals.end(), values);
    return;
  }
  if (vals.empty())
    return;
  const std::vector<int> shape = getShape();
  TensorIterator rowMajor(shape, false);
  TensorIterator columnMajor(shape, true);
  rowMajor.setTarget(&columnMajor);
  do {
    values[columnMajor.getPos()] = vals[rowMajor.getPos()];
  } while (rowMajor.next());
}

void DoubleTensor::init(const std::vector<int>& shape, const std::vector<double>& vals,
                        bool storageOrder)
{
  // Every element is overwritten, so a fresh tensor of the shape gives the
  // same result as reshaping this one, and a failure leaves this unchanged.
  DoubleTensor fresh;
  fresh.reshape(shape, true);
  fresh.init(vals, storageOrder);
  *this = std::move(fresh);
}

void DoubleTensor::init(const std::vector<int>& shape, double value)
{
  reshape(shape, true);
  fill(value);
}

std::vector<double> DoubleTensor::getVals(bool storageOrder) const
{
  const double* values = data();
  std::vector<double> res(size());
  if (storageOrder || res.empty()) {
    std::copy(values, values + res.size(), res.begin());
    return res;
  }
  const std::vector<int> shape = getShape();
  TensorIterator columnMajor(shape, true);
  TensorIterator rowMajor(shape, false);
  columnMajor.setTarget(&rowMajor);
  do {
    res[rowMajor.getPos()] = values[columnMajor.getPos()];
  } while (columnMajor.next());
  return res;
}

std::string DoubleTensor::getShapeAsString() const
{
  return shapeToString(getShape(), -1);
}

void DoubleTensor::addScalar(double x)
{
  double* values = data();
  const int n = size();
  for (int i = 0; i < n; ++i)
    values[i] += x;
}

double DoubleTensor::assertEquals(const DoubleTensor& other, const std::string& title, double eps,
                                  bool relative) const
{
  assertShapeEquals(other, title, -1);
  const double* mine = data();
  const double* theirs = other.data();
  const int n = size();
  double sum = 0;
  for (int i = 0; i < n; ++i) {
    const double d = std::fabs(mine[i] - theirs[i]);
    if (eps >= 0) {
      const bool failed = std::isnan(d) || (relative ? !MathUtils::isEqual(mine[i], theirs[i], eps)
                                                     : d > eps);
      if (failed) {
        std::cout << "Error in checking diff:" << std::endl;
        std::cout << title << ", at index " << i << ", this value: " << mine[i]
                  << ", other value: " << theirs[i] << ", diff: " << d << ", epsilon: " << eps
                  << std::endl;
        throw std::runtime_error("Assert Equals Failed");
      }
    }
    sum += d * d;
  }
  return sum / n;
}

void DoubleTensor::assertShapeEquals(const DoubleTensor& other, const std::string& title,
                                     int ignoreDim) const
{
  std::string detail;
  const int order = getOrder();
  if (order != other.getOrder()) {
    detail = "Orders mismatch: " + std::to_string(order) + " vs " +
             std::to_string(other.getOrder());
  } else {
    for (int d = 0; d < order; ++d) {
      if (d != ignoreDim && getDimSize(d) != other.getDimSize(d)) {
        detail = "Dimension " + std::to_string(d) + " size mismatch";
        break;
      }
    }
  }
  if (detail.empty())
    return;
  throw std::invalid_argument((title.empty() ? "" : title + ": ") + "Tensors shape mismatch: " +
                              getShapeAsString() + " vs " + other.getShapeAsString() + ": " +
                              detail);
}

void DoubleTensor::debugPrint(const std::string& title, Verbosity verbosity,
                              std::ostream& out) const
{
  if (!title.empty())
    out << title << ":" << std::endl;
  out << "Tensor" << intVectorToString(getShape(), false) << std::endl;
  if (verbosity != VERBOSITY_NONE && getOrder() > 0)
    out << getImpl() << std::endl;
}

void DoubleTensor::print2dTensor(std::ostream& out, bool withHeader) const
{
  if (getOrder() != 2)
    throw std::invalid_argument("Expecting a 2 dimensional tensor as input");
  if (withHeader)
    out << "Tensor" << intVectorToString(getShape(), false) << std::endl;
  const DoubleTensorImpl& impl = getImpl();
  const int width = getPrintOptions().printedTableCellWidth();
  const int rows = getDimSize(0);
  const int cols = getDimSize(1);
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      out << std::setw(width);
      PrintUtils::printDouble(out, impl.at(i, j));
    }
    out << std::endl;
  }
}

void DoubleTensor::printAs2dArray(std::ostream& out, bool withHeader) const
{
  if (getOrder() == 2) {
    print2dTensor(out, withHeader);
    return;
  }
  const std::vector<int> dims = get2dArrayDims(getShape());
  if (dims.empty()) {
    debugPrint("", VERBOSITY_REGULAR, out);
    return;
  }
  DoubleTensor table(*this);
  if (dims.size() == 1)
    table.reshape({1, getDimSize(dims[0])}, false);
  else
    table.reshape({getDimSize(dims[0]), getDimSize(dims[1])}, false);
  table.print2dTensor(out, withHeader);
}

std::streamoff DoubleTensor::save(std::ostream& out) const
{
  const std::streampos start = out.tellp();
  const std::vector<int> shape = getShape();
  BinIoUtils::writeInt32Size(out, shape.size(), "a tensor of order");
  for (int n : shape)
    BinIoUtils::writeInt32(out, n);
  BinIoUtils::writeBytes(out, reinterpret_cast<const char*>(data()),
                         static_cast<size_t>(size()) * sizeof(double));
  return out.tellp() - start;
}

std::streamoff DoubleTensor::load(std::istream& in)
{
  const std::streampos start = in.tellg();
  const int32_t order = BinIoUtils::readInt32Checked(
      in, 0, static_cast<int32_t>(BinIoUtils::MAX_ELEMENT_COUNT));
  std::vector<int> shape(order);
  for (int& n : shape)
    n = BinIoUtils::readInt32(in);
  QV_ASSERT(shape.size() > 0);
  const int count = checkedLoadedCount(shape);
  std::vector<double> values;
  for (int done = 0; done < count;) {
    const int block = std::min(LOAD_BLOCK, count - done);
    values.resize(static_cast<size_t>(done + block));
    BinIoUtils::readBytes(in, reinterpret_cast<char*>(values.data() + done),
                          static_cast<size_t>(block) * sizeof(double), "double tensor values");
    done += block;
  }
  DoubleTensor loaded(shape);
  std::copy(values.begin(), values.end(), loaded.data());
  *this = std::move(loaded);
  return in.tellg() - start;
}

std::string shapeToString(const std::vector<int>& shape, int anyValue)
{
  std::string res = "[";
  for (size_t i = 0; i < shape.size(); ++i) {
    if (i > 0)
      res += ",";
    res += shape[i] == anyValue ? "any" : std::to_string(shape[i]);
  }
  return res + "]";
}

void printIntVector(std::ostream& out, const std::vector<int>& v, bool indexed)
{
  printList(out, v, indexed);
}

void printDoubleVector(std::ostream& out, const std::vector<double>& v, bool indexed)
{
  printList(out, v, indexed);
}

std::string intVectorToString(const std::vector<int>& v, bool indexed)
{
  std::ostringstream out;
  printIntVector(out, v, indexed);
  return out.str();
}

std::vector<int> getNonTrivialDims(const std::vector<int>& shape)
{
  std::vector<int> res;
  for (size_t i = 0; i < shape.size(); ++i)
    if (shape[i] > 1)
      res.push_back(static_cast<int>(i));
  return res;
}

std::vector<int> get2dArrayDims(const std::vector<int>& shape)
{
  const int n = static_cast<int>(shape.size());
  if (n == 0)
    throw std::invalid_argument("internal error: can't compute 2d array dims for empty shape");
  if (n == 1)
    return {0};
  if (n == 2)
    return {0, 1};
  const std::vector<int> nonTrivial = getNonTrivialDims(shape);
  if (nonTrivial.size() == 2)
    return nonTrivial;
  if (nonTrivial.empty())
    return {n - 2, n - 1};
  if (nonTrivial.size() == 1)
    return nonTrivial[0] == n - 1 ? std::vector<int>{n - 2, n - 1}
                                  : std::vector<int>{nonTrivial[0], n - 1};
  return {};
}

} // namespace quorvane
