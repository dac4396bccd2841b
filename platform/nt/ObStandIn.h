// The stand-in's side of object references: the user event behind a referenced object, and
// the count of references held, for tests.
#pragma once

#include "platform/nt/Ob.h"
#include "platform/win32/Sync.h"

#include <cstddef>
#include <memory>

struct OBJECT_TYPE {
    const char* Name;  // the type name a kernel object reports (win32::KernelObject::TypeName)
};

namespace nt {

// The user event behind a referenced object pointer, or null when `object` is not one.
std::shared_ptr<win32::EventObject> ObEventOf(PVOID object);
// References held through ObReferenceObjectByHandle and not yet dropped.
size_t ObReferenceCount();

} // namespace nt
