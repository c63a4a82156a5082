#ifndef QUORVANE_MATH_BOOTSTRAP_SEAL_FFTLAYER_H
#define QUORVANE_MATH_BOOTSTRAP_SEAL_FFTLAYER_H

#include <complex>
#include <deque>
#include <iosfwd>
#include <map>
#include <memory>
#include <vector>

#include "hebase/PTile.h"

namespace quorvane {

class BabyGiantProduct;

class BootstrapCore;
class CTile;

/// One sparse linear map on the slots in diagonal form: applied to x it gives
/// sum over r of d_r * (x rotated left by r). Holds the diagonals as complex
/// vectors, encoded as plaintexts, and the tree along which the rotations of
/// a ciphertext are computed.
class FFTLayer
{
public:
  using Diagonal = std::vector<std::complex<double>>;

  /// An empty layer over the core's context and slot count.
  explicit FFTLayer(const BootstrapCore& core);

  /// The diagonal of the rotation (taken modulo n), created as zeros when absent.
  Diagonal& getDiagonal(int rotation);

  /// out becomes next applied after this layer.
  void composeInto(const FFTLayer& next, FFTLayer& out) const;

  /// Encodes every diagonal at the chain index and scale (replacing earlier
  /// encodings; the diagonals are kept).
  void encode(int chainIndex, double scale);

  /// Replaces x by the layer applied to it; std::runtime_error "empty layer"
  /// when nothing is encoded.
  void processCiphertextByLayer(CTile& x) const;

  /// The number of encoded diagonals, then each rotation and its saved plaintext.
  void save(std::ostream& out) const;
  /// Reads what save wrote (at most n entries); a repeated rotation keeps its
  /// first plaintext. The layer changes only when the whole read succeeds.
  void load(std::istream& in);

  /// Builds, once, the breadth-first tree that reaches every encoded rotation
  /// from 0 by signed power-of-two steps through rotations of this layer.
  void createRotationDependencyMap();

  /// Fills rotations[r] with x rotated by r for every rotation of the tree.
  void getAllRotationsOf(const CTile& x, std::vector<std::shared_ptr<CTile>>& rotations) const;

  /// The worker loop of getAllRotationsOf over a queue of rotations and the
  /// count of those still to compute.
  void computeRotations(const CTile& x, std::vector<std::shared_ptr<CTile>>& rotations,
                        std::deque<int>& queue, int& remaining) const;

  const std::map<int, Diagonal>& getDiagonals() const { return diagonals; }
  std::map<int, PTile>& getEncodedDiagonals() { return encodedDiagonals; }
  const std::map<int, PTile>& getEncodedDiagonals() const { return encodedDiagonals; }
  const std::map<int, int>& getParent() const { return parent; }
  const std::map<int, int>& getStep() const { return step; }
  const std::map<int, int>& getLevel() const { return level; }

private:
  const BootstrapCore* core;
  int numSlots;
  std::map<int, Diagonal> diagonals;
  std::map<int, PTile> encodedDiagonals;
  std::map<int, int> parent;
  std::map<int, int> step;
  std::map<int, int> level;
  // The grouped product over the same amounts, planned with the tree.
  std::shared_ptr<const BabyGiantProduct> babyGiant;
  int verbose;
};

} // namespace quorvane

#endif
