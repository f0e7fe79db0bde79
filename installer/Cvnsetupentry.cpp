#include "installer/Cvnsetupentry.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "installer/Cvnsetupmain.h"
#include "platform/paths.h"
#include "platform/program.h"

namespace {

uint64_t SizeOf(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(platform::FilePath(path), ec);
  return ec ? 0 : size;
}

platform::RegistryValue Text(const std::string& name, const std::string& text) {
  return {name, false, text, 0};
}
platform::RegistryValue Number(const std::string& name, uint32_t number) {
  return {name, true, "", number};
}

} // namespace

std::string UninstallKey() {
  return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + IniPath;
}

std::string UninstallerDest() {
  return AppDir + "corvane-setup.exe";
}

std::vector<platform::RegistryValue> UninstallEntryValues(const std::string& version,
                                                          uint64_t installedBytes) {
  // Appended rather than joined with +: GCC 12 warns wrongly about "\"" + text (-Wrestrict).
  std::string uninstaller = "\"";
  uninstaller += UninstallerDest();
  uninstaller += "\" /UNINSTALL";
  std::vector<platform::RegistryValue> values = {
      Text("DisplayName", IniPath + " Wallet"),
      Text("Publisher", IniPath),
      Text("InstallLocation", AppDir),
      Text("DisplayIcon", WalletDest() + ",0"),
      // In KiB, rounded up.
      Number("EstimatedSize", static_cast<uint32_t>((installedBytes + 1023) / 1024)),
      Number("NoModify", 1),
      Number("NoRepair", 1),
      Text("UninstallString", uninstaller),
      Text("QuietUninstallString", uninstaller + " /VERYSILENT"),
  };
  if (!version.empty()) values.insert(values.begin() + 1, Text("DisplayVersion", version));
  return values;
}

std::string InstalledVersion() {
  // The server's file: only its first bytes are read, and only printable text is a version.
  std::ifstream in(platform::FilePath(VersionFile()), std::ios::binary);
  std::string head(kMaxVersionBytes, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(std::max<std::streamsize>(0, in.gcount())));
  const size_t end = head.find('\n');
  if (end == std::string::npos && head.size() == kMaxVersionBytes &&
      in.peek() != std::char_traits<char>::eof())
    return {}; // a first line longer than any version
  std::string line = Trim(head.substr(0, end));
  const bool printable =
      std::all_of(line.begin(), line.end(), [](char c) { return c >= ' ' && c <= '~'; });
  return printable ? line : std::string();
}

bool RegisterInstallation() {
  const bool copied = platform::CopyProgramFile(UninstallerDest());
  const uint64_t bytes = SizeOf(LauncherDest()) + SizeOf(WalletDest()) + SizeOf(UninstallerDest());
  return platform::WriteUserKey(UninstallKey(), UninstallEntryValues(InstalledVersion(), bytes)) &&
         copied;
}
