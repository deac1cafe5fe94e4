// Keys under HKEY_CLASSES_ROOT as the registration tests stage and compare
// them, in either registry view: written from a list of string values, and
// read back whole as text, so that a key before and after a registration
// compare as two strings and a difference shows as one.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct RegistryValue {
  std::wstring key;   // under HKEY_CLASSES_ROOT
  std::wstring name;  // empty: the default value
  std::wstring text;
  DWORD type = REG_SZ;  // or REG_EXPAND_SZ
};

// Writes each value, creating its key as needed; false at the first that fails.
bool WriteRegistryValues(const std::vector<RegistryValue> &values, REGSAM view);

// Everything in the key and below it, one line for each subkey (`Sub\`) and
// each value (`Sub\name=text`, `@` for a default value, a REG_EXPAND_SZ
// marked `(expand)`, any other type as its number and bytes in hex), sorted;
// "(absent)" when there is no such key, "(unreadable)" where it cannot be
// read whole.
std::wstring RegistryTree(const std::wstring &key, REGSAM view);
