#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "math/TTDim.h"

using namespace quorvane;
using qvtest::Bytes;
using qvtest::expectAssertion;
using qvtest::expectThrowWithMessage;

namespace {

std::string savedDim(const TTDim& dim)
{
  std::ostringstream out;
  const std::streamoff written = dim.save(out);
  EXPECT_EQ(written, static_cast<std::streamoff>(out.str().size()));
  return out.str();
}

TTDim interleaved(int originalSize, int tileSize, int divisor = 1)
{
  TTDim dim(originalSize, tileSize);
  dim.setInterleaved(true, divisor);
  return dim;
}

TTDim complexDim(int originalSize, int tileSize, int numDuplicated = 1)
{
  return TTDim(originalSize, tileSize, numDuplicated, false, false, true);
}

} // namespace

TEST(TTDim, Notation)
{
  TTDim incompleteComplex(-1, 4, 1, false, false, true);
  incompleteComplex.duplicate();
  TTDim raised(3, 2);
  raised.setInterleaved(true);
  raised.setInterleavedExternalSize(4);
  const std::vector<std::pair<TTDim, std::string>> cases = {
      {TTDim(4, 2), "4/2"},
      {TTDim(1, 8, 8), "*/8"},
      {TTDim(1, 8, 3), "*3/8"},
      {TTDim(3, 4, 1, true), "3?/4"},
      {interleaved(10, 4, 4), "10~4/4"},
      {interleaved(10, 4), "10~/4"},
      {raised, "3~4/2"},
      {complexDim(8, 4), "8(c)/4"},
      {TTDim(5, 1), "5"},
      {TTDim(-1, 16), "-1/16"},
      {complexDim(1, 4, 2), "*2(c)/4"},
      {incompleteComplex, "*(c)/4"},
      {TTDim(5, 8, 1, true, true), "5?~/8"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.first.toString(), c.second);
    std::ostringstream out;
    c.first.debugPrint("ignored", VERBOSITY_NONE, out);
    EXPECT_EQ(out.str(), c.second);
  }
}

TEST(TTDim, DerivedQuantities)
{
  struct Case
  {
    TTDim dim;
    int originalSlots, duplicatedSlots, minExternal, external, used, unused, maxUsedInTile;
  };
  const std::vector<Case> cases = {
      {TTDim(5, 4), 5, 1, 2, 2, 5, 3, 4},
      {TTDim(3, 4), 3, 1, 1, 1, 3, 1, 3},
      {TTDim(-1, 4), -1, 1, -1, -1, -1, -1, 4},
      {TTDim(1, 8, 8), 1, 8, 1, 1, 8, 0, 8},
      {TTDim(1, 8, 3), 1, 3, 1, 1, 3, 5, 3},
      {interleaved(10, 4, 4), 10, 1, 3, 4, 10, 6, 3},
      {complexDim(8, 4), 4, 1, 1, 1, 4, 0, 8},
      {complexDim(12, 4), 6, 1, 2, 2, 6, 2, 4},
      {complexDim(1, 4, 2), 1, 1, 1, 1, 1, 3, 2},
      {TTDim(7, 1), 7, 1, 7, 7, 7, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dim.toString());
    EXPECT_EQ(c.dim.getOriginalSizeSlots(), c.originalSlots);
    EXPECT_EQ(c.dim.getNumDuplicatedSlots(), c.duplicatedSlots);
    EXPECT_EQ(c.dim.getMinExternalSize(), c.minExternal);
    EXPECT_EQ(c.dim.getExternalSize(), c.external);
    EXPECT_EQ(c.dim.getNumUsedSlots(), c.used);
    EXPECT_EQ(c.dim.getNumUnusedSlots(), c.unused);
    EXPECT_EQ(c.dim.getMaxUsedSlotsInTile(), c.maxUsedInTile);
  }
  EXPECT_TRUE(TTDim(1, 8, 8).isFullyDuplicated());
  EXPECT_FALSE(TTDim(1, 8, 4).isFullyDuplicated());
  EXPECT_TRUE(TTDim(-1, 8).isIncomplete());
  EXPECT_TRUE(TTDim(7, 1).isDegenerateTile());
}

