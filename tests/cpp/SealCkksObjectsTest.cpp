#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <complex>
#include <memory>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <seal/context.h>
#include <seal/evaluator.h>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/PTile.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/CrtArithmetic.h"
#include "hebase/seal/SealCkksCiphertext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealCkksEncoder.h"
#include "hebase/seal/SealCkksPlaintext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/PrintUtils.h"
#include "hebase/utils/SectionTimer.h"

using namespace quorvane;
using namespace qvtest;

namespace {

using Complex = std::complex<double>;
using CVec = std::vector<Complex>;

constexpr int SLOTS = 1024;
constexpr int DEPTH = 3;
constexpr int FRAC = 40;
constexpr int INT_BITS = 10;

/// Bound on the error of a few CKKS operations at scale 2^frac with 2048
/// coefficients: the noise adds about 2^13 units of 2^-frac.
double bound(int frac = FRAC) { return std::ldexp(1.0, -(frac - 20)); }

PublicFunctions functions(RotationSetType rotate, ConjugationSupport conjugate = DEFAULT,
                          std::vector<int> steps = {}, bool encrypt = true,
                          bool relinearize = true)
{
  PublicFunctions pf;
  pf.encrypt = encrypt;
  pf.relinearize = relinearize;
  pf.rotate = rotate;
  pf.conjugate = conjugate;
  pf.rotationSteps = std::move(steps);
  return pf;
}

std::shared_ptr<SealCkksContext> makeContext(const PublicFunctions& pf, bool accurate = true,
                                             int depth = DEPTH, int frac = FRAC,
                                             int intBits = INT_BITS)
{
  auto he = std::make_shared<SealCkksContext>();
  he->setUseAccurateScaling(accurate);
  HeConfigRequirement req = HeConfigRequirement::insecure(SLOTS, depth, frac, intBits);
  req.publicFunctions = pf;
  he->init(req);
  return he;
}

const SealCkksContext& accurateContext()
{
  static std::shared_ptr<SealCkksContext> he = makeContext(functions(DEFAULT_ROTATIONS));
  return *he;
}

const SealCkksContext& plainScalingContext()
{
  static std::shared_ptr<SealCkksContext> he =
      makeContext(functions(DEFAULT_ROTATIONS), false);
  return *he;
}

std::vector<double> randomReal(unsigned seed, int count = SLOTS)
{
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> res(count);
  for (auto& v : res)
    v = dist(gen);
  return res;
}

CVec toComplex(const std::vector<double>& values)
{
  return CVec(values.begin(), values.end());
}

int64_t leafCount(const std::string& name)
{
  return SectionTimer::getCurrent().getChild(name).count;
}

CTile encryptTile(const HeContext& he, const CVec& values, int chainIndex = -1)
{
  Encoder enc(he);
  CTile c(he);
  enc.encodeEncrypt(c, values, chainIndex);
  return c;
}

CVec decrypt(const CTile& c)
{
  Encoder enc(c.getHeContext());
  return enc.decryptDecodeComplex(c);
}

SealCkksCiphertext& sealOf(CTile& c) { return dynamic_cast<SealCkksCiphertext&>(c.getImpl()); }

std::vector<std::string> linesOf(const std::string& text)
{
  std::vector<std::string> res;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    res.push_back(line);
  return res;
}

int countLinesStartingWith(const std::string& text, const std::string& prefix)
{
  int res = 0;
  for (const auto& line : linesOf(text))
    if (line.rfind(prefix, 0) == 0)
      ++res;
  return res;
}

} // namespace

// ---------------------------------------------------------------- encoder

TEST(SealCkksEncoder, ScalePolicy)
{
  const SealCkksContext& he = accurateContext();
  SealCkksEncoder enc(he);
  int top = he.getTopChainIndex();
  ASSERT_EQ(top, DEPTH);
  EXPECT_EQ(enc.getDefaultScale(0), he.getAccurateScale(0));
  EXPECT_EQ(enc.getDefaultScale(top), he.getAccurateScale(top));
  EXPECT_NEAR(he.getAccurateScale(0) / he.getAccurateScale(top), 1.0, 1e-12);
  EXPECT_EQ(enc.getDefaultScale(1), he.getAccurateScale(1));
  EXPECT_NE(he.getAccurateScale(1), he.getAccurateScale(top));

  enc.setDefaultScale(std::ldexp(1.0, 30));
  for (int ci = 0; ci <= top; ++ci) {
    EXPECT_EQ(enc.getDefaultScale(ci), std::ldexp(1.0, 30));
    SealCkksPlaintext p(he);
    enc.encode(p, 0.5, ci);
    EXPECT_EQ(p.getScale(), std::ldexp(1.0, 30));
    EXPECT_EQ(p.getChainIndex(), ci);
  }
  enc.restoreDefaultScale();
  EXPECT_EQ(enc.getDefaultScale(2), he.getAccurateScale(2));
  enc.setDefaultScale(-1.0);
  EXPECT_EQ(enc.getDefaultScale(2), he.getAccurateScale(2));

  SealCkksEncoder plainEnc(plainScalingContext());
  EXPECT_EQ(plainEnc.getDefaultScale(1), std::ldexp(1.0, FRAC));
  EXPECT_EQ(plainEnc.getDefaultScale(DEPTH), std::ldexp(1.0, FRAC));
}

TEST(SealCkksEncoder, IntAndDoubleScalarsEncodeAlike)
{
  const SealCkksContext& he = accurateContext();
  SealCkksEncoder enc(he);
  SealCkksPlaintext fromInt(he);
  SealCkksPlaintext fromDouble(he);
  enc.encode(fromInt, 3, 2);
  enc.encode(fromDouble, 3.0, 2);
  const seal::Plaintext& a = fromInt.getSealPlaintext();
  const seal::Plaintext& b = fromDouble.getSealPlaintext();
  ASSERT_EQ(a.coeff_count(), b.coeff_count());
  EXPECT_EQ(a.scale(), b.scale());
  EXPECT_TRUE(std::equal(a.data(), a.data() + a.coeff_count(), b.data()));
  std::vector<double> decoded = enc.decodeDouble(fromInt);
  ASSERT_EQ(decoded.size(), static_cast<size_t>(SLOTS));
  for (double v : decoded)
    EXPECT_NEAR(v, 3.0, bound());
}

