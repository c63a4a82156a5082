#include "FuzzFixtures.h"

#include <cstdio>
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
                   readFixtureFile(dir, "seal_secret_key")};
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

void silenceOutput()
{
  std::cout.rdbuf(nullptr);
  std::cerr.rdbuf(nullptr);
}

} // namespace fuzz
} // namespace quorvane
