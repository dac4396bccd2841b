// The stand-in's own side of the I/O manager: the record that gets a user request back at
// its completion, the name space seen from user mode and tests, device references and driver
// objects.
#pragma once

#include "platform/nt/Io.h"

#include <string>

namespace nt {

// Who gets an IRP when its last completion routine has run: the I/O manager's record of a
// user request. Driver-built IRPs have none and end in a completion routine of their own.
struct IrpOwner {
    virtual void IrpCompleted(PIRP irp) = 0;

protected:
    ~IrpOwner() = default;
};

// Statistics for tests: IRPs that exist (allocated and not freed).
LONG IrpsOutstanding();

// The device object that a name ("\Device\X", or a link "\??\X" / "\DosDevices\X") denotes,
// or null. The result is not referenced.
PDEVICE_OBJECT IoLookupDevice(const std::string& name);
// The same, referenced under the name space's lock, so that a removal running on another
// thread cannot free it before the caller is done (drop it with IoDereferenceDevice).
PDEVICE_OBJECT IoReferenceDeviceByName(const std::string& name);
// A symbolic link's name as it was created ("\DosDevices\X" or "\??\X"), or empty.
std::string IoLinkSpelling(const std::string& link);
// The narrow form of a counted string (the name space keeps names as narrow strings).
std::string NarrowName(PCUNICODE_STRING name);
// The top of the stack that `device` belongs to.
PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT device);
// The same, referenced under the lock that guards the stack (IoDereferenceDevice drops it).
PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT device);
// Whether an open of `device` is refused, as the I/O manager refuses it: a device of the stack
// from `device` down is still initializing (its driver's add-device has not returned), is
// being deleted, or is still being started. The stack is walked under its lock: a removal on
// the PnP thread detaches and frees the lower devices meanwhile.
bool IoStackRefusesOpens(PDEVICE_OBJECT device);
// Takes and drops a reference that keeps a device object's memory alive after IoDeleteDevice.
void IoReferenceDevice(PDEVICE_OBJECT device);
void IoDereferenceDevice(PDEVICE_OBJECT device);

// Creates and destroys driver objects (used by the PnP manager and the bus driver).
PDRIVER_OBJECT IoCreateDriverObject(const std::string& name);
void IoDeleteDriverObject(PDRIVER_OBJECT driver);
// Called when the last device object of a driver is freed.
void IoSetDriverIdleCallback(void (*callback)(PDRIVER_OBJECT));

} // namespace nt
