// Object references by handle: the kernel side of a user-mode handle.
#pragma once

#include "NtDef.h"

struct OBJECT_TYPE;
typedef OBJECT_TYPE* POBJECT_TYPE;

extern POBJECT_TYPE* ExEventObjectType;  // passed as *ExEventObjectType

// References the object behind a handle of the calling process; passive level, in the
// caller's thread (a system thread has no user handles: STATUS_INVALID_HANDLE). With an object type, an object of another type fails with
// STATUS_OBJECT_TYPE_MISMATCH; an unknown handle fails with STATUS_INVALID_HANDLE. The object
// stays alive until ObfDereferenceObject.
NTSTATUS ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK access, POBJECT_TYPE type,
                                   KPROCESSOR_MODE mode, PVOID* object, PVOID handleInfo);
void ObfDereferenceObject(PVOID object);
#define ObDereferenceObject(o) ObfDereferenceObject(o)
