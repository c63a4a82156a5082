#include "hebase/mockup/DebugPlaintext.h"

#include "hebase/mockup/DebugContext.h"

namespace quorvane {

DebugPlaintext::DebugPlaintext(const DebugContext& context, std::shared_ptr<AbstractPlaintext> p1,
                               std::shared_ptr<AbstractPlaintext> p2)
    : AbstractPlaintext(context), context(&context), p1(std::move(p1)), p2(std::move(p2))
{
}

DebugPlaintext::~DebugPlaintext() {}

void DebugPlaintext::debugPrint(const std::string& title, Verbosity verbosity,
                                std::ostream& out) const
{
  p1->debugPrint("p1: " + title, verbosity, out);
  p2->debugPrint("p2: " + title, verbosity, out);
}

std::shared_ptr<AbstractPlaintext> DebugPlaintext::doClone() const
{
  return std::make_shared<DebugPlaintext>(*context, p1->clone(), p2->clone());
}

int64_t DebugPlaintext::save(std::ostream& out) const
{
  int64_t count = p1->save(out);
  return count + p2->save(out);
}

int64_t DebugPlaintext::load(std::istream& in)
{
  // As DebugCiphertext::load: both halves or neither.
  std::shared_ptr<AbstractPlaintext> loaded1 = p1->getContext().createAbstractPlaintext();
  std::shared_ptr<AbstractPlaintext> loaded2 = p2->getContext().createAbstractPlaintext();
  loaded1->setScale(p1->getScale());
  loaded2->setScale(p2->getScale());
  int64_t count = loaded1->load(in);
  count += loaded2->load(in);
  checkLoadedHalves(loaded1->isEmpty(), loaded2->isEmpty());
  p1 = std::move(loaded1);
  p2 = std::move(loaded2);
  return count;
}

void DebugPlaintext::setChainIndex(int chainIndex)
{
  p1->setChainIndex(chainIndex);
  p2->setChainIndex(chainIndex);
}

int DebugPlaintext::getChainIndex() const { return p1->getChainIndex(); }

bool DebugPlaintext::isEmpty() const { return p1->isEmpty(); }

void DebugPlaintext::setScale(double scale)
{
  p1->setScale(scale);
  p2->setScale(scale);
}

double DebugPlaintext::getScale() const { return p1->getScale(); }

int DebugPlaintext::slotCount() const { return context->slotCount(); }

} // namespace quorvane
