// Non-finite values on backends that cannot hold them, and scales that are
// not finite and positive.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/seal/SealCkksCiphertext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealCkksEncoder.h"
#include "hebase/seal/SealCkksPlaintext.h"

using namespace quorvane;
using namespace qvtest;

namespace {

typedef std::complex<double> cx;

constexpr int SLOTS = 256;
const double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();

const SealCkksContext& sealContext()
{
  static std::shared_ptr<SealCkksContext> he = [] {
    auto c = std::make_shared<SealCkksContext>();
    c->init(HeConfigRequirement::insecure(SLOTS, 2, 30, 10));
    return c;
  }();
  return *he;
}

const HeContext& mock()
{
  static std::shared_ptr<HeContext> he = mockupContext(SLOTS, 2);
  return *he;
}

std::string valueMessage(const std::string& value, const std::string& where)
{
  return "Cannot encode the non-finite value " + value + where +
         ": only finite values can be encoded";
}

std::string scaleMessage(const std::string& value)
{
  return "The scale must be finite and positive, but it is " + value;
}

/// Runs set; when it throws, checks that get gives what it gave before, and rethrows.
template <typename Get, typename Set>
void setOrKeep(Get get, Set set)
{
  double before = get();
  try {
    set();
  } catch (...) {
    EXPECT_EQ(get(), before);
    throw;
  }
}

} // namespace

TEST(NonFiniteValues, SealEncodersRefuseThem)
{
  struct Case
  {
    const char* name;
    std::function<void(const Encoder&, PTile&)> encode;
    std::function<void(const Encoder&, CTile&)> encodeEncrypt;
    std::string message;
  };
  std::vector<Case> cases = {
      {"NaN in a real vector",
       [](const Encoder& e, PTile& p) { e.encode(p, std::vector<double>{1, 2, NAN_VALUE}); },
       [](const Encoder& e, CTile& c) { e.encodeEncrypt(c, std::vector<double>{1, 2, NAN_VALUE}); },
       valueMessage("nan", " at index 2")},
      {"infinity in a real vector",
       [](const Encoder& e, PTile& p) { e.encode(p, std::vector<double>{INF}); },
       [](const Encoder& e, CTile& c) { e.encodeEncrypt(c, std::vector<double>{INF}); },
       valueMessage("inf", " at index 0")},
      {"infinite imaginary part",
       [](const Encoder& e, PTile& p) { e.encode(p, std::vector<cx>{cx(1, 1), cx(0, -INF)}); },
       [](const Encoder& e, CTile& c) {
         e.encodeEncrypt(c, std::vector<cx>{cx(1, 1), cx(0, -INF)});
       },
       valueMessage("(0,-inf)", " at index 1")},
      {"NaN real part", [](const Encoder& e, PTile& p) { e.encode(p, std::vector<cx>{cx(NAN_VALUE, 0)}); },
       [](const Encoder& e, CTile& c) { e.encodeEncrypt(c, std::vector<cx>{cx(NAN_VALUE, 0)}); },
       valueMessage("(nan,0)", " at index 0")},
      {"NaN scalar", [](const Encoder& e, PTile& p) { e.encode(p, NAN_VALUE); },
       [](const Encoder& e, CTile& c) { e.encodeEncrypt(c, NAN_VALUE); }, valueMessage("nan", "")},
      {"negative infinite scalar", [](const Encoder& e, PTile& p) { e.encode(p, -INF); },
       [](const Encoder& e, CTile& c) { e.encodeEncrypt(c, -INF); }, valueMessage("-inf", "")},
  };
  Encoder encoder(sealContext());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PTile p(sealContext());
    encoder.encode(p, std::vector<double>{5, 6});
    expectThrowWithMessage<std::invalid_argument>([&] { c.encode(encoder, p); }, c.message);
    std::vector<double> kept = encoder.decodeDouble(p);
    EXPECT_NEAR(kept[0], 5, 1e-4);
    EXPECT_NEAR(kept[1], 6, 1e-4);
    CTile x(sealContext());
    expectThrowWithMessage<std::invalid_argument>([&] { c.encodeEncrypt(encoder, x); },
                                                  c.message);
    EXPECT_TRUE(x.isEmpty());
  }
  // Scalar products and sums encode their scalar the same way.
  CTile x(sealContext());
  encoder.encodeEncrypt(x, 1.0);
  expectThrowWithMessage<std::invalid_argument>([&] { x.multiplyScalar(NAN_VALUE); },
                                                valueMessage("nan", ""));
  expectThrowWithMessage<std::invalid_argument>([&] { x.addScalar(INF); },
                                                valueMessage("inf", ""));
  EXPECT_NEAR(encoder.decryptDecodeDouble(x)[0], 1.0, 1e-4);
  EXPECT_EQ(x.getChainIndex(), sealContext().getTopChainIndex());
}

