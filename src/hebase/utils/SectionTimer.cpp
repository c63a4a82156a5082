#include "hebase/utils/SectionTimer.h"

#include <chrono>
#include <cmath>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include <sys/resource.h>

namespace quorvane {

namespace {

struct TimerTree
{
  SectionTimer::Node root;
  TimerTree() { root.name = "all"; }
};

TimerTree& tree()
{
  static TimerTree timerTree;
  return timerTree;
}

/// Where the calling thread stands in the tree: its current section and the
/// clock readings of the sections it entered, innermost last.
struct ThreadPosition
{
  SectionTimer::Node* current = &tree().root;
  std::vector<std::pair<int64_t, int64_t>> starts;
};

ThreadPosition& position()
{
  thread_local ThreadPosition threadPosition;
  return threadPosition;
}

} // namespace

SectionTimer::Node::Node(const Node& other)
    : name(other.name), totalMicros(other.totalMicros), sumSquares(other.sumSquares),
      count(other.count), cpuMicros(other.cpuMicros), startWall(0),
      startCpu(other.startCpu.load(std::memory_order_relaxed)),
      children(other.children), parent(other.parent)
{
}

SectionTimer::Node& SectionTimer::Node::getChild(std::string_view childName)
{
  std::lock_guard<std::mutex> lock(mutex);
  auto it = children.find(childName);
  if (it == children.end()) {
    it = children.emplace(std::piecewise_construct, std::forward_as_tuple(childName),
                          std::forward_as_tuple())
             .first;
    it->second.parent = this;
    it->second.name = childName;
  }
  return it->second;
}

void SectionTimer::Node::addTime(int64_t startWallNanos, int64_t startCpuNanos)
{
  int64_t elapsed = (wallTimeNow() - startWallNanos) / 1000;
  int64_t cpu = (cpuTimeNow() - startCpuNanos) / 1000;
  std::lock_guard<std::mutex> lock(mutex);
  totalMicros += elapsed;
  count += 1;
  cpuMicros += cpu;
  sumSquares += elapsed * elapsed;
}

void SectionTimer::Node::printLine(std::ostream& out, int depth) const
{
  if (depth > 0) {
    for (int i = 0; i < depth; ++i)
      out << "---";
    out << " ";
  }
  out << name << "=" << formatDuration(totalMicros) << " (secs)";
  if (count != 0) {
    double mean = static_cast<double>(totalMicros) / static_cast<double>(count);
    out << " ( " << formatDuration(static_cast<int64_t>(mean));
    if (count > 1) {
      double variance = static_cast<double>(sumSquares) / static_cast<double>(count) - mean * mean;
      double deviation = variance > 0 ? std::sqrt(variance) : 0.0;
      out << "+-" << formatDuration(static_cast<int64_t>(deviation));
    }
    out << " X " << count << ")";
  } else {
    out << " (0)";
  }
  // A section with no measurable wall time shows 0.00% rather than dividing by zero.
  double percent = totalMicros != 0 ? static_cast<double>(cpuMicros) /
                                          static_cast<double>(totalMicros) * 100.0
                                    : 0.0;
  out << "   [CPU: " << formatDuration(cpuMicros) << ", " << std::fixed << std::setprecision(2)
      << percent << "%]" << std::endl;
}

void SectionTimer::Node::printTree(std::ostream& out, int depth) const
{
  for (const auto& child : children) {
    child.second.printLine(out, depth);
    child.second.printTree(out, depth + 1);
  }
}

void SectionTimer::Node::collectLeaves(std::map<std::string, Node>& leaves) const
{
  if (!children.empty()) {
    for (const auto& child : children)
      child.second.collectLeaves(leaves);
    return;
  }
  auto it = leaves.find(name);
  if (it == leaves.end()) {
    leaves.emplace(name, *this);
    return;
  }
  Node& entry = it->second;
  std::lock_guard<std::mutex> lock(entry.mutex);
  entry.count += count;
  entry.totalMicros += totalMicros;
  entry.sumSquares += sumSquares;
  entry.cpuMicros += cpuMicros;
}

void SectionTimer::Node::printSectionsNamed(const std::string& sectionName,
                                            std::ostream& out) const
{
  if (name == sectionName)
    printLine(out, 0);
  for (const auto& child : children)
    child.second.printSectionsNamed(sectionName, out);
}

SectionTimer::SectionTimer(std::string_view name)
{
  push(name);
}

SectionTimer::~SectionTimer()
{
  // Scopes keep pushes and pops balanced, so this never pops the root; pop
  // leaves the section before it reads the clocks, so a failing clock only
  // loses this timing.
  if (getCurrent().parent != nullptr) {
    try {
      pop();
    } catch (...) {
    }
  }
}

void SectionTimer::push(std::string_view name)
{
  ThreadPosition& p = position();
  Node& child = p.current->getChild(name);
  // Everything that can fail comes before the position changes.
  int64_t wall = wallTimeNow();
  int64_t cpu = cpuTimeNow();
  p.starts.emplace_back(wall, cpu);
  p.current = &child;
  child.startWall.store(wall, std::memory_order_relaxed);
  child.startCpu.store(cpu, std::memory_order_relaxed);
}

void SectionTimer::pop()
{
  ThreadPosition& p = position();
  Node* node = p.current;
  if (node->parent == nullptr)
    throw std::runtime_error("already at top. current name=" + node->name);
  std::pair<int64_t, int64_t> start(node->startWall.load(std::memory_order_relaxed),
                                    node->startCpu.load(std::memory_order_relaxed));
  if (!p.starts.empty()) {
    start = p.starts.back();
    p.starts.pop_back();
  }
  p.current = node->parent;
  node->addTime(start.first, start.second);
}

void SectionTimer::printTree(std::ostream& out)
{
  getRoot().printTree(out, 0);
}

void SectionTimer::printFlatSummary(std::ostream& out)
{
  out << "Flat summary:" << std::endl;
  std::map<std::string, Node> leaves;
  getRoot().collectLeaves(leaves);
  for (const auto& leaf : leaves)
    leaf.second.printLine(out, 0);
}

void SectionTimer::printSectionsNamed(const std::string& name, std::ostream& out)
{
  getRoot().printSectionsNamed(name, out);
}

std::string SectionTimer::formatDuration(int64_t micros)
{
  int64_t s = micros / 1000000;
  int64_t ms = (micros % 1000000) / 1000;
  std::ostringstream text;
  if (s <= 60)
    text << s << "." << std::setw(3) << std::setfill('0') << ms;
  else
    text << s / 60 << ":" << std::setw(2) << std::setfill('0') << s % 60 << "." << ms / 100;
  return text.str();
}

int64_t SectionTimer::wallTimeNow()
{
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t SectionTimer::cpuTimeNow()
{
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0)
    throw std::runtime_error("getrusage failed.");
  // Millisecond resolution, as the report shows milliseconds.
  int64_t millis = static_cast<int64_t>(usage.ru_utime.tv_sec) * 1000 +
                   static_cast<int64_t>(usage.ru_utime.tv_usec) / 1000;
  return millis * 1000000;
}

SectionTimer::Node& SectionTimer::getRoot()
{
  return tree().root;
}

SectionTimer::Node& SectionTimer::getCurrent()
{
  return *position().current;
}

LeafTimer::LeafTimer(std::string_view name)
    : startWall(SectionTimer::wallTimeNow()), startCpu(SectionTimer::cpuTimeNow()), running(true)
{
  node = &SectionTimer::getCurrent().getChild(name);
}

LeafTimer::~LeafTimer()
{
  if (!running)
    return;
  running = false;
  try {
    node->addTime(startWall, startCpu);
  } catch (...) {
  }
}

} // namespace quorvane
