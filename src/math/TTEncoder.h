#ifndef QUORVANE_MATH_TTENCODER_H
#define QUORVANE_MATH_TTENCODER_H

#include <string>

#include "hebase/Encoder.h"
#include "math/DoubleTensor.h"
#include "math/GenericPackingUtils.h"
#include "math/TTShape.h"

namespace quorvane {

class CTileTensor;
class HeContext;
class PTileTensor;

/// Moves tensors between clear values and tile tensors: encodes a tensor of
/// doubles into a plaintext tile tensor of a shape (the tile-tensor iterator
/// places every value), encrypts, decrypts and decodes back. Every tile goes
/// through the context's Encoder.
class TTEncoder
{
public:
  /// lazyMode 0 encodes at once; LAZY_ENCODING keeps the values in the tensor.
  explicit TTEncoder(const HeContext& he, int lazyMode = 0);

  const Encoder& getEncoder() const { return encoder; }
  Encoder& getEncoder() { return encoder; }

  /// Packs vals into res by the shape: incomplete dimensions take the sizes of
  /// vals, complete ones must match them. chainIndex -1 is the top chain index.
  /// res changes only when every check passed and every tile was encoded.
  void encode(PTileTensor& res, const TTShape& shape, const DoubleTensor& vals,
              int chainIndex = -1) const;
  /// Encrypts every tile of src into res (res takes src's shape).
  void encrypt(CTileTensor& res, const PTileTensor& src) const;
  /// Decrypts every tile of src into res (res takes src's shape). res becomes a
  /// regular encoded tensor: a lazily encoded one drops its lazy mode and raw values.
  void decrypt(PTileTensor& res, const CTileTensor& src) const;
  /// The values of src, of its shape's original sizes (the raw values of a lazy tensor).
  DoubleTensor decodeDouble(const PTileTensor& src) const;
  void encodeEncrypt(CTileTensor& res, const TTShape& shape, const DoubleTensor& vals,
                     int chainIndex = -1) const;
  DoubleTensor decryptDecodeDouble(const CTileTensor& src) const;
  /// Encodes and encrypts with the shape and chain index of generic packing.
  void encodeEncryptGenericPacking(CTileTensor& res, const DoubleTensor& vals,
                                   const GenericPackingConfig& config) const;
  /// Decrypts and decodes c and compares it with expected, which must have its
  /// shape: absolute differences, or relative ones with percent (as the tile
  /// encoder compares a slot, SlotComparison). Reports the first element beyond
  /// eps, or holding NaN on either side, on standard output and throws; returns
  /// the largest absolute difference.
  double assertEquals(const CTileTensor& c, const std::string& title,
                      const DoubleTensor& expected, double eps = 1e-6,
                      bool percent = false) const;

private:
  const HeContext* he;
  Encoder encoder;
  int lazyMode;

  /// Refuses a tensor of another context.
  void checkContext(int32_t contextId) const;
};

} // namespace quorvane

#endif
