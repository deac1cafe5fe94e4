// What the registry holds of one class in each registry view: its
// description and ProgID, its server keys and the files they name, and the
// remote server its AppID names. Read only. A server's file is judged by the
// form of its path first; only a plain file on a local disk is looked at,
// and read for its PE header (the architecture, DLL or EXE), never loaded or
// started.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

#include "server_paths.h"

struct ServerFile {
  // The path as found (a bare name resolved along the search path), or as
  // named when it is not there.
  std::wstring path;
  // kLocal once resolved; a form that is never opened is reported as such.
  PathForm form;
  int found;
  // Why a file that is there could not be read (0: read), as GetLastError.
  DWORD openError;
  PeHeader header;
  // The command line had more words than were tried.
  bool cut;
};

// `value` is the key's default value with the environment's values put in;
// a command line (LocalServer32) carries arguments after the path. `view`
// is the registry view it was read in, which decides the system folder a
// path into it means.
ServerFile LocateServerFile(const std::wstring &value, int commandLine, REGSAM view);

// The machine of this program.
constexpr WORD OwnMachine() { return sizeof(void *) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386; }

// Whether the system has a 32-bit view beside the 64-bit one (a 32-bit
// system has the one view only).
bool TwoViews();

// "32-bit", "64-bit", "ARM64", "machine 0x1C4", or "no program" for 0.
std::wstring MachineText(WORD machine);

// The registry view a process of that machine reads its classes from.
REGSAM ViewOfMachine(WORD machine);

// "64-bit view" or "32-bit view".
std::wstring ViewText(REGSAM view);

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
