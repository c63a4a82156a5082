#include "hebase/MultiPartyUtils.h"

namespace quorvane {

MultiPartyUtils::~MultiPartyUtils() {}

} // namespace quorvane
