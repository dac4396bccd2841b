// Status of a finished USB transfer, from the Linux errno that USB/IP carries to the USBD
// status of the URB and the NT status of its IRP, as the Windows USB stack reports them.
#pragma once

#include "platform/nt/Usb.h"

#include <cstdint>

namespace nt {

struct UsbCompletionStatus {
    USBD_STATUS usbd;
    NTSTATUS nt;
};

UsbCompletionStatus UsbStatusFromLinux(int32_t linuxStatus);

} // namespace nt
