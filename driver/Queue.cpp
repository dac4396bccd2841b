// The request gate: which device-control requests are dispatched, held or failed, by
// plug-and-play and power state. The held queue and the state it depends on are guarded by
// the cancel spin lock, so a held request is either dispatched, failed or cancelled, never two
// of them.
#include "ReceiverDevice.h"

namespace usbkrn {

namespace {

BOOLEAN MustHold(const ReceiverDevice* dev)
{
    return dev->pnpState != Started || dev->powerChangeInProgress;
}

// Cancel routine of a held request; dispatch level, entered with the cancel spin lock held.
void CancelHeld(PDEVICE_OBJECT device, PIRP irp)
{
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    FailRequest(DeviceOf(device), irp, STATUS_CANCELLED);
}

struct PowerWait {
    KEVENT done;
    NTSTATUS status;
};

// Runs when the lower drivers have completed the device's own power request.
void PowerRequestDone(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, IO_STATUS_BLOCK* status)
{
    auto* wait = static_cast<PowerWait*>(context);
    wait->status = status->Status;
    KeSetEvent(&wait->done, 0, FALSE);
}

// Takes the first held request that may go on now, with its cancel routine cleared; null when
// none may.
PIRP NextHeld(ReceiverDevice* dev)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    while (!IsListEmpty(&dev->held) && !MustHold(dev) && dev->devicePower == PowerDeviceD0) {
        PLIST_ENTRY entry = RemoveHeadList(&dev->held);
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        if (IoSetCancelRoutine(irp, nullptr)) {
            IoReleaseCancelSpinLock(irql);
            return irp;
        }
        // Being cancelled: its cancel routine removes it from a list again and completes it.
        InitializeListHead(entry);
    }
    IoReleaseCancelSpinLock(irql);
    return nullptr;
}

} // namespace

NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

void RequestFinished(ReceiverDevice* dev, PIRP irp)
{
    InterlockedDecrement(&dev->requestsInProgress);
    IoReleaseRemoveLock(&dev->removeLock, irp);
}

NTSTATUS FailRequest(ReceiverDevice* dev, PIRP irp, NTSTATUS status)
{
    DropArrivalReference(irp);
    CompleteRequest(irp, status);
    RequestFinished(dev, irp);
    return status;
}

PnpState StateOf(ReceiverDevice* dev) { return ReadUnderCancelLock(dev->pnpState); }

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

DEVICE_POWER_STATE PowerOf(ReceiverDevice* dev) { return ReadUnderCancelLock(dev->devicePower); }

void RecordDevicePower(ReceiverDevice* dev, DEVICE_POWER_STATE state) { SetUnderCancelLock(dev->devicePower, state); }

void RecordSystemPower(ReceiverDevice* dev, SYSTEM_POWER_STATE state) { SetUnderCancelLock(dev->systemPower, state); }

void SetPowerChange(ReceiverDevice* dev, BOOLEAN inProgress) { SetUnderCancelLock(dev->powerChangeInProgress, inProgress); }

// Passive level, caller's thread, for every device-control request, which is counted and holds
// the remove lock.
NTSTATUS GateRequest(ReceiverDevice* dev, PIRP irp)
{
    for (BOOLEAN poweredUp = FALSE;; poweredUp = TRUE) {
        KIRQL irql;
        IoAcquireCancelSpinLock(&irql);
        if (Gone(dev->pnpState)) {
            IoReleaseCancelSpinLock(irql);
            return FailRequest(dev, irp, STATUS_DELETE_PENDING);
        }
        if (MustHold(dev)) {
            IoMarkIrpPending(irp);
            InsertTailList(&dev->held, &irp->Tail.Overlay.ListEntry);
            IoSetCancelRoutine(irp, CancelHeld);
            if (irp->Cancel && IoSetCancelRoutine(irp, nullptr)) {
                RemoveEntryList(&irp->Tail.Overlay.ListEntry);
                IoReleaseCancelSpinLock(irql);
                FailRequest(dev, irp, STATUS_CANCELLED);
            } else {
                IoReleaseCancelSpinLock(irql);
            }
            return STATUS_PENDING;
        }
        BOOLEAN poweredDown = dev->devicePower != PowerDeviceD0;
        IoReleaseCancelSpinLock(irql);
        if (!poweredDown) return DeviceControl(dev, irp);
        if (poweredUp) return FailRequest(dev, irp, STATUS_INVALID_DEVICE_STATE);  // D0 refused
        SetDevicePowerAndWait(dev, PowerDeviceD0);  // then look again: the device may have gone
    }
}

void ResumeHeld(ReceiverDevice* dev)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    BOOLEAN wantsPower = !IsListEmpty(&dev->held) && !MustHold(dev) && dev->devicePower != PowerDeviceD0 &&
                         dev->systemPower == PowerSystemWorking;
    IoReleaseCancelSpinLock(irql);
    // The D0 request's completion resumes the held requests in its turn.
    if (wantsPower) {
        SetDevicePowerAndWait(dev, PowerDeviceD0);
        return;
    }
    while (PIRP irp = NextHeld(dev)) DeviceControl(dev, irp);
}

void FailHeld(ReceiverDevice* dev, NTSTATUS status, PFILE_OBJECT onlyFile)
{
    LIST_ENTRY failed;
    InitializeListHead(&failed);
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    for (PLIST_ENTRY entry = dev->held.Flink; entry != &dev->held;) {
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        entry = entry->Flink;
        if (onlyFile && IoGetCurrentIrpStackLocation(irp)->FileObject != onlyFile) continue;
        if (!IoSetCancelRoutine(irp, nullptr)) continue;  // its cancel routine completes it
        RemoveEntryList(&irp->Tail.Overlay.ListEntry);
        InsertTailList(&failed, &irp->Tail.Overlay.ListEntry);
    }
    IoReleaseCancelSpinLock(irql);
    while (!IsListEmpty(&failed)) {
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(&failed), IRP, Tail.Overlay.ListEntry);
        FailRequest(dev, irp, status);
    }
}

NTSTATUS SetDevicePowerAndWait(ReceiverDevice* dev, DEVICE_POWER_STATE state)
{
    PowerWait wait;
    KeInitializeEvent(&wait.done, NotificationEvent, FALSE);
    wait.status = STATUS_UNSUCCESSFUL;
    POWER_STATE s;
    s.DeviceState = state;
    NTSTATUS status = PoRequestPowerIrp(dev->self, IRP_MN_SET_POWER, s, PowerRequestDone, &wait, nullptr);
    if (status != STATUS_PENDING) return status;
    KeWaitForSingleObject(&wait.done, Executive, KernelMode, FALSE, nullptr);
    return wait.status;
}

} // namespace usbkrn
