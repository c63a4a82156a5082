#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "TestUtils.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/PrintUtils.h"
#include "math/DoubleTensor.h"
#include "math/DoubleTensorImpl.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const std::string ZERO_EXTENT_MESSAGE =
    "Error in basic_extents::basic_extents() : shape tuple is not a valid permutation: has "
    "zero elements.";

// Restores the global print options after each test.
class DoubleTensorPrint : public ::testing::Test
{
protected:
  PrintOptionsGuard printOptions;
};

DoubleTensor rowMajor(const std::vector<int>& shape, const std::vector<double>& vals)
{
  DoubleTensor t(shape);
  t.init(vals, false);
  return t;
}

std::string printed(const DoubleTensor& t, const std::string& title, Verbosity verbosity)
{
  std::ostringstream out;
  t.debugPrint(title, verbosity, out);
  return out.str();
}

std::string savedBytes(const DoubleTensor& t)
{
  std::ostringstream out;
  const std::streamoff written = t.save(out);
  EXPECT_EQ(written, static_cast<std::streamoff>(out.str().size()));
  return out.str();
}

std::string record(const std::vector<int32_t>& header, const std::vector<double>& values)
{
  std::ostringstream out;
  for (int32_t v : header)
    BinIoUtils::writeInt32(out, v);
  for (double v : values)
    BinIoUtils::writeDouble(out, v);
  return out.str();
}

} // namespace

TEST(DoubleTensor, ConstructionAndShape)
{
  struct Case
  {
    std::vector<int> shape;
    int order;
    int size;
  };
  const std::vector<Case> cases = {
      {{5}, 1, 5}, {{0}, 1, 0}, {{2, 3}, 2, 6}, {{3, 1}, 2, 3}, {{2, 3, 4}, 3, 24}, {{1, 1, 1, 2}, 4, 2},
  };
  for (const Case& c : cases) {
    DoubleTensor t(c.shape);
    EXPECT_EQ(t.getOrder(), c.order);
    EXPECT_EQ(t.size(), c.size);
    EXPECT_EQ(t.getShape(), c.shape);
    for (size_t d = 0; d < c.shape.size(); ++d)
      EXPECT_EQ(t.getDimSize(static_cast<int>(d)), c.shape[d]);
    EXPECT_EQ(t.getVals(true), std::vector<double>(c.size, 0.0));
  }
  DoubleTensor empty;
  EXPECT_EQ(empty.getOrder(), 0);
  EXPECT_EQ(empty.size(), 0);
  EXPECT_TRUE(empty.getShape().empty());
  EXPECT_EQ(empty.getShapeAsString(), "[]");
  EXPECT_TRUE(empty.getVals(false).empty());
}

TEST(DoubleTensor, ConstructionRefusals)
{
  struct Case
  {
    std::vector<int> shape;
    std::string message; // empty: any text
  };
  const std::vector<Case> cases = {
      {{}, ZERO_EXTENT_MESSAGE},
      {{2, 0}, ZERO_EXTENT_MESSAGE},
      {{0, 0, 3}, ZERO_EXTENT_MESSAGE},
      {{-1}, ""},
      {{2, -3}, "Invalid tensor shape [2,-3]: sizes must not be negative"},
      {{-1, -1}, "Invalid tensor shape [-1,-1]: sizes must not be negative"},
      {{65536, 65536}, "Invalid tensor shape [65536,65536]: more elements than an int can count"},
  };
  for (const Case& c : cases) {
    try {
      DoubleTensor t(c.shape);
      ADD_FAILURE() << shapeToString(c.shape, -1000);
    } catch (const std::length_error& e) {
      if (!c.message.empty()) {
        EXPECT_EQ(e.what(), c.message);
      }
    }
  }
}

TEST(DoubleTensor, DimSizeOfOrder1)
{
  DoubleTensor t({4});
  EXPECT_EQ(t.getDimSize(0), 4);
  expectAssertion([&] { t.getDimSize(1); }, "math/DoubleTensorImpl.cpp", "getDimSize",
                  "dim == 0");
  DoubleTensor m({2, 3});
  EXPECT_THROW(m.getDimSize(2), std::out_of_range);
}

