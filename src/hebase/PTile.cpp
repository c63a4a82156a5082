#include "hebase/PTile.h"

#include "hebase/AbstractPlaintext.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/ValueChecks.h"

namespace quorvane {

PTile::PTile(const HeContext& he) : impl(he.createAbstractPlaintext()) {}

PTile::PTile(const PTile& src) : Tile(src), impl(src.impl ? src.impl->clone() : nullptr) {}

PTile::PTile(PTile&& src) noexcept : Tile(src), impl(std::move(src.impl)) {}

PTile& PTile::operator=(const PTile& src)
{
  if (this != &src)
    impl = src.impl ? src.impl->clone() : nullptr;
  return *this;
}

PTile& PTile::operator=(PTile&& src) noexcept
{
  if (this != &src)
    impl = std::move(src.impl);
  return *this;
}

PTile::~PTile() {}

std::shared_ptr<Saveable> PTile::createAndLoad(const HeContext& he, const SaveableHeader& header,
                                               std::istream& in)
{
  auto tile = std::make_shared<PTile>(he);
  tile->load(in, header);
  return tile;
}

void PTile::debugPrint(const std::string& title, Verbosity verbosity, std::ostream& out) const
{
  impl->debugPrint(title, verbosity, out);
}

int32_t PTile::getContextId() const { return getHeContext().getContextId(); }

void PTile::saveImpl(std::ostream& out) const { impl->save(out); }

void PTile::loadImpl(std::istream& in)
{
  impl->load(in);
  impl->toDevice(getHeContext().getDefaultDevice());
}

std::string PTile::getClassName() const { return "PTile"; }

std::unique_ptr<Tile> PTile::clone() const { return std::make_unique<PTile>(*this); }

int64_t PTile::getEstimatedMemoryUsageBytes() const
{
  return impl->getEstimatedMemoryUsageBytes();
}

void PTile::reduceChainIndex() { impl->reduceChainIndex(); }

void PTile::setChainIndex(int chainIndex) { impl->setChainIndex(chainIndex); }

int PTile::getChainIndex() const { return impl->getChainIndex(); }

void PTile::setScale(double scale)
{
  ValueChecks::checkScale(scale);
  impl->setScale(scale);
}

double PTile::getScale() const { return impl->getScale(); }

void PTile::toDevice(DeviceType device) { impl->toDevice(device); }

DeviceType PTile::getCurrentDevice() const { return impl->getCurrentDevice(); }

int PTile::slotCount() const { return impl->slotCount(); }

bool PTile::isEmpty() const { return !impl || impl->isEmpty(); }

void PTile::addTo(CTile& target) const { target.addPlain(*this); }

void PTile::addToRaw(CTile& target) const { target.addPlainRaw(*this); }

void PTile::subFrom(CTile& target) const { target.subPlain(*this); }

void PTile::subFromRaw(CTile& target) const { target.subPlainRaw(*this); }

void PTile::multiplyToRaw(CTile& target) const { target.multiplyPlainRaw(*this); }

void PTile::multiplyTo(CTile& target) const { target.multiplyPlain(*this); }

const HeContext& PTile::getHeContext() const { return impl->getContext(); }

bool PTile::isAllZeroes() const { return impl->isAllZeroes(); }

void PTile::reencode(PTile& res, int chainIndex) const
{
  Encoder encoder(getHeContext());
  if (getHeContext().getTraits().getSupportsComplexNumbers())
    encoder.encode(res, encoder.decodeComplex(*this), chainIndex);
  else
    encoder.encode(res, encoder.decodeDouble(*this), chainIndex);
}

} // namespace quorvane
