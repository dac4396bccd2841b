// One USB transfer per read or write request, straight into or out of the request's system
// buffer, and the synchronous URBs of configuration.
#include "driver/ReceiverDevice.h"

#include <algorithm>

namespace usbkrn {

namespace {

// One per transfer in progress, freed by the completion step with its URB.
struct TransferContext {
    PURB urb;
    ReceiverDevice* dev;
};

// Runs when the bus driver completes the transfer: dispatch level, any thread.
NTSTATUS TransferComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* ctx = static_cast<TransferContext*>(context);
    if (irp->PendingReturned) IoMarkIrpPending(irp);
    irp->IoStatus.Information = NT_SUCCESS(irp->IoStatus.Status)
                                    ? ctx->urb->UrbBulkOrInterruptTransfer.TransferBufferLength
                                    : 0;
    ReceiverDevice* dev = ctx->dev;
    ExFreePool(ctx->urb);
    ExFreePool(ctx);
    RequestFinished(dev);
    return irp->IoStatus.Status;  // not more-processing: the completion goes on to the caller
}

NTSTATUS UrbDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

} // namespace

// Passive level, caller's thread, counted in progress; the request is completed exactly once,
// here when it fails before reaching the bus, else by the completion step.
NTSTATUS SubmitTransfer(ReceiverDevice* dev, PIRP irp, PipeIndex pipe, ULONG n, ULONG flags)
{
    if (n == 0) {
        CompleteRequest(irp, STATUS_SUCCESS);
        RequestFinished(dev);
        return STATUS_SUCCESS;
    }
    USBD_PIPE_HANDLE handle = nullptr;
    ULONG maximum = 0;
    KIRQL irql;
    KeAcquireSpinLock(&dev->bindingLock, &irql);
    if (PUSBD_PIPE_INFORMATION info = dev->pipes[pipe].info) {
        handle = info->PipeHandle;
        maximum = info->MaximumTransferSize;
    }
    KeReleaseSpinLock(&dev->bindingLock, irql);
    if (!handle) {
        // The configuration has no endpoint for this pipe: the request cannot be carried out
        // in the device's present state.
        CompleteRequest(irp, STATUS_INVALID_DEVICE_STATE);
        RequestFinished(dev);
        return STATUS_INVALID_DEVICE_STATE;
    }
    ULONG length = std::min(n, maximum);

    auto* ctx = static_cast<TransferContext*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(TransferContext), kPoolTag));
    auto* urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPool, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER), kPoolTag));
    if (!ctx || !urb) {
        ExFreePool(ctx);
        ExFreePool(urb);
        CompleteRequest(irp, STATUS_INSUFFICIENT_RESOURCES);
        RequestFinished(dev);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    UsbBuildInterruptOrBulkTransferRequest(urb, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER), handle,
                                           irp->AssociatedIrp.SystemBuffer, nullptr, length, flags, nullptr);
    ctx->urb = urb;
    ctx->dev = dev;
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = urb;
    IoSetCompletionRoutine(irp, TransferComplete, ctx, TRUE, TRUE, TRUE);
    return IoCallDriver(dev->lower, irp);
}

// Passive level: builds its own request for the URB, sends it down and waits (no time-out).
NTSTATUS SubmitUrbAndWait(ReceiverDevice* dev, PURB urb)
{
    PIRP irp = IoAllocateIrp(dev->lower->StackSize, FALSE);
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = urb;
    IoSetCompletionRoutine(irp, UrbDone, &done, TRUE, TRUE, TRUE);
    IoCallDriver(dev->lower, irp);
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    if (NT_SUCCESS(status) && !USBD_SUCCESS(urb->UrbHeader.Status)) status = STATUS_UNSUCCESSFUL;
    return status;
}

} // namespace usbkrn
