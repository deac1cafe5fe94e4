// What the registry says of a server, read without changing anything: the
// ProgID and class keys in both registry views, the server's file and its
// architecture and, for a server out of process, the proxy/stub of the
// interfaces the monitor uses. Also the OPC DA servers registered here.
#pragma once

#include <objbase.h>
#include <windows.h>

#include <string>
#include <vector>

#include "class_facts.h"

struct RegistrationFindings {
  int resolved;  // the name (a ProgID or a braced CLSID) gave a class
  CLSID clsid;
  // Why an activation must fail as far as the registry tells (empty: it
  // tells of nothing wrong), said in the verdict when it does fail.
  std::wstring cause;
};

// Checks the registration of `name`, one report line per check.
RegistrationFindings CheckRegistration(const wchar_t *name);

// A class that lists one of the OPC DA 1.0, 2.0 and 3.0 categories under
// its Implemented Categories, in either view; `versions` "1.0, 2.0".
struct ListedServer {
  std::wstring clsid;
  std::wstring versions;
  ClassFacts facts;
};
std::vector<ListedServer> RegisteredServers();
// Their ProgIDs (or class identifiers), shown, a few at most; "none".
std::wstring RegisteredNames(const std::vector<ListedServer> &servers);
// Prints them (opcdiag --list); returns how many.
int ListServers();
