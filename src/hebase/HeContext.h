#ifndef QUORVANE_HEBASE_HECONTEXT_H
#define QUORVANE_HEBASE_HECONTEXT_H

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hebase/DeviceType.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeTraits.h"
#include "hebase/RotateDependencyMapper.h"
#include "hebase/utils/Printable.h"

namespace quorvane {

class AbstractCiphertext;
class AbstractPlaintext;
class AbstractEncoder;
class AbstractFunctionEvaluator;
class AbstractBootstrapEvaluator;
class BootstrapEvaluator;
class BitwiseEvaluator;
class MultiPartyUtils;

/// An HE context: one configured scheme with its keys, and the factory of its
/// backend's ciphertexts, plaintexts, encoders and bootstrap evaluators.
///
/// A context is created uninitialised (by a backend constructor, clone or the
/// registry) and initialised exactly once, by init or by loading a saved
/// context. Objects made from a context refer to it; it must outlive them.
class HeContext : public Printable
{
public:
  /// Registry of uninitialised prototypes, keyed by library name + "_" + scheme name.
  typedef std::map<std::string, std::shared_ptr<HeContext>> ContextRegistry;

  ~HeContext() override;

  /// Nothing at VERBOSITY_NONE; otherwise the title line (when set) and the signature.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

  /// Writes the part of a saved context common to all backends.
  virtual void saveImpl(std::ostream& out, const PublicFunctions& publicFunctions) const;
  /// Reads the common part of a saved context into this uninitialised context.
  virtual void loadImpl(std::istream& in);

  /// Initialises the context for the requirement (see the base steps in the source).
  virtual void init(const HeConfigRequirement& req);

  /// A requirement suitable for generic packing; light asks for depth 10 and few slots.
  virtual HeConfigRequirement getConfigRequirementForGenericPacking(bool light) const;

  /// Whether this backend can meet the requirement.
  virtual bool isConfigRequirementFeasible(const HeConfigRequirement& req) const = 0;

  /// The requirement actually used for req (bootstrap chain indexes filled in).
  virtual HeConfigRequirement getActualConfigRequirement(const HeConfigRequirement& req) const;

  virtual int getBestFeasibleFractionalPartPrecision(const HeConfigRequirement& req) const;
  virtual int getBestFeasibleMulDepth(const HeConfigRequirement& req) const;

  /// The smallest feasible slot count among 4, 8, ..., 65536, or -1.
  virtual int getMinFeasibleNumSlots(const HeConfigRequirement& req) const;

  /// A new, empty backend ciphertext of this context.
  virtual std::shared_ptr<AbstractCiphertext> createAbstractCiphertext() const = 0;
  /// A new, empty backend plaintext of this context.
  virtual std::shared_ptr<AbstractPlaintext> createAbstractPlaintext() const = 0;
  /// A new backend encoder of this context.
  virtual std::shared_ptr<AbstractEncoder> getEncoder() const = 0;

  /// A new evaluator of scheme-native functions of this context; the base
  /// evaluator, which implements none.
  virtual std::shared_ptr<AbstractFunctionEvaluator> getFunctionEvaluator() const;
  virtual std::shared_ptr<BitwiseEvaluator> getBitwiseEvaluator() const;

  /// Multi-party utilities for protocols that only read the context.
  virtual std::shared_ptr<MultiPartyUtils> getMultiPartyUtils() const;
  /// Multi-party utilities for protocols that change the context.
  virtual std::shared_ptr<MultiPartyUtils> getMultiPartyUtils();

  /// A new backend bootstrap evaluator for the configuration.
  virtual std::shared_ptr<AbstractBootstrapEvaluator>
  createAbstractBootstrapEvaluator(const BootstrapConfig& config) const;

  virtual bool hasSecretKey() const = 0;
  virtual int slotCount() const = 0;
  virtual int getTopChainIndex() const = 0;
  virtual int getSecurityLevel() const = 0;

  /// Version line, then names, context id and key state.
  virtual std::ostream& printSignature(std::ostream& out) const;

  virtual std::shared_ptr<std::vector<uint64_t>> getModulusChain() const;
  virtual void setModulusChain(std::shared_ptr<std::vector<uint64_t>> chain);

  /// Writes the secret-key record; returns the number of bytes written.
  virtual int64_t saveSecretKey(std::ostream& out, bool seedOnly = false) const;
  /// Reads a secret-key record; returns the number of bytes read.
  virtual int64_t loadSecretKey(std::istream& in, bool seedOnly = false);

  virtual DeviceType getDefaultDevice() const;
  virtual void setDefaultDevice(DeviceType device);
  virtual double getDefaultScale() const;
  virtual void setDefaultScale(double scale);

  virtual std::string getLibraryName() const = 0;
  virtual std::string getSchemeName() const = 0;
  /// Distinguishes configurations of this backend; the base returns the scheme name.
  virtual std::string getSignature() const;

  virtual std::map<std::string, int64_t> getEstimatedMeasures() const;

  /// Largest value allowed at each chain index.
  virtual std::vector<double> getMaxAllowedValues() const;
  /// Largest allowed value over the chain indexes lowChainIndex .. highChainIndex.
  virtual double getMaxAllowedValue(int highChainIndex, int lowChainIndex) const;
  /// Allowed value at the chain index.
  virtual double getMaxAllowedValue(int chainIndex) const;
  virtual double getMaxAllowedBsValue() const;

  /// A new, uninitialised context of the same backend.
  virtual std::shared_ptr<HeContext> clone() const;

