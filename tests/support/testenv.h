// Scoped environment and temporary folders for tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testenv {

// Sets (or, with nullopt, unsets) an environment variable and restores it on scope exit.
class ScopedEnv {
public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  std::string name_;
  std::optional<std::string> old_;
};

// A fresh directory under $TMPDIR, removed with everything in it on scope exit.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

// Sets (nullopt: removes) a variable of the process environment.
void SetEnv(const std::string& name, const std::optional<std::string>& value);
// Creates a fresh directory under the system's temporary folder; throws when it cannot.
std::string MakeTempDir();

// The Wine version the test runs under; empty on Windows itself and on Linux.
std::string WineVersion();

// Wine departs from documented Winsock here: the test stops, and says so, instead of asserting
// less. The skip text starts with "Wine deviation:" so the test run can tell it from others.
#define SKIP_ON_WINE(what)                                                                         \
  do {                                                                                             \
    if (!testenv::WineVersion().empty())                                                           \
      GTEST_SKIP() << "Wine deviation: " << what << " (Wine " << testenv::WineVersion() << ")";    \
  } while (0)

// The bytes of a program that, saved under any name and run, waits about 0.2 s, writes its
// argument count and a line end into "<its path>.ran" and exits with exitCode (0-9).
std::string NotingProgram(int exitCode);

// A file that begins like a program of this system but cannot be started.
std::string UnstartableProgram();

// Puts NotingProgram(exitCode) into dir, as a download leaves it (not marked executable), and
// returns its path.
std::string ExitingProgram(const std::string& dir, int exitCode);

// NotingProgram written to path and kept running from it until the scope ends, as a wallet the
// user has open: on Windows the program itself (it waits when its argument is "hold"), on Linux a
// process named "sleep" holding the file open. path is native.
class RunningProgram {
public:
  explicit RunningProgram(const std::string& path);
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

private:
  intptr_t process_ = 0;
};

// Drive C: as the code under test sees it, for the scope of a test. On Linux a fresh Wine-style
// prefix of its own (WINEPREFIX points at it); on Windows the real drive C:, made the current
// drive so that rooted paths land on it, with the named folders on it removed before and after.
class ScopedDriveC {
public:
  explicit ScopedDriveC(std::vector<std::string> cleared);
  ~ScopedDriveC();
  ScopedDriveC(const ScopedDriveC&) = delete;
  ScopedDriveC& operator=(const ScopedDriveC&) = delete;
  // The drive's root as a native path, without a closing separator.
  const std::string& path() const { return path_; }

private:
  std::vector<std::string> cleared_;
  std::string path_;
  std::optional<std::string> saved_;
};

// For its scope the program has no standard output or error it can write to, as a Windows
// program with a window started from the desktop: platform::WriteStandardStream fails.
class ScopedNoStandardStreams {
public:
  ScopedNoStandardStreams();
  ~ScopedNoStandardStreams();
  ScopedNoStandardStreams(const ScopedNoStandardStreams&) = delete;
  ScopedNoStandardStreams& operator=(const ScopedNoStandardStreams&) = delete;

private:
  intptr_t saved_[2];
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
bool Exists(const std::string& path);

} // namespace testenv