TEST(SealCkksEncoder, RoundTripsAtEveryChainIndex)
{
  for (const SealCkksContext* he : {&accurateContext(), &plainScalingContext()}) {
    SealCkksEncoder enc(*he);
    CVec values = randomComplex(7, SLOTS);
    std::vector<double> reals = randomReal(8);
    for (int ci = 0; ci <= he->getTopChainIndex(); ++ci) {
      SealCkksPlaintext p(*he);
      enc.encode(p, values, ci);
      EXPECT_EQ(p.getChainIndex(), ci);
      EXPECT_EQ(p.getScale(), enc.getDefaultScale(ci));
      EXPECT_LT(maxError(enc.decodeComplex(p), values), bound());

      enc.encode(p, reals, ci);
      std::vector<double> decoded = enc.decodeDouble(p);
      EXPECT_LT(maxError(toComplex(decoded), toComplex(reals)), bound());

      SealCkksCiphertext c(*he);
      enc.encrypt(c, p);
      EXPECT_EQ(c.getChainIndex(), ci);
      EXPECT_EQ(c.getScale(), p.getScale());
      SealCkksPlaintext back(*he);
      enc.decrypt(back, c);
      EXPECT_LT(maxError(toComplex(enc.decodeDouble(back)), toComplex(reals)), bound());
    }
  }
}

TEST(SealCkksEncoder, DecodeAlwaysGivesSlotCountValues)
{
  const SealCkksContext& he = accurateContext();
  SealCkksEncoder enc(he);
  SealCkksPlaintext p(he);
  enc.encode(p, std::vector<double>{1.5, -2.5, 3.25}, DEPTH);
  std::vector<double> decoded = enc.decodeDouble(p);
  ASSERT_EQ(decoded.size(), static_cast<size_t>(SLOTS));
  EXPECT_NEAR(decoded[0], 1.5, bound());
  EXPECT_NEAR(decoded[1], -2.5, bound());
  EXPECT_NEAR(decoded[2], 3.25, bound());
  for (int i = 3; i < SLOTS; ++i)
    EXPECT_NEAR(decoded[i], 0.0, bound());
  EXPECT_EQ(enc.decodeComplex(p).size(), static_cast<size_t>(SLOTS));
}

TEST(SealCkksEncoder, Refusals)
{
  const SealCkksContext& he = accurateContext();
  SealCkksEncoder enc(he);
  SealCkksPlaintext p(he);
  expectThrowWithMessage<std::invalid_argument>([&] { enc.encode(p, 1.0, DEPTH + 1); },
                                                "Illegal chain index value 4 where max=3");
  expectThrowWithMessage<std::invalid_argument>([&] { enc.encode(p, 1.0, -1); },
                                                "Illegal chain index value -1 where max=3");
  EXPECT_TRUE(p.isEmpty());
  expectThrowWithMessage<std::invalid_argument>(
      [&] { enc.encode(p, std::vector<double>(SLOTS + 1, 1.0), DEPTH); },
      "values_size is too large");

  // A plaintext of another backend.
  MockupContext mock;
  mock.init(HeConfigRequirement::insecure(16, 2, 40, 10));
  auto mockPlain = mock.createAbstractPlaintext();
  EXPECT_THROW(enc.encode(*mockPlain, 1.0, 1), std::bad_cast);

  // No encryptor.
  auto noEncrypt = makeContext(functions(NO_ROTATIONS, FALSE, {}, false));
  SealCkksEncoder enc2(*noEncrypt);
  SealCkksPlaintext p2(*noEncrypt);
  enc2.encode(p2, 1.0, 1);
  SealCkksCiphertext c2(*noEncrypt);
  expectThrowWithMessage<std::runtime_error>([&] { enc2.encrypt(c2, p2); },
                                             "This SealCkksContext doesn't have an encryptor");

  // A loaded context has no secret key.
  std::stringstream saved;
  he.save(saved);
  SealCkksContext loaded;
  loaded.load(saved);
  SealCkksEncoder enc3(loaded);
  SealCkksPlaintext p3(loaded);
  enc3.encode(p3, 2.0, 2);
  SealCkksCiphertext c3(loaded);
  enc3.encrypt(c3, p3);
  SealCkksPlaintext out(loaded);
  expectThrowWithMessage<std::runtime_error>([&] { enc3.decrypt(out, c3); },
                                             "This context has no secret key");
  // ... and what it encrypted decrypts in the original context.
  std::stringstream blob;
  c3.save(blob);
  SealCkksCiphertext c4(he);
  c4.load(blob);
  SealCkksPlaintext p4(he);
  enc.decrypt(p4, c4);
  EXPECT_NEAR(enc.decodeDouble(p4)[5], 2.0, bound());
}

// -------------------------------------------------------------- plaintext

TEST(SealCkksPlaintext, FreshPlaintext)
{
  const SealCkksContext& he = accurateContext();
  SealCkksPlaintext p(he);
  EXPECT_TRUE(p.isAllZeroes());
  EXPECT_TRUE(p.isEmpty());
  EXPECT_EQ(p.getEstimatedMemoryUsageBytes(), 0);
  EXPECT_EQ(p.slotCount(), SLOTS);
  expectThrowWithMessage<std::runtime_error>(
      [&] { p.getChainIndex(); }, "The plaintext is empty: nothing has been encoded into it");
  expectThrowWithMessage<std::runtime_error>(
      [&] { p.setChainIndex(1); }, "The plaintext is empty: nothing has been encoded into it");
  std::ostringstream out;
  p.debugPrint("p", VERBOSITY_DETAILED, out);
  EXPECT_EQ(out.str(), "PTile p: EMPTY\n");
}

TEST(SealCkksPlaintext, SetChainIndexRefusals)
{
  const SealCkksContext& he = accurateContext();
  SealCkksEncoder enc(he);
  SealCkksPlaintext p(he);
  enc.encode(p, 0.25, 2);
  std::vector<uint64_t> before(p.getSealPlaintext().data(),
                               p.getSealPlaintext().data() + p.getSealPlaintext().coeff_count());
  expectThrowWithMessage<std::runtime_error>(
      [&] { p.setChainIndex(-1); }, "cannot set the chain index below zero, and asked to set to -1");
  expectThrowWithMessage<std::runtime_error>(
      [&] { p.setChainIndex(DEPTH + 1); },
      "cannot set the chain index above the top chain index 3, and asked to set to 4");
  p.setChainIndex(2);
  EXPECT_EQ(p.getChainIndex(), 2);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), p.getSealPlaintext().data()));
  EXPECT_EQ(p.getSealPlaintext().coeff_count(), before.size());
}

