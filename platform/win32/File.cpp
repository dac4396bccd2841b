// CreateFile routing by name prefix, and the I/O calls on file handles.
#include "platform/win32/File.h"

#include "platform/win32/Sync.h"

#include <atomic>
#include <map>
#include <mutex>

namespace win32 {

BOOL FileObject::Read(void*, DWORD, DWORD*, OVERLAPPED*)
{
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

BOOL FileObject::Write(const void*, DWORD, DWORD*, OVERLAPPED*)
{
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

BOOL FileObject::IoControl(DWORD, const void*, DWORD, void*, DWORD, DWORD*, OVERLAPPED*)
{
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

BOOL FileObject::CancelIo()
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL FileObject::CancelIoEx(OVERLAPPED*) { return CancelIo(); }

void FileObject::OnClose() {}

namespace {

struct Namespaces {
    std::mutex lock;
    std::map<std::string, FileOpener> openers;
};

Namespaces& TheNamespaces()
{
    static Namespaces* n = new Namespaces;
    return *n;
}

std::atomic_ref<ULONG_PTR> InternalOf(OVERLAPPED* ov) { return std::atomic_ref<ULONG_PTR>(ov->Internal); }
std::atomic_ref<ULONG_PTR> HighOf(OVERLAPPED* ov) { return std::atomic_ref<ULONG_PTR>(ov->InternalHigh); }

} // namespace

void RegisterFileNamespace(const std::string& prefix, FileOpener opener)
{
    Namespaces& n = TheNamespaces();
    std::lock_guard guard(n.lock);
    n.openers[prefix] = std::move(opener);
}

void UnregisterFileNamespace(const std::string& prefix)
{
    Namespaces& n = TheNamespaces();
    std::lock_guard guard(n.lock);
    n.openers.erase(prefix);
}

void StartOverlapped(OVERLAPPED* ov)
{
    HighOf(ov).store(0, std::memory_order_relaxed);
    InternalOf(ov).store(kStatusPending, std::memory_order_release);
    if (ov->hEvent) ResetEvent(ov->hEvent);
}

void CompleteOverlapped(OVERLAPPED* ov, uint32_t ntStatus, ULONG_PTR information)
{
    HANDLE event = ov->hEvent;  // read first: the caller may reuse ov once Internal changes
    {
        std::lock_guard guard(DispatcherLock());
        HighOf(ov).store(information, std::memory_order_relaxed);
        InternalOf(ov).store(ntStatus, std::memory_order_release);
    }
    if (event) SetEvent(event);
    WakeWaiters();
}

DWORD ErrorFromNtStatus(uint32_t s)
{
    switch (s) {
    case 0x00000000u: return ERROR_SUCCESS;
    case 0x00000103u: return ERROR_IO_PENDING;           // STATUS_PENDING
    case 0x80000011u: return ERROR_BUSY;                 // STATUS_DEVICE_BUSY
    case 0xC0000001u: return ERROR_GEN_FAILURE;          // STATUS_UNSUCCESSFUL
    case 0xC0000002u: return ERROR_INVALID_FUNCTION;     // STATUS_NOT_IMPLEMENTED
    case 0xC0000008u: return ERROR_INVALID_HANDLE;       // STATUS_INVALID_HANDLE
    case 0xC000000Du: return ERROR_INVALID_PARAMETER;    // STATUS_INVALID_PARAMETER
    case 0xC000000Eu: return ERROR_FILE_NOT_FOUND;       // STATUS_NO_SUCH_DEVICE
    case 0xC0000010u: return ERROR_INVALID_FUNCTION;     // STATUS_INVALID_DEVICE_REQUEST
    case 0xC0000017u: return ERROR_NOT_ENOUGH_MEMORY;    // STATUS_NO_MEMORY
    case 0xC0000022u: return ERROR_ACCESS_DENIED;        // STATUS_ACCESS_DENIED
    case 0xC0000023u: return ERROR_INSUFFICIENT_BUFFER;  // STATUS_BUFFER_TOO_SMALL
    case 0xC0000024u: return ERROR_INVALID_HANDLE;       // STATUS_OBJECT_TYPE_MISMATCH
    case 0xC0000034u: return ERROR_FILE_NOT_FOUND;       // STATUS_OBJECT_NAME_NOT_FOUND
    case 0xC000003Fu: return ERROR_CRC;                  // STATUS_CRC_ERROR
    case 0xC0000056u: return ERROR_ACCESS_DENIED;        // STATUS_DELETE_PENDING
    case 0xC000009Au: return ERROR_NO_SYSTEM_RESOURCES;  // STATUS_INSUFFICIENT_RESOURCES
    case 0xC000009Cu: return ERROR_CRC;                  // STATUS_DEVICE_DATA_ERROR
    case 0xC000009Du: return ERROR_DEVICE_NOT_CONNECTED; // STATUS_DEVICE_NOT_CONNECTED
    case 0xC00000A3u: return ERROR_NOT_READY;            // STATUS_DEVICE_NOT_READY
    case 0xC00000B5u: return ERROR_SEM_TIMEOUT;          // STATUS_IO_TIMEOUT
    case 0xC00000BBu: return ERROR_NOT_SUPPORTED;        // STATUS_NOT_SUPPORTED
    case 0xC0000120u: return ERROR_OPERATION_ABORTED;    // STATUS_CANCELLED
    case 0xC0000184u: return ERROR_BAD_COMMAND;          // STATUS_INVALID_DEVICE_STATE
    case 0xC00002D3u: return ERROR_NOT_READY;            // STATUS_POWER_STATE_INVALID
    default: return ERROR_GEN_FAILURE;
    }
}

} // namespace win32

namespace {

std::shared_ptr<win32::FileObject> FileOf(HANDLE h)
{
    auto file = win32::ReferenceHandleAs<win32::FileObject>(h);
    if (!file) SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

} // namespace

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void*, DWORD disposition,
                   DWORD flags, HANDLE)
{
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string full(name);
    win32::FileOpener opener;
    {
        win32::Namespaces& n = win32::TheNamespaces();
        std::lock_guard guard(n.lock);
        size_t best = 0;
        for (const auto& [prefix, open] : n.openers) {
            if (prefix.size() >= best && full.compare(0, prefix.size(), prefix) == 0) {
                best = prefix.size();
                opener = open;
            }
        }
    }
    if (!opener) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return opener(full, access, share, disposition, flags);  // called without the lock held
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, DWORD* done, OVERLAPPED* ov)
{
    auto f = FileOf(file);
    return f ? f->Read(buffer, size, done, ov) : FALSE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, DWORD* done, OVERLAPPED* ov)
{
    auto f = FileOf(file);
    return f ? f->Write(buffer, size, done, ov) : FALSE;
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                     DWORD outSize, DWORD* returned, OVERLAPPED* ov)
{
    auto f = FileOf(device);
    return f ? f->IoControl(code, in, inSize, out, outSize, returned, ov) : FALSE;
}

BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* ov, DWORD* transferred, BOOL wait)
{
    if (!ov) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::atomic_ref<ULONG_PTR> internal(ov->Internal);
    if (internal.load(std::memory_order_acquire) == win32::kStatusPending) {
        if (!wait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        if (ov->hEvent) {
            if (WaitForSingleObject(ov->hEvent, INFINITE) != WAIT_OBJECT_0) return FALSE;
        }
        // The event may be shared or auto-reset by someone else: the status decides.
        std::unique_lock lock(win32::DispatcherLock());
        while (internal.load(std::memory_order_acquire) == win32::kStatusPending)
            win32::WaitDispatcher(lock, nullptr);
    }
    uint32_t status = static_cast<uint32_t>(internal.load(std::memory_order_acquire));
    if (transferred)
        *transferred = static_cast<DWORD>(std::atomic_ref<ULONG_PTR>(ov->InternalHigh).load(std::memory_order_relaxed));
    DWORD error = win32::ErrorFromNtStatus(status);
    // Warnings and informational statuses (high bit clear) count as success.
    if ((status & 0x80000000u) == 0 || error == ERROR_SUCCESS) return TRUE;
    SetLastError(error);
    return FALSE;
}

BOOL CancelIo(HANDLE file)
{
    auto f = FileOf(file);
    return f ? f->CancelIo() : FALSE;
}

BOOL CancelIoEx(HANDLE file, OVERLAPPED* ov)
{
    auto f = FileOf(file);
    return f ? f->CancelIoEx(ov) : FALSE;
}
