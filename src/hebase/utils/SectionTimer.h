#ifndef QUORVANE_HEBASE_UTILS_SECTIONTIMER_H
#define QUORVANE_HEBASE_UTILS_SECTIONTIMER_H

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

namespace quorvane {

/// Process-wide tree of named timing sections rooted at "all". A scope object
/// enters a section on construction and leaves it on destruction. Each thread
/// has its own current section (the root until it enters one), so threads
/// may time their work at once; the tree and its counters are shared.
class SectionTimer
{
public:
  /// One section with its accumulated timings.
  struct Node
  {
    std::mutex mutex;
    std::string name;
    int64_t totalMicros = 0;
    int64_t sumSquares = 0;
    int64_t count = 0;
    int64_t cpuMicros = 0;
    /// The last entry's clock readings (each thread times its own entries).
    std::atomic<int64_t> startWall{0};
    std::atomic<int64_t> startCpu{0};
    /// Looked up by name without building a string.
    std::map<std::string, Node, std::less<>> children;
    Node* parent = nullptr;

    Node() = default;
    /// Copies name, counters, children and parent; startWall is 0.
    Node(const Node& other);
    Node& operator=(const Node&) = delete;

    /// The child of that name, created when missing.
    Node& getChild(std::string_view childName);
    /// Adds one timing that started at the given clock readings.
    void addTime(int64_t startWallNanos, int64_t startCpuNanos);
    /// Prints the report line of this node at the given depth.
    void printLine(std::ostream& out, int depth) const;
    void printTree(std::ostream& out, int depth) const;
    void collectLeaves(std::map<std::string, Node>& leaves) const;
    void printSectionsNamed(const std::string& sectionName, std::ostream& out) const;
  };

  /// Enters the named child of the current section.
  explicit SectionTimer(std::string_view name);
  /// Leaves the section; never throws (a timing that cannot be read is dropped).
  ~SectionTimer();
  SectionTimer(const SectionTimer&) = delete;
  SectionTimer& operator=(const SectionTimer&) = delete;

  /// Makes the named child of the calling thread's current section current.
  static void push(std::string_view name);
  /// Leaves the calling thread's current section and adds its timing;
  /// std::runtime_error at the root.
  static void pop();

  static void printTree(std::ostream& out);
  static void printFlatSummary(std::ostream& out);
  static void printSectionsNamed(const std::string& name, std::ostream& out);

  /// "s.mmm", or "m:ss.d" from 61 seconds on.
  static std::string formatDuration(int64_t micros);

  /// Monotonic wall clock in nanoseconds.
  static int64_t wallTimeNow();
  /// User CPU time of the process in nanoseconds.
  static int64_t cpuTimeNow();

  /// The root section "all".
  static Node& getRoot();
  /// The calling thread's current section.
  static Node& getCurrent();
};

/// Adds its lifetime to the named child of the current section without
/// entering it. The name is only looked up; the node keeps it.
class LeafTimer
{
public:
  explicit LeafTimer(std::string_view name);
  /// Adds the timing; never throws (a timing that cannot be read is dropped).
  ~LeafTimer();
  LeafTimer(const LeafTimer&) = delete;
  LeafTimer& operator=(const LeafTimer&) = delete;

private:
  SectionTimer::Node* node = nullptr;
  int64_t startWall;
  int64_t startCpu;
  bool running;
};

} // namespace quorvane

#endif
