#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <seal/ciphertext.h>
#include <seal/plaintext.h>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/PTile.h"
#include "hebase/seal/SealCkksCiphertext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealCkksEncoder.h"
#include "hebase/seal/SealCkksPlaintext.h"
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

// CKKS noise at scale 2^40 over 2048 coefficients stays far below 2^-20 for a
// few operations.
const double BOUND = std::ldexp(1.0, -(FRAC - 20));

std::shared_ptr<SealCkksContext> makeContext(bool accurate, RotationSetType rotate,
                                             std::vector<int> steps = {})
{
  auto he = std::make_shared<SealCkksContext>();
  he->setUseAccurateScaling(accurate);
  HeConfigRequirement req = HeConfigRequirement::insecure(SLOTS, DEPTH, FRAC, 10);
  req.publicFunctions.rotate = rotate;
  req.publicFunctions.rotationSteps = std::move(steps);
  he->init(req);
  return he;
}

const SealCkksContext& accurate()
{
  static std::shared_ptr<SealCkksContext> he = makeContext(true, DEFAULT_ROTATIONS);
  return *he;
}

const SealCkksContext& nominal()
{
  static std::shared_ptr<SealCkksContext> he = makeContext(false, DEFAULT_ROTATIONS);
  return *he;
}

std::shared_ptr<SealCkksCiphertext> encrypt(const SealCkksContext& he, const CVec& values,
                                            int chainIndex)
{
  SealCkksEncoder enc(he);
  SealCkksPlaintext p(he);
  enc.encode(p, values, chainIndex);
  auto c = std::make_shared<SealCkksCiphertext>(he);
  enc.encrypt(*c, p);
  return c;
}

CVec decrypt(const SealCkksCiphertext& c)
{
  SealCkksEncoder enc(c.getSealCkksContext());
  SealCkksPlaintext p(c.getSealCkksContext());
  enc.decrypt(p, c);
  return enc.decodeComplex(p);
}

/// Every node below the node as "a/b/c" -> call count.
void flatten(const SectionTimer::Node& node, const std::string& prefix,
             std::map<std::string, int64_t>& out)
{
  for (const auto& child : node.children) {
    std::string path = prefix.empty() ? child.first : prefix + "/" + child.first;
    out[path] = child.second.count;
    flatten(child.second, path, out);
  }
}

/// Runs the call inside a fresh section and returns what it recorded there.
std::map<std::string, int64_t> recorded(const std::string& name, const std::function<void()>& call)
{
  static int serial = 0;
  SectionTimer section("timing-probe " + name + " #" + std::to_string(++serial));
  call();
  std::map<std::string, int64_t> res;
  flatten(SectionTimer::getCurrent(), "", res);
  return res;
}

} // namespace

// ------------------------------------------------------------------ timings

