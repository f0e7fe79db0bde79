#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/testenv.h"

namespace testenv {

// Both the C runtime's copy and the process environment that GetEnvironmentVariableA reads.
void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  _putenv_s(name.c_str(), value ? value->c_str() : "");
  SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
}

std::string MakeTempDir() {
  std::string base = std::filesystem::temp_directory_path().string();
  while (!base.empty() && (base.back() == '\\' || base.back() == '/'))
    base.pop_back();
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string path = base + "\\corvane-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount()) + "-" + std::to_string(counter++);
    if (CreateDirectoryA(path.c_str(), nullptr)) return path;
  }
  throw std::runtime_error("cannot create a temporary folder");
}

std::string WineVersion() {
  using Fn = const char*(__cdecl*)();
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto fn =
      ntdll
          ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
          : nullptr;
  return fn ? fn() : "";
}

} // namespace testenv
