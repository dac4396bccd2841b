// The power manager: recording power states, passing power IRPs, and power requests that a
// driver makes for its own device.
#pragma once

#include "Io.h"

typedef void (*PREQUEST_POWER_COMPLETE)(PDEVICE_OBJECT device, UCHAR minorFunction,
                                        POWER_STATE state, PVOID context,
                                        IO_STATUS_BLOCK* ioStatus);

// Records the state the device is now in; returns the previous one.
POWER_STATE PoSetPowerState(PDEVICE_OBJECT device, POWER_STATE_TYPE type, POWER_STATE state);
NTSTATUS PoCallDriver(PDEVICE_OBJECT device, PIRP irp);
void PoStartNextPowerIrp(PIRP irp);

// Sends a device power IRP (IRP_MN_SET_POWER or IRP_MN_QUERY_POWER) to the top of the stack
// that holds `device`, from the calling thread, and calls `complete` when the stack has completed
// it. Returns STATUS_PENDING (or the failure to allocate).
NTSTATUS PoRequestPowerIrp(PDEVICE_OBJECT device, UCHAR minorFunction, POWER_STATE state,
                           PREQUEST_POWER_COMPLETE complete, PVOID context, PIRP* irp);