TEST(TTDim, ValidationRulesInOrder)
{
  using Make = std::function<void()>;
  const std::vector<std::pair<Make, std::string>> cases = {
      {[] { TTDim(-1, 4, 2); }, "Incomplete shape must not have duplicated or unknown values"},
      {[] { TTDim(-1, 4, 1, true); },
       "Incomplete shape must not have duplicated or unknown values"},
      {[] { TTDim(0, 4); },
       "Original size must be a positive number (or -1 to mark an incomplete dimension)"},
      {[] { TTDim(-2, 4); },
       "Original size must be a positive number (or -1 to mark an incomplete dimension)"},
      {[] { TTDim(4, 0); }, "Tile size must be a positive number"},
      {[] { TTDim(4, -8); }, "Tile size must be a positive number"},
      {[] { TTDim(4, 3); }, "Tile size must be a power of 2"},
      {[] { TTDim(1, 4, 0); }, "Number of duplicated values must be a positive number"},
      {[] { TTDim(1, 4, 5); }, "Number of duplicated values must not exceed the size of the tile"},
      {[] { TTDim(2, 8, 2); }, "Cannot have duplicated values when original size is greater than 1"},
      {[] { TTDim(8, 4, 1, true); },
       "Cannot have unknown values: dimension sizes leave no unused slots"},
      {[] { TTDim(1, 4, 4, true); },
       "Cannot have unknown values: dimension duplicated values leave no unused slots "},
      {[] { TTDim(8, 4, 1, false, true, true); },
       "complex-packing currently does not support the interleaved mode"},
      {[] { complexDim(3, 4); }, "complex-packing currently supports only even number of values"},
      {[] { complexDim(1, 4); }, "complex-packing currently supports only even number of values"},
      {[] { complexDim(1, 4, 3); },
       "complex-packing currently supports only even number of duplicated values"},
      {[] {
         TTDim d(1, 4, 2, false, true);
         d.setInterleavedExternalSize(2);
       },
       "Cannot have duplicated values when external size is greater than 1"},
  };
  for (const auto& c : cases)
    expectThrowWithMessage<std::invalid_argument>(c.first, c.second);
  // Unknown slots are allowed when interleaving leaves some.
  EXPECT_EQ(TTDim(8, 4, 1, true, true).toString(), "8?~/4");
}

TEST(TTDim, RefusedChangesLeaveTheDimensionAsItWas)
{
  using Change = std::function<void(TTDim&)>;
  const std::vector<std::pair<Change, std::string>> cases = {
      {[](TTDim& d) { d.setTileSize(3); }, "Tile size must be a power of 2"},
      {[](TTDim& d) { d.setTileSize(0); }, "Tile size must be a positive number"},
      {[](TTDim& d) { d.setNumDuplicated(0); },
       "Number of duplicated values must be a positive number"},
      {[](TTDim& d) { d.setNumDuplicated(2); },
       "Cannot have duplicated values when original size is greater than 1"},
      {[](TTDim& d) { d.setOriginalSize(0); },
       "Original size must be a positive number (or -1 to mark an incomplete dimension)"},
      {[](TTDim& d) { d.setOriginalSize(-1); },
       "Incomplete shape must not have duplicated or unknown values"},
  };
  for (const auto& c : cases) {
    TTDim dim(6, 4, 1, true);
    const TTDim before = dim;
    expectThrowWithMessage<std::invalid_argument>([&] { c.first(dim); }, c.second);
    EXPECT_EQ(dim, before) << c.second;
    EXPECT_EQ(dim.toString(), "6?/4");
    // The derived sizes still work on the restored fields.
    EXPECT_EQ(dim.getNumUnusedSlots(), 2);
  }
  TTDim complexFour = complexDim(4, 4);
  expectThrowWithMessage<std::invalid_argument>([&] { complexFour.setOriginalSize(5); },
                                                "complex-packing currently supports only even "
                                                "number of values");
  expectThrowWithMessage<std::invalid_argument>(
      [&] { complexFour.setInterleaved(true); },
      "complex-packing currently does not support the interleaved mode");
  EXPECT_EQ(complexFour.toString(), "4(c)/4");
}

