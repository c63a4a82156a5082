#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "TileTensorTestUtils.h"
#include "hebase/Encoder.h"
#include "hebase/RunStats.h"
#include "hebase/utils/SectionTimer.h"

using namespace quorvane;
using qvtest::combined;
using qvtest::decrypted;
using qvtest::encoded;
using qvtest::encrypted;
using qvtest::maxDiff;
using qvtest::quietMessageOf;
using qvtest::randomTensor;
using qvtest::shapeOf;

class CTileTensorTest : public ::testing::Test
{
protected:
  std::shared_ptr<HeContext> he = qvtest::createMockup(16, 5);
};

TEST_F(CTileTensorTest, Construction)
{
  CTileTensor empty(*he);
  EXPECT_FALSE(empty.isPacked());
  EXPECT_EQ(empty.getShape().getNumDims(), 0);
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { empty.getChainIndex(); },
                                                     "This tile tensor has not been packed");
  EXPECT_EQ(empty.getEstimatedMemoryUsageBytes(), -1);
  EXPECT_EQ(empty.assertIntegrity(1e-6), 1.0);
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { empty.wakeup(); },
                                                     "wakeup not implemented");
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { empty.sleep(); },
                                                     "sleep not implemented");

  TTShape shape({4, 4});
  shape.setOriginalSizes({5, 3});
  CTileTensor shaped(*he, shape);
  EXPECT_FALSE(shaped.isPacked());
  EXPECT_EQ(shaped.getShape().toString(), "[5/4, 3/4]");
  EXPECT_TRUE(shaped.getTile(1).isEmpty());
  // An incomplete shape is refused before anything is built.
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { CTileTensor(*he, TTShape({4, 4})); }),
            "Cannot build a tile tensor of an incomplete shape");
}

TEST_F(CTileTensorTest, CopiesAreDeep)
{
  const DoubleTensor values = randomTensor({3, 5}, 1);
  const CTileTensor src = encrypted(*he, TTShape({4, 4}), values);
  CTileTensor copy(src);
  copy.negate();
  EXPECT_EQ(maxDiff(decrypted(src), values), 0);
  CTileTensor assigned(*he);
  assigned = src;
  assigned.square();
  EXPECT_EQ(maxDiff(decrypted(src), values), 0);
  CTileTensor moved(std::move(copy));
  EXPECT_FALSE(copy.isPacked()) << "a moved-from tensor holds no tiles";
  EXPECT_NEAR(maxDiff(decrypted(moved), combined(values, values, [](double a, double) { return -a; })),
              0, 1e-12);
}

TEST_F(CTileTensorTest, TileAccess)
{
  TTShape shape({2, 8});
  const CTileTensor c = encrypted(*he, shape, randomTensor({5, 3}, 2));
  EXPECT_EQ(c.getShape().getExternalSizes(), std::vector<int>({3, 1}));
  EXPECT_EQ(c.getIndexStrides(), std::vector<size_t>({1, 1}));
  EXPECT_EQ(&c.getTileAt({2}), &c.getTileByFlatIndex(2));
  EXPECT_EQ(&c.getTileAt({1, 0}), &c.getTileByFlatIndex(1));

  const CTileTensor wide = encrypted(*he, TTShape({2, 2, 4}), randomTensor({3, 4, 3}, 3));
  EXPECT_EQ(wide.getShape().getExternalSizes(), std::vector<int>({2, 2, 1}));
  EXPECT_EQ(wide.getIndexStrides(), std::vector<size_t>({1, 2, 4}));
  EXPECT_EQ(&wide.getTileAt({1, 1}), &wide.getTileByFlatIndex(3));
  EXPECT_EQ(&wide.getTileAt({1, 1, 0}), &wide.getTileByFlatIndex(3));
  const std::vector<std::pair<std::vector<int>, std::string>> refused = {
      {{0, 0, 0, 0}, "Accessing a tensor with too many indices: 4"},
      {{1}, "Accessing a tensor with 1 indices, but the tensor has additional non-trivial "
            "dimensions"},
      {{2, 0}, "Accessing a tensor with illegal tile index 2"},
      {{0, -1}, "Accessing a tensor with illegal tile index -1"},
      {{}, "Accessing a tensor with 0 indices, but the tensor has additional non-trivial "
           "dimensions"},
  };
  for (const auto& r : refused)
    EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { wide.getTileAt(r.first); }), r.second);
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { c.getTileAt({3}); }),
            "Accessing order 1 tensor with illegal tile index 3");
  for (int i : {-1, 4})
    EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { wide.getTileByFlatIndex(i); }),
              "Accessing tensor by an illegal flat index " + std::to_string(i));
  // Every tile by its indices, for tile arrays shaped as a row, a column and a
  // block: column-major, dimension 0 fastest.
  for (const std::vector<int>& tileCounts :
       {std::vector<int>{1, 3}, std::vector<int>{3, 1, 1}, std::vector<int>{1, 3, 1},
        std::vector<int>{2, 3, 2}}) {
    const std::vector<int> tileSizes =
        tileCounts.size() == 2 ? std::vector<int>{4, 4} : std::vector<int>{2, 2, 4};
    std::vector<int> sizes;
    for (size_t i = 0; i < tileCounts.size(); ++i)
      sizes.push_back(tileSizes[i] * tileCounts[i]);
    const CTileTensor t = encrypted(*he, TTShape(tileSizes), randomTensor(sizes, 4));
    ASSERT_EQ(t.getShape().getExternalSizes(), tileCounts);
    TensorIterator it(tileCounts, true);
    do
      EXPECT_EQ(&t.getTileAt(it.getIndices()), &t.getTileByFlatIndex(it.getPos()));
    while (it.next());
  }
  // No indices on a tensor without tiles names no tile.
  EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { CTileTensor(*he).getTileAt({}); }),
            "Accessing tensor by an illegal flat index 0");
}

