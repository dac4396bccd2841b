// Kernel events and mutexes on the shared dispatcher lock, spin locks, and the interrupt
// level that each thread is at.
#include "platform/nt/Ke.h"

#include "platform/nt/KeStandIn.h"
#include "platform/nt/ObStandIn.h"
#include "platform/win32/Sync.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

constexpr UCHAR kDispatcherEvent = 1;
constexpr UCHAR kDispatcherMutex = 2;

thread_local KIRQL currentIrql = PASSIVE_LEVEL;
thread_local int spinLocksHeld = 0;
thread_local char threadIdentity;  // its address names the thread
thread_local bool systemThread = false;

} // namespace

namespace nt {

void KeBugCheck(const char* what)
{
    std::fprintf(stderr, "bug check: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

KIRQL KeRaiseToDispatch()
{
    KIRQL previous = currentIrql;
    currentIrql = DISPATCH_LEVEL;
    return previous;
}

void KeLowerIrql(KIRQL irql)
{
    if (irql > currentIrql) KeBugCheck("KeLowerIrql to a higher level");
    currentIrql = irql;
}

int KeSpinLocksHeld() { return spinLocksHeld; }

void KeRequirePassive(const char* routine)
{
    if (currentIrql != PASSIVE_LEVEL) {
        char what[160];
        std::snprintf(what, sizeof what, "%s called at level %d, not at passive level", routine, currentIrql);
        KeBugCheck(what);
    }
}

void KeRequireNoSpinLock(const char* routine)
{
    if (spinLocksHeld) {
        char what[160];
        std::snprintf(what, sizeof what, "%s called while holding a spin lock", routine);
        KeBugCheck(what);
    }
}

PVOID KeCurrentThread() { return &threadIdentity; }

void KeEnterSystemThread() { systemThread = true; }

bool KeOnSystemThread() { return systemThread; }

} // namespace nt

KIRQL KeGetCurrentIrql() { return currentIrql; }

void KeInitializeSpinLock(PKSPIN_LOCK lock) { *lock = 0; }

void KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL oldIrql)
{
    auto self = reinterpret_cast<ULONG_PTR>(nt::KeCurrentThread());
    std::atomic_ref<ULONG_PTR> word(*lock);
    if (word.load(std::memory_order_relaxed) == self) nt::KeBugCheck("spin lock acquired twice by one thread");
    for (int spins = 0;; ++spins) {
        ULONG_PTR expected = 0;
        if (word.compare_exchange_weak(expected, self, std::memory_order_acquire)) break;
        // Threads outnumber processors here: after a short spin, sleep until the holder lets go.
        if (spins > 64 && expected) word.wait(expected, std::memory_order_relaxed);
    }
    ++spinLocksHeld;
    KIRQL previous = nt::KeRaiseToDispatch();
    if (oldIrql) *oldIrql = previous;
}

void KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL oldIrql)
{
    auto self = reinterpret_cast<ULONG_PTR>(nt::KeCurrentThread());
    std::atomic_ref<ULONG_PTR> word(*lock);
    if (word.load(std::memory_order_relaxed) != self) nt::KeBugCheck("spin lock released by a thread that does not hold it");
    word.store(0, std::memory_order_release);
    word.notify_one();
    --spinLocksHeld;
    nt::KeLowerIrql(oldIrql);
}

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
    mutex->OwnerThread = nullptr;
    mutex->Recursion = 0;
}

LONG KeReleaseMutex(PRKMUTEX mutex, BOOLEAN)
{
    LONG previous;
    {
        std::lock_guard guard(win32::DispatcherLock());
        if (mutex->OwnerThread != nt::KeCurrentThread() || mutex->Recursion == 0)
            nt::KeBugCheck("KeReleaseMutex: mutex not owned by this thread");
        previous = mutex->Header.SignalState;
        if (--mutex->Recursion == 0) {
            mutex->OwnerThread = nullptr;
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
    if (!timeout || timeout->QuadPart != 0) {
        nt::KeRequireNoSpinLock("KeWaitForSingleObject");
        if (currentIrql >= DISPATCH_LEVEL) nt::KeBugCheck("KeWaitForSingleObject waits at dispatch level");
    }
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
            if (mutex->Header.SignalState == 1 || mutex->OwnerThread == nt::KeCurrentThread()) {
                mutex->Header.SignalState = 0;
                mutex->OwnerThread = nt::KeCurrentThread();
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

LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand)
{
    std::atomic_ref<LONG>(*const_cast<LONG*>(target)).compare_exchange_strong(comparand, exchange);
    return comparand;
}

PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value)
{
    return std::atomic_ref<PVOID>(*const_cast<PVOID*>(target)).exchange(value);
}