TEST(SealCkksPlaintext, SetChainIndexMovesAndRescales)
{
  CVec values = randomComplex(11, SLOTS);
  struct Case
  {
    bool accurate;
    int from;
    int to;
    double fromScale; // -1: the encoder's default
  };
  for (const Case& c : std::vector<Case>{{true, 1, 3, -1},
                                         {true, 3, 1, -1},
                                         {true, 2, 0, -1},
                                         {true, 3, 1, std::ldexp(1.0, 30)},
                                         {false, 3, 1, -1},
                                         {false, 0, 2, -1}}) {
    SCOPED_TRACE(std::to_string(c.accurate) + " " + std::to_string(c.from) + "->" +
                 std::to_string(c.to));
    const SealCkksContext& he = c.accurate ? accurateContext() : plainScalingContext();
    SealCkksEncoder enc(he);
    if (c.fromScale > 0)
      enc.setDefaultScale(c.fromScale);
    SealCkksPlaintext p(he);
    enc.encode(p, values, c.from);
    double oldScale = p.getScale();
    p.setChainIndex(c.to);
    EXPECT_EQ(p.getChainIndex(), c.to);
    SealCkksEncoder fresh(he);
    bool reencoded = c.to > c.from || (c.accurate && c.fromScale < 0);
    if (reencoded)
      EXPECT_EQ(p.getScale(), fresh.getDefaultScale(c.to));
    else
      EXPECT_EQ(p.getScale(), oldScale);
    EXPECT_EQ(p.getSealPlaintext().coeff_count(), static_cast<size_t>(2 * SLOTS * (c.to + 1)));
    EXPECT_LT(maxError(fresh.decodeComplex(p), values), bound());
  }
}

TEST(SealCkksPlaintext, SaveAndLoad)
{
  const SealCkksContext& he = accurateContext();
  SealCkksEncoder enc(he);
  enc.setDefaultScale(std::ldexp(1.0, 33));
  CVec values = randomComplex(21, SLOTS);
  SealCkksPlaintext p(he);
  enc.encode(p, values, 2);
  std::stringstream blob;
  int64_t written = p.save(blob);
  EXPECT_EQ(written, static_cast<int64_t>(blob.str().size()));
  // SEAL's header: magic 0xA15E, header size, version, then the compression mode (2 = zstd).
  std::string bytes = blob.str();
  ASSERT_GT(bytes.size(), 16u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0x5E);
  EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xA1);
  EXPECT_EQ(static_cast<int>(bytes[5]), 2);

  SealCkksPlaintext q(he);
  EXPECT_EQ(q.load(blob), written);
  EXPECT_EQ(q.getChainIndex(), 2);
  EXPECT_EQ(q.getScale(), std::ldexp(1.0, 33));
  ASSERT_EQ(q.getSealPlaintext().coeff_count(), p.getSealPlaintext().coeff_count());
  EXPECT_TRUE(std::equal(p.getSealPlaintext().data(),
                         p.getSealPlaintext().data() + p.getSealPlaintext().coeff_count(),
                         q.getSealPlaintext().data()));

  // Other parameters: refused, and the target keeps its data.
  auto other = makeContext(functions(NO_ROTATIONS, FALSE), true, 2);
  SealCkksPlaintext r(*other);
  SealCkksEncoder otherEnc(*other);
  otherEnc.encode(r, 1.0, 1);
  blob.clear();
  blob.seekg(0);
  EXPECT_THROW(r.load(blob), std::logic_error);
  EXPECT_EQ(r.getChainIndex(), 1);

  // Saved through PTile with a header.
  PTile tile(he);
  Encoder facade(he);
  facade.encode(tile, values, 1);
  std::stringstream tileBlob;
  tile.save(tileBlob);
  PTile loadedTile(he);
  loadedTile.load(tileBlob);
  EXPECT_EQ(loadedTile.getChainIndex(), 1);
  EXPECT_LT(maxError(facade.decodeComplex(loadedTile), values), bound());
}

TEST(SealCkksPlaintext, MemoryEstimate)
{
  const SealCkksContext& he = accurateContext();
  SealCkksEncoder enc(he);
  SealCkksPlaintext p(he);
  enc.encode(p, 1.0, 2);
  EXPECT_EQ(p.getEstimatedMemoryUsageBytes(), SLOTS * 3 * 16);
}

TEST(SealCkksPlaintext, CrtArithmetic)
{
  using BigInt = CrtArithmetic::BigInt;
  BigInt g, x, y;
  std::tie(g, x, y) = CrtArithmetic::extendedGcd(0, 17);
  EXPECT_EQ(g, 17);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 1);
  std::tie(g, x, y) = CrtArithmetic::extendedGcd(240, 46);
  EXPECT_EQ(g, 2);
  EXPECT_EQ(BigInt(240) * x + BigInt(46) * y, 2);

  std::shared_ptr<std::vector<uint64_t>> chain = accurateContext().getModulusChain();
  const std::vector<uint64_t>& q = *chain;
  ASSERT_EQ(q.size(), static_cast<size_t>(DEPTH + 1));
  EXPECT_EQ(CrtArithmetic::crtCompose(std::vector<uint64_t>(q.size(), 1), q), 1);
  std::vector<uint64_t> minusOne;
  for (uint64_t p : q)
    minusOne.push_back(p - 1);
  EXPECT_EQ(CrtArithmetic::crtCompose(minusOne, q), -1);

  // A big value composed from its residues comes back, with its sign.
  BigInt product = 1;
  for (uint64_t p : q)
    product *= p;
  for (BigInt value : std::vector<BigInt>{BigInt(123456789), BigInt(-(product / 2) + 5),
                                          BigInt(product / 3), BigInt(-42)}) {
    std::vector<uint64_t> residues;
    for (uint64_t p : q) {
      BigInt r = value % p;
      if (r < 0)
        r += p;
      residues.push_back(static_cast<uint64_t>(r));
    }
    EXPECT_EQ(CrtArithmetic::crtCompose(residues, q), value);
  }
  // Composition over the first two moduli only.
  EXPECT_EQ(CrtArithmetic::crtCompose({q[0] - 3, q[1] - 3}, q), -3);
}

TEST(SealCkksPlaintext, CastToLongArray)
{
  const uint64_t words[] = {1, 0xFFFFFFFFFFFFFFFFull, 1ull << 63, 7};
  const std::vector<int64_t> expected = {1, -1, INT64_MIN, 7};
  EXPECT_EQ(SealCkksPlaintext::castToLongArray(words, 4), expected);
  EXPECT_EQ(SealCkksPlaintext::castToLongArray(words, 2), (std::vector<int64_t>{1, -1}));
  EXPECT_TRUE(SealCkksPlaintext::castToLongArray(words, 0).empty());

  seal::DynArray<uint64_t> array(4);
  std::copy(std::begin(words), std::end(words), array.begin());
  EXPECT_EQ(SealCkksPlaintext::castToLongArray(array, 4), expected);
  EXPECT_EQ(SealCkksPlaintext::castToLongArray(array, 3),
            (std::vector<int64_t>{1, -1, INT64_MIN}));
  expectThrowWithMessage<std::logic_error>(
      [&] { SealCkksPlaintext::castToLongArray(array, 5); }, "problem casting array to long array");
}

