// Saved AES keys and H-tables, and the bodies of their bit-sliced elements,
// on the 8-slot mockup context. The first byte modulo 3 chooses: 0 an object
// read through the loader registry (a key, a table or whatever the header
// names), 1 a round-key body, 2 an H-table batch body. What loads is checked
// and saved again. A compressed key is expanded as it loads, which takes
// seconds per key under the sanitizers on a context wide enough to hold one:
// here such keys are refused at their expansion, after every field was read
// (the corrupted-record table test loads them whole).

#include "FuzzFixtures.h"

#include "math/aes/AesHTable.h"
#include "math/aes/AesKey.h"
#include "math/aes/impl/AesBitwiseHTable.h"
#include "math/aes/impl/AesBitwiseKey.h"

using namespace quorvane;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  fuzz::silenceOutput();
  fuzz::mockupContext();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size == 0)
    return 0;
  const HeContext& he = fuzz::mockupContext();
  const int kind = data[0] % 3;
  std::istringstream in(fuzz::bytesOf(data + 1, size - 1));
  fuzz::expectCleanLoad([&] {
    std::ostringstream out;
    if (kind == 0) {
      std::shared_ptr<Saveable> loaded = Saveable::loadSaveable(he, in);
      loaded->save(out);
      if (auto key = std::dynamic_pointer_cast<AesKey>(loaded)) {
        key->getChainIndex();
        key->validatePrepared();
      } else if (auto table = std::dynamic_pointer_cast<AesHTable>(loaded)) {
        table->validateLegal();
      }
    } else if (kind == 1) {
      AesBitwiseKey roundKey(he);
      roundKey.load(in);
      roundKey.validateRoundKey();
      roundKey.save(out);
    } else {
      AesBitwiseHTable batch(he);
      batch.load(in);
      batch.getChainIndex();
      batch.save(out);
    }
  });
  return 0;
}
