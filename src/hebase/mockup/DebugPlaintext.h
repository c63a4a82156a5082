#ifndef QUORVANE_HEBASE_MOCKUP_DEBUGPLAINTEXT_H
#define QUORVANE_HEBASE_MOCKUP_DEBUGPLAINTEXT_H

#include <memory>

#include "hebase/AbstractPlaintext.h"

namespace quorvane {

class DebugContext;

/// Plaintext of the debug context: a plaintext of each inner context, kept in step.
class DebugPlaintext : public AbstractPlaintext
{
public:
  DebugPlaintext(const DebugContext& context, std::shared_ptr<AbstractPlaintext> p1,
                 std::shared_ptr<AbstractPlaintext> p2);
  ~DebugPlaintext() override;

  /// p1's print titled "p1: " + title, then p2's.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

protected:
  std::shared_ptr<AbstractPlaintext> doClone() const override;

public:
  /// The first half's body, then the second's.
  int64_t save(std::ostream& out) const override;
  int64_t load(std::istream& in) override;

  void setChainIndex(int chainIndex) override;
  int getChainIndex() const override;
  void setScale(double scale) override;
  double getScale() const override;
  int slotCount() const override;
  bool isEmpty() const override;

  AbstractPlaintext& getP1() const { return *p1; }
  AbstractPlaintext& getP2() const { return *p2; }

private:
  const DebugContext* context;
  std::shared_ptr<AbstractPlaintext> p1;
  std::shared_ptr<AbstractPlaintext> p2;
};

} // namespace quorvane

#endif