TEST(TTDim, SettersChainAndApply)
{
  TTDim dim(5, 4);
  EXPECT_EQ(&dim.setTileSize(8), &dim);
  EXPECT_EQ(dim.toString(), "5/8");
  dim.setTileSize(2).setAreUnusedSlotsUnknown(true);
  EXPECT_EQ(dim.toString(), "5?/2");
  dim.setAreUnusedSlotsUnknown(false).setOriginalSize(4).setUnusedSlotsUnknown();
  EXPECT_EQ(dim.toString(), "4/2") << "no unused slots: the flag stays off";
  dim.setOriginalSize(3).setUnusedSlotsUnknown();
  EXPECT_EQ(dim.toString(), "3?/2");
  TTDim incomplete(-1, 4);
  incomplete.setUnusedSlotsUnknown();
  EXPECT_FALSE(incomplete.getAreUnusedSlotsUnknown());
  dim.setIncomplete();
  EXPECT_EQ(dim.toString(), "-1/2");
  EXPECT_FALSE(dim.getAreUnusedSlotsUnknown());
}

TEST(TTDim, Duplication)
{
  TTDim incomplete(-1, 4);
  incomplete.duplicate();
  EXPECT_EQ(incomplete.toString(), "*/4");
  EXPECT_EQ(incomplete.getNumDuplicated(), 4);
  EXPECT_TRUE(incomplete.isFullyDuplicated());

  TTDim single(1, 8);
  single.duplicate(3);
  EXPECT_EQ(single.toString(), "*3/8");

  TTDim complexIncomplete(-1, 4, 1, false, false, true);
  complexIncomplete.duplicate();
  EXPECT_EQ(complexIncomplete.getNumDuplicated(), 8);
  EXPECT_EQ(complexIncomplete.getNumDuplicatedSlots(), 4);
  EXPECT_EQ(complexIncomplete.toString(), "*(c)/4");

  TTDim il(-1, 4);
  il.setInterleaved(true);
  il.duplicate();
  EXPECT_EQ(il.getExternalSize(), 1);

  TTDim partial(1, 8, 4);
  EXPECT_EQ(partial.toString(), "*4/8");
  EXPECT_FALSE(partial.isFullyDuplicated());
  expectThrowWithMessage<std::invalid_argument>([&] { partial.duplicate(); },
                                                "Dimension already duplicated");
  for (int dup : {0, -2})
    expectThrowWithMessage<std::invalid_argument>([&] { partial.duplicate(dup); },
                                                  "Illegaul value to duplicate: " +
                                                      std::to_string(dup));
  TTDim big(5, 4);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { big.duplicate(); }, "Dimension has size larger than 1 and cannot be duplicated");
  TTDim tooMany(1, 4);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { tooMany.duplicate(5); },
      "Number of duplicated values must not exceed the size of the tile");
  EXPECT_EQ(tooMany.toString(), "1/4");
}

TEST(TTDim, InterleavedExternalSize)
{
  TTDim dim = interleaved(10, 4, 4);
  EXPECT_EQ(dim.getExternalSize(), 4);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { dim.setInterleavedExternalSize(2); },
      "Trying to set to dim [10~4/4] an external size 2 smaller than the minimum 3");
  dim.setInterleavedExternalSize(6);
  EXPECT_EQ(dim.toString(), "10~6/4");
  dim.setInterleaved(true, 2);
  EXPECT_EQ(dim.getExternalSize(), 4) << "3 raised to a multiple of 2";
  dim.setInterleaved(false);
  EXPECT_EQ(dim.toString(), "10/4");
  EXPECT_EQ(dim.getExternalSize(), 3);
  expectAssertion([&] { dim.setInterleavedExternalSize(5); }, "setInterleavedExternalSize",
                  "interleaved");

  // Keeping the interleaved placing takes the smaller of size and external size.
  TTDim kept = interleaved(10, 4, 4);
  kept.setOriginalSize(2, true);
  EXPECT_EQ(kept.toString(), "2~2/4") << "external size min(2, 4) = 2, minimum 1";
  EXPECT_EQ(kept.getExternalSize(), 2);

  // An incomplete interleaved dimension with external size 0 divides by nothing.
  TTDim incomplete(-1, 4);
  incomplete.setInterleaved(true);
  incomplete.setInterleavedExternalSize(0);
  EXPECT_EQ(incomplete.getMaxUsedSlotsInTile(), 4);
}

