#include <windows.h>

#include <cstring>

#include "platform/registry.h"

namespace platform {

namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

} // namespace

bool WriteUserKey(const std::string& key, const std::vector<RegistryValue>& values) {
  if (!DeleteUserKey(key)) return false;
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, Wide(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &handle, nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = true;
  for (const RegistryValue& value : values) {
    const std::wstring name = Wide(value.Name);
    LONG rc;
    if (value.IsNumber) {
      const DWORD number = value.Number;
      rc = RegSetValueExW(handle, name.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&number), sizeof number);
    } else {
      const std::wstring text = Wide(value.Text);
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
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(key).c_str(), 0, KEY_QUERY_VALUE, &handle) !=
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
    value.Name = Utf8(std::wstring(name, nameLength));
    if (type == REG_DWORD) {
      value.IsNumber = true;
      std::memcpy(&value.Number, data.data(), sizeof value.Number);
    } else {
      data.resize(bytes / sizeof(wchar_t));
      while (!data.empty() && data.back() == L'\0')
        data.pop_back();
      value.Text = Utf8(data);
    }
    values.push_back(value);
  }
  RegCloseKey(handle);
  return values;
}

bool DeleteUserKey(const std::string& key) {
  const LONG rc = RegDeleteKeyW(HKEY_CURRENT_USER, Wide(key).c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

} // namespace platform
