#ifndef QUORVANE_MATH_TILEARRAY_H
#define QUORVANE_MATH_TILEARRAY_H

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "hebase/utils/Assert.h"

namespace quorvane {

/// The tiles of a tile tensor: an n-dimensional array stored column-major
/// (dimension 0 fastest, a tile's position is its flat index). Copies are
/// deep. Each tile is held through a shared pointer, so a tile handed out
/// (to Python) stays valid whatever later happens to the array.
template <typename T>
class TileArray
{
public:
  /// No extents and no tiles.
  TileArray() = default;

  /// The tiles, in flat-index order; their count is the product of the extents.
  TileArray(std::vector<int> tileExtents, std::vector<std::shared_ptr<T>> tileList)
      : extents(std::move(tileExtents)), tiles(std::move(tileList))
  {
    QV_ASSERT(tiles.size() == countOf(extents));
  }

  /// An array of the extents whose tiles are made by make().
  template <typename Make>
  static TileArray build(const std::vector<int>& extents, Make make)
  {
    const size_t count = countOf(extents);
    std::vector<std::shared_ptr<T>> tiles;
    tiles.reserve(count);
    for (size_t i = 0; i < count; ++i)
      tiles.push_back(std::make_shared<T>(make()));
    return TileArray(extents, std::move(tiles));
  }

  TileArray(const TileArray& other) : extents(other.extents)
  {
    tiles.reserve(other.tiles.size());
    for (const std::shared_ptr<T>& tile : other.tiles)
      tiles.push_back(std::make_shared<T>(*tile));
  }

  TileArray(TileArray&& other) noexcept = default;

  TileArray& operator=(const TileArray& other)
  {
    if (this != &other)
      *this = TileArray(other);
    return *this;
  }

  TileArray& operator=(TileArray&& other) noexcept = default;

  /// Takes other's tiles. When the number of tiles stays the same, their values
  /// are moved into this array's tile objects, so tiles handed out before keep
  /// showing the array's content.
  void assignValues(TileArray&& other)
  {
    if (other.tiles.size() == tiles.size()) {
      for (size_t i = 0; i < tiles.size(); ++i)
        *tiles[i] = std::move(*other.tiles[i]);
      extents = std::move(other.extents);
    } else {
      *this = std::move(other);
    }
  }

  /// Gives the same tiles, in the same order, other extents of the same count.
  void reshape(std::vector<int> newExtents)
  {
    QV_ASSERT(countOf(newExtents) == tiles.size());
    extents = std::move(newExtents);
  }

  size_t size() const { return tiles.size(); }
  T& operator[](size_t i) { return *tiles[i]; }
  const T& operator[](size_t i) const { return *tiles[i]; }
  /// Shared ownership of tile i.
  std::shared_ptr<T> share(size_t i) const { return tiles[i]; }

  const std::vector<int>& getExtents() const { return extents; }

  /// Column-major strides; all 1 when the extents describe a vector or a scalar
  /// (at most one of the first two above 1, every later one 1).
  std::vector<size_t> getStrides() const
  {
    std::vector<size_t> strides(extents.size(), 1);
    bool vector = extents.size() < 2 || extents[0] == 1 || extents[1] == 1;
    for (size_t i = 2; i < extents.size(); ++i)
      vector = vector && extents[i] == 1;
    if (!vector)
      for (size_t i = 1; i < extents.size(); ++i)
        strides[i] = strides[i - 1] * static_cast<size_t>(extents[i - 1]);
    return strides;
  }

  void clear()
  {
    extents.clear();
    tiles.clear();
  }

private:
  std::vector<int> extents;
  std::vector<std::shared_ptr<T>> tiles;

  static size_t countOf(const std::vector<int>& extents)
  {
    if (extents.empty())
      return 0;
    size_t count = 1;
    for (int e : extents)
      count *= static_cast<size_t>(e);
    return count;
  }
};

} // namespace quorvane

#endif
