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

std::string ExitingProgram(const std::string& dir, int exitCode) {
  // The helper's path as the build knows it, on Wine's drive Z:.
  std::string helper = "Z:" CORVANE_EXIT_HELPER;
  for (char& c : helper)
    if (c == '/') c = '\\';
  std::string path = dir + "\\exit" + std::to_string(exitCode) + ".exe";
  if (!CopyFileA(helper.c_str(), path.c_str(), FALSE))
    throw std::runtime_error("cannot copy " + helper);
  return path;
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
