// Every saved format, truncated at every field and overwritten with flipped
// bits and large values at every field: each load either succeeds or raises a
// clear error (never a crash, a failed allocation or a length error other than
// the specified refusal of a negative dimension count), and a
// refused load leaves the object it loads into as it was.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <seal/seal.h>

#include "BootstrapTestUtils.h"
#include "MultiPartyTestUtils.h"
#include "MemoryStorage.h"
#include "TestUtils.h"
#include "TileTensorTestUtils.h"
#include "hebase/AbstractCiphertext.h"
#include "hebase/AbstractPlaintext.h"
#include "hebase/BootstrapConfig.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/FileStorage.h"
#include "hebase/MultiPartyConfig.h"
#include "hebase/NumberConfig.h"
#include "hebase/PTile.h"
#include "hebase/Storage.h"
#include "hebase/impl/ProtocolMessage.h"
#include "hebase/mockup/DebugContext.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealObjectLoader.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/SaveableHeader.h"
#include "math/CTileTensor.h"
#include "math/DoubleTensor.h"
#include "math/EncryptedData.h"
#include "math/PTileTensor.h"
#include "math/Padding2d.h"
#include "math/TTDim.h"
#include "math/TTEncoder.h"
#include "math/TTShape.h"
#include "math/aes/AesHTable.h"
#include "math/aes/AesKey.h"
#include "math/aes/impl/AesBitwiseHTable.h"
#include "math/aes/impl/AesBitwiseKey.h"
#include "math/bootstrap/seal/BootstrapCore.h"
#include "math/bootstrap/seal/FFTLayer.h"
#include "math/bootstrap/seal/FFTUtils.h"

using namespace quorvane;
using namespace qvtest;

namespace {

/// A saved format: a small valid record and a load of some bytes into the
/// object the format loads into. A refused load throws after checking (with
/// EXPECT) that the object is as it was.
struct Format
{
  std::string name;
  std::string record;
  std::function<void(const std::string&)> load;
  /// Offsets to truncate at and to overwrite; empty: chosen from the record.
  std::vector<size_t> fields = {};
};

struct Mutation
{
  const char* name;
  std::string bytes; // written over the field; empty: flip
  char flip;
};

const Mutation MUTATIONS[] = {
    {"bit 0 flipped", "", 0x01},
    {"bit 7 flipped", "", static_cast<char>(0x80)},
    {"0x7fffffff", le32(0x7fffffff), 0},
    {"0xffffffff", le32(-1), 0},
    {"2^62", le64(uint64_t(1) << 62), 0},
    {"2^64 - 1", le64(~uint64_t(0)), 0},
};

const std::string SEAL_MAGIC = bytes({0x5E, 0xA1, 0x10, 0x03, 0x07});
const size_t SEAL_HEADER = 16;
// Inside SEAL's coefficient arrays and compressed data (where every byte
// plays the same part) one offset in this many is used.
const size_t PAYLOAD_STRIDE = 61;

/// Where SEAL objects carry payload: the words of their coefficient arrays and
/// the bodies of compressed objects.
std::vector<std::pair<size_t, size_t>> payloadsOf(const std::string& record)
{
  std::vector<std::pair<size_t, size_t>> payloads;
  for (size_t h = record.find(SEAL_MAGIC); h != std::string::npos;
       h = record.find(SEAL_MAGIC, h + 1)) {
    if (h + SEAL_HEADER + 8 > record.size())
      continue;
    uint64_t size = uint64At(record, h + 8);
    if (size < SEAL_HEADER + 8 || size > record.size() - h)
      continue;
    if (record[h + 5] != 0)
      payloads.emplace_back(h + SEAL_HEADER, h + size);
    else if (uint64At(record, h + SEAL_HEADER) * 8 + SEAL_HEADER + 8 == size)
      payloads.emplace_back(h + SEAL_HEADER + 8, h + size);
  }
  return payloads;
}

/// Every offset, except that inside payloads only some are kept (their
/// first and last words always).
std::vector<size_t> fieldsOf(const std::string& record)
{
  auto payloads = payloadsOf(record);
  std::vector<size_t> fields;
  for (size_t i = 0; i < record.size(); i++) {
    bool kept = true;
    for (const auto& p : payloads)
      if (i >= p.first + 8 && i + 8 < p.second && (i - p.first) % PAYLOAD_STRIDE != 0)
        kept = false;
    if (kept)
      fields.push_back(i);
  }
  return fields;
}

/// Runs the load; returns whether it succeeded. A failed allocation, a length
/// error (a size taken from the data unchecked) or an exception without a
/// message fails the test.
bool attempt(const Format& format, const std::string& bytes, const std::string& what)
{
  SCOPED_TRACE(format.name + ", " + what);
  try {
    format.load(bytes);
    return true;
  } catch (const std::bad_alloc& e) {
    ADD_FAILURE() << "allocation failure: " << e.what();
  } catch (const std::length_error& e) {
    ADD_FAILURE() << "length error: " << e.what();
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()), "");
  } catch (...) {
    ADD_FAILURE() << "an exception that is no std::exception";
  }
  return false;
}

