// The registry keys that a driver reads while it loads: a tree of keys holding values.
#pragma once

#include "NtDef.h"

struct OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PUNICODE_STRING ObjectName;  // full key path, e.g. "\Registry\Machine\System\CurrentControlSet\…"
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};
typedef OBJECT_ATTRIBUTES* POBJECT_ATTRIBUTES;

constexpr ULONG OBJ_CASE_INSENSITIVE = 0x40;
constexpr ULONG OBJ_KERNEL_HANDLE = 0x200;

enum KEY_VALUE_INFORMATION_CLASS { KeyValuePartialInformation = 2 };
constexpr ULONG REG_SZ = 1;
constexpr ULONG REG_BINARY = 3;
constexpr ULONG REG_DWORD = 4;
constexpr ACCESS_MASK KEY_READ = 0x20019;

struct KEY_VALUE_PARTIAL_INFORMATION {
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataLength;
    UCHAR Data[1];
};

inline void InitializeObjectAttributes(POBJECT_ATTRIBUTES attributes, PUNICODE_STRING name,
                                       ULONG flags, HANDLE root, PVOID security)
{
    attributes->Length = sizeof(OBJECT_ATTRIBUTES);
    attributes->RootDirectory = root;
    attributes->ObjectName = name;
    attributes->Attributes = flags;
    attributes->SecurityDescriptor = security;
    attributes->SecurityQualityOfService = nullptr;
}

// Passive level. Fails with STATUS_OBJECT_NAME_NOT_FOUND for a key that does not exist (names
// are compared without case).
NTSTATUS ZwOpenKey(HANDLE* key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes);
NTSTATUS ZwQueryValueKey(HANDLE key, PUNICODE_STRING valueName, KEY_VALUE_INFORMATION_CLASS kind,
                         PVOID info, ULONG length, PULONG resultLength);
NTSTATUS ZwClose(HANDLE handle);
