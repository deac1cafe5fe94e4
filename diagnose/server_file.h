// A server's file as its registration names it: the path out of an
// InprocServer32 value or a LocalServer32 command line, judged by its form
// first; only a plain file on a local disk is looked at, and read for its
// PE header (the architecture, DLL or EXE), never loaded or started.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

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