TEST_F(CTileTensorTest, ElementWiseFamilies)
{
  const TTShape shape({4, 4});
  const DoubleTensor a = randomTensor({3, 5}, 3);
  const DoubleTensor b = randomTensor({3, 5}, 4);
  const CTileTensor ca = encrypted(*he, shape, a);
  const CTileTensor cb = encrypted(*he, shape, b);
  const PTileTensor pb = encoded(*he, shape, b);
  using Op = std::function<void(CTileTensor&)>;
  using F = std::function<double(double, double)>;
  const F plus = [](double x, double y) { return x + y; };
  const F minus = [](double x, double y) { return x - y; };
  const F times = [](double x, double y) { return x * y; };
  struct Case
  {
    std::string name;
    Op op;
    F f;
    int chainIndexDrop;
  };
  const std::vector<Case> cases = {
      {"add", [&](CTileTensor& t) { t.add(cb); }, plus, 0},
      {"addRaw", [&](CTileTensor& t) { t.addRaw(cb); }, plus, 0},
      {"sub", [&](CTileTensor& t) { t.sub(cb); }, minus, 0},
      {"subRaw", [&](CTileTensor& t) { t.subRaw(cb); }, minus, 0},
      {"multiply", [&](CTileTensor& t) { t.multiply(cb); }, times, 1},
      {"multiplyRaw", [&](CTileTensor& t) { t.multiplyRaw(cb); }, times, 0},
      {"addPlain", [&](CTileTensor& t) { t.addPlain(pb); }, plus, 0},
      {"addPlainRaw", [&](CTileTensor& t) { t.addPlainRaw(pb); }, plus, 0},
      {"subPlain", [&](CTileTensor& t) { t.subPlain(pb); }, minus, 0},
      {"subPlainRaw", [&](CTileTensor& t) { t.subPlainRaw(pb); }, minus, 0},
      {"multiplyPlain", [&](CTileTensor& t) { t.multiplyPlain(pb); }, times, 1},
      {"multiplyPlainRaw", [&](CTileTensor& t) { t.multiplyPlainRaw(pb); }, times, 0},
      {"cb.addTo", [&](CTileTensor& t) { cb.addTo(t); }, plus, 0},
      {"cb.subFrom", [&](CTileTensor& t) { cb.subFrom(t); }, minus, 0},
      {"cb.multiplyTo", [&](CTileTensor& t) { cb.multiplyTo(t); }, times, 1},
      {"pb.addTo", [&](CTileTensor& t) { pb.addTo(t); }, plus, 0},
      {"pb.addToRaw", [&](CTileTensor& t) { pb.addToRaw(t); }, plus, 0},
      {"pb.subFrom", [&](CTileTensor& t) { pb.subFrom(t); }, minus, 0},
      {"pb.subFromRaw", [&](CTileTensor& t) { pb.subFromRaw(t); }, minus, 0},
      {"pb.multiplyTo", [&](CTileTensor& t) { pb.multiplyTo(t); }, times, 1},
      {"pb.multiplyToRaw", [&](CTileTensor& t) { pb.multiplyToRaw(t); }, times, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTileTensor t(ca);
    // Nothing can refuse: the tiles change in place, without copies.
    qvtest::startCounting(*he);
    c.op(t);
    EXPECT_EQ(qvtest::countOf(*he, RunStats::C_COPY), 0);
    EXPECT_LT(maxDiff(decrypted(t), combined(a, b, c.f)), 1e-12);
    EXPECT_EQ(t.getChainIndex(), he->getTopChainIndex() - c.chainIndexDrop);
    EXPECT_EQ(maxDiff(decrypted(cb), b), 0) << "the operand is unchanged";
  }
  // Returning twins leave this tensor unchanged.
  const std::vector<std::pair<std::function<CTileTensor()>, F>> twins = {
      {[&] { return ca.getAdd(cb); }, plus},
      {[&] { return ca.getAddRaw(cb); }, plus},
      {[&] { return ca.getSub(cb); }, minus},
      {[&] { return ca.getSubRaw(cb); }, minus},
      {[&] { return ca.getMultiply(cb); }, times},
      {[&] { return ca.getMultiplyRaw(cb); }, times},
      {[&] { return ca.getAddPlain(pb); }, plus},
      {[&] { return ca.getAddPlainRaw(pb); }, plus},
      {[&] { return ca.getSubPlain(pb); }, minus},
      {[&] { return ca.getSubPlainRaw(pb); }, minus},
      {[&] { return ca.getMultiplyPlain(pb); }, times},
      {[&] { return ca.getMultiplyPlainRaw(pb); }, times},
      {[&] { return pb.getAdd(ca); }, plus},
      {[&] { return pb.getAddRaw(ca); }, plus},
      {[&] { return pb.getMultiply(ca); }, times},
      {[&] { return pb.getMultiplyRaw(ca); }, times},
  };
  for (size_t i = 0; i < twins.size(); ++i) {
    const CTileTensor res = twins[i].first();
    EXPECT_LT(maxDiff(decrypted(res), combined(a, b, twins[i].second)), 1e-12) << i;
    EXPECT_EQ(maxDiff(decrypted(ca), a), 0) << i;
    EXPECT_EQ(ca.getChainIndex(), he->getTopChainIndex()) << i;
  }
  // An operand may be the tensor itself.
  CTileTensor twice(ca);
  twice.add(twice);
  EXPECT_LT(maxDiff(decrypted(twice), combined(a, a, plus)), 1e-12);

  // Where a tile operation could be refused after others changed (the tensor
  // itself as operand, another chain index to align), each tile works on a copy.
  const int tiles = ca.getNumUsedTiles();
  ASSERT_EQ(tiles, 2);
  const CTileTensor lower = encrypted(*he, shape, b, he->getTopChainIndex() - 1);
  const std::vector<std::pair<std::string, Op>> copying = {
      {"itself", [](CTileTensor& t) { t.multiply(t); }},
      {"a lower operand", [&](CTileTensor& t) { t.add(lower); }},
      {"a lower plaintext", [&](CTileTensor& t) {
         t.multiplyPlain(encoded(*he, shape, b, he->getTopChainIndex() - 1));
       }},
  };
  for (const auto& c : copying) {
    CTileTensor t(ca);
    qvtest::startCounting(*he);
    c.second(t);
    EXPECT_EQ(qvtest::countOf(*he, RunStats::C_COPY), tiles) << c.first;
  }
}

TEST_F(CTileTensorTest, BroadcastingDuplicatedDimensions)
{
  // [4/4, 16/4] has four tiles along dimension 1; [4/4, */4] one.
  const DoubleTensor full = randomTensor({4, 16}, 5);
  const DoubleTensor column = randomTensor({4, 1}, 6);
  const TTShape spread = shapeOf({TTDim(4, 4), TTDim(16, 4)});
  const TTShape dup = shapeOf({TTDim(4, 4), TTDim(1, 4, 4)});
  DoubleTensor expectedSum(full);
  DoubleTensor expectedProduct(full);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 16; ++j) {
      expectedSum.at(i, j) = full.at(i, j) + column.at(i, 0);
      expectedProduct.at(i, j) = full.at(i, j) * column.at(i, 0);
    }
  // The returning twins broadcast the operand's single tile as well.
  const CTileTensor spreadTensor = encrypted(*he, spread, full);
  EXPECT_LT(maxDiff(decrypted(spreadTensor.getAdd(encrypted(*he, dup, column))), expectedSum),
            1e-12);
  EXPECT_LT(maxDiff(decrypted(spreadTensor.getMultiplyPlain(encoded(*he, dup, column))),
                    expectedProduct),
            1e-12);

  // The operand's single tile serves every tile of this tensor.
  CTileTensor big = encrypted(*he, spread, full);
  const Tile* firstTile = &big.getTileByFlatIndex(0);
  big.add(encrypted(*he, dup, column));
  EXPECT_EQ(big.getShape().toString(), "[4/4, 16/4]");
  EXPECT_EQ(big.getNumUsedTiles(), 4);
  EXPECT_EQ(&big.getTileByFlatIndex(0), firstTile) << "the tiles stay in place";
  EXPECT_LT(maxDiff(decrypted(big), expectedSum), 1e-12);

  // This tensor's single tile is cloned into four positions.
  CTileTensor small = encrypted(*he, dup, column);
  small.multiply(encrypted(*he, spread, full));
  EXPECT_EQ(small.getShape().toString(), "[4/4, 16/4]");
  EXPECT_EQ(small.getNumUsedTiles(), 4);
  EXPECT_LT(maxDiff(decrypted(small), expectedProduct), 1e-12);
  EXPECT_LT(small.assertIntegrity(1e-9), 1e-9);

  // Additive broadcasting of a partial column over fewer used slots marks them unknown.
  const DoubleTensor part = randomTensor({3, 4}, 7);
  CTileTensor d = encrypted(*he, shapeOf({TTDim(1, 4, 4), TTDim(4, 4)}), randomTensor({1, 4}, 8));
  d.add(encrypted(*he, shapeOf({TTDim(3, 4), TTDim(4, 4)}), part));
  EXPECT_EQ(d.getShape().toString(), "[3?/4, 4/4]");
}