void checkLoads(const Format& format)
{
  ASSERT_TRUE(attempt(format, format.record, "the valid record"));
  std::vector<size_t> fields = format.fields.empty() ? fieldsOf(format.record) : format.fields;
  for (size_t length : fields)
    EXPECT_FALSE(attempt(format, format.record.substr(0, length),
                         "truncated to " + std::to_string(length)))
        << format.name << " loads when truncated to " << length;
  for (size_t offset : fields) {
    for (const Mutation& m : MUTATIONS) {
      if (offset + std::max<size_t>(m.bytes.size(), 1) > format.record.size())
        continue;
      std::string changed = format.record;
      if (m.bytes.empty())
        changed[offset] = static_cast<char>(changed[offset] ^ m.flip);
      else
        changed.replace(offset, m.bytes.size(), m.bytes);
      attempt(format, changed, std::string(m.name) + " at " + std::to_string(offset));
    }
  }
  ASSERT_TRUE(attempt(format, format.record, "the valid record after the others"));
}

void checkFormat(const Format& format)
{
  // Refused headers are also reported on standard output and error.
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  checkLoads(format);
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  // Failures were printed there too.
  if (testing::Test::HasFailure())
    std::cout << out << err;
}

// ---- Loads into the objects of each kind ----

/// A plain record loaded over another value.
template <typename T>
Format recordFormat(const std::string& name, const T& valid, const T& other,
                    std::vector<size_t> fields = {})
{
  return {name, savedRecord(valid),
          [other, before = savedRecord(other)](const std::string& bytes) {
            T target = other;
            std::istringstream in(bytes);
            try {
              target.load(in);
            } catch (...) {
              EXPECT_EQ(savedRecord(target), before);
              throw;
            }
          },
          std::move(fields)};
}

/// A context loaded into a fresh one of type C: a refused load leaves it
/// uninitialised.
template <typename C>
Format contextFormat(const std::string& name, const HeContext& he,
                     std::vector<size_t> fields = {})
{
  return {name, saved(he),
          [](const std::string& bytes) {
            C target;
            std::istringstream in(bytes);
            try {
              target.load(in);
            } catch (...) {
              EXPECT_FALSE(target.isInitialized());
              throw;
            }
          },
          std::move(fields)};
}

/// A secret key loaded into a context loaded from the saved context; a
/// refused load leaves it without a key.
Format secretKeyFormat(const std::string& name, const HeContext& he, bool seedOnly,
                       std::vector<size_t> fields = {})
{
  std::string context = saved(he);
  auto target = std::make_shared<std::shared_ptr<HeContext>>();
  return {name, savedKey(he, seedOnly),
          [context, target, seedOnly](const std::string& bytes) {
            if (!*target || (*target)->hasSecretKey()) {
              std::istringstream in(context);
              *target = loadHeContext(in);
            }
            std::istringstream in(bytes);
            try {
              (*target)->loadSecretKey(in, seedOnly);
            } catch (...) {
              EXPECT_FALSE((*target)->hasSecretKey());
              throw;
            }
          },
          std::move(fields)};
}

/// A saveable object of type T (a tile, a tensor, a key ...) loaded over a
/// copy of another one of the context; state tells what must stay as it was
/// (by default the saved form).
template <typename T>
Format saveableFormat(const std::string& name, const T& valid, const T& other,
                      std::vector<size_t> fields = {},
                      std::function<std::string(const T&)> state = nullptr)
{
  if (!state)
    state = [](const T& object) { return saved(object); };
  return {name, saved(valid),
          [other, state, before = state(other)](const std::string& bytes) {
            T target = other;
            std::istringstream in(bytes);
            try {
              target.load(in);
            } catch (...) {
              EXPECT_EQ(state(target), before);
              throw;
            }
          },
          std::move(fields)};
}

std::string savedBody(const AbstractCiphertext& c)
{
  std::ostringstream out;
  c.save(out);
  return out.str();
}

std::string savedBody(const AbstractPlaintext& p)
{
  std::ostringstream out;
  p.save(out);
  return out.str();
}

/// A backend body loaded over a copy of another tile's body.
template <typename T>
Format bodyFormat(const std::string& name, const T& valid, const T& other)
{
  return {name, savedBody(valid.getImpl()), [other](const std::string& bytes) {
            T target = other;
            std::istringstream in(bytes);
            try {
              target.getImpl().load(in);
            } catch (...) {
              EXPECT_EQ(savedBody(target.getImpl()), savedBody(other.getImpl()));
              throw;
            }
          }};
}

