#ifndef QUORVANE_MATH_BOOTSTRAP_SEAL_FFTUTILS_H
#define QUORVANE_MATH_BOOTSTRAP_SEAL_FFTUTILS_H

#include <complex>
#include <string>
#include <vector>

#include "math/bootstrap/seal/FFTLayer.h"

namespace quorvane {

class BootstrapCore;
class CTile;

/// The butterfly stages of the CKKS special FFT over the slot index as sparse
/// layers: built, joined into two layers, encoded, applied to ciphertexts and
/// kept in the bootstrapping cache. Holds the encoding (CoeffToSlot), decoding
/// and decoding-mirror (SlotToCoeff) sets.
class FFTUtils
{
public:
  using Layers = std::vector<FFTLayer>;

  explicit FFTUtils(const BootstrapCore& core);

  /// The inverse butterflies, largest block first: log2(n) layers whose
  /// product is factor/N times the inverse special FFT.
  void computeEncodingLayers(Layers& layers, double factor) const;
  /// The forward butterflies, smallest block first; the last carries the factor.
  void computeDecodingLayers(Layers& layers, double factor) const;
  /// The mirror of the decoding set: log2(n) + 2 layers.
  void computeDecodingMirrorLayers(Layers& layers, double factor) const;

  /// Multiplies the stages (at least two) into two layers: the first half of
  /// the stages and the second.
  void joinLayers(Layers& layers) const;

  /// The scale at which layer index of a set is encoded at the chain index.
  double getLayerScale(int index, int chainIndex, bool isEncoding) const;
  /// Encodes every layer at the chain index, each at its getLayerScale.
  void encodeLayers(Layers& layers, int chainIndex, bool isEncoding) const;

  /// Writes the first two layers to path through a temporary file.
  void storeEncodedLayersToFile(const Layers& layers, const std::string& path) const;
  /// Reads two layers from path into layers. False, with layers unchanged,
  /// when the path does not exist or does not hold exactly two well-formed
  /// layers of this context (then a warning is printed). Their rotations are
  /// not checked here: the rotation trees refuse what they cannot use.
  bool loadEncodedLayersFromFile(Layers& layers, const std::string& path) const;
  /// Why loaded layers are not those the set-up makes at the chain index (two
  /// layers, each with the rotation 0 and rotations below n, every plaintext
  /// at the chain index and the layer's scale); empty when they are.
  std::string checkLoadedLayers(const Layers& layers, int chainIndex, bool isEncoding) const;

  /// Applies the layers in order to x, without rescaling.
  void processCiphertextByLayers(const Layers& layers, CTile& x) const;

  void createRotationDependencyMaps(Layers& layers) const;
  void clearLayers(Layers& layers) const;

  /// The twiddle factor zeta_(4L)^(g^j mod 4L) from the core's roots, g the
  /// core's slot-order generator.
  std::complex<double> getTwiddle(int blockLength, int j) const;

  /// Whether the roots of positions j and j + L/2 of a block of length L are
  /// opposite (g^(L/2) = 1 + 2L mod 4L), so that its butterflies pair x + w y
  /// with x - w y. True for every block with the generator 5; with 3 the
  /// blocks of length 2 pair zeta_8 with zeta_8^3 instead.
  bool hasOppositePairs(int blockLength) const;

  Layers& getEncodingLayers() { return encodingLayers; }
  Layers& getDecodingLayers() { return decodingLayers; }
  Layers& getDecodingMirrorLayers() { return decodingMirrorLayers; }
  const Layers& getEncodingLayers() const { return encodingLayers; }
  const Layers& getDecodingLayers() const { return decodingLayers; }
  const Layers& getDecodingMirrorLayers() const { return decodingMirrorLayers; }

private:
  const BootstrapCore* core;
  int numSlots;
  int generator;
  int verbose;
  Layers encodingLayers;
  Layers decodingLayers;
  Layers decodingMirrorLayers;
};

} // namespace quorvane

#endif
