// The stand-in's record of the power states that drivers set, for tests.
#pragma once

#include "platform/nt/Power.h"

namespace nt {
// The device power state last recorded with PoSetPowerState (PowerDeviceUnspecified if none).
DEVICE_POWER_STATE PoRecordedDeviceState(PDEVICE_OBJECT device);
// Drops the record of a device object that is being freed.
void PoForgetDevice(PDEVICE_OBJECT device);
} // namespace nt