/// A SEAL object read through the library's checked loader, over a copy of
/// another one.
template <typename S, typename Load>
Format sealObjectFormat(const std::string& name, const S& valid, const S& other, Load load)
{
  auto blob = [](const S& object) {
    std::ostringstream out;
    object.save(out, seal::compr_mode_type::none);
    return out.str();
  };
  return {name, blob(valid), [other, blob, load](const std::string& bytes) {
            S target = other;
            std::istringstream in(bytes);
            try {
              load(in, target);
            } catch (...) {
              EXPECT_EQ(blob(target), blob(other));
              throw;
            }
          }};
}

// ---- The records ----

/// A bootstrappable multi-party requirement with the given rotations.
HeConfigRequirement fullRequirement(RotationSetType rotate)
{
  HeConfigRequirement req = bootstrappable(16, 6);
  req.publicFunctions = publicFunctions(true, true, rotate, TRUE,
                                        rotate == CUSTOM_ROTATIONS ? std::vector<int>{1, -2}
                                                                   : std::vector<int>{});
  MultiPartyConfig mp;
  mp.participantId = 1;
  mp.keyOwnersIds = {1, 2};
  req.multiPartyConfig = mp;
  return req;
}

std::shared_ptr<SealCkksContext> smallSealContext(const PublicFunctions& pf)
{
  HeConfigRequirement req = HeConfigRequirement::insecure(8, 1, 20, 5);
  req.publicFunctions = pf;
  auto he = std::make_shared<SealCkksContext>();
  he->init(req);
  return he;
}

/// The fields of the keys of a saved SEAL context and what follows them: the
/// header and count fields of each SEAL object among the keys, and every
/// offset after the last key. (The fields before the keys are those of a
/// context without keys; each key object's own fields are exercised through
/// its loader.)
std::vector<size_t> sealKeyFields(const SealCkksContext& he, const std::string& record)
{
  std::ostringstream base;
  he.HeContext::saveImpl(base, he.getPublicFunctions());
  size_t parms = headerBytes("HeContext", 0).size() + base.str().size();
  size_t keys = parms + uint64At(record, parms + 8) + 12;
  size_t tail = record.size() - 1 - 8 * static_cast<size_t>(he.getTopChainIndex() + 1);
  std::set<size_t> fields;
  for (size_t h = record.find(SEAL_MAGIC, keys); h != std::string::npos && h < tail;
       h = record.find(SEAL_MAGIC, h + 1))
    for (size_t at : {0, 5, 8, 16, 48, 49, 56, 57, 65})
      if (h + at < tail)
        fields.insert(h + at);
  for (size_t i = tail; i < record.size(); i++)
    fields.insert(i);
  return std::vector<size_t>(fields.begin(), fields.end());
}

} // namespace

TEST(CorruptedRecords, RecordsLoadOrRefuseCleanly)
{
  BootstrapConfig bootstrap;
  bootstrap.targetChainIndex = 3;
  bootstrap.minChainIndexForBootstrapping = 1;
  MultiPartyConfig multiParty;
  multiParty.participantId = 2;
  multiParty.keyOwnersIds = {1, 2, 3};
  multiParty.aggregatorId = 3;
  DoubleTensor tensor;
  tensor.init({2, 3}, {1, 2, 3, 4, 5, 6}, true);
  DoubleTensor otherTensor;
  otherTensor.init({1}, {7}, true);
  const Format formats[] = {
      recordFormat("HeConfigRequirement", fullRequirement(CUSTOM_ROTATIONS),
                   requirement(4, 1, 20, 5, 0)),
      recordFormat("PublicFunctions", publicFunctions(true, false, CUSTOM_ROTATIONS, DEFAULT, {3}),
                   PublicFunctions()),
      recordFormat("BootstrapConfig", bootstrap, BootstrapConfig()),
      recordFormat("MultiPartyConfig", multiParty, MultiPartyConfig()),
      recordFormat("NumberConfig", NumberConfig::fixedPoint(SIZE_16_BIT, SIGNED, 5),
                   NumberConfig()),
      recordFormat("DoubleTensor", tensor, otherTensor),
  };
  for (const Format& format : formats)
    checkFormat(format);
}

