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

bool IsFile(const std::wstring &path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

PathForm LocateFile(const std::wstring &named, const wchar_t *extension, std::wstring *path, bool *found) {
  *path = named;
  *found = false;
  const PathForm form = FormOfPath(named);
  const bool bare = form == PathForm::kBareName;
  if (!bare && form != PathForm::kLocal && form != PathForm::kRelative) return form;
  const auto resolve = [&](DWORD size, wchar_t *into) {
    return bare ? SearchPathW(nullptr, named.c_str(), extension, size, into, nullptr)
                : GetFullPathNameW(named.c_str(), size, into, nullptr);
  };
  const DWORD length = resolve(0, nullptr);
  std::vector<wchar_t> buffer(length + 1);
  const DWORD written = length == 0 ? 0 : resolve(length, buffer.data());
  if (written == 0 || written >= length) return form;
  path->assign(buffer.data(), written);
  PathForm resolved = FormOfPath(*path);
  const wchar_t root[] = {(*path)[0], L':', L'\\', L'\0'};
  if (resolved == PathForm::kLocal && GetDriveTypeW(root) == DRIVE_REMOTE) resolved = PathForm::kNetwork;
  *found = resolved == PathForm::kLocal && IsFile(*path);
  return resolved;
}

bool Exists(const std::wstring &key, REGSAM view) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

bool ParseGuid(const std::wstring &text, GUID *guid) {
  // IIDFromString takes only the braced form, never a ProgID.
  return text.size() == 38 && text.front() == L'{' && SUCCEEDED(IIDFromString(text.c_str(), guid));
}

bool SameName(const std::wstring &a, const std::wstring &b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

namespace {

// A string value as RegGetValueW reads it with `flags`, and its type (may
// be null).
bool ReadText(const std::wstring &key, const wchar_t *name, DWORD flags, std::wstring *value, DWORD *type,
              REGSAM view) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS) {
    return false;
  }
  DWORD bytes = 0;
  LONG rc = RegGetValueW(handle, nullptr, name, flags, nullptr, nullptr, &bytes);
  if (rc == ERROR_SUCCESS) {
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    rc = RegGetValueW(handle, nullptr, name, flags, type, buffer.data(), &bytes);
    if (rc == ERROR_SUCCESS) value->assign(buffer.data());
  }
  RegCloseKey(handle);
  return rc == ERROR_SUCCESS;
}

// The program folders' variables in a path of the other view mean that
// view's folders; this process's environment holds its own.
std::wstring ForView(std::wstring text, REGSAM view) {
  if (view == 0 || view == OwnView()) return text;
  // The variable, its twin for the 32-bit view, its twin for the 64-bit one.
  static const wchar_t *const kTwins[][3] = {
      {L"%ProgramFiles%", L"%ProgramFiles(x86)%", L"%ProgramW6432%"},
      {L"%CommonProgramFiles%", L"%CommonProgramFiles(x86)%", L"%CommonProgramW6432%"}};
  for (const auto &twins : kTwins) {
    const std::wstring name = twins[0], twin = twins[view == KEY_WOW64_32KEY ? 1 : 2];
    for (size_t at = 0; at + name.size() <= text.size();) {
      if (SameName(text.substr(at, name.size()), name)) {
        text.replace(at, name.size(), twin);
        at += twin.size();
      } else {
        ++at;
      }
    }
  }
  return text;
}

}  // namespace

bool ReadString(const std::wstring &key, const wchar_t *name, std::wstring *value, REGSAM view) {
  return ReadText(key, name, RRF_RT_REG_SZ, value, nullptr, view);
}

bool ReadPath(const std::wstring &key, std::wstring *path, REGSAM view) {
  std::wstring stored;
  DWORD type = 0;
  if (!ReadText(key, nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &stored, &type, view)) return false;
  if (type != REG_EXPAND_SZ) {
    *path = stored;
    return true;
  }
  stored = ForView(stored, view);
  const DWORD length = ExpandEnvironmentStringsW(stored.c_str(), nullptr, 0);
  if (length == 0) return false;
  std::vector<wchar_t> buffer(length);
  const DWORD written = ExpandEnvironmentStringsW(stored.c_str(), buffer.data(), length);
  if (written == 0 || written > length) return false;
  path->assign(buffer.data());
  return true;
}

bool SetString(const std::wstring &key, const wchar_t *name, const std::wstring &value,
               std::vector<std::wstring> *created) {
  HKEY handle = nullptr;
  DWORD disposition = 0;
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                            nullptr, &handle, &disposition);
  if (rc != ERROR_SUCCESS) return false;
  if (disposition == REG_CREATED_NEW_KEY && created != nullptr) created->push_back(key);
  rc = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return rc == ERROR_SUCCESS;
}

bool DeleteTree(const std::wstring &key, REGSAM view) {
  // Through the parent: RegDeleteTreeW takes no view, but a key opened in
  // one keeps it.
  const size_t split = key.rfind(L'\\');
  HKEY parent = HKEY_CLASSES_ROOT;
  LONG rc = ERROR_SUCCESS;
  if (split != std::wstring::npos) {
    rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.substr(0, split).c_str(), 0, KEY_READ | view, &parent);
  }
  if (rc == ERROR_SUCCESS) {
    rc = RegDeleteTreeW(parent, split != std::wstring::npos ? key.c_str() + split + 1 : key.c_str());
    if (parent != HKEY_CLASSES_ROOT) RegCloseKey(parent);
  }
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool HoldsOnly(const std::wstring &key, const std::wstring &text, DWORD subkeys) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return false;
  DWORD held_subkeys = 0, values = 0;
  const LONG rc = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &held_subkeys, nullptr, nullptr, &values,
                                   nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(handle);
  // One value that reads as the default is the default alone.
  std::wstring held;
  return rc == ERROR_SUCCESS && held_subkeys == subkeys && values == 1 && ReadString(key, nullptr, &held) &&
         SameName(held, text);
}

bool RemoveValues(const std::wstring &key, const std::vector<std::wstring> &names) {
  HKEY handle = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &handle);
  if (rc == ERROR_FILE_NOT_FOUND) return true;
  if (rc != ERROR_SUCCESS) return false;
  bool removed = true;
  for (const std::wstring &name : names) {
    rc = RegDeleteValueW(handle, name.c_str());
    removed = (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) && removed;
  }
  DWORD subkeys = 0, values = 0;
  rc = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                        nullptr, nullptr);
  RegCloseKey(handle);
  if (rc != ERROR_SUCCESS) return false;
  if (subkeys != 0 || values != 0) return removed;
  rc = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  return (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) && removed;
}

KeyOwner OwnerOf(const std::wstring &key, const wchar_t *naming, const std::wstring &ours, REGSAM view) {
  if (!Exists(key, view)) return KeyOwner::kAbsent;
  std::wstring named;
  if (!ReadString(naming != nullptr ? key + L"\\" + naming : key, nullptr, &named, view)) return KeyOwner::kOther;
  return SameName(named, ours) ? KeyOwner::kOurs : KeyOwner::kOther;
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
