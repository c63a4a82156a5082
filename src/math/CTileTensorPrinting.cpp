// Debug printing of CTileTensor.

#include <cmath>
#include <iomanip>

#include "hebase/HeContext.h"
#include "hebase/utils/PrintUtils.h"
#include "math/CTileTensor.h"
#include "math/PTileTensor.h"
#include "math/TTEncoder.h"

namespace quorvane {

void CTileTensor::debugPrint(const std::string& title, Verbosity verbosity,
                             std::ostream& out) const
{
  // An unpacked tensor prints as an unpacked PTileTensor does.
  if (!packed) {
    if (verbosity != VERBOSITY_NONE)
      printHeadline(out, "CTileTensor", title);
    return;
  }
  validatePacked();
  if (verbosity == VERBOSITY_NONE)
    return;
  PrintUtils::printTitle(out, "CTileTensor", title);
  out << " " << shape;
  const HeTraits& traits = he->getTraits();
  if (traits.getSupportsExplicitChainIndices())
    out << " CI=" << getChainIndex();
  if (traits.getSupportsScaledEncoding())
    out << " logscale=" << std::log2(tiles[0].getScale()) << " ";
  out << " tiles=" << getNumUsedTiles();
  const std::ios::fmtflags flags = out.flags();
  const std::streamsize precision = out.precision();
  out << " memory=" << std::fixed << std::setprecision(3)
      << static_cast<double>(getEstimatedMemoryUsageBytes()) / (1 << 30) << " GB" << std::endl;
  out.flags(flags);
  out.precision(precision);

  if (verbosity >= VERBOSITY_REGULAR) {
    if (he->hasSecretKey()) {
      PTileTensor decrypted(*he);
      TTEncoder(*he, 0).decrypt(decrypted, *this);
      decrypted.printLogicalContent(out);
    } else {
      out << "NO SECRET KEY - content hidden" << std::endl;
    }
  }
  if (verbosity >= VERBOSITY_DETAILED) {
    printTiles(out, verbosity);
  }
}

} // namespace quorvane