TEST(CorruptedRecords, MockupContextsKeysAndTilesLoadOrRefuseCleanly)
{
  auto plain = createMockup(4, 2);
  // Custom rotations make a load build a rotation map over the saved slot
  // count, which the library bounds by 2^22 only: too slow for a test run.
  auto full = createMockup(fullRequirement(DEFAULT_ROTATIONS));
  Encoder encoder(*plain);
  CTile c(*plain), otherC(*plain);
  encoder.encodeEncrypt(c, std::vector<double>{1, -2, 3, 0.5}, 2);
  encoder.encodeEncrypt(otherC, std::vector<double>{4, 4, 4, 4}, 1);
  PTile p(*plain), otherP(*plain);
  encoder.encode(p, std::vector<double>{0.25, 0, 1, 2}, 1);
  encoder.encode(otherP, std::vector<double>{9, 9, 9, 9}, 2);
  const Format formats[] = {
      contextFormat<MockupContext>("mockup context", *plain),
      contextFormat<MockupContext>("bootstrappable multi-party mockup context", *full),
      secretKeyFormat("mockup secret key", *plain, false),
      saveableFormat("mockup CTile", c, otherC),
      saveableFormat("mockup PTile", p, otherP),
      bodyFormat("mockup ciphertext body", c, otherC),
      bodyFormat("mockup plaintext body", p, otherP),
  };
  for (const Format& format : formats)
    checkFormat(format);
}

TEST(CorruptedRecords, SealContextsKeysAndTilesLoadOrRefuseCleanly)
{
  // Every kind of key: one rotation and the conjugation make two Galois keys.
  auto keyed = smallSealContext(publicFunctions(true, true, CUSTOM_ROTATIONS, TRUE, {1}));
  auto keyless = smallSealContext(publicFunctions(false, false, NO_ROTATIONS, FALSE));
  Encoder encoder(*keyed);
  CTile c(*keyed), otherC(*keyed);
  encoder.encodeEncrypt(c, std::vector<double>{1, -2, 3, 0.5}, 1);
  encoder.encodeEncrypt(otherC, std::vector<double>{4, 4}, 0);
  PTile p(*keyed), otherP(*keyed);
  encoder.encode(p, std::vector<double>{0.25, 0, 1, 2}, 1);
  encoder.encode(otherP, std::vector<double>{9, 9}, 0);
  std::string keyedRecord = saved(*keyed);
  std::string seedRecord = savedKey(*keyed, true);
  // The seed's words make a new key each: a few of them suffice.
  std::vector<size_t> seedFields;
  for (size_t i = 0; i < seedRecord.size(); i += (i < seedRecord.size() - 64 ? 1 : 13))
    seedFields.push_back(i);
  const Format formats[] = {
      contextFormat<SealCkksContext>("SEAL context with keys", *keyed,
                                     sealKeyFields(*keyed, keyedRecord)),
      contextFormat<SealCkksContext>("SEAL context without keys", *keyless),
      secretKeyFormat("SEAL secret key", *keyed, false),
      secretKeyFormat("SEAL secret key seed", *keyed, true, seedFields),
      saveableFormat("SEAL CTile", c, otherC),
      saveableFormat("SEAL PTile", p, otherP),
      bodyFormat("SEAL ciphertext body", c, otherC),
      bodyFormat("SEAL plaintext body", p, otherP),
  };
  for (const Format& format : formats)
    checkFormat(format);
}

// The SEAL objects of a saved context, each through its checked loader.
TEST(CorruptedRecords, SealObjectsLoadOrRefuseCleanly)
{
  auto keyed = smallSealContext(publicFunctions(true, true, CUSTOM_ROTATIONS, TRUE, {1}));
  auto other = smallSealContext(publicFunctions(true, true, CUSTOM_ROTATIONS, TRUE, {1}));
  const seal::SEALContext& sc = keyed->getSealContext();
  auto keysOf = [](const SealCkksContext& he, const std::string& which) {
    std::string bytes = saved(he);
    size_t at = bytes.find(SEAL_MAGIC);
    at += uint64At(bytes, at + 8) + 12; // parameters, scale, level
    for (const char* key : {"public", "relin", "galois"}) {
      if (key == which)
        return bytes.substr(at, uint64At(bytes, at + 8));
      at += uint64At(bytes, at + 8);
    }
    return std::string();
  };
  auto loaded = [&](auto object, const std::string& blob) {
    std::istringstream in(blob);
    object.load(sc, in);
    return object;
  };
  const Format formats[] = {
      sealObjectFormat("SEAL parameters", keyed->getEncryptionParams(),
                       seal::EncryptionParameters(seal::scheme_type::ckks),
                       [](std::istream& in, seal::EncryptionParameters& parms) {
                         SealObjectLoader::loadParameters(in, parms);
                       }),
      sealObjectFormat("SEAL public key", loaded(seal::PublicKey(), keysOf(*keyed, "public")),
                       loaded(seal::PublicKey(), keysOf(*other, "public")),
                       [&](std::istream& in, seal::PublicKey& key) {
                         SealObjectLoader::loadPublicKey(in, sc, key);
                       }),
      sealObjectFormat("SEAL relinearization keys",
                       loaded(seal::RelinKeys(), keysOf(*keyed, "relin")),
                       loaded(seal::RelinKeys(), keysOf(*other, "relin")),
                       [&](std::istream& in, seal::RelinKeys& keys) {
                         SealObjectLoader::loadRelinKeys(in, sc, keys);
                       }),
      sealObjectFormat("SEAL Galois keys", loaded(seal::GaloisKeys(), keysOf(*keyed, "galois")),
                       loaded(seal::GaloisKeys(), keysOf(*other, "galois")),
                       [&](std::istream& in, seal::GaloisKeys& keys) {
                         SealObjectLoader::loadGaloisKeys(in, sc, 2, keys);
                       }),
  };
  for (const Format& format : formats)
    checkFormat(format);
}

