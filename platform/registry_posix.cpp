#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/paths.h"
#include "platform/registry.h"

namespace platform {

namespace {

// One line a value: its name, a tab, "s" or "d", a tab and the text or the decimal number.
std::filesystem::path KeyFile(const std::string& key) {
  std::string relative = key;
  for (char& c : relative)
    if (c == '\\') c = '/';
  return std::filesystem::path(WinePrefix()) / "corvane-registry" / "HKEY_CURRENT_USER" / relative;
}

bool Storable(const std::string& text) {
  return text.find_first_of("\t\r\n") == std::string::npos;
}

} // namespace

bool WriteUserKey(const std::string& key, const std::vector<RegistryValue>& values) {
  const std::filesystem::path file = KeyFile(key);
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  if (ec) return false;
  std::string text;
  for (const RegistryValue& value : values) {
    if (value.Name.empty() || !Storable(value.Name) || !Storable(value.Text)) return false;
    text += value.Name +
            (value.IsNumber ? "\td\t" + std::to_string(value.Number) : "\ts\t" + value.Text) + "\n";
  }
  // Whole or not at all: a reader never sees half a key.
  const std::filesystem::path temp = file.string() + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!(out << text) || !out.flush()) return false;
  }
  std::filesystem::rename(temp, file, ec);
  return !ec;
}

std::optional<std::vector<RegistryValue>> ReadUserKey(const std::string& key) {
  std::ifstream in(KeyFile(key), std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<RegistryValue> values;
  std::string line;
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || tab + 2 >= line.size() || line[tab + 2] != '\t') continue;
    RegistryValue value;
    value.Name = line.substr(0, tab);
    value.IsNumber = line[tab + 1] == 'd';
    const std::string data = line.substr(tab + 3);
    if (value.IsNumber)
      value.Number = static_cast<uint32_t>(std::stoul(data));
    else
      value.Text = data;
    values.push_back(value);
  }
  return values;
}

bool DeleteUserKey(const std::string& key) {
  std::error_code ec;
  std::filesystem::remove(KeyFile(key), ec);
  return !ec;
}

} // namespace platform
