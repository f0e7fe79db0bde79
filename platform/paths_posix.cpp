#include "platform/paths.h"
#include "platform/winapi_posix.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cctype>
#include <cstdlib>

namespace platform {

std::string WinePrefix() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
  std::string home;
  if (const char* h = std::getenv("HOME"); h && *h)
    home = h;
  else if (const passwd* pw = getpwuid(getuid()))
    home = pw->pw_dir;
  return home + "/.wine";
}

std::string NativePath(const std::string& path) {
  std::string rest = path;
  std::string root;
  if (rest.size() >= 2 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':') {
    char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(rest[0])));
    root = drive == 'c' ? WinePrefix() + "/drive_c" : WinePrefix() + "/dosdevices/" + drive + ":";
    rest = rest.substr(2);
    if (rest.empty() || (rest[0] != '\\' && rest[0] != '/')) rest = "/" + rest;
  } else if (!rest.empty() && rest[0] == '\\') {
    root = WinePrefix() + "/drive_c";
  }
  for (char& c : rest)
    if (c == '\\') c = '/';
  return root + rest;
}

std::filesystem::path FilePath(const std::string& path) {
  return NativePath(path);
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return std::fopen(NativePath(path).c_str(), mode);
}

int64_t FileLength(const std::string& path) {
  struct stat st;
  if (::stat(NativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool RemoveFile(const std::string& path) {
  return ::unlink(NativePath(path).c_str()) == 0 || errno == ENOENT;
}

bool MoveFileOver(const std::string& from, const std::string& to) {
  return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

bool CutFile(const std::string& path, int64_t length) {
  return ::truncate(NativePath(path).c_str(), static_cast<off_t>(length)) == 0;
}

} // namespace platform

namespace platform::detail {

std::string UserName() {
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name && *pw->pw_name) return pw->pw_name;
  if (const char* u = std::getenv("USER"); u && *u) return u;
  return "user";
}

} // namespace platform::detail