// Objects read from a file storage through the loader registry.
TEST(CorruptedRecords, StoredObjectsLoadOrRefuseCleanly)
{
  TempDir dir;
  auto he = createMockup(4, 2);
  FileStorage storage(dir.file("storage"), true);
  CTile c(*he);
  Encoder(*he).encodeEncrypt(c, std::vector<double>{1, 2, 3, 4}, 2);
  storage.save(c, "tile");
  std::string path = dir.file("storage") + "/tile";
  Format stored{"stored CTile", readFile(path), [&](const std::string& bytes) {
                  // A new file each time: truncating one makes the file system flush it.
                  std::filesystem::remove(path);
                  {
                    std::ofstream out(path, std::ios::binary);
                    out << bytes;
                  }
                  storage.load(*he, "tile");
                }};
  checkFormat(stored);
}

namespace {

/// Offsets of a record made of many tiles that repeat one layout: every
/// offset of the spans [start, start + length) (a negative start counts from
/// the end) and, with a stride, one offset in stride elsewhere.
std::vector<size_t> sampledFields(const std::string& record,
                                  const std::vector<std::pair<int64_t, size_t>>& spans,
                                  size_t stride = 0)
{
  std::set<size_t> fields;
  for (const auto& span : spans) {
    const int64_t start = span.first < 0 ? static_cast<int64_t>(record.size()) + span.first
                                         : span.first;
    for (size_t i = static_cast<size_t>(start); i < start + span.second && i < record.size(); i++)
      fields.insert(i);
  }
  for (size_t i = 0; stride > 0 && i < record.size(); i += stride)
    fields.insert(i);
  return std::vector<size_t>(fields.begin(), fields.end());
}

/// One buffer of a data set kept in a storage, replaced by the bytes; the data
/// set is attached to the storage and every batch is read. A refused
/// attachment leaves the data set unattached and empty; a refused batch leaves
/// it attached with its batch count.
Format storedDataFormat(const std::string& name, const HeContext& he,
                        const MemoryStorage& valid, const std::string& buffer)
{
  return {name, valid.buffers.at(buffer), [&he, valid, buffer](const std::string& bytes) {
            auto storage = std::make_shared<MemoryStorage>(valid);
            storage->buffers[buffer] = bytes;
            EncryptedData data(he);
            try {
              data.attachInputStorage(storage);
            } catch (...) {
              EXPECT_FALSE(data.isInputStorageAttached());
              EXPECT_EQ(data.getNumBatches(), 0u);
              throw;
            }
            const size_t count = data.getNumBatches();
            try {
              for (size_t i = 0; i < count; i++)
                data.getBatch(i);
            } catch (...) {
              EXPECT_TRUE(data.isInputStorageAttached());
              EXPECT_EQ(data.getNumBatches(), count);
              throw;
            }
          }};
}

std::string savedLayers(const FFTUtils::Layers& layers)
{
  std::ostringstream out;
  for (const FFTLayer& layer : layers)
    layer.save(out);
  return out.str();
}

std::string savedDiagonals(const std::vector<PTile>& diagonals)
{
  std::string all;
  for (const PTile& p : diagonals)
    all += saved(p);
  return all;
}

std::shared_ptr<CTileTensor> encryptedItem(const HeContext& he, const std::vector<int>& tiles,
                                           const std::vector<int>& sizes, unsigned seed)
{
  return std::make_shared<CTileTensor>(encrypted(he, TTShape(tiles), randomTensor(sizes, seed)));
}

} // namespace