TEST(TTDim, SlotsBeyondAnIntAreRefused)
{
  TTDim dim = interleaved(1 << 30, 4);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { dim.setInterleavedExternalSize(1 << 29); },
      "The dimension spans more slots than an int can count");
  EXPECT_EQ(dim.getExternalSize(), 1 << 28);
  dim.setInterleavedExternalSize((1 << 29) - 1);
  EXPECT_EQ(dim.getNumUnusedSlots(), ((1 << 29) - 1) * 4 - (1 << 30));
  // A complex-packed dimension duplicated over a tile of 2^30 slots would hold 2^31 values.
  TTDim complexWide = complexDim(-1, 1 << 30);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { complexWide.duplicate(); },
      "Duplicating dim [-1(c)/1073741824] over its tile takes 2147483648 values, more than an "
      "int can count");
  EXPECT_TRUE(complexWide.isIncomplete());
  // So are those an incomplete interleaved dimension keeps an external size for.
  TTDim incomplete = interleaved(-1, 4);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { incomplete.setInterleavedExternalSize(1 << 29); },
      "The dimension spans more slots than an int can count");
  incomplete.setInterleavedExternalSize((1 << 29) - 1);
  // Whole blocks of 2^30 slots round the size up to 2^31 slots.
  TTDim diagonal(0x7fffffff, 1);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { diagonal.setDiagonalized(true, 1 << 30); },
      "The dimension spans more slots than an int can count");
  EXPECT_EQ(diagonal, TTDim(0x7fffffff, 1));
}

