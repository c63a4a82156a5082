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
  int64_t count = c1->load(in);
  count += c2->load(in);
  recordOperation("load");
  return count;
}

void DebugCiphertext::add(const AbstractCiphertext& other)
{
  const DebugCiphertext& o = asDebug(other);
  c1->add(*o.c1);
  c2->add(*o.c2);
  recordOperation("add");
}

void DebugCiphertext::addRaw(const AbstractCiphertext& other)
{
  const DebugCiphertext& o = asDebug(other);
  c1->addRaw(*o.c1);
  c2->addRaw(*o.c2);
  recordOperation("addRaw");
}

void DebugCiphertext::sub(const AbstractCiphertext& other)
{
  const DebugCiphertext& o = asDebug(other);
  c1->sub(*o.c1);
  c2->sub(*o.c2);
  recordOperation("sub");
}

void DebugCiphertext::subRaw(const AbstractCiphertext& other)
{
  const DebugCiphertext& o = asDebug(other);
  c1->subRaw(*o.c1);
  c2->subRaw(*o.c2);
  recordOperation("subRaw");
}

void DebugCiphertext::multiply(const AbstractCiphertext& other)
{
  const DebugCiphertext& o = asDebug(other);
  c1->multiply(*o.c1);
  c2->multiply(*o.c2);
  recordOperation("multiply");
}

void DebugCiphertext::multiplyRaw(const AbstractCiphertext& other)
{
  const DebugCiphertext& o = asDebug(other);
  c1->multiplyRaw(*o.c1);
  c2->multiplyRaw(*o.c2);
  recordOperation("multiplyRaw");
}

void DebugCiphertext::addPlain(const AbstractPlaintext& plain)
{
  const DebugPlaintext& p = asDebug(plain);
  c1->addPlain(p.getP1());
  c2->addPlain(p.getP2());
  recordOperation("addPlain");
}

void DebugCiphertext::addPlainRaw(const AbstractPlaintext& plain)
{
  const DebugPlaintext& p = asDebug(plain);
  c1->addPlainRaw(p.getP1());
  c2->addPlainRaw(p.getP2());
  recordOperation("addPlainRaw");
}

void DebugCiphertext::subPlain(const AbstractPlaintext& plain)
{
  const DebugPlaintext& p = asDebug(plain);
  c1->subPlain(p.getP1());
  c2->subPlain(p.getP2());
  recordOperation("subPlain");
}

void DebugCiphertext::subPlainRaw(const AbstractPlaintext& plain)
{
  const DebugPlaintext& p = asDebug(plain);
  c1->subPlainRaw(p.getP1());
  c2->subPlainRaw(p.getP2());
  recordOperation("subPlainRaw");
}

void DebugCiphertext::multiplyPlain(const AbstractPlaintext& plain)
{
  const DebugPlaintext& p = asDebug(plain);
  c1->multiplyPlain(p.getP1());
  c2->multiplyPlain(p.getP2());
  recordOperation("multiplyPlain");
}

void DebugCiphertext::multiplyPlainRaw(const AbstractPlaintext& plain)
{
  const DebugPlaintext& p = asDebug(plain);
  c1->multiplyPlainRaw(p.getP1());
  c2->multiplyPlainRaw(p.getP2());
  recordOperation("multiplyPlainRaw");
}

void DebugCiphertext::square()
{
  c1->square();
  c2->square();
  recordOperation("square");
}

void DebugCiphertext::squareRaw()
{
  c1->squareRaw();
  c2->squareRaw();
  recordOperation("squareRaw");
}

void DebugCiphertext::addScalar(double scalar)
{
  c1->addScalar(scalar);
  c2->addScalar(scalar);
  recordOperation("addScalar");
}

void DebugCiphertext::addScalar(int scalar)
{
  c1->addScalar(scalar);
  c2->addScalar(scalar);
  recordOperation("addScalar");
}

void DebugCiphertext::multiplyScalar(double scalar)
{
  c1->multiplyScalar(scalar);
  c2->multiplyScalar(scalar);
  recordOperation("multiplyScalar-double");
}

void DebugCiphertext::multiplyScalar(int scalar)
{
  c1->multiplyScalar(scalar);
  c2->multiplyScalar(scalar);
  recordOperation("multiplyScalar-int");
}

void DebugCiphertext::relinearize()
{
  c1->relinearize();
  c2->relinearize();
  recordOperation("relinearize");
}

void DebugCiphertext::rescale()
{
  c1->rescale();
  c2->rescale();
  recordOperation("rescale");
}

void DebugCiphertext::rescaleRaw()
{
  c1->rescaleRaw();
  c2->rescaleRaw();
  recordOperation("rescaleRaw");
}

void DebugCiphertext::setScale(double scale)
{
  c1->setScale(scale);
  c2->setScale(scale);
  char text[64];
  std::snprintf(text, sizeof(text), "%f", scale);
  recordOperation(std::string("set scale ") + text);
}

double DebugCiphertext::getScale() const { return c1->getScale(); }

void DebugCiphertext::conjugate() { conjugateRaw(); }

void DebugCiphertext::conjugateRaw()
{
  c1->conjugate();
  c2->conjugate();
  recordOperation("conjugate");
}

void DebugCiphertext::negate()
{
  c1->negate();
  c2->negate();
  recordOperation("negate");
}

void DebugCiphertext::rotate(int n)
{
  c1->rotate(n);
  c2->rotate(n);
  recordOperation("rotate " + std::to_string(n));
}

void DebugCiphertext::setChainIndex(int chainIndex)
{
  c1->setChainIndex(chainIndex);
  c2->setChainIndex(chainIndex);
  recordOperation("setChainIndex");
}

int DebugCiphertext::getChainIndex() const { return c1->getChainIndex(); }

void DebugCiphertext::remod(uint64_t modulus) { c1->remod(modulus); }

int DebugCiphertext::slotCount() const { return context->slotCount(); }

void DebugCiphertext::multiplyByChangingScale(double factor)
{
  c1->multiplyByChangingScale(factor);
  c2->multiplyByChangingScale(factor);
  recordOperation("multiplyByChangingScale");
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
