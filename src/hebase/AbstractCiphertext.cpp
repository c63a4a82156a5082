#include "hebase/AbstractCiphertext.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <iostream>
#include <stdexcept>
#include <vector>

#include "hebase/AbstractEncoder.h"
#include "hebase/AbstractPlaintext.h"
#include "hebase/HeContext.h"
#include "hebase/utils/PrintUtils.h"
#include "hebase/utils/SectionTimer.h"

namespace quorvane {

namespace {

/// A plaintext of c's context holding value (a scalar for every slot, or a
/// vector) encoded at c's chain index by a new encoder on c's device.
template <typename T>
std::shared_ptr<AbstractPlaintext> encodeFor(const AbstractCiphertext& c, const T& value)
{
  const HeContext& he = c.getContext();
  std::shared_ptr<AbstractEncoder> encoder = he.getEncoder();
  encoder->setDefaultDevice(c.getCurrentDevice());
  std::shared_ptr<AbstractPlaintext> plain = he.createAbstractPlaintext();
  encoder->encode(*plain, value, c.getChainIndex());
  return plain;
}

double maxAbs(const std::vector<std::complex<double>>& values)
{
  double m = 0;
  for (const std::complex<double>& v : values)
    m = std::max(m, std::hypot(v.real(), v.imag()));
  return m;
}

} // namespace

AbstractCiphertext::~AbstractCiphertext() {}

void AbstractCiphertext::debugPrint(const std::string& title, Verbosity verbosity,
                                    std::ostream& out) const
{
  LeafTimer timer("AbstractCiphertext::debugPrint");
  if (verbosity == VERBOSITY_NONE)
    return;
  PrintUtils::printTitle(out, "CTile", title);
  const HeTraits& traits = he.getTraits();
  int c = 0;
  if (traits.getSupportsExplicitChainIndices()) {
    out << " CI=" << getChainIndex();
    c = 1;
  }
  if (traits.getSupportsScaledEncoding()) {
    if (c > 0)
      out << ",";
    out << " logscale=" << std::log2(getScale()) << " ";
    ++c;
  }
  if (verbosity == VERBOSITY_LOW)
    return;
  if (!he.hasSecretKey()) {
    out << " NO SECRET KEY" << std::endl;
    return;
  }
  if (he.isMultiParty()) {
    out << " MULTI KEY" << std::endl;
    return;
  }
  std::vector<std::complex<double>> values = he.getEncoder()->decryptDecodeComplex(*this);
  double m = maxAbs(values);
  if (traits.getSupportsScaledEncoding()) {
    if (c > 0)
      out << ",";
    out << " bit usage=" << std::log2(getScale() * m);
    ++c;
  }
  if (c > 0)
    out << ",";
  out << " max value=";
  PrintUtils::printDouble(out, m);
  out << std::endl;
  PrintUtils::printComplexVector(out, values);
  out << std::endl;
}

void AbstractCiphertext::addScalar(double scalar)
{
  SectionTimer timer("AbstractCiphertext::addScalar(double)");
  addPlain(*encodeFor(*this, scalar));
}

void AbstractCiphertext::addScalar(int scalar)
{
  SectionTimer timer("AbstractCiphertext::addScalar(int)");
  addPlain(*encodeFor(*this, scalar));
}

void AbstractCiphertext::multiplyScalar(double scalar)
{
  SectionTimer timer("AbstractCiphertext::multiplyScalar(double)");
  multiplyPlain(*encodeFor(*this, scalar));
}

void AbstractCiphertext::multiplyScalar(int scalar)
{
  SectionTimer timer("AbstractCiphertext::multiplyScalar(int)");
  multiplyPlain(*encodeFor(*this, scalar));
}

void AbstractCiphertext::multiplyImaginaryUnit()
{
  SectionTimer timer("AbstractCiphertext::multiplyImaginaryUnit");
  if (!he.getTraits().getSupportsComplexNumbers())
    throw std::runtime_error("HeContext does not support operations with complex numbers.");
  std::vector<std::complex<double>> units(he.slotCount(), std::complex<double>(0, 1));
  multiplyPlain(*encodeFor(*this, units));
}

void AbstractCiphertext::nullifyImaginaryPart()
{
  SectionTimer timer("AbstractCiphertext::nullifyImaginaryPart");
  if (!he.getTraits().getSupportsComplexNumbers())
    return;
  std::shared_ptr<AbstractCiphertext> conj = doClone();
  conj->conjugate();
  add(*conj);
  multiplyScalar(0.5);
}

void AbstractCiphertext::innerSum(int rot1, int rot2, bool reverse)
{
  SectionTimer timer("AbstractCiphertext::innerSum");
  addRotatedCopies(rot1, rot2, reverse);
}

void AbstractCiphertext::addRotatedCopies(int rot1, int rot2, bool reverse)
{
  if (rot1 <= 0 || rot2 <= 0)
    throw std::invalid_argument("Rotation offsets should be positive.");
  // 64-bit so that doubling past the int range ends the loop.
  for (int64_t a = rot1; a < rot2; a *= 2) {
    std::shared_ptr<AbstractCiphertext> rotated = doClone();
    rotated->rotate(reverse ? -static_cast<int>(a) : static_cast<int>(a));
    add(*rotated);
  }
}

void AbstractCiphertext::innerSum(int n) { innerSum(1, n, false); }

void AbstractCiphertext::toDevice(DeviceType) {}

DeviceType AbstractCiphertext::getCurrentDevice() const { return DEVICE_CPU; }

void AbstractCiphertext::remod(uint64_t)
{
  throw std::runtime_error("remod operation not implemented for this class of ciphertext");
}

void AbstractCiphertext::sumExpBySquaringLeftToRight(int n)
{
  SectionTimer timer("AbstractCiphertext::sumExpBySquaringLeftToRight");
  if (n == 0) {
    std::cout << "sumExpBySquaringLeftToRight() finished with " << 0 << " rotations"
              << std::endl;
    return;
  }
  if (n < 0)
    return;
  int topBit = 0;
  while ((n >> (topBit + 1)) != 0)
    ++topBit;
  std::shared_ptr<AbstractCiphertext> orig = doClone();
  int a = 1; // terms summed so far
  for (int j = topBit - 1; j >= 0; --j) {
    std::shared_ptr<AbstractCiphertext> t = doClone();
    t->rotate(a);
    add(*t);
    a *= 2;
    if ((n >> j) & 1) {
      rotate(1);
      add(*orig);
      a += 1;
    }
  }
}

void AbstractCiphertext::sumExpBySquaringRightToLeft(int n)
{
  SectionTimer timer("AbstractCiphertext::sumExpBySquaringRightToLeft");
  if (n <= 1)
    return;
  std::shared_ptr<AbstractCiphertext> acc;
  int a = 1;
  do {
    if (n % 2 == 1) {
      if (!acc) {
        acc = doClone();
      } else {
        std::shared_ptr<AbstractCiphertext> t = doClone();
        acc->rotate(a);
        t->add(*acc);
        acc = t;
      }
    }
    std::shared_ptr<AbstractCiphertext> t2 = doClone();
    t2->rotate(a);
    add(*t2);
    a *= 2;
    n /= 2;
  } while (n > 1);
  if (acc) {
    acc->rotate(a);
    add(*acc);
  }
}

void AbstractCiphertext::multiplyByChangingScale(double factor)
{
  SectionTimer timer("AbstractCiphertext::multiplyByChangingScale");
  setScale(getScale() / factor);
}

bool AbstractCiphertext::isTransparent() const { return false; }

void AbstractCiphertext::encryptZeroIfTransparent()
{
  SectionTimer timer("AbstractCiphertext::encryptZeroIfTransparent");
  if (!isTransparent())
    return;
  SectionTimer inner("AbstractCiphertext::encryptZeroIfTransparent - isTransparent True");
  std::shared_ptr<AbstractEncoder> encoder = he.getEncoder();
  encoder->setDefaultScale(getScale());
  encoder->encodeEncrypt(*this, 0, getChainIndex());
}

int64_t AbstractCiphertext::getEstimatedMemoryUsageBytes() const { return -1; }

bool AbstractCiphertext::certainlyAccepts(CipherOperation, const AbstractCiphertext&) const
{
  return false;
}

bool AbstractCiphertext::certainlyAccepts(PlainOperation, const AbstractPlaintext&) const
{
  return false;
}

void AbstractCiphertext::reduceChainIndex() { setChainIndex(getChainIndex() - 1); }

} // namespace quorvane
