// Saved tile tensors, encrypted batches and data sets, protocol messages, and
// the shapes tile tensors are encoded into. The first byte chooses: bits 0-1
// the context (0 the mockup, 1 SEAL, else the multi-party mockup); bit 2 an
// encrypted data set read from a storage (the rest of the input is its
// metadata, 8 bytes, then the body of batch 0; the other batches are missing)
// instead of an object read through the loader registry. Whatever loads is
// saved again, printed and decrypted or decoded. With bit 3 the rest is a
// saved TTShape (with bit 4 a saved TTDim, the shape's only dimension), which
// is encoded into on the mockup context: a shape must not make the encoder
// allocate far beyond the values it describes, and those values must come
// back.

#include "FuzzFixtures.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/PTile.h"
#include "hebase/impl/AbstractProtocolMessage.h"
#include "hebase/impl/ProtocolMessage.h"
#include "hebase/utils/SaveableHeader.h"
#include "math/CTileTensor.h"
#include "math/DoubleTensor.h"
#include "math/EncryptedData.h"
#include "math/PTileTensor.h"
#include "math/TTEncoder.h"
#include "math/TTShape.h"

using namespace quorvane;

namespace {

void use(const CTileTensor& tensor)
{
  tensor.toString(VERBOSITY_DETAILED);
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
  if (auto t = dynamic_cast<const CTileTensor*>(&loaded)) {
    use(*t);
  } else if (auto p = dynamic_cast<const PTileTensor*>(&loaded)) {
    p->toString(VERBOSITY_DETAILED);
    TTEncoder(he).decodeDouble(*p);
  } else if (auto b = dynamic_cast<const EncryptedBatch*>(&loaded)) {
    use(*b);
  } else if (auto d = dynamic_cast<const EncryptedData*>(&loaded)) {
    use(*d);
  } else if (auto c = dynamic_cast<const CTile*>(&loaded)) {
    Encoder(he).decryptDecodeComplex(*c);
  } else if (auto m = dynamic_cast<const ProtocolMessage*>(&loaded)) {
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

// The most values the harness makes for a shape: its own data stays small, so
// whatever the encoder allocates beyond is the shape's doing.
constexpr int64_t MAX_VALUES = 4096;

// Encodes and encrypts the values of the shape's sizes (2 for an incomplete
// dimension) on the mockup context, a last dimension filling its tiles to the
// context's slots, and checks they decrypt to what was encoded.
void encodeInto(TTShape shape)
{
  const HeContext& he = fuzz::mockupContext();
  const int slots = shape.getNumSlotsInTile();
  if (slots < he.slotCount() && he.slotCount() % slots == 0)
    shape.addDim(TTDim(-1, he.slotCount() / slots));
  std::vector<int> sizes;
  int64_t count = 1;
  for (int i = 0; i < shape.getNumDims(); ++i) {
    const TTDim& dim = shape.getDim(i);
    sizes.push_back(dim.isIncomplete() ? 2 : dim.getOriginalSize());
    if ((count *= sizes.back()) > MAX_VALUES)
      return;
  }
  DoubleTensor values(sizes);
  for (int i = 0; i < values.size(); ++i)
    values.at(i) = 0.25 * (i % 7) - 0.5;
  const TTEncoder encoder(he);
  CTileTensor encrypted(he);
  encoder.encodeEncrypt(encrypted, shape, values);
  const DoubleTensor decrypted = encoder.decryptDecodeDouble(encrypted);
  if (decrypted.getShape() != values.getShape())
    std::abort();
  for (int i = 0; i < values.size(); ++i)
    if (std::abs(decrypted.at(i) - values.at(i)) > 1e-6)
      std::abort();
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
    if ((data[0] & 8) != 0) {
      std::istringstream in(rest);
      TTShape shape;
      if ((data[0] & 16) != 0) {
        TTDim dim;
        dim.load(in);
        shape.addDim(dim);
      } else {
        shape.load(in);
      }
      encodeInto(shape);
    } else if ((data[0] & 4) != 0) {
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
