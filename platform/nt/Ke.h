// Kernel dispatcher objects: events and mutexes, waits with relative time-outs, spin locks,
// the interrupt level of the running thread and the interlocked operations. Events and
// mutexes share the dispatcher lock of the user-mode stand-in, so a user event referenced by
// the kernel (ObReferenceObjectByHandle) is set the same way.
//
// The stand-in is strict where a real kernel would crash or hang: waiting with a time-out at
// dispatch level, or releasing a spin lock that the thread does not hold, is a fatal error.
#pragma once

#include "NtDef.h"

enum EVENT_TYPE { NotificationEvent = 0, SynchronizationEvent = 1 };
enum KWAIT_REASON { Executive = 0 };

// First member of every kernel dispatcher object.
struct DISPATCHER_HEADER {
    UCHAR Type;         // event or mutex
    LONG SignalState;   // under the dispatcher lock
};

struct KEVENT {
    DISPATCHER_HEADER Header;
    EVENT_TYPE EventType;
};
typedef KEVENT* PKEVENT;
typedef KEVENT* PRKEVENT;

struct KMUTEX {
    DISPATCHER_HEADER Header;  // SignalState 1 = free
    PVOID OwnerThread;
    LONG Recursion;
};
typedef KMUTEX* PKMUTEX;
typedef KMUTEX* PRKMUTEX;

void KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state);
// Sets the event and returns its previous state. Also accepts an event object obtained with
// ObReferenceObjectByHandle. Dispatch level or below.
LONG KeSetEvent(PRKEVENT event, KPRIORITY increment, BOOLEAN wait);
void KeClearEvent(PRKEVENT event);
LONG KeReadStateEvent(PRKEVENT event);

void KeInitializeMutex(PRKMUTEX mutex, ULONG level);
LONG KeReleaseMutex(PRKMUTEX mutex, BOOLEAN wait);

// Waits for a KEVENT or KMUTEX. A negative timeout is relative, in units of 100 ns; a null
// timeout waits for ever. Returns STATUS_SUCCESS or STATUS_TIMEOUT. Below dispatch level,
// unless the timeout is zero.
NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON reason, KPROCESSOR_MODE mode,
                               BOOLEAN alertable, PLARGE_INTEGER timeout);

// The interrupt level of the calling thread: passive, or dispatch while it holds a spin lock
// or runs a completion routine.
KIRQL KeGetCurrentIrql();

// A spin lock raises the thread to dispatch level while held.
typedef ULONG_PTR KSPIN_LOCK;
typedef KSPIN_LOCK* PKSPIN_LOCK;
void KeInitializeSpinLock(PKSPIN_LOCK lock);
void KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL oldIrql);
void KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL oldIrql);

LONG InterlockedIncrement(volatile LONG* value);
LONG InterlockedDecrement(volatile LONG* value);
LONG InterlockedExchange(volatile LONG* target, LONG value);
LONG InterlockedExchangeAdd(volatile LONG* target, LONG value);
LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand);
PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value);
