// Counts and times AES-128 decryption under HE on the mockup context: for
// each number of levels d that one bootstrapping gives, one batch of
// counter-mode blocks (as many as the context has slots) is decrypted with an
// expanded HE-encrypted key, and the HE multiplications, bootstraps, wall time
// and chain indexes used are printed.
//
//   quorvane_aes_bench [--slots 16] [--reps 3]

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hebase/BootstrapConfig.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/NumberConfig.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupContext.h"
#include "math/aes/AesConverter.h"
#include "math/aes/AesKey.h"

using namespace quorvane;

namespace {

struct Options
{
  int slots = 16;
  int reps = 3;
};

std::vector<uint8_t> randomBytes(std::mt19937& gen, size_t count)
{
  std::uniform_int_distribution<int> dist(0, 255);
  std::vector<uint8_t> res(count);
  for (uint8_t& b : res)
    b = static_cast<uint8_t>(dist(gen));
  return res;
}

void runDepth(const Options& options, int d, bool automatic)
{
  BootstrapConfig config;
  config.minChainIndexForBootstrapping = 0;
  config.targetChainIndex = d;
  HeConfigRequirement req = HeConfigRequirement::insecure(options.slots, d);
  req.bootstrappable = true;
  req.automaticBootstrapping = automatic;
  req.bootstrapConfig = config;
  std::shared_ptr<HeContext> he = HeContext::create("Mockup_Mockup", req);
  auto& mockup = dynamic_cast<MockupContext&>(*he);

  std::mt19937 gen(1000 + d);
  const std::vector<uint8_t> key = randomBytes(gen, 16);
  const std::vector<uint8_t> iv = randomBytes(gen, 16);
  std::vector<std::vector<uint8_t>> blocks;
  for (int i = 0; i < options.slots; ++i)
    blocks.push_back(randomBytes(gen, 16));

  AesKey aesKey(*he);
  aesKey.heEncrypt(key, false);
  AesConverter converter(*he, aesKey, VERBOSITY_NONE, &std::cout);

  std::vector<double> seconds;
  std::shared_ptr<RunStats> stats;
  for (int rep = 0; rep < options.reps; ++rep) {
    mockup.startOperationCountTrack();
    auto start = std::chrono::steady_clock::now();
    converter.decrypt(iv, blocks, NumberConfig::bit());
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    stats = mockup.getRunStats();
  }
  std::sort(seconds.begin(), seconds.end());
  const double median = seconds[seconds.size() / 2];
  const int64_t products = stats->getTotalCount(RunStats::MULTIPLY_RAW);
  const int64_t squares = stats->getTotalCount(RunStats::SQUARE_RAW);
  std::cout << std::setw(3) << d << std::setw(6) << (automatic ? "auto" : "sched")
            << std::setw(7) << he->getTopChainIndex() << std::setw(7)
            << stats->getMinChainIndex() << std::setw(11) << products + squares
            << std::setw(10) << products << std::setw(9) << squares << std::setw(8)
            << stats->getTotalCount(RunStats::MULTIPLY_PLAIN_RAW) << std::setw(8)
            << stats->getTotalCount(RunStats::BOOTSTRAP) << std::setw(11) << std::fixed
            << std::setprecision(1) << 1000 * median << std::setw(10) << std::setprecision(2)
            << 1000 * median / options.slots << std::endl;
}

} // namespace

int main(int argc, char** argv)
{
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--slots")
      options.slots = std::atoi(argv[i + 1]);
    else if (arg == "--reps")
      options.reps = std::atoi(argv[i + 1]);
    else {
      std::cerr << "usage: quorvane_aes_bench [--slots N] [--reps N]" << std::endl;
      return 2;
    }
  }
  if (options.slots < 1 || options.reps < 1) {
    std::cerr << "--slots and --reps must be positive" << std::endl;
    return 2;
  }
  std::cout << "AES-128 counter-mode decryption under HE, mockup context, " << options.slots
            << " slots (one batch of " << options.slots << " blocks), median of " << options.reps
            << " runs" << std::endl;
  std::cout << "d: levels one bootstrapping gives (minimal chain index 0, target d); sched: "
               "explicit noise schedule, auto: automatic bootstrapping"
            << std::endl;
  std::cout << "  d  mode  depth  minCI  HE mults  ct x ct  squares  plain  bootstr  ms/batch"
               "  ms/block"
            << std::endl;
  for (int d = 5; d <= 13; ++d)
    runDepth(options, d, false);
  runDepth(options, 14, true);
  return 0;
}
