#ifndef QUORVANE_MATH_BOOTSTRAP_SEAL_BOOTSTRAPCORE_H
#define QUORVANE_MATH_BOOTSTRAP_SEAL_BOOTSTRAPCORE_H

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

#include "hebase/BootstrapConfig.h"

namespace quorvane {

class Chebyshev;
class CTile;
class HeContext;
class PTile;

/// The engine of CKKS bootstrapping over SEAL: everything that depends only
/// on the context and the configuration (chain budget, factors, roots of
/// unity, Chebyshev coefficients), computed once at construction, and the
/// modular reduction step.
class BootstrapCore
{
public:
  /// The fixed power to which the modular reduction raises exp(i pi x).
  static constexpr int POWER = 72;

  /// Chain indexes the Chebyshev evaluation of the modular reduction may
  /// consume within the cost of getLevelCost.
  static constexpr int CHEBYSHEV_LEVEL_BUDGET = 4;

  /// Builds the core for the context (kept by reference) and a copy of the
  /// configuration; q0 = 0 takes the first prime of the context's modulus
  /// chain. Throws std::runtime_error when the chain is too short and
  /// std::invalid_argument when the Chebyshev row needs more levels than the
  /// chain budget holds.
  BootstrapCore(const HeContext& he, const BootstrapConfig& config, uint64_t q0 = 0);
  ~BootstrapCore();

  BootstrapCore(const BootstrapCore&) = delete;
  BootstrapCore& operator=(const BootstrapCore&) = delete;

  /// Chain indexes a bootstrap consumes: 14, plus one for each FFT flag set.
  /// The slot count does not enter the result.
  static int getLevelCost(const BootstrapConfig& config, int numSlots);

  /// Prints the context and the core's configuration to standard output.
  void printConfig() const;

  /// The root of unity zeta^(j * 5^i), zeta = exp(2 pi i / m), from the table.
  std::complex<double> getRoot(int i, int j) const;

  /// base^exponent modulo modulus by square and multiply; 0 when base is a
  /// multiple of modulus.
  static int powMod(int base, int exponent, int modulus);

  /// The value in every slot, encoded at the chain index and scale.
  PTile encodeConstant(int value, int chainIndex, double scale) const;
  PTile encodeConstant(double value, int chainIndex, double scale) const;

  /// The value in every slot, encoded at scale 1.0 (chain index -1: the top).
  PTile encodeConstantAtUnitScale(std::complex<double> value, int chainIndex) const;

  /// i times sign in the even slots and times -sign in the odd ones, encoded
  /// at scale 1.0. Products by it are exact: on SEAL, whose slot order makes
  /// this vector the monomial X^n, a constant i is not integral at scale 1.0.
  PTile encodeAlternatingImaginaryUnit(int sign, int chainIndex) const;

  /// The scale of a plaintext factor whose product with a ciphertext of the
  /// given scale at chainIndex lands, after two rescales, on the accurate
  /// scale of chainIndex - 2.
  double getPlainScaleForTwoRescales(double scale, int chainIndex) const;

  /// The clear values of the mockup twin of a debug ciphertext; empty for
  /// any other ciphertext.
  std::vector<std::complex<double>> getMockValues(const CTile& c) const;

  /// Replaces x (real parts y) by approximately 2 sin(pi R y), through
  /// Chebyshev approximations of cos and sin and R double-angle steps.
  /// R = -1 takes the core's R, r1 and r2; another R recomputes them from q.
  void modInPlace(CTile& x, double q, bool verbose, int R = -1) const;

  /// modInPlace with the core's R, timed under "modInPlaceForBootstrap".
  void modInPlaceForBootstrap(CTile& x, double q, bool verbose) const;

  /// x^d by square and multiply (d >= 0; d = 0 gives a fresh encryption of
  /// ones at the top chain index).
  void powInPlace(CTile& x, int d) const;

  const HeContext& getHeContext() const { return he; }
  const BootstrapConfig& getConfig() const { return config; }
  int getNumSlots() const { return numSlots; }
  int getM() const { return m; }
  int getPolyDegree() const { return polyDegree; }
  int getCost() const { return cost; }
  int getR() const { return R; }
  double getR1() const { return r1; }
  double getR2() const { return r2; }
  double getEncFactor() const { return encFactor; }
  double getDecFactor() const { return decFactor; }
  double getBaseScale() const { return baseScale; }
  int getTargetChainIndex() const { return targetChainIndex; }
  int getEncodingChainIndex() const { return encodingChainIndex; }
  int getDecodingChainIndex() const { return decodingChainIndex; }
  std::complex<double> getInverseN() const { return inverseN; }
  const std::vector<std::complex<double>>& getRoots() const { return roots; }
  const std::vector<double>& getCosCoefficients() const { return cosCoefficients; }
  const std::vector<double>& getSinCoefficients() const { return sinCoefficients; }

private:
  const HeContext& he;
  std::shared_ptr<Chebyshev> chebyshev;
  int m;
  int polyDegree;
  std::vector<std::complex<double>> roots;
  BootstrapConfig config;
  int cost;
  int numSlots;
  std::vector<double> cosCoefficients;
  std::vector<double> sinCoefficients;
  int R;
  double r1;
  double encFactor;
  double baseScale;
  double r2;
  double decFactor;
  int targetChainIndex;
  int encodingChainIndex;
  int decodingChainIndex;
  std::complex<double> inverseN;

  /// The value (or the vector of slot values) at the chain index and scale.
  template <typename T>
  PTile encodeConstantAt(const T& value, int chainIndex, double scale) const;
};

} // namespace quorvane

#endif
