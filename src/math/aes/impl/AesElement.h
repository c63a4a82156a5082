#ifndef QUORVANE_MATH_AES_IMPL_AESELEMENT_H
#define QUORVANE_MATH_AES_IMPL_AESELEMENT_H

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "hebase/utils/Saveable.h"

namespace quorvane {

class CTile;
class HeContext;

/// AES data encrypted bit by bit (bit-sliced): byte rows of 8 bit
/// ciphertexts, where slot k of every ciphertext belongs to AES block k. The
/// AES state, the bitwise round key and the bitwise H-table derive from it.
/// Tiles are held and handed out by shared pointer: a change through a getter
/// is a change of the element. Saved without a header of its own.
class AesElement : public SaveableBasic
{
public:
  /// An empty element, not packed, reporting its progress to out (not null)
  /// at verbosity.
  AesElement(const HeContext& he, Verbosity verbosity, std::ostream* out);
  /// Deep copy: every tile is copied into a new ciphertext.
  AesElement(const AesElement& src);
  AesElement& operator=(const AesElement&) = delete;
  ~AesElement() override;

  /// Progress report: the chain index at VERBOSITY_REGULAR; above it also the
  /// time since the last report, the resident memory, the bits' noise (with
  /// the secret key) and, at VERBOSITY_EXTRA_DETAILED, the decrypted blocks.
  /// Validates the element at every verbosity.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

  /// Writes the packed element (one chain index, at most 32 byte rows).
  std::streamoff save(std::ostream& out) const override;
  /// Reads a saved element; a refused load leaves the element as it was.
  std::streamoff load(std::istream& in) override;

  /// Checks that the element is packed and complete (rows of 8 non-empty
  /// tiles), and with validateSameChainIndex that all tiles share a chain index.
  virtual void validate(bool validateSameChainIndex) const;

  /// Encrypts the blocks bit by bit at the chain index (-1: the top), bit j
  /// of byte i of block k into slot k of tile (i, j); other slots hold 0.
  void heEncrypt(const std::vector<std::vector<uint8_t>>& blocks, int chainIndex, bool lsbFirst);

  /// The input check of heEncrypt.
  void validateBlocks(const std::vector<std::vector<uint8_t>>& blocks) const;

  /// The common chain index of the tiles.
  int getChainIndex() const;
  /// Lowers every tile to the chain index.
  void setChainIndex(int chainIndex);
  /// Lowers every tile to the lowest chain index among them.
  void alignChainIndexes();
  /// Bootstraps every tile, two per call of the context's bootstrap evaluator.
  void bootstrap();

  /// Bit bitIndex of byte row byteIndex.
  std::shared_ptr<CTile> getBit(int byteIndex, int bitIndex) const;
  /// Bit bitIndex of the state byte at (row, column), byte row + 4 x column.
  std::shared_ptr<CTile> getBit(int row, int column, int bitIndex) const;
  /// The 8 bits of the state byte at (row, column).
  std::vector<std::shared_ptr<CTile>>& getByte(int row, int column);
  /// All tiles, row by row, bits 0 to 7 within a row (shared, not copied).
  std::vector<std::shared_ptr<CTile>> getAllBits() const;

  /// debugPrint with the element's own verbosity and stream.
  void printStatus(const std::string& title) const;
  /// Prints each encrypted block decrypted (the first 16 byte rows).
  void printDecryptedBlocks(bool asMatrix, bool binary) const;

  const HeContext& getHeContext() const { return he; }
  bool isPacked() const { return packed; }
  int getNumBlocks() const { return numBlocks; }
  bool getLsbFirst() const { return lsbFirst; }

protected:
  const HeContext& he;
  bool packed = false;
  int numBlocks = 0;
  bool lsbFirst = true;
  /// Row i is byte i; entry j of a row is bit j of that byte.
  std::vector<std::vector<std::shared_ptr<CTile>>> tiles;
  Verbosity verbosity;
  std::ostream* out;
  /// Steady-clock nanoseconds of the last detailed report.
  mutable int64_t lastPrintTime = 0;
  mutable bool lastPrintTimeSet = false;
};

} // namespace quorvane

#endif