TEST(SealCkksTimings, EveryOperationRecordsItsSectionsAndLeaves)
{
  const SealCkksContext& he = accurate();
  CVec a = randomComplex(1, SLOTS);
  CVec b = randomComplex(2, SLOTS);
  SealCkksEncoder enc(he);
  SealCkksPlaintext pb(he);
  enc.encode(pb, b, DEPTH);

  using Expected = std::map<std::string, int64_t>;
  struct Case
  {
    std::string name;
    std::function<void(SealCkksCiphertext&, const SealCkksCiphertext&)> run;
    Expected expected;
  };
  const std::string mulSec = "SealCkksCipher::multiply";
  const std::string sqSec = "SealCkksCipher::square";
  const std::string mpSec = "SealCkksCipher::multiplyPlain";
  const std::string msdSec = "SealCkksCipher::multiplyScalar(double)";
  const std::string msiSec = "SealCkksCipher::multiplyScalar(int)";
  const std::string setSec = "SealCkksCipher::setChainIndex(int)";
  std::vector<Case> cases = {
      {"add", [](auto& x, const auto& y) { x.add(y); },
       {{"SealCkksCipher::add", 1},
        {"SealCkksCipher::add/SealCkksCipher::addRaw", 1},
        {"SealCkksCipher::add/SealCkksCipher::addRaw/SEAL::add", 1}}},
      {"addRaw", [](auto& x, const auto& y) { x.addRaw(y); },
       {{"SealCkksCipher::addRaw", 1}, {"SealCkksCipher::addRaw/SEAL::add", 1}}},
      {"sub", [](auto& x, const auto& y) { x.sub(y); },
       {{"SealCkksCipher::sub", 1}, {"SealCkksCipher::sub/SEAL::sub", 1}}},
      {"subRaw", [](auto& x, const auto& y) { x.subRaw(y); }, {{"SEAL::sub", 1}}},
      {"addPlain", [&](auto& x, const auto&) { x.addPlain(pb); },
       {{"SealCkksCipher::addPlain", 1},
        {"SealCkksCipher::addPlain/SealCkksCipher::addPlainRaw", 1}}},
      {"addPlainRaw", [&](auto& x, const auto&) { x.addPlainRaw(pb); },
       {{"SealCkksCipher::addPlainRaw", 1}}},
      {"subPlain", [&](auto& x, const auto&) { x.subPlain(pb); },
       {{"SealCkksCipher::subPlain", 1},
        {"SealCkksCipher::subPlain/SealCkksCipher::subPlainRaw", 1}}},
      {"subPlainRaw", [&](auto& x, const auto&) { x.subPlainRaw(pb); },
       {{"SealCkksCipher::subPlainRaw", 1}}},
      {"multiply", [](auto& x, const auto& y) { x.multiply(y); },
       {{mulSec, 1},
        {mulSec + "/SEAL::multiply", 1},
        {mulSec + "/SEAL::relinearize", 1},
        {mulSec + "/SEAL::rescale", 1},
        {mulSec + "/SEAL::rescaleRaw", 1}}},
      {"multiplyRaw", [](auto& x, const auto& y) { x.multiplyRaw(y); }, {{"SEAL::multiply", 1}}},
      {"multiplyPlain", [&](auto& x, const auto&) { x.multiplyPlain(pb); },
       {{mpSec, 1},
        {mpSec + "/SealCkksCipher::multiplyPlainRaw", 1},
        {mpSec + "/SEAL::rescale", 1},
        {mpSec + "/SEAL::rescaleRaw", 1}}},
      {"multiplyPlainRaw", [&](auto& x, const auto&) { x.multiplyPlainRaw(pb); },
       {{"SealCkksCipher::multiplyPlainRaw", 1}}},
      {"square", [](auto& x, const auto&) { x.square(); },
       {{sqSec, 1},
        {sqSec + "/SEAL::square", 1},
        {sqSec + "/SEAL::relinearize", 1},
        {sqSec + "/SEAL::rescale", 1},
        {sqSec + "/SEAL::rescaleRaw", 1}}},
      {"squareRaw", [](auto& x, const auto&) { x.squareRaw(); }, {{"SEAL::square", 1}}},
      {"multiplyScalar(double)", [](auto& x, const auto&) { x.multiplyScalar(0.5); },
       {{msdSec, 1},
        {msdSec + "/SEAL::encode", 1},
        {msdSec + "/" + mpSec, 1},
        {msdSec + "/" + mpSec + "/SealCkksCipher::multiplyPlainRaw", 1},
        {msdSec + "/" + mpSec + "/SEAL::rescale", 1},
        {msdSec + "/" + mpSec + "/SEAL::rescaleRaw", 1}}},
      {"multiplyScalar(1)", [](auto& x, const auto&) { x.multiplyScalar(1); }, {{msiSec, 1}}},
      {"multiplyScalar(3)", [](auto& x, const auto&) { x.multiplyScalar(3); },
       {{msiSec, 1},
        {msiSec + "/SealCkksCipher::add", 1},
        {msiSec + "/SealCkksCipher::add/SealCkksCipher::addRaw", 1},
        {msiSec + "/SealCkksCipher::add/SealCkksCipher::addRaw/SEAL::add", 1}}},
      {"multiplyScalar(6)", [](auto& x, const auto&) { x.multiplyScalar(6); },
       {{msiSec, 1},
        {msiSec + "/SealCkksCipher::add", 2},
        {msiSec + "/SealCkksCipher::add/SealCkksCipher::addRaw", 2},
        {msiSec + "/SealCkksCipher::add/SealCkksCipher::addRaw/SEAL::add", 2}}},
      {"multiplyScalar(-4)", [](auto& x, const auto&) { x.multiplyScalar(-4); },
       {{msiSec, 1},
        {msiSec + "/SealCkksCipher::negate", 1},
        {msiSec + "/SealCkksCipher::add", 2},
        {msiSec + "/SealCkksCipher::add/SealCkksCipher::addRaw", 2},
        {msiSec + "/SealCkksCipher::add/SealCkksCipher::addRaw/SEAL::add", 2}}},
      {"multiplyScalar(-5)", [](auto& x, const auto&) { x.multiplyScalar(-5); },
       {{msiSec, 1},
        {msiSec + "/SEAL::encode", 1},
        {msiSec + "/SealCkksCipher::multiplyPlainRaw", 1}}},
      {"multiplyScalar(0)", [](auto& x, const auto&) { x.multiplyScalar(0); },
       {{msiSec, 1},
        {msiSec + "/SEAL::encode", 1},
        {msiSec + "/SealCkksCipher::multiplyPlainRaw", 1}}},
      {"rescale", [](auto& x, const auto&) { x.rescale(); },
       {{"SEAL::rescale", 1}, {"SEAL::rescaleRaw", 1}}},
      {"rescaleRaw", [](auto& x, const auto&) { x.rescaleRaw(); }, {{"SEAL::rescaleRaw", 1}}},
      {"negate", [](auto& x, const auto&) { x.negate(); }, {{"SealCkksCipher::negate", 1}}},
      {"conjugate", [](auto& x, const auto&) { x.conjugate(); }, {{"SEAL::conjugate", 1}}},
      {"conjugateRaw", [](auto& x, const auto&) { x.conjugateRaw(); }, {{"SEAL::conjugate", 1}}},
      {"rotate", [](auto& x, const auto&) { x.rotate(5); },
       {{"SealCkksCipher::rotate", 1}, {"SEAL::rotate", 1}}},
      {"setChainIndex(same)", [](auto& x, const auto&) { x.setChainIndex(DEPTH); }, {{setSec, 1}}},
      {"setChainIndex(one down)", [](auto& x, const auto&) { x.setChainIndex(DEPTH - 1); },
       {{setSec, 1},
        {setSec + "/SealCkksCiphertext::multiplyByOneWithScale", 1},
        {setSec + "/SEAL::encode", 1},
        {setSec + "/SealCkksCipher::multiplyPlainRaw", 1},
        {setSec + "/SEAL::rescaleRaw", 1}}},
      {"setChainIndex(to 0)", [](auto& x, const auto&) { x.setChainIndex(0); },
       {{setSec, 1},
        {setSec + "/SealCkksCiphertext::multiplyByOneWithScale", 1},
        {setSec + "/SEAL::encode", 1},
        {setSec + "/SealCkksCipher::multiplyPlainRaw", 1},
        {setSec + "/SEAL::mod_switch_to", 1},
        {setSec + "/SEAL::rescaleRaw", 1}}},
      {"clone", [](auto& x, const auto&) { x.clone(); }, {{"SealCkksCipher::doClone", 1}}},
      {"save", [](auto& x, const auto&) { std::ostringstream out; x.save(out); },
       {{"SealCkksCipher::save", 1}}},
      {"isTransparent", [](auto& x, const auto&) { EXPECT_FALSE(x.isTransparent()); },
       {{"SealCkksCiphertext::isTransparent", 1}}},
      {"addScalar(double)", [](auto& x, const auto&) { x.addScalar(0.5); },
       {{"AbstractCiphertext::addScalar(double)", 1},
        {"AbstractCiphertext::addScalar(double)/SEAL::encode", 1},
        {"AbstractCiphertext::addScalar(double)/SealCkksCipher::addPlain", 1},
        {"AbstractCiphertext::addScalar(double)/SealCkksCipher::addPlain/"
         "SealCkksCipher::addPlainRaw",
         1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto x = encrypt(he, a, DEPTH);
    auto y = encrypt(he, b, DEPTH);
    EXPECT_EQ(recorded(c.name, [&] { c.run(*x, *y); }), c.expected);
  }

  // Steps that need a prepared operand.
  auto x = encrypt(he, a, DEPTH);
  auto y = encrypt(he, b, DEPTH);
  x->multiplyRaw(*y);
  EXPECT_EQ(recorded("relinearize", [&] { x->relinearize(); }),
            (Expected{{"SEAL::relinearize", 1}}));
  std::stringstream blob;
  y->save(blob);
  SealCkksCiphertext z(he);
  EXPECT_EQ(recorded("load", [&] { z.load(blob); }), (Expected{{"SealCkksCipher::load", 1}}));

  // Without accurate scaling, lowering the chain index only drops primes.
  auto w = encrypt(nominal(), a, DEPTH);
  EXPECT_EQ(recorded("nominal setChainIndex", [&] { w->setChainIndex(1); }),
            (Expected{{setSec, 1}, {setSec + "/SEAL::mod_switch_to", 1}}));

  // The encoder's four leaves.
  SealCkksPlaintext p(he);
  SealCkksCiphertext c(he);
  EXPECT_EQ(recorded("encode", [&] { enc.encode(p, 2, 1); }), (Expected{{"SEAL::encode", 1}}));
  EXPECT_EQ(recorded("decode", [&] { enc.decodeDouble(p); }), (Expected{{"SEAL::decode", 1}}));
  EXPECT_EQ(recorded("encrypt", [&] { enc.encrypt(c, p); }), (Expected{{"SEAL::encrypt", 1}}));
  EXPECT_EQ(recorded("decrypt", [&] { enc.decrypt(p, c); }), (Expected{{"SEAL::decrypt", 1}}));

  // The content print records its leaf and nothing else.
  PrintOptionsGuard guard;
  getPrintOptions().printEncryptedContent = true;
  std::ostringstream out;
  EXPECT_EQ(recorded("debugPrint", [&] { c.debugPrint("", VERBOSITY_REGULAR, out); }),
            (Expected{{"SealCkksCiphertext::debugPrint", 1}}));
}

TEST(SealCkksTimings, CustomRotationRecordsOneSealRotationPerStep)
{
  auto he = makeContext(true, CUSTOM_ROTATIONS, {4, 16});
  CVec a = randomComplex(3, SLOTS);
  for (int n : {4, 24, -12}) {
    SCOPED_TRACE(n);
    std::vector<int> steps;
    ASSERT_TRUE(he->decomposeRotation(n, steps));
    auto x = encrypt(*he, a, DEPTH);
    auto rec = recorded("custom rotate " + std::to_string(n), [&] { x->rotate(n); });
    EXPECT_EQ(rec.at("SealCkksCipher::rotate"), 1);
    EXPECT_EQ(rec.at("SEAL::rotate"), static_cast<int64_t>(steps.size()));
    CVec expected(SLOTS);
    for (int i = 0; i < SLOTS; ++i)
      expected[i] = a[((i + n) % SLOTS + SLOTS) % SLOTS];
    EXPECT_LT(maxError(decrypt(*x), expected), BOUND);
  }

  // Refused rotations reach no SEAL rotation and leave the data alone.
  auto y = encrypt(*he, a, DEPTH);
  auto refused = recorded("undecomposable rotate", [&] { EXPECT_ANY_THROW(y->rotate(2)); });
  EXPECT_EQ(refused, (std::map<std::string, int64_t>{{"SealCkksCipher::rotate", 1}}));
  EXPECT_LT(maxError(decrypt(*y), a), BOUND);
  auto none = makeContext(true, NO_ROTATIONS);
  auto z = encrypt(*none, a, DEPTH);
  refused = recorded("no rotations", [&] { EXPECT_ANY_THROW(z->rotate(1)); });
  EXPECT_EQ(refused, (std::map<std::string, int64_t>{{"SealCkksCipher::rotate", 1}}));
}

// ------------------------------------------------- scales and chain indexes

TEST(SealCkksScaleBookkeeping, RawOperationsAndRescaleRaw)
{
  for (const SealCkksContext* he : {&accurate(), &nominal()}) {
    SCOPED_TRACE(he->getUseAccurateScaling() ? "accurate" : "nominal");
    CVec a = randomComplex(4, SLOTS);
    CVec b = randomComplex(5, SLOTS);
    std::vector<uint64_t> chain = *he->getModulusChain();

    auto x = encrypt(*he, a, DEPTH);
    auto y = encrypt(*he, b, DEPTH);
    double s = x->getScale();
    x->multiplyRaw(*y);
    EXPECT_EQ(x->getSealCiphertext().size(), 3u);
    EXPECT_EQ(x->getChainIndex(), DEPTH);
    EXPECT_EQ(x->getScale(), s * y->getScale());
    x->relinearize();
    EXPECT_EQ(x->getSealCiphertext().size(), 2u);
    double beforeRescale = x->getScale();
    x->rescaleRaw();
    EXPECT_EQ(x->getChainIndex(), DEPTH - 1);
    // The raw rescale divides by the exact prime.
    EXPECT_EQ(x->getScale(), beforeRescale / static_cast<double>(chain[DEPTH]));
    CVec expected(SLOTS);
    for (int i = 0; i < SLOTS; ++i)
      expected[i] = a[i] * b[i];
    EXPECT_LT(maxError(decrypt(*x), expected), BOUND);

    auto z = encrypt(*he, a, 2);
    double sz = z->getScale();
    z->squareRaw();
    EXPECT_EQ(z->getSealCiphertext().size(), 3u);
    EXPECT_EQ(z->getScale(), sz * sz);
    EXPECT_EQ(z->getChainIndex(), 2);

    SealCkksEncoder enc(*he);
    enc.setDefaultScale(std::ldexp(1.0, 20));
    SealCkksPlaintext p(*he);
    enc.encode(p, b, 2);
    auto u = encrypt(*he, a, 2);
    double su = u->getScale();
    u->multiplyPlainRaw(p);
    EXPECT_EQ(u->getScale(), su * std::ldexp(1.0, 20));
    EXPECT_EQ(u->getChainIndex(), 2);
    // The plaintext carries only 20 fractional bits.
    EXPECT_LT(maxError(decrypt(*u), expected), std::ldexp(1.0, -10));
  }
}

TEST(SealCkksScaleBookkeeping, MultiplyScalarOneChangesNothing)
{
  auto x = encrypt(accurate(), randomComplex(6, SLOTS), 2);
  std::vector<uint64_t> before(x->getSealCiphertext().data(),
                               x->getSealCiphertext().data() +
                                   x->getSealCiphertext().dyn_array().size());
  double scale = x->getScale();
  x->multiplyScalar(1);
  EXPECT_EQ(x->getScale(), scale);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), x->getSealCiphertext().data()));
}

