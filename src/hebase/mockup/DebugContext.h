#ifndef QUORVANE_HEBASE_MOCKUP_DEBUGCONTEXT_H
#define QUORVANE_HEBASE_MOCKUP_DEBUGCONTEXT_H

#include <memory>
#include <string>
#include <vector>

#include "hebase/HeContext.h"

namespace quorvane {

/// Runs every computation on two contexts at once and checks after each
/// ciphertext operation that both decrypt to the same values within a
/// threshold. The first context is the one whose properties are reported.
/// The two contexts are not owned and must outlive this one.
class DebugContext : public HeContext
{
public:
  /// h1 and h2 must be both initialised (this context is then initialised
  /// with h1's requirement) or both uninitialised. A negative threshold
  /// switches the comparisons off; verbose prints statistics at each one.
  DebugContext(HeContext& h1, HeContext& h2, double diffThreshold, bool verbose);
  ~DebugContext() override;

  /// h1's print titled "HE context 1: " + title, then h2's.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

  /// The common record of this context, then the saved contexts of h1 and h2.
  void saveImpl(std::ostream& out, const PublicFunctions& publicFunctions) const override;
  /// The common record of this context, then loads h1 and h2; a failure
  /// leaves all three uninitialised.
  void loadImpl(std::istream& in) override;

  /// Initialises this context, then h1 and h2, with the requirement; this
  /// context counts as initialised only once both have been.
  void init(const HeConfigRequirement& req) override;

  bool isConfigRequirementFeasible(const HeConfigRequirement& req) const override;
  int getBestFeasibleFractionalPartPrecision(const HeConfigRequirement& req) const override;
  int getBestFeasibleMulDepth(const HeConfigRequirement& req) const override;

  std::shared_ptr<AbstractCiphertext> createAbstractCiphertext() const override;
  std::shared_ptr<AbstractPlaintext> createAbstractPlaintext() const override;
  std::shared_ptr<AbstractEncoder> getEncoder() const override;

  bool hasSecretKey() const override;
  int slotCount() const override;
  int getTopChainIndex() const override;
  int getSecurityLevel() const override;

  /// The base signature, the threshold line, then both contexts' signatures.
  std::ostream& printSignature(std::ostream& out) const override;

  std::shared_ptr<std::vector<uint64_t>> getModulusChain() const override;

  /// h1's secret-key record, then h2's.
  int64_t saveSecretKey(std::ostream& out, bool seedOnly = false) const override;
  int64_t loadSecretKey(std::istream& in, bool seedOnly = false) override;

  void setDefaultDevice(DeviceType device) override;
  /// h1's default scale.
  double getDefaultScale() const override;
  void setDefaultScale(double scale) override;

  /// "DEBUG:" + h1's library name + ":" + h2's.
  std::string getLibraryName() const override;
  /// "DEBUG:" + h1's scheme name + ":" + h2's.
  std::string getSchemeName() const override;
  /// "DEBUG_" + h1's signature.
  std::string getSignature() const override;

  std::vector<double> getMaxAllowedValues() const override;
  double getMaxAllowedValue(int highChainIndex, int lowChainIndex) const override;
  double getMaxAllowedValue(int chainIndex) const override;
  double getMaxAllowedBsValue() const override;
  double getAccurateScale(int chainIndex) const override;
  int getMinChainIndexForBootstrapping() const override;
  int getChainIndexAfterBootstrapping() const override;
  BootstrapConfig getBootstrapChainIndexes(const HeConfigRequirement& req) const override;
  int getMinSupportedNumSlots() const override;
  int getMaxSupportedNumSlots() const override;
  bool publicFunctionsSupported(const PublicFunctions& publicFunctions) const override;

  double getDiffThreshold() const { return diffThreshold; }
  /// A negative value switches the comparisons off.
  void setDiffThreshold(double threshold) { diffThreshold = threshold; }
  bool getVerbose() const { return verbose; }

  HeContext& getFirstContext() const { return h1; }
  HeContext& getSecondContext() const { return h2; }

private:
  /// Refuses when either inner context is initialised, before anything changes.
  void assertInnerContextsNotInitialized() const;

  HeContext& h1;
  HeContext& h2;
  double diffThreshold;
  bool verbose;
};

/// Refuses (std::runtime_error) a loaded debug tile of which one half holds
/// values and the other is empty.
void checkLoadedHalves(bool firstEmpty, bool secondEmpty);

} // namespace quorvane

#endif
