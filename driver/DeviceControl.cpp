// Open, cleanup, close and the five control codes.
#include "ReceiverDevice.h"
#include "UsbVestra.h"

namespace usbkrn {

namespace {

// Where a request for IOCTL_SET_REMOVAL_EVENT keeps, while the driver owns it, the event it
// referenced at its arrival and the handle value it carried.
PVOID& ArrivalObject(PIRP irp) { return irp->Tail.Overlay.DriverContext[0]; }
ULONG ArrivalHandle(PIRP irp) { return static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(irp->Tail.Overlay.DriverContext[1])); }

ULONG ControlCode(PIRP irp) { return IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode; }

// Passive level, in the caller's thread: the handle names an object of the calling process,
// so it is referenced now, whether the request then runs, waits or fails. A buffer shorter
// than a handle registers nothing (as if the handle were 0).
void ReferenceArrivingEvent(PIRP irp)
{
    IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
    ULONG handle = 0;
    if (location->Parameters.DeviceIoControl.InputBufferLength >= sizeof handle && irp->AssociatedIrp.SystemBuffer)
        RtlCopyMemory(&handle, irp->AssociatedIrp.SystemBuffer, sizeof handle);
    PVOID object = nullptr;
    if (handle) {
        HANDLE h = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle));
        if (!NT_SUCCESS(ObReferenceObjectByHandle(h, 0, *ExEventObjectType, KernelMode, &object, nullptr)))
            object = nullptr;  // not an event of this process: nothing is held, nothing reported
    }
    ArrivalObject(irp) = object;
    irp->Tail.Overlay.DriverContext[1] = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(handle));
}

// Replaces the registered event with an already referenced one (null forgets it). Dispatch
// level or below.
void ReplaceRemovalEvent(ReceiverDevice* dev, ULONG handle, PVOID object)
{
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

void DropArrivalReference(PIRP irp)
{
    if (ControlCode(irp) != IOCTL_SET_REMOVAL_EVENT || !ArrivalObject(irp)) return;
    ObfDereferenceObject(ArrivalObject(irp));
    ArrivalObject(irp) = nullptr;
}

void SetRemovalEvent(ReceiverDevice* dev)
{
    KIRQL irql;
    KeAcquireSpinLock(&dev->removalLock, &irql);
    if (dev->removalEvent.held) KeSetEvent(static_cast<PRKEVENT>(dev->removalEvent.object), 0, FALSE);
    KeReleaseSpinLock(&dev->removalLock, irql);
}

void ForgetRemovalEvent(ReceiverDevice* dev) { ReplaceRemovalEvent(dev, 0, nullptr); }

// Open: passive level, caller's thread. Fails with delete pending once the device is gone;
// a device recorded as powered down is brought to D0 before the open returns.
NTSTATUS DispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    ReceiverDevice* dev = DeviceOf(device);
    if (!NT_SUCCESS(IoAcquireRemoveLock(&dev->removeLock, irp))) return CompleteRequest(irp, STATUS_DELETE_PENDING);
    KeWaitForSingleObject(&dev->mutex, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status = STATUS_DELETE_PENDING;
    BOOLEAN powerUp = FALSE;
    if (!Gone(StateOf(dev)) && !dev->destroyed) {
        ++dev->openHandles;
        powerUp = PowerOf(dev) != PowerDeviceD0 && StateOf(dev) == Started;
        status = STATUS_SUCCESS;
    }
    KeReleaseMutex(&dev->mutex, FALSE);
    if (powerUp) SetDevicePowerAndWait(dev, PowerDeviceD0);
    CompleteRequest(irp, status);
    IoReleaseRemoveLock(&dev->removeLock, irp);
    return status;
}

// Cleanup: passive level, the handle's last user is gone. Its held requests and its transfers
// at the bus are cancelled: the system closes the file only once they have completed.
NTSTATUS DispatchCleanup(PDEVICE_OBJECT device, PIRP irp)
{
    ReceiverDevice* dev = DeviceOf(device);
    if (!NT_SUCCESS(IoAcquireRemoveLock(&dev->removeLock, irp))) return CompleteRequest(irp, STATUS_SUCCESS);
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    FailHeld(dev, STATUS_CANCELLED, file);
    CancelTransfers(dev, file, FALSE);
    CompleteRequest(irp, STATUS_SUCCESS);
    IoReleaseRemoveLock(&dev->removeLock, irp);
    return STATUS_SUCCESS;
}

// Close: passive level. Records D3 without a power request, so the next request or open asks
// for D0 first. After a removal, the last close destroys what the device still holds (the
// remove lock is refused then; nothing waits for the close any more).
NTSTATUS DispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    ReceiverDevice* dev = DeviceOf(device);
    BOOLEAN locked = NT_SUCCESS(IoAcquireRemoveLock(&dev->removeLock, irp));
    KeWaitForSingleObject(&dev->mutex, Executive, KernelMode, FALSE, nullptr);
    --dev->openHandles;
    if (!dev->destroyed) RecordDevicePower(dev, PowerDeviceD3);
    if (StateOf(dev) == Removed && dev->openHandles == 0) DestroyReceiverDevice(dev);
    KeReleaseMutex(&dev->mutex, FALSE);
    CompleteRequest(irp, STATUS_SUCCESS);
    if (locked) IoReleaseRemoveLock(&dev->removeLock, irp);
    return STATUS_SUCCESS;
}

// Device control: passive level, caller's thread. Counted as in progress and holding the
// remove lock from here to its completion; the gate decides whether it runs now, waits, or
// fails.
NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    ReceiverDevice* dev = DeviceOf(device);
    if (!NT_SUCCESS(IoAcquireRemoveLock(&dev->removeLock, irp))) return CompleteRequest(irp, STATUS_DELETE_PENDING);
    InterlockedIncrement(&dev->requestsInProgress);
    if (ControlCode(irp) == IOCTL_SET_REMOVAL_EVENT) ReferenceArrivingEvent(irp);
    return GateRequest(dev, irp);
}

// Runs a request that the gate let through: passive level, or dispatch level for held
// requests resumed by a power-up.
NTSTATUS DeviceControl(ReceiverDevice* dev, PIRP irp)
{
    IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
    ULONG in = location->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out = location->Parameters.DeviceIoControl.OutputBufferLength;
    const ULONG readFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK;
    switch (ControlCode(irp)) {
    case IOCTL_SET_REMOVAL_EVENT:
        ReplaceRemovalEvent(dev, ArrivalHandle(irp), ArrivalObject(irp));  // the reference moves over
        ArrivalObject(irp) = nullptr;
        CompleteRequest(irp, STATUS_SUCCESS);
        RequestFinished(dev, irp);
        return STATUS_SUCCESS;
    case IOCTL_READ_INTERRUPT: return SubmitTransfer(dev, irp, InterruptPipe, out, readFlags);
    case IOCTL_READ_BULK2: return SubmitTransfer(dev, irp, Bulk2Pipe, out, readFlags);
    case IOCTL_READ_BULK_AUX: return SubmitTransfer(dev, irp, AuxPipe, out, readFlags);
    case IOCTL_WRITE_COMMAND: return SubmitTransfer(dev, irp, CommandPipe, in, USBD_TRANSFER_DIRECTION_OUT);
    default: return FailRequest(dev, irp, STATUS_INVALID_PARAMETER);
    }
}

} // namespace usbkrn
