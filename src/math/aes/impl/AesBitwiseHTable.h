#ifndef QUORVANE_MATH_AES_IMPL_AESBITWISEHTABLE_H
#define QUORVANE_MATH_AES_IMPL_AESBITWISEHTABLE_H

#include "math/aes/impl/AesElement.h"

namespace quorvane {

class HeContext;

/// One batch of an AES H-table: a bit-sliced element that reports nothing.
class AesBitwiseHTable : public AesElement
{
public:
  explicit AesBitwiseHTable(const HeContext& he);
  ~AesBitwiseHTable() override;
};

} // namespace quorvane

#endif
