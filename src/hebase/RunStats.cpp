#include "hebase/RunStats.h"

#include <iomanip>
#include <stdexcept>

#include "hebase/utils/PrintUtils.h"
#include "hebase/utils/VectorAccess.h"

namespace quorvane {

namespace {

bool isValidIndex(int code, int chainIndex)
{
  return code >= 0 && code < RunStats::NUM_OPERATIONS && chainIndex >= 0 &&
         chainIndex <= RunStats::MAX_CHAIN_INDEX;
}

} // namespace

const std::vector<std::string>& RunStats::getOperationNames() { return operationNames; }

const std::vector<std::string>& RunStats::getObjectNames() { return objectNames; }

std::string RunStats::getPrintedName(int code)
{
  const std::string& name = operationNames.at(code);
  if (name == "cCopy")
    return "copy";
  const std::string suffix = "Raw";
  if (name.size() > suffix.size() &&
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
    return name.substr(0, name.size() - suffix.size());
  return name;
}

RunStats::RunStats() { clear(); }

RunStats::~RunStats() {}

void RunStats::count(int code, int chainIndex)
{
  std::lock_guard<std::mutex> lock(mutex);
  if (!isValidIndex(code, chainIndex))
    throwInvalidSubscript();
  ++counters[code][chainIndex];
}

void RunStats::recordChainIndex(int chainIndex)
{
  std::lock_guard<std::mutex> lock(mutex);
  if (chainIndex < minChainIndex || minChainIndex == -1)
    minChainIndex = chainIndex;
  if (chainIndex > maxChainIndex || maxChainIndex == -1)
    maxChainIndex = chainIndex;
}

void RunStats::recordRotation(int step)
{
  std::lock_guard<std::mutex> lock(mutex);
  rotations.insert(step);
}

void RunStats::clear()
{
  std::lock_guard<std::mutex> lock(mutex);
  counters.assign(NUM_OPERATIONS, std::vector<int32_t>(MAX_CHAIN_INDEX + 1, 0));
  rotations.clear();
  minChainIndex = -1;
  maxChainIndex = -1;
}

int RunStats::getCount(int code, int chainIndex) const
{
  std::lock_guard<std::mutex> lock(mutex);
  if (!isValidIndex(code, chainIndex))
    throwInvalidSubscript();
  return counters[code][chainIndex];
}

int64_t RunStats::getTotalCount(int code) const
{
  std::lock_guard<std::mutex> lock(mutex);
  if (code < 0 || code >= NUM_OPERATIONS)
    throwInvalidSubscript();
  int64_t sum = 0;
  for (int32_t c : counters[code])
    sum += c;
  return sum;
}

std::set<int> RunStats::getRotations() const
{
  std::lock_guard<std::mutex> lock(mutex);
  return rotations;
}

int RunStats::getMinChainIndex() const
{
  std::lock_guard<std::mutex> lock(mutex);
  return minChainIndex;
}

int RunStats::getMaxChainIndex() const
{
  std::lock_guard<std::mutex> lock(mutex);
  return maxChainIndex;
}

void RunStats::debugPrint(const std::string& title, Verbosity verbosity, std::ostream& out) const
{
  if (verbosity == VERBOSITY_NONE)
    return;
  PrintUtils::printTitle(out, "Run stats", title);
  out << std::endl;
  for (int code = 0; code < NUM_OPERATIONS; ++code) {
    int64_t sum = getTotalCount(code);
    if (sum == 0)
      continue;
    out << std::left << std::setw(15) << getPrintedName(code) << std::right << ": "
        << std::setw(4) << sum << std::endl;
  }
}

} // namespace quorvane
