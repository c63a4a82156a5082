#include "math/aes/impl/NumbersExtractor.h"

#include <cmath>
#include <stdexcept>

#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/NumberConfig.h"
#include "hebase/utils/Assert.h"
#include "math/LeveledCTileReducer.h"

namespace quorvane {

namespace {

using Bits = std::vector<std::shared_ptr<CTile>>;

int minChainIndexForBootstrapping(const CTile& bit)
{
  return bit.getHeContext().getMinChainIndexForBootstrapping();
}

/// Bits from up to, not including, to.
Bits slice(const Bits& bits, size_t from, size_t to)
{
  return Bits(bits.begin() + from, bits.begin() + to);
}

} // namespace

std::vector<std::shared_ptr<CTile>> NumbersExtractor::extract(const Bits& bits,
                                                              const NumberConfig& numberConfig)
{
  const size_t bitsPerVal = static_cast<size_t>(numberConfig.getNumBits());
  QV_ASSERT(bits.size() % bitsPerVal == 0);
  for (const std::shared_ptr<CTile>& bit : bits)
    QV_ASSERT(bit != nullptr);
  Bits res;
  res.reserve(bits.size() / bitsPerVal);
  for (size_t v = 0; v < bits.size() / bitsPerVal; ++v) {
    const Bits field = slice(bits, v * bitsPerVal, (v + 1) * bitsPerVal);
    if (numberConfig.isBit())
      res.push_back(extractBit(field));
    else if (numberConfig.isInteger())
      res.push_back(extractFixedPoint(field, numberConfig.isSigned(), 0));
    else if (numberConfig.isFixedPoint())
      res.push_back(extractFixedPoint(field, numberConfig.isSigned(),
                                      static_cast<size_t>(numberConfig.getFractionalPartBits())));
    else if (numberConfig.isFloatingPoint())
      res.push_back(extractFloat(field));
    else
      throw std::runtime_error("Unknown or unsupported number configuration");
  }
  return res;
}

std::shared_ptr<CTile> NumbersExtractor::extractBit(const Bits& bits)
{
  QV_ASSERT(bits.size() == 1);
  return bits[0];
}

std::shared_ptr<CTile> NumbersExtractor::extractFixedPoint(const Bits& bits, bool isSigned,
                                                           size_t fractionBits)
{
  QV_ASSERT(bits.size() <= 32);
  bootstrapIfNeeded(bits, isSigned ? 4 : 2);
  const int f = static_cast<int>(fractionBits);
  if (!isSigned)
    return getNumberFromBits(bits, false, f, true);

  // Two's complement: the magnitude bits when the sign bit s is 0, minus
  // (inverted magnitude bits + 1) when it is 1; each branch is selected by
  // multiplying twice with its condition.
  const CTile& s = *bits.back();
  const Bits mag = slice(bits, 0, bits.size() - 1);
  std::shared_ptr<CTile> pos = getNumberFromBits(mag, false, f, true);
  std::shared_ptr<CTile> ns = notBit(s);
  pos->multiply(*ns);
  pos->multiply(*ns);
  std::shared_ptr<CTile> neg = getNumberFromBits(mag, true, f, true);
  neg->negate();
  neg->multiply(s);
  neg->multiply(s);
  pos->add(*neg);
  return pos;
}

std::shared_ptr<CTile> NumbersExtractor::extractFloat(const Bits& bits)
{
  const size_t numBits = bits.size();
  QV_ASSERT(numBits == 16 || numBits == 32);
  const size_t fracBits = numBits == 16 ? 10 : 23;
  const int m = minChainIndexForBootstrapping(*bits[0]);

  // +1 or -1.
  auto sign = std::make_shared<CTile>(*bits.back());
  sign->multiplyScalar(-2);
  sign->addScalar(1);
  const int signLevels = sign->getChainIndex() - m;
  if (signLevels == 0 || signLevels == 1)
    sign->bootstrap();

  const Bits frac = slice(bits, 0, fracBits);
  bootstrapIfNeeded(frac, 3);
  std::shared_ptr<CTile> significand = extractFloatFrac(frac);

  const Bits exponentBits = slice(bits, fracBits, numBits - 1);
  bootstrapIfNeeded(exponentBits, 5);
  const CTile exponent =
      numBits == 16 ? extractFloat16Exp(exponentBits) : extractFloat32Exp(exponentBits);

  sign->multiply(*significand);
  sign->multiply(exponent);
  return sign;
}

std::shared_ptr<CTile> NumbersExtractor::extractFloatFrac(const Bits& bits)
{
  const size_t numBits = bits.size();
  QV_ASSERT(numBits == 10 || numBits == 23);
  std::shared_ptr<CTile> res = getNumberFromBits(bits, false, static_cast<int>(numBits), false);
  res->addScalar(1);
  return res;
}

CTile NumbersExtractor::extractFloat16Exp(const Bits& bits)
{
  QV_ASSERT(bits.size() == 5);
  Bits f = getPowerFactors(bits);
  f[0]->multiply(*f[1]);
  f[2]->multiply(*f[3]);
  f[4]->multiplyScalar(std::ldexp(1.0, -15));
  f[0]->multiply(*f[2]);
  f[0]->multiply(*f[4]);

  // 1 exactly when the exponent field is 0 (a zero or subnormal number); the
  // leveled product is three multiplications deep.
  CTile allZero(bits[0]->getHeContext());
  LeveledCTileReducer reducer(allZero, &CTile::multiply);
  for (const std::shared_ptr<CTile>& bit : bits)
    reducer.push(*notBit(*bit));
  reducer.finish();
  f[0]->multiply(*notBit(allZero));
  return *f[0];
}

CTile NumbersExtractor::extractFloat32Exp(const Bits& bits)
{
  QV_ASSERT(bits.size() == 8);
  Bits f = getPowerFactors(slice(bits, 0, 5));
  std::shared_ptr<CTile> inv5 = notBit(*bits[5]);
  std::shared_ptr<CTile> inv6 = notBit(*bits[6]);
  std::shared_ptr<CTile> inv7 = notBit(*bits[7]);

  // Bits 5 to 7 reading 0, 0, 1: E from 128 to 159.
  CTile low = f[0]->getMultiply(*f[1]).getMultiply(f[2]->getMultiply(*f[3]));
  CTile high = f[4]->getMultiply(*inv5).getMultiply(inv6->getMultiply(*bits[7]));
  CTile res = low.getMultiply(high);
  res.multiplyScalar(2);

  // Bits 5 to 7 reading 1, 1, 0: E from 96 to 127.
  CTile second = f[4]->getMultiply(*bits[5]).getMultiply(bits[6]->getMultiply(*inv7));
  second.multiplyScalar(std::ldexp(1.0, -16));
  low.multiplyScalar(std::ldexp(1.0, -15));
  second.multiply(low);
  res.add(second);
  return res;
}

void NumbersExtractor::bootstrapIfNeeded(const Bits& bits, size_t levels)
{
  QV_ASSERT(!bits.empty());
  const int above = bits[0]->getChainIndex() - minChainIndexForBootstrapping(*bits[0]);
  if (above < 0 || static_cast<size_t>(above) >= levels)
    return;
  for (const std::shared_ptr<CTile>& bit : bits)
    bit->bootstrap();
}

std::shared_ptr<CTile> NumbersExtractor::getNumberFromBits(const Bits& bits, bool complement,
                                                           int fractionBits, bool multiplyByBit)
{
  QV_ASSERT(!bits.empty());
  std::shared_ptr<CTile> sum;
  for (size_t i = 0; i < bits.size(); ++i) {
    const std::shared_ptr<CTile> b = complement ? notBit(*bits[i]) : bits[i];
    auto t = std::make_shared<CTile>(*b);
    if (complement && i == 0)
      t->addScalar(1);
    const int exponent = static_cast<int>(i) - fractionBits;
    if (exponent != 0)
      t->multiplyScalar(std::ldexp(1.0, exponent));
    if (i == 0) {
      sum = t;
      continue;
    }
    if (multiplyByBit)
      t->multiply(*b);
    sum->add(*t);
  }
  return sum;
}

std::vector<std::shared_ptr<CTile>> NumbersExtractor::getPowerFactors(const Bits& bits)
{
  // 2^(2^p) - 1 must fit an int.
  QV_ASSERT(bits.size() <= 5);
  Bits res;
  for (size_t p = 0; p < bits.size(); ++p) {
    auto factor = std::make_shared<CTile>(*bits[p]);
    factor->multiplyScalar((1 << (1 << p)) - 1);
    factor->addScalar(1);
    res.push_back(factor);
  }
  return res;
}

std::shared_ptr<CTile> NumbersExtractor::notBit(const CTile& b)
{
  auto res = std::make_shared<CTile>(b);
  res->negate();
  res->addScalar(1);
  return res;
}

} // namespace quorvane
