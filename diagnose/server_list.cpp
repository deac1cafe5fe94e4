// The registered OPC DA servers and opcdiag --list; see server_list.h.
#include "registration_facts.h"

#include <algorithm>

#include "class_keys.h"
#include "opcda.h"
#include "report.h"
#include "stop_request.h"

namespace {

struct Version {
  const GUID *category;
  const wchar_t *text;
};
const Version kVersions[] = {
    {&CATID_OPCDAServer10, L"1.0"}, {&CATID_OPCDAServer20, L"2.0"}, {&CATID_OPCDAServer30, L"3.0"}};

// The versions the class lists, empty for none. One open of its category
// key, then one per version: the walk visits every class of the view.
std::wstring ListedVersions(HKEY classes, const wchar_t *clsid, REGSAM view) {
  HKEY categories = nullptr;
  if (RegOpenKeyExW(classes, (std::wstring(clsid) + L"\\Implemented Categories").c_str(), 0, KEY_READ | view,
                    &categories) != ERROR_SUCCESS) {
    return std::wstring();
  }
  std::wstring versions;
  for (const Version &version : kVersions) {
    HKEY category = nullptr;
    if (RegOpenKeyExW(categories, class_keys::GuidText(*version.category).c_str(), 0, KEY_READ | view, &category) !=
        ERROR_SUCCESS) {
      continue;
    }
    RegCloseKey(category);
    versions += (versions.empty() ? L"" : L", ") + std::wstring(version.text);
  }
  RegCloseKey(categories);
  return versions;
}

std::wstring ServerText(const ClassServer &server) {
  std::wstring text = server.local ? L"EXE " : L"DLL ";
  if (server.file.form > PathForm::kRelative) {
    text += ShownPath(server.file.path) + L", " + PathFormText(server.file.form) + L", not opened";
  } else if (!server.file.found) {
    text += ShownPath(server.file.path) + L", not there";
  } else {
    text += MachineText(server.file.header.machine) + L" " + ShownPath(server.file.path);
  }
  return text + L" (" + ViewText(server.view) + L")";
}

}  // namespace

std::vector<ListedServer> RegisteredServers() {
  std::vector<ListedServer> servers;
  for (REGSAM view : RegistryViews()) {
    HKEY classes = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_READ | view, &classes) != ERROR_SUCCESS) continue;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
      DWORD length = sizeof name / sizeof name[0];
      const LONG rc = RegEnumKeyExW(classes, index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_MORE_DATA) continue;  // no class identifier is that long
      if (rc != ERROR_SUCCESS || StopRequested()) break;
      GUID clsid;
      if (!ParseGuid(name, &clsid)) continue;
      const std::wstring versions = ListedVersions(classes, name, view);
      if (versions.empty()) continue;
      const std::wstring text = class_keys::GuidText(clsid);
      const bool known =
          std::any_of(servers.begin(), servers.end(), [&](const ListedServer &server) { return server.clsid == text; });
      if (!known) servers.push_back({text, versions, ClassFacts()});
    }
    RegCloseKey(classes);
  }
  for (ListedServer &server : servers) server.facts = ReadClass(server.clsid);
  return servers;
}

std::wstring RegisteredNames(const std::vector<ListedServer> &servers) {
  constexpr size_t kNamed = 8;
  std::wstring names;
  for (size_t i = 0; i < servers.size() && i < kNamed; ++i) {
    const ClassFacts &facts = servers[i].facts;
    names += (i == 0 ? L"" : L", ") + (facts.progid.empty() ? servers[i].clsid : Shown(facts.progid.c_str()));
  }
  if (servers.size() > kNamed) names += L" and " + std::to_wstring(servers.size() - kNamed) + L" more";
  return names.empty() ? L"none" : names;
}

int ListServers() {
  const std::vector<ListedServer> servers = RegisteredServers();
  for (const ListedServer &server : servers) {
    const ClassFacts &facts = server.facts;
    std::wstring line = (facts.progid.empty() ? L"" : Shown(facts.progid) + L" ") + server.clsid;
    if (!facts.description.empty()) line += L" \"" + Shown(facts.description.c_str()) + L"\"";
    line += L" (DA " + server.versions + L"):";
    for (size_t i = 0; i < facts.servers.size(); ++i) line += (i == 0 ? L" " : L"; ") + ServerText(facts.servers[i]);
    if (!facts.service.empty()) line += L"; service " + Shown(facts.service.c_str());
    if (!facts.remote.empty()) line += L"; remote " + Shown(facts.remote.c_str());
    if (facts.servers.empty() && facts.service.empty() && facts.remote.empty()) line += L" no server key";
    ReportLine(Check::kInfo, "server", line);
  }
  const std::wstring views = TwoViews() ? L"the 64-bit and 32-bit registry views" : L"the registry";
  ReportLine(Check::kInfo, "servers",
             servers.empty() ? L"no OPC DA server (1.0, 2.0 or 3.0) is registered in " + views
                             : std::to_wstring(servers.size()) + L" OPC DA server(s) registered in " + views);
  return static_cast<int>(servers.size());
}
