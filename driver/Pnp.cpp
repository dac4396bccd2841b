// Plug-and-play requests: start, stop, removal, surprise removal, capabilities, and the
// query/cancel pairs of the standard handling. All arrive on the PnP thread, passive level.
#include "driver/ReceiverDevice.h"
#include "driver/UsbVestra.h"

#include "platform/nt/Power.h"

#include <string>

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

// State changes go through these two, so a cancelled query returns to where it was.
void SetState(ReceiverDevice* dev, PnpState state)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    dev->previousPnpState = dev->pnpState;
    dev->pnpState = state;
    IoReleaseCancelSpinLock(irql);
}

void RestoreState(ReceiverDevice* dev)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    dev->pnpState = dev->previousPnpState;
    IoReleaseCancelSpinLock(irql);
}

NTSTATUS StartDevice(ReceiverDevice* dev, PIRP irp)
{
    NTSTATUS status = ForwardAndWait(dev, irp);
    if (NT_SUCCESS(status)) {
        status = ConfigureDevice(dev);
        if (NT_SUCCESS(status)) {
            SetState(dev, PnpState::Started);
        } else {
            ReleaseConfiguration(dev);
            status = STATUS_UNSUCCESSFUL;
        }
    }
    CompleteRequest(irp, status);
    if (NT_SUCCESS(status)) DispatchHeld(dev);
    return status;
}

NTSTATUS QueryStop(ReceiverDevice* dev, PIRP irp)
{
    KeWaitForSingleObject(&dev->mutex, Executive, KernelMode, FALSE, nullptr);
    bool busy = dev->openHandles > 0;
    if (!busy) {
        SetState(dev, PnpState::StopPending);
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
    bool busy = dev->openHandles > 0;
    if (!busy) SetState(dev, PnpState::RemovePending);
    KeReleaseMutex(&dev->mutex, FALSE);
    if (busy) return CompleteRequest(irp, STATUS_DEVICE_BUSY);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(dev, irp);
}

NTSTATUS CancelQuery(ReceiverDevice* dev, PIRP irp, PnpState pending)
{
    NTSTATUS status = ForwardAndWait(dev, irp);
    if (StateOf(dev) == pending) RestoreState(dev);
    CompleteRequest(irp, STATUS_SUCCESS);
    DispatchHeld(dev);
    (void)status;
    return STATUS_SUCCESS;
}

NTSTATUS StopDevice(ReceiverDevice* dev, PIRP irp)
{
    UnconfigureDevice(dev);
    SetState(dev, PnpState::Stopped);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(dev, irp);
}

NTSTATUS SurpriseRemoval(ReceiverDevice* dev, PIRP irp)
{
    SetState(dev, PnpState::SurpriseRemoved);
    FailHeld(dev, STATUS_DELETE_PENDING);
    ReleaseConfiguration(dev);
    SetRemovalEvent(dev);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return PassDown(dev, irp);
}

NTSTATUS RemoveDevice(ReceiverDevice* dev, PIRP irp)
{
    KeWaitForSingleObject(&dev->mutex, Executive, KernelMode, FALSE, nullptr);
    SetState(dev, PnpState::Removed);
    FailHeld(dev, STATUS_DELETE_PENDING);
    ReleaseConfiguration(dev);
    // Transfers still at the bus come back when the removal reaches it; the bus driver
    // returns from the removal only after their completion steps have run.
    LARGE_INTEGER wait;
    wait.QuadPart = dev->removalWait.QuadPart * 10000;  // 100 ms
    KeWaitForSingleObject(&dev->noRequests, Executive, KernelMode, FALSE, &wait);
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoSkipCurrentIrpStackLocation(irp);
    NTSTATUS status = IoCallDriver(dev->lower, irp);
    IoDetachDevice(dev->lower);

    std::string link = std::string(g_driver.linkPrefix) + kLinkName;
    std::string name = dev->self->Name;
    link += name.substr(std::string(kDeviceNamePrefix).size());
    IoDeleteSymbolicLink(link.c_str());
    PDEVICE_OBJECT self = dev->self;
    bool destroyNow = dev->openHandles == 0;
    if (destroyNow) DestroyReceiverDevice(dev);
    KeReleaseMutex(&dev->mutex, FALSE);
    nt::PoForgetDevice(self);
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
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE: return StartDevice(dev, irp);
    case IRP_MN_QUERY_STOP_DEVICE: return QueryStop(dev, irp);
    case IRP_MN_CANCEL_STOP_DEVICE: return CancelQuery(dev, irp, PnpState::StopPending);
    case IRP_MN_STOP_DEVICE: return StopDevice(dev, irp);
    case IRP_MN_QUERY_REMOVE_DEVICE: return QueryRemove(dev, irp);
    case IRP_MN_CANCEL_REMOVE_DEVICE: return CancelQuery(dev, irp, PnpState::RemovePending);
    case IRP_MN_SURPRISE_REMOVAL: return SurpriseRemoval(dev, irp);
    case IRP_MN_REMOVE_DEVICE: return RemoveDevice(dev, irp);
    case IRP_MN_QUERY_CAPABILITIES: return QueryCapabilities(dev, irp);
    default: return PassDown(dev, irp);
    }
}

NTSTATUS DispatchSystemControl(PDEVICE_OBJECT device, PIRP irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(DeviceOf(device)->lower, irp);
}

} // namespace usbkrn
