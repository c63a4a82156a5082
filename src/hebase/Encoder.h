#ifndef QUORVANE_HEBASE_ENCODER_H
#define QUORVANE_HEBASE_ENCODER_H

#include <complex>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "hebase/DeviceType.h"

namespace quorvane {

class AbstractEncoder;
class CTile;
class HeContext;
class PTile;
class Tile;

/// Moves values into and out of tiles: encodes, encrypts, decrypts and
/// decodes through a backend encoder of its own, so its settings (default
/// scale, device, decrypt-added noise) apply only to what it produces.
/// Chain-index arguments go through resolveChainIndex; -1 means the top.
/// Tiles of another context are refused (HeContext::checkSameContext) before
/// anything is encoded, encrypted or decrypted.
class Encoder
{
public:
  explicit Encoder(const HeContext& he);
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  const HeContext& getHeContext() const { return *he; }

  /// -1 on contexts without explicit chain indexes; otherwise -1 becomes the
  /// top chain index and values outside -1 .. top are refused.
  int resolveChainIndex(int chainIndex) const;

  void encode(PTile& res, const std::vector<std::complex<double>>& vals, int chainIndex = -1) const;
  void encode(PTile& res, const std::vector<double>& vals, int chainIndex = -1) const;
  void encode(PTile& res, const std::vector<int>& vals, int chainIndex = -1) const;
  /// The value in every slot.
  void encode(PTile& res, double val, int chainIndex = -1) const;
  void encode(PTile& res, int val, int chainIndex = -1) const;

  void encodeEncrypt(CTile& res, const std::vector<std::complex<double>>& vals,
                     int chainIndex = -1) const;
  void encodeEncrypt(CTile& res, const std::vector<double>& vals, int chainIndex = -1) const;
  void encodeEncrypt(CTile& res, const std::vector<int>& vals, int chainIndex = -1) const;
  void encodeEncrypt(CTile& res, double val, int chainIndex = -1) const;
  void encodeEncrypt(CTile& res, int val, int chainIndex = -1) const;

  void encrypt(CTile& res, const PTile& src) const;
  void decrypt(PTile& res, const CTile& src) const;

  std::vector<std::complex<double>> decodeComplex(const PTile& src) const;
  std::vector<double> decodeDouble(const PTile& src) const;
  /// Each value rounded to the nearest integer; a value outside the 32-bit
  /// range is refused with std::overflow_error.
  std::vector<int> decodeInt(const PTile& src) const;

  std::vector<std::complex<double>> decryptDecodeComplex(const CTile& src) const;
  std::vector<double> decryptDecodeDouble(const CTile& src) const;
  /// As decodeInt, after decryption.
  std::vector<int> decryptDecodeInt(const CTile& src) const;

  /// Decrypts and decodes a CTile, decodes a PTile.
  std::vector<double> decryptDecodeTileDouble(const Tile& src) const;
  /// Encrypts a PTile into res, or copies a CTile into res.
  void encryptTile(CTile& res, const Tile& src) const;

  /// Decrypts c and compares it slot by slot with the expected values (as many
  /// as given); throws std::runtime_error "Assert Equals Failed" beyond eps.
  /// Returns the largest absolute difference.
  double assertEquals(const CTile& c, const std::string& title,
                      const std::vector<std::complex<double>>& expected, double eps = 1e-6,
                      bool percent = false) const;
  double assertEquals(const CTile& c, const std::string& title,
                      const std::vector<double>& expected, double eps = 1e-6,
                      bool percent = false) const;
  double assertEquals(const CTile& c, const std::string& title, const std::vector<int>& expected,
                      double eps = 1e-6, bool percent = false) const;

  double getDefaultScale(int chainIndex = -1) const;
  void setDefaultScale(double scale);
  void restoreDefaultScale();
  void setDefaultDevice(DeviceType device);
  DeviceType getDefaultDevice() const;
  void setDecryptAddedNoiseEnabled(bool enabled);
  bool getDecryptAddedNoiseEnabled() const;
  void setDecryptAddedNoisePrecision(int precision);
  int getDecryptAddedNoisePrecision() const;

  /// Writes error statistics of the decrypted real parts of actual against
  /// expected, one position per slot (expected must hold at least as many
  /// values as the context has slots): four lines, or as CSV "max, mean, std".
  void printErrorStats(const CTile& actual, std::vector<double> expected, std::ostream& out,
                       bool asCsv = false) const;

private:
  const HeContext* he;
  /// The tile's backend object, once its context is found to be this encoder's.
  template <typename TileType>
  auto of(TileType& tile) const -> decltype(tile.getImpl());

  std::shared_ptr<AbstractEncoder> impl;
};

} // namespace quorvane

#endif
