#ifndef QUORVANE_HEBASE_PTILE_H
#define QUORVANE_HEBASE_PTILE_H

#include <iosfwd>
#include <memory>
#include <string>

#include "hebase/Tile.h"

namespace quorvane {

class AbstractPlaintext;
class HeContext;

/// An encoded (unencrypted) plaintext tile. Copies are deep. A saved PTile
/// loads under any context id.
class PTile : public Tile
{
public:
  /// An empty plaintext of the context.
  explicit PTile(const HeContext& he);
  PTile(const PTile& src);
  /// Takes over the source's plaintext; the source is left empty-handed.
  PTile(PTile&& src) noexcept;
  PTile& operator=(const PTile& src);
  PTile& operator=(PTile&& src) noexcept;
  ~PTile() override;

  /// Builds a PTile of the context and loads it after an already read header.
  static std::shared_ptr<Saveable> createAndLoad(const HeContext& he,
                                                 const SaveableHeader& header, std::istream& in);

  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;
  int32_t getContextId() const override;
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
  bool isEmpty() const override;

  void addTo(CTile& target) const override;
  void addToRaw(CTile& target) const override;
  void subFrom(CTile& target) const override;
  void subFromRaw(CTile& target) const override;
  void multiplyToRaw(CTile& target) const override;
  void multiplyTo(CTile& target) const override;

  /// The context of the backend plaintext.
  const HeContext& getHeContext() const;

  /// Whether every slot is zero (where the backend can tell).
  bool isAllZeroes() const;

  /// Decodes this plaintext and encodes the values into res at the chain
  /// index, with a fresh encoder of the context (so at its default scale).
  void reencode(PTile& res, int chainIndex) const;

  /// The backend plaintext.
  AbstractPlaintext& getImpl() { return *impl; }
  const AbstractPlaintext& getImpl() const { return *impl; }

private:
  std::shared_ptr<AbstractPlaintext> impl;
};

} // namespace quorvane

#endif