TEST(DoubleTensor, RowMajorInitAndReadBack)
{
  const std::vector<double> vals = {1, 2, 3, 4, 5, 6}; // a .. f
  DoubleTensor t = rowMajor({2, 3}, vals);
  EXPECT_EQ(t.at(0, 0), 1);
  EXPECT_EQ(t.at(0, 1), 2);
  EXPECT_EQ(t.at(0, 2), 3);
  EXPECT_EQ(t.at(1, 0), 4);
  EXPECT_EQ(t.at(1, 2), 6);
  EXPECT_EQ(t.getVals(true), (std::vector<double>{1, 4, 2, 5, 3, 6}));
  EXPECT_EQ(t.getVals(false), vals);
  EXPECT_EQ(t.getImpl().at(1, 0), 4);
  const DoubleTensor& c = t;
  EXPECT_EQ(c.at(1, 2), 6);
  EXPECT_EQ(c.at(5), 6);
  EXPECT_EQ(c.getImpl().at(0, 2), 3);
}

TEST(DoubleTensor, OrdersConvertBothWays)
{
  for (const std::vector<int>& shape :
       std::vector<std::vector<int>>{{7}, {3, 1}, {1, 4}, {2, 3, 4}, {3, 2, 1, 2}}) {
    int count = 1;
    for (int n : shape)
      count *= n;
    std::vector<double> vals(count);
    for (int i = 0; i < count; ++i)
      vals[i] = 0.5 * i - 3;
    DoubleTensor t = rowMajor(shape, vals);
    EXPECT_EQ(t.getVals(false), vals);
    // Storage order: the first index fastest.
    DoubleTensor s(shape);
    s.init(t.getVals(true), true);
    EXPECT_EQ(s.getVals(false), vals);
  }
  DoubleTensor t = rowMajor({2, 3, 4}, std::vector<double>(24, 0));
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 4; ++k)
        t.at(i, j, k) = 100 * i + 10 * j + k;
  const std::vector<double> flat = t.getVals(true);
  const std::vector<double> rows = t.getVals(false);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(flat[i + 2 * j + 6 * k], 100 * i + 10 * j + k);
        EXPECT_EQ(rows[12 * i + 4 * j + k], 100 * i + 10 * j + k);
        EXPECT_EQ(t.at(i + 2 * j + 6 * k), 100 * i + 10 * j + k);
      }
}

TEST(DoubleTensor, InitRefusesWrongCountAndKeepsTensor)
{
  DoubleTensor t = rowMajor({2, 3}, {1, 2, 3, 4, 5, 6});
  for (bool storageOrder : {true, false})
    expectAssertion([&] { t.init(std::vector<double>{1, 2}, storageOrder); },
                    "math/DoubleTensor.cpp", "init", "size() == vals.size()");
  expectAssertion([&] { t.init(std::vector<int>{4}, std::vector<double>{1, 2}, false); },
                  "math/DoubleTensor.cpp", "init", "size() == vals.size()");
  EXPECT_EQ(t.getShape(), (std::vector<int>{2, 3}));
  EXPECT_EQ(t.getVals(false), (std::vector<double>{1, 2, 3, 4, 5, 6}));
}

TEST(DoubleTensor, InitWithShape)
{
  DoubleTensor t({5});
  t.init(std::vector<int>{2, 2}, std::vector<double>{1, 2, 3, 4}, false);
  EXPECT_EQ(t.getShape(), (std::vector<int>{2, 2}));
  EXPECT_EQ(t.getVals(true), (std::vector<double>{1, 3, 2, 4}));
  t.init(std::vector<int>{3}, std::vector<double>{7, 8, 9}, true);
  EXPECT_EQ(t.getOrder(), 1);
  EXPECT_EQ(t.getVals(false), (std::vector<double>{7, 8, 9}));
  t.init(std::vector<int>{2, 1, 2}, 2.5);
  EXPECT_EQ(t.getShape(), (std::vector<int>{2, 1, 2}));
  EXPECT_EQ(t.getVals(true), std::vector<double>(4, 2.5));
  expectAssertion([&] { t.init(std::vector<int>{}, 1.0); }, "math/DoubleTensorImpl.cpp",
                  "reshape", "shape.size() > 0");
}

