#include "support/lnkinfo.h"

#include "support/testenv.h"

namespace testenv {

std::optional<std::map<std::string, std::string>> LnkInfo(const std::string& file) {
  std::optional<std::string> output = RunLnkinfo(file);
  if (!output) return std::nullopt;
  const std::string& out = *output;

  std::map<std::string, std::string> fields;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\n', pos);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(pos, end - pos);
    pos = end + 1;
    size_t colon = line.find(':');
    if (line.empty() || line[0] != '\t' || colon == std::string::npos) continue;
    std::string key = line.substr(1, colon - 1);
    key.erase(key.find_last_not_of(" \t") + 1);
    std::string value = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
    fields[key] = value;
  }
  return fields;
}

std::optional<uint32_t> LnkShowCommand(const std::string& file) {
  std::string data = ReadFile(file);
  if (data.size() < 64) return std::nullopt;
  auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(data[i])); };
  return b(60) | b(61) << 8 | b(62) << 16 | b(63) << 24;
}

} // namespace testenv
