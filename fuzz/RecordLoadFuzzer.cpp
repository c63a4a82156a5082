// Plain saved records. The first byte modulo 9 chooses the kind:
// HeConfigRequirement, PublicFunctions, BootstrapConfig, MultiPartyConfig,
// NumberConfig, DoubleTensor, TTDim, TTShape, Padding2d.

#include "FuzzFixtures.h"

#include "hebase/BootstrapConfig.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/MultiPartyConfig.h"
#include "hebase/NumberConfig.h"
#include "hebase/PublicFunctions.h"
#include "math/DoubleTensor.h"
#include "math/Padding2d.h"
#include "math/TTDim.h"
#include "math/TTShape.h"

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
    switch (data[0] % 9) {
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
    case 5:
      loadAndSave<DoubleTensor>(in);
      break;
    case 6:
      loadAndSave<TTDim>(in);
      break;
    case 7: {
      TTShape shape;
      shape.load(in);
      std::ostringstream out;
      shape.save(out);
      // A loaded shape is one its printing and counting can describe.
      shape.toString();
      if (!shape.isIncomplete())
        shape.getNumUsedTiles();
      break;
    }
    default:
      loadAndSave<Padding2d>(in);
      break;
    }
  });
  return 0;
}
