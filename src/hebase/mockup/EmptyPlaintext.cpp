#include "hebase/mockup/EmptyPlaintext.h"

#include <stdexcept>

#include "hebase/mockup/EmptyContext.h"

namespace quorvane {

EmptyPlaintext::EmptyPlaintext(const EmptyContext& he)
    : AbstractPlaintext(he), emptyContext(&he), chainIndex(he.getTopChainIndex())
{
}

EmptyPlaintext::~EmptyPlaintext() {}

std::shared_ptr<AbstractPlaintext> EmptyPlaintext::doClone() const
{
  return std::shared_ptr<EmptyPlaintext>(new EmptyPlaintext(*this));
}

int64_t EmptyPlaintext::save(std::ostream&) const
{
  throw std::runtime_error("Not implemented");
}

int64_t EmptyPlaintext::load(std::istream&) { throw std::runtime_error("Not implemented"); }

void EmptyPlaintext::setChainIndex(int k)
{
  if (!emptyContext->getTraits().getSupportsExplicitChainIndices())
    return;
  if (k < 0 || k > emptyContext->getTopChainIndex())
    throw std::invalid_argument("Given chain index is out of range");
  chainIndex = k;
  emptyContext->trackChainIndex(k);
}

int EmptyPlaintext::getChainIndex() const
{
  return emptyContext->getTraits().getSupportsExplicitChainIndices() ? chainIndex : -1;
}

void EmptyPlaintext::setScale(double) {}

double EmptyPlaintext::getScale() const { return 1.0; }

int EmptyPlaintext::slotCount() const { return emptyContext->slotCount(); }

} // namespace quorvane
