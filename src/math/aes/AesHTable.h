#ifndef QUORVANE_MATH_AES_AESHTABLE_H
#define QUORVANE_MATH_AES_AESHTABLE_H

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "hebase/utils/Saveable.h"

namespace quorvane {

class AesBitwiseHTable;
class HeContext;
struct SaveableHeader;

/// A saved set of bit-sliced AES elements, the H-table batches. Their number
/// follows from sizeMaxAuthGroup and the slot count of the loading context:
/// the ceiling of (sizeMaxAuthGroup + 1) / slot count.
class AesHTable : public Saveable
{
public:
  /// An empty table: not initialised, no batches.
  explicit AesHTable(const HeContext& he);
  ~AesHTable() override;

  /// Builds a table of the context and loads it after an already read header.
  static std::shared_ptr<Saveable> createAndLoad(const HeContext& he,
                                                 const SaveableHeader& header, std::istream& in);

  int32_t getContextId() const override;
  void saveImpl(std::ostream& out) const override;
  /// Reads a saved table; a refused load leaves the table as it was.
  void loadImpl(std::istream& in) override;
  std::string getClassName() const override;

  /// Checks the batch count and every batch when initialised, and that an
  /// uninitialised table is empty.
  void validateLegal() const;
  /// The number of batches sizeMaxAuthGroup needs at the context's slot count.
  int getRequiredNumBatches() const;

private:
  const HeContext& he;
  std::vector<std::shared_ptr<AesBitwiseHTable>> hTableBatches;
  int sizeMaxAuthGroup = 0;
  bool initialized = false;
};

} // namespace quorvane

#endif
