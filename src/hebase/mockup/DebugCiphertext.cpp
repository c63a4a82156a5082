#include "hebase/mockup/DebugCiphertext.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <vector>

#include "hebase/AbstractEncoder.h"
#include "hebase/mockup/DebugContext.h"
#include "hebase/mockup/DebugPlaintext.h"
#include "hebase/utils/PrintUtils.h"

namespace quorvane {

namespace {

const DebugCiphertext& asDebug(const AbstractCiphertext& other)
{
  return dynamic_cast<const DebugCiphertext&>(other);
}

const DebugPlaintext& asDebug(const AbstractPlaintext& other)
{
  return dynamic_cast<const DebugPlaintext&>(other);
}

/// Base-2 logarithm truncated towards zero. Zero (and anything not positive
/// or not a number) has no logarithm: it counts as ZERO_BITS, below the
/// logarithm of every positive double (at least -1074); infinity counts as 1024.
const int ZERO_BITS = -1075;

int truncatedLog2(double x)
{
  if (!(x > 0))
    return ZERO_BITS;
  if (std::isinf(x))
    return 1024;
  return static_cast<int>(std::trunc(std::log2(x)));
}

} // namespace

DebugCiphertext::DebugCiphertext(const DebugContext& context,
                                 std::shared_ptr<AbstractCiphertext> c1,
                                 std::shared_ptr<AbstractCiphertext> c2)
    : AbstractCiphertext(context), context(&context), c1(std::move(c1)), c2(std::move(c2))
{
}

DebugCiphertext::~DebugCiphertext() {}

std::shared_ptr<AbstractCiphertext> DebugCiphertext::doClone() const
{
  return std::make_shared<DebugCiphertext>(*context, c1->clone(), c2->clone());
}

int64_t DebugCiphertext::save(std::ostream& out) const
{
  int64_t count = c1->save(out);
  return count + c2->save(out);
}

int64_t DebugCiphertext::load(std::istream& in)
{
  // Both halves load into fresh objects (keeping the scales a load keeps)
  // that replace them only once both loads succeeded.
  std::shared_ptr<AbstractCiphertext> loaded1 = c1->getContext().createAbstractCiphertext();
  std::shared_ptr<AbstractCiphertext> loaded2 = c2->getContext().createAbstractCiphertext();
  loaded1->setScale(c1->getScale());
  loaded2->setScale(c2->getScale());
  int64_t count = loaded1->load(in);
  count += loaded2->load(in);
  checkLoadedHalves(loaded1->isEmpty(), loaded2->isEmpty());
  c1 = std::move(loaded1);
  c2 = std::move(loaded2);
  recordOperation("load");
  return count;
}

void DebugCiphertext::applyToBoth(void (AbstractCiphertext::*op)(const AbstractCiphertext&),
                                  const AbstractCiphertext& other, const std::string& name)
{
  const DebugCiphertext& o = asDebug(other);
  ((*c1).*op)(*o.c1);
  ((*c2).*op)(*o.c2);
  recordOperation(name);
}

void DebugCiphertext::applyToBoth(void (AbstractCiphertext::*op)(const AbstractPlaintext&),
                                  const AbstractPlaintext& plain, const std::string& name)
{
  const DebugPlaintext& p = asDebug(plain);
  ((*c1).*op)(p.getP1());
  ((*c2).*op)(p.getP2());
  recordOperation(name);
}

void DebugCiphertext::applyToBoth(void (AbstractCiphertext::*op)(), const std::string& name)
{
  ((*c1).*op)();
  ((*c2).*op)();
  recordOperation(name);
}

template <typename T>
void DebugCiphertext::applyToBoth(void (AbstractCiphertext::*op)(T), T value,
                                  const std::string& name)
{
  ((*c1).*op)(value);
  ((*c2).*op)(value);
  recordOperation(name);
}

void DebugCiphertext::add(const AbstractCiphertext& other)
{
  applyToBoth(&AbstractCiphertext::add, other, "add");
}

void DebugCiphertext::addRaw(const AbstractCiphertext& other)
{
  applyToBoth(&AbstractCiphertext::addRaw, other, "addRaw");
}

void DebugCiphertext::sub(const AbstractCiphertext& other)
{
  applyToBoth(&AbstractCiphertext::sub, other, "sub");
}

void DebugCiphertext::subRaw(const AbstractCiphertext& other)
{
  applyToBoth(&AbstractCiphertext::subRaw, other, "subRaw");
}

void DebugCiphertext::multiply(const AbstractCiphertext& other)
{
  applyToBoth(&AbstractCiphertext::multiply, other, "multiply");
}

void DebugCiphertext::multiplyRaw(const AbstractCiphertext& other)
{
  applyToBoth(&AbstractCiphertext::multiplyRaw, other, "multiplyRaw");
}

void DebugCiphertext::addPlain(const AbstractPlaintext& plain)
{
  applyToBoth(&AbstractCiphertext::addPlain, plain, "addPlain");
}

void DebugCiphertext::addPlainRaw(const AbstractPlaintext& plain)
{
  applyToBoth(&AbstractCiphertext::addPlainRaw, plain, "addPlainRaw");
}

void DebugCiphertext::subPlain(const AbstractPlaintext& plain)
{
  applyToBoth(&AbstractCiphertext::subPlain, plain, "subPlain");
}

void DebugCiphertext::subPlainRaw(const AbstractPlaintext& plain)
{
  applyToBoth(&AbstractCiphertext::subPlainRaw, plain, "subPlainRaw");
}

void DebugCiphertext::multiplyPlain(const AbstractPlaintext& plain)
{
  applyToBoth(&AbstractCiphertext::multiplyPlain, plain, "multiplyPlain");
}

void DebugCiphertext::multiplyPlainRaw(const AbstractPlaintext& plain)
{
  applyToBoth(&AbstractCiphertext::multiplyPlainRaw, plain, "multiplyPlainRaw");
}

void DebugCiphertext::square() { applyToBoth(&AbstractCiphertext::square, "square"); }

void DebugCiphertext::squareRaw() { applyToBoth(&AbstractCiphertext::squareRaw, "squareRaw"); }

void DebugCiphertext::addScalar(double scalar)
{
  applyToBoth<double>(&AbstractCiphertext::addScalar, scalar, "addScalar");
}

void DebugCiphertext::addScalar(int scalar)
{
  applyToBoth<int>(&AbstractCiphertext::addScalar, scalar, "addScalar");
}

void DebugCiphertext::multiplyScalar(double scalar)
{
  applyToBoth<double>(&AbstractCiphertext::multiplyScalar, scalar, "multiplyScalar-double");
}

void DebugCiphertext::multiplyScalar(int scalar)
{
  applyToBoth<int>(&AbstractCiphertext::multiplyScalar, scalar, "multiplyScalar-int");
}

void DebugCiphertext::relinearize()
{
  applyToBoth(&AbstractCiphertext::relinearize, "relinearize");
}

void DebugCiphertext::rescale() { applyToBoth(&AbstractCiphertext::rescale, "rescale"); }

void DebugCiphertext::rescaleRaw() { applyToBoth(&AbstractCiphertext::rescaleRaw, "rescaleRaw"); }

void DebugCiphertext::setScale(double scale)
{
  char text[64];
  std::snprintf(text, sizeof(text), "%f", scale);
  applyToBoth(&AbstractCiphertext::setScale, scale, std::string("set scale ") + text);
}

double DebugCiphertext::getScale() const { return c1->getScale(); }

void DebugCiphertext::conjugate() { conjugateRaw(); }

void DebugCiphertext::conjugateRaw()
{
  applyToBoth(&AbstractCiphertext::conjugate, "conjugate");
}

void DebugCiphertext::negate() { applyToBoth(&AbstractCiphertext::negate, "negate"); }

void DebugCiphertext::rotate(int n)
{
  applyToBoth(&AbstractCiphertext::rotate, n, "rotate " + std::to_string(n));
}

void DebugCiphertext::setChainIndex(int chainIndex)
{
  applyToBoth(&AbstractCiphertext::setChainIndex, chainIndex, "setChainIndex");
}

int DebugCiphertext::getChainIndex() const { return c1->getChainIndex(); }

void DebugCiphertext::remod(uint64_t modulus) { c1->remod(modulus); }

int DebugCiphertext::slotCount() const { return context->slotCount(); }

void DebugCiphertext::multiplyByChangingScale(double factor)
{
  applyToBoth(&AbstractCiphertext::multiplyByChangingScale, factor, "multiplyByChangingScale");
}

bool DebugCiphertext::isEmpty() const { return c1->isEmpty(); }

bool DebugCiphertext::isTransparent() const { return c1->isTransparent(); }

void DebugCiphertext::syncC2FromC1()
{
  std::shared_ptr<AbstractEncoder> encoder1 = context->getFirstContext().getEncoder();
  std::vector<std::complex<double>> values = encoder1->decryptDecodeComplex(*c1);
  std::shared_ptr<AbstractEncoder> encoder2 = context->getSecondContext().getEncoder();
  encoder2->encodeEncrypt(*c2, values, c1->getChainIndex());
}

void DebugCiphertext::recordOperation(const std::string& name)
{
  operationLog += name;
  operationLog += "\n";
  // The title is built only for a comparison that runs.
  if (context->getDiffThreshold() >= 0)
    verify("After operation " + name);
}

void DebugCiphertext::verify(const std::string& title) const
{
  double threshold = context->getDiffThreshold();
  if (threshold < 0)
    return;
  const HeContext& h1 = context->getFirstContext();
  const HeContext& h2 = context->getSecondContext();
  if (!h1.hasSecretKey() || !h2.hasSecretKey()) {
    std::cout << "Warn: contexts don't have a secret key" << std::endl;
    return;
  }
  std::shared_ptr<AbstractEncoder> encoder1 = h1.getEncoder();
  encoder1->setDecryptAddedNoiseEnabled(false);
  std::shared_ptr<AbstractEncoder> encoder2 = h2.getEncoder();
  std::vector<double> r1 = encoder1->decryptDecodeDouble(*c1);
  std::vector<double> r2 = encoder2->decryptDecodeDouble(*c2);
  if (r1.size() != r2.size())
    throw std::runtime_error("Sizes of c1 and c2 are not equal");

  if (context->getVerbose()) {
    std::vector<double> diff(r1.size());
    for (size_t i = 0; i < r1.size(); ++i)
      diff[i] = r1[i] - r2[i];
    std::cout << title << std::endl;
    PrintUtils::printDoubleVectorStats(std::cout, "c1", r1);
    PrintUtils::printDoubleVectorStats(std::cout, "c2", r2);
    PrintUtils::printDoubleVectorStats(std::cout, "diff", diff);
  }

  for (size_t i = 0; i < r1.size(); ++i) {
    double difference = std::abs(r1[i] - r2[i]);
    // Written so that a difference that is not a number fails as well.
    if (difference <= threshold)
      continue;
    std::cout << "DebugCiphertext verification error:" << std::endl;
    c1->debugPrint("c1", VERBOSITY_REGULAR, std::cout);
    c2->debugPrint("c2", VERBOSITY_REGULAR, std::cout);
    std::cout << std::endl;
    std::cout << "Operation log (beta):" << std::endl;
    std::cout << operationLog << std::endl;
    std::cout << "Slot: " << i << std::endl;
    std::cout << "c1 value: " << r1[i] << std::endl;
    std::cout << "c2 value: " << r2[i] << std::endl;
    std::cout << "Difference: " << difference << std::endl;
    std::cout << "Difference threshold: " << context->getDiffThreshold() << std::endl;
    throw std::runtime_error("DebugCiphertext verification error");
  }
}

void DebugCiphertext::debugPrint(const std::string& title, Verbosity verbosity,
                                 std::ostream& out) const
{
  PrintUtils::printTitle(out, "DebugCiphertext", title);
  c1->debugPrint("c1: " + title, verbosity, out);
  c2->debugPrint("c2: " + title, verbosity, out);

  std::vector<std::complex<double>> a =
      context->getFirstContext().getEncoder()->decryptDecodeComplex(*c1);
  std::vector<std::complex<double>> b =
      context->getSecondContext().getEncoder()->decryptDecodeComplex(*c2);
  // Only slots that both halves hold are compared; no slots give zero means.
  size_t n = std::min({static_cast<size_t>(std::max(slotCount(), 0)), a.size(), b.size()});
  bool scaled = context->getFirstContext().getTraits().getSupportsScaledEncoding();
  double s = c1->getScale();

  double errorSum[3] = {0, 0, 0};
  double usedSum[3] = {0, 0, 0};
  double goodSum[3] = {0, 0, 0};
  for (size_t k = 0; k < n; ++k) {
    double errors[3] = {std::abs(a[k] - b[k]), std::abs(a[k].real() - b[k].real()),
                        std::abs(a[k].imag() - b[k].imag())};
    for (int j = 0; j < 3; ++j)
      errorSum[j] += errors[j];
    if (scaled) {
      int used[3] = {truncatedLog2(std::abs(a[k]) * s),
                     truncatedLog2(std::abs(a[k].real()) * s),
                     std::max(truncatedLog2(std::abs(a[k].imag()) * s), 0)};
      for (int j = 0; j < 3; ++j) {
        usedSum[j] += used[j];
        goodSum[j] += used[j] - std::max(truncatedLog2(errors[j] * s), 0);
      }
    }
  }
  auto mean = [n](double sum) { return n == 0 ? 0.0 : sum / static_cast<double>(n); };

  out << "Mean abs error complex/real/imag        (" << title << "): " << mean(errorSum[0])
      << "/" << mean(errorSum[1]) << "/" << mean(errorSum[2]) << std::endl;
  if (scaled) {
    out << "Mean (used/good) bits complex/real/imag (" << title << "): ";
    for (int j = 0; j < 3; ++j) {
      if (j > 0)
        out << "/";
      out << "(" << mean(usedSum[j]) << "/" << mean(goodSum[j]) << ")";
    }
    out << std::endl;
  }
}

} // namespace quorvane
