// Threads behind waitable handles: a thread's handle is signalled when the thread ends.
#pragma once

#include "platform/win32/Sync.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(void*);

// Starts `start(arg)` on a new thread. `stack` and `flags` are accepted and ignored.
// The handle stays valid (and waitable) after the thread ends, until CloseHandle.
HANDLE CreateThread(void* security, size_t stack, LPTHREAD_START_ROUTINE start, void* arg,
                    DWORD flags, DWORD* threadId);

// The exit code, or STILL_ACTIVE (259) while the thread runs.
constexpr DWORD STILL_ACTIVE = 259;
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
DWORD GetCurrentThreadId();
