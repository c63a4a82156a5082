#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <sstream>
#include <thread>
#include <vector>

#include "hebase/utils/SectionTimer.h"

using namespace quorvane;

namespace {

std::string lineOf(const SectionTimer::Node& node, int depth)
{
  std::ostringstream out;
  node.printLine(out, depth);
  return out.str();
}

} // namespace

TEST(SectionTimer, FormatDuration)
{
  struct Case
  {
    int64_t micros;
    std::string text;
  };
  for (const Case& c : std::vector<Case>{{999999, "0.999"},
                                         {1005000, "1.005"},
                                         {60000000, "60.000"},
                                         {60999999, "60.999"},
                                         {61000000, "1:01.0"},
                                         {61500000, "1:01.5"},
                                         {(62 * 60 + 5) * 1000000LL + 250000, "62:05.2"}})
    EXPECT_EQ(SectionTimer::formatDuration(c.micros), c.text);
}

TEST(SectionTimer, ReportLine)
{
  SectionTimer::Node node;
  node.name = "S";
  node.count = 2;
  node.totalMicros = 4000000;
  node.sumSquares = 1500000LL * 1500000LL + 2500000LL * 2500000LL;
  node.cpuMicros = 3000000;
  EXPECT_EQ(lineOf(node, 1), "--- S=4.000 (secs) ( 2.000+-0.500 X 2)   [CPU: 3.000, 75.00%]\n");

  node.count = 1;
  node.totalMicros = 1500000;
  node.sumSquares = 1500000LL * 1500000LL;
  node.cpuMicros = 1500000;
  EXPECT_EQ(lineOf(node, 0), "S=1.500 (secs) ( 1.500 X 1)   [CPU: 1.500, 100.00%]\n");

  SectionTimer::Node never;
  never.name = "N";
  EXPECT_EQ(lineOf(never, 2), "------ N=0.000 (secs) (0)   [CPU: 0.000, 0.00%]\n");
}

TEST(SectionTimer, PopAtRootThrows)
{
  SectionTimer::Node* before = &SectionTimer::getCurrent();
  ASSERT_EQ(before, &SectionTimer::getRoot());
  try {
    SectionTimer::pop();
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "already at top. current name=all");
  }
  EXPECT_EQ(&SectionTimer::getCurrent(), before);
}

TEST(SectionTimer, NestedSectionsAndLeaves)
{
  SectionTimer::push("TestA");
  SectionTimer::push("TestB");
  SectionTimer::pop();
  SectionTimer::pop();
  {
    SectionTimer a("TestA");
    LeafTimer leaf("TestLeaf");
    EXPECT_EQ(SectionTimer::getCurrent().name, "TestA");
  }
  EXPECT_EQ(&SectionTimer::getCurrent(), &SectionTimer::getRoot());
  SectionTimer::Node& a = SectionTimer::getRoot().getChild("TestA");
  EXPECT_EQ(a.count, 2);
  EXPECT_EQ(a.children.size(), 2u);
  EXPECT_EQ(a.getChild("TestB").count, 1);
  EXPECT_EQ(a.getChild("TestLeaf").count, 1);

  std::ostringstream named;
  SectionTimer::printSectionsNamed("TestB", named);
  EXPECT_EQ(named.str().rfind("TestB=", 0), 0u);

  std::ostringstream tree;
  SectionTimer::printTree(tree);
  std::string text = tree.str();
  size_t posA = text.find("\nTestA=") == std::string::npos ? text.find("TestA=")
                                                            : text.find("\nTestA=") + 1;
  ASSERT_NE(posA, std::string::npos);
  EXPECT_NE(text.find("--- TestB=", posA), std::string::npos);
  EXPECT_LT(text.find("--- TestB=", posA), text.find("--- TestLeaf=", posA));
}

TEST(SectionTimer, LeafAddsToSectionCurrentAtConstruction)
{
  SectionTimer::push("TestOuter");
  {
    LeafTimer leaf("TestLate");
    SectionTimer::push("TestInner");
    SectionTimer::pop();
  }
  SectionTimer::pop();
  SectionTimer::Node& outer = SectionTimer::getRoot().getChild("TestOuter");
  EXPECT_EQ(outer.getChild("TestLate").count, 1);
  EXPECT_EQ(outer.getChild("TestInner").children.count("TestLate"), 0u);

  // A name built for the call only is not kept by the timer.
  {
    SectionTimer section(std::string("Test") + "Built");
    LeafTimer leaf(std::string("Test") + "BuiltLeaf");
  }
  SectionTimer::Node& built = SectionTimer::getRoot().getChild("TestBuilt");
  EXPECT_EQ(built.name, "TestBuilt");
  EXPECT_EQ(built.count, 1);
  EXPECT_EQ(built.getChild("TestBuiltLeaf").name, "TestBuiltLeaf");
  EXPECT_EQ(built.getChild("TestBuiltLeaf").count, 1);
}

