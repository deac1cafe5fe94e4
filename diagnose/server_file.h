// A server's file as its registration names it: the path out of an
// InprocServer32 value or a LocalServer32 command line, whether the file is
// there, and the architecture its PE header names. The file is read, never
// loaded or started.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

struct ServerFile {
  // The path as found (a bare name resolved along the search path), or as
  // named when it is not there.
  std::wstring path;
  int found;
  // IMAGE_FILE_MACHINE_* of its PE header; 0 when absent or no program.
  WORD machine;
};

// `value` is the key's default value with the environment's values put in;
// a command line (LocalServer32) carries arguments after the path. `view`
// is the registry view it was read in (KEY_WOW64_32KEY or KEY_WOW64_64KEY),
// which decides the system folder a path into it means.
ServerFile LocateServerFile(const std::wstring &value, int commandLine, REGSAM view);

// The machine of this process's own program.
WORD OwnMachine();

// Whether the system has a 32-bit view beside the 64-bit one (a 32-bit
// system has the one view only).
bool TwoViews();

// "32-bit", "64-bit", "ARM64", "machine 0x1C4", or "no program" for 0.
std::wstring MachineText(WORD machine);

// The registry view a process of that machine reads its classes from.
REGSAM ViewOfMachine(WORD machine);

// "64-bit view" or "32-bit view".
std::wstring ViewText(REGSAM view);
