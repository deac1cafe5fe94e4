// Reading the registration, and the servers registered; see
// registration_facts.h. The checks run in the order COM itself takes: the
// ProgID gives the class, the class its server keys, those their files; a
// server out of process needs the proxy/stub.
#include "registration_facts.h"

#include <algorithm>
#include <vector>

#include "class_facts.h"
#include "class_keys.h"
#include "opcda.h"
#include "opcproxy_clsid.h"
#include "report.h"
#include "stop_request.h"

namespace {

using class_keys::GuidText;

std::wstring ViewsText(const std::vector<REGSAM> &views) {
  std::wstring text;
  for (REGSAM view : views) text += (text.empty() ? L"" : L" and ") + ViewText(view);
  return text;
}

std::wstring ServerKeyText(const ClassServer &server) {
  return std::wstring(server.local ? L"LocalServer32" : L"InprocServer32") + L" (" + ViewText(server.view) + L")";
}

std::wstring MonitorFor(WORD machine) {
  if (machine == IMAGE_FILE_MACHINE_I386) return L"the 32-bit monitor (the win32 zip)";
  if (machine == IMAGE_FILE_MACHINE_AMD64) return L"the 64-bit monitor (the win64 zip)";
  return L"a monitor built for " + MachineText(machine);
}

// The ProgID in each view and the class it names. Returns the cause when it
// names none; `named` gets the class named in any view, which tells more
// than the monitor's own view may.
std::wstring CheckProgId(const wchar_t *name, int resolved, GUID *named) {
  const std::wstring progid = name, shown = Shown(name);
  std::vector<REGSAM> present;
  for (REGSAM view : RegistryViews()) {
    // A backslash would read another key than the ProgID's.
    const bool key = !progid.empty() && progid.find(L'\\') == std::wstring::npos;
    if (key && class_keys::Exists(progid, view)) present.push_back(view);
  }
  if (present.empty()) {
    const std::wstring servers = RegisteredNames(RegisteredServers());
    ReportLine(Check::kFail, "ProgID", L"nothing is registered under " + shown + L" in either view",
               L"install or register the server; the OPC DA servers registered: " + servers);
    return L"nothing is registered under that ProgID in either registry view (the OPC DA servers registered: " +
           servers + L")";
  }
  // One line per class named, with the views that hold it: on Windows both
  // views share the ProgID keys, under Wine each view has its own. An empty
  // value: no CLSID subkey, or one without a class identifier.
  const REGSAM ownView = class_keys::OwnView();
  std::vector<std::pair<std::wstring, std::vector<REGSAM>>> values;
  int naming = 0;
  for (REGSAM view : present) {
    std::wstring value;
    if (class_keys::ReadString(progid + L"\\CLSID", nullptr, &value, view) && naming == 0)
      naming = class_keys::ParseGuid(value, named);
    auto same = std::find_if(values.begin(), values.end(), [&](const auto &entry) { return entry.first == value; });
    (same == values.end() ? values.insert(values.end(), {value, {}}) : same)->second.push_back(view);
  }
  for (const auto &[value, views] : values) {
    const std::wstring where = L" (" + ViewsText(views) + L")";
    if (value.empty()) {
      ReportLine(Check::kFail, "ProgID", shown + L" names no class (no CLSID subkey)" + where,
                 L"register the server again");
    } else {
      // What the monitor's own lookup cannot see is only information.
      const bool own = std::find(views.begin(), views.end(), ownView) != views.end();
      ReportLine(resolved || own ? Check::kOk : Check::kInfo, "ProgID",
                 shown + L" names the class " + Shown(value) + where);
    }
  }
  if (resolved) return std::wstring();
  if (naming == 0) return L"the ProgID names no class (no CLSID subkey or no class identifier in it)";
  if (std::find(present.begin(), present.end(), ownView) != present.end())
    return L"the ProgID's CLSID subkey holds no class identifier the monitor can read";
  return L"the ProgID is registered only in the " + ViewsText(present) + L", which this monitor does not read";
}

// What keeps COM from using a server's file for its key; empty: nothing.
std::wstring FileProblem(const ServerFile &file, int local) {
  const std::wstring path = ShownPath(file.path);
  if (file.path.empty()) return L"names no file";
  if (file.form > PathForm::kRelative)
    return L"names " + path + L", " + PathFormText(file.form) + L", which opcdiag does not open";
  if (!file.found) {
    return L"names " + path + L", which is not there" +
           (file.cut ? L" (unquoted: only its first " + std::to_wstring(MOST_PROGRAM_PATHS) +
                           L" words were tried; quote the program's path)"
                     : L"");
  }
  if (file.openError != 0)
    return L"names " + path + L", which cannot be read: " + CodeText(HRESULT_FROM_WIN32(file.openError), L"");
  if (file.header.machine == 0) return L"names " + path + L", which is no program file (no PE header)";
  if (file.header.dll == local) {
    return L"names " + path +
           (local ? L", a DLL: COM starts no DLL as a local server"
                  : L", a program (EXE): COM loads only a DLL in process");
  }
  return std::wstring();
}

// The proxy/stub of one interface in one view: what stands in its way,
// empty when COM can load it. `file` gets the DLL when there is one.
std::wstring ProxyStubGap(const ProxiedInterface &entry, REGSAM view, std::wstring *file) {
  std::wstring named;
  GUID clsid;
  if (!class_keys::ReadString(L"Interface\\" + GuidText(*entry.iid) + L"\\ProxyStubClsid32", nullptr, &named, view))
    return L"no ProxyStubClsid32";
  if (!class_keys::ParseGuid(named, &clsid))
    return L"a ProxyStubClsid32 that names no class (" + Shown(named.c_str()) + L")";
  std::wstring value;
  if (!class_keys::ReadPath(L"CLSID\\" + GuidText(clsid) + L"\\InprocServer32", &value, view))
    return L"a proxy/stub class " + GuidText(clsid) + L" without InprocServer32";
  const ServerFile dll = LocateServerFile(value, 0, view);
  *file = ShownPath(dll.path);
  const std::wstring problem = FileProblem(dll, 0);
  if (!problem.empty()) return L"a proxy/stub class " + GuidText(clsid) + L" whose InprocServer32 " + problem;
  if (ViewOfMachine(dll.header.machine) != view)
    return L"a proxy/stub DLL that is " + MachineText(dll.header.machine) + L" (" + *file + L")";
  return std::wstring();
}

std::wstring NamesText(const std::vector<std::wstring> &names) {
  std::wstring text;
  for (size_t i = 0; i < names.size(); ++i)
    text += (i == 0 ? L"" : i + 1 == names.size() ? L" and " : L", ") + names[i];
  return text;
}

// The line that registers the zip's proxy/stub for `view`: this program's
// folder holds the one of its own architecture.
std::wstring RegisterProxyStub(REGSAM view) {
  std::wstring program;
  const std::wstring zip = view == KEY_WOW64_32KEY ? L"win32" : L"win64";
  const std::wstring folder = view == class_keys::OwnView() && class_keys::ModulePath(nullptr, &program)
                                  ? ShownPath(program.substr(0, program.rfind(L'\\')))
                                  : L"<the folder of the " + zip + L" zip>";
  return L"from an administrator's prompt: regsvr32 \"" + folder + L"\\" + PROXY_STUB_FILE + L"\" (the " + zip +
         L" zip's proxy/stub)";
}

// Each side of the connection loads the proxy/stub of its own architecture
// from its own view: one line per view, the interfaces grouped by what
// stands in their way. Returns the cause for the first view that lacks one.
std::wstring CheckProxyStubs(const std::vector<REGSAM> &views) {
  std::wstring cause;
  for (REGSAM view : views) {
    const bool monitors = view == class_keys::OwnView();
    const std::wstring side = ViewText(view) + (monitors ? L" (the monitor's)" : L" (the server's)");
    std::vector<std::wstring> files, missing;
    std::vector<std::pair<std::wstring, std::vector<std::wstring>>> gaps;  // what stands in the way, and for which
    for (const ProxiedInterface &entry : kProxiedInterfaces) {
      std::wstring file;
      const std::wstring gap = ProxyStubGap(entry, view, &file);
      if (gap.empty()) {
        if (std::find(files.begin(), files.end(), file) == files.end()) files.push_back(file);
        continue;
      }
      missing.push_back(entry.name);
      auto same = std::find_if(gaps.begin(), gaps.end(), [&](const auto &known) { return known.first == gap; });
      (same == gaps.end() ? gaps.insert(gaps.end(), {gap, {}}) : same)->second.push_back(entry.name);
    }
    if (missing.empty()) {
      ReportLine(Check::kOk, "proxy/stub", side + L": the four interfaces through " + NamesText(files));
      continue;
    }
    std::wstring fact;
    for (size_t i = 0; i < gaps.size(); ++i)
      fact += (i == 0 ? L"" : L"; ") + gaps[i].first + L" for " + NamesText(gaps[i].second);
    ReportLine(Check::kFail, "proxy/stub", side + L": " + fact,
               L"install the OPC runtime, or " + RegisterProxyStub(view));
    if (cause.empty()) {
      cause = L"no proxy/stub for " + NamesText(missing) + L" in the " + ViewText(view).substr(0, 6) +
              L" registry view" + (monitors ? L" (the monitor's side)" : L" (the server's side)");
    }
  }
  return cause;
}

struct Version {
  const GUID *category;
  const wchar_t *text;
};
const Version kVersions[] = {
    {&CATID_OPCDAServer10, L"1.0"}, {&CATID_OPCDAServer20, L"2.0"}, {&CATID_OPCDAServer30, L"3.0"}};

// The versions the class lists, empty for none. The walk visits every class
// of the view: most end at the first key, which they lack.
std::wstring ListedVersions(const std::wstring &clsid, REGSAM view) {
  const std::wstring categories = L"CLSID\\" + clsid + L"\\Implemented Categories";
  std::wstring versions;
  if (!class_keys::Exists(categories, view)) return versions;
  for (const Version &version : kVersions) {
    if (!class_keys::Exists(categories + L"\\" + class_keys::GuidText(*version.category), view)) continue;
    versions += (versions.empty() ? L"" : L", ") + std::wstring(version.text);
  }
  return versions;
}

std::wstring ServerText(const ClassServer &server) {
  const std::wstring problem = FileProblem(server.file, server.local);
  return std::wstring(server.local ? L"EXE " : L"DLL ") +
         (problem.empty() ? MachineText(server.file.header.machine) + L" " + ShownPath(server.file.path) : problem) +
         L" (" + ViewText(server.view) + L")";
}

}  // namespace

