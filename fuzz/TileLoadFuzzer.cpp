// Saved tiles and tile bodies, loaded into the fixture contexts. The first
// byte chooses: bit 0 the mockup context (else SEAL), bit 3 the debug context
// (over two mockup contexts) instead of either; bit 1 a backend body (else a
// whole tile through the loader registry); bit 2 a plaintext body (else a
// ciphertext body). Whatever loads is then decoded.

#include "FuzzFixtures.h"

#include "hebase/AbstractCiphertext.h"
#include "hebase/AbstractEncoder.h"
#include "hebase/AbstractPlaintext.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/PTile.h"
#include "hebase/utils/Saveable.h"

using namespace quorvane;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  fuzz::silenceOutput();
  fuzz::mockupContext();
  fuzz::sealContext();
  fuzz::debugContext();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size == 0)
    return 0;
  const HeContext& he = (data[0] & 8) != 0   ? fuzz::debugContext()
                        : (data[0] & 1) != 0 ? fuzz::mockupContext()
                                             : static_cast<const HeContext&>(fuzz::sealContext());
  bool body = (data[0] & 2) != 0;
  bool plain = (data[0] & 4) != 0;
  std::istringstream in(fuzz::bytesOf(data + 1, size - 1));
  fuzz::expectCleanLoad([&] {
    std::shared_ptr<AbstractEncoder> encoder = he.getEncoder();
    if (body && plain) {
      std::shared_ptr<AbstractPlaintext> p = he.createAbstractPlaintext();
      p->load(in);
      encoder->decodeComplex(*p);
    } else if (body) {
      std::shared_ptr<AbstractCiphertext> c = he.createAbstractCiphertext();
      c->load(in);
      encoder->decryptDecodeComplex(*c);
    } else {
      std::shared_ptr<Saveable> loaded = Saveable::loadSaveable(he, in);
      Encoder facade(he);
      if (auto c = std::dynamic_pointer_cast<CTile>(loaded))
        facade.decryptDecodeComplex(*c);
      else if (auto p = std::dynamic_pointer_cast<PTile>(loaded))
        facade.decodeComplex(*p);
    }
  });
  return 0;
}