TEST(SealCkksScaleBookkeeping, SmallIntegerFactorsKeepScaleAndChainIndex)
{
  CVec a = randomComplex(7, SLOTS);
  for (int n : {-4, -3, -2, 2, 4, 5, 6}) {
    SCOPED_TRACE(n);
    auto x = encrypt(accurate(), a, 2);
    double scale = x->getScale();
    x->multiplyScalar(n);
    EXPECT_EQ(x->getScale(), scale);
    EXPECT_EQ(x->getChainIndex(), 2);
    CVec expected(SLOTS);
    for (int i = 0; i < SLOTS; ++i)
      expected[i] = static_cast<double>(n) * a[i];
    EXPECT_LT(maxError(decrypt(*x), expected), 8 * BOUND);
  }
}

TEST(SealCkksScaleBookkeeping, PlaintextFollowingTheTableLandsOnTheTargetScale)
{
  // Encoded at the accurate scale of its chain index, the plaintext is
  // re-encoded when lowered, so it ends on the accurate scale of the target.
  const SealCkksContext& he = accurate();
  SealCkksEncoder enc(he);
  CVec a = randomComplex(8, SLOTS);
  for (int to = 0; to < DEPTH; ++to) {
    SealCkksPlaintext p(he);
    enc.encode(p, a, DEPTH);
    p.setChainIndex(to);
    EXPECT_EQ(p.getChainIndex(), to);
    EXPECT_EQ(p.getScale(), he.getAccurateScale(to));
    EXPECT_LT(maxError(enc.decodeComplex(p), a), BOUND);
  }
}

