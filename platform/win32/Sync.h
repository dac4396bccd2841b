// Waitable kernel objects (events, threads) and the waits on them.
//
// All waitable objects share one dispatcher lock and one condition variable, as the NT
// dispatcher does: a wait on several objects checks them all under that lock, so a wait on
// many objects cannot miss a signal. Kernel-side objects (platform/nt) use the same lock.
#pragma once

#include "platform/win32/Handles.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace win32 {

// The dispatcher lock protecting the signal state of every waitable object.
std::mutex& DispatcherLock();
// Wakes every waiter so it re-checks its objects; call after a change of signal state,
// with or without the dispatcher lock held.
void WakeWaiters();
// Waits on the dispatcher condition (lock held by the caller) until notified or deadline.
// Returns false at the deadline.
bool WaitDispatcher(std::unique_lock<std::mutex>& lock,
                    const std::chrono::steady_clock::time_point* deadline);

// A kernel object that waits can be satisfied by.
class WaitableObject : public KernelObject {
public:
    // Both are called with the dispatcher lock held.
    virtual bool IsSignaledLocked() const = 0;
    // A wait was satisfied by this object: an auto-reset event becomes non-signalled.
    virtual void ConsumeLocked() {}
};

class EventObject : public WaitableObject {
public:
    EventObject(bool manualReset, bool initialState);
    const char* TypeName() const override { return "Event"; }

    void Set();    // signals; an auto-reset event then releases exactly one waiter
    void Reset();
    bool IsSet() const;
    bool IsManualReset() const { return manualReset_; }

    bool IsSignaledLocked() const override { return signaled_; }
    void ConsumeLocked() override;

private:
    const bool manualReset_;
    bool signaled_;
};

// Waits for waitable objects (a list of objects, not handles) with a time-out in ms;
// returns WAIT_OBJECT_0 + index (lowest signalled index), WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitForObjects(const std::shared_ptr<WaitableObject>* objects, DWORD count, bool waitAll,
                     DWORD ms);

} // namespace win32

HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, const char* name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD ms);
// Lowest signalled index wins; with waitAll every object must be signalled at once.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms);
void Sleep(DWORD ms);
