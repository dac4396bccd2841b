// The I/O manager: driver and device objects, names and symbolic links, IRPs with stack
// locations, passing and completing requests, cancellation and the cancel spin lock, the
// remove lock. Completion and cancel routines run at dispatch level.
#pragma once

#include "Ke.h"

struct DEVICE_OBJECT;
struct DRIVER_OBJECT;
struct IRP;
struct FILE_OBJECT;
using PDEVICE_OBJECT = DEVICE_OBJECT*;
using PDRIVER_OBJECT = DRIVER_OBJECT*;
using PIRP = IRP*;
using PFILE_OBJECT = FILE_OBJECT*;
using DEVICE_TYPE = ULONG;

// ---- request kinds -------------------------------------------------------------------------

constexpr UCHAR IRP_MJ_CREATE = 0x00;
constexpr UCHAR IRP_MJ_CLOSE = 0x02;
constexpr UCHAR IRP_MJ_READ = 0x03;
constexpr UCHAR IRP_MJ_WRITE = 0x04;
constexpr UCHAR IRP_MJ_DEVICE_CONTROL = 0x0e;
constexpr UCHAR IRP_MJ_INTERNAL_DEVICE_CONTROL = 0x0f;
constexpr UCHAR IRP_MJ_CLEANUP = 0x12;
constexpr UCHAR IRP_MJ_POWER = 0x16;
constexpr UCHAR IRP_MJ_SYSTEM_CONTROL = 0x17;
constexpr UCHAR IRP_MJ_PNP = 0x1b;
constexpr UCHAR IRP_MJ_MAXIMUM_FUNCTION = 0x1b;

constexpr UCHAR IRP_MN_START_DEVICE = 0x00;
constexpr UCHAR IRP_MN_QUERY_REMOVE_DEVICE = 0x01;
constexpr UCHAR IRP_MN_REMOVE_DEVICE = 0x02;
constexpr UCHAR IRP_MN_CANCEL_REMOVE_DEVICE = 0x03;
constexpr UCHAR IRP_MN_STOP_DEVICE = 0x04;
constexpr UCHAR IRP_MN_QUERY_STOP_DEVICE = 0x05;
constexpr UCHAR IRP_MN_CANCEL_STOP_DEVICE = 0x06;
constexpr UCHAR IRP_MN_QUERY_CAPABILITIES = 0x09;
constexpr UCHAR IRP_MN_SURPRISE_REMOVAL = 0x17;

constexpr UCHAR IRP_MN_WAIT_WAKE = 0x00;
constexpr UCHAR IRP_MN_POWER_SEQUENCE = 0x01;
constexpr UCHAR IRP_MN_SET_POWER = 0x02;
constexpr UCHAR IRP_MN_QUERY_POWER = 0x03;

// ---- control codes -------------------------------------------------------------------------

constexpr ULONG METHOD_BUFFERED = 0;
constexpr ULONG METHOD_NEITHER = 3;
constexpr ULONG FILE_ANY_ACCESS = 0;
constexpr DEVICE_TYPE FILE_DEVICE_UNKNOWN = 0x22;
constexpr DEVICE_TYPE FILE_DEVICE_USB = 0x22;
constexpr ULONG CTL_CODE(ULONG type, ULONG function, ULONG method, ULONG access)
{
    return type << 16 | access << 14 | function << 2 | method;
}

// ---- device object flags -------------------------------------------------------------------

constexpr ULONG DO_BUFFERED_IO = 0x00000004;
constexpr ULONG DO_EXCLUSIVE = 0x00000008;
constexpr ULONG DO_DIRECT_IO = 0x00000010;
constexpr ULONG DO_DEVICE_INITIALIZING = 0x00000080;
constexpr ULONG DO_POWER_PAGABLE = 0x00002000;

// ---- power and capabilities ----------------------------------------------------------------

enum SYSTEM_POWER_STATE {
    PowerSystemUnspecified = 0, PowerSystemWorking, PowerSystemSleeping1, PowerSystemSleeping2,
    PowerSystemSleeping3, PowerSystemHibernate, PowerSystemShutdown, PowerSystemMaximum
};
enum DEVICE_POWER_STATE {
    PowerDeviceUnspecified = 0, PowerDeviceD0, PowerDeviceD1, PowerDeviceD2, PowerDeviceD3,
    PowerDeviceMaximum
};
enum POWER_STATE_TYPE { SystemPowerState = 0, DevicePowerState };
union POWER_STATE {
    SYSTEM_POWER_STATE SystemState;
    DEVICE_POWER_STATE DeviceState;
};

