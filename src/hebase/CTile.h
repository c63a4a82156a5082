#ifndef QUORVANE_HEBASE_CTILE_H
#define QUORVANE_HEBASE_CTILE_H

#include <iosfwd>
#include <memory>
#include <string>

#include "hebase/Tile.h"

namespace quorvane {

class AbstractCiphertext;
class HeContext;
class PTile;

/// A ciphertext tile. Copies are deep. Two-operand operations bring the
/// operands together first: under automatic bootstrapping an operand at the
/// context's minimal chain index for bootstrapping is bootstrapped (this tile
/// in place, the other through a copy), and on contexts that can switch moduli
/// the operand with the higher chain index is lowered (this tile in place, the
/// other through a copy). The operand itself is never changed. An operand of
/// another context is refused before anything changes. A result the
/// backend reports transparent (add, sub, addPlainRaw, the plaintext products
/// and their raw forms, and before saving) is re-encrypted, keeping its values.
class CTile : public Tile
{
public:
  /// An empty ciphertext of the context.
  explicit CTile(const HeContext& he);
  CTile(const CTile& src);
  /// Takes over the source's ciphertext; the source is left empty-handed.
  CTile(CTile&& src) noexcept;
  CTile& operator=(const CTile& src);
  CTile& operator=(CTile&& src) noexcept;
  ~CTile() override;

  /// Builds a CTile of the context and loads it after an already read header.
  static std::shared_ptr<Saveable> createAndLoad(const HeContext& he,
                                                 const SaveableHeader& header, std::istream& in);

  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;
  int32_t getContextId() const override;
  /// Re-encrypts a transparent ciphertext (keeping its values), then writes
  /// the backend body.
  void saveImpl(std::ostream& out) const override;
  /// Reads the backend body and moves it to the context's default device.
  void loadImpl(std::istream& in) override;
  std::string getClassName() const override;

  std::unique_ptr<Tile> clone() const override;
  int64_t getEstimatedMemoryUsageBytes() const override;
  void reduceChainIndex() override;
  void setChainIndex(int chainIndex) override;
  int getChainIndex() const override;
  void setScale(double scale) override;
  double getScale() const override;
  void toDevice(DeviceType device) override;
  DeviceType getCurrentDevice() const override;
  int slotCount() const override;

  void addTo(CTile& target) const override;
  void addToRaw(CTile& target) const override;
  void subFrom(CTile& target) const override;
  void subFromRaw(CTile& target) const override;
  void multiplyToRaw(CTile& target) const override;
  void multiplyTo(CTile& target) const override;

  /// The context of the backend ciphertext.
  const HeContext& getHeContext() const;
  /// True while the tile holds no encryption.
  bool isEmpty() const override;

  void add(const CTile& other);
  void addRaw(const CTile& other);
  void sub(const CTile& other);
  void subRaw(const CTile& other);
  /// Product with relinearisation and rescaling.
  void multiply(const CTile& other);
  void multiplyRaw(const CTile& other);
  /// A copy of this tile multiplied by other; this tile is unchanged.
  CTile getMultiply(const CTile& other) const;

  void addPlain(const PTile& other);
  void addPlainRaw(const PTile& other);
  void subPlain(const PTile& other);
  void subPlainRaw(const PTile& other);
  /// Product with rescaling.
  void multiplyPlain(const PTile& other);
  void multiplyPlainRaw(const PTile& other);

  /// Add, sub or multiply by any tile: a CTile runs add, sub or multiply, a
  /// PTile addPlain, subPlain or multiplyPlain (and the raw forms alike).
  void addTile(const Tile& other);
  void addTileRaw(const Tile& other);
  void subTile(const Tile& other);
  void subTileRaw(const Tile& other);
  void multiplyTile(const Tile& other);
  void multiplyTileRaw(const Tile& other);

  /// Whether op (one of the six members above) with other would certainly
  /// succeed as the tiles are now: another tile of the same context at the
  /// same chain index, no automatic bootstrapping before a product, and an
  /// operand the backend certainly accepts. False when that cannot be told.
  bool certainlyAccepts(void (CTile::*op)(const Tile&), const Tile& other) const;

  void square();
  void squareRaw();

  void addScalar(int scalar);
  void addScalar(double scalar);
  void multiplyScalar(int scalar);
  /// Bootstraps this tile first when automatic bootstrapping asks for it.
  void multiplyScalar(double scalar);

  void conjugate();
  void conjugateRaw();
  void negate();
  void multiplyImaginaryUnit();
  void nullifyImaginaryPart();
  void relinearize();
  void rescale();
  void rescaleRaw();
  /// Multiplies the represented values by factor by changing the scale only.
  void multiplyByChangingScale(double factor);

  /// Rotates left by n: slot i receives slot i + n, cyclically. Offsets beyond
  /// the slot count are folded; a multiple of the slot count does nothing.
  void rotate(int n);

  /// Adds rotations by rot1, 2 rot1, 4 rot1, ... below rot2 (right rotations when reverse).
  void innerSum(int rot1, int rot2, bool reverse = false);
  /// Slot i becomes the sum of slots i .. i+n-1.
  void sumExpBySquaringLeftToRight(int n);
  void sumExpBySquaringRightToLeft(int n);

  /// Bootstraps this tile in place with the context's bootstrap evaluator.
  void bootstrap();

  /// Compares the scale with expectedScale (the context's accurate scale of the
  /// chain index when negative): throws beyond errorEps, warns on standard
  /// output beyond warnEps, and sets the expected scale when fix is set.
  void checkScale(const std::string& title, double warnEps, double errorEps, bool fix,
                  double expectedScale);

  /// Automatic bootstrapping before a two-ciphertext operation: bootstraps this
  /// tile when it sits exactly at the minimal chain index for bootstrapping,
  /// then returns a bootstrapped copy of other when other sits there.
  std::unique_ptr<CTile> autoBootstrap(const CTile& other);
  /// Returns a copy of other lowered to this tile's chain index, or lowers this
  /// tile in place; only on contexts that can switch moduli.
  std::unique_ptr<CTile> alignChainIndexes(const CTile& other);
  /// Returns a replacement for a plaintext at another chain index: re-encoded
  /// when lower than this tile, lowered through a copy when higher (and the
  /// context can switch moduli).
  std::unique_ptr<PTile> alignPlainChainIndex(const PTile& other) const;

  /// The backend ciphertext.
  AbstractCiphertext& getImpl() { return *impl; }
  const AbstractCiphertext& getImpl() const { return *impl; }

private:
  std::shared_ptr<AbstractCiphertext> impl;

  /// Bootstraps this tile when automatic bootstrapping asks for it.
  void autoBootstrapThis();
  /// Refuses an operand of another context (HeContext::checkSameContext).
  void checkOperand(const CTile& other) const;
  void checkOperand(const PTile& other) const;
  /// Turns a transparent ciphertext into a proper encryption of the same
  /// values (a fresh encryption of zero is added to it).
  void reencryptIfTransparent() const;
};

} // namespace quorvane

#endif
