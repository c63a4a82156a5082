#ifndef QUORVANE_TESTS_CPP_BOOTSTRAPTESTUTILS_H
#define QUORVANE_TESTS_CPP_BOOTSTRAPTESTUTILS_H

// Helpers shared by the tests of SEAL bootstrapping.

#include <unistd.h>

#include <complex>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/seal/SealCkksContext.h"
#include "math/bootstrap/seal/BootstrapCore.h"

namespace qvtest {

/// An insecure SEAL context (default rotations and conjugation), made once
/// per parameter set and kept for the test program's life.
inline const quorvane::SealCkksContext& bootstrapSealContext(int slots, int depth, int frac = 40,
                                                             int integer = 10)
{
  static std::map<std::tuple<int, int, int, int>, std::shared_ptr<quorvane::SealCkksContext>>
      contexts;
  auto& he = contexts[std::make_tuple(slots, depth, frac, integer)];
  if (!he) {
    he = std::make_shared<quorvane::SealCkksContext>();
    he->init(quorvane::HeConfigRequirement::insecure(slots, depth, frac, integer));
  }
  return *he;
}

/// The default configuration without the file cache (nothing is read or written).
inline quorvane::BootstrapConfig uncachedConfig()
{
  quorvane::BootstrapConfig config;
  config.loadEncMatrices = false;
  config.storeEncMatrices = false;
  return config;
}

/// A core of the uncached default configuration over bootstrapSealContext(slots, depth).
inline const quorvane::BootstrapCore& bootstrapSealCore(int slots, int depth)
{
  static std::map<std::pair<int, int>, std::unique_ptr<quorvane::BootstrapCore>> cores;
  auto& core = cores[std::make_pair(slots, depth)];
  if (!core)
    core = std::make_unique<quorvane::BootstrapCore>(bootstrapSealContext(slots, depth),
                                                     uncachedConfig());
  return *core;
}

/// A core of the uncached default configuration (with the verbosity) over an
/// exact mockup context of n slots and depth 20, with q0 = 2^20.
inline const quorvane::BootstrapCore&
mockupCore(int n, quorvane::Verbosity verbose = quorvane::VERBOSITY_NONE)
{
  static std::map<std::pair<int, int>, std::pair<std::shared_ptr<quorvane::HeContext>,
                                                 std::unique_ptr<quorvane::BootstrapCore>>>
      cores;
  auto& entry = cores[{n, verbose}];
  if (!entry.second) {
    entry.first = mockupContext(n, 20);
    quorvane::BootstrapConfig config = uncachedConfig();
    config.verbose = verbose;
    CoutCapture quiet;
    entry.second = std::make_unique<quorvane::BootstrapCore>(*entry.first, config, 1 << 20);
  }
  return *entry.second;
}

/// A SEAL context that declares CKKS bootstrapping support, which the SEAL
/// context itself never does: the bootstrapping answers and the evaluator
/// are specified for such a context.
class BootstrappableSealContext : public quorvane::SealCkksContext
{
public:
  BootstrappableSealContext() { traits.setSupportsCKKSBootstrapping(true); }
};

/// A ciphertext of the values at the chain index, at the given scale (or the
/// encoder's default for that chain index when scale is 0).
inline quorvane::CTile encryptAt(const quorvane::HeContext& he,
                                 const std::vector<std::complex<double>>& values, int chainIndex,
                                 double scale = 0)
{
  quorvane::Encoder encoder(he);
  if (scale != 0)
    encoder.setDefaultScale(scale);
  quorvane::CTile c(he);
  encoder.encodeEncrypt(c, values, chainIndex);
  return c;
}

/// The decrypted slot values.
inline std::vector<std::complex<double>> decryptOf(const quorvane::CTile& c)
{
  return quorvane::Encoder(c.getHeContext()).decryptDecodeComplex(c);
}

/// Uniformly random real values in [lo, hi) as complex slots.
inline std::vector<std::complex<double>> randomReal(unsigned seed, int count, double lo,
                                                    double hi)
{
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(lo, hi);
  std::vector<std::complex<double>> res(count);
  for (auto& v : res)
    v = dist(gen);
  return res;
}

/// A node of a rotation dependency tree: the amount, its parent, the step
/// from the parent and its depth.
struct TreeNode
{
  int amount;
  int parent;
  int step;
  int level;
};

/// Makes a fresh temporary directory the working directory while alive.
class TempWorkingDir
{
public:
  TempWorkingDir() : old(std::filesystem::current_path())
  {
    std::filesystem::current_path(dir.path());
  }
  ~TempWorkingDir()
  {
    std::error_code ec;
    std::filesystem::current_path(old, ec);
  }
  TempWorkingDir(const TempWorkingDir&) = delete;
  TempWorkingDir& operator=(const TempWorkingDir&) = delete;

  const TempDir& getDir() const { return dir; }

private:
  TempDir dir;
  std::filesystem::path old;
};

} // namespace qvtest

#endif
