// Plug-and-play requests: start, stop, removal, surprise removal, capabilities, and the
// query/cancel pairs of the standard handling. All arrive on the PnP thread, passive level,
// holding the remove lock that DispatchPnp took.
#include "ReceiverDevice.h"

namespace usbkrn {

namespace {

NTSTATUS SignalForward(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;  // the dispatch routine completes it again
}

NTSTATUS PassDown(ReceiverDevice* dev, PIRP irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(dev->lower, irp);
}

NTSTATUS StartDevice(ReceiverDevice* dev, PIRP irp)
{
    NTSTATUS status = ForwardAndWait(dev, irp);
    if (NT_SUCCESS(status)) {
        status = ConfigureDevice(dev);
        if (NT_SUCCESS(status)) {
            AllowTransfers(dev);
            SetState(dev, Started);
        } else {
            ReleaseConfiguration(dev);
            status = STATUS_UNSUCCESSFUL;
        }
    }
    CompleteRequest(irp, status);
    if (NT_SUCCESS(status)) ResumeHeld(dev);
    return status;
}

NTSTATUS QueryStop(ReceiverDevice* dev, PIRP irp)
{
    KeWaitForSingleObject(&dev->mutex, Executive, KernelMode, FALSE, nullptr);
    BOOLEAN busy = dev->openHandles > 0;
    if (!busy) {
        SetState(dev, StopPending);
        // Counted before the gate looks at the state: either a request sees the pending stop
        // and is held, or the stop sees the request and is refused.
        busy = InterlockedExchangeAdd(&dev->requestsInProgress, 0) > 0;
        if (busy) RestoreState(dev);
    }
    KeReleaseMutex(&dev->mutex, FALSE);
    if (busy) return CompleteRequest(irp, STATUS_DEVICE_BUSY);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(dev, irp);
}

NTSTATUS QueryRemove(ReceiverDevice* dev, PIRP irp)
{
    KeWaitForSingleObject(&dev->mutex, Executive, KernelMode, FALSE, nullptr);
    BOOLEAN busy = dev->openHandles > 0;
    if (!busy) SetState(dev, RemovePending);
    KeReleaseMutex(&dev->mutex, FALSE);
    if (busy) return CompleteRequest(irp, STATUS_DEVICE_BUSY);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(dev, irp);
}

NTSTATUS CancelQuery(ReceiverDevice* dev, PIRP irp, PnpState pending)
{
    ForwardAndWait(dev, irp);
    if (StateOf(dev) == pending) RestoreState(dev);
    CompleteRequest(irp, STATUS_SUCCESS);
    ResumeHeld(dev);
    return STATUS_SUCCESS;
}

NTSTATUS StopDevice(ReceiverDevice* dev, PIRP irp)
{
    SetState(dev, Stopped);  // from here on requests are held
    UnconfigureDevice(dev);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(dev, irp);
}

NTSTATUS SurpriseRemoval(ReceiverDevice* dev, PIRP irp)
{
    SetState(dev, SurpriseRemoved);
    FailHeld(dev, STATUS_DELETE_PENDING);
    ReleaseConfiguration(dev);
    SetRemovalEvent(dev);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(dev, irp);
}

// Entered holding the remove lock once; leaves with the device object deleted.
NTSTATUS RemoveDevice(ReceiverDevice* dev, PIRP irp)
{
    SetState(dev, Removed);
    FailHeld(dev, STATUS_DELETE_PENDING);
    // Transfers still at the bus are cancelled, then every request that holds the remove lock
    // is waited for (an open among them, so the device mutex is taken only afterwards): no
    // completion step runs after the device object is gone.
    CancelTransfers(dev, nullptr, TRUE);
    IoReleaseRemoveLockAndWait(&dev->removeLock, irp);
    KeWaitForSingleObject(&dev->mutex, Executive, KernelMode, FALSE, nullptr);
    ReleaseConfiguration(dev);
    irp->IoStatus.Status = STATUS_SUCCESS;
    NTSTATUS status = PassDown(dev, irp);
    IoDetachDevice(dev->lower);
    IoDeleteSymbolicLink(&dev->linkName);
    PDEVICE_OBJECT self = dev->self;
    if (dev->openHandles == 0) DestroyReceiverDevice(dev);
    KeReleaseMutex(&dev->mutex, FALSE);
    IoDeleteDevice(self);  // its memory stays until the last handle is closed
    return status;
}

NTSTATUS QueryCapabilities(ReceiverDevice* dev, PIRP irp)
{
    DEVICE_CAPABILITIES* caps = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceCapabilities.Capabilities;
    caps->SurpriseRemovalOK = 1;
    caps->Removable = 0;
    NTSTATUS status = ForwardAndWait(dev, irp);
    if (NT_SUCCESS(status)) {
        caps->SurpriseRemovalOK = 1;
        dev->capabilities = *caps;
    }
    return CompleteRequest(irp, status, irp->IoStatus.Information);
}

NTSTATUS HandlePnp(ReceiverDevice* dev, PIRP irp)
{
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE: return StartDevice(dev, irp);
    case IRP_MN_QUERY_STOP_DEVICE: return QueryStop(dev, irp);
    case IRP_MN_CANCEL_STOP_DEVICE: return CancelQuery(dev, irp, StopPending);
    case IRP_MN_STOP_DEVICE: return StopDevice(dev, irp);
    case IRP_MN_QUERY_REMOVE_DEVICE: return QueryRemove(dev, irp);
    case IRP_MN_CANCEL_REMOVE_DEVICE: return CancelQuery(dev, irp, RemovePending);
    case IRP_MN_SURPRISE_REMOVAL: return SurpriseRemoval(dev, irp);
    case IRP_MN_QUERY_CAPABILITIES: return QueryCapabilities(dev, irp);
    default: return PassDown(dev, irp);
    }
}

} // namespace

NTSTATUS ForwardAndWait(ReceiverDevice* dev, PIRP irp)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalForward, &done, TRUE, TRUE, TRUE);
    IoCallDriver(dev->lower, irp);
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    return irp->IoStatus.Status;
}

// Called by the PnP manager on its thread, passive level; returns the status of the request.
NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp)
{
    ReceiverDevice* dev = DeviceOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&dev->removeLock, irp);
    if (!NT_SUCCESS(status)) return CompleteRequest(irp, status);
    if (IoGetCurrentIrpStackLocation(irp)->MinorFunction == IRP_MN_REMOVE_DEVICE)
        return RemoveDevice(dev, irp);  // releases the lock itself and waits for the others
    status = HandlePnp(dev, irp);
    IoReleaseRemoveLock(&dev->removeLock, irp);
    return status;
}

// System-control requests go down unchanged.
NTSTATUS DispatchSystemControl(PDEVICE_OBJECT device, PIRP irp)
{
    ReceiverDevice* dev = DeviceOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&dev->removeLock, irp);
    if (!NT_SUCCESS(status)) return CompleteRequest(irp, status);
    status = PassDown(dev, irp);
    IoReleaseRemoveLock(&dev->removeLock, irp);
    return status;
}

} // namespace usbkrn