// --------------------------------------------------- refusals passed through

TEST(SealCkksPassThrough, SealRefusalsKeepTheirMessages)
{
  const SealCkksContext& he = accurate();
  CVec a = randomComplex(9, SLOTS);
  SealCkksEncoder enc(he);

  // Scales that are not close: SEAL refuses the addition.
  auto x = encrypt(he, a, DEPTH);
  auto y = encrypt(he, a, DEPTH);
  y->setScale(y->getScale() * 2);
  expectThrowWithMessage<std::invalid_argument>([&] { x->add(*y); }, "scale mismatch");

  // The backend takes operands as they come: different levels are refused.
  auto low = encrypt(he, a, 1);
  expectThrowWithMessage<std::invalid_argument>([&] { x->addRaw(*low); },
                                                "encrypted1 and encrypted2 parameter mismatch");

  SealCkksPlaintext p(he);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { enc.encode(p, std::vector<double>{0.5, 1e60}, DEPTH); },
      "encoded values are too large");
  expectThrowWithMessage<std::invalid_argument>(
      [&] { enc.encode(p, CVec{Complex(0.5, 1e60)}, DEPTH); }, "encoded values are too large");
  SealCkksEncoder big(he);
  big.setDefaultScale(std::ldexp(1.0, 60));
  expectThrowWithMessage<std::invalid_argument>([&] { big.encode(p, 1.0, 0); },
                                                "scale out of bounds");

  auto bottom = encrypt(he, a, 0);
  expectThrowWithMessage<std::invalid_argument>([&] { bottom->rescale(); },
                                                "end of modulus switching chain reached");
}