TEST(SectionTimer, FlatSummaryMergesLeaves)
{
  {
    SectionTimer x("TestX");
    LeafTimer l("TestMergedLeaf");
  }
  {
    SectionTimer y("TestY");
    LeafTimer l1("TestMergedLeaf");
  }
  {
    SectionTimer y("TestY");
    LeafTimer l2("TestMergedLeaf");
  }
  std::ostringstream out;
  SectionTimer::printFlatSummary(out);
  std::string text = out.str();
  EXPECT_EQ(text.rfind("Flat summary:\n", 0), 0u);
  size_t pos = text.find("\nTestMergedLeaf=");
  ASSERT_NE(pos, std::string::npos);
  EXPECT_NE(text.find(" X 3)", pos), std::string::npos);
  EXPECT_EQ(text.find("\nTestMergedLeaf=", pos + 1), std::string::npos);
}

TEST(SectionTimer, FlatSummarySumsEveryCounterOfLeavesOfOneName)
{
  SectionTimer::Node root;
  root.name = "all";
  auto setCounters = [](SectionTimer::Node& node, int64_t count, int64_t total, int64_t squares,
                        int64_t cpu) {
    node.count = count;
    node.totalMicros = total;
    node.sumSquares = squares;
    node.cpuMicros = cpu;
  };
  setCounters(root.getChild("A").getChild("L"), 1, 1000000, 1000000000000LL, 500000);
  setCounters(root.getChild("B").getChild("L"), 2, 3000000, 5000000000000LL, 1500000);
  setCounters(root.getChild("B").getChild("M"), 1, 7, 49, 3);
  setCounters(root.getChild("A"), 9, 9, 9, 9);

  std::map<std::string, SectionTimer::Node> leaves;
  root.collectLeaves(leaves);
  // Sections with children are only descended into.
  ASSERT_EQ(leaves.size(), 2u);
  const SectionTimer::Node& l = leaves.at("L");
  EXPECT_EQ(l.count, 3);
  EXPECT_EQ(l.totalMicros, 4000000);
  EXPECT_EQ(l.sumSquares, 6000000000000LL);
  EXPECT_EQ(l.cpuMicros, 2000000);
  EXPECT_EQ(leaves.at("M").totalMicros, 7);
  // The tree itself is unchanged.
  EXPECT_EQ(root.getChild("A").getChild("L").count, 1);
  EXPECT_EQ(root.getChild("B").getChild("L").totalMicros, 3000000);
}

namespace {

int checkFreshTimer()
{
  std::ostringstream tree, flat;
  SectionTimer::printTree(tree);
  SectionTimer::printFlatSummary(flat);
  bool ok = tree.str().empty() && flat.str().rfind("Flat summary:\nall=0.000 (secs) (0)", 0) == 0;
  return ok ? 0 : 1;
}

} // namespace

TEST(SectionTimer, FreshTimerPrints)
{
  // Runs in a child process, where the tree is still empty.
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(std::exit(checkFreshTimer()), testing::ExitedWithCode(0), "");
}

TEST(SectionTimer, SectionsNamedIncludeRootAndEveryPlace)
{
  {
    SectionTimer p("TestNamedP");
    SectionTimer q("TestNamedQ");
  }
  {
    SectionTimer r("TestNamedR");
    SectionTimer q("TestNamedQ");
    SectionTimer inner("TestNamedQ");
  }
  std::ostringstream out;
  SectionTimer::printSectionsNamed("TestNamedQ", out);
  std::istringstream lines(out.str());
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    EXPECT_EQ(line.rfind("TestNamedQ=", 0), 0u) << line;
    EXPECT_NE(line.find(" X 1)   [CPU: "), std::string::npos) << line;
    ++count;
  }
  // Under P, under R, and nested in itself under R.
  EXPECT_EQ(count, 3);
  std::ostringstream root;
  SectionTimer::printSectionsNamed("all", root);
  EXPECT_EQ(root.str().rfind("all=0.000 (secs) (0)   [CPU: 0.000, ", 0), 0u) << root.str();
}

TEST(SectionTimer, TimingsAccumulateMeasuredTime)
{
  SectionTimer::Node node;
  node.name = "TestAdd";
  int64_t start = SectionTimer::wallTimeNow() - 2500000; // 2.5 ms ago
  node.addTime(start, SectionTimer::cpuTimeNow());
  node.addTime(start, SectionTimer::cpuTimeNow());
  EXPECT_EQ(node.count, 2);
  EXPECT_GE(node.totalMicros, 5000);
  EXPECT_LT(node.totalMicros, 5000000);
  // Squares of microseconds, not of the total.
  EXPECT_GE(node.sumSquares, 2 * 2500LL * 2500LL);
  EXPECT_LT(node.sumSquares, node.totalMicros * node.totalMicros);
  EXPECT_GE(node.cpuMicros, 0);
  // CPU time is counted in whole milliseconds.
  EXPECT_EQ(SectionTimer::cpuTimeNow() % 1000000, 0);
}

