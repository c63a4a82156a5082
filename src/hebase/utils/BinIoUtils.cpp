#include "hebase/utils/BinIoUtils.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace quorvane {

namespace {

// The library's fields are little-endian; this build targets little-endian hosts.
static_assert(sizeof(int32_t) == 4 && sizeof(double) == 8, "unexpected type sizes");

constexpr uint64_t MAX_STRING_LENGTH = 0x280000000ULL;

template <typename T>
T readRaw(std::istream& in, const char* what)
{
  T value{};
  BinIoUtils::readBytes(in, reinterpret_cast<char*>(&value), sizeof(T), what);
  return value;
}

template <typename T>
std::ostream& writeRaw(std::ostream& out, const T& value)
{
  BinIoUtils::writeBytes(out, reinterpret_cast<const char*>(&value), sizeof(T));
  return out;
}

} // namespace

void BinIoUtils::readBytes(std::istream& in, char* data, size_t size, const char* what)
{
  if (size == 0)
    return;
  // A stream with exceptions enabled (the library's file streams) throws its
  // own failure here; other streams are checked below.
  in.read(data, static_cast<std::streamsize>(size));
  if (!in || static_cast<size_t>(in.gcount()) != size)
    throw std::runtime_error(std::string("Input stream ended or failed while reading ") + what +
                             ": the data is truncated or corrupt.");
}

void BinIoUtils::writeBytes(std::ostream& out, const char* data, size_t size)
{
  out.write(data, static_cast<std::streamsize>(size));
  if (!out)
    throw std::runtime_error("Output stream failed while writing.");
}

std::ostream& BinIoUtils::writeBool(std::ostream& out, bool value)
{
  char byte = value ? 1 : 0;
  return writeRaw(out, byte);
}

bool BinIoUtils::readBool(std::istream& in)
{
  return readRaw<char>(in, "a bool") != 0;
}

std::ostream& BinIoUtils::writeInt32(std::ostream& out, int32_t value)
{
  return writeRaw(out, value);
}

int32_t BinIoUtils::readInt32(std::istream& in)
{
  return readRaw<int32_t>(in, "an int32");
}

int32_t BinIoUtils::readInt32Checked(std::istream& in, int32_t min, int32_t max)
{
  int32_t value = readInt32(in);
  if (value < min || value > max)
    throw std::runtime_error("BinIoUtils::readInt32Checked() failed: The loaded value (" +
                             std::to_string(value) +
                             ") doesn't fall in the specified valid range ([" +
                             std::to_string(min) + ", " + std::to_string(max) + "]).");
  return value;
}

int32_t BinIoUtils::readRecordField(std::istream& in, const char* record, const char* field,
                                    int32_t min, int32_t max, bool notSetAllowed)
{
  int32_t value = readInt32(in);
  if ((value < min || value > max) && !(notSetAllowed && value == -1))
    throw std::runtime_error(std::string("Invalid saved ") + record + ": " + field + " is " +
                             std::to_string(value) + ", expected " +
                             (notSetAllowed ? "-1 (not set) or " : "") + "a value in [" +
                             std::to_string(min) + ", " + std::to_string(max) + "]");
  return value;
}

std::ostream& BinIoUtils::writeInt32Size(std::ostream& out, size_t size, const char* what)
{
  constexpr size_t MAX_SIZE = static_cast<size_t>(std::numeric_limits<int32_t>::max());
  if (size > MAX_SIZE)
    throw std::length_error(std::string("Cannot save ") + what + " " + std::to_string(size) +
                            ": saved sizes are limited to " + std::to_string(MAX_SIZE));
  return writeInt32(out, static_cast<int32_t>(size));
}

std::ostream& BinIoUtils::writeInt32Vector(std::ostream& out, const std::vector<int>& values)
{
  writeInt32Size(out, values.size(), "a vector of int32 values of size");
  for (int v : values)
    writeInt32(out, v);
  return out;
}

