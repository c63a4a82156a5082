#include "hebase/AbstractPlaintext.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <stdexcept>
#include <vector>

#include "hebase/AbstractEncoder.h"
#include "hebase/HeContext.h"
#include "hebase/utils/PrintUtils.h"
#include "hebase/utils/SectionTimer.h"

namespace quorvane {

AbstractPlaintext::~AbstractPlaintext() {}

void AbstractPlaintext::debugPrint(const std::string& title, Verbosity verbosity,
                                   std::ostream& out) const
{
  LeafTimer timer("AbstractPlaintext::debugPrint");
  if (verbosity == VERBOSITY_NONE)
    return;
  PrintUtils::printTitle(out, "PTile", title);
  const HeTraits& traits = he.getTraits();
  int c = 0;
  if (traits.getSupportsExplicitChainIndices()) {
    out << " CI=" << getChainIndex();
    c = 1;
  }
  if (traits.getSupportsScaledEncoding()) {
    if (c > 0)
      out << ",";
    out << " logscale=" << std::log2(getScale()) << " ";
    ++c;
  }
  if (verbosity == VERBOSITY_LOW)
    return;
  std::vector<std::complex<double>> values = he.getEncoder()->decodeComplex(*this);
  double m = 0;
  for (const std::complex<double>& v : values)
    m = std::max(m, std::hypot(v.real(), v.imag()));
  if (traits.getSupportsScaledEncoding()) {
    if (c > 0)
      out << ",";
    out << " bit usage=" << std::log2(getScale() * m);
    ++c;
  }
  if (c > 0)
    out << ",";
  out << " max value=" << m << std::endl;
  PrintUtils::printComplexVector(out, values);
  out << std::endl;
}

void AbstractPlaintext::toDevice(DeviceType) {}

DeviceType AbstractPlaintext::getCurrentDevice() const { return DEVICE_CPU; }

bool AbstractPlaintext::isAllZeroes() const { throw std::runtime_error("not implemented"); }

bool AbstractPlaintext::isEmpty() const { return false; }

int64_t AbstractPlaintext::getEstimatedMemoryUsageBytes() const { return -1; }

void AbstractPlaintext::reduceChainIndex() { setChainIndex(getChainIndex() - 1); }

} // namespace quorvane