TEST(DoubleTensor, Reshape)
{
  const std::vector<double> vals = {1, 2, 3, 4, 5, 6};
  DoubleTensor t = rowMajor({2, 3}, vals);
  t.reshape({6}, false);
  EXPECT_EQ(t.getOrder(), 1);
  EXPECT_EQ(t.getVals(true), (std::vector<double>{1, 4, 2, 5, 3, 6}));
  t.reshape({2, 3}, false);
  EXPECT_EQ(t.getVals(false), vals);
  t.reshape({3, 2}, false);
  EXPECT_EQ(t.getVals(true), (std::vector<double>{1, 4, 2, 5, 3, 6}));

  struct Case
  {
    std::vector<int> from, to;
    std::vector<double> expected; // storage order after reshaping with resizing
  };
  // Storage-order values of the source are 1, 2, 3, ...
  const std::vector<Case> cases = {
      {{2, 3}, {4}, {1, 2, 3, 4}},
      {{6}, {2, 4}, {1, 2, 3, 4, 5, 6, 0, 0}},
      {{6}, {3}, {1, 2, 3}},
      {{6}, {8}, {1, 2, 3, 4, 5, 6, 0, 0}},
      {{2, 3}, {2, 2}, {1, 2, 3, 4}},
      {{2, 3}, {2, 2, 2}, {1, 2, 3, 4, 5, 6, 0, 0}},
      {{2, 2}, {1, 9}, {1, 2, 3, 4, 0, 0, 0, 0, 0}},
      {{2, 2}, {0}, {}},
  };
  for (const Case& c : cases) {
    DoubleTensor s(c.from);
    for (int i = 0; i < s.size(); ++i)
      s.at(i) = i + 1;
    s.reshape(c.to, true);
    EXPECT_EQ(s.getShape(), c.to);
    EXPECT_EQ(s.getVals(true), c.expected) << shapeToString(c.to, -1);
  }
  DoubleTensor empty;
  empty.reshape({2, 2}, true);
  EXPECT_EQ(empty.getVals(true), std::vector<double>(4, 0.0));
}

TEST(DoubleTensor, ReshapeRefusals)
{
  DoubleTensor t = rowMajor({2, 3}, {1, 2, 3, 4, 5, 6});
  try {
    t.reshape({3, 3}, false);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Trying to reshape a tensor of shape [2,3] with 6 elements to a new "
                           "shape [3,3] with 9 elements");
  }
  try {
    DoubleTensor o({4});
    o.reshape({5}, false);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Trying to reshape a tensor of shape [4] with 4 elements to a new "
                           "shape [5] with 5 elements");
  }
  expectAssertion([&] { t.reshape({}, true); }, "math/DoubleTensorImpl.cpp", "reshape",
                  "shape.size() > 0");
  EXPECT_THROW(t.reshape({2, 0}, true), std::length_error);
  EXPECT_THROW(t.reshape({-2, 3}, true), std::length_error);
  EXPECT_THROW(t.reshape({100000, 100000}, true), std::length_error);
  EXPECT_EQ(t.getShape(), (std::vector<int>{2, 3}));
  EXPECT_EQ(t.getVals(false), (std::vector<double>{1, 2, 3, 4, 5, 6}));
}

TEST(DoubleTensor, ElementAccessOfOrder1)
{
  DoubleTensor t({3});
  t.at(2) = 4;
  EXPECT_EQ(t.at(2), 4);
  EXPECT_THROW(t.at(3), std::out_of_range);
  EXPECT_THROW(t.at(-1), std::out_of_range);
  expectAssertion([&] { t.at(0, 1); }, "math/DoubleTensor.h", "at", "sizeof...(is) == 0");
  expectAssertion([&] { t.getImpl().at(0, 1); }, "math/DoubleTensorImpl.h", "at",
                  "sizeof...(is) == 0");
}

