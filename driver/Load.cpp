// Loading the driver and adding a device for each receiver that the PnP manager finds.
#include "driver/ReceiverDevice.h"
#include "driver/UsbVestra.h"

#include "platform/nt/Power.h"
#include "platform/nt/Registry.h"

#include <new>
#include <string>

namespace usbkrn {

ReceiverDriver g_driver{0, "\\??\\"};

namespace {

void Unload(PDRIVER_OBJECT) {}

bool KeyExists(const char* path)
{
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, path);
    HANDLE key = nullptr;
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) return false;
    ZwClose(key);
    return true;
}

// The older family keeps the class list under the services key, not under the control key.
const char* LinkPrefixFromRegistry()
{
    bool control = KeyExists("\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class");
    bool services = KeyExists("\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Class");
    return !control && services ? "\\DosDevices\\" : "\\??\\";
}

} // namespace

// Called by the PnP manager, passive level, when a receiver's PDO has been found.
// Returns STATUS_SUCCESS with the device attached above the PDO, or a failure with nothing
// left behind and the unit counter unchanged.
NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    std::string unit = std::to_string(g_driver.units);
    std::string deviceName = std::string(kDeviceNamePrefix) + unit;
    std::string linkName = std::string(g_driver.linkPrefix) + kLinkName + unit;

    PDEVICE_OBJECT device = nullptr;
    if (!NT_SUCCESS(IoCreateDevice(driver, sizeof(ReceiverDevice), deviceName.c_str(),
                                   FILE_DEVICE_UNKNOWN, 0, FALSE, &device)))
        return STATUS_INSUFFICIENT_RESOURCES;
    device->Flags |= DO_DIRECT_IO | DO_POWER_PAGABLE;
    if (!NT_SUCCESS(IoCreateSymbolicLink(linkName.c_str(), deviceName.c_str()))) {
        IoDeleteDevice(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }

    auto* dev = new (device->DeviceExtension) ReceiverDevice;
    KeInitializeEvent(&dev->noRequests, NotificationEvent, TRUE);
    KeInitializeMutex(&dev->mutex, 0);
    KeInitializeSpinLock(&dev->bindingLock);
    KeInitializeSpinLock(&dev->removalLock);
    dev->removalWait.QuadPart = -100;  // relative; scaled by 10000 where it is waited on: 100 ms
    dev->pdo = pdo;
    dev->self = device;
    dev->lower = IoAttachDeviceToDeviceStack(device, pdo);
    if (!dev->lower) {
        dev->~ReceiverDevice();
        IoDeleteSymbolicLink(linkName.c_str());
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }

    ++g_driver.units;
    POWER_STATE d0;
    d0.DeviceState = PowerDeviceD0;
    PoSetPowerState(device, DevicePowerState, d0);
    dev->devicePower = PowerDeviceD0;
    return STATUS_SUCCESS;
}

// Drops what the device still holds; the device object itself goes with IoDeleteDevice.
void DestroyReceiverDevice(ReceiverDevice* dev)
{
    if (dev->destroyed) return;
    dev->destroyed = true;
    ForgetRemovalEvent(dev);
    ReleaseConfiguration(dev);
}

} // namespace usbkrn

using namespace usbkrn;

// Called once when the driver is loaded: routes the request kinds that the driver handles,
// installs add-device and unload, and reads the link prefix from the registry.
extern "C" __attribute__((visibility("default"))) NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PCSTR)
{
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = DispatchSystemControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    g_driver.linkPrefix = LinkPrefixFromRegistry();
    g_driver.units = 0;
    return STATUS_SUCCESS;
}
