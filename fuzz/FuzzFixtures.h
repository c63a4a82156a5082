#ifndef QUORVANE_FUZZ_FUZZFIXTURES_H
#define QUORVANE_FUZZ_FUZZFIXTURES_H

// What the fuzz targets share: the contexts their inputs are loaded into, and
// the rule that an input may be refused only with a clear error.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>

#include <map>

#include "hebase/BootstrapConfig.h"
#include "hebase/HeContext.h"
#include "hebase/Storage.h"
#include "hebase/mockup/DebugContext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/SealCkksContext.h"

namespace quorvane {
namespace fuzz {

/// The files of the fixture directory (QUORVANE_FUZZ_FIXTURE): the saved
/// contexts and secret key that the seed corpora were made with, so that the
/// seeds' context ids match the contexts they load into.
struct Fixture
{
  std::string mockupContext;
  std::string sealContext;
  std::string sealSecretKey;
  /// A multi-party mockup context (protocol messages load only there).
  std::string multiPartyContext;
  /// A debug context over two mockup contexts.
  std::string debugContext;
};

/// The fixture named by QUORVANE_FUZZ_FIXTURE; exits when it is missing.
const Fixture& fixture();

/// A context loaded from saved bytes.
std::shared_ptr<HeContext> loadContext(const std::string& bytes);

/// The fixture's mockup context.
const HeContext& mockupContext();

/// The fixture's SEAL context, with its secret key.
const SealCkksContext& sealContext();

/// The fixture's multi-party mockup context.
const HeContext& multiPartyContext();

/// A debug context (over two mockup contexts of its own) loaded from bytes.
struct LoadedDebugContext
{
  MockupContext first;
  MockupContext second;
  DebugContext he{first, second, 1e-5, false};
};

/// The fixture's debug context.
const DebugContext& debugContext();

/// The mockup context and the scale a BootstrapCore of the fuzz targets and
/// their seeds is built over: 8 slots, depth 20 (made, not loaded).
const HeContext& bootstrapMockupContext();
uint64_t bootstrapQ0();

/// The configuration of a BootstrapCore that reads (or, with store, writes)
/// its encoding transform in the file cache: as FFT layers, or as a matrix.
BootstrapConfig cacheConfig(bool fftLayers, bool store);

/// The file of the encoding transform in the cache directory of a core made
/// with cacheConfig (of the working directory); empty when there is none.
std::string encodingCacheFile(const std::string& cacheDir, bool fftLayers);

/// A storage that keeps its buffers in memory.
class MemoryStorage : public Storage
{
public:
  std::map<std::string, std::string> buffers;

  Buffer openBufferForRead(const std::string& name) override;
  Buffer openBufferForWrite(const std::string& name) override;
  void closeBuffer(Buffer& buffer) override;
};

/// Drops what the library writes to standard output and error.
void silenceOutput();

/// Writes a refusal's message to standard error when QUORVANE_FUZZ_REPORT is
/// set (to see why a seed is refused: fuzz_<target> <files>).
void reportRefusal(const char* message);

/// Runs a load. A clear error (a std::exception other than a failed
/// allocation or a length error, with a message) is an expected outcome;
/// anything else aborts, which the fuzzer reports with the input.
template <typename F>
void expectCleanLoad(F&& load)
{
  try {
    load();
  } catch (const std::bad_alloc&) {
    std::abort();
  } catch (const std::length_error&) {
    std::abort();
  } catch (const std::exception& e) {
    if (std::string(e.what()).empty())
      std::abort();
    reportRefusal(e.what());
  }
}

/// The input as a string.
inline std::string bytesOf(const uint8_t* data, size_t size)
{
  return std::string(reinterpret_cast<const char*>(data), size);
}

} // namespace fuzz
} // namespace quorvane

#endif
