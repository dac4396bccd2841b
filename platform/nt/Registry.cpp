// An in-memory registry: keys by their full path (compared without case), each with its
// values. Open keys are handles of the process handle table.
#include "platform/nt/RegistryStandIn.h"

#include "platform/nt/IoStandIn.h"
#include "platform/nt/KeStandIn.h"

#include "platform/win32/Handles.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

struct Value {
    ULONG type;
    std::vector<uint8_t> data;
};

struct Store {
    std::mutex lock;
    std::map<std::string, std::map<std::string, Value>> keys;  // lower-case path → values
};

Store& TheStore()
{
    static Store* s = new Store;
    return *s;
}

class KeyObject : public win32::KernelObject {
public:
    explicit KeyObject(std::string path) : path(std::move(path)) {}
    const char* TypeName() const override { return "Key"; }
    const std::string path;
};

} // namespace

NTSTATUS ZwOpenKey(HANDLE* key, ACCESS_MASK, POBJECT_ATTRIBUTES attributes)
{
    nt::KeRequirePassive("ZwOpenKey");
    *key = nullptr;
    if (!attributes || !attributes->ObjectName) return STATUS_INVALID_PARAMETER;
    std::string path = Lower(nt::NarrowName(attributes->ObjectName));
    {
        Store& s = TheStore();
        std::lock_guard guard(s.lock);
        if (!s.keys.count(path)) return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    *key = win32::InsertHandle(std::make_shared<KeyObject>(path));
    return STATUS_SUCCESS;
}

NTSTATUS ZwQueryValueKey(HANDLE key, PUNICODE_STRING valueName, KEY_VALUE_INFORMATION_CLASS, PVOID info,
                         ULONG length, PULONG resultLength)
{
    nt::KeRequirePassive("ZwQueryValueKey");
    auto object = win32::ReferenceHandleAs<KeyObject>(key);
    if (!object) return STATUS_INVALID_HANDLE;
    Store& s = TheStore();
    std::lock_guard guard(s.lock);
    auto k = s.keys.find(object->path);
    if (k == s.keys.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    auto v = k->second.find(Lower(nt::NarrowName(valueName)));
    if (v == k->second.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    ULONG needed = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) + v->second.data.size();
    if (resultLength) *resultLength = needed;
    if (length < needed) return STATUS_BUFFER_TOO_SMALL;
    auto* out = static_cast<KEY_VALUE_PARTIAL_INFORMATION*>(info);
    out->TitleIndex = 0;
    out->Type = v->second.type;
    out->DataLength = static_cast<ULONG>(v->second.data.size());
    std::memcpy(out->Data, v->second.data.data(), v->second.data.size());
    return STATUS_SUCCESS;
}

NTSTATUS ZwClose(HANDLE handle)
{
    nt::KeRequirePassive("ZwClose");
    return CloseHandle(handle) ? STATUS_SUCCESS : STATUS_INVALID_HANDLE;
}

namespace nt {

void RegistryCreateKey(const std::string& path)
{
    Store& s = TheStore();
    std::lock_guard guard(s.lock);
    std::string p = Lower(path);
    for (size_t at = p.find('\\', 1); at != std::string::npos; at = p.find('\\', at + 1))
        s.keys[p.substr(0, at)];
    s.keys[p];
}

void RegistrySetValue(const std::string& path, const std::string& name, ULONG type,
                      const std::vector<uint8_t>& data)
{
    RegistryCreateKey(path);
    Store& s = TheStore();
    std::lock_guard guard(s.lock);
    s.keys[Lower(path)][Lower(name)] = Value{type, data};
}

void RegistryDeleteKey(const std::string& path)
{
    Store& s = TheStore();
    std::lock_guard guard(s.lock);
    std::string p = Lower(path);
    for (auto it = s.keys.begin(); it != s.keys.end();) {
        if (it->first == p || it->first.compare(0, p.size() + 1, p + "\\") == 0)
            it = s.keys.erase(it);
        else
            ++it;
    }
}

void RegistryInstallDefaults()
{
    RegistryCreateKey("\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class");
    RegistryCreateKey("\\Registry\\Machine\\System\\CurrentControlSet\\Services");
}

} // namespace nt
