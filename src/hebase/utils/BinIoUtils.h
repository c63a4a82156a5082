#ifndef QUORVANE_HEBASE_UTILS_BINIOUTILS_H
#define QUORVANE_HEBASE_UTILS_BINIOUTILS_H

#include <cstdint>
#include <cstddef>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace quorvane {

/// Little-endian binary fields on streams. Every read checks the stream and
/// throws std::runtime_error when it ends or fails before the value is whole;
/// counts and lengths are read against a maximum.
class BinIoUtils
{
public:
  /// Largest element or batch count accepted by loaders.
  static constexpr uint64_t MAX_ELEMENT_COUNT = 100000;

  static std::ostream& writeBool(std::ostream& out, bool value);
  static bool readBool(std::istream& in);

  static std::ostream& writeInt32(std::ostream& out, int32_t value);
  static int32_t readInt32(std::istream& in);
  /// Reads an int32 and checks min <= value <= max.
  static int32_t readInt32Checked(std::istream& in, int32_t min, int32_t max);
  /// Reads an int32 field of a saved record and checks min <= value <= max,
  /// also accepting -1 when notSetAllowed; otherwise std::runtime_error
  /// "Invalid saved <record>: <field> is <value>, expected a value in [min, max]"
  /// ("expected -1 (not set) or a value in ..." when notSetAllowed).
  static int32_t readRecordField(std::istream& in, const char* record, const char* field,
                                 int32_t min, int32_t max, bool notSetAllowed = false);

  /// Writes a size (a count or a length) as an int32 field. Refuses with
  /// std::length_error "Cannot save <what> <size>: saved sizes are limited to
  /// 2147483647" a larger one, before anything is written.
  static std::ostream& writeInt32Size(std::ostream& out, size_t size, const char* what);

  /// The count (writeInt32Size), then the values.
  static std::ostream& writeInt32Vector(std::ostream& out, const std::vector<int>& values);
  static std::vector<int> readInt32Vector(std::istream& in, int maxCount);

  static std::ostream& writeDouble(std::ostream& out, double value);
  static double readDouble(std::istream& in);

  static std::ostream& writeSizeT(std::ostream& out, size_t value);
  /// Reads a 64-bit unsigned value and checks value <= max.
  static uint64_t readSizeTChecked(std::istream& in, uint64_t max);

  static std::ostream& writeUint64(std::ostream& out, uint64_t value);
  static uint64_t readUint64(std::istream& in);

  /// The length with the terminating NUL (writeInt32Size), then the bytes and the NUL.
  static std::ostream& writeString(std::ostream& out, const std::string& value);
  /// Reads a string whose stored length (NUL included) is at most maxLength;
  /// -1 means 10 GiB.
  static std::string readString(std::istream& in, int64_t maxLength = -1);
  /// readString for a string field of a saved record; an illegal string is
  /// refused with std::runtime_error "Invalid saved <record>: <field> has
  /// stored length <N>, expected at least 1" or "Invalid saved <record>:
  /// <field> does not end with a NUL byte".
  static std::string readRecordString(std::istream& in, const char* record, const char* field,
                                      int64_t maxLength);

  /// Reads exactly size bytes or throws std::runtime_error naming what was read.
  static void readBytes(std::istream& in, char* data, size_t size, const char* what);
  /// Writes size bytes and throws std::runtime_error when the stream fails.
  static void writeBytes(std::ostream& out, const char* data, size_t size);

private:
  /// readString; record and field name the string in its refusals when given.
  static std::string readStringField(std::istream& in, int64_t maxLength, const char* record,
                                     const char* field);
};

} // namespace quorvane

#endif