TEST(CorruptedRecords, TileTensorRecordsLoadOrRefuseCleanly)
{
  auto he = createMockup(4, 2);
  TTShape diagonal = shapeOf({TTDim(4, 2), TTDim(4, 2), interleavedDim(3, 1, 4)});
  diagonal.setDiagonalized(true);
  TTShape otherShape = shapeOf({TTDim(5, 4)});
  const TTShape tensorShape({2, 2});
  PTileTensor packed = encoded(*he, tensorShape, randomTensor({3, 2}, 1));
  PTileTensor otherPacked = encoded(*he, TTShape({4}), randomTensor({4}, 2), 1);
  PTileTensor lazy(*he);
  TTEncoder(*he, LAZY_ENCODING).encode(lazy, tensorShape, randomTensor({2, 3}, 3), 1);
  PTileTensor unpacked(*he, shapeOf({TTDim(3, 2), TTDim(2, 2)}));
  CTileTensor c = *encryptedItem(*he, {2, 2}, {3, 2}, 4);
  CTileTensor otherC = *encryptedItem(*he, {4}, {4}, 5);
  EncryptedBatch batch(*he);
  batch.addItem(encryptedItem(*he, {4, 1}, {2, 1}, 6));
  batch.addItem(encryptedItem(*he, {1, 4}, {1, 3}, 7));
  EncryptedData data(*he);
  data.addBatch(batch);
  EncryptedBatch second(*he);
  second.addItem(encryptedItem(*he, {4}, {1}, 8));
  data.addBatch(second);
  const Format formats[] = {
      recordFormat("interleaved TTDim", interleavedDim(5, 2, 4), TTDim(7, 8)),
      recordFormat("diagonalized TTShape", diagonal, otherShape),
      recordFormat("TTShape", shapeOf({TTDim(3, 2, 1, true), TTDim(1, 2, 2)}), otherShape),
      recordFormat("Padding2d", Padding2d(1, 2, 3, 4), Padding2d(0, 5, 0, 6)),
      saveableFormat("packed PTileTensor", packed, otherPacked),
      saveableFormat("lazy PTileTensor", lazy, otherPacked),
      saveableFormat("unpacked PTileTensor", unpacked, otherPacked),
      saveableFormat("CTileTensor", c, otherC),
      saveableFormat("unpacked CTileTensor", CTileTensor(*he), otherC),
      saveableFormat("EncryptedBatch", batch, EncryptedBatch(*he)),
      saveableFormat("EncryptedData", data, EncryptedData(*he)),
  };
  for (const Format& format : formats)
    checkFormat(format);
}

TEST(CorruptedRecords, StoredEncryptedDataLoadsOrRefusesCleanly)
{
  auto he = createMockup(4, 2);
  auto storage = std::make_shared<MemoryStorage>();
  {
    EncryptedData data(*he);
    data.attachOutputStorage(storage);
    for (unsigned seed : {1, 2}) {
      EncryptedBatch batch(*he);
      batch.addItem(encryptedItem(*he, {2, 2}, {3, 1}, seed));
      data.addBatch(batch);
    }
    data.flushToStorage();
  }
  const Format formats[] = {
      storedDataFormat("stored EncryptedData header", *he, *storage, "header"),
      storedDataFormat("stored EncryptedData metadata", *he, *storage, "metadata"),
      storedDataFormat("stored EncryptedData batch", *he, *storage, "batch-1"),
  };
  for (const Format& format : formats)
    checkFormat(format);
}

TEST(CorruptedRecords, ProtocolMessagesLoadOrRefuseCleanly)
{
  auto sender = mpContext(mpConfig(2, {1, 2}, 1, 2));
  auto receiver = mpContext(mpConfig(1, {1, 2}, 1, 2));
  ProtocolMessage full(*sender, PROTOCOL_DECRYPT, MP_KEY_OWNER, 1);
  auto data = std::make_shared<EncryptedData>(*sender);
  EncryptedBatch batch(*sender);
  batch.addItem(encryptedItem(*sender, {MP_SLOTS}, {3}, 1));
  data->addBatch(batch);
  full.getImpl()->setEncryptedData(data);
  full.getImpl()->setCTileTensor(encryptedItem(*sender, {2, 4}, {2, 2}, 2));
  auto tile = std::make_shared<CTile>(*sender);
  Encoder(*sender).encodeEncrypt(*tile, std::vector<double>{1, 2, 3}, 2);
  full.getImpl()->setCTile(tile);
  full.getImpl()->setProtocolId(5);
  ProtocolMessage empty(*sender, PROTOCOL_INIT, MP_INITIATOR, 0);
  ProtocolMessage other(*receiver, PROTOCOL_INIT, MP_PLAINTEXT_AGGREGATOR, 3);
  const Format formats[] = {
      saveableFormat("ProtocolMessage with every payload", full, other),
      saveableFormat("ProtocolMessage without payload", empty, other),
  };
  for (const Format& format : formats)
    checkFormat(format);
}

