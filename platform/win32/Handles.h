// The process handle table: kernel objects behind small integer handles, and the thread's
// last-error value.
#pragma once

#include "platform/win32/WinTypes.h"

#include <memory>

namespace win32 {

// Anything a handle can refer to. Lifetime is shared: the handle table holds one reference,
// code that works on the object (a pending I/O, a waiter) holds its own.
class KernelObject {
public:
    virtual ~KernelObject();
    virtual const char* TypeName() const = 0;
};

// Stores the object and returns its new handle: a multiple of 4, never 0, below 2^32 (it
// travels as 4 bytes in an IOCTL buffer). Values are not reused while the process lives.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null for an unknown or closed handle.
std::shared_ptr<KernelObject> ReferenceHandle(HANDLE handle);

// As ReferenceHandle, null also when the object is not a T.
template <class T>
std::shared_ptr<T> ReferenceHandleAs(HANDLE handle)
{
    return std::dynamic_pointer_cast<T>(ReferenceHandle(handle));
}

// Removes the handle from the table and returns its object (null when unknown).
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

// Number of open handles (tests use it to see that nothing is left behind).
size_t HandleCount();

} // namespace win32

// Closes a handle; a file object gets OnClose() when its handle closes.
// Fails with ERROR_INVALID_HANDLE for an unknown handle.
BOOL CloseHandle(HANDLE handle);

DWORD GetLastError();
void SetLastError(DWORD error);