// Objects of other parameters are refused with SEAL's own text, whether SEAL's
// validity check refuses them or they are too large for this context (which
// is found before they are decompressed or allocated).
TEST(SealCkksPassThrough, ObjectsOfOtherParametersAreRefusedOnLoad)
{
  SealCkksEncoder enc(accurate());
  auto otherPrimes = std::make_shared<SealCkksContext>();
  otherPrimes->init(HeConfigRequirement::insecure(SLOTS, 2, FRAC - 5, 10));
  auto lower = std::make_shared<SealCkksContext>();
  lower->init(HeConfigRequirement::insecure(SLOTS, 2, FRAC, 10));
  auto smaller = std::make_shared<SealCkksContext>();
  smaller->init(HeConfigRequirement::insecure(SLOTS / 2, 0, FRAC, 10));
  struct Case
  {
    const char* name;
    const SealCkksContext* target;
    int chainIndex;
  };
  // Within this context's sizes; more primes than any plaintext of the
  // target holds (its compressed data expands too far); a larger degree.
  for (const Case& c : {Case{"other primes", otherPrimes.get(), 1},
                        Case{"lower depth", lower.get(), DEPTH},
                        Case{"smaller degree", smaller.get(), DEPTH}}) {
    SCOPED_TRACE(c.name);
    SealCkksPlaintext p(accurate());
    enc.encode(p, 0.5, c.chainIndex);
    std::stringstream blob;
    p.save(blob);
    SealCkksPlaintext q(*c.target);
    expectThrowWithMessage<std::logic_error>([&] { q.load(blob); }, "Plaintext data is invalid");
    EXPECT_TRUE(q.isEmpty());
  }

  // A product of three polynomials declares more bytes than any ciphertext of
  // the smaller context; a fresh one fits its sizes.
  for (bool product : {false, true}) {
    SCOPED_TRACE(product);
    auto x = encrypt(accurate(), randomComplex(3, SLOTS), DEPTH);
    if (product)
      x->multiplyRaw(*x);
    std::stringstream blob;
    x->save(blob);
    SealCkksCiphertext y(*smaller);
    expectThrowWithMessage<std::logic_error>([&] { y.load(blob); }, "ciphertext data is invalid");
    EXPECT_TRUE(y.isEmpty());
  }
}

