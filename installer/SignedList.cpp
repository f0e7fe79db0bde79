#include "installer/SignedList.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/crypto.h"
#include "platform/paths.h"

namespace {

// Only plain decimal digits, at most 18 of them, so that the value fits in 64 bits.
bool ParseNumber(const std::string& text, int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

bool IsHex(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool IsFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f || c == '/' || c == '\\') return false;
  return true;
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

} // namespace

bool ParseUtcTime(const std::string& text, int64_t& seconds) {
  // YYYY-MM-DDTHH:MM:SSZ
  static const char shape[] = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != sizeof shape - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (shape[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != shape[i]) return false;
  }
  auto field = [&](size_t at, size_t n) { return std::stoll(text.substr(at, n)); };
  const int64_t year = field(0, 4), month = field(5, 2), day = field(8, 2);
  const int64_t hour = field(11, 2), minute = field(14, 2), second = field(17, 2);
  static const int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > monthDays[month - 1]) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return false;
  if (hour > 23 || minute > 59 || second > 59) return false;
  seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

std::vector<std::string> PublicKeyBlocks(const std::string& pem) {
  static const std::string begin = "-----BEGIN PUBLIC KEY-----", end = "-----END PUBLIC KEY-----";
  std::vector<std::string> blocks;
  for (size_t at = pem.find(begin); at != std::string::npos; at = pem.find(begin, at)) {
    const size_t stop = pem.find(end, at);
    if (stop == std::string::npos) break;
    blocks.push_back(pem.substr(at, stop + end.size() - at));
    at = stop + end.size();
  }
  return blocks;
}

bool TSignedList::Parse(const std::string& text) {
  Serial = Expires = 0;
  Files.clear();
  bool haveSerial = false, haveExpiry = false;
  bool ok = !text.empty() && text.back() == '\n';
  for (size_t at = 0; ok && at < text.size();) {
    const size_t stop = text.find('\n', at);
    const std::string line = text.substr(at, stop - at);
    at = stop + 1;
    if (line.rfind("serial ", 0) == 0) {
      ok = !haveSerial && ParseNumber(line.substr(7), Serial);
      haveSerial = true;
    } else if (line.rfind("expires ", 0) == 0) {
      ok = !haveExpiry && ParseUtcTime(line.substr(8), Expires);
      haveExpiry = true;
    } else {
      const size_t gap = line.find(' ', 65);
      TListedFile file;
      file.Sha256 = line.substr(0, 64);
      const std::string name = gap == std::string::npos ? "" : line.substr(gap + 1);
      ok = line.size() > 66 && line[64] == ' ' && IsHex(file.Sha256) && gap != std::string::npos &&
           ParseNumber(line.substr(65, gap - 65), file.Size) && IsFileName(name) &&
           Files.emplace(name, file).second;
    }
  }
  if (ok && haveSerial && haveExpiry) return true;
  Serial = Expires = 0;
  Files.clear();
  return false;
}

TSignedList::TVerdict TSignedList::Check(const std::string& text, const std::string& signature,
                                         const std::string& keysPem, int64_t now,
                                         int64_t lowestSerial) {
  Serial = Expires = 0;
  Files.clear();
  bool signedByOne = false;
  if (signature.size() <= MaxSignatureBytes)
    for (const std::string& key : PublicKeyBlocks(keysPem))
      if (platform::VerifyP256Signature(key, text, signature)) {
        signedByOne = true;
        break;
      }
  if (!signedByOne) return slUnverified;
  if (!Parse(text)) return slMalformed;
  TVerdict verdict = slAccepted;
  if (Serial < lowestSerial)
    verdict = slOlder;
  else if (now >= Expires)
    verdict = slExpired;
  if (verdict != slAccepted) {
    Serial = Expires = 0;
    Files.clear();
  }
  return verdict;
}

const TListedFile* TSignedList::Find(const std::string& name) const {
  auto it = Files.find(name);
  return it == Files.end() ? nullptr : &it->second;
}

int64_t ReadKeptSerial(const std::string& path) {
  std::ifstream in(platform::FilePath(path), std::ios::binary);
  std::string line;
  int64_t serial = 0;
  if (!std::getline(in, line) || !ParseNumber(line, serial)) return 0;
  return serial;
}

bool KeepSerial(const std::string& path, int64_t serial) {
  const std::filesystem::path target(platform::FilePath(path));
  std::error_code ec;
  std::filesystem::create_directories(target.parent_path(), ec);
  std::filesystem::path temp = target;
  temp += ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << serial << "\n";
    out.close();
    if (!out) return false;
  }
  std::filesystem::rename(temp, target, ec);
  if (!ec) return true;
  std::filesystem::remove(temp, ec);
  return false;
}
