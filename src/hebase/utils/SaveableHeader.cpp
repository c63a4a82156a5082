#include "hebase/utils/SaveableHeader.h"

#include <iostream>
#include <stdexcept>

#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/QuorvaneVersion.h"

namespace quorvane {

SaveableHeader::SaveableHeader(const std::string& className, int contextId)
    : magic(MAGIC), version(static_cast<int32_t>(currentVersion.pack())), className(className),
      contextId(contextId)
{
}

SaveableHeader::SaveableHeader(std::istream& in)
{
  maxClassNameLength = 100;
  magic = BinIoUtils::readInt32(in);
  version = BinIoUtils::readInt32(in);
  if (magic != MAGIC)
    reportBadMagic();
  if (QuorvaneVersion(static_cast<uint32_t>(version)) != currentVersion)
    reportUnsupportedVersion();
  className =
      BinIoUtils::readRecordString(in, "object header", "the class name", maxClassNameLength);
  contextId = BinIoUtils::readInt32(in);
}

std::ostream& SaveableHeader::save(std::ostream& out) const
{
  BinIoUtils::writeInt32(out, magic);
  BinIoUtils::writeInt32(out, version);
  BinIoUtils::writeString(out, className);
  BinIoUtils::writeInt32(out, contextId);
  return out;
}

void SaveableHeader::reportClassNameMismatch(const std::string& expected) const
{
  std::cerr << "Loading failed due to a mismatching class name field. Expecting: " << expected
            << ". Received: " << className << ".";
  throw std::runtime_error("loading failed due to a mismatching class name field");
}

void SaveableHeader::reportContextMismatch(int expectedId) const
{
  std::cerr << "Loading failed due to mismatching contexts." << std::endl
            << "The input file belongs to context with id " << contextId << "," << std::endl
            << "while the context in memory has id " << expectedId << "." << std::endl;
  throw std::runtime_error("loading failed due to mismatching contexts.");
}

void SaveableHeader::reportBadMagic() const
{
  std::ios::fmtflags flags = std::cerr.flags();
  std::cerr << "Input file is corrupt, or not an Quorvane file." << std::endl
            << "First 4 bytes are " << std::hex << static_cast<uint32_t>(magic) << "."
            << std::endl
            << "Quorvane files start with " << static_cast<uint32_t>(MAGIC) << "." << std::endl;
  std::cerr.flags(flags);
  throw std::runtime_error("Input file is corrupt, or not an Quorvane file.");
}

void SaveableHeader::reportUnsupportedVersion() const
{
  std::cerr << "Failed loading object from file: unsupported version." << std::endl
            << "Input file version: " << QuorvaneVersion(static_cast<uint32_t>(version)) << "."
            << std::endl
            << "Current version: " << currentVersion << "." << std::endl;
  throw std::runtime_error("Failed loading object from file: unsupported version.");
}

} // namespace quorvane