// ----------------------------------------------------- transparent results

TEST(SealCkksTransparency, TileOperationsReplaceTransparentResults)
{
  const SealCkksContext& he = accurate();
  Encoder enc(he);
  CVec a = randomComplex(10, SLOTS);
  PTile zero(he);
  enc.encode(zero, 0.0, DEPTH);

  struct Case
  {
    std::string name;
    std::function<void(CTile&)> run;
    int chainIndex;
  };
  std::vector<Case> cases = {
      {"subRaw of itself", [](CTile& x) { x.subRaw(x); }, DEPTH},
      {"add of two zeros",
       [](CTile& x) {
         CTile y(x);
         x.multiplyScalar(0);
         y.multiplyScalar(0);
         x.add(y);
       },
       DEPTH},
      {"addRaw of two zeros",
       [](CTile& x) {
         x.multiplyScalar(0);
         CTile y(x);
         x.addRaw(y);
       },
       DEPTH},
      {"addPlainRaw of zero to zero",
       [&](CTile& x) {
         x.multiplyScalar(0);
         x.addPlainRaw(zero);
       },
       DEPTH},
      {"multiplyPlain by zero", [&](CTile& x) { x.multiplyPlain(zero); }, DEPTH - 1},
      {"multiplyPlainRaw by zero", [&](CTile& x) { x.multiplyPlainRaw(zero); }, DEPTH},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTile x(he);
    enc.encodeEncrypt(x, a, DEPTH);
    c.run(x);
    auto& impl = dynamic_cast<SealCkksCiphertext&>(x.getImpl());
    EXPECT_FALSE(impl.isTransparent());
    EXPECT_EQ(impl.getSealCiphertext().size(), 2u);
    EXPECT_EQ(x.getChainIndex(), c.chainIndex);
    EXPECT_LT(maxError(enc.decryptDecodeComplex(x), CVec(SLOTS)), BOUND);
  }

  // A product by the integer 0 stays transparent, at its scale and chain index.
  CTile x(he);
  enc.encodeEncrypt(x, a, 2);
  double scale = x.getScale();
  x.multiplyScalar(0);
  EXPECT_TRUE(dynamic_cast<SealCkksCiphertext&>(x.getImpl()).isTransparent());
  EXPECT_EQ(x.getChainIndex(), 2);
  EXPECT_EQ(x.getScale(), scale);
}

// ------------------------------------------------------------- print layout