TEST_F(CTileTensorTest, BinaryOperationRefusals)
{
  const CTileTensor a = encrypted(*he, TTShape({4, 4}), randomTensor({3, 5}, 1));
  const CTileTensor other = encrypted(*he, TTShape({4, 4}), randomTensor({3, 4}, 1));
  const CTileTensor unpacked(*he);
  auto other16 = qvtest::createMockup(16, 5);
  const CTileTensor foreign = encrypted(*other16, TTShape({4, 4}), randomTensor({3, 5}, 1));
  using Call = std::function<void(CTileTensor&)>;
  struct Case
  {
    CTileTensor target;
    Call call;
    std::string message;
    bool invalidArgument;
  };
  const std::vector<Case> cases = {
      {a, [&](CTileTensor& t) { t.binaryOperation(a, ADDITIVE_ACTION_TYPE, &CTile::addTile,
                                                  [](CTile&, const Tile&) {}); },
       "Internal error: Both method pointer and function pointer were supplied.", true},
      {unpacked, [&](CTileTensor& t) { t.binaryOperation(a, ADDITIVE_ACTION_TYPE, nullptr); },
       "Internal error: No operator supplied. Either the method pointer or function pointer must "
       "be supplied.",
       true},
      {unpacked, [&](CTileTensor& t) { t.add(unpacked); }, "This tile tensor has not been packed",
       false},
      {a, [&](CTileTensor& t) { t.add(unpacked); }, "Other has not been encoded yet", true},
      {a, [&](CTileTensor& t) { t.add(other); },
       "Attempting action with an incompatible shape: [3/4, 4/4]", true},
      {a, [&](CTileTensor& t) { t.add(foreign); },
       "The other tile tensor belongs to another context (context id " +
           std::to_string(other16->getContextId()) + ", expected " +
           std::to_string(he->getContextId()) + ")",
       true},
  };
  for (Case c : cases) {
    const CTileTensor before(c.target);
    const std::string message =
        c.invalidArgument ? quietMessageOf<std::invalid_argument>([&] { c.call(c.target); })
                          : quietMessageOf<std::runtime_error>([&] { c.call(c.target); });
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(c.target.getShape(), before.getShape());
  }
}

