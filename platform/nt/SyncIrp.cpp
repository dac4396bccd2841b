#include "platform/nt/SyncIrp.h"

namespace nt {
namespace {

NTSTATUS SignalDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;  // the waiter frees the IRP
}

} // namespace

NTSTATUS SendIrpAndWait(PDEVICE_OBJECT top, NTSTATUS initialStatus,
                        const std::function<void(IO_STACK_LOCATION&)>& fill,
                        ULONG_PTR* information)
{
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    irp->IoStatus.Status = initialStatus;
    IO_STACK_LOCATION* location = IoGetNextIrpStackLocation(irp);
    fill(*location);
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
    IoCallDriver(top, irp);
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status = irp->IoStatus.Status;
    if (information) *information = irp->IoStatus.Information;
    IoFreeIrp(irp);
    return status;
}

} // namespace nt