TEST(SealCkksPlaintext, PrintRnsPolynomial)
{
  PrintOptionsGuard guard;
  getPrintOptions().numPrintedElements = -1;
  struct Case
  {
    std::vector<int64_t> values; // k blocks of 4
    size_t k;
    std::string text;
  };
  for (const Case& c : std::vector<Case>{
           {{7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}, 3, "  coef[0-3]=7*3\n"},
           {{5, 0, 0, 0, 6, 0, 0, 0}, 2, "  coef[0]=5, 6\n  coef[1-3]=0\n"},
           {{1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 9, 2, 3, 4}, 4,
            "  coef[0]=1*3, 9\n  coef[1]=2*4\n  coef[2]=3*4\n  coef[3]=4*4\n"},
           {{-1, 1, 0, 0}, 1, "  coef[0]=18446744073709551615\n  coef[1]=1\n  coef[2]=0\n"
                              "  coef[3]=0\n"}}) {
    std::ostringstream out;
    SealCkksPlaintext::printRnsPolynomial(c.values, 4, c.k, out);
    EXPECT_EQ(out.str(), c.text);
  }
  getPrintOptions().numPrintedElements = 2;
  std::ostringstream out;
  SealCkksPlaintext::printRnsPolynomial({1, 2, 3, 4, 5}, 5, 1, out);
  EXPECT_EQ(out.str(), "  coef[0]=1\n  coef[1]=2\n:\n  coef[4]=5\n");
}