std::vector<int> BinIoUtils::readInt32Vector(std::istream& in, int maxCount)
{
  int32_t count = readInt32Checked(in, 0, maxCount);
  std::vector<int> values(count);
  for (int32_t i = 0; i < count; ++i)
    values[i] = readInt32(in);
  return values;
}

std::ostream& BinIoUtils::writeDouble(std::ostream& out, double value)
{
  return writeRaw(out, value);
}

double BinIoUtils::readDouble(std::istream& in)
{
  return readRaw<double>(in, "a double");
}

std::ostream& BinIoUtils::writeSizeT(std::ostream& out, size_t value)
{
  return writeRaw(out, static_cast<uint64_t>(value));
}

uint64_t BinIoUtils::readSizeTChecked(std::istream& in, uint64_t max)
{
  uint64_t value = readRaw<uint64_t>(in, "a size");
  if (value > max)
    throw std::runtime_error("BinIoUtils::readSizeTChecked() failed: the loaded value (" +
                             std::to_string(value) +
                             ") is larger than the specified maximum (" + std::to_string(max) +
                             ").");
  return value;
}

std::ostream& BinIoUtils::writeUint64(std::ostream& out, uint64_t value)
{
  return writeRaw(out, value);
}

uint64_t BinIoUtils::readUint64(std::istream& in)
{
  return readRaw<uint64_t>(in, "a uint64");
}

std::ostream& BinIoUtils::writeString(std::ostream& out, const std::string& value)
{
  // The length counts the terminating NUL; a size_t that would wrap is refused too.
  writeInt32Size(out, value.size() < SIZE_MAX ? value.size() + 1 : SIZE_MAX,
                 "a string of stored length");
  writeBytes(out, value.c_str(), value.size() + 1);
  return out;
}

std::string BinIoUtils::readString(std::istream& in, int64_t maxLength)
{
  return readStringField(in, maxLength, nullptr, nullptr);
}

std::string BinIoUtils::readRecordString(std::istream& in, const char* record, const char* field,
                                         int64_t maxLength)
{
  return readStringField(in, maxLength, record, field);
}

std::string BinIoUtils::readStringField(std::istream& in, int64_t maxLength, const char* record,
                                        const char* field)
{
  if (maxLength == -1)
    maxLength = static_cast<int64_t>(MAX_STRING_LENGTH);
  if (static_cast<uint64_t>(maxLength) > MAX_STRING_LENGTH)
    throw std::runtime_error("Internal error. Maximum length too large");
  int32_t length = readInt32(in);
  if (length > maxLength)
    throw std::runtime_error(
        "Input stream is corrupt.\nAttempting to load from stream a string of size " +
        std::to_string(length) + " where the expected maximum at current position is " +
        std::to_string(maxLength));
  const std::string prefix = record == nullptr
                                 ? std::string()
                                 : std::string("Invalid saved ") + record + ": " + field + " ";
  if (length < 1)
    throw std::runtime_error(record == nullptr ? "illegal string"
                                               : prefix + "has stored length " +
                                                     std::to_string(length) +
                                                     ", expected at least 1");
  const std::string what =
      record == nullptr ? "a string" : std::string(field) + " of a saved " + record;
  // Grow the string as its bytes arrive, so that a corrupt length on a short
  // stream fails without allocating the whole claimed size.
  constexpr size_t CHUNK = size_t(1) << 20;
  std::string value;
  size_t total = static_cast<size_t>(length);
  while (value.size() < total) {
    size_t done = value.size();
    size_t step = std::min(CHUNK, total - done);
    value.resize(done + step);
    readBytes(in, &value[done], step, what.c_str());
  }
  if (value.back() != '\0')
    throw std::runtime_error(record == nullptr ? "illegal string"
                                               : prefix + "does not end with a NUL byte");
  value.pop_back();
  return value;
}

} // namespace quorvane
