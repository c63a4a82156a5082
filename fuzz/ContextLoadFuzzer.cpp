// Saved contexts of any backend, loaded through the context registry, and
// the same bytes loaded into a debug context over two mockup contexts.

#include "FuzzFixtures.h"

using namespace quorvane;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  fuzz::silenceOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzz::expectCleanLoad([&] {
    std::shared_ptr<HeContext> he = fuzz::loadContext(fuzz::bytesOf(data, size));
    // A loaded context saves again.
    std::ostringstream out;
    he->save(out);
  });
  fuzz::expectCleanLoad([&] {
    fuzz::LoadedDebugContext debug;
    std::istringstream in(fuzz::bytesOf(data, size));
    debug.he.load(in);
    std::ostringstream out;
    debug.he.save(out);
  });
  return 0;
}
