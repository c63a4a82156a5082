#ifndef QUORVANE_HEBASE_ABSTRACTPLAINTEXT_H
#define QUORVANE_HEBASE_ABSTRACTPLAINTEXT_H

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "hebase/DeviceType.h"
#include "hebase/utils/Printable.h"

namespace quorvane {

class HeContext;

/// Backend plaintext: encoded values with a chain index and a scale.
class AbstractPlaintext : public Printable
{
public:
  ~AbstractPlaintext() override;

  /// Kind "PTile", the title, chain index and scale information, then the
  /// decoded values at higher verbosity.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

protected:
  /// A deep copy of the same backend and context.
  virtual std::shared_ptr<AbstractPlaintext> doClone() const = 0;

public:
  /// Writes the backend body; returns the bytes written.
  virtual int64_t save(std::ostream& out) const = 0;
  /// Reads the backend body; returns the bytes read.
  virtual int64_t load(std::istream& in) = 0;

  virtual void toDevice(DeviceType device);
  virtual DeviceType getCurrentDevice() const;

  /// Sets the chain index at which the plaintext counts as encoded.
  virtual void setChainIndex(int chainIndex) = 0;
  virtual int getChainIndex() const = 0;

  virtual void setScale(double scale) = 0;
  virtual double getScale() const = 0;

  virtual int slotCount() const = 0;

  /// Whether every slot is zero.
  virtual bool isAllZeroes() const;

  /// True while nothing has been encoded, decrypted or loaded into it; false
  /// by default, for backends whose plaintexts always hold their slots.
  virtual bool isEmpty() const;

  /// Memory estimate in bytes; -1 when the backend makes none.
  virtual int64_t getEstimatedMemoryUsageBytes() const;

  /// A deep copy (doClone).
  std::shared_ptr<AbstractPlaintext> clone() const { return doClone(); }
  /// setChainIndex(getChainIndex() - 1).
  void reduceChainIndex();

  const HeContext& getContext() const { return he; }

protected:
  explicit AbstractPlaintext(const HeContext& he) : he(he) {}
  AbstractPlaintext(const AbstractPlaintext& src) = default;
  AbstractPlaintext& operator=(const AbstractPlaintext&) = delete;

  const HeContext& he;
};

} // namespace quorvane

#endif
