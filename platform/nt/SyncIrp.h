// Sending a request down a stack and waiting for it: the pattern every caller in the
// kernel stand-in uses for plug-and-play and power requests of its own.
#pragma once

#include "platform/nt/Io.h"

#include <functional>

namespace nt {

// Allocates an IRP for the stack of `top`, lets `fill` set the first location, sends it,
// waits for its completion and returns the final status (information in *information).
NTSTATUS SendIrpAndWait(PDEVICE_OBJECT top, NTSTATUS initialStatus,
                        const std::function<void(IO_STACK_LOCATION&)>& fill,
                        ULONG_PTR* information = nullptr);

} // namespace nt
