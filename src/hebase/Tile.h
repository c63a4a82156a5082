#ifndef QUORVANE_HEBASE_TILE_H
#define QUORVANE_HEBASE_TILE_H

#include <cstdint>
#include <memory>

#include "hebase/DeviceType.h"
#include "hebase/utils/Saveable.h"

namespace quorvane {

class CTile;

/// One vector of slots as the HE context sees it: a ciphertext (CTile) or an
/// encoded plaintext (PTile). Tiles cannot be attached to a storage.
class Tile : public Saveable
{
public:
  ~Tile() override;

  /// A new tile of the same kind holding a deep copy of the backend object.
  virtual std::unique_ptr<Tile> clone() const = 0;

  /// The backend's memory estimate in bytes; -1 when it makes none.
  virtual int64_t getEstimatedMemoryUsageBytes() const = 0;

  /// Sets the chain index to one below the current one.
  virtual void reduceChainIndex() = 0;
  /// Sets the chain index; ignored when the context has no explicit chain indexes.
  virtual void setChainIndex(int chainIndex) = 0;
  /// The chain index; -1 when the context has no explicit chain indexes.
  virtual int getChainIndex() const = 0;

  /// Sets the scale attached to the backend object.
  virtual void setScale(double scale) = 0;
  virtual double getScale() const = 0;

  virtual void toDevice(DeviceType device) = 0;
  virtual DeviceType getCurrentDevice() const = 0;

  /// Number of slots (the context's slot count).
  virtual int slotCount() const = 0;

  /// True while the tile holds no values: nothing has been encrypted, encoded,
  /// decrypted or loaded into it, or its content was moved away.
  virtual bool isEmpty() const = 0;

  /// Double dispatch: runs on target the operation that suits this tile's kind
  /// (add for a CTile, addPlain for a PTile, and so on).
  virtual void addTo(CTile& target) const = 0;
  virtual void addToRaw(CTile& target) const = 0;
  virtual void subFrom(CTile& target) const = 0;
  virtual void subFromRaw(CTile& target) const = 0;
  virtual void multiplyToRaw(CTile& target) const = 0;
  virtual void multiplyTo(CTile& target) const = 0;

protected:
  Tile() = default;
  // Copies start unattached to any storage.
  Tile(const Tile&) : Saveable() {}
  Tile& operator=(const Tile&) { return *this; }
};

} // namespace quorvane

#endif
