#ifndef QUORVANE_TESTS_CPP_EMPTYTILERECORDS_H
#define QUORVANE_TESTS_CPP_EMPTYTILERECORDS_H

// Saved containers holding an empty tile, made from the library's own saved
// forms; used by the tests and the fuzz seeds of the tensor loaders. Needs
// nothing but the library.

#include <sstream>
#include <string>
#include <vector>

#include "hebase/HeContext.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/SaveableHeader.h"

namespace qvrecords {

template <typename T>
std::string savedForm(const T& object)
{
  std::ostringstream out;
  object.save(out);
  return out.str();
}

/// The saved tensor with the record of tile k replaced by a saved empty tile
/// of kind Tile (CTile or PTile) and the tensor's context: the tiles are the
/// last records of a saved tensor.
template <typename Tile, typename Tensor>
std::string withEmptyTile(const Tensor& tensor, int k)
{
  const std::string all = savedForm(tensor);
  std::vector<std::string> records;
  size_t tail = 0;
  for (int i = 0; i < tensor.getNumUsedTiles(); ++i) {
    records.push_back(savedForm(tensor.getTileByFlatIndex(i)));
    tail += records.back().size();
  }
  std::string res = all.substr(0, all.size() - tail);
  for (int i = 0; i < static_cast<int>(records.size()); ++i)
    res += i == k ? savedForm(Tile(tensor.getHeContext())) : records[i];
  return res;
}

/// A saved batch whose only item is the saved tensor.
inline std::string batchOf(const quorvane::HeContext& he, const std::string& tensor)
{
  std::ostringstream out;
  quorvane::SaveableHeader("EncryptedBatch", he.getContextId()).save(out);
  quorvane::BinIoUtils::writeSizeT(out, 1);
  return out.str() + tensor;
}

/// A saved data set of one batch whose only item is the saved tensor.
inline std::string dataSetOf(const quorvane::HeContext& he, const std::string& tensor)
{
  std::ostringstream out;
  quorvane::SaveableHeader("EncryptedData", he.getContextId()).save(out);
  quorvane::BinIoUtils::writeSizeT(out, 1);
  quorvane::BinIoUtils::writeSizeT(out, 1);
  return out.str() + batchOf(he, tensor);
}

} // namespace qvrecords

#endif