// A double-dispatch member refuses as the direct operation would, with the
// tensors named as its caller sees them: for x.addTo(y), x is this tile tensor
// and y the other, although y carries the operation out. Shapes and context
// ids are printed in the caller's order, and nothing changes.
TEST_F(CTileTensorTest, DoubleDispatchRefusalsNameTheOperandsAsTheCallerSeesThem)
{
  const TTShape shape({4, 4});
  const CTileTensor x = encrypted(*he, shape, randomTensor({3, 5}, 1));
  const PTileTensor xp = encoded(*he, shape, randomTensor({3, 5}, 2));
  const CTileTensor mismatched = encrypted(*he, shape, randomTensor({3, 4}, 3));
  const CTileTensor unpacked(*he);
  auto other16 = qvtest::createMockup(16, 5);
  const CTileTensor foreign = encrypted(*other16, shape, randomTensor({3, 5}, 4));
  using Call = std::function<void(TileTensor&, CTileTensor&)>;
  auto c = [](TileTensor& t) -> CTileTensor& { return static_cast<CTileTensor&>(t); };
  auto p = [](TileTensor& t) -> PTileTensor& { return static_cast<PTileTensor&>(t); };
  struct Member
  {
    const char* name;
    bool plain;
    Call call;
    bool combines;
  };
  const Member members[] = {
      {"addTo", false, [&](TileTensor& s, CTileTensor& a) { c(s).addTo(a); }, true},
      {"addToRaw", false, [&](TileTensor& s, CTileTensor& a) { c(s).addToRaw(a); }, true},
      {"subFrom", false, [&](TileTensor& s, CTileTensor& a) { c(s).subFrom(a); }, true},
      {"subFromRaw", false, [&](TileTensor& s, CTileTensor& a) { c(s).subFromRaw(a); }, true},
      {"multiplyTo", false, [&](TileTensor& s, CTileTensor& a) { c(s).multiplyTo(a); }, true},
      {"multiplyToRaw", false, [&](TileTensor& s, CTileTensor& a) { c(s).multiplyToRaw(a); },
       true},
      {"multiplyAndSumTo", false,
       [&](TileTensor& s, CTileTensor& a) { c(s).multiplyAndSumTo(a, 0); }, true},
      {"setChainIndex", false, [&](TileTensor& s, CTileTensor& a) { c(s).setChainIndex(a); },
       false},
      {"getSetChainIndex", false,
       [&](TileTensor& s, CTileTensor& a) { c(s).getSetChainIndex(a); }, false},
      {"plaintext getMultiply", true, [&](TileTensor& s, CTileTensor& a) { p(s).getMultiply(a); },
       true},
      {"plaintext getMultiplyRaw", true,
       [&](TileTensor& s, CTileTensor& a) { p(s).getMultiplyRaw(a); }, true},
      {"plaintext getAdd", true, [&](TileTensor& s, CTileTensor& a) { p(s).getAdd(a); }, true},
      {"plaintext getAddRaw", true, [&](TileTensor& s, CTileTensor& a) { p(s).getAddRaw(a); },
       true},
      {"plaintext addTo", true, [&](TileTensor& s, CTileTensor& a) { p(s).addTo(a); }, true},
      {"plaintext addToRaw", true, [&](TileTensor& s, CTileTensor& a) { p(s).addToRaw(a); }, true},
      {"plaintext subFrom", true, [&](TileTensor& s, CTileTensor& a) { p(s).subFrom(a); }, true},
      {"plaintext subFromRaw", true, [&](TileTensor& s, CTileTensor& a) { p(s).subFromRaw(a); },
       true},
      {"plaintext multiplyTo", true, [&](TileTensor& s, CTileTensor& a) { p(s).multiplyTo(a); },
       true},
      {"plaintext multiplyToRaw", true,
       [&](TileTensor& s, CTileTensor& a) { p(s).multiplyToRaw(a); }, true},
      {"plaintext getMultiplyAndSum", true,
       [&](TileTensor& s, CTileTensor& a) { p(s).getMultiplyAndSum(a, 0); }, true},
      {"plaintext multiplyAndSumTo", true,
       [&](TileTensor& s, CTileTensor& a) { p(s).multiplyAndSumTo(a, 0); }, true},
      {"plaintext setChainIndex", true,
       [&](TileTensor& s, CTileTensor& a) { p(s).setChainIndex(a); }, false},
      {"plaintext getSetChainIndex", true,
       [&](TileTensor& s, CTileTensor& a) { p(s).getSetChainIndex(a); }, false},
  };
  struct Refusal
  {
    const char* name;
    bool packedSelf;
    const CTileTensor& arg;
    bool combinesOnly;
    bool invalidArgument;
    std::string message;
    std::string stderrLine;
  };
  const Refusal refusals[] = {
      {"unpacked argument", true, unpacked, false, true, "Other has not been encoded yet",
       ""},
      {"unpacked caller", false, x, false, false, "This tile tensor has not been packed", ""},
      {"mismatched shapes", true, mismatched, true, true,
       "Attempting action with an incompatible shape: [3/4, 4/4]",
       "In this shape: [3/4, 5/4]\n"},
      {"another context", true, foreign, true, true,
       "The other tile tensor belongs to another context (context id " +
           std::to_string(other16->getContextId()) + ", expected " +
           std::to_string(he->getContextId()) + ")",
       ""},
  };
  for (const Member& m : members) {
    for (const Refusal& r : refusals) {
      if (r.combinesOnly && !m.combines)
        continue;
      SCOPED_TRACE(std::string(m.name) + ", " + r.name);
      std::unique_ptr<TileTensor> self;
      if (m.plain)
        self = std::make_unique<PTileTensor>(r.packedSelf ? xp : PTileTensor(*he));
      else
        self = std::make_unique<CTileTensor>(r.packedSelf ? x : CTileTensor(*he));
      CTileTensor arg(r.arg);
      const std::string selfBefore = r.packedSelf ? qvtest::saved(*self) : "";
      const std::string argBefore = arg.isPacked() ? qvtest::saved(arg) : "";
      testing::internal::CaptureStderr();
      if (r.invalidArgument) {
        qvtest::expectThrowWithMessage<std::invalid_argument>([&] { m.call(*self, arg); },
                                                              r.message);
      } else {
        qvtest::expectThrowWithMessage<std::runtime_error>([&] { m.call(*self, arg); }, r.message);
      }
      const std::string err = testing::internal::GetCapturedStderr();
      if (!r.stderrLine.empty()) {
        EXPECT_NE(err.find(r.stderrLine), std::string::npos) << err;
      }
      if (r.packedSelf) {
        EXPECT_EQ(qvtest::saved(*self), selfBefore);
      }
      if (arg.isPacked()) {
        EXPECT_EQ(qvtest::saved(arg), argBefore);
      }
    }
  }
}

