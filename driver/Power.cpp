// Power requests. The driver has no power actions of its own: device set-power requests are
// recorded and passed down; a system set-power request is passed down and followed by the
// device state that the capabilities give for it, and completes after that device request.
// While a change is under way new requests are held; they go on once the device is back at
// full power. The device is power-pageable: every power request arrives at passive level.
#include "ReceiverDevice.h"

namespace usbkrn {

namespace {

void RecordDeviceState(ReceiverDevice* dev, DEVICE_POWER_STATE state)
{
    POWER_STATE s;
    s.DeviceState = state;
    PoSetPowerState(dev->self, DevicePowerState, s);
    RecordDevicePower(dev, state);
}

DEVICE_POWER_STATE DeviceStateFor(ReceiverDevice* dev, SYSTEM_POWER_STATE system)
{
    DEVICE_POWER_STATE wanted = dev->capabilities.DeviceState[system];
    if (wanted == PowerDeviceUnspecified) wanted = system == PowerSystemWorking ? PowerDeviceD0 : PowerDeviceD3;
    return wanted;
}

NTSTATUS FinishPower(ReceiverDevice* dev, PIRP irp, NTSTATUS status)
{
    PoStartNextPowerIrp(irp);
    CompleteRequest(irp, status, irp->IoStatus.Information);
    IoReleaseRemoveLock(&dev->removeLock, irp);
    return status;
}

// Powering up: the lower drivers first, then the device is recorded at D0 and what was held
// goes on.
NTSTATUS PowerUp(ReceiverDevice* dev, PIRP irp)
{
    SetPowerChange(dev, TRUE);
    NTSTATUS status = ForwardAndWait(dev, irp);
    if (NT_SUCCESS(status)) {
        RecordDeviceState(dev, PowerDeviceD0);
        AllowTransfers(dev);
    }
    SetPowerChange(dev, FALSE);
    ResumeHeld(dev);
    return FinishPower(dev, irp, status);
}

// Powering down: new requests are held, the transfers at the bus are cancelled and waited
// for, then the state is recorded and the lower drivers are told.
NTSTATUS PowerDown(ReceiverDevice* dev, PIRP irp, DEVICE_POWER_STATE state)
{
    SetPowerChange(dev, TRUE);
    CancelTransfers(dev, nullptr, TRUE);
    WaitForTransfers(dev);
    RecordDeviceState(dev, state);
    NTSTATUS status = ForwardAndWait(dev, irp);
    SetPowerChange(dev, FALSE);
    return FinishPower(dev, irp, status);
}

NTSTATUS SetSystemPower(ReceiverDevice* dev, PIRP irp, SYSTEM_POWER_STATE system)
{
    RecordSystemPower(dev, system);
    NTSTATUS status = ForwardAndWait(dev, irp);
    if (NT_SUCCESS(status) && system > PowerSystemUnspecified && system < PowerSystemMaximum) {
        DEVICE_POWER_STATE wanted = DeviceStateFor(dev, system);
        if (wanted != PowerOf(dev)) SetDevicePowerAndWait(dev, wanted);
    }
    if (system == PowerSystemWorking) ResumeHeld(dev);
    return FinishPower(dev, irp, status);
}

} // namespace

// Called by the power manager or the driver's own power requests, passive level, any thread.
NTSTATUS DispatchPower(PDEVICE_OBJECT device, PIRP irp)
{
    ReceiverDevice* dev = DeviceOf(device);
    NTSTATUS status = IoAcquireRemoveLock(&dev->removeLock, irp);
    if (!NT_SUCCESS(status)) {
        PoStartNextPowerIrp(irp);
        return CompleteRequest(irp, status);
    }
    IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
    if (location->MinorFunction == IRP_MN_SET_POWER && !Gone(StateOf(dev))) {
        if (location->Parameters.Power.Type == SystemPowerState)
            return SetSystemPower(dev, irp, location->Parameters.Power.State.SystemState);
        DEVICE_POWER_STATE wanted = location->Parameters.Power.State.DeviceState;
        return wanted == PowerDeviceD0 ? PowerUp(dev, irp) : PowerDown(dev, irp, wanted);
    }
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    status = PoCallDriver(dev->lower, irp);
    IoReleaseRemoveLock(&dev->removeLock, irp);
    return status;
}

} // namespace usbkrn
