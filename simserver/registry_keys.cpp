// Owned keys under HKEY_CLASSES_ROOT; see registry_keys.h.
#include "registry_keys.h"

#include <vector>

namespace simserver {
namespace {

// The default value of `key` as text; false when there is no such key or no
// string there.
bool ReadDefault(const std::wstring &key, REGSAM view, std::wstring *text) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS) {
    return false;
  }
  std::vector<wchar_t> buffer(64);
  LONG rc = ERROR_SUCCESS;
  DWORD type = 0;
  for (;;) {
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    rc = RegQueryValueExW(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(buffer.data()), &bytes);
    if (rc != ERROR_MORE_DATA || buffer.size() >= 32768) {
      if (rc == ERROR_SUCCESS) {
        // The stored text need not end in a terminator.
        size_t length = bytes / sizeof(wchar_t);
        while (length > 0 && buffer[length - 1] == L'\0') --length;
        text->assign(buffer.data(), length);
      }
      break;
    }
    buffer.resize(bytes / sizeof(wchar_t) + 1);
  }
  RegCloseKey(handle);
  return rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ);
}

}  // namespace

bool KeyExists(const std::wstring &key, REGSAM view) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(handle);
  return true;
}

KeyOwner OwnerOf(const std::wstring &key, const wchar_t *naming, const std::wstring &ours, REGSAM view) {
  if (!KeyExists(key, view)) return KeyOwner::kAbsent;
  std::wstring named;
  if (!ReadDefault(naming != nullptr ? key + L"\\" + naming : key, view, &named)) return KeyOwner::kOther;
  return CompareStringOrdinal(named.c_str(), static_cast<int>(named.size()), ours.c_str(),
                              static_cast<int>(ours.size()), TRUE) == CSTR_EQUAL
             ? KeyOwner::kOurs
             : KeyOwner::kOther;
}

LONG SetString(const std::wstring &key, const wchar_t *name, const std::wstring &value) {
  HKEY handle = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                            nullptr, &handle, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return rc;
}

bool DeleteTree(const std::wstring &key) {
  const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool DeleteIfOurs(const std::wstring &key, const wchar_t *naming, const std::wstring &ours) {
  return OwnerOf(key, naming, ours) != KeyOwner::kOurs || DeleteTree(key);
}

}  // namespace simserver