TEST_F(CTileTensorTest, FailedOperationsLeaveTheTensorAsItWas)
{
  const DoubleTensor values = randomTensor({3, 5}, 9);
  CTileTensor c = encrypted(*he, TTShape({4, 4}), values, 2);
  // Tile 1 sits at chain index 0, where a multiplication cannot rescale.
  c.getMutableTile(1).setChainIndex(0);
  const CTileTensor operand = encrypted(*he, TTShape({4, 4}), randomTensor({3, 5}, 10), 2);
  EXPECT_THROW(c.multiply(operand), std::invalid_argument);
  EXPECT_EQ(c.getTile(0).getChainIndex(), 2) << "tile 0 was not committed";
  EXPECT_EQ(maxDiff(decrypted(c), values), 0);
  EXPECT_THROW(c.rescale(), std::invalid_argument);
  EXPECT_EQ(c.getTile(0).getChainIndex(), 2);
  EXPECT_EQ(maxDiff(decrypted(c), values), 0);

  // The broadcasting path changes neither the shape nor the tiles on failure.
  CTileTensor dup = encrypted(*he, shapeOf({TTDim(4, 4), TTDim(1, 4, 4)}), randomTensor({4, 1}, 1), 0);
  const TTShape dupShape = dup.getShape();
  EXPECT_THROW(dup.multiply(encrypted(*he, shapeOf({TTDim(4, 4), TTDim(16, 4)}),
                                      randomTensor({4, 16}, 1), 0)),
               std::invalid_argument);
  EXPECT_EQ(dup.getShape(), dupShape);
  EXPECT_EQ(dup.getNumUsedTiles(), 1);
}