TEST(TTDim, InterleavedSpreadIsBounded)
{
  // 3 values may take up to 12 tiles, whatever the tile size.
  const std::string perValue = " tiles, more than 4 tiles per value";
  struct Case
  {
    std::string name;
    int raisedTo; // the external size set before the change, when positive
    std::function<void(TTDim&)> change;
    std::string message; // empty: accepted
  };
  const std::vector<Case> cases = {
      {"at the bound", 0, [](TTDim& d) { d.setInterleavedExternalSize(12); }, ""},
      {"one above", 0, [](TTDim& d) { d.setInterleavedExternalSize(13); },
       "The interleaved dimension [3~13/4] spreads 3 values over 13" + perValue},
      {"a flipped high bit", 0, [](TTDim& d) { d.setInterleavedExternalSize(1 + (1 << 20)); },
       "The interleaved dimension [3~1048577/4] spreads 3 values over 1048577" + perValue},
      {"a divisor", 0, [](TTDim& d) { d.setInterleaved(true, 16); },
       "The interleaved dimension [3~16/4] spreads 3 values over 16" + perValue},
      {"a reduced size with its own external size", 0,
       [](TTDim& d) { d.reduceOriginalSize(2, 8); }, ""},
      {"a reduced size keeping the tiles", 12, [](TTDim& d) { d.reduceOriginalSize(2); },
       "The interleaved dimension [2~12/4] spreads 2 values over 12" + perValue},
      {"a size kept by slicing", 12, [](TTDim& d) { d.setOriginalSize(2, true); }, ""},
      {"an incomplete dimension", 0,
       [](TTDim& d) {
         d.setIncomplete();
         d.setInterleavedExternalSize(99);
       },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTDim dim = interleaved(3, 4);
    if (c.raisedTo > 0)
      dim.setInterleavedExternalSize(c.raisedTo);
    const TTDim before = dim;
    const std::string message =
        qvtest::messageOf<std::invalid_argument>([&] { c.change(dim); });
    EXPECT_EQ(message, c.message.empty() ? "<no exception>" : c.message);
    if (!c.message.empty()) {
      EXPECT_EQ(dim.toString(), before.toString()) << "a refused change leaves the dimension";
    }
  }
  // A broadcast dimension takes the other's placement with its size.
  TTDim broadcast(1, 4, 4);
  TTDim other = interleaved(3, 4);
  other.setInterleavedExternalSize(12);
  broadcast.applyCompatibilityAdjustments(other, ADDITIVE_ACTION_TYPE);
  EXPECT_EQ(broadcast.getExternalSize(), 12);

  // A saved dimension of 20 bytes with one flipped bit in its external size.
  TTDim saved = interleaved(4, 4);
  std::string bytes = savedDim(saved);
  ASSERT_EQ(bytes.size(), 20u);
  bytes[17] ^= 0x10;
  TTDim loaded(6, 2);
  EXPECT_EQ(qvtest::loadError(loaded, bytes),
            "Invalid saved TTDim: The interleaved dimension [4~1048577/4] spreads 4 values over "
            "1048577 tiles, more than 4 tiles per value");
  EXPECT_EQ(loaded, TTDim(6, 2));
}

TEST(TTDim, ReduceOriginalSize)
{
  TTDim dim(10, 4);
  expectThrowWithMessage<std::runtime_error>(
      [&] { dim.reduceOriginalSize(12); },
      "reduceOriginalSize: cannot increase original size. In dim 10/4, newOriginalSize=12");
  dim.reduceOriginalSize(7);
  EXPECT_EQ(dim.toString(), "7/4");
  EXPECT_EQ(dim.getExternalSize(), 2);

  TTDim il = interleaved(10, 4);
  il.reduceOriginalSize(5, 4);
  EXPECT_EQ(il.toString(), "5~4/4");
  il.reduceOriginalSize(4);
  EXPECT_EQ(il.getExternalSize(), 4) << "0 keeps the external size";

  TTDim diag(8, 4);
  diag.setDiagonalized(true, 16);
  expectThrowWithMessage<std::invalid_argument>([&] { diag.reduceOriginalSize(4); },
                                                "Can't reduce original size on a diagonalized dim");
}

TEST(TTDim, Diagonalization)
{
  TTDim dim(8, 4);
  dim.setDiagonalized(true, 16);
  EXPECT_TRUE(dim.isDiagonalized());
  EXPECT_EQ(dim.getDiagonalizedBlock(), 16);
  EXPECT_EQ(dim.getExternalSize(), 4) << "8 rounded up to 16, divided by 4";
  EXPECT_EQ(dim.toString(), "8/4");

  using Change = std::function<void(TTDim&)>;
  const std::vector<std::pair<Change, std::string>> cases = {
      {[](TTDim& d) { d.setDiagonalized(true, 0); },
       "Diagonalized dim must have a positive diagonalized block size. Current block size=0"},
      {[](TTDim& d) { d.setDiagonalized(true, 6); },
       "Diagonalized block size must divide tile size. Current block size=6, tile size=4"},
      {[](TTDim& d) { d.setDiagonalized(false, 16); },
       "A non-diagonalized dim must have an unset diagonalized block size. Current block "
       "size=16"},
      {[](TTDim& d) {
         d.setInterleaved(true);
         d.setDiagonalized(true, 16);
       },
       "Diagonalized dim can't be interleaved, complex packed, or duplicated"},
  };
  for (const auto& c : cases) {
    TTDim d(8, 4);
    expectThrowWithMessage<std::invalid_argument>([&] { c.first(d); }, c.second);
  }
  TTDim other(8, 4);
  EXPECT_FALSE(dim.isCompatible(other, OTHER_ACTION_TYPE));
  expectThrowWithMessage<std::runtime_error>(
      [&] { other.applyCompatibilityAdjustments(dim, ADDITIVE_ACTION_TYPE); },
      "Internal: can't apply compatibility adjustments on diagonalized dims");
}

TEST(TTDim, DiagonalizedUnusedSlotsCountTheWholeBlock)
{
  // The size is rounded up to the block: the unknown flag fits exactly when
  // that leaves unused slots, whether or not the size is a multiple of the tile.
  struct Case
  {
    int size, tile, block, unused;
  };
  for (const Case& c : {Case{4, 4, 16, 12}, Case{8, 4, 16, 8}, Case{6, 2, 8, 2},
                        Case{5, 4, 16, 11}, Case{16, 4, 16, 0}, Case{32, 4, 16, 0}}) {
    TTDim dim(c.size, c.tile);
    dim.setDiagonalized(true, c.block);
    EXPECT_EQ(dim.getNumUnusedSlots(), c.unused) << c.size;
    dim.setUnusedSlotsUnknown();
    EXPECT_EQ(dim.getAreUnusedSlotsUnknown(), c.unused > 0) << c.size;
    if (c.unused > 0)
      continue;
    expectThrowWithMessage<std::invalid_argument>(
        [&] { dim.setAreUnusedSlotsUnknown(true); },
        "Cannot have unknown values: dimension sizes leave no unused slots");
    EXPECT_FALSE(dim.getAreUnusedSlotsUnknown());
  }
}

TEST(TTDim, IncompleteComplexSlotsAreRefused)
{
  TTDim dim(-1, 4, 1, false, false, true);
  expectThrowWithMessage<std::runtime_error>([&] { dim.getOriginalSizeSlots(); },
                                             "Can't compute original size slots for incomplete "
                                             "dims");
  EXPECT_EQ(dim.getExternalSize(), -1);
}

TEST(TTDim, CompatibilityTable)
{
  const TTDim five(5, 8);
  const TTDim full(1, 8, 8);
  const TTDim cp = complexDim(8, 4);
  const TTDim cpFull = complexDim(1, 4, 8);
  const TTDim fullFour(1, 4, 4);
  struct Case
  {
    TTDim a, b;
    bool additive, multiplicative, other;
  };
  const std::vector<Case> cases = {
      {five, full, true, true, true},
      {full, five, true, true, true},
      {five, TTDim(6, 8), false, false, false},
      {five, TTDim(5, 4), false, false, false},
      {five, TTDim(-1, 8), false, false, false},
      {five, TTDim(5, 8, 1, true), true, true, true},
      {five, interleaved(5, 8), false, false, false},
      {interleaved(10, 4), interleaved(10, 4, 4), false, false, false},
      {interleaved(10, 4), full.getIncompleteTileSizeAndInterleaved(), false, false, false},
      {TTDim(1, 8, 4), TTDim(1, 8, 2), true, true, true},
      {cp, fullFour, false, true, false},
      {fullFour, cp, false, true, false},
      {cp, cp, true, false, false},
      {cp, cpFull, true, false, false},
      {cp, TTDim(8, 4), false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a.toString() + " with " + c.b.toString());
    EXPECT_EQ(c.a.isCompatible(c.b, ADDITIVE_ACTION_TYPE), c.additive);
    EXPECT_EQ(c.a.isCompatible(c.b, MULTIPLICATIVE_ACTION_TYPE), c.multiplicative);
    EXPECT_EQ(c.a.isCompatible(c.b, OTHER_ACTION_TYPE), c.other);
  }
}

TEST(TTDim, CompatibilityAdjustments)
{
  struct Case
  {
    TTDim a, b;
    ActionType action;
    std::string result;
  };
  const std::vector<Case> cases = {
      {TTDim(1, 8, 8), TTDim(5, 8), ADDITIVE_ACTION_TYPE, "5?/8"},
      {TTDim(1, 8, 8), TTDim(5, 8), MULTIPLICATIVE_ACTION_TYPE, "5/8"},
      {TTDim(1, 8, 8), TTDim(5, 8), OTHER_ACTION_TYPE, "5?/8"},
      {TTDim(5, 8), TTDim(1, 8, 8), ADDITIVE_ACTION_TYPE, "5?/8"},
      {TTDim(5, 8), TTDim(1, 8, 8), MULTIPLICATIVE_ACTION_TYPE, "5/8"},
      {TTDim(5, 8, 1, true), TTDim(1, 8, 8), MULTIPLICATIVE_ACTION_TYPE, "5?/8"},
      {TTDim(5, 8, 1, true), TTDim(5, 8), MULTIPLICATIVE_ACTION_TYPE, "5/8"},
      {TTDim(5, 8, 1, true), TTDim(5, 8), ADDITIVE_ACTION_TYPE, "5?/8"},
      {TTDim(5, 8), TTDim(5, 8), ADDITIVE_ACTION_TYPE, "5/8"},
      {TTDim(1, 8, 8), interleaved(20, 8, 4), ADDITIVE_ACTION_TYPE, "20?~4/8"},
      {TTDim(1, 8, 8), TTDim(1, 8, 4), MULTIPLICATIVE_ACTION_TYPE, "*4/8"},
      {complexDim(8, 4), TTDim(1, 4, 4), MULTIPLICATIVE_ACTION_TYPE, "8(c)/4"},
      {TTDim(1, 4, 4), complexDim(8, 4), MULTIPLICATIVE_ACTION_TYPE, "8(c)/4"},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.a.toString() + " with " + c.b.toString());
    const TTDim other = c.b;
    c.a.applyCompatibilityAdjustments(c.b, c.action);
    EXPECT_EQ(c.a.toString(), c.result);
    EXPECT_EQ(c.b, other);
  }
}

