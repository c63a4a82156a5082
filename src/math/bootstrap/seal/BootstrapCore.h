#ifndef QUORVANE_MATH_BOOTSTRAP_SEAL_BOOTSTRAPCORE_H
#define QUORVANE_MATH_BOOTSTRAP_SEAL_BOOTSTRAPCORE_H

#include <complex>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hebase/BootstrapConfig.h"

namespace quorvane {

class Chebyshev;
class CTile;
class FFTLayer;
class FFTUtils;
class FunctionalMatrix;
class HeContext;
class PTile;

/// The engine of CKKS bootstrapping over SEAL: everything that depends only
/// on the context and the configuration (chain budget, factors, roots of
/// unity, Chebyshev coefficients, rotation tree, encoded matrices or FFT
/// layers read from or written to the file cache), computed once at
/// construction, and the steps CoeffToSlot, modular reduction and SlotToCoeff.
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
  /// std::invalid_argument for a negative target chain index or a Chebyshev
  /// row that needs more levels than the chain budget holds.
  BootstrapCore(const HeContext& he, const BootstrapConfig& config, uint64_t q0 = 0);
  ~BootstrapCore();

  BootstrapCore(const BootstrapCore&) = delete;
  BootstrapCore& operator=(const BootstrapCore&) = delete;

  /// Chain indexes a bootstrap consumes: 14, plus one for each FFT flag set.
  /// The slot count does not enter the result.
  static int getLevelCost(const BootstrapConfig& config, int numSlots);

  /// Refuses (std::invalid_argument) real data with SlotToCoeff by layers
  /// after CoeffToSlot by matrix: the layers expect the order the CoeffToSlot
  /// layers leave.
  static void checkTransformOrder(const BootstrapConfig& config);

  /// Prints the context and the core's configuration to standard output.
  void printConfig() const;

  /// The root of unity zeta^(j * g^i), zeta = exp(2 pi i / m), from the
  /// table; g is getGenerator().
  std::complex<double> getRoot(int i, int j) const;

  /// The generator whose powers order the context's slots: slot j is the
  /// value at zeta^(g^j). 3 on SEAL (the order of its encoder and of its
  /// rotations), 5 on the other contexts.
  int getGenerator() const { return generator; }

  /// The slot-order generator of a context: 3 on SEAL, 5 otherwise.
  static int getSlotOrderGenerator(const HeContext& he);

  /// The sign s of the value s*i that the monomial X^n takes in slot i
  /// (zeta^(n g^i) = s i): 1 when g^i = 1 mod 4, -1 when g^i = 3 mod 4 (the
  /// odd slots of SEAL). 1 for i <= 0.
  int getImaginaryUnitSign(int i) const;

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

  /// Whether i times sign in every slot, encoded at scale 1.0, is exact: on
  /// the mockup context only.
  bool hasExactImaginaryUnit() const;

  /// i times sign at scale 1.0, at the chain index: in every slot where
  /// hasExactImaginaryUnit, else the alternating form (the imaginary parts
  /// of products by it then change sign in the odd slots).
  PTile encodeImaginaryUnit(int sign, int chainIndex) const;

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

  /// CoeffToSlot of x at the encoding chain index. Real data: the slots form
  /// and an empty ciphertext; complex data: the real and the imaginary parts.
  std::pair<CTile, CTile> coef2slot(const CTile& x) const;
  /// SlotToCoeff back to the target chain index (x2 is read for complex data
  /// only). Refuses the configurations checkTransformOrder refuses.
  CTile slot2coef(const CTile& x1, const CTile& x2) const;
  std::pair<CTile, CTile> coef2slotFFT(const CTile& x) const;
  CTile slot2coefFFT(const CTile& x) const;

  /// The product of x by the matrix of the n encoded diagonals (no rescale).
  CTile getMulCipherWithDiagonalizedMatrix(const CTile& x,
                                           const std::vector<PTile>& diagonals) const;
  /// The encoding product, split into twice its real part and (complex data)
  /// twice its imaginary part, each rescaled twice.
  std::pair<CTile, CTile>
  getMulCipherWithDiagonalizedEncodingMatrix(const CTile& x,
                                             const std::vector<PTile>& diagonals) const;
  CTile getMulCipherWithDiagonalizedDecodingMatrix(const CTile& x,
                                                   const std::vector<PTile>& diagonals) const;

  /// The diagonals of the matrix window, multiplied by factor and encoded at
  /// the chain index and scale (-1.0: the encoder's default).
  std::shared_ptr<std::vector<PTile>>
  getEncodedVectorsFromFunctionalMatrix(const FunctionalMatrix& matrix, int chainIndex,
                                        double factor, double scale) const;

