#ifndef QUORVANE_HEBASE_RUNSTATS_H
#define QUORVANE_HEBASE_RUNSTATS_H

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "hebase/utils/Printable.h"

namespace quorvane {

/// Operation counters per operation kind and chain index, kept by tracking
/// contexts. All fields are guarded by the mutex.
class RunStats : public Printable
{
public:
  /// Operation codes, the rows of the counters.
  enum Operation
  {
    ENCODE = 0,
    ENCRYPT = 1,
    DECODE_DOUBLE = 2,
    DECRYPT = 3,
    C_COPY = 4,
    ADD_RAW = 5,
    SUB_RAW = 6,
    ADD_PLAIN_RAW = 7,
    SUB_PLAIN_RAW = 8,
    NEGATE = 9,
    RELINEARIZE = 10,
    ROTATE = 11,
    MULTIPLY_RAW = 12,
    MULTIPLY_PLAIN_RAW = 13,
    SQUARE_RAW = 14,
    RESCALE_RAW = 15,
    BOOTSTRAP = 16
  };

  static constexpr int NUM_OPERATIONS = 17;
  /// Chain indexes 0 .. MAX_CHAIN_INDEX are counted.
  static constexpr int MAX_CHAIN_INDEX = 100;

  /// Names of the operation codes, in code order ("encode" .. "bootstrap").
  static const std::vector<std::string>& getOperationNames();
  /// Names of the object kinds ("context" .. "ptile").
  static const std::vector<std::string>& getObjectNames();
  /// The printed name: a trailing "Raw" removed, "cCopy" shown as "copy".
  static std::string getPrintedName(int code);

  RunStats();
  ~RunStats() override;

  /// Adds one to the counter of the code at the chain index; throws
  /// std::out_of_range "invalid vector subscript" outside 0..16 or 0..100.
  void count(int code, int chainIndex);
  /// Extends the observed chain-index range by the chain index.
  void recordChainIndex(int chainIndex);
  /// Adds the step to the observed rotations.
  void recordRotation(int step);
  /// Zeroes the counters and forgets the chain indexes and rotations.
  void clear();

  /// The counter of the code at the chain index.
  int getCount(int code, int chainIndex) const;
  /// The sum of the counters of the code over all chain indexes.
  int64_t getTotalCount(int code) const;
  std::set<int> getRotations() const;
  int getMinChainIndex() const;
  int getMaxChainIndex() const;

  /// "Run stats" (with " <title>:" when set), then one line per operation
  /// with a non-zero total: the name in 15 columns, ": ", the total in 4.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

private:
  /// The name tables, built at start-up (hebase/StartupRegistration.cpp).
  static const std::vector<std::string> operationNames;
  static const std::vector<std::string> objectNames;

  std::vector<std::vector<int32_t>> counters;
  mutable std::mutex mutex;
  std::set<int32_t> rotations;
  int32_t minChainIndex = -1;
  int32_t maxChainIndex = -1;
};

} // namespace quorvane

#endif
