// One USB transfer per read or write request, straight into or out of the request's system
// buffer; the list of transfers at the bus, so that cleanup, power-down and removal can
// cancel them; and the synchronous URBs of configuration.
#include "ReceiverDevice.h"

namespace usbkrn {

namespace {

// One per transfer in progress, freed with its URB once both the completion step and any
// canceller are done with it (`references`).
struct TransferContext {
    LIST_ENTRY link;        // in ReceiverDevice::transfers while at the bus
    LIST_ENTRY cancelLink;  // in a canceller's local list
    PURB urb;
    ReceiverDevice* dev;
    PIRP irp;
    PFILE_OBJECT file;
    volatile LONG references;  // the completion step, plus one per canceller at work
};

// A file whose cleanup has run takes no new transfers (FILE_OBJECT::FsContext2).
PVOID const kCleanedUp = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(1));

// Frees what the transfer owns and ends the request's count and remove lock.
void FreeTransfer(TransferContext* ctx)
{
    ReceiverDevice* dev = ctx->dev;
    PIRP irp = ctx->irp;
    ExFreePool(ctx->urb);
    ExFreePool(ctx);
    RequestFinished(dev, irp);
}

// Runs when the bus driver completes the transfer: dispatch level, any thread.
NTSTATUS TransferComplete(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* ctx = static_cast<TransferContext*>(context);
    ReceiverDevice* dev = ctx->dev;
    irp->IoStatus.Information = NT_SUCCESS(irp->IoStatus.Status)
                                    ? ctx->urb->UrbBulkOrInterruptTransfer.TransferBufferLength
                                    : 0;
    KIRQL irql;
    KeAcquireSpinLock(&dev->transferLock, &irql);
    RemoveEntryList(&ctx->link);
    if (--dev->transfersAtBus == 0 && dev->transfersDrained) {
        KeSetEvent(dev->transfersDrained, 0, FALSE);
        dev->transfersDrained = nullptr;
    }
    KeReleaseSpinLock(&dev->transferLock, irql);
    if (InterlockedDecrement(&ctx->references) != 0)
        return STATUS_MORE_PROCESSING_REQUIRED;  // a canceller still uses the IRP; it completes it
    FreeTransfer(ctx);
    return STATUS_SUCCESS;  // the completion goes on to the caller with the bus's status
}

NTSTATUS UrbDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

} // namespace

// Passive level (dispatch level for held requests resumed by a power-up), counted in progress
// and holding the remove lock. The request is completed exactly once: here when it fails
// before reaching the bus, else by the completion step; once at the bus it is pending.
NTSTATUS SubmitTransfer(ReceiverDevice* dev, PIRP irp, PipeIndex pipe, ULONG n, ULONG flags)
{
    if (n == 0) {
        CompleteRequest(irp, STATUS_SUCCESS);
        RequestFinished(dev, irp);
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
    // The configuration has no endpoint for this pipe: the request cannot be carried out in
    // the device's present state.
    if (!handle) return FailRequest(dev, irp, STATUS_INVALID_DEVICE_STATE);
    ULONG length = n < maximum ? n : maximum;

    auto* ctx = static_cast<TransferContext*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(TransferContext), kPoolTag));
    auto* urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPool, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER), kPoolTag));
    if (!ctx || !urb) {
        if (ctx) ExFreePool(ctx);
        if (urb) ExFreePool(urb);
        return FailRequest(dev, irp, STATUS_INSUFFICIENT_RESOURCES);
    }
    UsbBuildInterruptOrBulkTransferRequest(urb, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER), handle,
                                           irp->AssociatedIrp.SystemBuffer, nullptr, length, flags, nullptr);
    ctx->urb = urb;
    ctx->dev = dev;
    ctx->irp = irp;
    ctx->file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    ctx->references = 1;

    KeAcquireSpinLock(&dev->transferLock, &irql);
    BOOLEAN refused = dev->transfersBlocked || (ctx->file && ctx->file->FsContext2 == kCleanedUp);
    if (!refused) {
        InsertTailList(&dev->transfers, &ctx->link);
        ++dev->transfersAtBus;
    }
    KeReleaseSpinLock(&dev->transferLock, irql);
    if (refused) {  // its file is cleaned up, or the device is powering down or going
        ExFreePool(urb);
        ExFreePool(ctx);
        return FailRequest(dev, irp, STATUS_CANCELLED);
    }

    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = urb;
    IoSetCompletionRoutine(irp, TransferComplete, ctx, TRUE, TRUE, TRUE);
    IoMarkIrpPending(irp);
    IoCallDriver(dev->lower, irp);
    return STATUS_PENDING;
}

void CancelTransfers(ReceiverDevice* dev, PFILE_OBJECT onlyFile, BOOLEAN block)
{
    LIST_ENTRY victims;
    InitializeListHead(&victims);
    KIRQL irql;
    KeAcquireSpinLock(&dev->transferLock, &irql);
    if (block) dev->transfersBlocked = TRUE;
    if (onlyFile) onlyFile->FsContext2 = kCleanedUp;
    for (PLIST_ENTRY entry = dev->transfers.Flink; entry != &dev->transfers; entry = entry->Flink) {
        TransferContext* ctx = CONTAINING_RECORD(entry, TransferContext, link);
        if (onlyFile && ctx->file != onlyFile) continue;
        InterlockedIncrement(&ctx->references);  // keeps the IRP from completing under the cancel
        InsertTailList(&victims, &ctx->cancelLink);
    }
    KeReleaseSpinLock(&dev->transferLock, irql);
    while (!IsListEmpty(&victims)) {
        TransferContext* ctx = CONTAINING_RECORD(RemoveHeadList(&victims), TransferContext, cancelLink);
        PIRP irp = ctx->irp;
        IoCancelIrp(irp);
        if (InterlockedDecrement(&ctx->references) == 0) {  // its completion step has run meanwhile
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            FreeTransfer(ctx);
        }
    }
}

void AllowTransfers(ReceiverDevice* dev)
{
    KIRQL irql;
    KeAcquireSpinLock(&dev->transferLock, &irql);
    dev->transfersBlocked = FALSE;
    KeReleaseSpinLock(&dev->transferLock, irql);
}

void WaitForTransfers(ReceiverDevice* dev)
{
    KEVENT drained;  // set by the completion step that leaves the bus without transfers
    KeInitializeEvent(&drained, NotificationEvent, FALSE);
    KIRQL irql;
    KeAcquireSpinLock(&dev->transferLock, &irql);
    BOOLEAN wait = dev->transfersAtBus > 0;
    if (wait) dev->transfersDrained = &drained;
    KeReleaseSpinLock(&dev->transferLock, irql);
    if (wait) KeWaitForSingleObject(&drained, Executive, KernelMode, FALSE, nullptr);
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
