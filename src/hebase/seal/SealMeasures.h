#ifndef QUORVANE_HEBASE_SEAL_SEALMEASURES_H
#define QUORVANE_HEBASE_SEAL_SEALMEASURES_H

#include <cstdint>
#include <istream>
#include <map>
#include <string>

namespace quorvane {

/// Reading of the measures file: a JSON document flattened into dotted keys
/// with signed 64-bit integer values.
class SealMeasures
{
public:
  /// The path of the measures file under the resources directory.
  static std::string getMeasuresFilePath();

  /// Parses a JSON document and flattens it; the parser's errors propagate.
  static std::map<std::string, int64_t> parse(std::istream& in);

  /// Reads and flattens a JSON file; a missing file is refused with
  /// "SEAL measures file not found at: <path>".
  static std::map<std::string, int64_t> readFile(const std::string& path);
};

} // namespace quorvane

#endif