TEST(CorruptedRecords, AesRecordsLoadOrRefuseCleanly)
{
  const std::vector<uint8_t> clearKey(16, 0x5a);
  auto he = createMockup(4, 3);
  AesKey expanded(*he);
  expanded.heEncrypt(clearKey, false);
  AesKey otherKey(*he);
  otherKey.heEncrypt(std::vector<uint8_t>(24, 7), false);
  // Compression keeps a slot per round-key bit.
  auto wide = createMockup(2048, 3);
  AesKey compressed(*wide);
  compressed.heEncrypt(clearKey, true);
  AesKey otherWideKey(*wide);
  otherWideKey.heEncrypt(std::vector<uint8_t>(24, 7), true);
  AesBitwiseKey roundKey = *expanded.getRoundKeys()[1];
  AesBitwiseKey otherRoundKey = *otherKey.getRoundKeys()[0];
  AesBitwiseHTable element(*he);
  element.heEncrypt({{1, 2}, {3, 4}, {5, 6}}, 2, true);
  AesBitwiseHTable otherElement(*he);
  otherElement.heEncrypt({{9}}, 1, false);
  // A table of two batches, built from its saved form.
  std::ostringstream tableBytes;
  SaveableHeader("AesHTable", he->getContextId()).save(tableBytes);
  BinIoUtils::writeBool(tableBytes, true);
  BinIoUtils::writeInt32(tableBytes, 5);
  element.save(tableBytes);
  element.save(tableBytes);
  AesHTable table(*he);
  std::istringstream tableIn(tableBytes.str());
  table.load(tableIn);

  // A key holds 11 round keys of 128 tiles: its loads are slow enough that
  // only the fields that lead to the tiles are changed: the key's own fields,
  // those of its first element and of the first tile (header, count and
  // chain index), those of the second element and the last byte. The
  // header and the tiles' payload are exercised by the other formats.
  const int64_t headerSize = headerBytes("AesKey", 0).size();
  const int64_t tileHeaderSize = TILE_HEADER;
  const int64_t tileSize = saved(*roundKey.getBit(0, 0)).size();
  const int64_t elementFields = 14;
  const int64_t keyFields = headerSize + 14;
  const int64_t elementSize = savedRecord(roundKey).size();
  const int64_t firstTile = keyFields + elementFields;
  const std::vector<std::pair<int64_t, size_t>> expandedSpans{
      {headerSize, firstTile + tileHeaderSize + 8 - headerSize},
      {firstTile + tileSize - 4, 4},
      {keyFields + elementSize, elementFields},
      {-1, 1}};
  // Which round keys an expanded key holds (saving one takes long).
  auto roundKeysOf = [](const AesKey& key) {
    std::ostringstream out;
    out << key.isInitialized() << key.isCompressed() << key.getKeySize();
    for (const auto& k : key.getRoundKeys())
      out << " " << k.get();
    return out.str();
  };
  // Expanding a compressed key takes long too: only its own fields and the
  // last byte are changed.
  const std::vector<std::pair<int64_t, size_t>> compressedSpans{{headerSize, 15}, {-1, 1}};
  // In an element: its fields, the first tile's header and count, and the
  // first tile's chain index followed by the second tile's header and count.
  const std::vector<std::pair<int64_t, size_t>> elementSpans{
      {0, elementFields + tileHeaderSize + 8},
      {elementFields + tileSize - 4, 4 + tileHeaderSize + 8}};
  const Format formats[] = {
      saveableFormat("expanded AesKey", expanded, otherKey,
                     sampledFields(saved(expanded), expandedSpans),
                     std::function<std::string(const AesKey&)>(roundKeysOf)),
      saveableFormat("compressed AesKey", compressed, otherWideKey,
                     sampledFields(saved(compressed), compressedSpans)),
      saveableFormat("AesHTable", table, AesHTable(*he),
                     sampledFields(saved(table),
                                   {{0, headerBytes("AesHTable", 0).size() + 5 + elementFields +
                                            tileHeaderSize + 8}},
                                   37)),
      recordFormat("AES round key", roundKey, otherRoundKey,
                   sampledFields(savedRecord(roundKey), elementSpans, 397)),
      recordFormat("AES H-table batch", element, otherElement,
                   sampledFields(savedRecord(element), elementSpans, 61)),
  };
  for (const Format& format : formats)
    checkFormat(format);
}

