// What the registry holds of one class in each registry view: its
// description and ProgID, its server keys and the files they name, and the
// remote server its AppID names. Read only.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

#include "server_file.h"

struct ClassServer {
  REGSAM view;
  // LocalServer32 (a process of its own) rather than InprocServer32.
  int local;
  // The key's default value as registered, environment values put in.
  std::wstring value;
  ServerFile file;
};

struct ClassFacts {
  // Views (KEY_WOW64_64KEY, KEY_WOW64_32KEY) that hold the class key.
  std::vector<REGSAM> views;
  std::wstring description;
  std::wstring progid;
  std::vector<ClassServer> servers;
  // RemoteServerName of the class's AppID, empty when it names none.
  std::wstring remote;
  // LocalService of the class's AppID: the server runs as that Windows
  // service, which needs no LocalServer32.
  std::wstring service;
};

// The views of this system, the 64-bit one first (a 32-bit system: one).
std::vector<REGSAM> RegistryViews();

// `clsid` is a braced class identifier as GuidText writes it.
ClassFacts ReadClass(const std::wstring &clsid);

// A braced GUID text read from the registry, normalised; false for
// anything else (a name with a backslash would reach beyond the key meant).
bool ParseGuid(const std::wstring &text, GUID *guid);
