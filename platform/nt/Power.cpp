// Power states as recorded by drivers, and power requests for a driver's own device.
#include "platform/nt/PowerStandIn.h"

#include "platform/nt/IoStandIn.h"
#include "platform/nt/KeStandIn.h"
#include "platform/nt/PnpManager.h"

#include <map>
#include <mutex>

namespace {

std::mutex& StateLock()
{
    static std::mutex* m = new std::mutex;
    return *m;
}
std::map<PDEVICE_OBJECT, DEVICE_POWER_STATE>& States()
{
    static auto* m = new std::map<PDEVICE_OBJECT, DEVICE_POWER_STATE>;
    return *m;
}

struct PowerRequest {
    PREQUEST_POWER_COMPLETE complete;
    PVOID context;
    PDEVICE_OBJECT device;
    UCHAR minor;
    POWER_STATE state;
};

NTSTATUS PowerRequestDone(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* request = static_cast<PowerRequest*>(context);
    if (request->complete)
        request->complete(request->device, request->minor, request->state, request->context,
                          &irp->IoStatus);
    delete request;
    IoFreeIrp(irp);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

} // namespace

POWER_STATE PoSetPowerState(PDEVICE_OBJECT device, POWER_STATE_TYPE type, POWER_STATE state)
{
    POWER_STATE previous{};
    if (type != DevicePowerState) return previous;
    std::lock_guard guard(StateLock());
    auto& recorded = States()[device];
    previous.DeviceState = recorded;
    recorded = state.DeviceState;
    return previous;
}

NTSTATUS PoCallDriver(PDEVICE_OBJECT device, PIRP irp) { return IoCallDriver(device, irp); }

void PoStartNextPowerIrp(PIRP) {}

NTSTATUS PoRequestPowerIrp(PDEVICE_OBJECT device, UCHAR minorFunction, POWER_STATE state,
                           PREQUEST_POWER_COMPLETE complete, PVOID context, PIRP* irpOut)
{
    if (irpOut) *irpOut = nullptr;
    if (minorFunction != IRP_MN_SET_POWER && minorFunction != IRP_MN_QUERY_POWER)
        return STATUS_INVALID_PARAMETER;
    PDEVICE_OBJECT top = nt::IoGetAttachedDevice(device);
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IO_STACK_LOCATION* location = IoGetNextIrpStackLocation(irp);
    location->MajorFunction = IRP_MJ_POWER;
    location->MinorFunction = minorFunction;
    location->Parameters.Power.Type = DevicePowerState;
    location->Parameters.Power.State = state;
    auto* request = new PowerRequest{complete, context, device, minorFunction, state};
    IoSetCompletionRoutine(irp, PowerRequestDone, request, TRUE, TRUE, TRUE);
    if (irpOut) *irpOut = irp;
    // From passive level it is sent from the calling thread: a dispatch routine that waits for
    // its device to power up must not depend on the PnP thread, which may itself be waiting for
    // that dispatch. From dispatch level (a completion routine) it goes to the PnP thread, as
    // power requests of a power-pageable device arrive at passive level.
    if (KeGetCurrentIrql() == PASSIVE_LEVEL || !nt::PnpPost([top, irp] { IoCallDriver(top, irp); }))
        IoCallDriver(top, irp);
    return STATUS_PENDING;
}

namespace nt {

DEVICE_POWER_STATE PoRecordedDeviceState(PDEVICE_OBJECT device)
{
    std::lock_guard guard(StateLock());
    auto it = States().find(device);
    return it == States().end() ? PowerDeviceUnspecified : it->second;
}

void PoForgetDevice(PDEVICE_OBJECT device)
{
    std::lock_guard guard(StateLock());
    States().erase(device);
}

} // namespace nt