TEST(SealCkksPlaintext, PrintCoefsCrtOfAConstant)
{
  PrintOptionsGuard guard;
  const SealCkksContext& he = accurateContext();
  SealCkksEncoder enc(he);
  enc.setDefaultScale(std::ldexp(1.0, 20));
  SealCkksPlaintext p(he);
  // A constant encodes as the constant polynomial round(3 * 2^20).
  enc.encode(p, 3.0, 2);
  const int n = 2 * SLOTS;
  struct Case
  {
    int limit;
    int written;
    bool gap;
  };
  for (const Case& c : std::vector<Case>{{-1, n, false}, {n - 1, n - 1, false}, {3, 4, true}}) {
    std::ostringstream out;
    p.printCoefsCRT(c.limit, out);
    std::string text = out.str();
    EXPECT_EQ(text.rfind("coefsCRT:\n  coefCRT[0]=3145728\n  coefCRT[1]=0\n", 0), 0u);
    EXPECT_EQ(countLinesStartingWith(text, "  coefCRT["), c.written);
    EXPECT_EQ(text.find(" ... ") != std::string::npos, c.gap);
    if (c.gap) {
      EXPECT_NE(text.find(" ... \n  coefCRT[" + std::to_string(n - 1) + "]=0\n"),
                std::string::npos);
    }
  }

  getPrintOptions().numPrintedElements = 4;
  std::ostringstream out;
  p.debugPrint("c", VERBOSITY_EXTRA_DETAILED, out);
  std::string text = out.str();
  for (const char* expected :
       {"SEAL-CKKS Plaintext c:", "chain index        : 2\n", "slots              : 1024\n",
        "is_ntt_form : 1\n", "coeff_count        : 6144\n", "max  coef                    : 3145728\n",
        "mean coef                    : 1536\n", "coefs (pre-NTT):\n  coef[0]=3145728*3\n  coef[1-2047]=0\n",
        "post remod coefs:\n <3145728=3145728+0q>\n", "max abs(m)  :0\n",
        "coefsCRT:\n  coefCRT[0]=3145728\n"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected;
  EXPECT_EQ(text.find("ERROR:"), std::string::npos);
  // The print changes nothing.
  EXPECT_NEAR(enc.decodeDouble(p)[9], 3.0, 1e-4);
}

TEST(SealCkksPlaintext, TwoPrimeCheckReportsValuesBeyondTwoPrimes)
{
  PrintOptionsGuard guard;
  getPrintOptions().numPrintedElements = 1;
  const SealCkksContext& he = accurateContext();
  SealCkksEncoder enc(he);
  enc.setDefaultScale(std::ldexp(1.0, 95));
  SealCkksPlaintext p(he);
  enc.encode(p, 1.0, 3); // the constant polynomial 2^95, beyond q0 * q1
  std::ostringstream out;
  p.debugPrint("", VERBOSITY_EXTRA_DETAILED, out);
  std::string text = out.str();
  EXPECT_NE(text.find("  coefCRT[0]=39614081257132168796771975168\n"), std::string::npos);
  std::shared_ptr<std::vector<uint64_t>> chain = he.getModulusChain();
  for (int j : {2, 3}) {
    std::string tail = " % " + std::to_string((*chain)[j]) + " => [" + std::to_string(j) + "]";
    EXPECT_NE(text.find(tail), std::string::npos) << tail;
  }
  // Coefficient 0 fails the check in primes 2 and 3; the last coefficient (0) passes.
  EXPECT_EQ(countLinesStartingWith(text, "ERROR:"), 2);
  EXPECT_EQ(countLinesStartingWith(text, " <"), 2);
}

TEST(SealCkksPlaintext, DetailedPrintOfAVector)
{
  PrintOptionsGuard guard;
  getPrintOptions().numPrintedElements = 3;
  const SealCkksContext& he = accurateContext();
  SealCkksEncoder enc(he);
  SealCkksPlaintext p(he);
  enc.encode(p, randomReal(3), 3);
  std::ostringstream out;
  p.debugPrint("v", VERBOSITY_EXTRA_DETAILED, out);
  std::string text = out.str();
  EXPECT_NE(text.find("coefs (post-NTT):\n"), std::string::npos);
  EXPECT_NE(text.find("post remod coefs:\n"), std::string::npos);
  // The values fit q0, so the two-prime composition reproduces every residue.
  EXPECT_EQ(text.find("ERROR:"), std::string::npos);
  EXPECT_EQ(countLinesStartingWith(text, "  coefCRT["), 4);
  EXPECT_EQ(countLinesStartingWith(text, " <"), 4);

  std::ostringstream shortOut;
  p.debugPrint("v", VERBOSITY_REGULAR, shortOut);
  EXPECT_EQ(shortOut.str().rfind("PTile v: CI=3", 0), 0u);
}

// ------------------------------------------------------------- ciphertext

TEST(SealCkksCiphertext, FreshCiphertext)
{
  const SealCkksContext& he = accurateContext();
  SealCkksCiphertext c(he);
  EXPECT_TRUE(c.isEmpty());
  EXPECT_TRUE(c.isTransparent());
  EXPECT_EQ(c.getEstimatedMemoryUsageBytes(), 0);
  expectThrowWithMessage<std::runtime_error>(
      [&] { c.getChainIndex(); }, "The ciphertext is empty: nothing has been encrypted into it");
  std::ostringstream out;
  c.debugPrint("c", VERBOSITY_DETAILED, out);
  EXPECT_EQ(out.str(), "CTile c: EMPTY\n");
}

TEST(SealCkksCiphertext, EmptyCiphertextIsNeverSaved)
{
  const SealCkksContext& he = accurateContext();
  SealCkksCiphertext c(he);
  std::stringstream blob;
  expectThrowWithMessage<std::runtime_error>(
      [&] { c.save(blob); }, "Cannot save an empty ciphertext: nothing has been encrypted into it");
  EXPECT_TRUE(blob.str().empty());
  c.encryptZeroIfTransparent();
  EXPECT_TRUE(c.isEmpty());

  CTile tile(he);
  std::stringstream tileBlob;
  expectThrowWithMessage<std::runtime_error>(
      [&] { tile.save(tileBlob); },
      "Cannot save an empty ciphertext: nothing has been encrypted into it");
  EXPECT_TRUE(tile.isEmpty());
}

TEST(SealCkksCiphertext, SaveAndLoad)
{
  const SealCkksContext& he = accurateContext();
  CVec values = randomComplex(5, SLOTS);
  CTile c = encryptTile(he, values);
  CTile d = encryptTile(he, values);
  c.multiplyRaw(d); // size 3, scale off the table
  std::stringstream blob;
  int64_t written = sealOf(c).save(blob);
  EXPECT_EQ(written, static_cast<int64_t>(blob.str().size()));
  EXPECT_EQ(static_cast<int>(blob.str()[5]), 0); // not compressed
  SealCkksCiphertext loaded(he);
  EXPECT_EQ(loaded.load(blob), written);
  EXPECT_EQ(loaded.getChainIndex(), c.getChainIndex());
  EXPECT_EQ(loaded.getScale(), c.getScale());
  EXPECT_EQ(loaded.getSealCiphertext().size(), 3u);
  const seal::Ciphertext& a = sealOf(c).getSealCiphertext();
  EXPECT_TRUE(std::equal(a.data(), a.data() + a.dyn_array().size(),
                         loaded.getSealCiphertext().data()));

  // Through CTile, with the header.
  CTile e = encryptTile(he, values, 2);
  std::stringstream tileBlob;
  e.save(tileBlob);
  CTile f(he);
  f.load(tileBlob);
  EXPECT_EQ(f.getChainIndex(), 2);
  EXPECT_EQ(f.getScale(), e.getScale());
  EXPECT_LT(maxError(decrypt(f), values), bound());

  // Other parameters.
  auto other = makeContext(functions(NO_ROTATIONS, FALSE), true, 2);
  SealCkksCiphertext g(*other);
  blob.clear();
  blob.seekg(0);
  expectThrowWithMessage<std::logic_error>([&] { g.load(blob); }, "ciphertext data is invalid");
  EXPECT_TRUE(g.isEmpty());
}

TEST(SealCkksCiphertext, ArithmeticAgainstClearValues)
{
  for (const SealCkksContext* he : {&accurateContext(), &plainScalingContext()}) {
    SCOPED_TRACE(he->getUseAccurateScaling() ? "accurate" : "plain");
    CVec a = randomComplex(31, SLOTS);
    CVec b = randomComplex(32, SLOTS);
    int top = he->getTopChainIndex();
    Encoder enc(*he);
    PTile pb(*he);
    enc.encode(pb, b, top);

    struct Case
    {
      std::string name;
      std::function<void(CTile&, const CTile&)> run;
      std::function<Complex(Complex, Complex)> expected;
      int chainDrop;
    };
    std::vector<Case> cases = {
        {"add", [](CTile& x, const CTile& y) { x.add(y); }, [](Complex x, Complex y) { return x + y; }, 0},
        {"addRaw", [](CTile& x, const CTile& y) { x.addRaw(y); }, [](Complex x, Complex y) { return x + y; }, 0},
        {"sub", [](CTile& x, const CTile& y) { x.sub(y); }, [](Complex x, Complex y) { return x - y; }, 0},
        {"subRaw", [](CTile& x, const CTile& y) { x.subRaw(y); }, [](Complex x, Complex y) { return x - y; }, 0},
        {"multiply", [](CTile& x, const CTile& y) { x.multiply(y); }, [](Complex x, Complex y) { return x * y; }, 1},
        {"multiplyRaw+relin+rescale",
         [](CTile& x, const CTile& y) { x.multiplyRaw(y); x.relinearize(); x.rescale(); },
         [](Complex x, Complex y) { return x * y; }, 1},
        {"addPlain", [&](CTile& x, const CTile&) { x.addPlain(pb); }, [](Complex x, Complex y) { return x + y; }, 0},
        {"addPlainRaw", [&](CTile& x, const CTile&) { x.addPlainRaw(pb); }, [](Complex x, Complex y) { return x + y; }, 0},
        {"subPlain", [&](CTile& x, const CTile&) { x.subPlain(pb); }, [](Complex x, Complex y) { return x - y; }, 0},
        {"subPlainRaw", [&](CTile& x, const CTile&) { x.subPlainRaw(pb); }, [](Complex x, Complex y) { return x - y; }, 0},
        {"multiplyPlain", [&](CTile& x, const CTile&) { x.multiplyPlain(pb); }, [](Complex x, Complex y) { return x * y; }, 1},
        {"square", [](CTile& x, const CTile&) { x.square(); }, [](Complex x, Complex) { return x * x; }, 1},
        {"squareRaw+relin+rescale", [](CTile& x, const CTile&) { x.squareRaw(); x.relinearize(); x.rescale(); },
         [](Complex x, Complex) { return x * x; }, 1},
        {"negate", [](CTile& x, const CTile&) { x.negate(); }, [](Complex x, Complex) { return -x; }, 0},
        {"conjugate", [](CTile& x, const CTile&) { x.conjugate(); }, [](Complex x, Complex) { return std::conj(x); }, 0},
        {"multiplyScalar(double)", [](CTile& x, const CTile&) { x.multiplyScalar(-0.75); },
         [](Complex x, Complex) { return -0.75 * x; }, 1},
        {"addScalar(double)", [](CTile& x, const CTile&) { x.addScalar(0.5); }, [](Complex x, Complex) { return x + 0.5; }, 0},
        {"addScalar(int)", [](CTile& x, const CTile&) { x.addScalar(-2); }, [](Complex x, Complex) { return x - 2.0; }, 0},
        {"multiplyImaginaryUnit", [](CTile& x, const CTile&) { x.multiplyImaginaryUnit(); },
         [](Complex x, Complex) { return x * Complex(0, 1); }, 1},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      CTile x = encryptTile(*he, a);
      CTile y = encryptTile(*he, b);
      double scaleBefore = x.getScale();
      c.run(x, y);
      EXPECT_EQ(x.getChainIndex(), top - c.chainDrop);
      CVec expected(SLOTS);
      for (int i = 0; i < SLOTS; ++i)
        expected[i] = c.expected(a[i], b[i]);
      EXPECT_LT(maxError(decrypt(x), expected), bound());
      if (c.chainDrop == 0)
        EXPECT_EQ(x.getScale(), scaleBefore);
      else if (he->getUseAccurateScaling())
        EXPECT_EQ(x.getScale(), he->getAccurateScale(top - 1));
      else
        EXPECT_EQ(x.getScale(), std::ldexp(1.0, FRAC));
    }
  }
}

TEST(SealCkksCiphertext, ScalesAlongTheChain)
{
  // Multiply down to chain index 0: the scale stays on the table (or at 2^40
  // without accurate scaling, the primes having 40 bits).
  for (const SealCkksContext* he : {&accurateContext(), &plainScalingContext()}) {
    CVec a = randomComplex(41, SLOTS);
    CVec expected = a;
    CTile x = encryptTile(*he, a);
    for (int ci = DEPTH - 1; ci >= 0; --ci) {
      CTile y = encryptTile(*he, a, ci + 1);
      x.multiply(y);
      for (int i = 0; i < SLOTS; ++i)
        expected[i] *= a[i];
      EXPECT_EQ(x.getChainIndex(), ci);
      double expectedScale =
          he->getUseAccurateScaling() ? he->getAccurateScale(ci) : std::ldexp(1.0, FRAC);
      EXPECT_EQ(x.getScale(), expectedScale);
      EXPECT_LT(maxError(decrypt(x), expected), bound());
    }
    // Without accurate scaling the rescale divides by the prime's nominal power of two,
    // which the prime itself is not.
    if (!he->getUseAccurateScaling()) {
      std::shared_ptr<std::vector<uint64_t>> chain = he->getModulusChain();
      EXPECT_NE(static_cast<double>((*chain)[1]), std::ldexp(1.0, FRAC));
    }
  }
}

TEST(SealCkksCiphertext, RescaleKeepsScaleOffTheTable)
{
  const SealCkksContext& he = accurateContext();
  CVec a = randomComplex(43, SLOTS);
  CTile x = encryptTile(he, a);
  x.setScale(x.getScale() * 2); // values halve, scale off the table
  CTile y = encryptTile(he, a);
  double expectedScale = x.getScale() * y.getScale();
  x.multiply(y);
  std::shared_ptr<std::vector<uint64_t>> chain = he.getModulusChain();
  double q = static_cast<double>((*chain)[DEPTH]);
  EXPECT_EQ(x.getScale(), expectedScale / q);
  EXPECT_FALSE(sealOf(x).followsAccurateScaling());
}

TEST(SealCkksCiphertext, MultiplyScalarInt)
{
  const SealCkksContext& he = accurateContext();
  CVec a = randomComplex(51, SLOTS);
  struct Case
  {
    int n;
    int doublings; // "SealCkksCipher::add" sections
    bool plainPath;
  };
  for (const Case& c : std::vector<Case>{{1, 0, false},
                                         {2, 1, false},
                                         {3, 1, false},
                                         {5, 2, false},
                                         {6, 2, false},
                                         {-1, 0, false},
                                         {-3, 1, false},
                                         {-4, 2, false},
                                         {-5, 0, true},
                                         {7, 0, true},
                                         {100, 0, true}}) {
    SCOPED_TRACE(c.n);
    CTile x = encryptTile(he, a);
    double scale = x.getScale();
    SectionTimer section("test-multiplyScalar(int)");
    SectionTimer::Node& node = SectionTimer::getCurrent().getChild("SealCkksCipher::multiplyScalar(int)");
    int64_t adds = node.getChild("SealCkksCipher::add").count;
    int64_t plains = node.getChild("SealCkksCipher::multiplyPlainRaw").count;
    x.multiplyScalar(c.n);
    EXPECT_EQ(node.getChild("SealCkksCipher::add").count - adds, c.doublings);
    EXPECT_EQ(node.getChild("SealCkksCipher::multiplyPlainRaw").count - plains, c.plainPath ? 1 : 0);
    EXPECT_EQ(x.getChainIndex(), DEPTH);
    EXPECT_EQ(x.getScale(), scale);
    CVec expected(SLOTS);
    for (int i = 0; i < SLOTS; ++i)
      expected[i] = static_cast<double>(c.n) * a[i];
    EXPECT_LT(maxError(decrypt(x), expected), std::abs(c.n) * bound());
  }
}

TEST(SealCkksCiphertext, TransparentResults)
{
  const SealCkksContext& he = accurateContext();
  CVec a = randomComplex(61, SLOTS);
  CTile x = encryptTile(he, a);
  double scale = x.getScale();
  x.multiplyScalar(0);
  EXPECT_TRUE(sealOf(x).isTransparent());
  EXPECT_FALSE(x.isEmpty());
  EXPECT_EQ(x.getScale(), scale);
  EXPECT_LT(maxError(decrypt(x), CVec(SLOTS)), bound());

  // Subtracting a tile from itself gives a fresh encryption of zero.
  CTile y = encryptTile(he, a, 2);
  y.sub(y);
  EXPECT_FALSE(sealOf(y).isTransparent());
  EXPECT_EQ(y.getChainIndex(), 2);
  EXPECT_EQ(y.getScale(), he.getAccurateScale(2));
  EXPECT_LT(maxError(decrypt(y), CVec(SLOTS)), bound());

  // A transparent tile is saved as an encryption of zero.
  std::stringstream blob;
  x.save(blob);
  CTile z(he);
  z.load(blob);
  EXPECT_FALSE(sealOf(z).isTransparent());
  EXPECT_LT(maxError(decrypt(z), CVec(SLOTS)), bound());
}

TEST(SealCkksCiphertext, SetChainIndex)
{
  CVec a = randomComplex(71, SLOTS);
  for (const SealCkksContext* he : {&accurateContext(), &plainScalingContext()}) {
    for (int target = 0; target < DEPTH; ++target) {
      SCOPED_TRACE(std::to_string(he->getUseAccurateScaling()) + " to " + std::to_string(target));
      CTile x = encryptTile(*he, a);
      double scale = x.getScale();
      x.setChainIndex(target);
      EXPECT_EQ(x.getChainIndex(), target);
      if (he->getUseAccurateScaling())
        EXPECT_EQ(x.getScale(), he->getAccurateScale(target));
      else
        EXPECT_EQ(x.getScale(), scale);
      EXPECT_LT(maxError(decrypt(x), a), bound());
    }
  }
  const SealCkksContext& he = accurateContext();
  CTile x = encryptTile(he, a, 2);
  std::vector<uint64_t> before(sealOf(x).getSealCiphertext().data(),
                               sealOf(x).getSealCiphertext().data() +
                                   sealOf(x).getSealCiphertext().dyn_array().size());
  x.setChainIndex(2);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), sealOf(x).getSealCiphertext().data()));
  expectThrowWithMessage<std::runtime_error>(
      [&] { x.setChainIndex(3); },
      "can only set the chain index down the prime chain, and asked to go from 2 to 3");
  expectThrowWithMessage<std::runtime_error>(
      [&] { x.setChainIndex(-1); }, "cannot set the chain index below zero, and asked to set to -1");
  EXPECT_EQ(x.getChainIndex(), 2);

  // A scale off the table is only mod-switched.
  CTile y = encryptTile(he, a);
  CTile z = encryptTile(he, a);
  y.multiplyRaw(z);
  double rawScale = y.getScale();
  y.setChainIndex(1);
  EXPECT_EQ(y.getChainIndex(), 1);
  EXPECT_EQ(y.getScale(), rawScale);
  y.relinearize();
  y.rescale();
  CVec expected(SLOTS);
  for (int i = 0; i < SLOTS; ++i)
    expected[i] = a[i] * a[i];
  EXPECT_LT(maxError(decrypt(y), expected), bound());
}

