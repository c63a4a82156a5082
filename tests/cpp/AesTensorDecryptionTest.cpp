#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "AesTestUtils.h"
#include "TestUtils.h"
#include "TileTensorTestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/NumberConfig.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupContext.h"
#include "math/CTileTensor.h"
#include "math/DataPacking.h"
#include "math/EncryptedData.h"
#include "math/aes/AesKey.h"
#include "math/aes/AesTtPacker.h"
#include "math/aes/impl/AesBitwiseKey.h"

using namespace quorvane;
using namespace qvtest;

namespace {

const int SLOTS = 8;

/// An expanded key of the context.
std::unique_ptr<AesKey> expandedKey(const HeContext& he, const ByteVector& clearKey)
{
  auto key = std::make_unique<AesKey>(he);
  key->heEncrypt(clearKey, false);
  return key;
}

/// A tensor of the sizes with uniformly random values in [lo, hi).
std::shared_ptr<DoubleTensor> randomValues(const std::vector<int>& sizes, double lo, double hi,
                                           unsigned seed)
{
  auto res = std::make_shared<DoubleTensor>(sizes);
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(lo, hi);
  for (int i = 0; i < res->size(); ++i)
    res->at(i) = dist(gen);
  return res;
}

/// What the number format makes of a client value.
double carried(double x, const NumberConfig& config)
{
  if (config.isFloatingPoint())
    return static_cast<float>(x);
  const int f = config.isFixedPoint() ? static_cast<int>(config.getFractionalPartBits()) : 0;
  return std::ldexp(std::trunc(std::ldexp(x, f)), -f);
}

/// Transposition of a square matrix of side n, as a packed-to-original mapping.
std::vector<int> transposition(int n)
{
  std::vector<int> res(n * n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      res[i + n * j] = j + n * i;
  return res;
}

// ---- The whole road ----

struct RoadCase
{
  std::string name;
  NumberConfig config;
  double lo;
  double hi;
};

/// The client arranges two tensors into blocks and encrypts them with the
/// reference AES-CTR; the server decrypts them under HE into a data set of
/// two batches (the matrix packed as it is, then transposed); every tensor
/// comes back as the number format carries the client's values.
void expectRoad(const HeContext& he, const RoadCase& c, unsigned seed)
{
  SCOPED_TRACE(c.name);
  const ByteVector clearKey = randomBytes(seed, 16);
  const ByteVector iv = randomBytes(seed + 1, 16);
  const std::shared_ptr<DoubleTensor> matrix = randomValues({6, 6}, c.lo, c.hi, seed + 2);
  const std::shared_ptr<DoubleTensor> vector = randomValues({4}, c.lo, c.hi, seed + 3);
  const Blocks plain = prepareDefaultPlainBlocksForAesEncryption({matrix, vector}, c.config);
  const Blocks cipher = referenceAesCtr(clearKey, iv, plain);

  std::unique_ptr<AesKey> key = expandedKey(he, clearKey);
  const DataPacking dataPacking(
      {{tensorPacking(shapeOf({TTDim(6, 2), TTDim(6, 4)}), {6, 6}),
        tensorPacking(shapeOf({TTDim(4, SLOTS)}), {4})},
       {tensorPacking(shapeOf({interleavedDim(6, 4), TTDim(6, 2)}), {6, 6}, transposition(6)),
        tensorPacking(shapeOf({TTDim(4, 4), TTDim(1, 2, 2)}), {4, 1})}},
      {36, 4});
  EncryptedData res(he);
  decryptDefaultAesEncryptedBlocksUnderFhe(res, cipher, *key, iv, c.config, dataPacking);

  ASSERT_EQ(res.getNumBatches(), 2u);
  const std::vector<std::shared_ptr<DoubleTensor>> originals = {matrix, vector};
  for (size_t i = 0; i < 2; ++i)
    for (size_t item = 0; item < 2; ++item) {
      const TensorPacking& packing = dataPacking.getTensorPacking(item, i);
      const std::shared_ptr<CTileTensor> tensor = res.getBatch(i).getItem(item);
      EXPECT_EQ(tensor->getShape(), packing.shape);
      const std::vector<double> vals = decrypted(*tensor).getVals(true);
      ASSERT_EQ(vals.size(), static_cast<size_t>(originals[item]->size()));
      for (size_t e = 0; e < vals.size(); ++e) {
        const int orig = packing.packedToOrigTensorMapping.empty()
                             ? static_cast<int>(e)
                             : packing.packedToOrigTensorMapping[e];
        EXPECT_EQ(vals[e], carried(originals[item]->at(orig), c.config))
            << "batch " << i << ", item " << item << ", element " << e;
      }
      EXPECT_NO_THROW(tensor->assertIntegrity(0));
    }
}

TEST(AesTensorDecryption, ClientTensorsComeBackInTheirTileTensors)
{
  // 40 binary32 values take 10 blocks: two batches of 8 slots.
  std::shared_ptr<HeContext> he = aesContext(SLOTS, 0, 9, 9);
  const std::vector<RoadCase> cases = {
      {"binary32", NumberConfig::floatingPoint(SIZE_32_BIT), -1000, 1000},
      {"signed 16", NumberConfig::integer(SIZE_16_BIT, SIGNED), -32768, 32767.9},
      {"unsigned 8", NumberConfig::integer(SIZE_8_BIT, UNSIGNED), 0, 255.9},
      {"signed 32 fixed", NumberConfig::fixedPoint(SIZE_32_BIT, SIGNED, 12), -5e5, 5e5},
  };
  for (size_t i = 0; i < cases.size(); ++i)
    expectRoad(*he, cases[i], static_cast<unsigned>(10 * i));
}

TEST(AesTensorDecryption, WorksWithAutomaticBootstrapping)
{
  // Bootstrapping gives 14 levels: no explicit schedule.
  std::shared_ptr<HeContext> he = aesContext(SLOTS, 1, 14, 15, true);
  expectRoad(*he, {"unsigned 16 fixed", NumberConfig::fixedPoint(SIZE_16_BIT, UNSIGNED, 3), 0, 8191},
             50);
}

// ---- Refusals before any HE work ----

TEST(AesTensorDecryption, RefusesBeforeAnyHeWork)
{
  std::shared_ptr<HeContext> he = aesContext(SLOTS, 0, 9, 9);
  std::shared_ptr<HeContext> other = aesContext(SLOTS, 0, 9, 9);
  std::unique_ptr<AesKey> key = expandedKey(*he, randomBytes(1, 16));
  const NumberConfig float32 = NumberConfig::floatingPoint(SIZE_32_BIT);
  const Blocks fourBlocks = randomBlocks(2, 4);
  const ByteVector iv = randomBytes(3, 16);
  const TensorPacking sixteen = tensorPacking(shapeOf({TTDim(16, SLOTS)}), {16});
  const DataPacking good({{sixteen}}, {16});
  EncryptedData res(*he);
  EncryptedData foreign(*other);

  struct Case
  {
    std::string name;
    std::function<void()> check;
  };
  auto decrypt = [&](EncryptedData& r, const Blocks& blocks, const ByteVector& v,
                     const DataPacking& packing) {
    return [&r, blocks, v, packing, &key, &float32] {
      decryptDefaultAesEncryptedBlocksUnderFhe(r, blocks, *key, v, float32, packing);
    };
  };
  const std::vector<Case> cases = {
      {"IV", [&] {
         expectThrowWithMessage<std::invalid_argument>(
             decrypt(res, fourBlocks, ByteVector(8), good),
             "The given IV is not of valid size. Given IV size= 8. Expected IV size= 16");
       }},
      {"no blocks", [&] {
         expectThrowWithMessage<std::invalid_argument>(decrypt(res, {}, iv, good),
                                                       "No AES blocks were given");
       }},
      {"result context", [&] {
         expectThrowWithMessage<std::invalid_argument>(
             decrypt(foreign, fourBlocks, iv, good),
             "The result encrypted data belongs to another context (context id " +
                 std::to_string(other->getContextId()) + ", expected " +
                 std::to_string(he->getContextId()) + ")");
       }},
      {"too many values", [&] {
         expectThrowWithMessage<std::invalid_argument>(
             decrypt(res, randomBlocks(2, 3), iv, good),
             "The data packing names 16 values, but the 3 AES blocks hold only 12 values of the "
             "number configuration");
       }},
      {"invalid data packing", [&] {
         expectAssertion(decrypt(res, fourBlocks, iv, DataPacking({{sixteen}, {}}, {16})),
                         "packings.at(batch).size() == numItems");
       }},
      {"tile size", [&] {
         expectAssertion(
             decrypt(res, fourBlocks, iv,
                     DataPacking({{tensorPacking(shapeOf({TTDim(16, SLOTS / 2)}), {16})}}, {16})),
             "shape.getNumSlotsInTile() == numBlocksPerBatch");
       }},
      {"mapping", [&] {
         std::vector<int> mapping(16, 0);
         mapping[5] = 16;
         expectThrowWithMessage<std::invalid_argument>(
             decrypt(res, fourBlocks, iv,
                     DataPacking({{tensorPacking(shapeOf({TTDim(2, 2), TTDim(8, 4)}), {16},
                                                 mapping)}},
                                 {16})),
             "The packing maps a slot to value 16, but the tensor has 16 values");
       }},
  };
  for (const Case& c : cases) {
    std::shared_ptr<RunStats> stats = tracked(*he, c.check);
    EXPECT_EQ(stats->getTotalCount(RunStats::ENCRYPT), 0) << c.name;
    EXPECT_EQ(stats->getTotalCount(RunStats::MULTIPLY_RAW), 0) << c.name;
  }
  EXPECT_EQ(res.getNumBatches(), 0u);
  EXPECT_EQ(foreign.getNumBatches(), 0u);

  // The blocks may carry more values than the packing names.
  tracked(*he, [&] { decrypt(res, randomBlocks(2, 5), iv, good)(); });
  EXPECT_EQ(res.getNumBatches(), 1u);
}

// ---- Loading encrypted data ----

TEST(AesTensorDecryption, LoadsEncryptedDataOnly)
{
  std::shared_ptr<HeContext> he = createMockup(SLOTS, 4);
  EncryptedData data(*he);
  EncryptedBatch batch(*he);
  batch.addItem(std::make_shared<CTileTensor>(
      encrypted(*he, shapeOf({TTDim(3, SLOTS)}), *randomValues({3}, -1, 1, 4))));
  data.addBatch(batch);
  data.addBatch(batch);
  std::istringstream in(saved(data));
  const std::shared_ptr<EncryptedData> loaded = loadEncryptedData(*he, in);
  ASSERT_EQ(loaded->getNumBatches(), 2u);
  EXPECT_EQ(saved(*loaded), saved(data));

  CTile tile(*he);
  Encoder(*he).encodeEncrypt(tile, std::vector<double>(SLOTS, 1.0));
  std::istringstream tileIn(saved(tile));
  expectThrowWithMessage<std::runtime_error>(
      [&] { loadEncryptedData(*he, tileIn); },
      "Expected input to contain an object of type EncryptedData. Instead found CTile");
}

} // namespace
