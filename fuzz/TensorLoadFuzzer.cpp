// Saved tile tensors, encrypted batches and data sets, and protocol messages.
// The first byte chooses: bits 0-1 the context (0 the mockup, 1 SEAL, else the
// multi-party mockup); bit 2 an encrypted data set read from a storage (the
// rest of the input is its metadata, 8 bytes, then the body of batch 0; the
// other batches are missing) instead of an object read through the loader
// registry. Whatever loads is saved again and decrypted or decoded.

#include "FuzzFixtures.h"

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/PTile.h"
#include "hebase/impl/AbstractProtocolMessage.h"
#include "hebase/impl/ProtocolMessage.h"
#include "hebase/utils/SaveableHeader.h"
#include "math/CTileTensor.h"
#include "math/EncryptedData.h"
#include "math/PTileTensor.h"
#include "math/TTEncoder.h"

using namespace quorvane;

namespace {

void use(const CTileTensor& tensor)
{
  if (tensor.isPacked())
    TTEncoder(tensor.getHeContext()).decryptDecodeDouble(tensor);
}

void use(const EncryptedBatch& batch)
{
  for (size_t i = 0; i < batch.getNumItems(); ++i)
    use(*batch.getItem(i));
}

void use(const EncryptedData& data)
{
  for (size_t i = 0; i < data.getNumBatches(); ++i)
    use(data.getBatch(i));
}

void use(const HeContext& he, const Saveable& loaded)
{
  std::ostringstream out;
  loaded.save(out);
  if (auto t = dynamic_cast<const CTileTensor*>(&loaded))
    use(*t);
  else if (auto p = dynamic_cast<const PTileTensor*>(&loaded))
    TTEncoder(he).decodeDouble(*p);
  else if (auto b = dynamic_cast<const EncryptedBatch*>(&loaded))
    use(*b);
  else if (auto d = dynamic_cast<const EncryptedData*>(&loaded))
    use(*d);
  else if (auto c = dynamic_cast<const CTile*>(&loaded))
    Encoder(he).decryptDecodeComplex(*c);
  else if (auto m = dynamic_cast<const ProtocolMessage*>(&loaded)) {
    const AbstractProtocolMessage& message = *m->getImpl();
    if (message.getEncryptedData())
      use(*message.getEncryptedData());
    if (message.getCTileTensor())
      use(*message.getCTileTensor());
    if (message.getCTile())
      Encoder(he).decryptDecodeComplex(*message.getCTile());
    message.getMetadataAsString(true);
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  fuzz::silenceOutput();
  fuzz::mockupContext();
  fuzz::sealContext();
  fuzz::multiPartyContext();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size == 0)
    return 0;
  const int which = data[0] & 3;
  const HeContext& he = which == 0   ? fuzz::mockupContext()
                        : which == 1 ? static_cast<const HeContext&>(fuzz::sealContext())
                                     : fuzz::multiPartyContext();
  const std::string rest = fuzz::bytesOf(data + 1, size - 1);
  fuzz::expectCleanLoad([&] {
    if ((data[0] & 4) != 0) {
      auto storage = std::make_shared<fuzz::MemoryStorage>();
      std::ostringstream header;
      SaveableHeader("EncryptedData", he.getContextId()).save(header);
      storage->buffers["header"] = header.str();
      storage->buffers["metadata"] = rest.substr(0, 8);
      if (rest.size() > 8)
        storage->buffers["batch-0"] = rest.substr(8);
      EncryptedData stored(he);
      stored.attachInputStorage(storage);
      use(stored);
    } else {
      std::istringstream in(rest);
      use(he, *Saveable::loadSaveable(he, in));
    }
  });
  return 0;
}
