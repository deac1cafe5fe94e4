#include "class_keys.h"

#include <objbase.h>

#include <vector>

namespace class_keys {

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = L"";
  StringFromGUID2(guid, text, sizeof text / sizeof text[0]);
  return text;
}

bool NamesGuid(const std::wstring &text, REFGUID guid) {
  IID parsed;
  // IIDFromString only parses; CLSIDFromString would also look up ProgIDs.
  return SUCCEEDED(IIDFromString(text.c_str(), &parsed)) && IsEqualGUID(parsed, guid);
}

bool ModulePath(HMODULE module, std::wstring *path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return false;
    if (length < buffer.size()) {
      path->assign(buffer.data(), length);
      return true;
    }
    if (buffer.size() >= 32768) return false;
    buffer.resize(buffer.size() * 2);
  }
}

bool Exists(const std::wstring &key, REGSAM view) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

bool ReadString(const std::wstring &key, const wchar_t *name, std::wstring *value) {
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
    return false;
  }
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
  bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer.data(), &bytes) !=
      ERROR_SUCCESS) {
    return false;
  }
  value->assign(buffer.data());
  return true;
}

bool SetString(const std::wstring &key, const wchar_t *name, const std::wstring &value) {
  HKEY handle = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                            nullptr, &handle, nullptr);
  if (rc != ERROR_SUCCESS) return false;
  rc = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return rc == ERROR_SUCCESS;
}

bool DeleteTree(const std::wstring &key) {
  const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool DeleteIfEmpty(const std::wstring &key) {
  HKEY handle = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle);
  if (rc == ERROR_FILE_NOT_FOUND) return true;
  if (rc != ERROR_SUCCESS) return false;
  DWORD subkeys = 0;
  rc = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr, nullptr);
  RegCloseKey(handle);
  if (rc != ERROR_SUCCESS) return false;
  if (subkeys != 0) return true;
  rc = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

}  // namespace class_keys
