// Loads of corrupted SEAL data: sizes checked before SEAL allocates, saved
// context fields checked against the requirement, slot counts SEAL supports.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include <seal/seal.h>
#include <zstd.h>

#include "TestUtils.h"
#include "hebase/AbstractCiphertext.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealObjectLoader.h"

using namespace quorvane;
using namespace qvtest;

namespace {

constexpr size_t SEAL_HEADER = 16;

/// Where the parts of a saved SEAL context are.
struct SavedLayout
{
  size_t parms;
  size_t scale;
  size_t level;
  /// The key blobs the saved functions ask for, in saved order.
  std::vector<size_t> keys;
  size_t accurateFlag;
};

SavedLayout layoutOf(const SealCkksContext& he, const std::string& bytes,
                     const PublicFunctions& pf, size_t keyCount)
{
  std::ostringstream base;
  he.HeContext::saveImpl(base, pf);
  SavedLayout layout;
  layout.parms = headerBytes("HeContext", 0).size() + base.str().size();
  layout.scale = layout.parms + uint64At(bytes, layout.parms + 8);
  layout.level = layout.scale + 8;
  size_t pos = layout.level + 4;
  for (size_t i = 0; i < keyCount; i++) {
    layout.keys.push_back(pos);
    pos += uint64At(bytes, pos + 8);
  }
  layout.accurateFlag = pos;
  return layout;
}

/// A SEAL context initialised with the requirement and public functions.
std::shared_ptr<SealCkksContext> sealContext(HeConfigRequirement req, const PublicFunctions& pf)
{
  req.publicFunctions = pf;
  auto he = std::make_shared<SealCkksContext>();
  he->init(req);
  return he;
}

/// The context: 256 slots, depth 1, every key.
const SealCkksContext& contextWithAllKeys()
{
  static const auto he = [] {
    auto context = std::make_shared<SealCkksContext>();
    context->init(HeConfigRequirement::insecure(256, 1, 20, 5));
    return context;
  }();
  return *he;
}

/// A stream buffer over bytes that cannot seek or tell its position, as a
/// pipe or a socket.
class UnseekableBuffer : public std::streambuf
{
public:
  explicit UnseekableBuffer(std::string bytes) : bytes(std::move(bytes))
  {
    char* begin = &this->bytes[0];
    setg(begin, begin, begin + this->bytes.size());
  }

private:
  std::string bytes;
};

/// The message of the exception f throws; a failed allocation or a length
/// error (a size taken from the data unchecked) fails the test.
template <typename F>
std::string clearErrorOf(F&& f)
{
  try {
    f();
  } catch (const std::bad_alloc& e) {
    ADD_FAILURE() << "allocation failure: " << e.what();
    return e.what();
  } catch (const std::length_error& e) {
    ADD_FAILURE() << "length error: " << e.what();
    return e.what();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "<no exception>";
}

} // namespace

// A secret key whose SEAL size field says 275 GB or 2 GB is refused before
// anything that size is allocated; the context then takes its real key.
TEST(SealLoadChecks, SecretKeyWithAHugeSizeFieldIsRefusedBeforeAllocating)
{
  const SealCkksContext& he = contextWithAllKeys();
  std::string context = saved(he);
  std::string key = savedKey(he);
  size_t sealAt = headerBytes("SECRETKEY", 0).size() + 1;
  ASSERT_EQ(sealAt, 27u);
  // At most the compressed bound of the key's members (parameter id,
  // coefficient count, scale, then a nested array of 512 x 3 words).
  uint64_t members = 32 + 8 + 8 + 16 + 8 + 8 * 512 * 3;
  uint64_t bound = SEAL_HEADER + seal::Serialization::ComprSizeEstimate(
                                     members, seal::compr_mode_type::zstd);
  struct Case
  {
    size_t offset;
    uint32_t value;
  };
  for (const Case& c : {Case{36, 0x40000000u}, Case{35, 0x7fffffffu}}) {
    SCOPED_TRACE(c.offset);
    std::string corrupted = patched(key, c.offset, le32(static_cast<int32_t>(c.value)));
    uint64_t declared = uint64At(corrupted, sealAt + 8);
    auto loaded = loadContext<SealCkksContext>(context);
    std::istringstream in(corrupted);
    expectThrowWithMessage<std::runtime_error>(
        [&] { loaded->loadSecretKey(in); },
        "Corrupted saved SEAL secret key: it declares " + std::to_string(declared) +
            " bytes, more than the " + std::to_string(bound) +
            " bytes such an object takes under these parameters");
    EXPECT_FALSE(loaded->hasSecretKey());
    std::istringstream good(key);
    loaded->loadSecretKey(good);
    EXPECT_TRUE(loaded->hasSecretKey());
    Encoder encoder(*loaded);
    CTile c(*loaded);
    encoder.encodeEncrypt(c, std::vector<double>{0.25, -0.5});
    EXPECT_NEAR(encoder.decryptDecodeDouble(c)[1], -0.5, 1e-3);
  }
}

// A size within the bound that the input does not hold, compressed data that
// expands beyond the bound, and compressed data that is not Zstandard.
TEST(SealLoadChecks, TruncatedAndOverExpandingSecretKeysAreRefused)
{
  const SealCkksContext& he = contextWithAllKeys();
  std::string context = saved(he);
  std::string key = savedKey(he);
  const size_t sealAt = 27;
  std::string prefix = key.substr(0, sealAt);
  // Through a stream that tells how many bytes it holds and through one that
  // cannot (read chunk by chunk): the same refusal.
  auto refusal = [&](const std::string& bytes) {
    auto loaded = loadContext<SealCkksContext>(context);
    std::istringstream in(bytes);
    std::string message = clearErrorOf([&] { loaded->loadSecretKey(in); });
    EXPECT_FALSE(loaded->hasSecretKey());
    UnseekableBuffer buffer(bytes);
    std::istream unseekable(&buffer);
    EXPECT_EQ(clearErrorOf([&] { loaded->loadSecretKey(unseekable); }), message);
    EXPECT_FALSE(loaded->hasSecretKey());
    return message;
  };
  {
    auto loaded = loadContext<SealCkksContext>(context);
    UnseekableBuffer buffer(key);
    std::istream unseekable(&buffer);
    EXPECT_EQ(loaded->loadSecretKey(unseekable), static_cast<int64_t>(key.size()));
    EXPECT_TRUE(loaded->hasSecretKey());
  }
  EXPECT_EQ(refusal(key.substr(0, sealAt + 100)),
            "Corrupted saved SEAL secret key: it declares " +
                std::to_string(key.size() - sealAt) + " bytes, but the input ends after 100");
  EXPECT_EQ(refusal(key.substr(0, sealAt + 10)),
            "Corrupted saved SEAL secret key: the input ends after 10 bytes, inside its 16-byte "
            "SEAL header");

  // A megabyte of zeros compresses to a few hundred bytes.
  std::string zeros(1 << 20, '\0');
  std::string packed(ZSTD_compressBound(zeros.size()), '\0');
  packed.resize(ZSTD_compress(&packed[0], packed.size(), zeros.data(), zeros.size(), 3));
  std::string header = key.substr(sealAt, 8) + le64(SEAL_HEADER + packed.size());
  EXPECT_EQ(refusal(prefix + header + packed),
            "Corrupted saved SEAL secret key: its compressed data expands beyond the 12360 "
            "bytes such an object takes under these parameters");
  std::string garbage(200, '\x5a');
  header = key.substr(sealAt, 8) + le64(SEAL_HEADER + garbage.size());
  EXPECT_EQ(refusal(prefix + header + garbage).rfind(
                "Corrupted saved SEAL secret key: its compressed data is invalid", 0),
            0u);
}

// One flipped bit in a count of the saved keys is a clear error, never a
// failed allocation; the context stays uninitialised and loads the record.
TEST(SealLoadChecks, FlippedBitsInTheKeyCountsOfASavedContextAreClearErrors)
{
  const SealCkksContext& he = contextWithAllKeys();
  std::string bytes = saved(he);
  SavedLayout layout = layoutOf(he, bytes, he.getPublicFunctions(), 3);
  const size_t publicKey = layout.keys[0], relinKeys = layout.keys[1], galoisKeys = layout.keys[2];
  // Key switching keys: header, parameter id, key set count, then the first
  // set's key count and its first key (a ciphertext: header, parameter id, NTT
  // flag, polynomial count, degree, prime count, scale, word array).
  std::vector<std::pair<std::string, size_t>> counts = {
      {"public key polynomial count", publicKey + SEAL_HEADER + 33},
      {"public key degree", publicKey + SEAL_HEADER + 41},
      {"public key prime count", publicKey + SEAL_HEADER + 49},
      {"public key word count", publicKey + SEAL_HEADER + 65 + SEAL_HEADER},
      {"relinearization key sets", relinKeys + SEAL_HEADER + 32},
      {"relinearization keys", relinKeys + SEAL_HEADER + 40},
      {"Galois key sets", galoisKeys + SEAL_HEADER + 32},
      {"Galois keys", galoisKeys + SEAL_HEADER + 40},
  };
  for (const auto& field : counts) {
    for (int bit = 0; bit < 64; bit++) {
      SCOPED_TRACE(field.first + ", bit " + std::to_string(bit));
      std::string changed = bytes;
      changed[field.second + bit / 8] ^= static_cast<char>(1 << (bit % 8));
      SealCkksContext target;
      std::istringstream in(changed);
      std::string message = clearErrorOf([&] { target.load(in); });
      EXPECT_NE(message, "<no exception>");
      EXPECT_FALSE(target.isInitialized());
    }
  }
  SealCkksContext target;
  std::string changed = bytes;
  changed[galoisKeys + SEAL_HEADER + 32 + 5] ^= 1; // 2^40 key sets
  std::istringstream in(changed);
  expectThrowWithMessage<std::runtime_error>(
      [&] { target.load(in); },
      "Corrupted saved SEAL Galois keys: the key set count is " +
          std::to_string(512 + (uint64_t(1) << 40)) + ", more than 512");
  std::istringstream original(bytes);
  target.load(original);
  EXPECT_EQ(target.getSignature(), he.getSignature());
}

// A ciphertext whose nested word array is larger than its record or declares
// another count than its polynomials need; scales that are not finite and
// positive (SEAL converts their logarithm to an integer).
TEST(SealLoadChecks, InnerFieldsOfCiphertextsAndPlaintextsAreChecked)
{
  const SealCkksContext& he = contextWithAllKeys();
  Encoder encoder(he);
  CTile tile(he);
  encoder.encodeEncrypt(tile, std::vector<double>{1.0});
  std::ostringstream out;
  tile.getImpl().save(out);
  std::string blob = out.str();
  const size_t array = SEAL_HEADER + 65;
  const uint64_t words = 2 * 512 * 2;
  ASSERT_EQ(uint64At(blob, array + SEAL_HEADER), words);
  struct Case
  {
    size_t offset;
    std::string value;
    std::string message;
  };
  const Case cases[] = {
      {array + 8, le64(uint64_t(1) << 40),
       "the coefficient array declares 1099511627776 bytes, but " +
           std::to_string(blob.size() - array) + " remain"},
      {array + SEAL_HEADER, le64(words + 1),
       "the coefficient array holds 2049 words where 2048 are declared"},
      {array + SEAL_HEADER, le64(uint64_t(1) << 61),
       "the coefficient array holds 2305843009213693952 words where 2048 are declared"},
      {SEAL_HEADER + 33, le64(17), "the polynomial count is 17, more than 16"},
      {SEAL_HEADER + 41, le64(uint64_t(1) << 20),
       "the polynomial degree is 1048576, more than 131072"},
      {array + 5, bytes({2}), "the coefficient array has an invalid SEAL header"},
      {SEAL_HEADER + 57, Bytes().f64(std::nan("")).data,
       "the scale is nan, expected a finite positive value"},
      {SEAL_HEADER + 57, Bytes().f64(-HUGE_VAL).data,
       "the scale is -inf, expected a finite positive value"},
      {SEAL_HEADER + 57, Bytes().f64(0).data, "the scale is 0, expected a finite positive value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    seal::Ciphertext target;
    std::istringstream in(patched(blob, c.offset, c.value));
    expectThrowWithMessage<std::runtime_error>(
        [&] { SealObjectLoader::loadCiphertext(in, he.getSealContext(), target); },
        "Corrupted saved SEAL ciphertext: " + c.message);
    EXPECT_EQ(target.size(), 0u);
  }
  seal::Ciphertext target;
  std::istringstream in(blob);
  EXPECT_EQ(SealObjectLoader::loadCiphertext(in, he.getSealContext(), target),
            static_cast<std::streamoff>(blob.size()));
  EXPECT_EQ(target.size(), 2u);

  // A plaintext's scale follows its parameter id and coefficient count.
  std::ostringstream plainOut;
  seal::Plaintext plain;
  he.getCkksEncoder().encode(0.5, he.getDefaultScale(), plain);
  plain.save(plainOut, seal::compr_mode_type::none);
  seal::Plaintext plainTarget;
  std::istringstream plainIn(patched(plainOut.str(), SEAL_HEADER + 40, Bytes().f64(HUGE_VAL).data));
  expectThrowWithMessage<std::runtime_error>(
      [&] { SealObjectLoader::loadPlaintext(plainIn, he.getSealContext(), plainTarget); },
      "Corrupted saved SEAL plaintext: the scale is inf, expected a finite positive value");
  EXPECT_EQ(plainTarget.coeff_count(), 0u);
}

// What SEAL itself refuses in checked bytes names the object, with SEAL's
// reason; data of other parameters in a secret key or a plaintext keeps SEAL's
// own text (std::logic_error), also where SEAL's first check words it another way.
TEST(SealLoadChecks, SealRefusalsNameTheObject)
{
  const SealCkksContext& he = contextWithAllKeys();
  const seal::SEALContext& context = he.getSealContext();
  // Same degree and prime count, other primes: the same sizes, another parameter id.
  auto other = sealContext(requirement(256, 1, 25, 5, 0), he.getPublicFunctions());

  auto saveOf = [](const auto& object) {
    std::ostringstream out;
    object.save(out, seal::compr_mode_type::none);
    return out.str();
  };
  seal::SecretKey otherKey = seal::KeyGenerator(other->getSealContext()).secret_key();
  seal::SecretKey key = seal::KeyGenerator(context).secret_key();
  seal::Plaintext plain;
  he.getCkksEncoder().encode(0.5, he.getDefaultScale(), plain);
  const std::string keyBlob = saveOf(key), plainBlob = saveOf(plain);
  // A plaintext's coefficients follow its parameter id, count and scale, and
  // the array's header and count.
  const size_t coefficient = SEAL_HEADER + 48 + SEAL_HEADER + 8;
  const std::string tooLarge = le64(~uint64_t(0));

  auto loadKey = [&](const std::string& blob) {
    seal::SecretKey target;
    std::istringstream in(blob);
    SealObjectLoader::loadSecretKey(in, context, target);
  };
  auto loadPlain = [&](const std::string& blob) {
    seal::Plaintext target;
    std::istringstream in(blob);
    SealObjectLoader::loadPlaintext(in, context, target);
  };
  auto loadParameters = [&](const std::string& blob) {
    seal::EncryptionParameters target;
    std::istringstream in(blob);
    SealObjectLoader::loadParameters(in, target);
  };
  expectThrowWithMessage<std::runtime_error>(
      [&] { loadKey(patched(keyBlob, coefficient, tooLarge)); },
      "Corrupted saved SEAL secret key: SecretKey data is invalid");
  expectThrowWithMessage<std::runtime_error>(
      [&] { loadKey(patched(keyBlob, 0, bytes({0x5F}))); },
      "Corrupted saved SEAL secret key: loaded SEALHeader is invalid");
  expectThrowWithMessage<std::logic_error>([&] { loadKey(saveOf(otherKey)); },
                                           "SecretKey data is invalid");
  expectThrowWithMessage<std::runtime_error>(
      [&] { loadPlain(patched(plainBlob, coefficient, tooLarge)); },
      "Corrupted saved SEAL plaintext: Plaintext data is invalid");
  expectThrowWithMessage<std::logic_error>(
      [&] { loadPlain(patched(plainBlob, 0, bytes({0x5F}))); }, "loaded SEALHeader is invalid");
  expectThrowWithMessage<std::runtime_error>(
      [&] { loadParameters(patched(saveOf(context.key_context_data()->parms()), SEAL_HEADER,
                                   bytes({7}))); },
      "Corrupted saved SEAL parameters: unsupported scheme");
  loadKey(keyBlob);
  loadPlain(plainBlob);
}

// The security level must be one the library knows and the one the saved
// requirement rounds to; scales must be finite and positive.
TEST(SealLoadChecks, SavedLevelAndScalesAreChecked)
{
  const PublicFunctions encryptOnly = publicFunctions(true, false, NO_ROTATIONS, FALSE);
  auto context = sealContext(requirement(2048, 1, 25, 5, 128), encryptOnly);
  const SealCkksContext& he = *context;
  std::string bytes = saved(he);
  SavedLayout layout = layoutOf(he, bytes, he.getPublicFunctions(), 1);
  ASSERT_EQ(int32At(bytes, layout.level), 128);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  auto f64 = [](double v) { return Bytes().f64(v).data; };
  struct Case
  {
    size_t offset;
    std::string value;
    std::string message;
  };
  const std::string prefix = "Invalid saved SealCkksContext: ";
  const size_t scales = layout.accurateFlag + 1;
  const Case cases[] = {
      {layout.level, le32(0),
       "the security level 0 does not match the saved requirement's security level 128"},
      {layout.level, le32(192),
       "the security level 192 does not match the saved requirement's security level 128"},
      {layout.level, le32(7), "the security level is 7, expected 0, 128, 192 or 256"},
      {layout.level, le32(-128), "the security level is -128, expected 0, 128, 192 or 256"},
      {layout.scale, f64(nan), "the default scale is nan, expected a finite positive value"},
      {layout.scale, f64(0), "the default scale is 0, expected a finite positive value"},
      {layout.scale, f64(-1), "the default scale is -1, expected a finite positive value"},
      {layout.scale, f64(inf), "the default scale is inf, expected a finite positive value"},
      {scales, f64(nan),
       "the accurate scale of chain index 0 is nan, expected a finite positive value"},
      {scales + 8, f64(-0.5),
       "the accurate scale of chain index 1 is -0.5, expected a finite positive value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    SealCkksContext target;
    std::istringstream in(patched(bytes, c.offset, c.value));
    expectThrowWithMessage<std::runtime_error>([&] { target.load(in); }, prefix + c.message);
    EXPECT_FALSE(target.isInitialized());
    EXPECT_EQ(target.getSecurityLevel(), 128);
    std::istringstream original(bytes);
    target.load(original);
    EXPECT_EQ(target.getSignature(), he.getSignature());
  }
  // The saved requirement's level rounds to the saved level.
  auto at192 = sealContext(requirement(2048, 1, 20, 5, 160), encryptOnly);
  auto loaded = loadContext<SealCkksContext>(saved(*at192));
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->getSecurityLevel(), 192);
}

// A saved slot count or depth that does not match the parameters is refused
// before SEAL builds its tables; a slot count SEAL cannot hold is refused
// before the rotation map (as large as the slot count) is built.
TEST(SealLoadChecks, SavedRequirementMustMatchTheParameters)
{
  auto he = sealContext(requirement(1024, 1, 30, 10, 0),
                        publicFunctions(false, false, CUSTOM_ROTATIONS, FALSE, {1, 5}));
  std::string bytes = saved(*he);
  // The requirement's fields follow the base record's key, scale and device.
  size_t slotsAt = headerBytes("HeContext", 0).size() + 4 + std::string("SEAL_CKKS").size() + 1 +
                   8 + 4;
  ASSERT_EQ(int32At(bytes, slotsAt), 1024);
  ASSERT_EQ(int32At(bytes, slotsAt + 4), 1);
  const std::string mismatch = "The saved requirement's slot count does not match the saved SEAL "
                               "parameters";
  const std::string unsupported = "Invalid saved SealCkksContext: the slot count is ";
  struct Case
  {
    size_t offset;
    int32_t value;
    std::string message;
  };
  const Case cases[] = {
      {slotsAt, 512, mismatch},
      {slotsAt, 25352, unsupported + "25352, expected a power of two from 1 to 65536"},
      {slotsAt, 1 << 22, unsupported + "4194304, expected a power of two from 1 to 65536"},
      {slotsAt + 4, 40,
       "The saved requirement's multiplication depth does not match the saved SEAL parameters"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    SealCkksContext target;
    std::istringstream in(patched(bytes, c.offset, le32(c.value)));
    expectThrowWithMessage<std::runtime_error>([&] { target.load(in); }, c.message);
    EXPECT_FALSE(target.isInitialized());
  }
}

// Slot counts must be powers of two whose degree SEAL supports, also at
// security level 0; init refuses others with the library's own message.
TEST(SealLoadChecks, SlotCountsAreSupportedPowersOfTwo)
{
  struct Case
  {
    int slots;
    bool feasible;
  };
  const Case cases[] = {{3, false},       {1000, false},   {1 << 30, false}, {1 << 17, false},
                        {(1 << 16) + 1, false}, {1 << 16, true}, {1, true},       {8, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slots);
    SealCkksContext he;
    HeConfigRequirement r = requirement(c.slots, 1, 20, 5, 0);
    EXPECT_EQ(he.isConfigRequirementFeasible(r), c.feasible);
    if (c.feasible)
      continue;
    expectThrowWithMessage<std::runtime_error>([&] { he.init(r); },
                                               "Given configuration requirement is not feasible");
    EXPECT_FALSE(he.isInitialized());
    he.init(requirement(8, 1, 20, 5, 0));
    EXPECT_EQ(he.slotCount(), 8);
  }
}