TEST(TTDim, Equality)
{
  EXPECT_EQ(TTDim(5, 4), TTDim(5, 4));
  EXPECT_NE(TTDim(5, 4), TTDim(5, 8));
  EXPECT_NE(TTDim(5, 4), TTDim(5, 4, 1, true));
  EXPECT_NE(TTDim(5, 4), interleaved(5, 4));
  EXPECT_NE(interleaved(10, 4), interleaved(10, 4, 4));
  // The stored external size of a non-interleaved dimension takes no part.
  TTDim a(10, 4);
  a.reduceOriginalSize(10, 7);
  EXPECT_EQ(a, TTDim(10, 4));
  TTDim diag(8, 4);
  diag.setDiagonalized(true, 16);
  EXPECT_NE(diag, TTDim(8, 4));
  TTDim diag32(8, 4);
  diag32.setDiagonalized(true, 32);
  EXPECT_NE(diag, diag32) << "the external sizes differ (4 and 8)";
}

TEST(TTDim, EqualOnOriginalSlots)
{
  EXPECT_TRUE(TTDim(5, 4).isEqualOnOriginalSlots(TTDim(5, 4, 1, true)));
  EXPECT_FALSE(TTDim(5, 4).isEqualOnOriginalSlots(TTDim(5, 8)));
  EXPECT_FALSE(TTDim(-1, 4).isEqualOnOriginalSlots(TTDim(-1, 4)));
  EXPECT_FALSE(interleaved(10, 4).isEqualOnOriginalSlots(interleaved(10, 4, 4)));
  EXPECT_TRUE(interleaved(10, 4).isEqualOnOriginalSlots(interleaved(10, 4, 4), false));
}