TEST(DoubleTensor, FillAndAddScalar)
{
  for (const std::vector<int>& shape : std::vector<std::vector<int>>{{3}, {2, 2}, {1, 2, 3}}) {
    DoubleTensor t(shape);
    t.addScalar(1.5);
    EXPECT_EQ(t.getVals(true), std::vector<double>(t.size(), 1.5));
    t.fill(-2);
    t.addScalar(0.25);
    EXPECT_EQ(t.getVals(true), std::vector<double>(t.size(), -1.75));
  }
}

TEST(DoubleTensor, CopyAndMove)
{
  DoubleTensor a = rowMajor({2, 3}, {1, 2, 3, 4, 5, 6});
  DoubleTensor copy(a);
  copy.at(0) = 100;
  EXPECT_EQ(a.at(0), 1);

  const double* storage = a.data();
  DoubleTensor moved(std::move(a));
  EXPECT_EQ(moved.data(), storage);
  EXPECT_EQ(moved.getVals(false), (std::vector<double>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(a.getOrder(), 0);
  EXPECT_EQ(a.size(), 0);
  EXPECT_TRUE(a.getShape().empty());

  DoubleTensor v = rowMajor({3}, {7, 8, 9});
  DoubleTensor movedV(std::move(v));
  EXPECT_EQ(movedV.getVals(true), (std::vector<double>{7, 8, 9}));
  EXPECT_EQ(v.getOrder(), 1); // the order-1 flag is copied, the values taken
  EXPECT_EQ(v.size(), 0);

  a = std::move(movedV);
  EXPECT_EQ(a.getShape(), (std::vector<int>{3}));
  EXPECT_EQ(movedV.size(), 0);
  a = copy;
  EXPECT_EQ(a.getVals(true), copy.getVals(true));
  a = a;
  EXPECT_EQ(a.getShape(), (std::vector<int>{2, 3}));
  // A moved-from tensor is usable again.
  v.init(std::vector<int>{2, 2}, std::vector<double>{1, 2, 3, 4}, false);
  EXPECT_EQ(v.at(1, 0), 3);
  static_assert(std::is_nothrow_move_constructible<DoubleTensor>::value, "");
  static_assert(std::is_nothrow_move_assignable<DoubleTensor>::value, "");
}

TEST(DoubleTensor, AssertEquals)
{
  DoubleTensor a = rowMajor({2, 3}, {1, 2, 3, 4, 5, 6});
  DoubleTensor b = rowMajor({2, 3}, {1, 2, 3, 4, 5, 6.3});
  EXPECT_EQ(a.assertEquals(a, "same", 0), 0);
  EXPECT_NEAR(a.assertEquals(b, "loose", 0.5), 0.09 / 6, 1e-12);
  EXPECT_NEAR(a.assertEquals(b, "off", -1), 0.09 / 6, 1e-12);

  testing::internal::CaptureStdout();
  try {
    a.assertEquals(b, "t", 0.1);
    testing::internal::GetCapturedStdout();
    FAIL();
  } catch (const std::runtime_error& e) {
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_STREQ(e.what(), "Assert Equals Failed");
    std::ostringstream expected;
    expected << "Error in checking diff:\nt, at index 5, this value: 6, other value: 6.3, diff: "
             << std::fabs(6 - 6.3) << ", epsilon: 0.1\n";
    EXPECT_EQ(out, expected.str());
  }
}

TEST(DoubleTensor, AssertEqualsRelativeAndNan)
{
  struct Case
  {
    double a, b, eps;
    bool relative, fails;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
      {100.0, 100.0005, 1e-5, true, false},
      {1.0, 1.0001, 1e-5, true, true},
      {100.0, 100.0005, 1e-5, false, true},
      {0.0, 1e-6, 1e-5, true, false},
      {nan, 1.0, 0, false, true},
      {nan, nan, 1e10, false, true},
      {nan, 1.0, 1e-3, true, true},
      {nan, 1.0, -1, false, false},
      {1.0, 5.0, nan, false, false},
  };
  for (const Case& c : cases) {
    DoubleTensor x = rowMajor({1, 2}, {0, c.a});
    DoubleTensor y = rowMajor({1, 2}, {0, c.b});
    testing::internal::CaptureStdout();
    bool failed = false;
    try {
      x.assertEquals(y, "", c.eps, c.relative);
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Assert Equals Failed");
      failed = true;
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(failed, c.fails) << c.a << " " << c.b << " " << c.eps << " " << c.relative;
  }
  DoubleTensor e1({0}), e2({0});
  EXPECT_TRUE(std::isnan(e1.assertEquals(e2, "", 0)));
}

TEST(DoubleTensor, ShapeMismatch)
{
  struct Case
  {
    std::vector<int> other;
    std::string title;
    int ignoreDim;
    std::string message; // empty: shapes agree
  };
  const std::vector<Case> cases = {
      {{3, 2}, "t", -1, "t: Tensors shape mismatch: [2,3] vs [3,2]: Dimension 0 size mismatch"},
      {{6}, "t", -1, "t: Tensors shape mismatch: [2,3] vs [6]: Orders mismatch: 2 vs 1"},
      {{2, 4}, "", -1, "Tensors shape mismatch: [2,3] vs [2,4]: Dimension 1 size mismatch"},
      {{2, 4}, "", 1, ""},
      {{5, 4}, "x", 1, "x: Tensors shape mismatch: [2,3] vs [5,4]: Dimension 0 size mismatch"},
      {{2, 3, 1}, "", -1, "Tensors shape mismatch: [2,3] vs [2,3,1]: Orders mismatch: 2 vs 3"},
  };
  DoubleTensor t({2, 3});
  for (const Case& c : cases) {
    DoubleTensor other(c.other);
    try {
      t.assertShapeEquals(other, c.title, c.ignoreDim);
      EXPECT_TRUE(c.message.empty()) << c.message;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
  try {
    t.assertEquals(DoubleTensor({3, 2}), "t", 1);
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "t: Tensors shape mismatch: [2,3] vs [3,2]: Dimension 0 size mismatch");
  }
}

TEST(DoubleTensor, ShapeHelpers)
{
  EXPECT_EQ(shapeToString({2, 3, -1}, -1), "[2,3,any]");
  EXPECT_EQ(shapeToString({-2, 0}, -1), "[-2,0]");
  EXPECT_EQ(shapeToString({}, -1), "[]");

  struct Case
  {
    std::vector<int> shape, dims, nonTrivial;
  };
  const std::vector<Case> cases = {
      {{7}, {0}, {0}},
      {{1, 1}, {0, 1}, {}},
      {{1, 5, 1}, {1, 2}, {1}},
      {{1, 1, 5}, {1, 2}, {2}},
      {{2, 1, 3}, {0, 2}, {0, 2}},
      {{2, 2, 2}, {}, {0, 1, 2}},
      {{1, 1, 1}, {1, 2}, {}},
      {{1, 4, 1, 1}, {1, 3}, {1}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(get2dArrayDims(c.shape), c.dims) << shapeToString(c.shape, -1);
    EXPECT_EQ(getNonTrivialDims(c.shape), c.nonTrivial) << shapeToString(c.shape, -1);
  }
  try {
    get2dArrayDims({});
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "internal error: can't compute 2d array dims for empty shape");
  }
}

TEST_F(DoubleTensorPrint, IntVectors)
{
  struct Case
  {
    std::vector<int> v;
    int head, tail;
    std::string plain, indexed;
  };
  const std::vector<Case> cases = {
      {{2, 3, 4}, 4, 1, "[2,3,4]", " [0]=2  [1]=3  [2]=4"},
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 4, 1, "[0,1,2,3 ...  9]",
       " [0]=0  [1]=1  [2]=2  [3]=3 ...   [9]=9"},
      {{0, 1, 2, 3, 4}, 4, 1, "[0,1,2,3 4]", " [0]=0  [1]=1  [2]=2  [3]=3  [4]=4"},
      {{5, 6, 7, 8, 9}, 2, 2, "[5,6 ...  8 9]", " [0]=5  [1]=6 ...   [3]=8  [4]=9"},
      {{5, 6, 7}, 0, 1, "[ ...  7]", " ...   [2]=7"},
      {{}, 4, 1, "[]", ""},
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, -1, 1, "[0,1,2,3,4,5,6,7,8,9]",
       " [0]=0  [1]=1  [2]=2  [3]=3  [4]=4  [5]=5  [6]=6  [7]=7  [8]=8  [9]=9"},
      {{5, 6, 7}, -1, 0, "[5,6,7]", " [0]=5  [1]=6  [2]=7"},
      {{5, 6, 7}, -2, 1, "[ ...  7]", " ...   [2]=7"},
      {{}, -1, 1, "[]", ""},
  };
  for (const Case& c : cases) {
    getPrintOptions().numPrintedElements = c.head;
    getPrintOptions().numPrintedLastElements = c.tail;
    EXPECT_EQ(intVectorToString(c.v, false), c.plain);
    EXPECT_EQ(intVectorToString(c.v, true), c.indexed);
  }
}

TEST_F(DoubleTensorPrint, DebugPrint)
{
  DoubleTensor m = rowMajor({2, 3}, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(printed(m, "m", VERBOSITY_NONE), "m:\nTensor[2,3]\n");
  EXPECT_EQ(printed(m, "", VERBOSITY_REGULAR), "Tensor[2,3]\n[ ... \n1 2 3 ; \n4 5 6 ]\n");
  DoubleTensor v = rowMajor({6}, {1.5, 2, 3, 4, 5, 6});
  EXPECT_EQ(printed(v, "v", VERBOSITY_LOW), "v:\nTensor[6]\n[1.5,2,3,4 ...  6]\n");
  EXPECT_EQ(printed(DoubleTensor(), "e", VERBOSITY_DETAILED), "e:\nTensor[]\n");
  std::ostringstream impl;
  impl << v.getImpl();
  EXPECT_EQ(impl.str(), "[1.5,2,3,4 ...  6]");
  getPrintOptions().numPrintedElements = -1;
  EXPECT_EQ(printed(v, "v", VERBOSITY_LOW), "v:\nTensor[6]\n[1.5,2,3,4,5,6]\n");
}

TEST_F(DoubleTensorPrint, Tables)
{
  DoubleTensor m = rowMajor({2, 3}, {1, 2.5, 3, 4, 5, -6});
  std::ostringstream out;
  m.print2dTensor(out, true);
  EXPECT_EQ(out.str(), "Tensor[2,3]\n    1  2.5    3\n    4    5   -6\n");
  getPrintOptions().tableCellWidth = 3;
  out.str("");
  m.print2dTensor(out, false);
  EXPECT_EQ(out.str(), "  12.5  3\n  4  5 -6\n");
  getPrintOptions().tableCellWidth = 5;

  for (const std::vector<int>& shape : std::vector<std::vector<int>>{{4}, {2, 2, 1}}) {
    try {
      DoubleTensor(shape).print2dTensor(out, true);
      ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "Expecting a 2 dimensional tensor as input");
    }
  }

  struct Case
  {
    std::vector<int> shape;
    bool withHeader;
    std::string expected;
  };
  // Storage-order values 1, 2, 3, ...
  const std::vector<Case> cases = {
      {{2, 2}, true, "Tensor[2,2]\n    1    3\n    2    4\n"},
      {{3}, true, "Tensor[1,3]\n    1    2    3\n"},
      {{1, 3, 1}, false, "    1\n    2\n    3\n"},
      {{2, 1, 2}, true, "Tensor[2,2]\n    1    3\n    2    4\n"},
      {{2, 2, 2}, false, "Tensor[2,2,2]\ncat(3,...\n[ ... \n1 3 ; \n2 4 ],...\n[ ... \n5 7 ; \n6 8 ])\n"},
  };
  for (const Case& c : cases) {
    DoubleTensor t(c.shape);
    for (int i = 0; i < t.size(); ++i)
      t.at(i) = i + 1;
    out.str("");
    t.printAs2dArray(out, c.withHeader);
    EXPECT_EQ(out.str(), c.expected) << shapeToString(c.shape, -1);
    EXPECT_EQ(t.getShape(), c.shape);
  }
}

TEST(DoubleTensor, SavedLayout)
{
  DoubleTensor m = rowMajor({2, 3}, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(savedBytes(m), record({2, 2, 3}, {1, 4, 2, 5, 3, 6}));
  EXPECT_EQ(savedBytes(m).size(), 4u + 8u + 48u);
  DoubleTensor v = rowMajor({2}, {-0.5, 8});
  EXPECT_EQ(savedBytes(v), record({1, 2}, {-0.5, 8}));
  EXPECT_EQ(savedBytes(DoubleTensor()), record({0}, {}));
}

TEST(DoubleTensor, SaveLoadRoundTrip)
{
  for (const std::vector<int>& shape :
       std::vector<std::vector<int>>{{1}, {0}, {5}, {2, 3}, {1, 1}, {3, 1, 2}, {2, 2, 2, 2}}) {
    DoubleTensor t(shape);
    for (int i = 0; i < t.size(); ++i)
      t.at(i) = i * 1.25 - 2;
    std::stringstream stream;
    const std::streamoff written = t.save(stream);
    stream << "tail";
    DoubleTensor loaded = rowMajor({2}, {9, 9});
    EXPECT_EQ(loaded.load(stream), written);
    EXPECT_EQ(loaded.getShape(), shape);
    EXPECT_EQ(loaded.getVals(true), t.getVals(true));
    std::string rest;
    stream >> rest;
    EXPECT_EQ(rest, "tail");
  }
}

TEST(DoubleTensor, LoadOfEmptyTensorRecord)
{
  std::stringstream stream(savedBytes(DoubleTensor()));
  DoubleTensor t;
  expectAssertion([&] { t.load(stream); }, "math/DoubleTensor.cpp", "load", "shape.size() > 0");
}

TEST(DoubleTensor, LoadRefusals)
{
  struct Case
  {
    std::string bytes;
    std::string message;
  };
  const std::string truncated =
      "Input stream ended or failed while reading double tensor values: the data is truncated "
      "or corrupt.";
  const std::vector<Case> cases = {
      {record({100001}, {}),
       "BinIoUtils::readInt32Checked() failed: The loaded value (100001) doesn't fall in the "
       "specified valid range ([0, 100000])."},
      {record({-1}, {}),
       "BinIoUtils::readInt32Checked() failed: The loaded value (-1) doesn't fall in the "
       "specified valid range ([0, 100000])."},
      {record({2, 2}, {}),
       "Input stream ended or failed while reading an int32: the data is truncated or corrupt."},
      {record({2, 2, 3}, {1, 2, 3}), truncated},
      {record({1, 4}, {1, 2, 3}), truncated},
      {record({2, 2, 0}, {}), "Invalid double tensor shape in stream: [2,0]"},
      {record({2, -2, -3}, {}), "Invalid double tensor shape in stream: [-2,-3]"},
      {record({1, -4}, {}), "Invalid double tensor shape in stream: [-4]"},
      {record({3, 65536, 65536, 2}, {}),
       "Invalid double tensor shape in stream: [65536,65536,2] has more elements than an int "
       "can count"},
      // A huge but valid count with no data fails on the data, without allocating for it.
      {record({2, 46340, 46340}, {1}), truncated},
  };
  for (const Case& c : cases) {
    DoubleTensor t = rowMajor({2, 2}, {1, 2, 3, 4});
    std::stringstream stream(c.bytes);
    try {
      t.load(stream);
      ADD_FAILURE() << c.message;
    } catch (const assert_error& e) {
      ADD_FAILURE() << e.what();
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), c.message);
    }
    EXPECT_EQ(t.getShape(), (std::vector<int>{2, 2}));
    EXPECT_EQ(t.getVals(false), (std::vector<double>{1, 2, 3, 4}));
  }
}
