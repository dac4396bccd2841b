// The plug-and-play manager. Bus drivers report physical device objects that arrive and go;
// the manager loads the function driver once (dlopen of build/bin/libUSBKRNb.so and its
// DriverEntry), adds and starts the device, sends surprise removal when the device is
// unplugged and the removal when its last handle closes, and unloads the driver when its
// last device object is gone. Every plug-and-play and power IRP is sent from one PnP thread.
#pragma once

#include "platform/nt/Io.h"

#include <functional>
#include <string>

namespace nt {

struct PnpDriverImage {
    std::string path;        // shared library holding DriverEntry
    std::string serviceKey;  // registry path passed to DriverEntry
};

// Starts the PnP thread. The function driver is loaded from `image` when a device arrives.
void PnpStart(const PnpDriverImage& image);
// Removes every device still present (surprise removal, then removal once no handle is
// open; handles still open are waited for up to `closeWaitMs`), unloads the driver and joins
// the PnP thread.
void PnpStop(unsigned closeWaitMs = 2000);
bool PnpRunning();

// From bus drivers, any thread; handled on the PnP thread in the order reported.
// `released` is called on the PnP thread once the stack no longer uses the PDO (after its
// removal IRP); the bus driver may then delete it.
void PnpDeviceArrived(PDEVICE_OBJECT pdo, std::function<void()> released);
// False when the manager is not running (nothing will be sent).
bool PnpDeviceGone(PDEVICE_OBJECT pdo);

// Orderly requests, as a user or the system would make them; each runs on the PnP thread
// and returns the status of the stack. Stop and disable follow the query protocol: a refused
// query is answered with its cancel.
NTSTATUS PnpStopDevice(PDEVICE_OBJECT pdo);     // query-stop, stop
NTSTATUS PnpRestartDevice(PDEVICE_OBJECT pdo);  // start after a stop
NTSTATUS PnpDisableDevice(PDEVICE_OBJECT pdo);  // query-remove, remove
// Sends one plug-and-play IRP with the given minor function (test use).
NTSTATUS PnpSendMinor(PDEVICE_OBJECT pdo, UCHAR minor);
// Sends IRP_MN_SET_POWER for the device (DevicePowerState) or the system (SystemPowerState).
NTSTATUS PnpSetDevicePower(PDEVICE_OBJECT pdo, DEVICE_POWER_STATE state);
NTSTATUS PnpSetSystemPower(PDEVICE_OBJECT pdo, SYSTEM_POWER_STATE state);

// Runs `task` on the PnP thread (inline when called there).
void PnpRun(std::function<void()> task);
// False when the manager is not running: the task is dropped.
bool PnpPost(std::function<void()> task);
bool OnPnpThread();
// Waits until the PnP thread has handled everything reported so far.
void PnpFlush();

// Is the function driver loaded? How many times has DriverEntry run?
bool PnpDriverLoaded();
int PnpDriverLoadCount();
// The function device object of a PDO's stack (top of the stack), or null.
PDEVICE_OBJECT PnpFunctionDevice(PDEVICE_OBJECT pdo);
// Devices the manager knows about (arrived and not yet released).
size_t PnpDeviceCount();

} // namespace nt
