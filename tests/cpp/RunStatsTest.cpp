#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>

#include "hebase/RunStats.h"
#include "hebase/mockup/MockupContext.h"

using namespace quorvane;

namespace {

std::string print(const RunStats& stats, const std::string& title = "",
                  Verbosity verbosity = VERBOSITY_LOW)
{
  std::ostringstream out;
  stats.debugPrint(title, verbosity, out);
  return out.str();
}

const char* const disabledText =
    "Performance tracking is disabled.\n"
    "Call startOperationCountTrack() (Python: start_operation_count_track()) to enable "
    "tracking.\n";

} // namespace

TEST(RunStats, NameTablesInCodeOrder)
{
  const std::vector<std::string> expected = {
      "encode",      "encrypt",     "decodeDouble", "decrypt",          "cCopy",
      "addRaw",      "subRaw",      "addPlainRaw",  "subPlainRaw",      "negate",
      "relinearize", "rotate",      "multiplyRaw",  "multiplyPlainRaw", "squareRaw",
      "rescaleRaw",  "bootstrap"};
  EXPECT_EQ(RunStats::getOperationNames(), expected);
  EXPECT_EQ(RunStats::getObjectNames(),
            (std::vector<std::string>{"context", "contextBs", "contextBsDefaultRot",
                                      "rotationKey", "rotationKeyBs", "ctile", "ptile"}));
  EXPECT_EQ(RunStats::getOperationNames()[RunStats::MULTIPLY_PLAIN_RAW], "multiplyPlainRaw");
  EXPECT_EQ(RunStats::getOperationNames()[RunStats::BOOTSTRAP], "bootstrap");
}

TEST(RunStats, PrintedNames)
{
  const std::vector<std::pair<int, std::string>> cases = {
      {RunStats::C_COPY, "copy"},          {RunStats::ADD_RAW, "add"},
      {RunStats::DECODE_DOUBLE, "decodeDouble"}, {RunStats::MULTIPLY_PLAIN_RAW, "multiplyPlain"},
      {RunStats::RESCALE_RAW, "rescale"},  {RunStats::RELINEARIZE, "relinearize"},
      {RunStats::BOOTSTRAP, "bootstrap"}};
  for (const auto& c : cases)
    EXPECT_EQ(RunStats::getPrintedName(c.first), c.second);
}

TEST(RunStats, PrintsNonZeroTotalsInFixedColumns)
{
  RunStats stats;
  stats.count(RunStats::C_COPY, 3);
  stats.count(RunStats::ADD_RAW, 0);
  stats.count(RunStats::ADD_RAW, 100);
  stats.count(RunStats::DECODE_DOUBLE, 5);
  for (int i = 0; i < 12345; ++i)
    stats.count(RunStats::MULTIPLY_PLAIN_RAW, 7);
  EXPECT_EQ(print(stats), "Run stats\n"
                          "decodeDouble   :    1\n"
                          "copy           :    1\n"
                          "add            :    2\n"
                          "multiplyPlain  : 12345\n");
  EXPECT_EQ(print(stats, "after step"), "Run stats after step:\n"
                                        "decodeDouble   :    1\n"
                                        "copy           :    1\n"
                                        "add            :    2\n"
                                        "multiplyPlain  : 12345\n");
  EXPECT_EQ(print(stats, "t", VERBOSITY_NONE), "");
  EXPECT_EQ(print(RunStats()), "Run stats\n");
}

TEST(RunStats, CountRangeIsCheckedAndNothingCounted)
{
  RunStats stats;
  const std::vector<std::pair<int, int>> bad = {{0, 101}, {0, -1}, {-1, 0}, {17, 0}};
  for (const auto& b : bad) {
    try {
      stats.count(b.first, b.second);
      FAIL() << b.first << "," << b.second;
    } catch (const std::out_of_range& e) {
      EXPECT_STREQ(e.what(), "invalid vector subscript");
    }
  }
  for (int code = 0; code < RunStats::NUM_OPERATIONS; ++code)
    EXPECT_EQ(stats.getTotalCount(code), 0);
  stats.count(RunStats::ENCODE, 0);
  stats.count(RunStats::ENCODE, 100);
  EXPECT_EQ(stats.getCount(RunStats::ENCODE, 0), 1);
  EXPECT_EQ(stats.getCount(RunStats::ENCODE, 100), 1);
  EXPECT_EQ(stats.getTotalCount(RunStats::ENCODE), 2);
}

TEST(RunStats, ChainIndexBoundsRotationsAndClear)
{
  RunStats stats;
  EXPECT_EQ(stats.getMinChainIndex(), -1);
  EXPECT_EQ(stats.getMaxChainIndex(), -1);
  stats.recordChainIndex(5);
  EXPECT_EQ(stats.getMinChainIndex(), 5);
  EXPECT_EQ(stats.getMaxChainIndex(), 5);
  stats.recordChainIndex(2);
  stats.recordChainIndex(9);
  stats.recordChainIndex(4);
  EXPECT_EQ(stats.getMinChainIndex(), 2);
  EXPECT_EQ(stats.getMaxChainIndex(), 9);
  stats.recordRotation(-3);
  stats.recordRotation(8);
  stats.recordRotation(-3);
  EXPECT_EQ(stats.getRotations(), (std::set<int>{-3, 8}));
  stats.count(RunStats::ROTATE, 1);
  stats.clear();
  EXPECT_EQ(stats.getMinChainIndex(), -1);
  EXPECT_EQ(stats.getMaxChainIndex(), -1);
  EXPECT_TRUE(stats.getRotations().empty());
  EXPECT_EQ(stats.getTotalCount(RunStats::ROTATE), 0);
  EXPECT_EQ(print(stats), "Run stats\n");
}

TEST(TrackingContext, DisabledUntilStarted)
{
  MockupContext he;
  std::ostringstream out;
  he.trackOperation(RunStats::ENCODE, 0);
  he.trackOperation(RunStats::ENCODE, 5000); // ignored, not refused, while off
  he.trackChainIndex(3);
  he.trackRotation(1);
  he.getStatsAndClear(out);
  EXPECT_EQ(out.str(), disabledText);
  EXPECT_FALSE(he.isTracking());
  EXPECT_EQ(he.getRunStats(), nullptr);
}

TEST(TrackingContext, CountsUntilPrintedThenClears)
{
  MockupContext he;
  he.startOperationCountTrack();
  std::ostringstream empty;
  he.getStatsAndClear(empty);
  EXPECT_EQ(empty.str(), "Run stats\n");

  he.trackOperation(RunStats::ADD_RAW, 2);
  he.trackOperation(RunStats::ADD_RAW, 3);
  he.trackChainIndex(3);
  he.trackRotation(4);
  EXPECT_EQ(he.getRunStats()->getRotations(), (std::set<int>{4}));
  EXPECT_EQ(he.getRunStats()->getMaxChainIndex(), 3);
  std::ostringstream first;
  he.getStatsAndClear(first);
  EXPECT_EQ(first.str(), "Run stats\nadd            :    2\n");
  std::ostringstream second;
  he.getStatsAndClear(second);
  EXPECT_EQ(second.str(), "Run stats\n");
  EXPECT_TRUE(he.isTracking());

  EXPECT_THROW(he.trackOperation(RunStats::ADD_RAW, 101), std::out_of_range);
  // A second start drops the counts so far.
  he.trackOperation(RunStats::NEGATE, 0);
  he.startOperationCountTrack();
  std::ostringstream restarted;
  he.getStatsAndClear(restarted);
  EXPECT_EQ(restarted.str(), "Run stats\n");
}