TEST(SealCkksCiphertext, ChainIndexZeroMultiplication)
{
  const SealCkksContext& he = accurateContext();
  CVec a = randomComplex(81, SLOTS);
  CTile x = encryptTile(he, a, 0);
  CTile y = encryptTile(he, a, 0);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { x.multiplyRaw(y); },
      "SealCkksCiphertext::multiplyRaw - 'this' ciphertext is at chain index 0. Can't multiply "
      "ciphertexts once they reach chain index 0.");
  EXPECT_EQ(sealOf(x).getSealCiphertext().size(), 2u);
  // Other refusals pass unchanged.
  expectThrowWithMessage<std::invalid_argument>([&] { x.squareRaw(); }, "scale out of bounds");
  SealCkksCiphertext high(he);
  Encoder(he).encodeEncrypt(y, a, 1);
  high.getSealCiphertext() = sealOf(y).getSealCiphertext();
  expectThrowWithMessage<std::invalid_argument>(
      [&] { high.multiplyRaw(sealOf(x)); }, "encrypted1 and encrypted2 parameter mismatch");
  expectThrowWithMessage<std::invalid_argument>(
      [&] { sealOf(x).rescaleRaw(); }, "end of modulus switching chain reached");
}

TEST(SealCkksCiphertext, RotationsAndConjugation)
{
  CVec a = randomComplex(91, SLOTS);
  {
    const SealCkksContext& he = accurateContext();
    for (int n : {1, -1, 3, 100, -513, SLOTS - 1, SLOTS + 2}) {
      SCOPED_TRACE(n);
      CTile x = encryptTile(he, a);
      x.rotate(n);
      EXPECT_EQ(x.getChainIndex(), DEPTH);
      EXPECT_LT(maxError(decrypt(x), rotated(a, n)), bound());
    }
  }
  {
    auto he = makeContext(functions(CUSTOM_ROTATIONS, FALSE, {4, 8}));
    for (int n : {4, 8, 12, 20}) {
      SCOPED_TRACE(n);
      CTile x = encryptTile(*he, a);
      SectionTimer section("test-custom-rotation");
      int64_t before = leafCount("SEAL::rotate");
      x.rotate(n);
      int64_t steps = leafCount("SEAL::rotate") - before;
      EXPECT_EQ(steps, n == 20 ? 3 : (n == 12 ? 2 : 1));
      EXPECT_LT(maxError(decrypt(x), rotated(a, n)), bound());
    }
    CTile x = encryptTile(*he, a);
    expectThrowWithMessage<std::runtime_error>(
        [&] { x.rotate(2); }, "The used SealCKKSContext does not support the required rotation.");
    EXPECT_LT(maxError(decrypt(x), a), bound());
    // Galois keys without the conjugation key: SEAL's refusal.
    expectThrowWithMessage<std::invalid_argument>([&] { x.conjugate(); },
                                                  "Galois key not present");
  }
  {
    auto he = makeContext(functions(NO_ROTATIONS, DEFAULT));
    CTile x = encryptTile(*he, a);
    expectThrowWithMessage<std::runtime_error>([&] { x.rotate(1); },
                                               "This SealCkksContext does not support rotations");
    EXPECT_LT(maxError(decrypt(x), a), bound());
    x.conjugate();
    CVec expected(SLOTS);
    for (int i = 0; i < SLOTS; ++i)
      expected[i] = std::conj(a[i]);
    EXPECT_LT(maxError(decrypt(x), expected), bound());
  }
}

