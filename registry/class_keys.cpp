#include "class_keys.h"

#include <objbase.h>

#include <new>
#include <vector>

namespace class_keys {

HRESULT Guarded(HRESULT (*registration)()) {
  try {
    return registration();
  } catch (const std::bad_alloc &) {
    return E_OUTOFMEMORY;
  }
}

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

bool ReadString(const std::wstring &key, const wchar_t *name, std::wstring *value, REGSAM view) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS) {
    return false;
  }
  DWORD bytes = 0;
  LONG rc = RegGetValueW(handle, nullptr, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
  if (rc == ERROR_SUCCESS) {
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    rc = RegGetValueW(handle, nullptr, name, RRF_RT_REG_SZ, nullptr, buffer.data(), &bytes);
    if (rc == ERROR_SUCCESS) value->assign(buffer.data());
  }
  RegCloseKey(handle);
  return rc == ERROR_SUCCESS;
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

KeyOwner OwnerOf(const std::wstring &key, const wchar_t *naming, const std::wstring &ours, REGSAM view) {
  if (!Exists(key, view)) return KeyOwner::kAbsent;
  std::wstring named;
  if (!ReadString(naming != nullptr ? key + L"\\" + naming : key, nullptr, &named, view)) return KeyOwner::kOther;
  return CompareStringOrdinal(named.c_str(), static_cast<int>(named.size()), ours.c_str(),
                              static_cast<int>(ours.size()), TRUE) == CSTR_EQUAL
             ? KeyOwner::kOurs
             : KeyOwner::kOther;
}

bool DeleteIfOurs(const std::wstring &key, const wchar_t *naming, const std::wstring &ours) {
  return OwnerOf(key, naming, ours) != KeyOwner::kOurs || DeleteTree(key);
}

namespace {

constexpr const wchar_t *kServers[] = {L"InprocServer32", L"LocalServer32"};

std::wstring ClassKey(REFCLSID clsid) { return L"CLSID\\" + GuidText(clsid); }

bool Served(const std::wstring &class_key, REGSAM view) {
  for (const wchar_t *server : kServers) {
    if (Exists(class_key + L"\\" + server, view)) return true;
  }
  return false;
}

}  // namespace

bool ClaimedByOther(REFCLSID clsid, const std::wstring &progid) {
  return OwnerOf(progid, L"CLSID", GuidText(clsid)) == KeyOwner::kOther ||
         OwnerOf(ClassKey(clsid) + L"\\ProgID", nullptr, progid) == KeyOwner::kOther;
}

bool WriteClass(REFCLSID clsid, const std::wstring &progid, const std::wstring &description) {
  const std::wstring class_key = ClassKey(clsid);
  return SetString(progid + L"\\CLSID", nullptr, GuidText(clsid)) && SetString(progid, nullptr, description) &&
         SetString(class_key, nullptr, description) && SetString(class_key + L"\\ProgID", nullptr, progid);
}

bool RemoveServer(REFCLSID clsid, const std::wstring &progid, const wchar_t *server) {
  const std::wstring class_key = ClassKey(clsid);
  bool removed = DeleteTree(class_key + L"\\" + server);
  // The description, the ProgID and the categories are the other server's
  // too while it is registered.
  if (!Served(class_key, 0)) removed = DeleteTree(class_key) && removed;
  // One ProgID for both architectures; a user may have given it to another
  // server since.
  if (!Served(class_key, KEY_WOW64_64KEY) && !Served(class_key, KEY_WOW64_32KEY)) {
    removed = DeleteIfOurs(progid, L"CLSID", GuidText(clsid)) && removed;
  }
  return removed;
}

}  // namespace class_keys
