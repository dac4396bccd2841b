// The stand-in's side of the registry: creating and deleting keys and values, as an installer
// or a test would.
#pragma once

#include "platform/nt/Registry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace nt {

// Creates a key (and its parents); a value with an empty name is the key's default value.
void RegistryCreateKey(const std::string& path);
void RegistrySetValue(const std::string& path, const std::string& name, ULONG type,
                      const std::vector<uint8_t>& data);
void RegistryDeleteKey(const std::string& path);  // with its subkeys
// The keys of a present-day system: the device class list under the control key.
void RegistryInstallDefaults();

} // namespace nt
