#ifndef QUORVANE_HEBASE_MOCKUP_EMPTYPLAINTEXT_H
#define QUORVANE_HEBASE_MOCKUP_EMPTYPLAINTEXT_H

#include <cstdint>
#include <memory>

#include "hebase/AbstractPlaintext.h"

namespace quorvane {

class EmptyContext;

/// Plaintext of the empty context: only a chain index, the top one at creation.
class EmptyPlaintext : public AbstractPlaintext
{
public:
  explicit EmptyPlaintext(const EmptyContext& he);
  ~EmptyPlaintext() override;

protected:
  std::shared_ptr<AbstractPlaintext> doClone() const override;

public:
  /// Refused: "Not implemented".
  int64_t save(std::ostream& out) const override;
  /// Refused: "Not implemented".
  int64_t load(std::istream& in) override;

  /// Any chain index from 0 to the top; refuses others with std::invalid_argument.
  void setChainIndex(int chainIndex) override;
  /// The chain index, -1 when the context hides chain indexes.
  int getChainIndex() const override;
  /// Does nothing.
  void setScale(double scale) override;
  /// 1.0.
  double getScale() const override;
  int slotCount() const override;

private:
  EmptyPlaintext(const EmptyPlaintext& src) = default;

  const EmptyContext* emptyContext;
  int32_t chainIndex;
};

} // namespace quorvane

#endif
