// What the registry says of a server, read without changing anything: the
// ProgID and class keys in both registry views, the server's file and its
// architecture, and, for a server that is not in process, the proxy/stub of
// the interfaces the monitor uses. Also the list of the OPC DA servers
// registered on this machine.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "class_facts.h"

struct RegistrationFindings {
  // The name (a ProgID or a braced CLSID) gave a class identifier.
  int resolved;
  CLSID clsid;
  // Why an activation must fail, as far as the registry tells (empty when
  // it tells of nothing wrong); said after the monitor's words in the
  // verdict when the activation fails.
  std::wstring cause;
};

// Checks the registration of `name`, printing one report line per check.
RegistrationFindings CheckRegistration(const wchar_t *name);

// The OPC DA servers registered on this machine: the classes that list one
// of the OPC DA 1.0, 2.0 and 3.0 component categories under their
// Implemented Categories key, in either registry view.
struct ListedServer {
  std::wstring clsid;
  // "1.0", "2.0", "3.0", those it lists, separated by commas.
  std::wstring versions;
  ClassFacts facts;
};

std::vector<ListedServer> RegisteredServers();

// Their ProgIDs (or class identifiers where they name none), shown by the
// monitor's rule, a few at most; "none" for no server.
std::wstring RegisteredNames(const std::vector<ListedServer> &servers);

// Prints them (opcdiag --list); returns how many.
int ListServers();
