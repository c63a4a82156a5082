#ifndef QUORVANE_HEBASE_DEVICETYPE_H
#define QUORVANE_HEBASE_DEVICETYPE_H

namespace quorvane {

/// Device on which tiles are computed.
enum DeviceType
{
  DEVICE_CPU = 0,
  DEVICE_GPU = 1
};

} // namespace quorvane

#endif
