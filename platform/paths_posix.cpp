#include "platform/paths.h"
#include "platform/winapi_posix.h"

#include <pwd.h>
#include <unistd.h>

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

} // namespace platform

namespace platform::detail {

std::string UserName() {
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name && *pw->pw_name) return pw->pw_name;
  if (const char* u = std::getenv("USER"); u && *u) return u;
  return "user";
}

} // namespace platform::detail
