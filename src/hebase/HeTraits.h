#ifndef QUORVANE_HEBASE_HETRAITS_H
#define QUORVANE_HEBASE_HETRAITS_H

#include <cstdint>

namespace quorvane {

/// Flags that describe what a context's backend can do and how it behaves.
/// All false (and the modulus 0) until the backend's constructor sets them.
class HeTraits
{
public:
  bool getSupportsCKKSBootstrapping() const { return supportsCKKSBootstrapping; }
  void setSupportsCKKSBootstrapping(bool v) { supportsCKKSBootstrapping = v; }

  bool getSupportsBootstrapping() const { return supportsBootstrapping; }
  void setSupportsBootstrapping(bool v) { supportsBootstrapping = v; }

  bool getSupportsExplicitRescale() const { return supportsExplicitRescale; }
  void setSupportsExplicitRescale(bool v) { supportsExplicitRescale = v; }

  bool getAutomaticallyManagesChainIndices() const { return automaticallyManagesChainIndices; }
  void setAutomaticallyManagesChainIndices(bool v) { automaticallyManagesChainIndices = v; }

  bool getSupportsModSwitch() const { return supportsModSwitch; }
  void setSupportsModSwitch(bool v) { supportsModSwitch = v; }

  bool getAutomaticallyManagesRescale() const { return automaticallyManagesRescale; }
  void setAutomaticallyManagesRescale(bool v) { automaticallyManagesRescale = v; }

  bool getDefersRescale() const { return defersRescale; }
  void setDefersRescale(bool v) { defersRescale = v; }

  bool getSupportsExplicitChainIndices() const { return supportsExplicitChainIndices; }
  void setSupportsExplicitChainIndices(bool v) { supportsExplicitChainIndices = v; }

  bool getSupportsComplexNumbers() const { return supportsComplexNumbers; }
  void setSupportsComplexNumbers(bool v) { supportsComplexNumbers = v; }

  bool getSupportsBitwiseOperations() const { return supportsBitwiseOperations; }
  void setSupportsBitwiseOperations(bool v) { supportsBitwiseOperations = v; }

  bool getSupportsValuesLimitation() const { return supportsValuesLimitation; }
  void setSupportsValuesLimitation(bool v) { supportsValuesLimitation = v; }

  bool getSupportsBsValuesLimitation() const { return supportsBsValuesLimitation; }
  void setSupportsBsValuesLimitation(bool v) { supportsBsValuesLimitation = v; }

  bool getIsModularArithmetic() const { return isModularArithmetic; }
  void setIsModularArithmetic(bool v) { isModularArithmetic = v; }

  bool getSupportsScaledEncoding() const { return supportsScaledEncoding; }
  void setSupportsScaledEncoding(bool v) { supportsScaledEncoding = v; }

  uint32_t getArithmeticModulus() const { return arithmeticModulus; }
  void setArithmeticModulus(uint32_t v) { arithmeticModulus = v; }

  bool getIsDebugEmpty() const { return isDebugEmpty; }
  void setIsDebugEmpty(bool v) { isDebugEmpty = v; }

  bool getSupportsDecryptAddedNoise() const { return supportsDecryptAddedNoise; }
  void setSupportsDecryptAddedNoise(bool v) { supportsDecryptAddedNoise = v; }

  /// The default scale stands for every chain index (the mockup backend).
  bool getUsesDefaultScale() const { return usesDefaultScale; }
  void setUsesDefaultScale(bool v) { usesDefaultScale = v; }
  /// Same flag as getUsesDefaultScale: only the mockup backend sets it.
  bool getIsMockup() const { return usesDefaultScale; }

  bool getSupportsSecKeySeed() const { return supportsSecKeySeed; }
  void setSupportsSecKeySeed(bool v) { supportsSecKeySeed = v; }

  bool getSupportsGpu() const { return supportsGpu; }
  void setSupportsGpu(bool v) { supportsGpu = v; }

  bool getSupportsHandleTransparentCiphertexts() const
  {
    return supportsHandleTransparentCiphertexts;
  }
  void setSupportsHandleTransparentCiphertexts(bool v)
  {
    supportsHandleTransparentCiphertexts = v;
  }

private:
  bool supportsCKKSBootstrapping = false;
  bool supportsBootstrapping = false;
  bool supportsExplicitRescale = false;
  bool automaticallyManagesChainIndices = false;
  bool supportsModSwitch = false;
  bool automaticallyManagesRescale = false;
  bool defersRescale = false;
  bool supportsExplicitChainIndices = false;
  bool supportsComplexNumbers = false;
  bool supportsBitwiseOperations = false;
  bool supportsValuesLimitation = false;
  bool supportsBsValuesLimitation = false;
  bool isModularArithmetic = false;
  bool supportsScaledEncoding = false;
  uint32_t arithmeticModulus = 0;
  bool isDebugEmpty = false;
  bool supportsDecryptAddedNoise = false;
  bool usesDefaultScale = false;
  bool supportsSecKeySeed = false;
  bool supportsGpu = false;
  bool supportsHandleTransparentCiphertexts = false;
};

} // namespace quorvane

#endif