  virtual double getAccurateScale(int chainIndex) const;
  virtual int getMinChainIndexForBootstrapping() const;
  virtual int getChainIndexAfterBootstrapping() const;
  /// A bootstrap configuration whose chain indexes suit the requirement.
  virtual BootstrapConfig getBootstrapChainIndexes(const HeConfigRequirement& req) const;
  virtual int getMinSupportedNumSlots() const;
  virtual int getMaxSupportedNumSlots() const;

  virtual bool publicFunctionsSupported(const PublicFunctions& publicFunctions) const = 0;

  /// Refuses public functions that this context cannot save.
  virtual void checkPublicFunctionsForSave(const PublicFunctions& publicFunctions) const;

  // ---- State ----

  bool isInitialized() const { return initialized; }
  /// Throws std::runtime_error unless initialised.
  void assertInitialized() const;
  /// Throws std::runtime_error when initialised.
  void assertNotInitialized() const;

  int32_t getContextId() const { return contextId; }
  /// Replaces the context id (the initialisation protocol gives every
  /// participant the same one).
  void setContextId(int32_t id) { contextId = id; }
  /// Refuses an object of another context with std::invalid_argument "The
  /// operand belongs to another HE context (...) than this object (...)".
  /// Contexts of one backend with the same context id (a context and those
  /// loaded from its saved form) share their keys and are the same context.
  void checkSameContext(const HeContext& operandContext) const;
  const HeTraits& getTraits() const { return traits; }
  const HeConfigRequirement& getHeConfigRequirement() const { return requirement; }
  const PublicFunctions& getPublicFunctions() const { return requirement.publicFunctions; }

  bool getBootstrappable() const { return requirement.bootstrappable; }
  bool isMultiParty() const { return requirement.multiPartyConfig.has_value(); }
  bool getAutomaticBootstrapping() const { return requirement.automaticBootstrapping; }
  /// Refuses true on a context that is not bootstrappable.
  void setAutomaticBootstrapping(bool value);

  /// The requirement's bootstrap configuration; refused when not bootstrappable.
  const BootstrapConfig& getBootstrapConfig() const;
  /// The context's bootstrap evaluator; refused when not bootstrappable.
  BootstrapEvaluator& getBootstrapEvaluator() const;

  /// getLibraryName() + "_" + getSchemeName().
  std::string getRegistryKey() const;

  /// init(getConfigRequirementForGenericPacking(light)).
  void initForGenericPacking(bool light = false);

  /// Appends key rotations whose sum is the rotation; false when impossible.
  bool decomposeRotation(int rotation, std::vector<int>& steps) const;

  // ---- Saving and loading ----

  /// Saves the context with its own public functions; returns the bytes written.
  int64_t save(std::ostream& out) const;
  /// Saves the context with the given public functions; returns the bytes written.
  int64_t save(std::ostream& out, const PublicFunctions& publicFunctions) const;
  int64_t saveToFile(const std::string& path) const;
  int64_t saveToFile(const std::string& path, const PublicFunctions& publicFunctions) const;
  /// Loads a saved context of this backend into this uninitialised context.
  int64_t load(std::istream& in);
  int64_t loadFromFile(const std::string& path);
  int64_t saveSecretKeyToFile(const std::string& path, bool seedOnly = false) const;
  int64_t loadSecretKeyFromFile(const std::string& path, bool seedOnly = false);

  // ---- Registry ----

  /// The registry of prototypes (built on first use; holds the built-in prototypes).
  static ContextRegistry& getContextRegistry();
  /// Takes ownership of an uninitialised prototype under its registry key.
  static bool registerContext(HeContext* prototype);
  /// A clone of the prototype registered under name, initialised with req.
  static std::shared_ptr<HeContext> create(const std::string& name,
                                           const HeConfigRequirement& req);
  /// An uninitialised clone of the first registered name of the list.
  static std::shared_ptr<HeContext> create(const std::vector<std::string>& prioritizedNames);
  static bool isRegisteredContext(const std::string& name);
  /// An uninitialised clone of the prototype registered under name.
  static std::shared_ptr<HeContext> createFromRegistry(const std::string& name);

  /// Writes and checks the header of a secret-key record.
  class KeySaver;

protected:
  HeContext();
  HeContext(const HeContext&) = delete;
  HeContext& operator=(const HeContext&) = delete;

  /// Sets up bootstrapping when the requirement asks for it; backends call it last in init.
  void initBootstrap();
  /// Rebuilds the bootstrap evaluator of a loaded bootstrappable context.
  void restoreBootstrapEvaluator();
  /// Builds the rotation map from the requirement's slot count and rotation steps.
  void initRotationMap();
  /// Runs steps; when they throw, puts the fields of this base class back as
  /// they were and rethrows, so that a refused init or load changes nothing.
  void runOrRestore(const std::function<void()>& steps);
  /// Refuses a loaded requirement this backend cannot hold; called by loadImpl
  /// before it adopts the requirement and builds the rotation map from it
  /// (whose size the slot count decides). Accepts everything by default.
  virtual void checkLoadedRequirement(const HeConfigRequirement& req) const;

  int32_t defaultDevice = DEVICE_CPU;
  double defaultScale = 1.0;
  int32_t contextId = 0;
  std::shared_ptr<BootstrapEvaluator> bootstrapEvaluator;
  HeConfigRequirement requirement;
  RotateDependencyMapper rotateDependencyMapper;
  HeTraits traits;
  bool initialized = false;
};

/// Loads a context whose backend is recorded in the stream; the stream must
/// start with the saved context.
std::shared_ptr<HeContext> loadHeContext(std::istream& in);
std::shared_ptr<HeContext> loadHeContextFromFile(const std::string& path);

} // namespace quorvane

#endif
