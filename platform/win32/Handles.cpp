// The process handle table and the thread's last error.
#include "platform/win32/Handles.h"

#include "platform/win32/File.h"

#include <mutex>
#include <unordered_map>

namespace win32 {

KernelObject::~KernelObject() = default;

namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<uint32_t, std::shared_ptr<KernelObject>> objects;
    uint32_t next = 4;  // handles are multiples of 4 and never 0, as on Windows
};

HandleTable& Table()
{
    static HandleTable* table = new HandleTable;  // outlives static destructors of callers
    return *table;
}

uint32_t Key(HANDLE handle) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)); }

bool Representable(HANDLE handle)
{
    return reinterpret_cast<uintptr_t>(handle) <= 0xFFFFFFFFu;
}

} // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object)
{
    if (!object) return nullptr;
    HandleTable& t = Table();
    std::lock_guard guard(t.lock);
    while (t.objects.count(t.next) || t.next == 0) t.next += 4;  // after a wrap-around
    uint32_t value = t.next;
    t.next += 4;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

std::shared_ptr<KernelObject> ReferenceHandle(HANDLE handle)
{
    if (!Representable(handle)) return nullptr;
    HandleTable& t = Table();
    std::lock_guard guard(t.lock);
    auto it = t.objects.find(Key(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle)
{
    if (!Representable(handle)) return nullptr;
    HandleTable& t = Table();
    std::lock_guard guard(t.lock);
    auto it = t.objects.find(Key(handle));
    if (it == t.objects.end()) return nullptr;
    auto object = std::move(it->second);
    t.objects.erase(it);
    return object;
}

size_t HandleCount()
{
    HandleTable& t = Table();
    std::lock_guard guard(t.lock);
    return t.objects.size();
}

} // namespace win32

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

BOOL CloseHandle(HANDLE handle)
{
    auto object = win32::RemoveHandle(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (auto file = std::dynamic_pointer_cast<win32::FileObject>(object)) file->OnClose();
    return TRUE;
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }
