// Reads a link file back with Debian's lnkinfo, the independent check of our link writer.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace testenv {

// The "Name : value" fields lnkinfo prints ("Local path", "Description", "Working directory",
// "Command line arguments", ...); nullopt when lnkinfo is missing or cannot parse the file.
std::optional<std::map<std::string, std::string>> LnkInfo(const std::string& file);

// The header's ShowCommand field (offset 60). lnkinfo 20181227 prints 0 for it whatever is
// stored, so it is read from the file itself.
// lnkinfo's standard output for the file; nullopt when it cannot run or fails. Under Wine the
// Linux program is started with the file's Linux path.
std::optional<std::string> RunLnkinfo(const std::string& file);

std::optional<uint32_t> LnkShowCommand(const std::string& file);

} // namespace testenv
