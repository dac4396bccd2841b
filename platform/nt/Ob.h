// Object references by handle: the kernel side of a user-mode handle.
#pragma once

#include "platform/nt/NtDef.h"
#include "platform/win32/Sync.h"

#include <memory>

struct OBJECT_TYPE {
    const char* Name;  // the type name a kernel object reports (win32::KernelObject::TypeName)
};
using POBJECT_TYPE = OBJECT_TYPE*;

extern POBJECT_TYPE ExEventObjectType;

// References the object behind a handle of the calling process. With an object type, an
// object of another type fails with STATUS_OBJECT_TYPE_MISMATCH; an unknown handle fails with
// STATUS_INVALID_HANDLE. The object stays alive until ObfDereferenceObject.
NTSTATUS ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK access, POBJECT_TYPE type,
                                   KPROCESSOR_MODE mode, PVOID* object, PVOID handleInfo);
void ObfDereferenceObject(PVOID object);
#define ObDereferenceObject(o) ObfDereferenceObject(o)

namespace nt {

// The user event behind a referenced object pointer, or null when `object` is not one.
std::shared_ptr<win32::EventObject> ObEventOf(PVOID object);
// References held through ObReferenceObjectByHandle and not yet dropped.
size_t ObReferenceCount();

} // namespace nt
