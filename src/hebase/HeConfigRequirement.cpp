#include "hebase/HeConfigRequirement.h"

#include <ostream>
#include <stdexcept>
#include <string>

#include "hebase/utils/Assert.h"
#include "hebase/utils/BinIoUtils.h"

namespace quorvane {

namespace {

constexpr std::streamoff FIXED_PART_SIZE = 5 * 4 + 2;

// Reads a count that is either -1 (not set) or lies in [min, max].
int32_t readOptionalCount(std::istream& in, const char* field, int32_t min, int32_t max)
{
  return BinIoUtils::readRecordField(in, "HeConfigRequirement", field, min, max, true);
}

const char* boolText(bool value)
{
  return value ? "True" : "False";
}

} // namespace

HeConfigRequirement::HeConfigRequirement(int numSlots, int multiplicationDepth,
                                         int fractionalPartPrecision, int integerPartPrecision,
                                         int securityLevel)
    : numSlots(numSlots),
      multiplicationDepth(multiplicationDepth),
      fractionalPartPrecision(fractionalPartPrecision),
      integerPartPrecision(integerPartPrecision),
      securityLevel(securityLevel)
{
  QV_ASSERT(securityLevel >= 128);
}

HeConfigRequirement HeConfigRequirement::insecure(int numSlots, int multiplicationDepth,
                                                  int fractionalPartPrecision,
                                                  int integerPartPrecision)
{
  HeConfigRequirement req;
  req.numSlots = numSlots;
  req.multiplicationDepth = multiplicationDepth;
  req.fractionalPartPrecision = fractionalPartPrecision;
  req.integerPartPrecision = integerPartPrecision;
  req.securityLevel = 0;
  return req;
}

void HeConfigRequirement::assertComplete() const
{
  QV_ASSERT(securityLevel != -1);
  QV_ASSERT(numSlots != -1);
  QV_ASSERT(multiplicationDepth != -1);
  QV_ASSERT(fractionalPartPrecision != -1);
  QV_ASSERT(integerPartPrecision != -1);
}

void HeConfigRequirement::debugPrint(const std::string&, Verbosity verbosity,
                                     std::ostream& out) const
{
  if (verbosity == VERBOSITY_NONE)
    return;
  out << "He configuration requirement:" << std::endl;
  out << "Security level: " << securityLevel << std::endl;
  out << "Integer part precision: " << integerPartPrecision << std::endl;
  out << "Fractional part precision: " << fractionalPartPrecision << std::endl;
  out << "Number of slots: " << numSlots << std::endl;
  out << "Multiplication depth: " << multiplicationDepth << std::endl;
  out << "Bootstrappable: " << boolText(bootstrappable) << std::endl;
  out << "Automatic bootstrapping: " << boolText(automaticBootstrapping) << std::endl;
  if (multiPartyConfig.has_value()) {
    out << "Multi-Party: True" << std::endl;
    multiPartyConfig->debugPrint("", verbosity, out);
  }
  switch (publicFunctions.rotate) {
  case CUSTOM_ROTATIONS:
    out << "Rotation keys policy: custom, " << publicFunctions.rotationSteps.size()
        << " keys required:" << std::endl;
    out << publicFunctions.rotationSteps << std::endl;
    break;
  case DEFAULT_ROTATIONS:
    out << "Rotation keys policy: default rotation keys" << std::endl;
    break;
  case NO_ROTATIONS:
    out << "Rotation keys policy: no rotation keys" << std::endl;
    break;
  default:
    throw std::runtime_error("Invalid rotation type: " +
                             std::to_string(static_cast<int>(publicFunctions.rotate)));
  }
}

std::streamoff HeConfigRequirement::save(std::ostream& out) const
{
  BinIoUtils::writeInt32(out, numSlots);
  BinIoUtils::writeInt32(out, multiplicationDepth);
  BinIoUtils::writeInt32(out, fractionalPartPrecision);
  BinIoUtils::writeInt32(out, integerPartPrecision);
  BinIoUtils::writeInt32(out, securityLevel);
  BinIoUtils::writeBool(out, bootstrappable);
  BinIoUtils::writeBool(out, automaticBootstrapping);
  std::streamoff size = FIXED_PART_SIZE;
  BinIoUtils::writeBool(out, bootstrapConfig.has_value());
  size += 1;
  if (bootstrapConfig.has_value())
    size += bootstrapConfig->save(out);
  BinIoUtils::writeBool(out, multiPartyConfig.has_value());
  size += 1;
  if (multiPartyConfig.has_value())
    size += multiPartyConfig->save(out);
  size += publicFunctions.save(out);
  return size;
}

std::streamoff HeConfigRequirement::load(std::istream& in)
{
  HeConfigRequirement loaded;
  loaded.numSlots = readOptionalCount(in, "numSlots", 1, MAX_NUM_SLOTS);
  loaded.multiplicationDepth =
      readOptionalCount(in, "multiplicationDepth", 0, MAX_MULTIPLICATION_DEPTH);
  loaded.fractionalPartPrecision =
      readOptionalCount(in, "fractionalPartPrecision", 0, MAX_PRECISION);
  loaded.integerPartPrecision = readOptionalCount(in, "integerPartPrecision", 0, MAX_PRECISION);
  loaded.securityLevel = readOptionalCount(in, "securityLevel", 0, MAX_SECURITY_LEVEL);
  loaded.bootstrappable = BinIoUtils::readBool(in);
  loaded.automaticBootstrapping = BinIoUtils::readBool(in);
  std::streamoff size = FIXED_PART_SIZE;
  size += 1;
  if (BinIoUtils::readBool(in)) {
    loaded.bootstrapConfig.emplace();
    size += loaded.bootstrapConfig->load(in);
  }
  size += 1;
  if (BinIoUtils::readBool(in)) {
    loaded.multiPartyConfig.emplace();
    size += loaded.multiPartyConfig->load(in);
  }
  size += loaded.publicFunctions.load(in);
  *this = std::move(loaded);
  return size;
}

} // namespace quorvane