TEST(SealCkksCiphertext, MissingKeysAndForeignOperands)
{
  CVec a = randomComplex(101, SLOTS);
  auto he = makeContext(functions(NO_ROTATIONS, FALSE, {}, true, false));
  CTile x = encryptTile(*he, a);
  CTile y = encryptTile(*he, a);
  expectThrowWithMessage<std::runtime_error>(
      [&] { x.multiply(y); }, "This SealCkksContext doesn't have reliniarization keys");
  expectThrowWithMessage<std::runtime_error>(
      [&] { y.rotate(2); }, "This SealCkksContext does not support rotations");
  expectThrowWithMessage<std::runtime_error>(
      [&] { y.conjugate(); }, "This SealCkksContext doesn't have galois keys");

  MockupContext mock;
  mock.init(HeConfigRequirement::insecure(SLOTS, 2, 40, 10));
  auto mockCipher = mock.createAbstractCiphertext();
  auto mockPlain = mock.createAbstractPlaintext();
  EXPECT_THROW(sealOf(y).add(*mockCipher), std::bad_cast);
  EXPECT_THROW(sealOf(y).multiplyPlain(*mockPlain), std::bad_cast);
}

TEST(SealCkksCiphertext, AccurateScalingHelpersNeedAccurateScaling)
{
  CTile x = encryptTile(plainScalingContext(), randomComplex(111, SLOTS));
  for (auto call : std::vector<std::function<void()>>{
           [&] { sealOf(x).followsAccurateScaling(); },
           [&] { sealOf(x).alignWithAccurateScaling(); },
           [&] { sealOf(x).multiplyByOneWithScale(2.0); }}) {
    try {
      call();
      ADD_FAILURE() << "no assertion";
    } catch (const assert_error& e) {
      EXPECT_NE(std::string(e.what()).find(": Assertion failed: he.getUseAccurateScaling()"),
                std::string::npos)
          << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("hebase/seal/SealCkksCiphertext.cpp:", 0), 0u)
          << e.what();
    }
  }
  SealCkksEncoder enc(plainScalingContext());
  SealCkksPlaintext p(plainScalingContext());
  enc.encode(p, 1.0, 1);
  EXPECT_THROW(p.followsAccurateScaling(), assert_error);
}

