// Keys under HKEY_CLASSES_ROOT that another server may own. A ProgID users
// register their real server under, or a category every OPC server shares,
// must survive trying the simulation server: registration touches only what
// is absent or names our class, and unregistration removes only what names
// our class.
#pragma once

#include <windows.h>

#include <string>

namespace simserver {

// Whose a key is, by its default value or that of a subkey (a ProgID names
// its class in its CLSID subkey).
enum class KeyOwner { kAbsent, kOurs, kOther };

// `naming` is the subkey whose default value names the owner (nullptr for the
// key's own); `ours` is what it holds when the key is ours, compared without
// regard to case. A key that exists but names nothing is another's. `view` is
// 0 or KEY_WOW64_32KEY / KEY_WOW64_64KEY.
KeyOwner OwnerOf(const std::wstring &key, const wchar_t *naming, const std::wstring &ours, REGSAM view = 0);

bool KeyExists(const std::wstring &key, REGSAM view = 0);

// Creates the key if needed and sets one string value (nullptr: the default).
LONG SetString(const std::wstring &key, const wchar_t *name, const std::wstring &value);

// Removes the key with everything below it; true when it is gone.
bool DeleteTree(const std::wstring &key);

// Removes the key only while it is ours; true unless removing it failed.
bool DeleteIfOurs(const std::wstring &key, const wchar_t *naming, const std::wstring &ours);

}  // namespace simserver
