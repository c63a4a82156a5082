// Plain saved records. The first byte modulo 6 chooses the kind:
// HeConfigRequirement, PublicFunctions, BootstrapConfig, MultiPartyConfig,
// NumberConfig, DoubleTensor.

#include "FuzzFixtures.h"

#include "hebase/BootstrapConfig.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/MultiPartyConfig.h"
#include "hebase/NumberConfig.h"
#include "hebase/PublicFunctions.h"
#include "math/DoubleTensor.h"

using namespace quorvane;

namespace {

template <typename T>
void loadAndSave(std::istream& in)
{
  T record;
  record.load(in);
  std::ostringstream out;
  record.save(out);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  fuzz::silenceOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size == 0)
    return 0;
  std::istringstream in(fuzz::bytesOf(data + 1, size - 1));
  fuzz::expectCleanLoad([&] {
    switch (data[0] % 6) {
    case 0:
      loadAndSave<HeConfigRequirement>(in);
      break;
    case 1:
      loadAndSave<PublicFunctions>(in);
      break;
    case 2:
      loadAndSave<BootstrapConfig>(in);
      break;
    case 3:
      loadAndSave<MultiPartyConfig>(in);
      break;
    case 4:
      loadAndSave<NumberConfig>(in);
      break;
    default:
      loadAndSave<DoubleTensor>(in);
      break;
    }
  });
  return 0;
}
