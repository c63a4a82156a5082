#ifndef QUORVANE_MATH_PADDING2D_H
#define QUORVANE_MATH_PADDING2D_H

#include <cstdint>
#include <iostream>
#include <string>

#include "hebase/utils/Saveable.h"

namespace quorvane {

/// The padding of a two-dimensional array on its four sides, as convolution
/// and mean-pooling configurations describe it. No value is validated.
struct Padding2d : public SaveableBasic
{
  /// Padding before the first column.
  int32_t left = 0;
  /// Padding after the last column.
  int32_t right = 0;
  /// Padding above the first row.
  int32_t up = 0;
  /// Padding below the last row.
  int32_t down = 0;

  /// All four paddings 0.
  Padding2d();
  Padding2d(int left, int right, int up, int down);
  Padding2d(const Padding2d&) = default;
  Padding2d& operator=(const Padding2d&) = default;
  ~Padding2d() override;

  void set(int left, int right, int up, int down);
  bool allZero() const;
  int getMaxLeftRight() const;
  int getMaxUpDown() const;

  /// Nothing at VERBOSITY_NONE; otherwise "Padding-2d(left=1, right=2, up=3, down=4)"
  /// (with " <title>:" after the kind when a title is given), no line end.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

  /// Writes right, left, up and down as int32 (16 bytes).
  std::streamoff save(std::ostream& out) const override;
  /// Reads what save wrote; the padding changes only when all four are read.
  std::streamoff load(std::istream& in) override;
};

} // namespace quorvane

#endif
