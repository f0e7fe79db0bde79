// The current user's keys in the registry (HKEY_CURRENT_USER), with text and number values.
//
// On Windows this is the real registry, through the wide API. Elsewhere a stand-in keeps each key
// in a file of its own under the Wine-style prefix: <prefix>/corvane-registry/HKEY_CURRENT_USER/
// followed by the key's path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct RegistryValue {
  std::string Name;
  bool IsNumber = false; // REG_DWORD; otherwise REG_SZ
  std::string Text;
  uint32_t Number = 0;

  bool operator==(const RegistryValue&) const = default;
};

// Makes the key (with its parents) hold exactly these values, replacing what it held. False when
// the key cannot be made or a value cannot be set.
bool WriteUserKey(const std::string& key, const std::vector<RegistryValue>& values);

// The key's values, or nothing when there is no such key.
std::optional<std::vector<RegistryValue>> ReadUserKey(const std::string& key);

// Removes the key and its values; true also when it was not there.
bool DeleteUserKey(const std::string& key);

} // namespace platform
