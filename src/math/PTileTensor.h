#ifndef QUORVANE_MATH_PTILETENSOR_H
#define QUORVANE_MATH_PTILETENSOR_H

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "hebase/PTile.h"
#include "hebase/utils/TextBox.h"
#include "math/DoubleTensor.h"
#include "math/TileArray.h"
#include "math/TileTensor.h"

namespace quorvane {

class HeContext;
class SaveableHeader;

/// A tensor packed into encoded plaintext tiles (PTile) by a tile-tensor
/// shape: the encoder's product, the plaintext operand of CTileTensor
/// operations. A lazily encoded tensor (lazy mode LAZY_ENCODING) keeps its
/// values and encodes its tiles on wakeup().
class PTileTensor : public TileTensor
{
public:
  /// An empty, unpacked tensor of the context.
  explicit PTileTensor(const HeContext& he);
  /// An unpacked tensor of the shape with empty tiles; refuses an incomplete shape.
  PTileTensor(const HeContext& he, const TTShape& shape);
  /// Deep copy of the tiles and the raw values.
  PTileTensor(const PTileTensor& src);
  PTileTensor(PTileTensor&& src) noexcept;
  PTileTensor& operator=(const PTileTensor& src);
  PTileTensor& operator=(PTileTensor&& src) noexcept;
  ~PTileTensor() override;

  /// Builds a tensor of the context and loads it after an already read header.
  static std::shared_ptr<Saveable> createAndLoad(const HeContext& he,
                                                 const SaveableHeader& header, std::istream& in);

  /// From VERBOSITY_LOW the kind, title, shape and flags; from VERBOSITY_REGULAR
  /// the logical content; from VERBOSITY_DETAILED every tile.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;
  int32_t getContextId() const override;
  /// The shape, packed flag, lazy fields, raw values when lazy, tiles when packed.
  void saveImpl(std::ostream& out) const override;
  /// Reads what saveImpl wrote into a new tensor and takes it when all is read.
  void loadImpl(std::istream& in) override;
  std::string getClassName() const override;

  std::vector<size_t> getIndexStrides() const override;
  Tile& getMutableTile(int flatIndex) override;
  /// In lazy mode the shape's tile count; otherwise the base rule.
  int getNumUsedTiles() const override;
  const Tile& getTileByFlatIndex(int flatIndex) const override;
  std::shared_ptr<Tile> getSharedTile(int flatIndex) override;
  CTileTensor getMultiply(const CTileTensor& other) const override;
  CTileTensor getMultiplyRaw(const CTileTensor& other) const override;
  CTileTensor getAdd(const CTileTensor& other) const override;
  CTileTensor getAddRaw(const CTileTensor& other) const override;
  void addTo(CTileTensor& target) const override;
  void addToRaw(CTileTensor& target) const override;
  void subFrom(CTileTensor& target) const override;
  void subFromRaw(CTileTensor& target) const override;
  void multiplyTo(CTileTensor& target) const override;
  void multiplyToRaw(CTileTensor& target) const override;
  /// other.getMultiplyPlainAndSum(*this, sumDim).
  CTileTensor getMultiplyAndSum(const CTileTensor& other, int sumDim) const override;
  /// target.multiplyPlainAndSum(*this, sumDim).
  void multiplyAndSumTo(CTileTensor& target, int sumDim) const override;
  /// 0 when unpacked; otherwise compares every slot with the decoded tensor.
  double assertIntegrity(double epsilon) const override;
  /// In lazy mode the lazy chain index; otherwise the chain index of tile 0.
  int getChainIndex() const override;
  /// Lazy and unpacked: encodes the raw values into the tiles at the lazy chain index.
  void wakeup() override;
  /// Lazy: drops the tiles (the raw values stay).
  void sleep() override;
  /// Refuses a chain index outside the context's range (with explicit chain indexes).
  void setLazyChainIndex(int chainIndex) override;

  const HeContext& getHeContext() const { return *he; }
  /// Sets the packed flag, for a tensor whose tiles were assigned by flat index.
  void setPacked(bool value) { packed = value; }
  /// The tile at the flat index as a plaintext tile.
  const PTile& getTile(int flatIndex) const;

  // ---- Chain indexes ----

  /// Sets every tile's chain index. A lazy tensor records it for its encoding
  /// and stays lazy: woken up, its tiles move to it too.
  void setChainIndex(int chainIndex);
  /// The chain index of other, read as its getChainIndex reads it
  /// (getArgumentChainIndex).
  void setChainIndex(const TileTensor& other);
  void reduceChainIndex();
  PTileTensor getReduceChainIndex() const;
  PTileTensor getSetChainIndex(const TileTensor& other) const;
  PTileTensor getSetChainIndex(int chainIndex) const;

  // ---- Lazy encoding ----

  /// Replaces the raw values.
  void setRawData(const DoubleTensor& values);
  /// The raw values of a lazy tensor; null when there are none.
  const DoubleTensor* getRawData() const { return rawData.get(); }

  // ---- Printing ----

  /// The decoded values as a table, and a demonstration of the tiles when the
  /// print options ask for it.
  void printLogicalContent(std::ostream& out) const;
  /// The tiles as a grid of text boxes; false when they do not fit.
  bool debugPrintTileArray(std::ostream& out) const;
  /// The decoded slots of a tile laid out by the tile sizes, framed.
  TextBox getTileTextBox(int flatIndex) const;
  /// Whether a tile can be shown as a text box.
  bool canPrintTileArray() const;

private:
  const HeContext* he;
  TileArray<PTile> tiles;
  std::unique_ptr<DoubleTensor> rawData;

  size_t getTileArraySize() const override;
  /// Makes this tensor, just given tiles, a regular encoded tensor whose
  /// values are its tiles: lazy mode 0, no raw values.
  void endLazyMode();

  friend class TTEncoder;
};

} // namespace quorvane

#endif
