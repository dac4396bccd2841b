// Open, cleanup, close and the five control codes.
#include "driver/ReceiverDevice.h"
#include "driver/UsbVestra.h"

#include "platform/nt/Ob.h"
#include "platform/nt/Power.h"

#include <cstring>

namespace usbkrn {

namespace {

bool Gone(ReceiverDevice* dev)
{
    PnpState state = StateOf(dev);
    return state == PnpState::Removed || state == PnpState::SurpriseRemoved;
}

// Replaces the registered event (handle 0 forgets it). Passive level, caller's thread.
void RegisterRemovalEvent(ReceiverDevice* dev, ULONG handle)
{
    PVOID object = nullptr;
    if (handle) {
        HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle));
        if (!NT_SUCCESS(ObReferenceObjectByHandle(h, 0, ExEventObjectType, KernelMode, &object, nullptr)))
            object = nullptr;  // not an event of this process: nothing is held, nothing reported
    }
    PVOID dropped = nullptr;
    KIRQL irql;
    KeAcquireSpinLock(&dev->removalLock, &irql);
    if (dev->removalEvent.held) dropped = dev->removalEvent.object;
    dev->removalEvent.handle = handle;
    dev->removalEvent.object = object;
    dev->removalEvent.held = object != nullptr;
    KeReleaseSpinLock(&dev->removalLock, irql);
    if (dropped) ObfDereferenceObject(dropped);
}

} // namespace

void SetRemovalEvent(ReceiverDevice* dev)
{
    KIRQL irql;
    KeAcquireSpinLock(&dev->removalLock, &irql);
    if (dev->removalEvent.held) KeSetEvent(static_cast<PRKEVENT>(dev->removalEvent.object), 0, FALSE);
    KeReleaseSpinLock(&dev->removalLock, irql);
}

void ForgetRemovalEvent(ReceiverDevice* dev) { RegisterRemovalEvent(dev, 0); }

// Open: passive level, caller's thread. Fails with delete pending once the device is gone;
// a device recorded as powered down is brought to D0 before the open returns.
NTSTATUS DispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    ReceiverDevice* dev = DeviceOf(device);
    KeWaitForSingleObject(&dev->mutex, Executive, KernelMode, FALSE, nullptr);
    if (Gone(dev) || dev->destroyed) {
        KeReleaseMutex(&dev->mutex, FALSE);
        return CompleteRequest(irp, STATUS_DELETE_PENDING);
    }
    ++dev->openHandles;
    bool powerUp = PowerOf(dev) != PowerDeviceD0 && StateOf(dev) == PnpState::Started;
    KeReleaseMutex(&dev->mutex, FALSE);
    if (powerUp) PowerUpAndWait(dev);
    return CompleteRequest(irp, STATUS_SUCCESS);
}

// Cleanup: the handle is going; requests of its file still held are cancelled.
NTSTATUS DispatchCleanup(PDEVICE_OBJECT device, PIRP irp)
{
    ReceiverDevice* dev = DeviceOf(device);
    FailHeld(dev, STATUS_CANCELLED, IoGetCurrentIrpStackLocation(irp)->FileObject);
    return CompleteRequest(irp, STATUS_SUCCESS);
}

// Close: records D3 without a power request, so the next request or open asks for D0 first.
// After a removal, the last close destroys what the device still holds.
NTSTATUS DispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    ReceiverDevice* dev = DeviceOf(device);
    KeWaitForSingleObject(&dev->mutex, Executive, KernelMode, FALSE, nullptr);
    --dev->openHandles;
    if (!dev->destroyed) {
        KIRQL irql;
        IoAcquireCancelSpinLock(&irql);
        dev->devicePower = PowerDeviceD3;
        IoReleaseCancelSpinLock(irql);
    }
    if (StateOf(dev) == PnpState::Removed && dev->openHandles == 0) DestroyReceiverDevice(dev);
    KeReleaseMutex(&dev->mutex, FALSE);
    return CompleteRequest(irp, STATUS_SUCCESS);
}

// Device control: passive level, caller's thread. Counted as in progress from here to its
// completion; the gate decides whether it runs now, waits, or fails.
NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    ReceiverDevice* dev = DeviceOf(device);
    RequestArrived(dev);
    return GateRequest(dev, irp);
}

NTSTATUS DeviceControl(ReceiverDevice* dev, PIRP irp)
{
    IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
    ULONG in = location->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out = location->Parameters.DeviceIoControl.OutputBufferLength;
    constexpr ULONG readFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
    NTSTATUS status;
    switch (location->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_SET_REMOVAL_EVENT: {
        // A buffer shorter than a handle registers nothing (as if the handle were 0).
        ULONG handle = 0;
        if (in >= sizeof handle && irp->AssociatedIrp.SystemBuffer)
            std::memcpy(&handle, irp->AssociatedIrp.SystemBuffer, sizeof handle);
        RegisterRemovalEvent(dev, handle);
        status = CompleteRequest(irp, STATUS_SUCCESS);
        break;
    }
    case IOCTL_READ_INTERRUPT: return SubmitTransfer(dev, irp, InterruptPipe, out, readFlags);
    case IOCTL_READ_BULK2: return SubmitTransfer(dev, irp, Bulk2Pipe, out, readFlags);
    case IOCTL_READ_BULK_AUX: return SubmitTransfer(dev, irp, AuxPipe, out, readFlags);
    case IOCTL_WRITE_COMMAND: return SubmitTransfer(dev, irp, CommandPipe, in, USBD_TRANSFER_DIRECTION_OUT);
    default:
        status = CompleteRequest(irp, STATUS_INVALID_PARAMETER);
        break;
    }
    RequestFinished(dev);
    return status;
}

} // namespace usbkrn
