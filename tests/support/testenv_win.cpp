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

std::string NotingProgram(int exitCode) {
  // The helper's path as the build knows it, on Wine's drive Z:.
  std::string helper = ReadFile("Z:" CORVANE_EXIT_HELPER);
  if (helper.empty()) throw std::runtime_error("cannot read " CORVANE_EXIT_HELPER);
  return helper + "\nexit " + std::to_string(exitCode) + "\n";
}

RunningProgram::RunningProgram(const std::string& path) {
  WriteFile(path, NotingProgram(0));
  const std::wstring file = std::filesystem::path(path).wstring();
  std::wstring line = L"\"" + file + L"\" hold";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(file.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info))
    throw std::runtime_error("cannot start " + path);
  CloseHandle(info.hThread);
  process_ = reinterpret_cast<intptr_t>(info.hProcess);
  WaitForInputIdle(info.hProcess, 2000);
}

RunningProgram::~RunningProgram() {
  HANDLE process = reinterpret_cast<HANDLE>(process_);
  TerminateProcess(process, 1);
  WaitForSingleObject(process, INFINITE);
  CloseHandle(process);
}

std::string UnstartableProgram() {
  return "MZ but nothing a loader could start\n";
}

std::string ExitingProgram(const std::string& dir, int exitCode) {
  std::string path = dir + "\\exit" + std::to_string(exitCode) + ".exe";
  WriteFile(path, NotingProgram(exitCode));
  if (!Exists(path)) throw std::runtime_error("cannot write " + path);
  return path;
}

namespace {

void Clear(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    std::error_code ec;
    std::filesystem::remove_all("C:\\" + folder, ec);
  }
}

} // namespace

ScopedDriveC::ScopedDriveC(std::vector<std::string> cleared)
    : cleared_(std::move(cleared)), path_("C:") {
  char cwd[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(MAX_PATH, cwd);
  if (n > 0 && n < MAX_PATH) saved_ = std::string(cwd, n);
  if (!SetCurrentDirectoryA("C:\\")) throw std::runtime_error("cannot change to C:\\");
  Clear(cleared_);
}

ScopedDriveC::~ScopedDriveC() {
  Clear(cleared_);
  if (saved_) SetCurrentDirectoryA(saved_->c_str());
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

ScopedNoStandardStreams::ScopedNoStandardStreams() {
  const DWORD ids[] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int i = 0; i < 2; ++i) {
    saved_[i] = reinterpret_cast<intptr_t>(GetStdHandle(ids[i]));
    SetStdHandle(ids[i], nullptr);
  }
}

ScopedNoStandardStreams::~ScopedNoStandardStreams() {
  const DWORD ids[] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int i = 0; i < 2; ++i)
    SetStdHandle(ids[i], reinterpret_cast<HANDLE>(saved_[i]));
}

} // namespace testenv
