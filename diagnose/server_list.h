// The OPC DA servers registered on this machine: the classes that list one
// of the OPC DA 1.0, 2.0 and 3.0 component categories under their
// Implemented Categories key, in either registry view.
#pragma once

#include <string>
#include <vector>

#include "class_facts.h"

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