// ---- Threads and failing clocks ----

namespace {

// The CPU clock reads getrusage; this definition takes the place of the C
// library's in the test program, so that a test can make it fail.
std::atomic<bool> failGetrusage{false};

/// Makes getrusage fail from fail() (or construction, when asked) until destruction.
class FailingCpuClock
{
public:
  explicit FailingCpuClock(bool now = true) { failGetrusage = now; }
  ~FailingCpuClock() { failGetrusage = false; }
  FailingCpuClock(const FailingCpuClock&) = delete;
  FailingCpuClock& operator=(const FailingCpuClock&) = delete;
  void fail() { failGetrusage = true; }
};

} // namespace

extern "C" int getrusage(__rusage_who_t who, struct rusage* usage) noexcept
{
  if (failGetrusage) {
    errno = EINVAL;
    return -1;
  }
  return static_cast<int>(syscall(SYS_getrusage, who, usage));
}

TEST(SectionTimer, FailingCpuClockIsReported)
{
  FailingCpuClock failing;
  EXPECT_THROW(SectionTimer::cpuTimeNow(), std::runtime_error);
  // Entering refuses before anything changes.
  EXPECT_THROW(SectionTimer::push("TestFailingPush"), std::runtime_error);
  EXPECT_EQ(&SectionTimer::getCurrent(), &SectionTimer::getRoot());
  EXPECT_THROW(LeafTimer("TestFailingLeafStart"), std::runtime_error);
}

TEST(SectionTimer, DestructorsNeverThrowWhenTheClockFails)
{
  SectionTimer::Node& outer = SectionTimer::getRoot().getChild("TestClockOuter");
  int64_t outerCount = outer.count;
  {
    // Declared first, so the clock still fails while the timers below end.
    FailingCpuClock outerClock(false);
    SectionTimer section("TestClockOuter");
    LeafTimer leaf("TestClockLeaf");
    {
      FailingCpuClock innerClock(false);
      SectionTimer inner("TestClockInner");
      EXPECT_EQ(SectionTimer::getCurrent().name, "TestClockInner");
      innerClock.fail();
      // Destructors that threw would end the program here.
    }
    // The inner section was left although its timing was lost.
    EXPECT_EQ(&SectionTimer::getCurrent(), &outer);
    EXPECT_EQ(outer.getChild("TestClockInner").count, 0);
    outerClock.fail();
  }
  EXPECT_EQ(&SectionTimer::getCurrent(), &SectionTimer::getRoot());
  EXPECT_EQ(outer.count, outerCount);
  EXPECT_EQ(outer.getChild("TestClockLeaf").count, 0);
  // An explicit pop still reports the failure, and leaves the section all the same.
  SectionTimer::push("TestClockExplicit");
  {
    FailingCpuClock failing;
    EXPECT_THROW(SectionTimer::pop(), std::runtime_error);
  }
  EXPECT_EQ(&SectionTimer::getCurrent(), &SectionTimer::getRoot());
}

TEST(SectionTimer, EachThreadHasItsOwnCurrentSection)
{
  SectionTimer outer("TestThreadOuter");
  SectionTimer::Node* seen = nullptr;
  std::thread other([&] {
    seen = &SectionTimer::getCurrent();
    SectionTimer section("TestThreadSection");
    LeafTimer leaf("TestThreadLeaf");
  });
  other.join();
  // The other thread started at the root and did not move this thread.
  EXPECT_EQ(seen, &SectionTimer::getRoot());
  EXPECT_EQ(SectionTimer::getCurrent().name, "TestThreadOuter");
  SectionTimer::Node& section = SectionTimer::getRoot().getChild("TestThreadSection");
  EXPECT_EQ(section.count, 1);
  EXPECT_EQ(section.getChild("TestThreadLeaf").count, 1);
  EXPECT_EQ(SectionTimer::getCurrent().children.count("TestThreadSection"), 0u);
}

TEST(SectionTimer, ThreadsTimingTheSameSectionsCountEveryTiming)
{
  constexpr int THREADS = 4;
  constexpr int ROUNDS = 20000;
  SectionTimer::Node& node = SectionTimer::getRoot().getChild("TestShared");
  int64_t before = node.count;
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < ROUNDS; ++i) {
        SectionTimer section("TestShared");
        LeafTimer leaf("TestSharedLeaf");
        EXPECT_EQ(SectionTimer::getCurrent().name, "TestShared");
      }
      EXPECT_EQ(&SectionTimer::getCurrent(), &SectionTimer::getRoot());
    });
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(node.count - before, THREADS * ROUNDS);
  EXPECT_EQ(node.children.size(), 1u);
}
