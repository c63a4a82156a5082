#ifndef QUORVANE_MATH_ENCRYPTEDDATA_H
#define QUORVANE_MATH_ENCRYPTEDDATA_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hebase/utils/Saveable.h"

namespace quorvane {

class CTileTensor;
class HeContext;
class SaveableHeader;
class Storage;

/// One batch of an encrypted data set: a list of ciphertext tile tensors
/// (items), such as the samples and the labels of the same batch. Copies share
/// the items.
class EncryptedBatch : public Saveable
{
public:
  /// An empty batch of the context.
  explicit EncryptedBatch(const HeContext& he);
  EncryptedBatch(const EncryptedBatch&) = default;
  EncryptedBatch(EncryptedBatch&&) = default;
  ~EncryptedBatch() override;

  /// Builds a batch of the context and loads it after an already read header.
  static std::shared_ptr<Saveable> createAndLoad(const HeContext& he,
                                                 const SaveableHeader& header, std::istream& in);

  int32_t getContextId() const override;
  /// The item count, then every item saved whole.
  void saveImpl(std::ostream& out) const override;
  /// Reads what saveImpl wrote into an empty batch; the batch changes only when all is read.
  void loadImpl(std::istream& in) override;
  std::string getClassName() const override;
  /// Refuses a batch whose items hold an empty tile.
  void checkSavable() const override;
  /// Refuses (std::runtime_error "Tile <t> of item <i> is empty: it holds no
  /// values", "... of item <i> of batch <batchIndex> ..." for a batch of a data
  /// set) an item holding an empty tile.
  void checkItemsHoldValues(int batchIndex = -1) const;

  /// Appends the item (shared, not copied); refuses an item of another context
  /// (HeContext::checkSameContext).
  void addItem(std::shared_ptr<CTileTensor> item);
  /// Item i; std::out_of_range "invalid vector subscript" outside.
  std::shared_ptr<CTileTensor> getItem(size_t i) const;
  size_t getNumItems() const { return items.size(); }
  const HeContext& getHeContext() const { return *he; }

private:
  const HeContext* he;
  std::vector<std::shared_ptr<CTileTensor>> items;
};

/// An encrypted data set split into batches. Attached to an output storage,
/// each added batch goes to the storage's buffer "batch-<index>" instead of
/// memory; attached to an input storage, batches are read from those buffers
/// on request.
class EncryptedData : public Saveable
{
public:
  /// An empty data set of the context.
  explicit EncryptedData(const HeContext& he);
  EncryptedData(const EncryptedData&) = default;
  EncryptedData(EncryptedData&&) = default;
  ~EncryptedData() override;

  /// Builds a data set of the context and loads it after an already read header.
  static std::shared_ptr<Saveable> createAndLoad(const HeContext& he,
                                                 const SaveableHeader& header, std::istream& in);

  int32_t getContextId() const override;
  /// The batch count (8 bytes).
  void saveMetadata(std::ostream& out) const override;
  /// Reads the batch count, at most 100000.
  void loadMetadata(std::istream& in) override;
  /// The batch count, then every batch saved whole.
  void saveImpl(std::ostream& out) const override;
  /// Reads what saveImpl wrote into an empty data set; the data set changes
  /// only when all is read.
  void loadImpl(std::istream& in) override;
  std::string getClassName() const override;
  bool allowsStorage() const override;
  /// Refuses a data set whose batches in memory hold an empty tile.
  void checkSavable() const override;
  /// Refuses (std::runtime_error "Tile <t> of item <i> of batch <b> is empty:
  /// it holds no values") an empty tile in the batches held in memory.
  void checkItemsHoldValues() const;

  /// Appends the batch (to the output storage when one is attached); refuses a
  /// batch of another context (HeContext::checkSameContext) and a data set
  /// attached to an input storage.
  void addBatch(const EncryptedBatch& batch);
  /// Appends every batch of other, wherever it keeps them (other may be this
  /// data set), all or none: refuses a data set of another context, a data set
  /// attached to an input storage as this one, a batch in memory holding an
  /// empty tile (checkItemsHoldValues) and a stored batch that does not load
  /// ("Cannot read batch <i> of the stored data set: ..."), before anything is
  /// added. Stored batches are loaded one at a time; for an output storage all
  /// are loaded before the first is written, keeping at most READ_AHEAD_BYTES
  /// of them. A storage failing to write part-way keeps the batches written.
  void addEncryptedData(const EncryptedData& other);
  /// Batch i: from the input storage when one is attached, else a copy of the
  /// batch in memory (sharing its items).
  EncryptedBatch getBatch(size_t i) const;
  size_t getNumBatches() const { return numBatches; }
  const HeContext& getHeContext() const { return *he; }

  /// How many bytes of stored batches addEncryptedData keeps in memory while
  /// it checks them before writing them to an output storage.
  static constexpr uint64_t READ_AHEAD_BYTES = 64u << 20;

private:
  const HeContext* he;
  std::vector<EncryptedBatch> batches;
  size_t numBatches = 0;
  /// The batch count before the metadata of a load was read, restored when the body fails.
  size_t numBatchesBeforeLoad = 0;

  /// Refuses (std::runtime_error) adding to a data set attached to an input storage.
  void checkAddable() const;
  /// Marks the data set populated and appends the batch, to the output
  /// storage when one is attached.
  void appendBatch(const EncryptedBatch& batch);
  /// Appends the batches; in memory all or none.
  void appendBatches(std::vector<EncryptedBatch>&& toAdd);
  /// Loads batch i from the buffer of a storage; bytesRead, when given, gets
  /// the size read (the maximum value when the stream cannot tell).
  EncryptedBatch loadBatch(Storage& storage, size_t i, uint64_t* bytesRead) const;
  /// loadBatch, with a failure naming the batch.
  EncryptedBatch loadBatchToAdd(Storage& storage, size_t i, uint64_t* bytesRead) const;
  /// Adds batches 0..count-1 of the storage, all or none (addEncryptedData).
  void addStoredBatches(Storage& storage, size_t count);
};

/// Loads a saved object through the loader registry; refuses (std::runtime_error)
/// anything but an EncryptedData.
std::shared_ptr<EncryptedData> loadEncryptedData(const HeContext& he, std::istream& in);

} // namespace quorvane

#endif
