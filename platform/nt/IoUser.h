// The user-mode side of the I/O manager: CreateFile of "\\.\NAME" opens the device that the
// link "\??\NAME" names, and the file handle's reads, writes, control codes, cancels and
// close become IRPs sent to the top of that device's stack.
#pragma once

#include "platform/nt/Io.h"

namespace nt {

// Registers the "\\.\" prefix with the user-mode file name space (idempotent).
void IoRegisterUserNamespace();
void IoUnregisterUserNamespace();

// Called after IRP_MJ_CLOSE of a file on a stack has completed, with the device the file was
// opened on (the PnP manager uses it to send the removal after the last close).
void IoSetFileClosedCallback(void (*callback)(PDEVICE_OBJECT device));
// Files open on `device` (the device a name denotes, not the rest of its stack).
LONG IoOpenFileCount(PDEVICE_OBJECT device);
// User requests issued and not yet completed, over all files.
LONG IoUserRequestsOutstanding();

} // namespace nt
