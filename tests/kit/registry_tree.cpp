#include "registry_tree.h"

#include <algorithm>
#include <cwchar>

bool WriteRegistryValues(const std::vector<RegistryValue> &values, REGSAM view) {
  for (const RegistryValue &value : values) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, value.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const LONG rc = RegSetValueExW(key, value.name.c_str(), 0, value.type,
                                   reinterpret_cast<const BYTE *>(value.text.c_str()),
                                   static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return false;
  }
  return true;
}

namespace {

std::wstring DataText(DWORD type, const std::vector<BYTE> &data) {
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::wstring text(reinterpret_cast<const wchar_t *>(data.data()), data.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return type == REG_EXPAND_SZ ? L"(expand)" + text : text;
  }
  std::wstring text = L"(" + std::to_wstring(type) + L")";
  for (const BYTE byte : data) {
    wchar_t hex[4];
    swprintf(hex, 4, L"%02x", byte);
    text += hex;
  }
  return text;
}

// The lines of the open key under `prefix` (its path and a backslash).
bool ReadLines(HKEY key, const std::wstring &prefix, std::vector<std::wstring> *lines) {
  DWORD subkeys = 0, longest_subkey = 0, values = 0, longest_name = 0, largest_data = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longest_subkey, nullptr, &values, &longest_name,
                       &largest_data, nullptr, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  std::vector<wchar_t> name(std::max(longest_name, longest_subkey) + 1);
  for (DWORD i = 0; i < values; ++i) {
    std::vector<BYTE> data(largest_data);
    DWORD name_length = static_cast<DWORD>(name.size()), bytes = largest_data, type = 0;
    if (RegEnumValueW(key, i, name.data(), &name_length, nullptr, &type, data.data(), &bytes) != ERROR_SUCCESS) {
      return false;
    }
    data.resize(bytes);
    const std::wstring value_name = name_length == 0 ? L"@" : std::wstring(name.data(), name_length);
    lines->push_back(prefix + value_name + L"=" + DataText(type, data));
  }
  for (DWORD i = 0; i < subkeys; ++i) {
    DWORD name_length = static_cast<DWORD>(name.size());
    if (RegEnumKeyExW(key, i, name.data(), &name_length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const std::wstring subkey(name.data(), name_length);
    lines->push_back(prefix + subkey + L"\\");
    HKEY child = nullptr;
    if (RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS) return false;
    const bool read = ReadLines(child, prefix + subkey + L"\\", lines);
    RegCloseKey(child);
    if (!read) return false;
  }
  return true;
}

}  // namespace

std::wstring RegistryTree(const std::wstring &key, REGSAM view) {
  HKEY handle = nullptr;
  const LONG rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | view, &handle);
  if (rc != ERROR_SUCCESS) return rc == ERROR_FILE_NOT_FOUND ? L"(absent)" : L"(unreadable)";
  std::vector<std::wstring> lines;
  const bool read = ReadLines(handle, L"", &lines);
  RegCloseKey(handle);
  if (!read) return L"(unreadable)";
  std::sort(lines.begin(), lines.end());
  std::wstring text;
  for (const std::wstring &line : lines) text += line + L"\n";
  return text;
}
