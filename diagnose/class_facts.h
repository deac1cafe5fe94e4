// What the registry holds of one class in each registry view: its
// description and ProgID, its server keys and the files they name, and what
// its AppID names. Read only. A server's file is judged by the form of its
// path first; only a plain file on a local disk is read, for its PE header
// (architecture, DLL or EXE), never loaded or started.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "server_paths.h"

struct ServerFile {
  std::wstring path;  // as found (a bare name resolved), or as named when not there
  PathForm form;      // kLocal once resolved; other forms are never opened
  bool found;
  DWORD openError;  // why a file that is there could not be read (0: read)
  PeHeader header;
  bool cut;  // the command line had more words than were tried
};

// `value` is the key's default value, the environment's values put in; a
// command line (LocalServer32) carries arguments after the path. The view
// it was read in decides the system folder a path into it means.
ServerFile LocateServerFile(const std::wstring &value, int commandLine, REGSAM view);

constexpr WORD OwnMachine() { return sizeof(void *) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386; }
// The system has a 32-bit view beside the 64-bit one.
bool TwoViews();
// Those views, the 64-bit one first.
std::vector<REGSAM> RegistryViews();
// "32-bit", "64-bit", "ARM64", "machine 0x1C4", or "no program" for 0.
std::wstring MachineText(WORD machine);
// The view a process of that machine reads its classes from, and its name.
REGSAM ViewOfMachine(WORD machine);
std::wstring ViewText(REGSAM view);

struct ClassServer {
  REGSAM view;
  int local;           // LocalServer32 rather than InprocServer32
  std::wstring value;  // the key's default value, environment values put in
  ServerFile file;
};

struct ClassFacts {
  std::vector<REGSAM> views;  // those that hold the class key
  std::wstring description;
  std::wstring progid;
  std::vector<ClassServer> servers;
  // From its AppID: RemoteServerName, and LocalService (a Windows service,
  // which needs no LocalServer32); empty when it names none.
  std::wstring remote, service;
};

// `clsid` is a braced class identifier as GuidText writes it.
ClassFacts ReadClass(const std::wstring &clsid);
