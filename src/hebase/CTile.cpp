#include "hebase/CTile.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "hebase/AbstractCiphertext.h"
#include "hebase/AbstractPlaintext.h"
#include "hebase/BootstrapEvaluator.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/ValueChecks.h"
#include "math/MathUtils.h"

namespace quorvane {

namespace {

std::string formatFixed(double value)
{
  char text[64];
  std::snprintf(text, sizeof(text), "%f", value);
  return text;
}

/// Runs the backend operation on target with other, after aligning their
/// chain indexes (through a lowered copy of other where needed).
void applyAligned(CTile& target, const CTile& other,
                  void (AbstractCiphertext::*op)(const AbstractCiphertext&))
{
  std::unique_ptr<CTile> lowered = target.alignChainIndexes(other);
  (target.getImpl().*op)((lowered ? *lowered : other).getImpl());
}

/// The same with a plaintext operand, replaced by a re-encoded or lowered
/// copy where the chain indexes differ.
void applyAligned(CTile& target, const PTile& other,
                  void (AbstractCiphertext::*op)(const AbstractPlaintext&))
{
  std::unique_ptr<PTile> aligned = target.alignPlainChainIndex(other);
  (target.getImpl().*op)((aligned ? *aligned : other).getImpl());
}

} // namespace

CTile::CTile(const HeContext& he) : impl(he.createAbstractCiphertext()) {}

CTile::CTile(const CTile& src) : Tile(src), impl(src.impl ? src.impl->clone() : nullptr) {}

CTile::CTile(CTile&& src) noexcept : Tile(src), impl(std::move(src.impl)) {}

CTile& CTile::operator=(const CTile& src)
{
  if (this != &src)
    impl = src.impl ? src.impl->clone() : nullptr;
  return *this;
}

CTile& CTile::operator=(CTile&& src) noexcept
{
  if (this != &src)
    impl = std::move(src.impl);
  return *this;
}

CTile::~CTile() {}

std::shared_ptr<Saveable> CTile::createAndLoad(const HeContext& he, const SaveableHeader& header,
                                               std::istream& in)
{
  auto tile = std::make_shared<CTile>(he);
  tile->load(in, header);
  return tile;
}

void CTile::debugPrint(const std::string& title, Verbosity verbosity, std::ostream& out) const
{
  impl->debugPrint(title, verbosity, out);
}

int32_t CTile::getContextId() const { return getHeContext().getContextId(); }

void CTile::saveImpl(std::ostream& out) const
{
  reencryptIfTransparent();
  impl->save(out);
}

void CTile::loadImpl(std::istream& in)
{
  impl->load(in);
  impl->toDevice(getHeContext().getDefaultDevice());
}

std::string CTile::getClassName() const { return "CTile"; }

std::unique_ptr<Tile> CTile::clone() const { return std::make_unique<CTile>(*this); }

int64_t CTile::getEstimatedMemoryUsageBytes() const
{
  return impl->getEstimatedMemoryUsageBytes();
}

void CTile::reduceChainIndex() { impl->reduceChainIndex(); }

void CTile::setChainIndex(int chainIndex) { impl->setChainIndex(chainIndex); }

int CTile::getChainIndex() const { return impl->getChainIndex(); }

void CTile::setScale(double scale)
{
  ValueChecks::checkScale(scale);
  impl->setScale(scale);
}

double CTile::getScale() const { return impl->getScale(); }

void CTile::toDevice(DeviceType device) { impl->toDevice(device); }

DeviceType CTile::getCurrentDevice() const { return impl->getCurrentDevice(); }

int CTile::slotCount() const { return impl->slotCount(); }

void CTile::addTo(CTile& target) const { target.add(*this); }

void CTile::addToRaw(CTile& target) const { target.addRaw(*this); }

void CTile::subFrom(CTile& target) const { target.sub(*this); }

void CTile::subFromRaw(CTile& target) const { target.subRaw(*this); }

void CTile::multiplyToRaw(CTile& target) const { target.multiplyRaw(*this); }

void CTile::multiplyTo(CTile& target) const { target.multiply(*this); }

const HeContext& CTile::getHeContext() const { return impl->getContext(); }

void CTile::checkOperand(const CTile& other) const
{
  getHeContext().checkSameContext(other.getHeContext());
}

void CTile::checkOperand(const PTile& other) const
{
  getHeContext().checkSameContext(other.getHeContext());
}

bool CTile::isEmpty() const { return !impl || impl->isEmpty(); }

// ---- Management steps ----

void CTile::reencryptIfTransparent() const
{
  if (impl->isEmpty() || !impl->isTransparent())
    return;
  // A fresh encryption of zero at the same scale and chain index, made the
  // backend's way, added to the transparent ciphertext: the result is no
  // longer transparent and keeps the values (a transparent ciphertext may hold
  // more than zero, for example after a plaintext was added to it).
  std::shared_ptr<AbstractCiphertext> zero = impl->clone();
  zero->encryptZeroIfTransparent();
  impl->addRaw(*zero);
}

void CTile::autoBootstrapThis()
{
  const HeContext& he = getHeContext();
  if (he.getAutomaticBootstrapping() && getChainIndex() == he.getMinChainIndexForBootstrapping())
    bootstrap();
}

std::unique_ptr<CTile> CTile::autoBootstrap(const CTile& other)
{
  checkOperand(other);
  autoBootstrapThis();
  // When other is this tile, it has just left the bootstrapping chain index.
  const HeContext& he = getHeContext();
  if (he.getAutomaticBootstrapping() &&
      other.getChainIndex() == he.getMinChainIndexForBootstrapping()) {
    auto copy = std::make_unique<CTile>(other);
    other.getHeContext().getBootstrapEvaluator().bootstrap(*copy);
    return copy;
  }
  return nullptr;
}

std::unique_ptr<CTile> CTile::alignChainIndexes(const CTile& other)
{
  checkOperand(other);
  if (!getHeContext().getTraits().getSupportsModSwitch())
    return nullptr;
  int a = getChainIndex();
  int b = other.getChainIndex();
  if (a < b) {
    auto copy = std::make_unique<CTile>(other);
    copy->setChainIndex(a);
    return copy;
  }
  if (b < a)
    setChainIndex(b);
  return nullptr;
}

std::unique_ptr<PTile> CTile::alignPlainChainIndex(const PTile& other) const
{
  checkOperand(other);
  int a = getChainIndex();
  int b = other.getChainIndex();
  if (b < a) {
    // A plaintext is never raised by relabelling: encode its values anew.
    auto res = std::make_unique<PTile>(getHeContext());
    other.reencode(*res, a);
    return res;
  }
  if (a < b && getHeContext().getTraits().getSupportsModSwitch()) {
    auto copy = std::make_unique<PTile>(other);
    copy->setChainIndex(a);
    return copy;
  }
  return nullptr;
}

// ---- Two-ciphertext operations ----

void CTile::add(const CTile& other)
{
  checkOperand(other);
  applyAligned(*this, other, &AbstractCiphertext::add);
  reencryptIfTransparent();
}

void CTile::addRaw(const CTile& other)
{
  checkOperand(other);
  applyAligned(*this, other, &AbstractCiphertext::addRaw);
  reencryptIfTransparent();
}

void CTile::sub(const CTile& other)
{
  checkOperand(other);
  applyAligned(*this, other, &AbstractCiphertext::sub);
  reencryptIfTransparent();
}

void CTile::subRaw(const CTile& other)
{
  checkOperand(other);
  applyAligned(*this, other, &AbstractCiphertext::subRaw);
  reencryptIfTransparent();
}

void CTile::multiply(const CTile& other)
{
  checkOperand(other);
  std::unique_ptr<CTile> bootstrapped = autoBootstrap(other);
  applyAligned(*this, bootstrapped ? *bootstrapped : other, &AbstractCiphertext::multiply);
}

void CTile::multiplyRaw(const CTile& other)
{
  checkOperand(other);
  std::unique_ptr<CTile> bootstrapped = autoBootstrap(other);
  applyAligned(*this, bootstrapped ? *bootstrapped : other, &AbstractCiphertext::multiplyRaw);
}

CTile CTile::getMultiply(const CTile& other) const
{
  CTile res(*this);
  res.multiply(other);
  return res;
}

// ---- Plaintext operations ----

void CTile::addPlain(const PTile& other)
{
  checkOperand(other);
  applyAligned(*this, other, &AbstractCiphertext::addPlain);
}

void CTile::addPlainRaw(const PTile& other)
{
  checkOperand(other);
  applyAligned(*this, other, &AbstractCiphertext::addPlainRaw);
  reencryptIfTransparent();
}

void CTile::subPlain(const PTile& other)
{
  checkOperand(other);
  applyAligned(*this, other, &AbstractCiphertext::subPlain);
}

void CTile::subPlainRaw(const PTile& other)
{
  checkOperand(other);
  applyAligned(*this, other, &AbstractCiphertext::subPlainRaw);
}

void CTile::multiplyPlain(const PTile& other)
{
  checkOperand(other);
  autoBootstrapThis();
  applyAligned(*this, other, &AbstractCiphertext::multiplyPlain);
  reencryptIfTransparent();
}

void CTile::multiplyPlainRaw(const PTile& other)
{
  checkOperand(other);
  autoBootstrapThis();
  applyAligned(*this, other, &AbstractCiphertext::multiplyPlainRaw);
  reencryptIfTransparent();
}

// ---- Any tile ----

void CTile::addTile(const Tile& other) { other.addTo(*this); }

void CTile::addTileRaw(const Tile& other) { other.addToRaw(*this); }

void CTile::subTile(const Tile& other) { other.subFrom(*this); }

void CTile::subTileRaw(const Tile& other) { other.subFromRaw(*this); }

void CTile::multiplyTile(const Tile& other) { other.multiplyTo(*this); }

void CTile::multiplyTileRaw(const Tile& other) { other.multiplyToRaw(*this); }

namespace {

typedef void (CTile::*TileOperation)(const Tile&);

/// The backend operation that op runs: the entry of backendOps at op's place
/// among addTile, addTileRaw, subTile, subTileRaw, multiplyTile and
/// multiplyTileRaw; none for another member.
template <typename BackendOp>
BackendOp backendOperation(TileOperation op, const std::array<BackendOp, 6>& backendOps)
{
  const std::array<TileOperation, 6> members = {&CTile::addTile,      &CTile::addTileRaw,
                                                &CTile::subTile,      &CTile::subTileRaw,
                                                &CTile::multiplyTile, &CTile::multiplyTileRaw};
  for (size_t i = 0; i < members.size(); ++i)
    if (members[i] == op)
      return backendOps[i];
  return nullptr;
}

} // namespace

bool CTile::certainlyAccepts(void (CTile::*op)(const Tile&), const Tile& other) const
{
  const bool product = op == &CTile::multiplyTile || op == &CTile::multiplyTileRaw;
  if (&other == this || !impl || impl->isEmpty() ||
      (product && getHeContext().getAutomaticBootstrapping()))
    return false;
  // What cannot be read (an operand holding nothing, say) leaves it untold.
  try {
    if (const auto* c = dynamic_cast<const CTile*>(&other)) {
      const auto backendOp = backendOperation<AbstractCiphertext::CipherOperation>(
          op, {&AbstractCiphertext::add, &AbstractCiphertext::addRaw, &AbstractCiphertext::sub,
               &AbstractCiphertext::subRaw, &AbstractCiphertext::multiply,
               &AbstractCiphertext::multiplyRaw});
      return backendOp != nullptr && c->impl && !c->impl->isEmpty() &&
             &c->getHeContext() == &getHeContext() && c->getChainIndex() == getChainIndex() &&
             impl->certainlyAccepts(backendOp, *c->impl);
    }
    if (const auto* p = dynamic_cast<const PTile*>(&other)) {
      const auto backendOp = backendOperation<AbstractCiphertext::PlainOperation>(
          op, {&AbstractCiphertext::addPlain, &AbstractCiphertext::addPlainRaw,
               &AbstractCiphertext::subPlain, &AbstractCiphertext::subPlainRaw,
               &AbstractCiphertext::multiplyPlain, &AbstractCiphertext::multiplyPlainRaw});
      return backendOp != nullptr && &p->getHeContext() == &getHeContext() &&
             p->getChainIndex() == getChainIndex() &&
             impl->certainlyAccepts(backendOp, p->getImpl());
    }
  } catch (const std::exception&) {
  }
  return false;
}

// ---- One-operand operations ----

void CTile::square()
{
  autoBootstrapThis();
  impl->square();
}

void CTile::squareRaw()
{
  autoBootstrapThis();
  impl->squareRaw();
}

void CTile::addScalar(int scalar) { impl->addScalar(scalar); }

void CTile::addScalar(double scalar) { impl->addScalar(scalar); }

void CTile::multiplyScalar(int scalar) { impl->multiplyScalar(scalar); }

void CTile::multiplyScalar(double scalar)
{
  autoBootstrapThis();
  impl->multiplyScalar(scalar);
}

void CTile::conjugate() { impl->conjugate(); }

void CTile::conjugateRaw() { impl->conjugateRaw(); }

void CTile::negate() { impl->negate(); }

void CTile::multiplyImaginaryUnit() { impl->multiplyImaginaryUnit(); }

void CTile::nullifyImaginaryPart() { impl->nullifyImaginaryPart(); }

void CTile::relinearize() { impl->relinearize(); }

void CTile::rescale() { impl->rescale(); }

void CTile::rescaleRaw() { impl->rescaleRaw(); }

void CTile::multiplyByChangingScale(double factor) { impl->multiplyByChangingScale(factor); }

void CTile::rotate(int n)
{
  int s = slotCount();
  int r = MathUtils::mod(n, s);
  if (r == 0)
    return;
  // Offsets within -s .. s reach the backend as they are; others are folded.
  if (n > s)
    n = r;
  else if (n < -s)
    n = r - s;
  impl->rotate(n);
}

void CTile::innerSum(int rot1, int rot2, bool reverse) { impl->innerSum(rot1, rot2, reverse); }

void CTile::sumExpBySquaringLeftToRight(int n) { impl->sumExpBySquaringLeftToRight(n); }

void CTile::sumExpBySquaringRightToLeft(int n) { impl->sumExpBySquaringRightToLeft(n); }

void CTile::bootstrap() { getHeContext().getBootstrapEvaluator().bootstrap(*this); }

void CTile::checkScale(const std::string& title, double warnEps, double errorEps, bool fix,
                       double expectedScale)
{
  double expected =
      expectedScale < 0 ? getHeContext().getAccurateScale(getChainIndex()) : expectedScale;
  double actual = getScale();
  double diff = std::abs(actual - expected);
  if (!MathUtils::isEqual(actual, expected, errorEps))
    throw std::runtime_error("ERROR: " + title + ", wrong scale: actual=" + formatFixed(actual) +
                             " expected=" + formatFixed(expected) + " diff=" + formatFixed(diff) +
                             " epsilon=" + formatFixed(errorEps));
  if (!MathUtils::isEqual(actual, expected, warnEps))
    std::cout << "WARNING: " << title << ", wrong scale: actual=" << actual
              << " expected=" << expected << " diff=" << diff << " epsilon=" << warnEps
              << std::endl;
  if (fix)
    setScale(expected);
}

} // namespace quorvane
