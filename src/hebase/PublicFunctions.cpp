#include "hebase/PublicFunctions.h"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <string>

#include "hebase/utils/BinIoUtils.h"

namespace quorvane {

namespace {

int32_t readEnumValue(std::istream& in, const char* field, int32_t max)
{
  return BinIoUtils::readRecordField(in, "PublicFunctions", field, 0, max);
}

} // namespace

void PublicFunctions::clear()
{
  encrypt = false;
  relinearize = false;
  rotate = NO_ROTATIONS;
  conjugate = FALSE;
  rotationSteps.clear();
}

void PublicFunctions::validate() const
{
  if (rotate != CUSTOM_ROTATIONS && !rotationSteps.empty())
    throw std::invalid_argument("invalid PublicFunctions: \"rotate\" is set to DEFAULT_ROTATIONS "
                                "but \"rotationStpes\" vector is not empty");
}

bool PublicFunctions::isSubsetOf(const PublicFunctions& other) const
{
  if (encrypt && !other.encrypt)
    return false;
  if (relinearize && !other.relinearize)
    return false;
  if (rotate != NO_ROTATIONS && rotate != other.rotate)
    return false;
  if (conjugate != FALSE && other.conjugate == FALSE)
    return false;
  std::set<int> otherSteps(other.rotationSteps.begin(), other.rotationSteps.end());
  return std::all_of(rotationSteps.begin(), rotationSteps.end(),
                     [&otherSteps](int step) { return otherSteps.count(step) != 0; });
}

bool PublicFunctions::hasSameRotations(const PublicFunctions& other) const
{
  if (rotate != other.rotate)
    return false;
  std::set<int> mine(rotationSteps.begin(), rotationSteps.end());
  std::set<int> theirs(other.rotationSteps.begin(), other.rotationSteps.end());
  return mine == theirs;
}

std::streamoff PublicFunctions::save(std::ostream& out) const
{
  if (rotationSteps.size() > BinIoUtils::MAX_ELEMENT_COUNT)
    throw std::runtime_error("Cannot save PublicFunctions: " +
                             std::to_string(rotationSteps.size()) +
                             " rotation steps exceed the maximum of " +
                             std::to_string(BinIoUtils::MAX_ELEMENT_COUNT));
  BinIoUtils::writeBool(out, encrypt);
  BinIoUtils::writeBool(out, relinearize);
  BinIoUtils::writeInt32(out, rotate);
  BinIoUtils::writeInt32(out, conjugate);
  BinIoUtils::writeInt32Vector(out, rotationSteps);
  return static_cast<std::streamoff>(2 + 4 + 4 + 4 + 4 * rotationSteps.size());
}

std::streamoff PublicFunctions::load(std::istream& in)
{
  PublicFunctions loaded;
  loaded.encrypt = BinIoUtils::readBool(in);
  loaded.relinearize = BinIoUtils::readBool(in);
  loaded.rotate = static_cast<RotationSetType>(readEnumValue(in, "rotate", CUSTOM_ROTATIONS));
  loaded.conjugate = static_cast<ConjugationSupport>(readEnumValue(in, "conjugate", TRUE));
  loaded.rotationSteps = BinIoUtils::readInt32Vector(
      in, static_cast<int>(BinIoUtils::MAX_ELEMENT_COUNT));
  *this = std::move(loaded);
  return static_cast<std::streamoff>(2 + 4 + 4 + 4 + 4 * rotationSteps.size());
}

} // namespace quorvane