TEST(NonFiniteValues, MockupKeepsThemAsNumbersDo)
{
  Encoder encoder(mock());
  CTile x(mock());
  encoder.encodeEncrypt(x, std::vector<cx>{cx(NAN_VALUE, 1), cx(INF, 0), cx(2, 0)});
  x.multiplyScalar(2);
  std::vector<cx> values = encoder.decryptDecodeComplex(x);
  EXPECT_TRUE(std::isnan(values[0].real()));
  EXPECT_EQ(values[0].imag(), 2);
  EXPECT_EQ(values[1].real(), INF);
  EXPECT_EQ(values[2].real(), 4);
}

TEST(Scales, EverySetterRefusesScalesThatAreNotFiniteAndPositive)
{
  struct Setter
  {
    const char* name;
    std::function<void(const HeContext&, double)> set;
  };
  // Each setter sets the scale of a fresh object and checks that a refusal
  // leaves the old scale.
  std::vector<Setter> setters = {
      {"CTile::setScale",
       [](const HeContext& he, double s) {
         CTile c(he);
         Encoder(he).encodeEncrypt(c, 1.0);
         setOrKeep([&] { return c.getScale(); }, [&] { c.setScale(s); });
       }},
      {"PTile::setScale",
       [](const HeContext& he, double s) {
         PTile p(he);
         Encoder(he).encode(p, 1.0);
         setOrKeep([&] { return p.getScale(); }, [&] { p.setScale(s); });
       }},
      {"Encoder::setDefaultScale",
       [](const HeContext& he, double s) {
         Encoder encoder(he);
         setOrKeep([&] { return encoder.getDefaultScale(-1); },
                   [&] { encoder.setDefaultScale(s); });
       }},
      {"HeContext::setDefaultScale",
       [](const HeContext& he, double s) {
         std::shared_ptr<HeContext> copy = loadContext(saved(he));
         setOrKeep([&] { return copy->getDefaultScale(); }, [&] { copy->setDefaultScale(s); });
       }},
  };
  struct Bad
  {
    double scale;
    std::string text;
  };
  std::vector<Bad> bad = {{NAN_VALUE, "nan"}, {INF, "inf"}, {-INF, "-inf"},
                          {0.0, "0"},         {-2.5, "-2.5"}};
  for (const HeContext* he : {static_cast<const HeContext*>(&sealContext()), &mock()}) {
    for (const Setter& setter : setters) {
      for (const Bad& b : bad) {
        SCOPED_TRACE(he->getRegistryKey() + " " + setter.name + " " + b.text);
        expectThrowWithMessage<std::invalid_argument>([&] { setter.set(*he, b.scale); },
                                                      scaleMessage(b.text));
      }
      // -1 is refused except by encoders, where it means "no scale of its own".
      SCOPED_TRACE(he->getRegistryKey() + " " + setter.name + " -1");
      if (std::string(setter.name) == "Encoder::setDefaultScale")
        EXPECT_NO_THROW(setter.set(*he, -1.0));
      else
        expectThrowWithMessage<std::invalid_argument>([&] { setter.set(*he, -1.0); },
                                                      scaleMessage("-1"));
      EXPECT_NO_THROW(setter.set(*he, 1e-300));
    }
  }
}

TEST(Scales, SealObjectsRefuseThemAtTheBackend)
{
  SealCkksEncoder encoder(sealContext());
  expectThrowWithMessage<std::invalid_argument>([&] { encoder.setDefaultScale(NAN_VALUE); },
                                                scaleMessage("nan"));
  encoder.setDefaultScale(-1.0);
  EXPECT_EQ(encoder.getDefaultScale(0), sealContext().getAccurateScale(0));

  SealCkksPlaintext p(sealContext());
  encoder.encode(p, 1.0, 1);
  expectThrowWithMessage<std::invalid_argument>([&] { p.setScale(0.0); }, scaleMessage("0"));
  EXPECT_EQ(p.getScale(), sealContext().getAccurateScale(1));

  CTile x(sealContext());
  Encoder(sealContext()).encodeEncrypt(x, 3.0);
  double scale = x.getScale();
  // Changing the scale by a factor of 0 or -1 would leave no valid scale.
  expectThrowWithMessage<std::invalid_argument>([&] { x.multiplyByChangingScale(0.0); },
                                                scaleMessage("inf"));
  std::ostringstream negated;
  negated << -scale;
  expectThrowWithMessage<std::invalid_argument>([&] { x.multiplyByChangingScale(-1.0); },
                                                scaleMessage(negated.str()));
  EXPECT_EQ(x.getScale(), scale);
  x.multiplyByChangingScale(2.0);
  EXPECT_NEAR(Encoder(sealContext()).decryptDecodeDouble(x)[0], 6.0, 1e-3);
}
