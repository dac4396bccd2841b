// The request gate: which requests are dispatched, held or failed, by plug-and-play and
// power state. The held queue and the state it depends on are guarded by the cancel spin
// lock, so a held request is either dispatched, failed or cancelled, never two of them.
#include "driver/ReceiverDevice.h"

#include "platform/nt/Power.h"

#include <algorithm>
#include <atomic>

namespace usbkrn {

namespace {

bool Gone(const ReceiverDevice* dev)
{
    return dev->pnpState == PnpState::Removed || dev->pnpState == PnpState::SurpriseRemoved;
}

bool MustHold(const ReceiverDevice* dev)
{
    return dev->pnpState != PnpState::Started || dev->powerChangeInProgress;
}

// Cancel routine of a held request; entered with the cancel spin lock held.
void CancelHeld(PDEVICE_OBJECT device, PIRP irp)
{
    ReceiverDevice* dev = DeviceOf(device);
    auto it = std::find(dev->held.begin(), dev->held.end(), irp);
    if (it != dev->held.end()) dev->held.erase(it);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    CompleteRequest(irp, STATUS_CANCELLED);
    RequestFinished(dev);
}

void PowerUpDone(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, IO_STATUS_BLOCK*)
{
    KeSetEvent(static_cast<PKEVENT>(context), 0, FALSE);
}

} // namespace

NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

PnpState StateOf(ReceiverDevice* dev)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    PnpState state = dev->pnpState;
    IoReleaseCancelSpinLock(irql);
    return state;
}

DEVICE_POWER_STATE PowerOf(ReceiverDevice* dev)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    DEVICE_POWER_STATE state = dev->devicePower;
    IoReleaseCancelSpinLock(irql);
    return state;
}

void RequestArrived(ReceiverDevice* dev)
{
    if (InterlockedIncrement(&dev->requestsInProgress) == 1) KeClearEvent(&dev->noRequests);
}

void RequestFinished(ReceiverDevice* dev)
{
    if (InterlockedDecrement(&dev->requestsInProgress) == 0) KeSetEvent(&dev->noRequests, 0, FALSE);
}

// Called at passive level in the caller's thread for every device-control request, which
// has already been counted by RequestArrived.
NTSTATUS GateRequest(ReceiverDevice* dev, PIRP irp)
{
    for (bool poweredUp = false;; poweredUp = true) {
        KIRQL irql;
        IoAcquireCancelSpinLock(&irql);
        if (Gone(dev)) {
            IoReleaseCancelSpinLock(irql);
            CompleteRequest(irp, STATUS_DELETE_PENDING);
            RequestFinished(dev);
            return STATUS_DELETE_PENDING;
        }
        if (MustHold(dev)) {
            IoMarkIrpPending(irp);
            dev->held.push_back(irp);
            IoSetCancelRoutine(irp, CancelHeld);
            if (std::atomic_ref<BOOLEAN>(irp->Cancel).load() && IoSetCancelRoutine(irp, nullptr)) {
                dev->held.pop_back();
                IoReleaseCancelSpinLock(irql);
                CompleteRequest(irp, STATUS_CANCELLED);
                RequestFinished(dev);
            } else {
                IoReleaseCancelSpinLock(irql);
            }
            return STATUS_PENDING;
        }
        bool poweredDown = dev->devicePower != PowerDeviceD0;
        IoReleaseCancelSpinLock(irql);
        if (!poweredDown) return DeviceControl(dev, irp);
        if (poweredUp) {  // the lower drivers refused full power
            CompleteRequest(irp, STATUS_INVALID_DEVICE_STATE);
            RequestFinished(dev);
            return STATUS_INVALID_DEVICE_STATE;
        }
        PowerUpAndWait(dev);  // then look again: the device may have gone meanwhile
    }
}

void DispatchHeld(ReceiverDevice* dev)
{
    for (;;) {
        KIRQL irql;
        IoAcquireCancelSpinLock(&irql);
        if (dev->held.empty() || MustHold(dev) || Gone(dev) || dev->devicePower != PowerDeviceD0) {
            IoReleaseCancelSpinLock(irql);
            return;
        }
        PIRP irp = dev->held.front();
        dev->held.pop_front();
        if (!IoSetCancelRoutine(irp, nullptr)) {
            IoReleaseCancelSpinLock(irql);  // being cancelled: its cancel routine completes it
            continue;
        }
        IoReleaseCancelSpinLock(irql);
        DeviceControl(dev, irp);
    }
}

void FailHeld(ReceiverDevice* dev, NTSTATUS status, PFILE_OBJECT onlyFile)
{
    std::list<PIRP> failed;
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    for (auto it = dev->held.begin(); it != dev->held.end();) {
        PIRP irp = *it;
        if (onlyFile && IoGetCurrentIrpStackLocation(irp)->FileObject != onlyFile) {
            ++it;
            continue;
        }
        it = dev->held.erase(it);
        if (IoSetCancelRoutine(irp, nullptr)) failed.push_back(irp);
    }
    IoReleaseCancelSpinLock(irql);
    for (PIRP irp : failed) {
        CompleteRequest(irp, status);
        RequestFinished(dev);
    }
}

void PowerUpAndWait(ReceiverDevice* dev)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    POWER_STATE d0;
    d0.DeviceState = PowerDeviceD0;
    NTSTATUS status = PoRequestPowerIrp(dev->self, IRP_MN_SET_POWER, d0, PowerUpDone, &done, nullptr);
    if (status == STATUS_PENDING) KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
}

} // namespace usbkrn
