// The driver's private state: the loaded driver and one receiver device per device object,
// and the entry points of each concern (load, pnp, power, request gate, device control,
// transfers, configuration).
#pragma once

#include <usbdlib.h>
#include <wdm.h>

namespace usbkrn {

constexpr ULONG kPoolTag = 0x206D6457;  // "Wdm " as it reads in memory
constexpr ULONG kConfigurationBufferSize = 128;
constexpr USHORT kNameChars = 64;        // room for every device and link name

struct ReceiverDriver {
    ULONG units;        // devices added while loaded; names the next device
    PCWSTR linkPrefix;  // L"\\??\\" or, on the older family, L"\\DosDevices\\"
};
extern ReceiverDriver g_driver;

enum PnpState { NotStarted, Started, StopPending, Stopped, RemovePending, SurpriseRemoved, Removed };

enum PipeIndex { InterruptPipe, Bulk2Pipe, AuxPipe, CommandPipe, PipeCount };

struct Pipe {
    UCHAR endpointAddress;
    ULONG maximumTransferSize;
    PUSBD_PIPE_INFORMATION info;  // bound pipe information; null while not configured
};

struct RemovalEvent {
    ULONG handle;    // value last registered
    PVOID object;    // referenced event object, or null
    BOOLEAN held;
};

// Lives in the device object's extension, which IoCreateDevice zeroes; AddDevice sets the
// rest.
struct ReceiverDevice {
    // Standard plug-and-play and power state; the states, the held queue and the power flags
    // are under the cancel spin lock.
    PnpState pnpState;
    PnpState previousPnpState;
    LONG openHandles;                  // under `mutex`
    volatile LONG requestsInProgress;  // device-control requests from arrival to completion
    IO_REMOVE_LOCK removeLock;         // held by every dispatch path; the removal waits for it
    DEVICE_POWER_STATE devicePower;
    SYSTEM_POWER_STATE systemPower;
    BOOLEAN powerChangeInProgress;     // from a set-power request's arrival to its completion
    LIST_ENTRY held;                   // held requests in arrival order (Tail.Overlay.ListEntry)
    KMUTEX mutex;                      // serialises open, close and removal
    DEVICE_CAPABILITIES capabilities;

    // Transfers at the bus, so that cleanup, power-down and removal can cancel them.
    KSPIN_LOCK transferLock;
    LIST_ENTRY transfers;              // TransferContext::link
    LONG transfersAtBus;               // under transferLock
    BOOLEAN transfersBlocked;          // under transferLock: new transfers complete cancelled
    PKEVENT transfersDrained;          // under transferLock: set when transfersAtBus reaches 0

    // The lower USB device.
    PDEVICE_OBJECT lower;
    PUSB_CONFIGURATION_DESCRIPTOR configuration;  // 128 bytes from pool
    PURB selectUrb;                               // holds the interface information
    PUSBD_INTERFACE_INFORMATION interface;
    KSPIN_LOCK bindingLock;                       // guards the pipes' bindings

    UCHAR interfaceNumber;
    UCHAR configurationValue;
    UCHAR alternateSetting;
    Pipe pipes[PipeCount];

    RemovalEvent removalEvent;
    KSPIN_LOCK removalLock;  // one lock across replacing, reading and setting the event

    PDEVICE_OBJECT pdo;
    PDEVICE_OBJECT self;
    UNICODE_STRING linkName;  // deleted at removal
    WCHAR linkNameBuffer[kNameChars];
    BOOLEAN destroyed;
};

inline ReceiverDevice* DeviceOf(PDEVICE_OBJECT device)
{
    return static_cast<ReceiverDevice*>(device->DeviceExtension);
}

inline BOOLEAN Gone(PnpState state) { return state == Removed || state == SurpriseRemoved; }

// Load.cpp
NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo);
void DestroyReceiverDevice(ReceiverDevice* dev);

// Queue.cpp: the request gate of the plug-and-play and power state.
NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information = 0);
// A device-control request is counted and holds the remove lock from its arrival to its
// completion; this ends both.
void RequestFinished(ReceiverDevice* dev, PIRP irp);
// Completes a device-control request that was not carried out, and finishes it.
NTSTATUS FailRequest(ReceiverDevice* dev, PIRP irp, NTSTATUS status);
// Dispatches, holds or fails a request by the device's state; returns the dispatch status.
NTSTATUS GateRequest(ReceiverDevice* dev, PIRP irp);
// Held requests go on when nothing holds them any more; a device recorded as powered down is
// asked for D0 first. Passive level, or dispatch level when the device is at D0.
void ResumeHeld(ReceiverDevice* dev);
// Fails the held requests (of one file, or all).
void FailHeld(ReceiverDevice* dev, NTSTATUS status, PFILE_OBJECT onlyFile = nullptr);
// Requests a device power state and waits until the lower drivers have completed it.
NTSTATUS SetDevicePowerAndWait(ReceiverDevice* dev, DEVICE_POWER_STATE state);
// The state and the recorded power, read and written under the cancel spin lock.
template <class T>
T ReadUnderCancelLock(const T& field)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    T value = field;
    IoReleaseCancelSpinLock(irql);
    return value;
}
template <class T>
void SetUnderCancelLock(T& field, T value)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    field = value;
    IoReleaseCancelSpinLock(irql);
}
PnpState StateOf(ReceiverDevice* dev);
void SetState(ReceiverDevice* dev, PnpState state);
void RestoreState(ReceiverDevice* dev);
DEVICE_POWER_STATE PowerOf(ReceiverDevice* dev);
void RecordDevicePower(ReceiverDevice* dev, DEVICE_POWER_STATE state);
void RecordSystemPower(ReceiverDevice* dev, SYSTEM_POWER_STATE state);
void SetPowerChange(ReceiverDevice* dev, BOOLEAN inProgress);

// Pnp.cpp, Power.cpp
NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DispatchPower(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DispatchSystemControl(PDEVICE_OBJECT device, PIRP irp);
// Passes a request down and waits for the lower drivers to complete it.
NTSTATUS ForwardAndWait(ReceiverDevice* dev, PIRP irp);

// DeviceControl.cpp
NTSTATUS DispatchCreate(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DispatchCleanup(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DispatchClose(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp);
// The device-control work once the gate lets the request through.
NTSTATUS DeviceControl(ReceiverDevice* dev, PIRP irp);
// Drops the event reference that a held IOCTL_SET_REMOVAL_EVENT took at its arrival.
void DropArrivalReference(PIRP irp);
void SetRemovalEvent(ReceiverDevice* dev);
void ForgetRemovalEvent(ReceiverDevice* dev);

// Transfers.cpp
NTSTATUS SubmitTransfer(ReceiverDevice* dev, PIRP irp, PipeIndex pipe, ULONG length, ULONG flags);
// Cancels the transfers at the bus (of one file, or all); `block` also turns away new ones
// until AllowTransfers. Passive or dispatch level, no lock held.
void CancelTransfers(ReceiverDevice* dev, PFILE_OBJECT onlyFile, BOOLEAN block);
void AllowTransfers(ReceiverDevice* dev);
// Waits until no transfer of the device is at the bus. Passive level.
void WaitForTransfers(ReceiverDevice* dev);
NTSTATUS SubmitUrbAndWait(ReceiverDevice* dev, PURB urb);

// Configure.cpp
NTSTATUS ConfigureDevice(ReceiverDevice* dev);
void UnconfigureDevice(ReceiverDevice* dev);
void ReleaseConfiguration(ReceiverDevice* dev);

} // namespace usbkrn
