// The USBD configuration routines and URB builders.
#include "platform/nt/Usb.h"

#include "platform/nt/PoolStandIn.h"

#include <cstring>

namespace {

constexpr ULONG kUsbdPoolTag = MakePoolTag("USBD");

// Next descriptor after `d`, or null past the end (or at a malformed zero length).
const UCHAR* NextDescriptor(const UCHAR* d, const UCHAR* end)
{
    if (d + 2 > end || d[0] < 2) return nullptr;
    const UCHAR* next = d + d[0];
    return next + 2 <= end ? next : nullptr;
}

} // namespace

PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptorEx(
    PUSB_CONFIGURATION_DESCRIPTOR config, PVOID start, LONG interfaceNumber,
    LONG alternateSetting, LONG interfaceClass, LONG interfaceSubClass, LONG interfaceProtocol)
{
    const UCHAR* base = reinterpret_cast<const UCHAR*>(config);
    const UCHAR* end = base + config->wTotalLength;
    const UCHAR* d = static_cast<const UCHAR*>(start ? start : config);
    for (; d && d >= base && d + 2 <= end; d = NextDescriptor(d, end)) {
        if (d[1] != USB_INTERFACE_DESCRIPTOR_TYPE || d + sizeof(USB_INTERFACE_DESCRIPTOR) > end)
            continue;
        auto* i = reinterpret_cast<const USB_INTERFACE_DESCRIPTOR*>(d);
        if ((interfaceNumber == -1 || i->bInterfaceNumber == interfaceNumber) &&
            (alternateSetting == -1 || i->bAlternateSetting == alternateSetting) &&
            (interfaceClass == -1 || i->bInterfaceClass == interfaceClass) &&
            (interfaceSubClass == -1 || i->bInterfaceSubClass == interfaceSubClass) &&
            (interfaceProtocol == -1 || i->bInterfaceProtocol == interfaceProtocol))
            return const_cast<PUSB_INTERFACE_DESCRIPTOR>(i);
    }
    return nullptr;
}

PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR config,
                                       PUSBD_INTERFACE_LIST_ENTRY list)
{
    // Room for every interface's full pipe array, whichever way the counts fall.
    size_t size = sizeof(_URB_SELECT_CONFIGURATION);
    for (auto* e = list; e->InterfaceDescriptor; ++e)
        size += GET_USBD_INTERFACE_SIZE(e->InterfaceDescriptor->bNumEndpoints);
    auto* urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPool, size, kUsbdPoolTag));
    if (!urb) return nullptr;
    std::memset(urb, 0, size);
    urb->UrbHeader.Length = static_cast<USHORT>(size);
    urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    urb->UrbSelectConfiguration.ConfigurationDescriptor = config;
    auto* info = &urb->UrbSelectConfiguration.Interface;
    for (auto* e = list; e->InterfaceDescriptor; ++e) {
        ULONG n = e->InterfaceDescriptor->bNumEndpoints;
        info->Length = GET_USBD_INTERFACE_SIZE(n);
        info->InterfaceNumber = e->InterfaceDescriptor->bInterfaceNumber;
        info->AlternateSetting = e->InterfaceDescriptor->bAlternateSetting;
        info->NumberOfPipes = n;
        for (ULONG p = 0; p < n; ++p)
            info->Pipes[p].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
        e->Interface = info;
        info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(reinterpret_cast<UCHAR*>(info) +
                                                             info->Length);
    }
    return urb;
}

void UsbBuildGetDescriptorRequest(PURB urb, USHORT length, UCHAR descriptorType, UCHAR index,
                                  USHORT languageId, PVOID buffer, PVOID mdl, ULONG bufferLength,
                                  PURB link)
{
    std::memset(urb, 0, length);
    auto& r = urb->UrbControlDescriptorRequest;
    r.Hdr.Length = length;
    r.Hdr.Function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;
    r.DescriptorType = descriptorType;
    r.Index = index;
    r.LanguageId = languageId;
    r.TransferBuffer = buffer;
    r.TransferBufferMDL = mdl;
    r.TransferBufferLength = bufferLength;
    r.UrbLink = link;
}

void UsbBuildSelectConfigurationRequest(PURB urb, USHORT length,
                                        PUSB_CONFIGURATION_DESCRIPTOR config)
{
    urb->UrbHeader.Length = length;
    urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    urb->UrbSelectConfiguration.ConfigurationDescriptor = config;
}

void UsbBuildInterruptOrBulkTransferRequest(PURB urb, USHORT length, USBD_PIPE_HANDLE pipe,
                                            PVOID buffer, PVOID mdl, ULONG bufferLength,
                                            ULONG flags, PURB link)
{
    auto& r = urb->UrbBulkOrInterruptTransfer;
    r.Hdr.Length = length;
    r.Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    r.PipeHandle = pipe;
    r.TransferBuffer = buffer;
    r.TransferBufferMDL = mdl;
    r.TransferBufferLength = bufferLength;
    r.TransferFlags = flags;
    r.UrbLink = link;
}