TEST(SealCkksPrintLayout, ContentFormLimits)
{
  PrintOptionsGuard guard;
  auto x = encrypt(accurate(), randomComplex(11, SLOTS), 0);
  const seal::Ciphertext& sc = x->getSealCiphertext();
  size_t count = sc.dyn_array().size();
  auto word = [&](size_t i) { return std::to_string(static_cast<uint32_t>(sc.data()[i])); };
  getPrintOptions().printEncryptedContent = true;

  // All words when every element is to be printed.
  getPrintOptions().numPrintedElements = -1;
  {
    std::string expected = "CIPHERTEXT [[";
    for (size_t i = 0; i < count; ++i)
      expected += (i > 0 ? "," : "") + word(i);
    expected += "] ]";
    std::ostringstream out;
    x->debugPrint("t", VERBOSITY_DETAILED, out);
    EXPECT_EQ(out.str(), expected);
  }
  // No leading words: the gap, then the last ones.
  getPrintOptions().numPrintedElements = 0;
  getPrintOptions().numPrintedLastElements = 2;
  {
    std::ostringstream out;
    x->debugPrint("t", VERBOSITY_LOW, out);
    EXPECT_EQ(out.str(), "CIPHERTEXT [[ ...  " + word(count - 2) + " " + word(count - 1) + "] ]");
  }
  // The trailing words overlap the leading ones: no gap.
  getPrintOptions().numPrintedElements = static_cast<int>(count) - 1;
  getPrintOptions().numPrintedLastElements = 5;
  {
    std::string expected = "CIPHERTEXT [[";
    for (size_t i = 0; i + 1 < count; ++i)
      expected += (i > 0 ? "," : "") + word(i);
    expected += " " + word(count - 1) + "] ]";
    std::ostringstream out;
    x->debugPrint("t", VERBOSITY_REGULAR, out);
    EXPECT_EQ(out.str(), expected);
  }
}

TEST(SealCkksPrintLayout, DetailedCiphertextHeader)
{
  PrintOptionsGuard guard;
  getPrintOptions().factor = 2.0;
  const SealCkksContext& he = accurate();
  CVec values(SLOTS, Complex(0.5, -0.25));
  values[0] = Complex(-0.75, 0.125);
  auto x = encrypt(he, values, 2);
  CVec decrypted = decrypt(*x);
  double maxValue = 0;
  for (const auto& v : decrypted)
    maxValue = std::max(maxValue, std::abs(v));
  double scale = x->getScale();

  std::ostringstream expected;
  PrintUtils::printTitleWithSeparators(expected, "SEAL-CKKS Ciphertext", "t");
  expected << "chain index         : 2\n"
           << "max value           : " << maxValue << "\n"
           << "bit usage           : " << std::log2(scale * maxValue) << "\n"
           << "slots               : 1024\n"
           << "size (polys)        : 2\n"
           << "scale               : " << scale << " = 2^" << std::log(scale) / std::log(2.0)
           << "\n"
           << "poly_modulus_degree_: 2048\n"
           << "coeff_modulus_size_ : 3\n"
           << "is_ntt_form         : 1\n"
           << "data_               : size=12288 capacity=2\n";
  PrintUtils::printComplexVector(expected, decrypted);
  expected << "\n";
  PrintUtils::printFactoredComplexVector(expected, decrypted, 2.0);
  expected << "\n";
  // Then the print of the decrypted plaintext, titled after the ciphertext.
  SealCkksPlaintext plain(he);
  SealCkksEncoder(he).decrypt(plain, *x);
  plain.debugPrint("t: plaintext", VERBOSITY_DETAILED, expected);
  PrintUtils::printSeparator(expected);

  std::ostringstream out;
  x->debugPrint("t", VERBOSITY_DETAILED, out);
  EXPECT_EQ(out.str(), expected.str());
}

TEST(SealCkksPrintLayout, ExtraDetailedCiphertextPolynomials)
{
  PrintOptionsGuard guard;
  getPrintOptions().numPrintedElements = 2;
  auto x = encrypt(accurate(), randomComplex(12, SLOTS), 1);
  const seal::Ciphertext& sc = x->getSealCiphertext();
  const size_t n = 2048;
  auto coefLine = [&](size_t poly, size_t j) {
    std::string line = "coef[" + std::to_string(j) + "]=";
    for (size_t r = 0; r < 2; ++r)
      line += " " + std::to_string(sc.data(poly)[r * n + j]);
    return line + "\n";
  };
  std::string block = "ciphertext polynomials: \n";
  for (size_t poly = 0; poly < 2; ++poly) {
    block += "Poly[" + std::to_string(poly) + "]:\n";
    block += coefLine(poly, 0) + coefLine(poly, 1) + ":\n" + coefLine(poly, n - 1) + "\n";
  }
  std::ostringstream out;
  x->debugPrint("t", VERBOSITY_EXTRA_DETAILED, out);
  std::string text = out.str();
  size_t at = text.find(block);
  ASSERT_NE(at, std::string::npos) << text.substr(0, 2000);
  // The block comes right before the plaintext print.
  std::ostringstream plainTitle;
  PrintUtils::printTitleWithSeparators(plainTitle, "SEAL-CKKS Plaintext", "t: plaintext");
  EXPECT_EQ(text.substr(at + block.size(), plainTitle.str().size()), plainTitle.str());
  // Not at the lower verbosity.
  std::ostringstream detailed;
  x->debugPrint("t", VERBOSITY_DETAILED, detailed);
  EXPECT_EQ(detailed.str().find("ciphertext polynomials"), std::string::npos);
}

