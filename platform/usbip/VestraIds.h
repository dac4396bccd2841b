// Identity of the receiver's USB device as the simulator exports it and as PVestra and the
// bus driver look for it by default.
#pragma once

#include <cstdint>

namespace vestra {

constexpr uint16_t kVendorId = 0x7E57;
constexpr uint16_t kProductId = 0x5652;

constexpr uint8_t kConfigurationValue = 1;
constexpr uint8_t kInterfaceNumber = 0;
constexpr uint8_t kAlternateSetting = 0;

// Endpoint addresses (bit 7 set = IN).
constexpr uint8_t kEpReportsIn = 0x85; // interrupt IN, 64-byte reports
constexpr uint8_t kEpSamplesIn = 0x81; // bulk IN, 4096-byte sample blocks
constexpr uint8_t kEpAuxIn = 0x83;     // bulk IN, not used for data by the receiver
constexpr uint8_t kEpCommandsOut = 0x06; // bulk OUT, 64-byte command buffers

constexpr unsigned kReportPacketSize = 64;
constexpr unsigned kCommandPacketSize = 64;
constexpr unsigned kSampleBlockSize = 4096;

// Where the simulator's USB/IP server listens and the bus id of the exported device.
constexpr const char* kDefaultUsbIpHost = "127.0.0.1";
constexpr uint16_t kDefaultUsbIpPort = 3240;
constexpr const char* kDefaultBusId = "1-1";

} // namespace vestra
