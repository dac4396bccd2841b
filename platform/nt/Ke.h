// Kernel dispatcher objects: events and mutexes, waits with relative time-outs, and the
// interlocked operations. They share the dispatcher lock of the user-mode stand-in, so a
// user event referenced by the kernel (ObReferenceObjectByHandle) is set the same way.
#pragma once

#include "platform/nt/NtDef.h"

#include <mutex>
#include <thread>

enum EVENT_TYPE { NotificationEvent = 0, SynchronizationEvent = 1 };
enum KWAIT_REASON { Executive = 0 };

// First member of every kernel dispatcher object.
struct DISPATCHER_HEADER {
    UCHAR Type;         // kDispatcherEvent, kDispatcherMutex
    LONG SignalState;   // under the dispatcher lock
};

struct KEVENT {
    DISPATCHER_HEADER Header;
    EVENT_TYPE EventType;
};
using PKEVENT = KEVENT*;
using PRKEVENT = KEVENT*;

struct KMUTEX {
    DISPATCHER_HEADER Header;  // SignalState 1 = free
    std::thread::id Owner;
    LONG Recursion;
};
using PKMUTEX = KMUTEX*;
using PRKMUTEX = KMUTEX*;

void KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state);
// Sets the event and returns its previous state. Also accepts an event object obtained with
// ObReferenceObjectByHandle.
LONG KeSetEvent(PRKEVENT event, KPRIORITY increment, BOOLEAN wait);
void KeClearEvent(PRKEVENT event);
LONG KeReadStateEvent(PRKEVENT event);

void KeInitializeMutex(PRKMUTEX mutex, ULONG level);
LONG KeReleaseMutex(PRKMUTEX mutex, BOOLEAN wait);

// Waits for a KEVENT or KMUTEX. A negative timeout is relative, in units of 100 ns; a null
// timeout waits for ever. Returns STATUS_SUCCESS or STATUS_TIMEOUT.
NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON reason, KPROCESSOR_MODE mode,
                               BOOLEAN alertable, PLARGE_INTEGER timeout);

LONG InterlockedIncrement(volatile LONG* value);
LONG InterlockedDecrement(volatile LONG* value);
LONG InterlockedExchange(volatile LONG* target, LONG value);
LONG InterlockedExchangeAdd(volatile LONG* target, LONG value);
PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value);

// Spin locks: a plain mutex here (no interrupt levels to raise).
struct KSPIN_LOCK {
    std::mutex Lock;
};
using PKSPIN_LOCK = KSPIN_LOCK*;
inline void KeInitializeSpinLock(PKSPIN_LOCK) {}
inline void KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL irql)
{
    lock->Lock.lock();
    if (irql) *irql = DISPATCH_LEVEL;
}
inline void KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL) { lock->Lock.unlock(); }
