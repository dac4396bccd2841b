// The registry keys that a driver reads while it loads: a tree of keys holding values.
#pragma once

#include "platform/nt/NtDef.h"

#include <string>
#include <vector>

struct OBJECT_ATTRIBUTES {
    PCSTR ObjectName;  // full key path, e.g. "\Registry\Machine\System\CurrentControlSet\…"
};
using POBJECT_ATTRIBUTES = OBJECT_ATTRIBUTES*;

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

inline void InitializeObjectAttributes(POBJECT_ATTRIBUTES attributes, PCSTR name)
{
    attributes->ObjectName = name;
}

// Fails with STATUS_OBJECT_NAME_NOT_FOUND for a key that does not exist (case-insensitive).
NTSTATUS ZwOpenKey(HANDLE* key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes);
NTSTATUS ZwQueryValueKey(HANDLE key, PCSTR valueName, KEY_VALUE_INFORMATION_CLASS kind,
                         PVOID info, ULONG length, PULONG resultLength);
NTSTATUS ZwClose(HANDLE handle);

namespace nt {

// Creates a key (and its parents); a value with an empty name is the key's default value.
void RegistryCreateKey(const std::string& path);
void RegistrySetValue(const std::string& path, const std::string& name, ULONG type,
                      const std::vector<uint8_t>& data);
void RegistryDeleteKey(const std::string& path);  // with its subkeys
// The keys of a present-day system: the device class list under the control key.
void RegistryInstallDefaults();

} // namespace nt