TEST(SealCkksPrintLayout, DetailedPlaintextHeader)
{
  PrintOptionsGuard guard;
  const SealCkksContext& he = accurate();
  SealCkksEncoder enc(he);
  SealCkksPlaintext p(he);
  enc.encode(p, std::vector<double>{0.5, -1.5, 0.25}, 2);
  CVec values = enc.decodeComplex(p);
  double maxValue = 0;
  for (const auto& v : values)
    maxValue = std::max(maxValue, std::abs(v));
  double scale = p.getScale();

  for (Verbosity v : {VERBOSITY_DETAILED, VERBOSITY_EXTRA_DETAILED}) {
    SCOPED_TRACE(v);
    std::ostringstream expected;
    PrintUtils::printTitleWithSeparators(expected, "SEAL-CKKS Plaintext", "p");
    expected << "chain index        : 2\n"
             << "max value          : " << maxValue << "\n"
             << "bit usage          : " << std::log2(maxValue * scale) << "\n"
             << "scale              : " << scale << "=2^" << std::log2(scale) << "\n"
             << "slots              : 1024\n";
    if (v == VERBOSITY_EXTRA_DETAILED)
      expected << "is_ntt_form : 1\n"
               << "coeff_count        : 6144\n"
               << "data_.size         : 6144\n";
    PrintUtils::printComplexVector(expected, values);
    expected << "\n";
    he.debugPrint("", v, expected);
    expected << "max  coef                    : ";

    std::ostringstream out;
    p.debugPrint("p", v, out);
    EXPECT_EQ(out.str().substr(0, expected.str().size()), expected.str());
    // The print ends with the composed coefficients and a separator.
    std::ostringstream separator;
    PrintUtils::printSeparator(separator);
    const std::string& text = out.str();
    ASSERT_GE(text.size(), separator.str().size());
    EXPECT_EQ(text.substr(text.size() - separator.str().size()), separator.str());
    EXPECT_NE(text.find("coefsCRT:\n"), std::string::npos);
    EXPECT_EQ(text.find("coefs (post-NTT):") != std::string::npos,
              v == VERBOSITY_EXTRA_DETAILED);
    EXPECT_EQ(text.find("post remod coefs:") != std::string::npos,
              v == VERBOSITY_EXTRA_DETAILED);
  }
}

TEST(SealCkksPassThrough, CorruptBlobsFailWithSealsFormatErrors)
{
  const SealCkksContext& he = accurate();
  auto x = encrypt(he, randomComplex(13, SLOTS), 1);
  std::ostringstream cipherOut;
  x->save(cipherOut);
  SealCkksEncoder enc(he);
  SealCkksPlaintext p(he);
  enc.encode(p, 0.5, 1);
  std::ostringstream plainOut;
  p.save(plainOut);

  struct Case
  {
    size_t offset;
    char value;
    std::string message;
  };
  // SEAL's header: magic (2 bytes), header size, major and minor version,
  // compression mode (an unknown mode makes the header invalid).
  for (const Case& c : std::vector<Case>{{0, 0x11, "loaded SEALHeader is invalid"},
                                         {3, 0x09, "incompatible version"},
                                         {5, 0x07, "loaded SEALHeader is invalid"}}) {
    SCOPED_TRACE(c.message);
    std::string cipherBytes = cipherOut.str();
    cipherBytes[c.offset] = c.value;
    std::istringstream cipherIn(cipherBytes);
    SealCkksCiphertext y(he);
    expectThrowWithMessage<std::logic_error>([&] { y.load(cipherIn); }, c.message);
    EXPECT_TRUE(y.isEmpty());

    std::string plainBytes = plainOut.str();
    plainBytes[c.offset] = c.value;
    std::istringstream plainIn(plainBytes);
    SealCkksPlaintext q(he);
    expectThrowWithMessage<std::logic_error>([&] { q.load(plainIn); }, c.message);
    EXPECT_TRUE(q.isEmpty());
  }
}

TEST(SealCkksPassThrough, EncryptingAForeignPlaintextIsRefused)
{
  auto other = std::make_shared<SealCkksContext>();
  other->init(HeConfigRequirement::insecure(SLOTS, 2, FRAC, 10));
  SealCkksEncoder otherEnc(*other);
  SealCkksPlaintext p(*other);
  otherEnc.encode(p, 0.5, 1);
  SealCkksEncoder enc(accurate());
  SealCkksCiphertext c(accurate());
  expectThrowWithMessage<std::invalid_argument>([&] { enc.encrypt(c, p); },
                                                "plain is not valid for encryption parameters");
}