RegistrationFindings CheckRegistration(const wchar_t *name) {
  RegistrationFindings findings{};
  // Exactly as the monitor turns its ProgID into a class.
  findings.resolved = SUCCEEDED(CLSIDFromString(name, &findings.clsid)) ? 1 : 0;
  GUID named = GUID_NULL;
  if (name[0] != L'{') findings.cause = CheckProgId(name, findings.resolved, &named);
  if (findings.resolved) named = findings.clsid;
  if (!findings.resolved && findings.cause.empty()) {
    ReportLine(Check::kFail, "class", Shown(name) + L" is no class identifier", L"give it as {XXXXXXXX-XXXX-...}");
    findings.cause = L"that is no class identifier";
  }
  // A stop request is taken between any two steps, as in the stages after.
  if (IsEqualGUID(named, GUID_NULL) || StopRequested()) return findings;
  // Once the monitor's own lookup fails, that is why it fails; the class
  // tells only which monitor would reach it.
  const bool explains = findings.resolved != 0;

  // A class the monitor cannot reach may still tell why: what is
  // registered in the other view says which monitor would.
  const std::wstring clsid = GuidText(named);
  const ClassFacts facts = ReadClass(clsid);
  if (StopRequested()) return findings;
  // The class's own keys missing: said, and the cause when it is the monitor's.
  const auto missing = [&](const std::wstring &fact, const std::wstring &cause) {
    ReportLine(Check::kFail, "class", clsid + fact + L" in either view", L"register the server again");
    if (explains) findings.cause = cause + L" in either registry view";
    return findings;
  };
  if (facts.views.empty()) return missing(L" is not registered", L"its class " + clsid + L" is not registered");
  const std::wstring description = facts.description.empty() ? L"" : L" \"" + Shown(facts.description) + L"\"";
  ReportLine(Check::kOk, "class", clsid + description + L" (" + ViewsText(facts.views) + L")");
  if (!facts.remote.empty()) {
    ReportLine(Check::kInfo, "class",
               L"its AppID names the remote server " + Shown(facts.remote) + L": activation goes there through DCOM");
  }
  if (!facts.service.empty()) {
    ReportLine(Check::kInfo, "class",
               L"its AppID names the Windows service " + Shown(facts.service) +
                   L": COM starts that service for a local activation");
  }
  if (facts.servers.empty() && facts.remote.empty() && facts.service.empty()) {
    return missing(L" has no server key (InprocServer32 or LocalServer32)",
                   L"its class has no server key (InprocServer32 or LocalServer32)");
  }

  const WORD own = OwnMachine();
  const REGSAM ownView = class_keys::OwnView();
  bool inProcess = false;
  const ClassServer *otherArchitecture = nullptr;
  const ClassServer *gone = nullptr;
  std::vector<REGSAM> proxyViews;
  bool local = !facts.remote.empty() || !facts.service.empty();
  if (local) proxyViews.push_back(ownView);
  for (const ClassServer &server : facts.servers) {
    if (StopRequested()) return findings;
    const std::wstring key = ServerKeyText(server), problem = FileProblem(server.file, server.local);
    if (!problem.empty()) {
      ReportLine(Check::kFail, "server file", key + L" " + problem,
                 L"install the server again, or register it where it is now");
      if (gone == nullptr) gone = &server;
      continue;
    }
    ReportLine(Check::kOk, "server file",
               key + L": " + ShownPath(server.file.path) + L", " + MachineText(server.file.header.machine));
    if (server.local) {
      local = true;
      for (REGSAM view : {ownView, ViewOfMachine(server.file.header.machine)}) {
        if (std::find(proxyViews.begin(), proxyViews.end(), view) == proxyViews.end()) proxyViews.push_back(view);
      }
    } else if (server.view == ownView && server.file.header.machine == own) {
      inProcess = true;
    } else if (otherArchitecture == nullptr) {
      otherArchitecture = &server;
    }
  }
  if (inProcess) {
    ReportLine(Check::kOk, "server", L"in process, " + MachineText(own) + L" like this program");
  } else if (local) {
    const std::wstring gap = CheckProxyStubs(proxyViews);
    if (!gap.empty() && explains) findings.cause = gap;
  } else if (otherArchitecture != nullptr && otherArchitecture->file.header.machine == own) {
    // A DLL of the right machine under the wrong view's key.
    ReportLine(Check::kFail, "server",
               L"in process only under " + ServerKeyText(*otherArchitecture) + L", which this program does not read",
               L"register it again with regsvr32 of its own architecture");
    if (explains) {
      findings.cause = L"the in-process server is registered only in the " + ViewText(otherArchitecture->view) +
                       L", which a " + MachineText(own) + L" program does not read";
    }
  } else if (otherArchitecture != nullptr) {
    const WORD machine = otherArchitecture->file.header.machine;
    ReportLine(Check::kFail, "server",
               L"in process only, " + MachineText(machine) + L" (" + ServerKeyText(*otherArchitecture) +
                   L"); this program is " + MachineText(own),
               L"take " + MonitorFor(machine));
    findings.cause = L"the only server is in process and " + MachineText(machine) + L" (" +
                     ShownPath(otherArchitecture->file.path) + L"): take " + MonitorFor(machine);
  } else if (gone != nullptr) {
    if (explains)
      findings.cause = L"its server key " + ServerKeyText(*gone) + L" " + FileProblem(gone->file, gone->local);
  }
  return findings;
}

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
      if (!class_keys::ParseGuid(name, &clsid)) continue;
      const std::wstring text = class_keys::GuidText(clsid), versions = ListedVersions(text, view);
      if (versions.empty()) continue;
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
