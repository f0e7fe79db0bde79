// The signed list's parser. A list it accepts, written out again in its format, reads back the
// same; one it refuses leaves nothing behind.
#include <cstddef>
#include <cstdint>
#include <string>

#include "installer/SignedList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TSignedList list;
  if (!list.Parse(text)) {
    if (!list.Files.empty() || list.Serial != 0 || list.Expires != 0) __builtin_trap();
    return 0;
  }
  if (list.Serial < 0 || list.Expires < 0) __builtin_trap();
  // The expiry as its UTC text, back from the seconds.
  int64_t days = list.Expires / 86400, rest = list.Expires % 86400;
  days += 719468;
  const int64_t era = days / 146097, doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2);
  char expires[32];
  snprintf(expires, sizeof expires, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
           static_cast<long long>(year), static_cast<long long>(month), static_cast<long long>(day),
           static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
           static_cast<long long>(rest % 60));
  std::string again = "serial " + std::to_string(list.Serial) + "\nexpires " + expires + "\n";
  for (const auto& [name, file] : list.Files)
    again += file.Sha256 + " " + std::to_string(file.Size) + " " + name + "\n";
  TSignedList reread;
  if (!reread.Parse(again) || reread.Serial != list.Serial || reread.Expires != list.Expires ||
      reread.Files.size() != list.Files.size())
    __builtin_trap();
  for (const auto& [name, file] : list.Files) {
    const TListedFile* other = reread.Find(name);
    if (!other || other->Size != file.Size || other->Sha256 != file.Sha256) __builtin_trap();
  }
  return 0;
}