TEST(SealCkksCiphertext, MultiplyByOneWithScale)
{
  const SealCkksContext& he = accurateContext();
  CVec a = randomComplex(121, SLOTS);
  CTile x = encryptTile(he, a, 2);
  double scale = x.getScale();
  sealOf(x).multiplyByOneWithScale(std::ldexp(1.0, 30));
  EXPECT_EQ(x.getScale(), scale * std::ldexp(1.0, 30));
  EXPECT_EQ(x.getChainIndex(), 2);
  EXPECT_LT(maxError(decrypt(x), a), bound());
}

TEST(SealCkksCiphertext, MemoryEstimate)
{
  const SealCkksContext& he = accurateContext();
  CTile x = encryptTile(he, randomComplex(131, SLOTS), 2);
  EXPECT_EQ(x.getEstimatedMemoryUsageBytes(), int64_t(SLOTS) * 3 * 16 * 2);
  CTile y = encryptTile(he, randomComplex(132, SLOTS), 2);
  x.multiplyRaw(y);
  EXPECT_EQ(x.getEstimatedMemoryUsageBytes(), int64_t(SLOTS) * 3 * 16 * 3);
}

TEST(SealCkksCiphertext, TimingLabels)
{
  const SealCkksContext& he = accurateContext();
  CVec a = randomComplex(141, SLOTS);
  CTile x = encryptTile(he, a);
  CTile y = encryptTile(he, a);
  static int run = 0;
  SectionTimer section("test-timing-labels " + std::to_string(++run));
  x.multiply(y);
  x.add(y.getMultiply(y));
  x.rotate(1);
  SectionTimer::Node& current = SectionTimer::getCurrent();
  SectionTimer::Node& multiply = current.getChild("SealCkksCipher::multiply");
  EXPECT_EQ(multiply.count, 2);
  for (const char* leaf : {"SEAL::multiply", "SEAL::relinearize", "SEAL::rescale", "SEAL::rescaleRaw"})
    EXPECT_EQ(multiply.getChild(leaf).count, 2) << leaf;
  SectionTimer::Node& add = current.getChild("SealCkksCipher::add");
  EXPECT_EQ(add.count, 1);
  EXPECT_EQ(add.getChild("SealCkksCipher::addRaw").getChild("SEAL::add").count, 1);
  EXPECT_EQ(current.getChild("SealCkksCipher::rotate").count, 1);
  EXPECT_EQ(current.getChild("SEAL::rotate").count, 1);
}

TEST(SealCkksCiphertext, Prints)
{
  PrintOptionsGuard guard;
  const SealCkksContext& he = accurateContext();
  CTile x = encryptTile(he, CVec(SLOTS, Complex(0.5, -0.25)), 2);

  getPrintOptions().printEncryptedContent = true;
  getPrintOptions().numPrintedElements = 3;
  getPrintOptions().numPrintedLastElements = 2;
  const seal::Ciphertext& sc = sealOf(x).getSealCiphertext();
  size_t count = sc.dyn_array().size();
  std::ostringstream expected;
  expected << "CIPHERTEXT [[" << static_cast<uint32_t>(sc.data()[0]) << ","
           << static_cast<uint32_t>(sc.data()[1]) << "," << static_cast<uint32_t>(sc.data()[2])
           << " ...  " << static_cast<uint32_t>(sc.data()[count - 2]) << " "
           << static_cast<uint32_t>(sc.data()[count - 1]) << "] ]";
  for (Verbosity v : {VERBOSITY_LOW, VERBOSITY_REGULAR, VERBOSITY_EXTRA_DETAILED}) {
    std::ostringstream out;
    x.debugPrint("t", v, out);
    EXPECT_EQ(out.str(), expected.str());
  }
  getPrintOptions().printEncryptedContent = false;

  std::ostringstream out;
  x.debugPrint("t", VERBOSITY_EXTRA_DETAILED, out);
  std::string text = out.str();
  for (const char* line :
       {"SEAL-CKKS Ciphertext t:", "chain index         : 2\n", "slots               : 1024\n",
        "size (polys)        : 2\n", "poly_modulus_degree_: 2048\n", "coeff_modulus_size_ : 3\n",
        "is_ntt_form         : 1\n", "data_               : size=12288 capacity=2\n",
        "ciphertext polynomials: \nPoly[0]:\ncoef[0]=", "Poly[1]:\n", "SEAL-CKKS Plaintext t: plaintext:",
        "coefsCRT:\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  EXPECT_EQ(countLinesStartingWith(text, "coef["), 2 * 4);

  std::ostringstream shortOut;
  x.debugPrint("t", VERBOSITY_REGULAR, shortOut);
  EXPECT_EQ(shortOut.str().rfind("CTile t: CI=2", 0), 0u);

  // -1 prints every slot, in the short and the detailed form (the ciphertext's
  // values, factored, then its plaintext's values).
  getPrintOptions().numPrintedElements = -1;
  getPrintOptions().factor = 2.0;
  getPrintOptions().printComplexNumbers = false;
  for (Verbosity v : {VERBOSITY_REGULAR, VERBOSITY_DETAILED}) {
    std::ostringstream all;
    x.debugPrint("t", v, all);
    std::istringstream lines(all.str());
    std::string line;
    std::vector<std::string> valueLines;
    while (std::getline(lines, line))
      if (line.rfind("0.5 ", 0) == 0 || line.rfind("Factored (by 2): 1 ", 0) == 0)
        valueLines.push_back(line);
    ASSERT_EQ(valueLines.size(), v == VERBOSITY_DETAILED ? 3u : 1u) << all.str();
    for (const std::string& values : valueLines) {
      EXPECT_EQ(values.find("..."), std::string::npos);
      std::istringstream words(values.substr(values.find(':') == std::string::npos
                                                 ? 0
                                                 : values.find(':') + 2));
      std::string word;
      int count = 0;
      while (words >> word)
        ++count;
      EXPECT_EQ(count, SLOTS) << values;
    }
  }
}
