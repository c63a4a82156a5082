#ifndef QUORVANE_HEBASE_UTILS_SAVEABLEHEADER_H
#define QUORVANE_HEBASE_UTILS_SAVEABLEHEADER_H

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

namespace quorvane {

/// Header before every saved object: magic, version, class name, context id.
struct SaveableHeader
{
  /// "QVRN" read as a big-endian number.
  static constexpr int32_t MAGIC = 0x5156524E;

  int32_t magic;
  int32_t version;
  std::string className;
  int32_t contextId;
  /// Largest stored class-name length accepted on reading (NUL included).
  int32_t maxClassNameLength = 100;

  /// A header of the current version.
  SaveableHeader(const std::string& className, int contextId);
  /// Reads a header and checks its magic and version.
  explicit SaveableHeader(std::istream& in);

  /// Writes magic, version, class name and context id.
  std::ostream& save(std::ostream& out) const;

  [[noreturn]] void reportClassNameMismatch(const std::string& expected) const;
  [[noreturn]] void reportContextMismatch(int expectedId) const;
  [[noreturn]] void reportBadMagic() const;
  [[noreturn]] void reportUnsupportedVersion() const;
};

} // namespace quorvane

#endif