TEST_F(CTileTensorTest, OperationsOnEveryTile)
{
  const DoubleTensor a = randomTensor({3, 5}, 11);
  const CTileTensor ca = encrypted(*he, TTShape({4, 4}), a);
  const int top = he->getTopChainIndex();
  const auto square = [](double x, double) { return x * x; };
  const auto negate = [](double x, double) { return -x; };
  const auto same = [](double x, double) { return x; };
  struct Case
  {
    std::string name;
    std::function<void(CTileTensor&)> op;
    std::function<double(double, double)> f;
    int chainIndex;
  };
  const std::vector<Case> cases = {
      {"square", [](CTileTensor& t) { t.square(); }, square, top - 1},
      {"squareRaw", [](CTileTensor& t) { t.squareRaw(); }, square, top},
      {"squareRaw relinearizeAndRescale",
       [](CTileTensor& t) {
         t.squareRaw();
         t.relinearizeAndRescale();
       },
       square, top - 1},
      {"negate", [](CTileTensor& t) { t.negate(); }, negate, top},
      {"relinearize", [](CTileTensor& t) { t.relinearize(); }, same, top},
      {"rescale", [](CTileTensor& t) { t.rescale(); }, same, top - 1},
      {"reduceChainIndex", [](CTileTensor& t) { t.reduceChainIndex(); }, same, top - 1},
      {"setChainIndex", [](CTileTensor& t) { t.setChainIndex(2); }, same, 2},
      {"reEncrypt", [](CTileTensor& t) {
         t.setChainIndex(1);
         t.reEncrypt();
       },
       same, top},
      {"adjustChainIndex up", [](CTileTensor& t) {
         t.setChainIndex(1);
         t.adjustChainIndex(3);
       },
       same, 3},
      {"adjustChainIndex down", [](CTileTensor& t) { t.adjustChainIndex(3); }, same, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTileTensor t(ca);
    c.op(t);
    EXPECT_LT(maxDiff(decrypted(t), combined(a, a, c.f)), 1e-12);
    EXPECT_EQ(t.getChainIndex(), c.chainIndex);
    EXPECT_EQ(t.getTile(1).getChainIndex(), c.chainIndex);
  }
  const std::vector<std::pair<CTileTensor, int>> twins = {
      {ca.getSquare(), top - 1},      {ca.getSquareRaw(), top},
      {ca.getRelinearize(), top},     {ca.getRescale(), top - 1},
      {ca.getReduceChainIndex(), top - 1}, {ca.getSetChainIndex(1), 1},
      {ca.getSetChainIndex(ca.getSetChainIndex(2)), 2},
  };
  for (const auto& t : twins)
    EXPECT_EQ(t.first.getChainIndex(), t.second);
  EXPECT_EQ(ca.getChainIndex(), top);
  EXPECT_EQ(maxDiff(decrypted(ca), a), 0);

  // Aligning lowers every tile to the lowest chain index.
  CTileTensor three = encrypted(*he, TTShape({2, 8}), randomTensor({6, 8}, 12));
  three.getMutableTile(0).setChainIndex(3);
  three.getMutableTile(1).setChainIndex(5);
  three.getMutableTile(2).setChainIndex(4);
  three.alignChainIndexes();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(three.getTile(i).getChainIndex(), 3);
}

TEST_F(CTileTensorTest, Bootstrapping)
{
  auto bs = qvtest::createMockup(qvtest::bootstrappable(16, 12));
  const DoubleTensor a = randomTensor({3, 5}, 13);
  CTileTensor c = encrypted(*bs, TTShape({4, 4}), a, bs->getMinChainIndexForBootstrapping());
  c.bootstrap();
  EXPECT_EQ(c.getChainIndex(), bs->getChainIndexAfterBootstrapping());
  EXPECT_LT(maxDiff(decrypted(c), a), 1e-9);
  EXPECT_THROW(encrypted(*he, TTShape({4, 4}), a).bootstrap(), std::runtime_error);
}

TEST_F(CTileTensorTest, Scalars)
{
  const DoubleTensor a = randomTensor({3, 5}, 14);
  const CTileTensor ca = encrypted(*he, TTShape({4, 4}), a);
  const int top = he->getTopChainIndex();
  const auto plus2 = [](double x, double) { return x + 2; };

  CTileTensor added(ca);
  added.addScalar(2);
  EXPECT_EQ(added.getShape().toString(), "[3?/4, 5?/4]");
  EXPECT_LT(maxDiff(decrypted(added), combined(a, a, plus2)), 1e-12);
  EXPECT_EQ(added.getChainIndex(), top);
  EXPECT_LT(added.assertIntegrity(1e-9), 1e-9) << "the unknown unused slots are skipped";
}

TEST_F(CTileTensorTest, ScalarsKeepingUnknownsClear)
{
  const DoubleTensor a = randomTensor({3, 5}, 14);
  const CTileTensor ca = encrypted(*he, TTShape({4, 4}), a);
  const int top = he->getTopChainIndex();
  CTileTensor kept(ca);
  kept.addScalar(2, true);
  EXPECT_EQ(kept.getShape().toString(), "[3/4, 5/4]");
  EXPECT_LT(kept.assertIntegrity(1e-9), 1e-9) << "unused slots still hold 0";

  CTileTensor scaled(ca.getAddScalar(1));
  EXPECT_TRUE(scaled.getShape().containsUnknownUnusedSlots());
  scaled.clearUnknowns();
  EXPECT_EQ(scaled.getShape().toString(), "[3/4, 5/4]");
  EXPECT_EQ(scaled.getChainIndex(), top - 1);
  EXPECT_LT(scaled.assertIntegrity(1e-9), 1e-9);
  CTileTensor clean(ca);
  clean.clearUnknowns();
  EXPECT_EQ(clean.getChainIndex(), top) << "nothing to clear: no chain index consumed";

  const CTileTensor tripled = ca.getMultiplyScalar(3);
  EXPECT_LT(maxDiff(decrypted(tripled), combined(a, a, [](double x, double) { return 3 * x; })),
            1e-12);
  EXPECT_EQ(tripled.getChainIndex(), top - 1);
  const PTileTensor mask = ca.getPlainScalarMask(0.5);
  EXPECT_EQ(mask.getChainIndex(), top);
  EXPECT_EQ(Encoder(*he).decodeDouble(mask.getTile(1)),
            std::vector<double>({0.5, 0, 0, 0, 0.5, 0, 0, 0, 0.5, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(maxDiff(decrypted(ca.getClearUnknowns()), a), 0);
}

TEST_F(CTileTensorTest, ComplexPackedSlotOperations)
{
  // Two values share a slot; scalar addition and re-encryption keep both parts.
  const TTShape shape = shapeOf({TTDim(2, 2), TTDim(12, 8, 1, false, false, true)});
  const DoubleTensor a = randomTensor({2, 12}, 15);
  CTileTensor c = encrypted(*he, shape, a);
  c.addScalar(1.5);
  EXPECT_LT(maxDiff(decrypted(c), combined(a, a, [](double x, double) { return x + 1.5; })), 1e-12);
  CTileTensor k = encrypted(*he, shape, a);
  k.addScalar(1.5, true);
  EXPECT_LT(maxDiff(decrypted(k), combined(a, a, [](double x, double) { return x + 1.5; })), 1e-12);
  CTileTensor r = encrypted(*he, shape, a, 1);
  r.reEncrypt();
  EXPECT_EQ(r.getChainIndex(), he->getTopChainIndex());
  EXPECT_LT(maxDiff(decrypted(r), a), 1e-12);
  r.setChainIndex(1);
  r.adjustChainIndex(4);
  EXPECT_LT(maxDiff(decrypted(r), a), 1e-12);
}

TEST_F(CTileTensorTest, ProductsWithinComplexPackedSlotsAreRefused)
{
  // A tile's square gives (a + bi)^2 = a^2 - b^2 + 2abi where a^2 + b^2 i is meant.
  const TTShape shape = shapeOf({TTDim(2, 2), TTDim(12, 8, 1, false, false, true)});
  const DoubleTensor a = randomTensor({2, 12}, 16);
  const std::string squaring = "Squaring is currently not supported for complex-packed dimensions";
  const std::string incompatible = "Attempting action with an incompatible shape: " +
                                   shape.toString();
  struct Case
  {
    std::string name;
    std::function<void(CTileTensor&)> op;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"square", [](CTileTensor& t) { t.square(); }, squaring},
      {"squareRaw", [](CTileTensor& t) { t.squareRaw(); }, squaring},
      {"getSquare", [](CTileTensor& t) { t.getSquare(); }, squaring},
      {"getSquareRaw", [](CTileTensor& t) { t.getSquareRaw(); }, squaring},
      {"multiply", [](CTileTensor& t) { t.multiply(CTileTensor(t)); }, incompatible},
      {"multiplyRaw", [](CTileTensor& t) { t.multiplyRaw(CTileTensor(t)); }, incompatible},
      {"multiplyPlain",
       [&](CTileTensor& t) { t.multiplyPlain(encoded(*he, shape, a)); }, incompatible},
  };
  for (const Case& c : cases) {
    CTileTensor t = encrypted(*he, shape, a, 3);
    EXPECT_EQ(quietMessageOf<std::invalid_argument>([&] { c.op(t); }), c.message) << c.name;
    EXPECT_EQ(t.getShape(), shape) << c.name;
    EXPECT_EQ(t.getChainIndex(), 3) << c.name;
    EXPECT_EQ(maxDiff(decrypted(t), a), 0) << c.name;
  }
  // An unpacked tensor is refused as such first.
  CTileTensor unpacked(*he, shape);
  EXPECT_EQ(quietMessageOf<std::runtime_error>([&] { unpacked.square(); }),
            "This tile tensor has not been packed");

  // A real operand fully duplicated along the complex-packed dimension scales
  // both values of a slot alike.
  DoubleTensor scale({2, 1});
  scale.at(0) = 2;
  scale.at(1) = -3;
  const TTShape dup = shapeOf({TTDim(2, 2), TTDim(1, 8, 8)});
  const DoubleTensor expected =
      qvtest::tensorOf({2, 12}, [&](const std::vector<int>& i) {
        return a.at(i[0], i[1]) * scale.at(i[0], 0);
      });
  CTileTensor c = encrypted(*he, shape, a);
  c.multiply(encrypted(*he, dup, scale));
  EXPECT_EQ(c.getShape(), shape);
  EXPECT_LT(maxDiff(decrypted(c), expected), 1e-12);
  CTileTensor p = encrypted(*he, shape, a);
  p.multiplyPlain(encoded(*he, dup, scale));
  EXPECT_LT(maxDiff(decrypted(p), expected), 1e-12);
}

TEST_F(CTileTensorTest, IntegrityCheck)
{
  CTileTensor c = encrypted(*he, TTShape({4, 4}), randomTensor({3, 5}, 16));
  EXPECT_LT(c.assertIntegrity(1e-6), 1e-12);
  // Slot 3 of tile 0 is unused (column 3 of 5 lies in tile 0; row 3 is unused).
  CTile& tile = static_cast<CTile&>(c.getMutableTile(0));
  std::vector<double> bump(16, 0);
  bump[15] = 0.5;
  CTile bumpTile(*he);
  Encoder(*he).encodeEncrypt(bumpTile, bump);
  tile.add(bumpTile);
  qvtest::CoutCapture out;
  qvtest::expectThrowWithMessage<std::runtime_error>([&] { c.assertIntegrity(1e-6); },
                                                     "Tile tensor integrity check failed.");
  EXPECT_EQ(out.str().rfind("Tile tensor integrity check failed.\nAt an unused slot location\n"
                            "Tile tensor iterator at current position:\n",
                            0),
            0u);
  EXPECT_NE(out.str().find("Actual value: 0.5\nExpected value: 0\nDiff: 0.5\nEpsilon: 1e-06\n"),
            std::string::npos)
      << out.str();
}

TEST_F(CTileTensorTest, SavedForm)
{
  const std::string header = qvtest::headerBytes("CTileTensor", he->getContextId());
  EXPECT_EQ(qvtest::saved(CTileTensor(*he)), header + std::string(1, '\0'));

  const CTileTensor c = encrypted(*he, TTShape({2, 8}), randomTensor({4, 17}, 17));
  EXPECT_EQ(c.getShape().getExternalSizes(), std::vector<int>({2, 3}));
  std::string expected = header + std::string(1, '\1');
  std::ostringstream shapeBytes;
  c.getShape().save(shapeBytes);
  expected += shapeBytes.str();
  for (int i = 0; i < 6; ++i)
    expected += qvtest::saved(c.getTile(i));
  EXPECT_EQ(qvtest::saved(c), expected);

  std::istringstream in(expected);
  auto loaded = std::dynamic_pointer_cast<CTileTensor>(Saveable::loadSaveable(*he, in));
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->getShape(), c.getShape());
  EXPECT_EQ(maxDiff(decrypted(*loaded), decrypted(c)), 0);
  // Loading an unpacked body empties the tensor.
  std::istringstream emptyIn(header + std::string(1, '\0'));
  loaded->load(emptyIn);
  EXPECT_FALSE(loaded->isPacked());
  EXPECT_EQ(loaded->getShape().getNumDims(), 0);
}

TEST_F(CTileTensorTest, LoadRefusals)
{
  const std::string header = qvtest::headerBytes("CTileTensor", he->getContextId());
  const CTileTensor c = encrypted(*he, TTShape({2, 8}), randomTensor({4, 17}, 18));
  const std::string body = qvtest::saved(c).substr(header.size());
  auto shapeRecord = [](const TTShape& s) {
    std::ostringstream out;
    s.save(out);
    return out.str();
  };
  TTShape thirtyTwo({4, 8});
  thirtyTwo.setOriginalSizes({4, 8});
  TTShape many({16, 1});
  many.setOriginalSizes({16, 200000});
  const std::vector<std::pair<std::string, std::string>> cases = {
      {std::string(1, '\1') + shapeRecord(TTShape({16})),
       "Invalid saved CTileTensor: the shape [-1/16] is incomplete"},
      {std::string(1, '\1') + shapeRecord(thirtyTwo),
       "Invalid saved CTileTensor: the shape has 32 slots in a tile, the context has 16"},
      {std::string(1, '\1') + shapeRecord(many),
       "Invalid saved CTileTensor: the shape has 200000 tiles, expected at most 100000"},
      {std::string(1, '\1') + shapeRecord(TTShape()),
       "Invalid saved CTileTensor: a packed tensor needs a shape with dimensions"},
      {body.substr(0, body.size() - 3),
       "Input stream ended or failed while reading "},
      {body.substr(0, 1 + shapeRecord(c.getShape()).size()) + qvtest::saved(PTile(*he)),
       "loading failed due to a mismatching class name field"},
  };
  for (const auto& k : cases) {
    CTileTensor target = encrypted(*he, TTShape({16}), randomTensor({3}, 1));
    std::istringstream in(header + k.first);
    const std::string message = qvtest::quietMessageOf<std::runtime_error>([&] { target.load(in); });
    EXPECT_EQ(message.substr(0, k.second.size()), k.second) << message;
    EXPECT_EQ(target.getShape().toString(), "[3/16]");
    EXPECT_EQ(target.getNumUsedTiles(), 1);
  }
}

TEST_F(CTileTensorTest, Printing)
{
  const CTileTensor c = encrypted(*he, TTShape({4, 4}), randomTensor({3, 5}, 19), 3);
  std::ostringstream none;
  c.debugPrint("T", VERBOSITY_NONE, none);
  EXPECT_EQ(none.str(), "");
  EXPECT_EQ(c.toString(VERBOSITY_LOW), "CTileTensor [3/4, 5/4] CI=3 tiles=2 memory=-0.000 GB\n");
  const std::string regular = c.toString(VERBOSITY_REGULAR);
  EXPECT_NE(regular.find("\nTile tensor logical content:\n"), std::string::npos);
  const std::string detailed = c.toString(VERBOSITY_DETAILED);
  EXPECT_NE(detailed.find("Tile Tensor Tiles:\n[0, 0]\n"), std::string::npos);
  EXPECT_NE(detailed.find("[0, 1]\n"), std::string::npos);
}

// An unpacked tensor prints as an unpacked plaintext tile tensor does: its
// kind, title, shape and "packed=0".
TEST_F(CTileTensorTest, UnpackedTensorsPrintTheirShape)
{
  for (const TTShape& shape : {TTShape(), shapeOf({TTDim(3, 4), TTDim(5, 4)})}) {
    const CTileTensor c(*he, shape);
    const PTileTensor p(*he, shape);
    for (Verbosity v : {VERBOSITY_NONE, VERBOSITY_LOW, VERBOSITY_REGULAR, VERBOSITY_DETAILED,
                        VERBOSITY_EXTRA_DETAILED}) {
      std::string expected = p.toString(v);
      if (v != VERBOSITY_NONE)
        expected.replace(0, 1, "C");
      EXPECT_EQ(c.toString(v), expected);
    }
    std::ostringstream out;
    c.debugPrint("T", VERBOSITY_LOW, out);
    EXPECT_EQ(out.str(), "CTileTensor T: " + shape.toString() + " packed=0");
  }
  EXPECT_EQ(CTileTensor(*he).toString(VERBOSITY_LOW), "CTileTensor [] packed=0");
}
