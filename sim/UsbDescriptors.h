// The receiver's USB identity: device, configuration and string descriptors, the device
// record of the USB/IP device list, and the answers to standard requests on endpoint 0.
#pragma once

#include "platform/usbip/UsbIpProtocol.h"

#include <cstdint>
#include <vector>

namespace sim {

std::vector<uint8_t> deviceDescriptor();
// Configuration 1 with interface 0 (alternate setting 0) and its four endpoints:
// 0x85 interrupt IN, 0x81 bulk IN, 0x83 bulk IN, 0x06 bulk OUT, 64-byte packets.
std::vector<uint8_t> configurationDescriptor();
// String descriptor `index` (0 = language list); empty when there is no such string.
std::vector<uint8_t> stringDescriptor(uint8_t index);

// The record that the device list and the import reply carry.
usbip::UsbDevice usbIpDeviceRecord(const char* busid);
usbip::DevlistEntry usbIpDevlistEntry(const char* busid);

// Outcome of a control request.
struct ControlResult {
    int32_t status = usbip::kStatusOk; // kStatusStall for a request the device refuses
    std::vector<uint8_t> data;         // IN data, at most wLength bytes
};

// Endpoint 0 of the receiver: the standard requests a host sends while it sets the device up.
class ControlEndpoint {
public:
    ControlResult handle(const usbip::SetupPacket& setup);
    uint8_t configuration() const { return configuration_; }

private:
    uint8_t configuration_ = 0;
};

} // namespace sim
