#ifndef QUORVANE_HEBASE_SAVEDCONTEXT_H
#define QUORVANE_HEBASE_SAVEDCONTEXT_H

#include <cstdint>
#include <iosfwd>
#include <string>

#include "hebase/HeContext.h"
#include "hebase/utils/Saveable.h"

namespace quorvane {

/// Writes and checks the header of a secret-key record ("SECRETKEY" and the
/// context id); lives for one secret-key save or load.
class HeContext::KeySaver : public Saveable
{
public:
  explicit KeySaver(const HeContext& he) : he(&he) {}
  ~KeySaver() override;

  /// The id of the context the key belongs to.
  int32_t getContextId() const override;
  /// The record has no body of its own.
  void saveImpl(std::ostream& out) const override;
  void loadImpl(std::istream& in) override;
  /// "SECRETKEY".
  std::string getClassName() const override;
  bool allowsStorage() const override;

private:
  const HeContext* he;
};

} // namespace quorvane

#endif
