// Referenced objects are kept alive in a table keyed by their address, with a count per
// object, so that the kernel can hold a user object after the user closes its handle.
#include "platform/nt/ObStandIn.h"

#include "platform/nt/KeStandIn.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

OBJECT_TYPE eventType{"Event"};

struct Reference {
    std::shared_ptr<win32::KernelObject> object;
    size_t count = 0;
};

struct References {
    std::mutex lock;
    std::unordered_map<PVOID, Reference> table;
};

References& Refs()
{
    static References* r = new References;
    return *r;
}

} // namespace

namespace {
POBJECT_TYPE eventTypeObject = &eventType;
}
POBJECT_TYPE* ExEventObjectType = &eventTypeObject;

NTSTATUS ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK, POBJECT_TYPE type,
                                   KPROCESSOR_MODE, PVOID* object, PVOID)
{
    nt::KeRequirePassive("ObReferenceObjectByHandle");
    *object = nullptr;
    if (nt::KeOnSystemThread()) return STATUS_INVALID_HANDLE;  // not in the process that owns it
    auto target = win32::ReferenceHandle(handle);
    if (!target) return STATUS_INVALID_HANDLE;
    if (type && std::strcmp(target->TypeName(), type->Name) != 0)
        return STATUS_OBJECT_TYPE_MISMATCH;
    References& r = Refs();
    std::lock_guard guard(r.lock);
    auto& ref = r.table[target.get()];
    ref.object = target;
    ++ref.count;
    *object = target.get();
    return STATUS_SUCCESS;
}

void ObfDereferenceObject(PVOID object)
{
    std::shared_ptr<win32::KernelObject> last;  // released outside the lock
    References& r = Refs();
    std::lock_guard guard(r.lock);
    auto it = r.table.find(object);
    if (it == r.table.end()) {
        std::fprintf(stderr, "ObfDereferenceObject: %p holds no reference\n", object);
        std::abort();
    }
    if (--it->second.count == 0) {
        last = std::move(it->second.object);
        r.table.erase(it);
    }
}

namespace nt {

std::shared_ptr<win32::EventObject> ObEventOf(PVOID object)
{
    References& r = Refs();
    std::lock_guard guard(r.lock);
    auto it = r.table.find(object);
    if (it == r.table.end()) return nullptr;
    return std::dynamic_pointer_cast<win32::EventObject>(it->second.object);
}

size_t ObReferenceCount()
{
    References& r = Refs();
    std::lock_guard guard(r.lock);
    size_t n = 0;
    for (const auto& [p, ref] : r.table) n += ref.count;
    return n;
}

} // namespace nt
