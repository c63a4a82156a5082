#ifndef QUORVANE_HEBASE_MOCKUP_EMPTYCONTEXT_H
#define QUORVANE_HEBASE_MOCKUP_EMPTYCONTEXT_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "hebase/mockup/TrackingContext.h"

namespace quorvane {

/// A context that holds no data: its ciphertexts and plaintexts carry only a
/// chain index, and every operation moves the chain index as a CKKS backend
/// would and counts itself. Tells the depth and operation counts of a
/// computation without computing. Constructed directly; not registered,
/// cloned, saved or loaded.
class EmptyContext : public TrackingContext
{
public:
  /// A new, uninitialised empty context.
  EmptyContext();
  ~EmptyContext() override;

  /// Refused: "Not implemented".
  void saveImpl(std::ostream& out, const PublicFunctions& publicFunctions) const override;
  /// Refused: "Not implemented".
  void loadImpl(std::istream& in) override;

  /// The base init without a feasibility check, then the bootstrap set-up
  /// when bootstrappable. Refuses fewer than one slot or a negative depth.
  void init(const HeConfigRequirement& req) override;

  /// Refused: "Not implemented".
  bool isConfigRequirementFeasible(const HeConfigRequirement& req) const override;

  std::shared_ptr<AbstractCiphertext> createAbstractCiphertext() const override;
  std::shared_ptr<AbstractPlaintext> createAbstractPlaintext() const override;
  std::shared_ptr<AbstractEncoder> getEncoder() const override;

  std::shared_ptr<AbstractBootstrapEvaluator>
  createAbstractBootstrapEvaluator(const BootstrapConfig& config) const override;

  bool hasSecretKey() const override { return true; }
  /// The requirement's number of slots.
  int slotCount() const override { return requirement.numSlots; }
  /// The requirement's multiplication depth.
  int getTopChainIndex() const override { return requirement.multiplicationDepth; }
  int getSecurityLevel() const override { return 0; }

  /// Refused: "Not implemented".
  int64_t saveSecretKey(std::ostream& out, bool seedOnly = false) const override;
  /// Refused: "Not implemented".
  int64_t loadSecretKey(std::istream& in, bool seedOnly = false) override;

  /// "Empty".
  std::string getLibraryName() const override;
  /// "Empty".
  std::string getSchemeName() const override;
  /// Refused: "Not implemented".
  std::string getSignature() const override;

  /// An empty map.
  std::map<std::string, int64_t> getEstimatedMeasures() const override;

  bool publicFunctionsSupported(const PublicFunctions&) const override { return true; }

private:
  std::map<std::string, int64_t> estimatedMeasures;
};

} // namespace quorvane

#endif
