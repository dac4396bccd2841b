// Events and waits over one dispatcher lock and condition variable.
#include "platform/win32/Sync.h"

#include <chrono>
#include <thread>
#include <vector>

namespace win32 {

namespace {

struct Dispatcher {
    std::mutex lock;
    std::condition_variable changed;
};

Dispatcher& TheDispatcher()
{
    static Dispatcher* d = new Dispatcher;  // never destroyed: threads may wait during exit
    return *d;
}

} // namespace

std::mutex& DispatcherLock() { return TheDispatcher().lock; }

void WakeWaiters() { TheDispatcher().changed.notify_all(); }

bool WaitDispatcher(std::unique_lock<std::mutex>& lock,
                    const std::chrono::steady_clock::time_point* deadline)
{
    if (!deadline) {
        TheDispatcher().changed.wait(lock);
        return true;
    }
    return TheDispatcher().changed.wait_until(lock, *deadline) == std::cv_status::no_timeout;
}

EventObject::EventObject(bool manualReset, bool initialState)
    : manualReset_(manualReset), signaled_(initialState)
{
}

void EventObject::Set()
{
    {
        std::lock_guard guard(DispatcherLock());
        signaled_ = true;
    }
    WakeWaiters();
}

void EventObject::Reset()
{
    std::lock_guard guard(DispatcherLock());
    signaled_ = false;
}

bool EventObject::IsSet() const
{
    std::lock_guard guard(DispatcherLock());
    return signaled_;
}

void EventObject::ConsumeLocked()
{
    if (!manualReset_) signaled_ = false;
}

DWORD WaitForObjects(const std::shared_ptr<WaitableObject>* objects, DWORD count, bool waitAll,
                     DWORD ms)
{
    if (count == 0) return WAIT_FAILED;
    for (DWORD i = 0; i < count; ++i)
        if (!objects[i]) return WAIT_FAILED;

    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    const Clock::time_point* limit = ms == INFINITE ? nullptr : &deadline;

    std::unique_lock lock(DispatcherLock());
    for (;;) {
        if (waitAll) {
            bool all = true;
            for (DWORD i = 0; i < count && all; ++i) all = objects[i]->IsSignaledLocked();
            if (all) {
                for (DWORD i = 0; i < count; ++i) objects[i]->ConsumeLocked();
                return WAIT_OBJECT_0;
            }
        } else {
            for (DWORD i = 0; i < count; ++i) {
                if (objects[i]->IsSignaledLocked()) {
                    objects[i]->ConsumeLocked();
                    return WAIT_OBJECT_0 + i;
                }
            }
        }
        if (limit && Clock::now() >= deadline) return WAIT_TIMEOUT;
        WaitDispatcher(lock, limit);
    }
}

} // namespace win32

HANDLE CreateEventA(void*, BOOL manualReset, BOOL initialState, const char*)
{
    return win32::InsertHandle(std::make_shared<win32::EventObject>(manualReset, initialState));
}

BOOL SetEvent(HANDLE event)
{
    auto e = win32::ReferenceHandleAs<win32::EventObject>(event);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event)
{
    auto e = win32::ReferenceHandleAs<win32::EventObject>(event);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->Reset();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD ms)
{
    return WaitForMultipleObjects(1, &handle, FALSE, ms);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms)
{
    if (count == 0 || !handles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<win32::WaitableObject>> objects(count);
    for (DWORD i = 0; i < count; ++i) {
        objects[i] = win32::ReferenceHandleAs<win32::WaitableObject>(handles[i]);
        if (!objects[i]) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    return win32::WaitForObjects(objects.data(), count, waitAll != FALSE, ms);
}

void Sleep(DWORD ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
