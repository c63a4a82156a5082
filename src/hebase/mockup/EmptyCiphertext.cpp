#include "hebase/mockup/EmptyCiphertext.h"

#include <stdexcept>

#include "hebase/AbstractPlaintext.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/EmptyContext.h"

namespace quorvane {

namespace {

[[noreturn]] void refuseNotImplemented() { throw std::runtime_error("Not implemented"); }

} // namespace

EmptyCiphertext::EmptyCiphertext(const EmptyContext& he)
    : AbstractCiphertext(he), emptyContext(&he)
{
}

EmptyCiphertext::~EmptyCiphertext() {}

std::shared_ptr<AbstractCiphertext> EmptyCiphertext::doClone() const
{
  if (getChainIndex() != -1)
    count(RunStats::C_COPY);
  return std::shared_ptr<EmptyCiphertext>(new EmptyCiphertext(*this));
}

int64_t EmptyCiphertext::save(std::ostream&) const { refuseNotImplemented(); }

int64_t EmptyCiphertext::load(std::istream&) { refuseNotImplemented(); }

void EmptyCiphertext::checkChainIndex(int otherChainIndex) const
{
  if (!emptyContext->getTraits().getAutomaticallyManagesChainIndices() &&
      otherChainIndex != getChainIndex())
    throw std::invalid_argument("mismatching chain indexes");
}

void EmptyCiphertext::count(int code) const { emptyContext->trackOperation(code, getChainIndex()); }

void EmptyCiphertext::add(const AbstractCiphertext& other) { addRaw(other); }

void EmptyCiphertext::addRaw(const AbstractCiphertext& other)
{
  checkChainIndex(other.getChainIndex());
  count(RunStats::ADD_RAW);
}

void EmptyCiphertext::sub(const AbstractCiphertext& other) { subRaw(other); }

void EmptyCiphertext::subRaw(const AbstractCiphertext& other)
{
  checkChainIndex(other.getChainIndex());
  count(RunStats::SUB_RAW);
}

void EmptyCiphertext::multiply(const AbstractCiphertext& other)
{
  multiplyRaw(other);
  relinearize();
  rescaleRaw();
}

void EmptyCiphertext::multiplyRaw(const AbstractCiphertext& other)
{
  checkChainIndex(other.getChainIndex());
  count(RunStats::MULTIPLY_RAW);
}

void EmptyCiphertext::addPlain(const AbstractPlaintext& plain) { addPlainRaw(plain); }

void EmptyCiphertext::addPlainRaw(const AbstractPlaintext& plain)
{
  checkChainIndex(plain.getChainIndex());
  count(RunStats::ADD_PLAIN_RAW);
}

void EmptyCiphertext::subPlain(const AbstractPlaintext& plain) { subPlainRaw(plain); }

void EmptyCiphertext::subPlainRaw(const AbstractPlaintext& plain)
{
  checkChainIndex(plain.getChainIndex());
  count(RunStats::SUB_PLAIN_RAW);
}

void EmptyCiphertext::multiplyPlain(const AbstractPlaintext& plain)
{
  multiplyPlainRaw(plain);
  rescaleRaw();
}

void EmptyCiphertext::multiplyPlainRaw(const AbstractPlaintext& plain)
{
  checkChainIndex(plain.getChainIndex());
  count(RunStats::MULTIPLY_PLAIN_RAW);
}

void EmptyCiphertext::square()
{
  squareRaw();
  relinearize();
  rescaleRaw();
}

void EmptyCiphertext::squareRaw() { count(RunStats::SQUARE_RAW); }

void EmptyCiphertext::multiplyScalar(int) { count(RunStats::MULTIPLY_PLAIN_RAW); }

void EmptyCiphertext::relinearize() { count(RunStats::RELINEARIZE); }

void EmptyCiphertext::rescale() { rescaleRaw(); }

void EmptyCiphertext::rescaleRaw()
{
  count(RunStats::RESCALE_RAW);
  reduceChainIndex();
}

void EmptyCiphertext::setScale(double) {}

double EmptyCiphertext::getScale() const { return 1.0; }

void EmptyCiphertext::conjugate() { refuseNotImplemented(); }

void EmptyCiphertext::conjugateRaw() { refuseNotImplemented(); }

void EmptyCiphertext::negate() { count(RunStats::NEGATE); }

void EmptyCiphertext::rotate(int n)
{
  count(RunStats::ROTATE);
  emptyContext->trackRotation(n);
}

void EmptyCiphertext::innerSum(int rot1, int rot2, bool reverse)
{
  if (rot1 <= 0 || rot2 <= 0)
    throw std::invalid_argument("Rotation offsets should be positive.");
  std::shared_ptr<AbstractCiphertext> t = doClone();
  // Doubling a positive int overflows long before a realistic rot2; stop there.
  for (int64_t a = rot1; a < rot2; a *= 2) {
    int step = static_cast<int>(a);
    t->rotate(reverse ? -step : step);
    add(*t);
  }
}

void EmptyCiphertext::setChainIndex(int k)
{
  chainIndexSet = true;
  if (!emptyContext->getTraits().getSupportsExplicitChainIndices())
    return;
  if (k < 0 || k > emptyContext->getTopChainIndex() || (chainIndex != -1 && k > chainIndex))
    throw std::invalid_argument("Given chain index is out of range or higher than current");
  chainIndex = k;
  emptyContext->trackChainIndex(k);
}

int EmptyCiphertext::getChainIndex() const
{
  return emptyContext->getTraits().getSupportsExplicitChainIndices() ? chainIndex : -1;
}

int EmptyCiphertext::slotCount() const { return emptyContext->slotCount(); }

void EmptyCiphertext::multiplyByChangingScale(double) { refuseNotImplemented(); }

} // namespace quorvane
