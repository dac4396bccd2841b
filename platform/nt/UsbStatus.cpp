#include "platform/nt/UsbStatus.h"

#include <cerrno>

namespace nt {

UsbCompletionStatus UsbStatusFromLinux(int32_t s)
{
    switch (-s) {
    case 0: return {USBD_STATUS_SUCCESS, STATUS_SUCCESS};
    case EPIPE: return {USBD_STATUS_STALL_PID, STATUS_UNSUCCESSFUL};
    // Transmission errors (CRC, bit stuffing, babble) reach user mode as ERROR_CRC.
    case EILSEQ: return {USBD_STATUS_CRC, STATUS_DEVICE_DATA_ERROR};
    case EPROTO: return {static_cast<USBD_STATUS>(0xC0000002u), STATUS_DEVICE_DATA_ERROR};
    case EOVERFLOW: return {static_cast<USBD_STATUS>(0xC0000012u), STATUS_DEVICE_DATA_ERROR};
    case ECONNRESET:
    case ENOENT: return {USBD_STATUS_CANCELED, STATUS_CANCELLED};
    case ESHUTDOWN:
    case ENODEV: return {USBD_STATUS_DEVICE_GONE, STATUS_DEVICE_NOT_CONNECTED};
    case ETIME:
    case ETIMEDOUT: return {USBD_STATUS_DEV_NOT_RESPONDING, STATUS_IO_TIMEOUT};
    case EREMOTEIO: return {static_cast<USBD_STATUS>(0xC0000009u), STATUS_UNSUCCESSFUL};
    case EINVAL: return {USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER};
    default: return {USBD_STATUS_DEV_NOT_RESPONDING, STATUS_UNSUCCESSFUL};
    }
}

} // namespace nt
