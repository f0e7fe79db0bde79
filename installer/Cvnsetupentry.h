// The installed wallet's entry in Apps & features, and the uninstaller it names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

// Under the current user's key: an install without administrator rights.
std::string UninstallKey();
// The installer's copy in the application folder, which removes what it installed.
std::string UninstallerDest();

// The entry's values for an installed version (empty: unknown) and the bytes installed.
std::vector<platform::RegistryValue> UninstallEntryValues(const std::string& version,
                                                          uint64_t installedBytes);

// The longest first line of the version file that is taken as a version.
constexpr size_t kMaxVersionBytes = 64;

// The first line of the version file without its line end and surrounding white space; empty
// when there is none, when it is longer than kMaxVersionBytes or holds anything but printable
// ASCII (the entry is then written without a version).
std::string InstalledVersion();

// After a program install: copies this program into the application folder and writes (or
// brings up to date) the entry. False when either could not be written.
bool RegisterInstallation();
