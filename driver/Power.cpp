// Power requests. The driver has no power actions of its own: device set-power requests are
// recorded and passed down, a system set-power request is passed down and followed by the
// device state that the capabilities give for it. While a device power change is under way,
// new requests are held; they go on once the device is back at full power.
#include "driver/ReceiverDevice.h"

#include "platform/nt/Power.h"

namespace usbkrn {

namespace {

void SetPowerChange(ReceiverDevice* dev, bool inProgress)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    dev->powerChangeInProgress = inProgress;
    IoReleaseCancelSpinLock(irql);
}

void RecordDeviceState(ReceiverDevice* dev, DEVICE_POWER_STATE state)
{
    POWER_STATE s;
    s.DeviceState = state;
    PoSetPowerState(dev->self, DevicePowerState, s);
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    dev->devicePower = state;
    IoReleaseCancelSpinLock(irql);
}

// Runs when the lower drivers have powered the device up (any thread).
NTSTATUS PoweredUp(PDEVICE_OBJECT device, PIRP irp, PVOID)
{
    ReceiverDevice* dev = DeviceOf(device);
    if (irp->PendingReturned) IoMarkIrpPending(irp);
    if (NT_SUCCESS(irp->IoStatus.Status)) RecordDeviceState(dev, PowerDeviceD0);
    SetPowerChange(dev, false);
    PoStartNextPowerIrp(irp);
    DispatchHeld(dev);
    return STATUS_SUCCESS;
}

void DeviceStateDone(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID, IO_STATUS_BLOCK*) {}

NTSTATUS SystemPowerDone(PDEVICE_OBJECT device, PIRP irp, PVOID)
{
    ReceiverDevice* dev = DeviceOf(device);
    if (irp->PendingReturned) IoMarkIrpPending(irp);
    SYSTEM_POWER_STATE system = IoGetCurrentIrpStackLocation(irp)->Parameters.Power.State.SystemState;
    if (NT_SUCCESS(irp->IoStatus.Status) && system > PowerSystemUnspecified && system < PowerSystemMaximum) {
        DEVICE_POWER_STATE wanted = dev->capabilities.DeviceState[system];
        if (wanted == PowerDeviceUnspecified) wanted = system == PowerSystemWorking ? PowerDeviceD0 : PowerDeviceD3;
        if (wanted != PowerOf(dev)) {
            POWER_STATE s;
            s.DeviceState = wanted;
            PoRequestPowerIrp(dev->self, IRP_MN_SET_POWER, s, DeviceStateDone, nullptr, nullptr);
        }
    }
    PoStartNextPowerIrp(irp);
    return STATUS_SUCCESS;
}

NTSTATUS SetPower(ReceiverDevice* dev, PIRP irp)
{
    IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
    if (location->Parameters.Power.Type == SystemPowerState) {
        dev->systemPower = location->Parameters.Power.State.SystemState;
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, SystemPowerDone, nullptr, TRUE, TRUE, TRUE);
        return PoCallDriver(dev->lower, irp);
    }
    DEVICE_POWER_STATE wanted = location->Parameters.Power.State.DeviceState;
    SetPowerChange(dev, true);
    if (wanted == PowerDeviceD0) {
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, PoweredUp, nullptr, TRUE, TRUE, TRUE);
        return PoCallDriver(dev->lower, irp);
    }
    RecordDeviceState(dev, wanted);  // powering down: record first, then tell the bus
    SetPowerChange(dev, false);
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(dev->lower, irp);
}

} // namespace

// Called by the power manager or the driver's own power requests, passive level, any thread.
NTSTATUS DispatchPower(PDEVICE_OBJECT device, PIRP irp)
{
    ReceiverDevice* dev = DeviceOf(device);
    IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
    PnpState state = StateOf(dev);
    bool gone = state == PnpState::Removed || state == PnpState::SurpriseRemoved;
    if (location->MinorFunction == IRP_MN_SET_POWER && !gone) return SetPower(dev, irp);
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(dev->lower, irp);
}

} // namespace usbkrn
