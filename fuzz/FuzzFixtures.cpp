#include "FuzzFixtures.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace quorvane {
namespace fuzz {

namespace {

std::string readFixtureFile(const std::string& dir, const char* name)
{
  std::ifstream in(dir + "/" + name, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "missing fixture file %s/%s (run fuzz/run.sh)\n", dir.c_str(), name);
    std::exit(2);
  }
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

} // namespace

const Fixture& fixture()
{
  static const Fixture loaded = [] {
    const char* dir = std::getenv("QUORVANE_FUZZ_FIXTURE");
    if (dir == nullptr) {
      std::fprintf(stderr, "QUORVANE_FUZZ_FIXTURE is not set (run fuzz/run.sh)\n");
      std::exit(2);
    }
    return Fixture{readFixtureFile(dir, "mockup_context"), readFixtureFile(dir, "seal_context"),
                   readFixtureFile(dir, "seal_secret_key"),
                   readFixtureFile(dir, "multi_party_context"),
                   readFixtureFile(dir, "debug_context")};
  }();
  return loaded;
}

std::shared_ptr<HeContext> loadContext(const std::string& bytes)
{
  std::istringstream in(bytes);
  return loadHeContext(in);
}

const HeContext& mockupContext()
{
  static const std::shared_ptr<HeContext> he = loadContext(fixture().mockupContext);
  return *he;
}

const SealCkksContext& sealContext()
{
  static const std::shared_ptr<HeContext> he = [] {
    std::shared_ptr<HeContext> context = loadContext(fixture().sealContext);
    std::istringstream key(fixture().sealSecretKey);
    context->loadSecretKey(key);
    return context;
  }();
  return dynamic_cast<const SealCkksContext&>(*he);
}

const HeContext& multiPartyContext()
{
  static const std::shared_ptr<HeContext> he = loadContext(fixture().multiPartyContext);
  return *he;
}

const HeContext& bootstrapMockupContext()
{
  static const std::shared_ptr<HeContext> he =
      HeContext::create("Mockup_Mockup", HeConfigRequirement::insecure(8, 20));
  return *he;
}

uint64_t bootstrapQ0() { return uint64_t(1) << 20; }

const DebugContext& debugContext()
{
  static LoadedDebugContext loaded;
  static const bool done = [] {
    std::istringstream in(fixture().debugContext);
    loaded.he.load(in);
    return true;
  }();
  (void)done;
  return loaded.he;
}

BootstrapConfig cacheConfig(bool fftLayers, bool store)
{
  BootstrapConfig config;
  config.coef2slotViaFFT = fftLayers;
  config.slot2coefViaFFT = false;
  config.loadEncMatrices = !store;
  config.storeEncMatrices = store;
  return config;
}

std::string encodingCacheFile(const std::string& cacheDir, bool fftLayers)
{
  const std::string prefix = fftLayers ? "ENC_FFT_CI" : "ENC_CI";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(cacheDir, error))
    if (entry.path().filename().string().rfind(prefix, 0) == 0)
      return entry.path().string();
  return "";
}

Buffer MemoryStorage::openBufferForRead(const std::string& name)
{
  auto it = buffers.find(name);
  if (it == buffers.end())
    throw std::runtime_error("no buffer " + name);
  return Buffer(*this, name, std::make_shared<std::istringstream>(it->second));
}

Buffer MemoryStorage::openBufferForWrite(const std::string& name)
{
  return Buffer(*this, name, std::make_shared<std::ostringstream>());
}

void MemoryStorage::closeBuffer(Buffer& buffer)
{
  if (buffer.getMode() == Buffer::OPEN_OUT)
    buffers[buffer.getName()] = static_cast<std::ostringstream&>(buffer.out()).str();
}

void reportRefusal(const char* message)
{
  static const bool report = std::getenv("QUORVANE_FUZZ_REPORT") != nullptr;
  if (report)
    std::fprintf(stderr, "refused: %s\n", message);
}

void silenceOutput()
{
  std::cout.rdbuf(nullptr);
  std::cerr.rdbuf(nullptr);
}

} // namespace fuzz
} // namespace quorvane
