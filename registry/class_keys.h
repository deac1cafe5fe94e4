// Reading and writing keys under HKEY_CLASSES_ROOT for self-registration.
// Every key is named relative to HKEY_CLASSES_ROOT. A ProgID users register
// their real server under, or an interface whose proxy an OPC runtime
// installed, must survive trying ours: registrations touch only what is
// absent or ours (names our class, or holds just what we write), and remove
// only that.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "server_paths.h"

namespace class_keys {

// Runs a registration; a failed allocation comes back as E_OUTOFMEMORY, as
// no exception may leave an export or a program's entry.
HRESULT Guarded(HRESULT (*registration)());

std::wstring GuidText(REFGUID guid);
// A braced GUID text read from the registry; false for anything else (a
// name with a backslash would reach beyond the key meant).
bool ParseGuid(const std::wstring &text, GUID *guid);
// Compares two names as the registry does: ordinal, without regard to case.
bool SameName(const std::wstring &a, const std::wstring &b);
// The registry view of this process's own architecture.
constexpr REGSAM OwnView() { return sizeof(void *) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }
// Full path of the module (null: the process's program), however long.
bool ModulePath(HMODULE module, std::wstring *path);

// Where a file that a key names is, judged by its form first (see
// server_paths.h): a bare name looked for along the search path as the
// loader would, any other made whole (a string operation), then judged
// again, a network drive included. Only a plain path on a local disk is
// looked at; *found says whether a file is there. Returns the form of the
// path as resolved, *path the path (as named when it was not resolved).
PathForm LocateFile(const std::wstring &named, const wchar_t *extension, std::wstring *path, bool *found);
bool IsFile(const std::wstring &path);

// view: 0 for this process's own, KEY_WOW64_32KEY or KEY_WOW64_64KEY for
// either one (the same one on a system without the other).
bool Exists(const std::wstring &key, REGSAM view = 0);
// The string value (name null: the default value); false when absent.
bool ReadString(const std::wstring &key, const wchar_t *name, std::wstring *value, REGSAM view = 0);
// The key's default value as a file name: REG_SZ, or REG_EXPAND_SZ with
// the environment's values put in (read in the other view, the program
// folders are that view's).
bool ReadPath(const std::wstring &key, std::wstring *path, REGSAM view = 0);
// Creates the key as needed (its parent must exist); when it does, the key is
// added to `created` (may be null).
bool SetString(const std::wstring &key, const wchar_t *name, const std::wstring &value,
               std::vector<std::wstring> *created = nullptr);
// Removes the key with everything below it; true when it is gone.
bool DeleteTree(const std::wstring &key, REGSAM view = 0);

// Whether the key holds nothing but its default value, the string `text`
// (compared without regard to case), and `subkeys` subkeys of whatever
// content.
bool HoldsOnly(const std::wstring &key, const std::wstring &text, DWORD subkeys);
// Removes the named values (an empty name: the default value), and then the
// key if that leaves it empty: what others added stays. True unless removing
// something failed.
bool RemoveValues(const std::wstring &key, const std::vector<std::wstring> &names);

// Whose a key is, by its default value or that of a subkey (a ProgID names
// its class in its CLSID subkey).
enum class KeyOwner { kAbsent, kOurs, kOther };

// `naming` is the subkey whose default value names the owner (nullptr for the
// key's own); `ours` is what it holds when the key is ours, compared without
// regard to case. A key that exists but names nothing is another's.
KeyOwner OwnerOf(const std::wstring &key, const wchar_t *naming, const std::wstring &ours, REGSAM view = 0);

// Removes the key only while it is ours; true unless removing it failed.
bool DeleteIfOurs(const std::wstring &key, const wchar_t *naming, const std::wstring &ours);

// One class served by an in-process DLL and a local server EXE, each of
// both architectures, under one ProgID. Each registers and removes only its
// own server key; what they share stays while any of them is registered.

// Whether the ProgID names another class or the class names another ProgID.
bool ClaimedByOther(REFCLSID clsid, const std::wstring &progid);
// The ProgID naming the class and the class with its description and ProgID.
bool WriteClass(REFCLSID clsid, const std::wstring &progid, const std::wstring &description);
// Removes `server` (InprocServer32 or LocalServer32) of the class in this
// process's view; the class once no server is left in that view; the ProgID
// once no server is left in either view, and only while it names the class.
// True unless removing something failed.
bool RemoveServer(REFCLSID clsid, const std::wstring &progid, const wchar_t *server);

}  // namespace class_keys
