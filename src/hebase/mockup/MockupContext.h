#ifndef QUORVANE_HEBASE_MOCKUP_MOCKUPCONTEXT_H
#define QUORVANE_HEBASE_MOCKUP_MOCKUPCONTEXT_H

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

#include "hebase/mockup/TrackingContext.h"

namespace quorvane {

/// A complete HE context that computes on clear complex vectors while keeping
/// the scheme's bookkeeping (chain indexes, scales, slot counts).
class MockupContext : public TrackingContext
{
public:
  /// A new, uninitialised mockup context.
  MockupContext();
  ~MockupContext() override;

  /// The common saved context, then one byte: chainIndexesEnabled.
  void saveImpl(std::ostream& out, const PublicFunctions& publicFunctions) const override;
  /// The common saved context, then the chain-index byte, which decides the
  /// chain-index traits; a loaded context has no secret key.
  void loadImpl(std::istream& in) override;

  /// Refuses requirements with a security level other than 0, fewer than one
  /// slot or a negative depth.
  void init(const HeConfigRequirement& req) override;

  /// True exactly when the security level is 0.
  bool isConfigRequirementFeasible(const HeConfigRequirement& req) const override;

  std::shared_ptr<AbstractCiphertext> createAbstractCiphertext() const override;
  std::shared_ptr<AbstractPlaintext> createAbstractPlaintext() const override;
  std::shared_ptr<AbstractEncoder> getEncoder() const override;

  std::shared_ptr<MultiPartyUtils> getMultiPartyUtils() const override;
  std::shared_ptr<MultiPartyUtils> getMultiPartyUtils() override;

  std::shared_ptr<AbstractBootstrapEvaluator>
  createAbstractBootstrapEvaluator(const BootstrapConfig& config) const override;

  bool hasSecretKey() const override { return hasSecretKeyFlag; }
  /// The requirement's number of slots.
  int slotCount() const override { return requirement.numSlots; }
  /// The requirement's multiplication depth.
  int getTopChainIndex() const override { return requirement.multiplicationDepth; }
  int getSecurityLevel() const override { return 0; }

  /// The base signature, then "Slots = <n>" when initialised.
  std::ostream& printSignature(std::ostream& out) const override;

  std::shared_ptr<std::vector<uint64_t>> getModulusChain() const override;
  void setModulusChain(std::shared_ptr<std::vector<uint64_t>> chain) override;

  int64_t saveSecretKey(std::ostream& out, bool seedOnly = false) const override;
  int64_t loadSecretKey(std::istream& in, bool seedOnly = false) override;

  std::string getLibraryName() const override { return "Mockup"; }
  std::string getSchemeName() const override { return "Mockup"; }
  /// "Mockup_DEG<2 slots>_D<top chain index>".
  std::string getSignature() const override;

  /// One entry per chain index; 100.0 each unless set.
  std::vector<double> getMaxAllowedValues() const override;
  /// 1.0 unless set.
  double getMaxAllowedBsValue() const override;

  std::shared_ptr<HeContext> clone() const override;

  /// The default scale, whatever the chain index.
  double getAccurateScale(int chainIndex) const override;

  bool publicFunctionsSupported(const PublicFunctions& publicFunctions) const override;

  // ---- Value tracking ----

  /// When value tracking is on, records the largest modulus of the values at the chain index.
  void trackValues(const std::vector<std::complex<double>>& values, int chainIndex) const;
  /// When bootstrap value tracking is on, records the largest modulus of the values.
  void trackBsValues(const std::vector<std::complex<double>>& values) const;

  /// Starts recording the largest values per chain index (needs an initialised context).
  void startValuesTracking();
  /// Starts recording the largest value entering bootstrapping.
  void startBsValuesTracking();
  /// The largest value seen at each chain index (-1 where none was seen).
  const std::vector<double>& getObservedMaxValues() const { return observedMaxValues; }
  /// The largest value that entered bootstrapping, -1 when none.
  double getObservedMaxBsValue() const { return observedMaxBsValue; }
  /// Replaces the limits reported by getMaxAllowedValues (empty restores the default).
  void setMaxAllowedValues(const std::vector<double>& values) { maxAllowedValues = values; }
  /// Replaces the limit reported by getMaxAllowedBsValue (-1 restores the default).
  void setMaxAllowedBsValue(double value) { maxAllowedBsValue = value; }

private:
  bool hasSecretKeyFlag = false;
  bool chainIndexesEnabled = false;
  std::vector<uint64_t> modulusChain;
  bool valuesTracking = false;
  std::vector<double> maxAllowedValues;
  mutable std::vector<double> observedMaxValues;
  bool bsValuesTracking = false;
  double maxAllowedBsValue = -1.0;
  mutable double observedMaxBsValue = -1.0;
};

} // namespace quorvane

#endif
