// Saved secret keys, loaded into a fresh copy of a fixture context. The first
// byte chooses: bit 0 the seed-only form, bit 1 the mockup context (else SEAL).

#include "FuzzFixtures.h"

using namespace quorvane;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  fuzz::silenceOutput();
  fuzz::fixture();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size == 0)
    return 0;
  bool seedOnly = (data[0] & 1) != 0;
  bool mockup = (data[0] & 2) != 0;
  std::shared_ptr<HeContext> he =
      fuzz::loadContext(mockup ? fuzz::fixture().mockupContext : fuzz::fixture().sealContext);
  fuzz::expectCleanLoad([&] {
    std::istringstream in(fuzz::bytesOf(data + 1, size - 1));
    he->loadSecretKey(in, seedOnly);
  });
  return 0;
}
