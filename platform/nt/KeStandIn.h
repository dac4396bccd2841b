// The stand-in's own side of the kernel's level and lock checks: what a real kernel would
// turn into a bug check stops the process here with a message, so a test sees it.
#pragma once

#include "platform/nt/Ke.h"

namespace nt {

// Prints "bug check: <what>" and aborts.
[[noreturn]] void KeBugCheck(const char* what);

// Raises the calling thread to dispatch level and returns the previous level; the stand-in
// runs completion routines and cancel routines there.
KIRQL KeRaiseToDispatch();
void KeLowerIrql(KIRQL irql);

// Spin locks the calling thread holds now.
int KeSpinLocksHeld();

// Bug checks when the calling thread is above passive level.
void KeRequirePassive(const char* routine);
// Bug checks when the calling thread holds a spin lock.
void KeRequireNoSpinLock(const char* routine);

// Marks the calling thread as a system thread (the PnP thread, the stand-in's workers): it
// belongs to no user process, so a user handle means nothing there.
void KeEnterSystemThread();
bool KeOnSystemThread();

// Identity of the calling thread, as a kernel object would record its owner.
PVOID KeCurrentThread();

// Runs a block at dispatch level and returns to the previous level at its end.
class DispatchLevelScope {
public:
    DispatchLevelScope() : previous_(KeRaiseToDispatch()) {}
    ~DispatchLevelScope() { KeLowerIrql(previous_); }
    DispatchLevelScope(const DispatchLevelScope&) = delete;
    DispatchLevelScope& operator=(const DispatchLevelScope&) = delete;

private:
    KIRQL previous_;
};

} // namespace nt
