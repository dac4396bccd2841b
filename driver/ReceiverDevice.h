// The driver's private state: the loaded driver and one receiver device per device object,
// and the entry points of each concern (load, pnp, power, device control, transfers).
#pragma once

#include "platform/nt/Io.h"
#include "platform/nt/Pool.h"
#include "platform/nt/Usb.h"

#include <list>

namespace usbkrn {

constexpr ULONG kPoolTag = MakePoolTag("Wdm ");
constexpr ULONG kConfigurationBufferSize = 128;

struct ReceiverDriver {
    ULONG units;             // devices added while loaded; names the next device
    const char* linkPrefix;  // "\??\" or, on the older family, "\DosDevices\"
};
extern ReceiverDriver g_driver;

enum class PnpState { NotStarted, Started, StopPending, Stopped, RemovePending, SurpriseRemoved, Removed };

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

struct ReceiverDevice {
    // Standard plug-and-play and power state.
    PnpState pnpState = PnpState::NotStarted;
    PnpState previousPnpState = PnpState::NotStarted;
    LONG openHandles = 0;                 // under `mutex`
    volatile LONG requestsInProgress = 0; // interlocked; from arrival to completion
    KEVENT noRequests;                    // set whenever requestsInProgress drops to 0
    DEVICE_POWER_STATE devicePower = PowerDeviceD0;
    SYSTEM_POWER_STATE systemPower = PowerSystemWorking;
    bool powerChangeInProgress = false;   // under the cancel spin lock
    std::list<PIRP> held;                 // under the cancel spin lock, in arrival order (a list:
                                          // empty, it owns no memory, and the extension is
                                          // never destroyed as a C++ object)
    KMUTEX mutex;                         // serialises open, close and removal
    DEVICE_CAPABILITIES capabilities{};
    LARGE_INTEGER removalWait{};

    // The lower USB device.
    PDEVICE_OBJECT lower = nullptr;
    PUSB_CONFIGURATION_DESCRIPTOR configuration = nullptr;  // 128 bytes from pool
    PURB selectUrb = nullptr;                               // holds the interface information
    PUSBD_INTERFACE_INFORMATION interface = nullptr;
    KSPIN_LOCK bindingLock;                                 // guards the pipes' bindings

    UCHAR interfaceNumber = 0;
    UCHAR configurationValue = 1;
    UCHAR alternateSetting = 0;

    Pipe pipes[PipeCount] = {
        {0x85, 4096, nullptr},
        {0x81, 10240, nullptr},
        {0x83, 4096, nullptr},
        {0x06, 4096, nullptr},
    };

    RemovalEvent removalEvent{};
    KSPIN_LOCK removalLock;  // one lock across replacing, reading and setting the event

    PDEVICE_OBJECT pdo = nullptr;
    PDEVICE_OBJECT self = nullptr;
    bool destroyed = false;
};

inline ReceiverDevice* DeviceOf(PDEVICE_OBJECT device)
{
    return static_cast<ReceiverDevice*>(device->DeviceExtension);
}

// Load.cpp
NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo);
void DestroyReceiverDevice(ReceiverDevice* dev);

// Queue.cpp: the request gate of the plug-and-play and power state.
void RequestArrived(ReceiverDevice* dev);
void RequestFinished(ReceiverDevice* dev);
// Dispatches, holds or fails a request by the device's state; returns the dispatch status.
NTSTATUS GateRequest(ReceiverDevice* dev, PIRP irp);
void DispatchHeld(ReceiverDevice* dev);
void FailHeld(ReceiverDevice* dev, NTSTATUS status, PFILE_OBJECT onlyFile = nullptr);
// Requests D0 for the device and waits until it is there.
void PowerUpAndWait(ReceiverDevice* dev);
NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information = 0);
// The plug-and-play state and recorded power state, read under the cancel spin lock that
// guards their changes.
PnpState StateOf(ReceiverDevice* dev);
DEVICE_POWER_STATE PowerOf(ReceiverDevice* dev);

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
void SetRemovalEvent(ReceiverDevice* dev);
void ForgetRemovalEvent(ReceiverDevice* dev);

// Transfers.cpp
NTSTATUS SubmitTransfer(ReceiverDevice* dev, PIRP irp, PipeIndex pipe, ULONG length, ULONG flags);
NTSTATUS SubmitUrbAndWait(ReceiverDevice* dev, PURB urb);

// Configure.cpp
NTSTATUS ConfigureDevice(ReceiverDevice* dev);
void UnconfigureDevice(ReceiverDevice* dev);
void ReleaseConfiguration(ReceiverDevice* dev);

} // namespace usbkrn
