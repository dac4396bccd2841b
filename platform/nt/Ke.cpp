// Kernel events and mutexes on the shared dispatcher lock.
#include "platform/nt/Ke.h"

#include "platform/nt/Ob.h"
#include "platform/win32/Sync.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr UCHAR kDispatcherEvent = 1;
constexpr UCHAR kDispatcherMutex = 2;

} // namespace

void KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state)
{
    event->Header.Type = kDispatcherEvent;
    event->Header.SignalState = state ? 1 : 0;
    event->EventType = type;
}

LONG KeSetEvent(PRKEVENT event, KPRIORITY, BOOLEAN)
{
    if (auto user = nt::ObEventOf(event)) {  // a user-mode event referenced by handle
        bool was = user->IsSet();
        user->Set();
        return was ? 1 : 0;
    }
    LONG previous;
    {
        std::lock_guard guard(win32::DispatcherLock());
        previous = event->Header.SignalState;
        event->Header.SignalState = 1;
    }
    win32::WakeWaiters();
    return previous;
}

void KeClearEvent(PRKEVENT event)
{
    if (auto user = nt::ObEventOf(event)) {
        user->Reset();
        return;
    }
    std::lock_guard guard(win32::DispatcherLock());
    event->Header.SignalState = 0;
}

LONG KeReadStateEvent(PRKEVENT event)
{
    std::lock_guard guard(win32::DispatcherLock());
    return event->Header.SignalState;
}

void KeInitializeMutex(PRKMUTEX mutex, ULONG)
{
    mutex->Header.Type = kDispatcherMutex;
    mutex->Header.SignalState = 1;
    mutex->Owner = std::thread::id();
    mutex->Recursion = 0;
}

LONG KeReleaseMutex(PRKMUTEX mutex, BOOLEAN)
{
    LONG previous;
    {
        std::lock_guard guard(win32::DispatcherLock());
        if (mutex->Owner != std::this_thread::get_id() || mutex->Recursion == 0) {
            std::fprintf(stderr, "KeReleaseMutex: mutex not owned by this thread\n");
            std::abort();
        }
        previous = mutex->Header.SignalState;
        if (--mutex->Recursion == 0) {
            mutex->Owner = std::thread::id();
            mutex->Header.SignalState = 1;
        }
    }
    win32::WakeWaiters();
    return previous;
}

NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                               PLARGE_INTEGER timeout)
{
    using Clock = std::chrono::steady_clock;
    auto* header = static_cast<DISPATCHER_HEADER*>(object);
    Clock::time_point deadline;
    const Clock::time_point* limit = nullptr;
    if (timeout) {
        LONGLONG t = timeout->QuadPart;
        // Relative (negative) times only: absolute system times are not used here.
        deadline = Clock::now() + std::chrono::nanoseconds(t < 0 ? -t * 100 : t * 100);
        limit = &deadline;
    }
    std::unique_lock lock(win32::DispatcherLock());
    for (;;) {
        if (header->Type == kDispatcherMutex) {
            auto* mutex = static_cast<KMUTEX*>(object);
            if (mutex->Header.SignalState == 1 || mutex->Owner == std::this_thread::get_id()) {
                mutex->Header.SignalState = 0;
                mutex->Owner = std::this_thread::get_id();
                ++mutex->Recursion;
                return STATUS_SUCCESS;
            }
        } else if (header->SignalState) {
            if (static_cast<KEVENT*>(object)->EventType == SynchronizationEvent)
                header->SignalState = 0;
            return STATUS_SUCCESS;
        }
        if (limit && Clock::now() >= deadline) return STATUS_TIMEOUT;
        win32::WaitDispatcher(lock, limit);
    }
}

LONG InterlockedIncrement(volatile LONG* value)
{
    return std::atomic_ref<LONG>(*const_cast<LONG*>(value)).fetch_add(1) + 1;
}

LONG InterlockedDecrement(volatile LONG* value)
{
    return std::atomic_ref<LONG>(*const_cast<LONG*>(value)).fetch_sub(1) - 1;
}

LONG InterlockedExchange(volatile LONG* target, LONG value)
{
    return std::atomic_ref<LONG>(*const_cast<LONG*>(target)).exchange(value);
}

LONG InterlockedExchangeAdd(volatile LONG* target, LONG value)
{
    return std::atomic_ref<LONG>(*const_cast<LONG*>(target)).fetch_add(value);
}

PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value)
{
    return std::atomic_ref<PVOID>(*const_cast<PVOID*>(target)).exchange(value);
}
