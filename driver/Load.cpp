// Loading the driver and adding a device for each receiver that the PnP manager finds.
#include "ReceiverDevice.h"

namespace usbkrn {

ReceiverDriver g_driver = {0, L"\\??\\"};

namespace {

constexpr PCWSTR kDeviceNamePrefix = L"\\Device\\USBKRN_VESTRA";
constexpr PCWSTR kLinkName = L"USBVestra";

void Unload(PDRIVER_OBJECT) {}

BOOLEAN KeyExists(PCWSTR path)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, path);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE key = nullptr;
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) return FALSE;
    ZwClose(key);
    return TRUE;
}

// The older family keeps the class list under the services key, not under the control key.
PCWSTR LinkPrefixFromRegistry()
{
    BOOLEAN control = KeyExists(L"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class");
    BOOLEAN services = KeyExists(L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Class");
    return !control && services ? L"\\DosDevices\\" : L"\\??\\";
}

// `prefix` followed by the unit in decimal, into `buffer` of kNameChars characters.
void FormName(PUNICODE_STRING name, PWCHAR buffer, PCWSTR prefix, PCWSTR middle, ULONG unit)
{
    name->Buffer = buffer;
    name->Length = 0;
    name->MaximumLength = kNameChars * sizeof(WCHAR);
    RtlAppendUnicodeToString(name, prefix);
    if (middle) RtlAppendUnicodeToString(name, middle);
    WCHAR digits[12];
    UNICODE_STRING number = {0, sizeof digits, digits};
    RtlIntegerToUnicodeString(unit, 10, &number);
    RtlAppendUnicodeStringToString(name, &number);
}

void InitializeReceiverDevice(ReceiverDevice* dev, PDEVICE_OBJECT self, PDEVICE_OBJECT pdo)
{
    static const Pipe kPipes[PipeCount] = {
        {0x85, 4096, nullptr},
        {0x81, 10240, nullptr},
        {0x83, 4096, nullptr},
        {0x06, 4096, nullptr},
    };
    dev->pnpState = NotStarted;
    dev->previousPnpState = NotStarted;
    IoInitializeRemoveLock(&dev->removeLock, kPoolTag, 0, 0);
    dev->devicePower = PowerDeviceD0;
    dev->systemPower = PowerSystemWorking;
    InitializeListHead(&dev->held);
    KeInitializeMutex(&dev->mutex, 0);
    KeInitializeSpinLock(&dev->transferLock);
    InitializeListHead(&dev->transfers);
    KeInitializeSpinLock(&dev->bindingLock);
    dev->interfaceNumber = 0;
    dev->configurationValue = 1;
    dev->alternateSetting = 0;
    RtlCopyMemory(dev->pipes, kPipes, sizeof kPipes);
    KeInitializeSpinLock(&dev->removalLock);
    dev->pdo = pdo;
    dev->self = self;
}

} // namespace

// Called by the PnP manager, passive level, when a receiver's PDO has been found.
// Returns STATUS_SUCCESS with the device attached above the PDO, or a failure with nothing
// left behind and the unit counter unchanged.
NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    WCHAR deviceNameBuffer[kNameChars];
    UNICODE_STRING deviceName;
    FormName(&deviceName, deviceNameBuffer, kDeviceNamePrefix, nullptr, g_driver.units);

    PDEVICE_OBJECT device = nullptr;
    if (!NT_SUCCESS(IoCreateDevice(driver, sizeof(ReceiverDevice), &deviceName, FILE_DEVICE_UNKNOWN, 0,
                                   FALSE, &device)))
        return STATUS_INSUFFICIENT_RESOURCES;
    device->Flags |= DO_DIRECT_IO | DO_POWER_PAGABLE;
    ReceiverDevice* dev = DeviceOf(device);
    // Whole before its name is published: a program may look the link up from here on.
    InitializeReceiverDevice(dev, device, pdo);
    FormName(&dev->linkName, dev->linkNameBuffer, g_driver.linkPrefix, kLinkName, g_driver.units);
    if (!NT_SUCCESS(IoCreateSymbolicLink(&dev->linkName, &deviceName))) {
        IoDeleteDevice(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }

    dev->lower = IoAttachDeviceToDeviceStack(device, pdo);
    if (!dev->lower) {
        IoDeleteSymbolicLink(&dev->linkName);
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }

    ++g_driver.units;
    POWER_STATE d0;
    d0.DeviceState = PowerDeviceD0;
    PoSetPowerState(device, DevicePowerState, d0);
    return STATUS_SUCCESS;
}

// Drops what the device still holds; the device object itself goes with IoDeleteDevice.
void DestroyReceiverDevice(ReceiverDevice* dev)
{
    if (dev->destroyed) return;
    dev->destroyed = TRUE;
    ForgetRemovalEvent(dev);
    ReleaseConfiguration(dev);
}

} // namespace usbkrn

using namespace usbkrn;

// Called once when the driver is loaded, passive level: routes the request kinds that the
// driver handles, installs add-device and unload, and reads the link prefix from the registry.
extern "C" __attribute__((visibility("default"))) NTSTATUS DriverEntry(PDRIVER_OBJECT driver,
                                                                      PUNICODE_STRING)
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
