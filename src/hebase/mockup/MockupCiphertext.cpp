#include "hebase/mockup/MockupCiphertext.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "hebase/RunStats.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/mockup/MockupPlaintext.h"
#include "hebase/utils/SectionTimer.h"

namespace quorvane {

MockupCiphertext::MockupCiphertext(const MockupContext& he)
    : AbstractCiphertext(he), mockupContext(&he)
{
}

MockupCiphertext::~MockupCiphertext() {}

// ---- Helpers ----

namespace {

typedef std::complex<double> Complex;

// Value loops built for the baseline and, where the platform dispatches at
// load time, for AVX2 as well.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__)
#define QV_VALUE_LOOP __attribute__((target_clones("avx2", "default")))
#else
#define QV_VALUE_LOOP
#endif

// out[i] = a[i] * b[i] by the textbook formula (ac - bd, ad + bc), which the
// compiler vectorises; returns whether an operand part is infinite. Only then
// can std::complex's product differ (it recovers infinities that the formula
// turns into NaN + iNaN, C99 Annex G); with finite or NaN operands the two are
// equal to the bit, contraction into fused multiply-adds being off.
QV_VALUE_LOOP __attribute__((optimize("fp-contract=off"))) bool
multiplyParts(const double* a, const double* b, double* out, size_t n)
{
  const double inf = HUGE_VAL;
  int infinite = 0;
  for (size_t i = 0; i < n; ++i) {
    const double ar = a[2 * i];
    const double ai = a[2 * i + 1];
    const double br = b[2 * i];
    const double bi = b[2 * i + 1];
    out[2 * i] = ar * br - ai * bi;
    out[2 * i + 1] = ar * bi + ai * br;
    infinite |= (std::fabs(ar) == inf) | (std::fabs(ai) == inf) | (std::fabs(br) == inf) |
                (std::fabs(bi) == inf);
  }
  return infinite != 0;
}

// A buffer of the thread that takes the values of an operation and is then
// swapped with the operand's, so that no copy is made.
std::vector<Complex>& scratchOfSize(size_t n)
{
  thread_local std::vector<Complex> scratch;
  if (scratch.size() != n)
    scratch = std::vector<Complex>(n);
  return scratch;
}

// a[i] *= b[i] for every i, with std::complex's results; b may be a.
void multiplyValues(std::vector<Complex>& a, const std::vector<Complex>& b)
{
  const size_t n = a.size();
  std::vector<Complex>& out = scratchOfSize(n);
  const bool infinite = multiplyParts(reinterpret_cast<const double*>(a.data()),
                                      reinterpret_cast<const double*>(b.data()),
                                      reinterpret_cast<double*>(out.data()), n);
  if (infinite)
    for (size_t i = 0; i < n; ++i)
      out[i] = a[i] * b[i];
  a.swap(out);
}

// Slot i receives slot i + shift (0 <= shift < size).
void rotateValues(std::vector<Complex>& values, size_t shift)
{
  std::vector<Complex>& out = scratchOfSize(values.size());
  std::copy(values.begin() + shift, values.end(), out.begin());
  std::copy(values.begin(), values.begin() + shift, out.end() - shift);
  values.swap(out);
}

} // namespace

void MockupCiphertext::checkDevice(DeviceType otherDevice) const
{
  if (getCurrentDevice() != otherDevice)
    throw std::runtime_error("Operands are not in the same device (CPU / GPU).");
}

void MockupCiphertext::checkMatching(size_t otherSize, int otherChainIndex,
                                     const char* otherKind) const
{
  if (rawVals.size() != otherSize)
    throw std::invalid_argument("mismatching sizes");
  if (!he.getTraits().getAutomaticallyManagesChainIndices() && getChainIndex() != otherChainIndex)
    throw std::invalid_argument("MockupCiphertext: mismatching chain indexes. This ciphertext: " +
                                std::to_string(getChainIndex()) + ", other " + otherKind + ": " +
                                std::to_string(otherChainIndex));
}

const MockupCiphertext& MockupCiphertext::checkOperand(const AbstractCiphertext& other) const
{
  const MockupCiphertext& o = dynamic_cast<const MockupCiphertext&>(other);
  checkDevice(o.getCurrentDevice());
  checkMatching(o.rawVals.size(), o.getChainIndex(), "ciphertext");
  return o;
}

const MockupPlaintext& MockupCiphertext::checkOperand(const AbstractPlaintext& other) const
{
  const MockupPlaintext& o = dynamic_cast<const MockupPlaintext&>(other);
  checkDevice(o.getCurrentDevice());
  checkMatching(o.rawVals.size(), o.getChainIndex(), "plaintext");
  return o;
}

void MockupCiphertext::trackValues() const { mockupContext->trackValues(rawVals, getChainIndex()); }

void MockupCiphertext::count(int code) const
{
  mockupContext->trackOperation(code, getChainIndex());
}

template <typename Operand, typename Op>
void MockupCiphertext::combine(const Operand& other, int code, Op op)
{
  const std::vector<std::complex<double>>& w = checkOperand(other).rawVals;
  count(code);
  // Each value of w is read before the same slot is written: other may be
  // this very ciphertext.
  for (size_t i = 0; i < rawVals.size(); ++i)
    rawVals[i] = op(rawVals[i], w[i]);
  trackValues();
}

template <typename Operand>
void MockupCiphertext::multiplyBy(const Operand& other, int code)
{
  const std::vector<std::complex<double>>& w = checkOperand(other).rawVals;
  count(code);
  multiplyValues(rawVals, w);
  trackValues();
}

template <typename Op>
void MockupCiphertext::transform(Op op)
{
  for (std::complex<double>& v : rawVals)
    v = op(v);
  trackValues();
}

// ---- Copy and persistence ----

std::shared_ptr<AbstractCiphertext> MockupCiphertext::doClone() const
{
  SectionTimer timer("MockupCiphertext::doClone");
  if (getChainIndex() != -1)
    count(RunStats::C_COPY);
  return std::shared_ptr<AbstractCiphertext>(new MockupCiphertext(*this));
}

int64_t MockupCiphertext::save(std::ostream& out) const
{
  LeafTimer timer("MockupCiphertext::save");
  return MockupPlaintext::saveBody(out, rawVals, chainIndex);
}

int64_t MockupCiphertext::load(std::istream& in)
{
  LeafTimer timer("MockupCiphertext::load");
  int64_t read = MockupPlaintext::loadBody(in, he, false, rawVals, chainIndex);
  if (!rawVals.empty())
    trackValues();
  return read;
}

// ---- Ciphertext operands ----

void MockupCiphertext::add(const AbstractCiphertext& other)
{
  SectionTimer timer("MockupCiphertext::add");
  checkDevice(other.getCurrentDevice());
  addRaw(other);
}

void MockupCiphertext::addRaw(const AbstractCiphertext& other)
{
  LeafTimer timer("MockupCiphertext::addRaw");
  checkDevice(other.getCurrentDevice());
  combine(other, RunStats::ADD_RAW, std::plus<std::complex<double>>());
}

void MockupCiphertext::sub(const AbstractCiphertext& other)
{
  SectionTimer timer("MockupCiphertext::sub");
  checkDevice(other.getCurrentDevice());
  subRaw(other);
}

void MockupCiphertext::subRaw(const AbstractCiphertext& other)
{
  LeafTimer timer("MockupCiphertext::subRaw");
  checkDevice(other.getCurrentDevice());
  combine(other, RunStats::SUB_RAW, std::minus<std::complex<double>>());
}

void MockupCiphertext::multiply(const AbstractCiphertext& other)
{
  SectionTimer timer("MockupCiphertext::multiply");
  checkDevice(other.getCurrentDevice());
  checkOperand(other);
  checkRescalable();
  multiplyRaw(other);
  relinearize();
  rescale();
}

void MockupCiphertext::multiplyRaw(const AbstractCiphertext& other)
{
  LeafTimer timer("MockupCiphertext::multiplyRaw");
  checkDevice(other.getCurrentDevice());
  multiplyBy(other, RunStats::MULTIPLY_RAW);
}

// ---- Plaintext operands ----

void MockupCiphertext::addPlain(const AbstractPlaintext& plain)
{
  SectionTimer timer("MockupCiphertext::addPlain");
  addPlainRaw(plain);
}

void MockupCiphertext::addPlainRaw(const AbstractPlaintext& plain)
{
  LeafTimer timer("MockupCiphertext::addPlainRaw");
  combine(plain, RunStats::ADD_PLAIN_RAW, std::plus<std::complex<double>>());
}

void MockupCiphertext::subPlain(const AbstractPlaintext& plain)
{
  SectionTimer timer("MockupCiphertext::subPlain");
  subPlainRaw(plain);
}

void MockupCiphertext::subPlainRaw(const AbstractPlaintext& plain)
{
  LeafTimer timer("MockupCiphertext::subPlainRaw");
  combine(plain, RunStats::SUB_PLAIN_RAW, std::minus<std::complex<double>>());
}

void MockupCiphertext::multiplyPlain(const AbstractPlaintext& plain)
{
  SectionTimer timer("MockupCiphertext::multiplyPlain");
  checkDevice(plain.getCurrentDevice());
  checkOperand(plain);
  checkRescalable();
  multiplyPlainRaw(plain);
  rescale();
}

void MockupCiphertext::multiplyPlainRaw(const AbstractPlaintext& plain)
{
  LeafTimer timer("MockupCiphertext::multiplyPlainRaw");
  checkDevice(plain.getCurrentDevice());
  multiplyBy(plain, RunStats::MULTIPLY_PLAIN_RAW);
}

// ---- Single-operand operations ----

void MockupCiphertext::square()
{
  SectionTimer timer("MockupCiphertext::square");
  checkRescalable();
  squareRaw();
  relinearize();
  rescale();
}

void MockupCiphertext::squareRaw()
{
  LeafTimer timer("MockupCiphertext::squareRaw");
  count(RunStats::SQUARE_RAW);
  transform([](std::complex<double> v) {
    return std::complex<double>(v.real() * v.real() - v.imag() * v.imag(),
                                2 * v.real() * v.imag());
  });
}

void MockupCiphertext::multiplyScalar(int scalar)
{
  SectionTimer timer("MockupCiphertext::multiplyScalar(int)");
  count(RunStats::MULTIPLY_PLAIN_RAW);
  double factor = static_cast<double>(scalar);
  transform([factor](std::complex<double> v) {
    return std::complex<double>(v.real() * factor, v.imag() * factor);
  });
}

void MockupCiphertext::relinearize() { count(RunStats::RELINEARIZE); }

void MockupCiphertext::rescale() { rescaleRaw(); }

void MockupCiphertext::rescaleRaw()
{
  count(RunStats::RESCALE_RAW);
  reduceChainIndex();
}

void MockupCiphertext::conjugate() { conjugateRaw(); }

void MockupCiphertext::conjugateRaw()
{
  LeafTimer timer("MockupCiphertext::conjugate");
  transform([](std::complex<double> v) { return std::conj(v); });
}

void MockupCiphertext::negate()
{
  LeafTimer timer("MockupCiphertext::negate");
  count(RunStats::NEGATE);
  transform([](std::complex<double> v) { return std::complex<double>(-v.real(), -v.imag()); });
}

void MockupCiphertext::rotate(int n)
{
  LeafTimer timer("MockupCiphertext::rotate");
  count(RunStats::ROTATE);
  mockupContext->trackRotation(n);
  if (rawVals.empty())
    return;
  // Offsets of any size are taken modulo the number of values.
  int64_t size = static_cast<int64_t>(rawVals.size());
  int64_t shift = ((static_cast<int64_t>(n) % size) + size) % size;
  rotateValues(rawVals, static_cast<size_t>(shift));
}

void MockupCiphertext::innerSum(int rot1, int rot2, bool reverse)
{
  LeafTimer timer("MockupCiphertext::innerSum");
  addRotatedCopies(rot1, rot2, reverse);
}

void MockupCiphertext::multiplyByChangingScale(double factor)
{
  LeafTimer timer("MockupCiphertext::multiplyByChangingScale");
  transform([factor](std::complex<double> v) {
    return std::complex<double>(v.real() * factor, v.imag() * factor);
  });
}

// ---- Chain index ----

void MockupCiphertext::setChainIndex(int newChainIndex)
{
  if (!he.getTraits().getSupportsExplicitChainIndices())
    return;
  checkChainIndexTarget(newChainIndex);
  chainIndex = newChainIndex;
  trackValues();
  mockupContext->trackChainIndex(newChainIndex);
}

void MockupCiphertext::checkChainIndexTarget(int newChainIndex) const
{
  if (newChainIndex < 0 || newChainIndex > he.getTopChainIndex() || newChainIndex > chainIndex)
    throw std::invalid_argument(
        "Given chain index is out of range or higher than current. Given CI= " +
        std::to_string(newChainIndex) + " current CI= " + std::to_string(chainIndex));
}

bool MockupCiphertext::certainlyMatches(DeviceType otherDevice, size_t otherSize,
                                        int otherChainIndex, bool rescaled) const
{
  const int lowest = rescaled ? 1 : 0;
  return he.getTraits().getSupportsExplicitChainIndices() && getCurrentDevice() == otherDevice &&
         rawVals.size() == otherSize &&
         (he.getTraits().getAutomaticallyManagesChainIndices() ||
          chainIndex == otherChainIndex) &&
         chainIndex >= lowest && chainIndex <= he.getTopChainIndex();
}

bool MockupCiphertext::certainlyAccepts(CipherOperation op, const AbstractCiphertext& other) const
{
  const auto* o = dynamic_cast<const MockupCiphertext*>(&other);
  if (o == nullptr || &o->he != &he)
    return false;
  const bool rescaled = op == &AbstractCiphertext::multiply;
  const bool known = rescaled || op == &AbstractCiphertext::add ||
                     op == &AbstractCiphertext::addRaw || op == &AbstractCiphertext::sub ||
                     op == &AbstractCiphertext::subRaw || op == &AbstractCiphertext::multiplyRaw;
  return known &&
         certainlyMatches(o->getCurrentDevice(), o->rawVals.size(), o->getChainIndex(), rescaled);
}

bool MockupCiphertext::certainlyAccepts(PlainOperation op, const AbstractPlaintext& other) const
{
  const auto* p = dynamic_cast<const MockupPlaintext*>(&other);
  if (p == nullptr || &p->getContext() != &he)
    return false;
  const bool rescaled = op == &AbstractCiphertext::multiplyPlain;
  const bool known = rescaled || op == &AbstractCiphertext::addPlain ||
                     op == &AbstractCiphertext::addPlainRaw ||
                     op == &AbstractCiphertext::subPlain ||
                     op == &AbstractCiphertext::subPlainRaw ||
                     op == &AbstractCiphertext::multiplyPlainRaw;
  return known && certainlyMatches(p->getCurrentDevice(), p->getRawValues().size(),
                                   p->getChainIndex(), rescaled);
}

void MockupCiphertext::checkRescalable() const
{
  if (he.getTraits().getSupportsExplicitChainIndices())
    checkChainIndexTarget(chainIndex - 1);
}

int MockupCiphertext::getChainIndex() const
{
  return he.getTraits().getSupportsExplicitChainIndices() ? chainIndex : -1;
}

int MockupCiphertext::slotCount() const { return he.slotCount(); }

} // namespace quorvane
