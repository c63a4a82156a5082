// The bootstrap core's cached encoding transform. The first byte chooses: 0 an
// FFT layer read from a stream (then applied to a ciphertext), 1 the cache
// file of the encoding FFT layers, 2 the cache file of the encoding matrix.
// The files are read by a core built over them, in a working directory of the
// fuzzer's own, which then transforms a ciphertext.

#include "FuzzFixtures.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "math/bootstrap/seal/BootstrapCore.h"
#include "math/bootstrap/seal/FFTLayer.h"

using namespace quorvane;

namespace {

// The working directory, removed at exit, and the paths of the two cache
// files in it.
std::string workDir;
std::string layersFile;
std::string matrixFile;

void removeWorkDir()
{
  std::error_code error;
  std::filesystem::remove_all(workDir, error);
}

BootstrapConfig uncached()
{
  BootstrapConfig config = fuzz::cacheConfig(true, false);
  config.loadEncMatrices = false;
  return config;
}

CTile someCiphertext(const BootstrapCore& core)
{
  Encoder encoder(core.getHeContext());
  encoder.setDefaultScale(core.getBaseScale());
  CTile x(core.getHeContext());
  encoder.encodeEncrypt(x, std::vector<double>{0.5, -0.25, 0.125, 0, 1, -1, 0.75, 0.5},
                        core.getEncodingChainIndex());
  return x;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  fuzz::silenceOutput();
  char dir[] = "/tmp/quorvane-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) {
    std::perror("working directory");
    std::exit(2);
  }
  workDir = dir;
  std::atexit(removeWorkDir);
  // The cache files are found by writing them once.
  for (bool fft : {true, false}) {
    BootstrapCore core(fuzz::bootstrapMockupContext(), fuzz::cacheConfig(fft, true),
                       fuzz::bootstrapQ0());
    (fft ? layersFile : matrixFile) = fuzz::encodingCacheFile(core.getCacheDir(), fft);
  }
  if (layersFile.empty() || matrixFile.empty()) {
    std::fprintf(stderr, "the bootstrap core wrote no cache file\n");
    std::exit(2);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size == 0)
    return 0;
  const std::string rest = fuzz::bytesOf(data + 1, size - 1);
  const int kind = data[0] % 3;
  fuzz::expectCleanLoad([&] {
    if (kind == 0) {
      static const BootstrapCore core(fuzz::bootstrapMockupContext(), uncached(),
                                      fuzz::bootstrapQ0());
      FFTLayer layer(core);
      std::istringstream in(rest);
      layer.load(in);
      layer.createRotationDependencyMap();
      CTile x = someCiphertext(core);
      layer.processCiphertextByLayer(x);
      return;
    }
    const std::string& path = kind == 1 ? layersFile : matrixFile;
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << rest;
    }
    BootstrapCore core(fuzz::bootstrapMockupContext(), fuzz::cacheConfig(kind == 1, false),
                       fuzz::bootstrapQ0());
    core.coef2slot(someCiphertext(core));
  });
  return 0;
}
