// A SEAL context too large for the address space the process may use throws
// std::bad_alloc, and the process goes on: the context stays uninitialised and
// usable, SEAL's memory pool keeps working and the process exits normally.
// The work runs in a forked child that caps its own address space (RLIMIT_AS),
// so that the test's own process keeps its memory.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/seal/SealCkksContext.h"

using namespace quorvane;
using namespace qvtest;

namespace {

/// The process's address space in bytes (VmSize).
rlim_t vmSize()
{
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmSize:", 0) == 0)
      return static_cast<rlim_t>(std::stoull(line.substr(7))) * 1024;
  throw std::runtime_error("no VmSize in /proc/self/status");
}

/// What the child saw, one word or message per step.
std::string tryContextUnderLimit(rlim_t margin)
{
  rlimit original{};
  getrlimit(RLIMIT_AS, &original);
  rlimit capped{vmSize() + margin, original.rlim_max};
  if (setrlimit(RLIMIT_AS, &capped) != 0)
    return "setrlimit failed";
  std::ostringstream seen;
  SealCkksContext he;
  try {
    he.initForGenericPacking(); // 16384 slots with bootstrapping keys: about 7 GB
    seen << "initialised";
  } catch (const std::bad_alloc& e) {
    seen << e.what();
  }
  setrlimit(RLIMIT_AS, &original);
  seen << (he.isInitialized() ? " initialised" : " uninitialised");
  he.init(requirement(1024, 2, 30, 10, 0));
  std::vector<double> values(1024);
  for (size_t i = 0; i < values.size(); ++i)
    values[i] = std::sin(static_cast<double>(i));
  Encoder encoder(he);
  CTile tile(he);
  encoder.encodeEncrypt(tile, values);
  tile.multiply(tile);
  tile.rotate(1);
  std::vector<double> res = encoder.decryptDecodeDouble(tile);
  double maxError = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    double next = values[(i + 1) % values.size()];
    maxError = std::max(maxError, std::abs(res[i] - next * next));
  }
  seen << (maxError < 1e-3 ? " computes" : " wrong values");
  return seen.str();
}

} // namespace

TEST(MemoryLimitTest, ContextTooLargeForTheAddressSpaceThrowsBadAlloc)
{
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::cout.flush();
  std::fflush(nullptr);
  pid_t pid = fork();
  ASSERT_NE(pid, -1);
  if (pid == 0) {
    close(fds[0]);
    std::string seen;
    try {
      seen = tryContextUnderLimit(rlim_t(1) << 30);
    } catch (const std::exception& e) {
      seen += std::string(" threw: ") + e.what();
    }
    if (write(fds[1], seen.data(), seen.size()) != static_cast<ssize_t>(seen.size()))
      std::_Exit(3);
    close(fds[1]);
    // exit, not _exit: SEAL's global memory pool is destroyed on the way out.
    std::exit(0);
  }
  close(fds[1]);
  // Bounded wait: a memory pool left locked spins for ever.
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  pid_t done = 0;
  while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (done == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  std::string seen;
  char buffer[256];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof(buffer))) > 0)
    seen.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  ASSERT_NE(done, 0) << "the child did not finish in 5 minutes; it saw: " << seen;
  ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status)
                                 << "; it saw: " << seen;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(seen, "std::bad_alloc uninitialised computes");
}
