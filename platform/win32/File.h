// Files and devices behind handles: CreateFile routes a name to the opener registered for
// its prefix, and ReadFile/WriteFile/DeviceIoControl go to the file object's methods.
#pragma once

#include "platform/win32/Handles.h"

#include <functional>
#include <string>

namespace win32 {

// NT statuses that travel in OVERLAPPED::Internal.
constexpr uint32_t kStatusSuccess = 0x00000000u;
constexpr uint32_t kStatusPending = 0x00000103u;

// An open file or device. Each method is called on the caller's thread. With an OVERLAPPED,
// a method that cannot finish at once returns FALSE with ERROR_IO_PENDING, and completion
// is reported later through CompleteOverlapped. Without one, the method returns when done.
class FileObject : public KernelObject {
public:
    const char* TypeName() const override { return "File"; }
    virtual BOOL Read(void* buf, DWORD n, DWORD* done, OVERLAPPED* ov);
    virtual BOOL Write(const void* buf, DWORD n, DWORD* done, OVERLAPPED* ov);
    virtual BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                           DWORD* returned, OVERLAPPED* ov);
    // Cancels this handle's pending operations; they complete with a cancelled status.
    virtual BOOL CancelIo();
    // Cancels the operation started with `ov` (any thread), or all of them when ov is null.
    virtual BOOL CancelIoEx(OVERLAPPED* ov);
    // The handle was closed (CloseHandle). The object may live on while I/O holds it.
    virtual void OnClose();
};

// Opens `name` (the full name given to CreateFileA). Returns a handle from InsertHandle, or
// INVALID_HANDLE_VALUE after SetLastError.
using FileOpener = std::function<HANDLE(const std::string& name, DWORD access, DWORD share,
                                        DWORD disposition, DWORD flags)>;
// The longest registered prefix of a name chooses its opener.
void RegisterFileNamespace(const std::string& prefix, FileOpener opener);
void UnregisterFileNamespace(const std::string& prefix);

// Marks an OVERLAPPED started: Internal = STATUS_PENDING, its event reset.
void StartOverlapped(OVERLAPPED* ov);
// Records the final status and byte count, then sets the event and wakes waiters.
// Safe from any thread.
void CompleteOverlapped(OVERLAPPED* ov, uint32_t ntStatus, ULONG_PTR information);
// The Win32 error for an NT status, as the Windows run-time library maps them.
DWORD ErrorFromNtStatus(uint32_t ntStatus);

} // namespace win32

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security,
                   DWORD disposition, DWORD flags, HANDLE templ);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, DWORD* done, OVERLAPPED* ov);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, DWORD* done, OVERLAPPED* ov);
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                     DWORD outSize, DWORD* returned, OVERLAPPED* ov);
// Without waiting: FALSE with ERROR_IO_INCOMPLETE while the operation is pending. With
// waiting: blocks on ov->hEvent (or until the status changes, when there is no event).
// A failed operation gives FALSE with its mapped error; *transferred is set in both cases.
BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* ov, DWORD* transferred, BOOL wait);
BOOL CancelIo(HANDLE file);
BOOL CancelIoEx(HANDLE file, OVERLAPPED* ov);