TEST(TTDim, IncompleteTileSizeAndInterleaved)
{
  const TTDim plain = TTDim(5, 4, 1, true).getIncompleteTileSizeAndInterleaved();
  EXPECT_EQ(plain.toString(), "-1/4");
  const TTDim il = interleaved(10, 4).getIncompleteTileSizeAndInterleaved();
  EXPECT_EQ(il.toString(), "-1~/4");
  const TTDim raised = interleaved(10, 4, 4).getIncompleteTileSizeAndInterleaved();
  EXPECT_EQ(raised.toString(), "-1~4/4");
  EXPECT_EQ(raised.getExternalSize(), 4);
}

TEST(TTDim, SavedRecords)
{
  TTDim diag(8, 4);
  diag.setDiagonalized(true, 16);
  const std::vector<std::pair<TTDim, std::string>> cases = {
      {TTDim(5, 4, 1, true), Bytes().i32(5).i32(4).i32(1).b(true).b(false).b(false).b(false).data},
      {TTDim(1, 8, 3), Bytes().i32(1).i32(8).i32(3).b(false).b(false).b(false).b(false).data},
      {complexDim(8, 4), Bytes().i32(8).i32(4).i32(1).b(false).b(true).b(false).b(false).data},
      {interleaved(10, 4, 4),
       Bytes().i32(10).i32(4).i32(1).b(false).b(false).b(true).i32(4).b(false).data},
      {diag, Bytes().i32(8).i32(4).i32(1).b(false).b(false).b(false).b(true).i32(16).data},
      {TTDim(-1, 16), Bytes().i32(-1).i32(16).i32(1).b(false).b(false).b(false).b(false).data},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first.toString());
    EXPECT_EQ(savedDim(c.first), c.second);
    TTDim loaded(3, 2);
    std::istringstream in(c.second);
    EXPECT_EQ(loaded.load(in), static_cast<std::streamoff>(c.second.size()));
    EXPECT_EQ(loaded, c.first);
    EXPECT_EQ(loaded.getDiagonalizedBlock(), c.first.getDiagonalizedBlock());
    EXPECT_EQ(savedDim(loaded), c.second);
  }
  EXPECT_EQ(savedDim(interleaved(10, 4)).size(), 20u);
}

