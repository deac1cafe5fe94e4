// Reading and writing keys under HKEY_CLASSES_ROOT for self-registration.
// Every key is named relative to HKEY_CLASSES_ROOT.
#pragma once

#include <windows.h>

#include <string>

namespace class_keys {

std::wstring GuidText(REFGUID guid);
// Whether text is a GUID in registry form naming guid.
bool NamesGuid(const std::wstring &text, REFGUID guid);
// Full path of the module (null: the process's program), however long.
bool ModulePath(HMODULE module, std::wstring *path);

// view: 0 for this process's own, KEY_WOW64_32KEY or KEY_WOW64_64KEY for
// either one (the same one on a system without the other).
bool Exists(const std::wstring &key, REGSAM view = 0);
// The string value (name null: the default value); false when absent.
bool ReadString(const std::wstring &key, const wchar_t *name, std::wstring *value);
bool SetString(const std::wstring &key, const wchar_t *name, const std::wstring &value);
// Removes the key with everything below it; true when it is gone.
bool DeleteTree(const std::wstring &key);
// Removes the key if nothing is left below it; true when it is gone or was
// kept because something is.
bool DeleteIfEmpty(const std::wstring &key);

}  // namespace class_keys