struct DEVICE_CAPABILITIES {
    USHORT Size;
    USHORT Version;
    ULONG DeviceD1 : 1;
    ULONG DeviceD2 : 1;
    ULONG LockSupported : 1;
    ULONG EjectSupported : 1;
    ULONG Removable : 1;
    ULONG DockDevice : 1;
    ULONG UniqueID : 1;
    ULONG SilentInstall : 1;
    ULONG RawDeviceOK : 1;
    ULONG SurpriseRemovalOK : 1;
    ULONG Address;
    ULONG UINumber;
    DEVICE_POWER_STATE DeviceState[PowerSystemMaximum];
    SYSTEM_POWER_STATE SystemWake;
    DEVICE_POWER_STATE DeviceWake;
};
using PDEVICE_CAPABILITIES = DEVICE_CAPABILITIES*;

// ---- IRPs ----------------------------------------------------------------------------------

struct IO_STATUS_BLOCK {
    NTSTATUS Status;
    ULONG_PTR Information;
};

using PIO_COMPLETION_ROUTINE = NTSTATUS (*)(PDEVICE_OBJECT device, PIRP irp, PVOID context);
using PDRIVER_CANCEL = void (*)(PDEVICE_OBJECT device, PIRP irp);
using PDRIVER_DISPATCH = NTSTATUS (*)(PDEVICE_OBJECT device, PIRP irp);
using PDRIVER_ADD_DEVICE = NTSTATUS (*)(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo);
using PDRIVER_UNLOAD = void (*)(PDRIVER_OBJECT driver);

constexpr UCHAR SL_PENDING_RETURNED = 0x01;
constexpr UCHAR SL_INVOKE_ON_CANCEL = 0x20;
constexpr UCHAR SL_INVOKE_ON_SUCCESS = 0x40;
constexpr UCHAR SL_INVOKE_ON_ERROR = 0x80;

struct IO_STACK_LOCATION {
    UCHAR MajorFunction;
    UCHAR MinorFunction;
    UCHAR Flags;
    UCHAR Control;
    union {
        struct {
            ULONG OutputBufferLength;
            ULONG InputBufferLength;
            ULONG IoControlCode;
            PVOID Type3InputBuffer;
        } DeviceIoControl;
        struct {
            PDEVICE_CAPABILITIES Capabilities;
        } DeviceCapabilities;
        struct {
            ULONG SystemContext;
            POWER_STATE_TYPE Type;
            POWER_STATE State;
            ULONG ShutdownType;
        } Power;
        struct {
            PVOID Argument1;
            PVOID Argument2;
            PVOID Argument3;
            PVOID Argument4;
        } Others;
    } Parameters;
    PDEVICE_OBJECT DeviceObject;
    PFILE_OBJECT FileObject;
    PIO_COMPLETION_ROUTINE CompletionRoutine;
    PVOID Context;
};
using PIO_STACK_LOCATION = IO_STACK_LOCATION*;

namespace nt {
struct IrpOwner;  // the I/O manager's record of a user request
}

struct IRP {
    IO_STATUS_BLOCK IoStatus;
    CCHAR StackCount;
    CCHAR CurrentLocation;  // 1 … StackCount; StackCount + 1 before the first IoCallDriver
    BOOLEAN PendingReturned;
    BOOLEAN Cancel;
    KIRQL CancelIrql;
    KPROCESSOR_MODE RequestorMode;
    PDRIVER_CANCEL CancelRoutine;  // exchanged atomically (IoSetCancelRoutine)
    union {
        PVOID SystemBuffer;
    } AssociatedIrp;
    struct {
        struct {
            PVOID DriverContext[4];  // for the driver that owns the IRP
            LIST_ENTRY ListEntry;    // for the driver that owns the IRP (its queues)
        } Overlay;
    } Tail;
    IO_STACK_LOCATION* Stack;        // StackCount entries; entry i is location i + 1
    nt::IrpOwner* Owner;             // the I/O manager's record of a user request, or null
    LONG Completing;                 // guards against completing one IRP twice
};

struct FILE_OBJECT {
    PDEVICE_OBJECT DeviceObject;
    PVOID FsContext;   // for the driver's own use
    PVOID FsContext2;
};

