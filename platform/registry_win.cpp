#include <windows.h>

#include <cstring>

#include "platform/registry.h"
#include "platform/text.h"

namespace platform {

bool WriteUserKey(const std::string& key, const std::vector<RegistryValue>& values) {
  if (!DeleteUserKey(key)) return false;
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, Utf8ToWide(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &handle, nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = true;
  for (const RegistryValue& value : values) {
    const std::wstring name = Utf8ToWide(value.Name);
    LONG rc;
    if (value.IsNumber) {
      const DWORD number = value.Number;
      rc = RegSetValueExW(handle, name.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&number), sizeof number);
    } else {
      const std::wstring text = Utf8ToWide(value.Text);
      rc = RegSetValueExW(handle, name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    ok = ok && rc == ERROR_SUCCESS;
  }
  RegCloseKey(handle);
  return ok;
}

std::optional<std::vector<RegistryValue>> ReadUserKey(const std::string& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Utf8ToWide(key).c_str(), 0, KEY_QUERY_VALUE, &handle) !=
      ERROR_SUCCESS)
    return std::nullopt;
  std::vector<RegistryValue> values;
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameLength = static_cast<DWORD>(std::size(name));
    DWORD type = 0, size = 0;
    if (RegEnumValueW(handle, index, name, &nameLength, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
      break;
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    nameLength = static_cast<DWORD>(std::size(name));
    DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegEnumValueW(handle, index, name, &nameLength, nullptr, &type,
                      reinterpret_cast<BYTE*>(data.data()), &bytes) != ERROR_SUCCESS)
      break;
    RegistryValue value;
    value.Name = WideToUtf8(std::wstring(name, nameLength));
    if (type == REG_DWORD) {
      value.IsNumber = true;
      std::memcpy(&value.Number, data.data(), sizeof value.Number);
    } else {
      data.resize(bytes / sizeof(wchar_t));
      while (!data.empty() && data.back() == L'\0')
        data.pop_back();
      value.Text = WideToUtf8(data);
    }
    values.push_back(value);
  }
  RegCloseKey(handle);
  return values;
}

bool DeleteUserKey(const std::string& key) {
  const LONG rc = RegDeleteKeyW(HKEY_CURRENT_USER, Utf8ToWide(key).c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

} // namespace platform
