#include "math/Padding2d.h"

#include <algorithm>

#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/PrintUtils.h"

namespace quorvane {

Padding2d::Padding2d() {}

Padding2d::Padding2d(int left, int right, int up, int down)
    : left(left), right(right), up(up), down(down)
{
}

Padding2d::~Padding2d() {}

void Padding2d::set(int newLeft, int newRight, int newUp, int newDown)
{
  left = newLeft;
  right = newRight;
  up = newUp;
  down = newDown;
}

bool Padding2d::allZero() const
{
  return left == 0 && right == 0 && up == 0 && down == 0;
}

int Padding2d::getMaxLeftRight() const
{
  return std::max(left, right);
}

int Padding2d::getMaxUpDown() const
{
  return std::max(up, down);
}

void Padding2d::debugPrint(const std::string& title, Verbosity verbosity, std::ostream& out) const
{
  if (verbosity == VERBOSITY_NONE)
    return;
  PrintUtils::printTitle(out, "Padding-2d", title);
  out << "(left=" << left << ", right=" << right << ", up=" << up << ", down=" << down << ")";
}

std::streamoff Padding2d::save(std::ostream& out) const
{
  BinIoUtils::writeInt32(out, right);
  BinIoUtils::writeInt32(out, left);
  BinIoUtils::writeInt32(out, up);
  BinIoUtils::writeInt32(out, down);
  return 16;
}

std::streamoff Padding2d::load(std::istream& in)
{
  const int32_t newRight = BinIoUtils::readInt32(in);
  const int32_t newLeft = BinIoUtils::readInt32(in);
  const int32_t newUp = BinIoUtils::readInt32(in);
  const int32_t newDown = BinIoUtils::readInt32(in);
  set(newLeft, newRight, newUp, newDown);
  return 16;
}

} // namespace quorvane
