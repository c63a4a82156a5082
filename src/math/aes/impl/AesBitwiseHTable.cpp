#include "math/aes/impl/AesBitwiseHTable.h"

#include <iostream>

namespace quorvane {

AesBitwiseHTable::AesBitwiseHTable(const HeContext& he)
    : AesElement(he, VERBOSITY_NONE, &std::cout)
{
}

AesBitwiseHTable::~AesBitwiseHTable() {}

} // namespace quorvane