TEST(CorruptedRecords, BootstrapCachesLoadOrRefuseCleanly)
{
  const BootstrapCore& core = mockupCore(8);
  FFTUtils utils(core);
  FFTUtils::Layers layers;
  utils.computeEncodingLayers(layers, 1.0);
  utils.joinLayers(layers);
  utils.encodeLayers(layers, core.getEncodingChainIndex(), true);
  const FFTLayer& valid = layers[1];
  const FFTLayer& other = layers[0];
  auto savedLayer = [](const FFTLayer& layer) {
    std::ostringstream out;
    layer.save(out);
    return out.str();
  };
  Format layer{"FFT layer", savedLayer(valid), [&](const std::string& bytes) {
                 FFTLayer target = other;
                 std::istringstream in(bytes);
                 try {
                   target.load(in);
                 } catch (...) {
                   EXPECT_EQ(savedLayer(target), savedLayer(other));
                   throw;
                 }
               }};
  layer.fields = sampledFields(layer.record, {{0, 80}}, 23);
  checkFormat(layer);

  // The cache files a core reads: a refused file is recomputed, giving what
  // a core without the cache has.
  TempWorkingDir cwd;
  const HeContext& he = core.getHeContext();
  auto config = [](bool fft) {
    BootstrapConfig c = uncachedConfig();
    c.coef2slotViaFFT = fft;
    c.slot2coefViaFFT = false;
    c.loadEncMatrices = true;
    return c;
  };
  struct CacheFile
  {
    std::string name;
    bool fft;
    std::string prefix;
  };
  for (const CacheFile& file : {CacheFile{"encoding FFT layers file", true, "/ENC_FFT_CI"},
                                CacheFile{"encoding matrix file", false, "/ENC_CI"}}) {
    std::string path, reference;
    {
      BootstrapConfig store = config(file.fft);
      store.loadEncMatrices = false;
      store.storeEncMatrices = true;
      CoutCapture quiet;
      BootstrapCore made(he, store, 1 << 20);
      for (const auto& entry : std::filesystem::directory_iterator(made.getCacheDir()))
        if (entry.path().filename().string().rfind(file.prefix.substr(1), 0) == 0)
          path = entry.path().string();
      reference = file.fft ? savedLayers(made.getFftUtils()->getEncodingLayers())
                           : savedDiagonals(*made.getEncodingDiagonals());
    }
    ASSERT_FALSE(path.empty()) << file.name;
    Format cache{file.name, readFile(path), [&](const std::string& bytes) {
                   std::filesystem::remove(path);
                   std::ofstream(path, std::ios::binary) << bytes;
                   CoutCapture capture;
                   BootstrapCore loaded(he, config(file.fft), 1 << 20);
                   const std::string printed = capture.str();
                   if (printed.find("WARNING: ignoring the cache file") == std::string::npos)
                     return;
                   EXPECT_EQ(file.fft ? savedLayers(loaded.getFftUtils()->getEncodingLayers())
                                      : savedDiagonals(*loaded.getEncodingDiagonals()),
                             reference);
                   throw std::runtime_error(printed);
                 }};
    cache.fields = sampledFields(cache.record, {{0, 80}}, 97);
    checkFormat(cache);
  }
}

TEST(CorruptedRecords, DebugContextsAndTilesLoadOrRefuseCleanly)
{
  auto h1 = createMockup(4, 2);
  auto h2 = createMockup(4, 2);
  DebugContext he(*h1, *h2, 1e-5, false);
  Encoder encoder(he);
  CTile c(he), otherC(he);
  encoder.encodeEncrypt(c, std::vector<double>{1, -2, 3, 0.5}, 2);
  encoder.encodeEncrypt(otherC, std::vector<double>{4, 4, 4, 4}, 1);
  PTile p(he), otherP(he);
  encoder.encode(p, std::vector<double>{0.25, 0, 1, 2}, 1);
  encoder.encode(otherP, std::vector<double>{9, 9, 9, 9}, 2);
  Format context{"debug context", saved(he), [](const std::string& bytes) {
                   MockupContext inner1, inner2;
                   DebugContext target(inner1, inner2, 1e-5, false);
                   std::istringstream in(bytes);
                   try {
                     target.load(in);
                   } catch (...) {
                     EXPECT_FALSE(target.isInitialized());
                     EXPECT_FALSE(inner1.isInitialized());
                     EXPECT_FALSE(inner2.isInitialized());
                     throw;
                   }
                 }};
  // A loaded ciphertext whose halves differ is reported after the load, which
  // keeps both halves as they were read.
  Format cipherBody{"debug ciphertext body", savedBody(c.getImpl()),
                    [otherC, before = savedBody(otherC.getImpl())](const std::string& bytes) {
                      CTile target = otherC;
                      std::istringstream in(bytes);
                      try {
                        target.getImpl().load(in);
                      } catch (const std::exception& e) {
                        if (std::string(e.what()) == "DebugCiphertext verification error") {
                          EXPECT_EQ(savedBody(target.getImpl()), bytes);
                          return;
                        }
                        EXPECT_EQ(savedBody(target.getImpl()), before);
                        throw;
                      }
                    }};
  const Format formats[] = {
      context,
      cipherBody,
      bodyFormat("debug plaintext body", p, otherP),
  };
  for (const Format& format : formats)
    checkFormat(format);
}
