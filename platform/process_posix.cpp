#include "platform/process.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/msgloop.h"
#include "platform/paths.h"
#include "platform/win32.h"

extern char** environ;

namespace platform {

namespace {

std::string Head(const std::string& file, size_t max) {
  std::ifstream in(file, std::ios::binary);
  std::string line;
  line.resize(max);
  in.read(line.data(), static_cast<std::streamsize>(max));
  line.resize(static_cast<size_t>(in.gcount()));
  return line;
}

// "#!interpreter [one argument]" as the kernel reads it.
std::vector<std::string> ShebangWords(const std::string& head) {
  std::string line = head.substr(2, head.find('\n') == std::string::npos ? std::string::npos
                                                                         : head.find('\n') - 2);
  std::vector<std::string> words;
  auto start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return words;
  auto end = line.find_first_of(" \t", start);
  words.push_back(line.substr(start, end - start));
  if (end != std::string::npos) {
    auto argStart = line.find_first_not_of(" \t", end);
    if (argStart != std::string::npos) {
      auto argEnd = line.find_last_not_of(" \t\r");
      words.push_back(line.substr(argStart, argEnd - argStart + 1));
    }
  }
  return words;
}

int Reap(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Reaps the child on a thread of its own while this one goes on processing events: the windows
// repaint and answer, and take no input until the child has ended. A quit asked for meanwhile
// ends the message loop after the wait.
int WaitFor(pid_t pid) {
  QAbstractEventDispatcher* dispatcher =
      QCoreApplication::instance() ? QAbstractEventDispatcher::instance() : nullptr;
  if (!dispatcher) return Reap(pid);
  InputSuspension noInput;
  std::atomic<bool> ended{false};
  int code = -1;
  std::thread reaper([&] {
    code = Reap(pid);
    ended = true;
    dispatcher->wakeUp();
  });
  while (!ended)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  reaper.join();
  return code;
}

// -1 with the reason as the last error, as Windows leaves it.
int NotStarted(win::DWORD error) {
  win::SetLastError(error);
  return -1;
}

// In the program's own folder, as on Windows.
int Spawn(const std::vector<std::string>& words, bool searchPath, const std::string& file) {
  std::vector<char*> argv;
  for (const std::string& w : words)
    argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, std::filesystem::path(file).parent_path().c_str());
  pid_t pid = 0;
  int rc = searchPath ? posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ)
                      : posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0)
    return NotStarted(rc == EACCES || rc == EPERM ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
  return WaitFor(pid);
}

} // namespace

int RunAndWait(const std::string& path, const std::string& arguments) {
  const std::string file = NativePath(path);
  std::vector<std::string> extra;
  std::istringstream split(arguments);
  for (std::string word; split >> word;)
    extra.push_back(word);
  auto with = [&extra](std::vector<std::string> command) {
    command.insert(command.end(), extra.begin(), extra.end());
    return command;
  };
  struct stat st {};
  if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return NotStarted(ERROR_FILE_NOT_FOUND);
  const std::string head = Head(file, 256);
  if (head.compare(0, 2, "MZ") == 0) return Spawn(with({"wine", file}), true, file);
  if (head.compare(0, 2, "#!") == 0) {
    std::vector<std::string> words = ShebangWords(head);
    if (words.empty()) return NotStarted(ERROR_BAD_EXE_FORMAT);
    words.push_back(file);
    return Spawn(with(words), false, file);
  }
  if (head.compare(0, 4,
                   "\x7f"
                   "ELF") == 0) {
    if (access(file.c_str(), X_OK) != 0) chmod(file.c_str(), st.st_mode | S_IXUSR);
    return Spawn(with({file}), false, file);
  }
  return NotStarted(ERROR_BAD_EXE_FORMAT);
}

} // namespace platform
