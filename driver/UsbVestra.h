// The contract between the receiver's USB driver and the programs that open it: the device
// name and the control codes. Shared by the driver and user mode, so it uses no library.
#pragma once

namespace usbkrn {

// What applications open: "\\.\USBVestra0" for the first receiver, then 1, 2, ...
constexpr const char* kUserDeviceName = "\\\\.\\USBVestra0";
constexpr const char* kUserDevicePrefix = "\\\\.\\USBVestra";

// Device type 0x22, buffered method, any access; function numbers from 0x800.
constexpr unsigned int IoctlCode(unsigned int function) { return 0x22u << 16 | function << 2; }

// In: 4 bytes, a handle of an event of the calling process (0 forgets the event). The driver
// sets that event when the receiver is unplugged.
constexpr unsigned int IOCTL_SET_REMOVAL_EVENT = IoctlCode(0x800);  // 0x222000
// Out: N bytes, one interrupt IN transfer on endpoint 0x85 (at most 4096 bytes).
constexpr unsigned int IOCTL_READ_INTERRUPT = IoctlCode(0x801);     // 0x222004
// Out: N bytes, one bulk IN transfer on endpoint 0x81 (at most 10240 bytes).
constexpr unsigned int IOCTL_READ_BULK2 = IoctlCode(0x802);         // 0x222008
// Out: N bytes, one bulk IN transfer on endpoint 0x83 (at most 4096 bytes).
constexpr unsigned int IOCTL_READ_BULK_AUX = IoctlCode(0x803);      // 0x22200C
// In: N bytes, one bulk OUT transfer on endpoint 0x06 (at most 4096 bytes).
constexpr unsigned int IOCTL_WRITE_COMMAND = IoctlCode(0x804);      // 0x222010

static_assert(IOCTL_SET_REMOVAL_EVENT == 0x222000);
static_assert(IOCTL_WRITE_COMMAND == 0x222010);

} // namespace usbkrn