  /// Fills rotations[k] with x rotated by k, for every k, along the rotation tree.
  void getAllRotationsOf(const CTile& x, std::vector<CTile>& rotations) const;
  /// The worker loop of getAllRotationsOf.
  void computeRotations(const CTile& x, std::vector<CTile>& rotations, std::deque<int>& queue,
                        int& remaining) const;

  /// The breadth-first tree of rotation amounts by signed powers of two
  /// (built once).
  void createRotationDependencyMap();
  /// Builds, or reads from the cache, what the configured transforms need.
  void setEncodingMatrices();
  void setEncodingRealsMatrices();

  /// "./output/" and the context's signature with ':' replaced by '_'.
  std::string getCacheDir() const;
  /// What cache file names end with before ".bin": empty for the generator
  /// 5, else "_G" and the generator, so that files of one slot order are
  /// never read as the other's.
  std::string getSlotOrderTag() const;
  /// The decimal text of -1000 ln(factor) truncated toward zero.
  static std::string getFactorTag(double factor);

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
  const std::vector<int>& getRotationParent() const { return rotationParent; }
  const std::vector<int>& getRotationStep() const { return rotationStep; }
  const std::vector<int>& getRotationLevel() const { return rotationLevel; }
  const std::shared_ptr<std::vector<PTile>>& getEncodingDiagonals() const
  {
    return encodingDiagonals;
  }
  const std::shared_ptr<std::vector<PTile>>& getDecodingDiagonals() const
  {
    return decodingDiagonals;
  }
  const std::shared_ptr<std::vector<PTile>>& getDecodingSecondHalfDiagonals() const
  {
    return decodingSecondHalfDiagonals;
  }
  const std::shared_ptr<std::vector<PTile>>& getDecodingRealsDiagonals() const
  {
    return decodingRealsDiagonals;
  }
  const std::shared_ptr<FFTUtils>& getFftUtils() const { return fftUtils; }

private:
  const HeContext& he;
  std::shared_ptr<Chebyshev> chebyshev;
  int m;
  int polyDegree;
  int generator;
  std::vector<std::complex<double>> roots;
  std::shared_ptr<std::vector<PTile>> encodingDiagonals;
  std::shared_ptr<std::vector<PTile>> decodingDiagonals;
  std::shared_ptr<std::vector<PTile>> decodingSecondHalfDiagonals;
  std::shared_ptr<std::vector<PTile>> decodingRealsDiagonals;
  BootstrapConfig config;
  int cost;
  int numSlots;
  std::vector<double> cosCoefficients;
  std::vector<double> sinCoefficients;
  std::vector<int> rotationParent;
  std::vector<int> rotationStep;
  std::vector<int> rotationLevel;
  std::shared_ptr<FFTUtils> fftUtils;
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

  /// The cached diagonals of a matrix file: n plaintexts at the chain index
  /// and scale, nothing after them. Null (after a warning) when the file
  /// does not hold exactly that.
  std::shared_ptr<std::vector<PTile>> loadDiagonals(const std::string& path, int chainIndex,
                                                    double scale, bool progress) const;
  /// Writes the diagonals to path through a temporary file.
  void storeDiagonals(const std::vector<PTile>& diagonals, const std::string& path,
                      bool progressFromZero) const;
  /// An FFT set loaded from the cache file at path or built by compute with
  /// the factor, joined, encoded (and stored); then given its rotation trees.
  void setFftLayers(std::vector<FFTLayer>& layers,
                    void (FFTUtils::*compute)(std::vector<FFTLayer>&, double) const,
                    const std::string& path, int chainIndex, double factor, bool isEncoding,
                    const std::string& computingMessage, const std::string& encodingMessage);

  /// The products of x by the even and by the odd diagonals, summed apart
  /// (no rescale): their sum is getMulCipherWithDiagonalizedMatrix.
  std::pair<CTile, CTile>
  getMulCipherWithDiagonalsByParity(const CTile& x, const std::vector<PTile>& diagonals) const;
  /// The n rotations of x for a product by the diagonals, after checking
  /// their count and that x is at their chain index.
  std::vector<CTile> getRotationsForProduct(const CTile& x,
                                            const std::vector<PTile>& diagonals) const;
  /// The complex-data encoding product where the slots' imaginary unit
  /// alternates in sign (SEAL): twice the real parts of the coefficients
  /// 0 .. n-1 and of n .. 2n-1, each rescaled twice.
  std::pair<CTile, CTile>
  getMulCipherWithAlternatingEncodingMatrix(const CTile& x,
                                            const std::vector<PTile>& diagonals) const;

  /// The value (or the vector of slot values) at the chain index and scale.
  template <typename T>
  PTile encodeConstantAt(const T& value, int chainIndex, double scale) const;
};

} // namespace quorvane

#endif
