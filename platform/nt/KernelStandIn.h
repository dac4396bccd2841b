// One call to bring up the kernel stand-in inside the process, and one to take it down.
//
// After StartKernelStandIn, CreateFileA("\\\\.\\USBVestra0", ...) opens the receiver whenever
// the USB/IP server exports a matching device; the bus driver reconnects by itself.
#pragma once

#include <cstdint>
#include <string>

namespace nt {

struct UsbBusConfig {
    std::string server = "127.0.0.1:3240";  // HOST:PORT of the USB/IP server
    uint16_t vendorId = 0x7E57;             // only a device with these ids is imported
    uint16_t productId = 0x5652;
    std::string busId;                      // empty: the first exported device with the ids
};

// Parses "VVVV:PPPP" (hexadecimal, either case) as lsusb prints it.
bool ParseUsbDeviceIds(const std::string& text, uint16_t* vendorId, uint16_t* productId);

// Starts the I/O, PnP and power managers and the USB/IP bus driver. `driverPath` is the
// function driver's library; empty means libUSBKRNb.so beside libvestra_nt.so. Returns false
// when already started or the server address is malformed.
bool StartKernelStandIn(const UsbBusConfig& config, const std::string& driverPath = {});
// Starts the managers only, without a bus (tests plug scripted devices).
bool StartKernelWithoutBus(const std::string& driverPath = {});
// Disconnects the bus, removes the devices, unloads the driver and joins every thread.
void StopKernelStandIn();

// The folder holding libvestra_nt.so.
std::string KernelLibraryFolder();

} // namespace nt