struct DRIVER_EXTENSION {
    PDRIVER_ADD_DEVICE AddDevice;
};

struct DRIVER_OBJECT {
    PDEVICE_OBJECT DeviceObject;    // first device of the driver's list
    DRIVER_EXTENSION* DriverExtension;
    PDRIVER_UNLOAD DriverUnload;
    PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
    UNICODE_STRING DriverName;
    DRIVER_EXTENSION Extension;
};

struct DEVICE_OBJECT {
    PDRIVER_OBJECT DriverObject;
    PDEVICE_OBJECT NextDevice;      // next device of the same driver
    PDEVICE_OBJECT AttachedDevice;  // the device above in the stack
    ULONG Flags;
    ULONG Characteristics;
    DEVICE_TYPE DeviceType;
    CCHAR StackSize;
    PVOID DeviceExtension;
    // Stand-in bookkeeping.
    PDEVICE_OBJECT AttachedTo;      // the device below, set by IoAttachDeviceToDeviceStack
    LONG ReferenceCount;            // 1 until IoDeleteDevice, plus one per open file
    BOOLEAN DeletePending;
    BOOLEAN Exclusive;
    // On a PDO: its stack is being added and started; opens wait until the first start is done.
    BOOLEAN StartPending;
};

// ---- functions -----------------------------------------------------------------------------

// Names and the device stack: passive level.
NTSTATUS IoCreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                        DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT* device);
// Removes the device's name and, once no file refers to it, frees it.
void IoDeleteDevice(PDEVICE_OBJECT device);
NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING link, PUNICODE_STRING target);
NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING link);
// Attaches `source` above the top of the stack that holds `target`; returns the device it
// was attached to, or null.
PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT source, PDEVICE_OBJECT target);
void IoDetachDevice(PDEVICE_OBJECT lower);

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN chargeQuota);
void IoFreeIrp(PIRP irp);
// Reinitialises an IRP for reuse (status, cancel state and locations).
void IoReuseIrp(PIRP irp, NTSTATUS status);

PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp);
PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp);
void IoCopyCurrentIrpStackLocationToNext(PIRP irp);
void IoSkipCurrentIrpStackLocation(PIRP irp);
void IoMarkIrpPending(PIRP irp);
void IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context,
                            BOOLEAN onSuccess, BOOLEAN onError, BOOLEAN onCancel);

NTSTATUS IofCallDriver(PDEVICE_OBJECT device, PIRP irp);
// Completes an IRP: runs the completion routines from the current location upwards and, at
// the top, hands the result to the request's owner. Completing an IRP twice aborts.
void IofCompleteRequest(PIRP irp, CCHAR priorityBoost);
#define IoCallDriver(d, i) IofCallDriver(d, i)
#define IoCompleteRequest(i, b) IofCompleteRequest(i, b)
constexpr CCHAR IO_NO_INCREMENT = 0;

// Sets the cancel flag and calls the IRP's cancel routine (with the cancel spin lock held;
// the routine releases it). Returns TRUE when a cancel routine was called.
BOOLEAN IoCancelIrp(PIRP irp);
PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL routine);
void IoAcquireCancelSpinLock(PKIRQL irql);
void IoReleaseCancelSpinLock(KIRQL irql);

// ---- remove lock ---------------------------------------------------------------------------

// Counts the requests that use a device; the removal waits until none is left.
struct IO_REMOVE_LOCK {
    BOOLEAN Removed;
    LONG IoCount;  // 1 + acquisitions, until the removal drops the 1
    KEVENT RemoveEvent;
};
typedef IO_REMOVE_LOCK* PIO_REMOVE_LOCK;

void IoInitializeRemoveLock(PIO_REMOVE_LOCK lock, ULONG tag, ULONG maxLockedMinutes, ULONG highWatermark);
// STATUS_SUCCESS, or STATUS_DELETE_PENDING once the removal has begun. Dispatch level or below.
NTSTATUS IoAcquireRemoveLock(PIO_REMOVE_LOCK lock, PVOID tag);
void IoReleaseRemoveLock(PIO_REMOVE_LOCK lock, PVOID tag);
// Called by the removal with the lock acquired once: refuses new acquisitions, releases this
// one and waits until every other is released. Passive level.
void IoReleaseRemoveLockAndWait(PIO_REMOVE_LOCK lock, PVOID tag);