TEST(TTDim, LoadRefusesCorruptRecords)
{
  auto record = [](int orig, int tile, int dup, bool unknown = false, bool cp = false,
                   int external = 0, bool il = false, int block = 0, bool diag = false) {
    Bytes b;
    b.i32(orig).i32(tile).i32(dup).b(unknown).b(cp).b(il);
    if (il)
      b.i32(external);
    b.b(diag);
    if (diag)
      b.i32(block);
    return b.data;
  };
  const std::string prefix = "Invalid saved TTDim: ";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {record(5, 0, 1), prefix + "Tile size must be a positive number"},
      {record(5, 3, 1), prefix + "Tile size must be a power of 2"},
      {record(5, 4, 0), prefix + "Number of duplicated values must be a positive number"},
      {record(0, 4, 1), prefix + "Original size must be a positive number (or -1 to mark an "
                                 "incomplete dimension)"},
      {record(3, 4, 1, false, true), prefix + "complex-packing currently supports only even "
                                              "number of values"},
      {record(8, 4, 1, false, false, 0, false, 0, true),
       prefix + "Diagonalized dim must have a positive diagonalized block size. Current block "
                "size=0"},
      {record(8, 4, 1, false, false, 0, false, 6, true),
       prefix + "Diagonalized block size must divide tile size. Current block size=6, tile "
                "size=4"},
      {record(10, 4, 1, false, false, 2, true),
       prefix + "Interleaved external size 2 is below the minimum 3"},
      {record(-1, 4, 1, false, false, 0, true),
       prefix + "Interleaved external size 0 of an incomplete dimension must be -1 or positive"},
      {record(0x7fffffff, 1 << 30, 1),
       prefix + "The dimension spans more slots than an int can count"},
      {record(0x7fffffff, 1, 1, false, false, 0, false, 1 << 30, true),
       prefix + "The dimension spans more slots than an int can count"},
      // A raised interleaved external size, with unknown unused slots.
      {record(4, 2, 1, true, false, 1162167621, true),
       prefix + "The dimension spans more slots than an int can count"},
      {record(5, 4, 1).substr(0, 14),
       "Input stream ended or failed while reading a bool: the data is truncated or corrupt."},
  };
  for (const auto& c : cases) {
    TTDim dim(6, 2);
    EXPECT_EQ(qvtest::loadError(dim, c.first), c.second);
    EXPECT_EQ(dim, TTDim(6, 2));
  }
}
