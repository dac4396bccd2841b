// Selecting the receiver's configuration at start and binding the four pipes; unconfiguring
// at stop; releasing it all at removal.
#include "ReceiverDevice.h"

namespace usbkrn {

namespace {

NTSTATUS ReadDescriptor(ReceiverDevice* dev, UCHAR type, UCHAR index, PVOID buffer, ULONG size, ULONG* got)
{
    URB urb;
    RtlZeroMemory(&urb, sizeof urb);
    UsbBuildGetDescriptorRequest(&urb, sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST), type, index, 0, buffer,
                                 nullptr, size, nullptr);
    NTSTATUS status = SubmitUrbAndWait(dev, &urb);
    if (got) *got = urb.UrbControlDescriptorRequest.TransferBufferLength;
    return status;
}

void ClearBindings(ReceiverDevice* dev)
{
    KIRQL irql;
    KeAcquireSpinLock(&dev->bindingLock, &irql);
    for (Pipe& pipe : dev->pipes) pipe.info = nullptr;
    KeReleaseSpinLock(&dev->bindingLock, irql);
}

} // namespace

NTSTATUS ConfigureDevice(ReceiverDevice* dev)
{
    ReleaseConfiguration(dev);  // a start after a stop reads everything again
    USB_DEVICE_DESCRIPTOR device;
    RtlZeroMemory(&device, sizeof device);
    ULONG got = 0;
    NTSTATUS status = ReadDescriptor(dev, USB_DEVICE_DESCRIPTOR_TYPE, 0, &device, sizeof device, &got);
    if (!NT_SUCCESS(status) || got < sizeof device) return STATUS_UNSUCCESSFUL;

    auto* config = static_cast<PUSB_CONFIGURATION_DESCRIPTOR>(
        ExAllocatePoolWithTag(NonPagedPool, kConfigurationBufferSize, kPoolTag));
    if (!config) return STATUS_INSUFFICIENT_RESOURCES;
    BOOLEAN found = FALSE;
    for (UCHAR index = 0; index < device.bNumConfigurations && !found; ++index) {
        RtlZeroMemory(config, kConfigurationBufferSize);
        status = ReadDescriptor(dev, USB_CONFIGURATION_DESCRIPTOR_TYPE, index, config, kConfigurationBufferSize, &got);
        if (NT_SUCCESS(status) && got >= sizeof(USB_CONFIGURATION_DESCRIPTOR) &&
            config->bConfigurationValue == dev->configurationValue) {
            // Only what was read is parsed: a longer configuration is cut at the buffer's end.
            if (config->wTotalLength > got) config->wTotalLength = static_cast<USHORT>(got);
            found = TRUE;
        }
    }
    dev->configuration = config;
    if (!found) return STATUS_UNSUCCESSFUL;

    PUSB_INTERFACE_DESCRIPTOR iface = USBD_ParseConfigurationDescriptorEx(
        config, config, dev->interfaceNumber, dev->alternateSetting, -1, -1, -1);
    if (!iface) return STATUS_UNSUCCESSFUL;

    USBD_INTERFACE_LIST_ENTRY list[2] = {{iface, nullptr}, {nullptr, nullptr}};
    PURB urb = USBD_CreateConfigurationRequestEx(config, list);
    if (!urb) return STATUS_INSUFFICIENT_RESOURCES;
    dev->selectUrb = urb;
    PUSBD_INTERFACE_INFORMATION info = list[0].Interface;

    // The endpoint descriptors follow the interface as consecutive 7-byte records.
    const auto* endpoints = reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(
        reinterpret_cast<const UCHAR*>(iface) + iface->bLength);
    const UCHAR* end = reinterpret_cast<const UCHAR*>(config) + config->wTotalLength;
    for (ULONG e = 0; e < info->NumberOfPipes; ++e) {
        if (reinterpret_cast<const UCHAR*>(&endpoints[e + 1]) > end) break;
        for (const Pipe& pipe : dev->pipes)
            if (endpoints[e].bEndpointAddress == pipe.endpointAddress)
                info->Pipes[e].MaximumTransferSize = pipe.maximumTransferSize;
    }
    status = SubmitUrbAndWait(dev, urb);
    if (!NT_SUCCESS(status)) return STATUS_UNSUCCESSFUL;
    // The bus driver answers for each interface it configured with its handle: without one,
    // interface 0 is not in the configuration that the device took.
    if (!info->InterfaceHandle || info->InterfaceNumber != dev->interfaceNumber ||
        info->AlternateSetting != dev->alternateSetting)
        return STATUS_UNSUCCESSFUL;

    KIRQL irql;
    KeAcquireSpinLock(&dev->bindingLock, &irql);
    dev->interface = info;
    for (Pipe& pipe : dev->pipes) {
        pipe.info = nullptr;
        for (ULONG p = 0; p < info->NumberOfPipes; ++p)
            if (info->Pipes[p].EndpointAddress == pipe.endpointAddress) pipe.info = &info->Pipes[p];
    }
    KeReleaseSpinLock(&dev->bindingLock, irql);
    return STATUS_SUCCESS;
}

void UnconfigureDevice(ReceiverDevice* dev)
{
    URB urb;
    RtlZeroMemory(&urb, sizeof urb);
    UsbBuildSelectConfigurationRequest(&urb, sizeof(_URB_SELECT_CONFIGURATION), nullptr);
    SubmitUrbAndWait(dev, &urb);
    ReleaseConfiguration(dev);
}

void ReleaseConfiguration(ReceiverDevice* dev)
{
    ClearBindings(dev);
    PURB urb;
    PUSB_CONFIGURATION_DESCRIPTOR config;
    KIRQL irql;
    KeAcquireSpinLock(&dev->bindingLock, &irql);
    urb = dev->selectUrb;
    config = dev->configuration;
    dev->selectUrb = nullptr;
    dev->configuration = nullptr;
    dev->interface = nullptr;
    KeReleaseSpinLock(&dev->bindingLock, irql);
    if (urb) ExFreePool(urb);
    if (config) ExFreePool(config);
}

} // namespace usbkrn
