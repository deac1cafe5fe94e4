// Reading the registration; see registration_facts.h. The checks run in the
// order COM itself takes: the ProgID gives the class, the class its server
// keys, those their files; a server out of process needs the proxy/stub.
#include "registration_facts.h"

#include <algorithm>
#include <vector>

#include "class_facts.h"
#include "class_keys.h"
#include "opcda.h"
#include "report.h"
#include "server_file.h"
#include "server_list.h"

namespace {

using class_keys::GuidText;

std::wstring ViewsText(const std::vector<REGSAM> &views) {
  std::wstring text;
  for (REGSAM view : views) text += (text.empty() ? L"" : L" and ") + ViewText(view);
  return text;
}

std::wstring DescriptionText(const ClassFacts &facts) {
  return facts.description.empty() ? std::wstring() : L" \"" + Shown(facts.description.c_str()) + L"\"";
}

std::wstring ServerKeyText(const ClassServer &server) {
  return std::wstring(server.local ? L"LocalServer32" : L"InprocServer32") + L" (" + ViewText(server.view) + L")";
}

std::wstring MonitorFor(WORD machine) {
  if (machine == IMAGE_FILE_MACHINE_I386) return L"the 32-bit monitor (the win32 zip)";
  if (machine == IMAGE_FILE_MACHINE_AMD64) return L"the 64-bit monitor (the win64 zip)";
  return L"a monitor built for " + MachineText(machine);
}

// The ProgID in each view: the class it names, and CurVer where present.
// Returns the cause when it names none; `named` gets the class it names in
// any view, which tells more than the monitor's own view may.
std::wstring CheckProgId(const wchar_t *name, int resolved, GUID *named) {
  const std::wstring progid = name;
  const std::wstring shown = Shown(name);
  // A backslash would read another key than the ProgID's.
  std::vector<REGSAM> present;
  if (progid.find(L'\\') == std::wstring::npos && !progid.empty()) {
    for (REGSAM view : RegistryViews()) {
      if (class_keys::Exists(progid, view)) present.push_back(view);
    }
  }
  if (present.empty()) {
    const std::wstring servers = RegisteredNames(RegisteredServers());
    ReportLine(Check::kFail, "ProgID", L"nothing is registered under " + shown + L" in either view",
               L"install or register the server; the OPC DA servers registered: " + servers);
    return L"nothing is registered under that ProgID in either registry view (the OPC DA servers registered: " +
           servers + L")";
  }
  // One line per value, naming the views that hold it: on Windows both
  // views share the ProgID keys, under Wine each view has its own.
  const REGSAM ownView = ViewOfMachine(OwnMachine());
  struct Seen {
    bool curVer;
    std::wstring value;
    std::vector<REGSAM> views;
  };
  std::vector<Seen> seen;
  int naming = 0;
  for (REGSAM view : present) {
    for (const bool curVer : {false, true}) {
      std::wstring value;
      const bool read = class_keys::ReadString(progid + (curVer ? L"\\CurVer" : L"\\CLSID"), nullptr, &value, view);
      if (!read && curVer) continue;
      if (read && !curVer && naming == 0 && ParseGuid(value, named)) naming = 1;
      auto same = std::find_if(seen.begin(), seen.end(), [&](const Seen &entry) {
        return entry.curVer == curVer && entry.value == value && (read || entry.value.empty());
      });
      if (same == seen.end()) same = seen.insert(seen.end(), Seen{curVer, value, {}});
      same->views.push_back(view);
    }
  }
  for (const Seen &entry : seen) {
    const std::wstring where = L" (" + ViewsText(entry.views) + L")";
    const bool own = std::find(entry.views.begin(), entry.views.end(), ownView) != entry.views.end();
    if (entry.curVer) {
      ReportLine(Check::kInfo, "ProgID", L"CurVer names " + Shown(entry.value.c_str()) + where);
    } else if (entry.value.empty()) {
      ReportLine(Check::kFail, "ProgID", shown + L" names no class (no CLSID subkey)" + where,
                 L"register the server again");
    } else {
      // What the monitor's own lookup cannot see is only information.
      ReportLine(resolved || own ? Check::kOk : Check::kInfo, "ProgID",
                 shown + L" names the class " + Shown(entry.value.c_str()) + where);
    }
  }
  if (resolved) return std::wstring();
  if (naming == 0) return L"the ProgID names no class (no CLSID subkey or no class identifier in it)";
  if (std::find(present.begin(), present.end(), ownView) != present.end()) {
    return L"the ProgID's CLSID subkey holds no class identifier the monitor can read";
  }
  return L"the ProgID is registered only in the " + ViewsText(present) + L", which this monitor does not read";
}

std::wstring ServerLine(const ClassServer &server, Check *kind, std::wstring *next) {
  const std::wstring key = ServerKeyText(server);
  *kind = Check::kFail;
  *next = L"install the server again, or register it where it is now";
  if (server.file.path.empty()) return key + L" names no file";
  if (!server.file.found) return key + L" names " + Shown(server.file.path.c_str()) + L", which is not there";
  if (server.file.machine == 0) return key + L": " + Shown(server.file.path.c_str()) + L" is no program file";
  *kind = Check::kOk;
  next->clear();
  return key + L": " + Shown(server.file.path.c_str()) + L", " + MachineText(server.file.machine);
}

struct ProxiedInterface {
  const IID *iid;
  const wchar_t *name;
};
const ProxiedInterface kInterfaces[] = {{&IID_IOPCServer, L"IOPCServer"},
                                        {&IID_IOPCBrowseServerAddressSpace, L"IOPCBrowseServerAddressSpace"},
                                        {&IID_IOPCItemMgt, L"IOPCItemMgt"},
                                        {&IID_IOPCSyncIO, L"IOPCSyncIO"}};

// The proxy/stub of one interface in one view: what stands in its way,
// empty when COM can load it. `file` gets the DLL when there is one.
std::wstring ProxyStubGap(const ProxiedInterface &entry, REGSAM view, std::wstring *file) {
  std::wstring named;
  GUID clsid;
  if (!class_keys::ReadString(L"Interface\\" + GuidText(*entry.iid) + L"\\ProxyStubClsid32", nullptr, &named, view)) {
    return L"no ProxyStubClsid32";
  }
  if (!ParseGuid(named, &clsid)) return L"a ProxyStubClsid32 that names no class (" + Shown(named.c_str()) + L")";
  std::wstring value;
  if (!class_keys::ReadPath(L"CLSID\\" + GuidText(clsid) + L"\\InprocServer32", &value, view)) {
    return L"a proxy/stub class " + GuidText(clsid) + L" without InprocServer32";
  }
  const ServerFile dll = LocateServerFile(value, 0, view);
  *file = Shown(dll.path.c_str());
  if (!dll.found) return L"a proxy/stub DLL that is not there (" + *file + L")";
  if (dll.machine == 0 || ViewOfMachine(dll.machine) != view) {
    return L"a proxy/stub DLL that is " + MachineText(dll.machine) + L" (" + *file + L")";
  }
  return std::wstring();
}

std::wstring NamesText(const std::vector<std::wstring> &names) {
  std::wstring text;
  for (size_t i = 0; i < names.size(); ++i)
    text += (i == 0 ? L"" : i + 1 == names.size() ? L" and " : L", ") + names[i];
  return text;
}

// Each side of the connection loads the proxy/stub of its own architecture
// from its own view: one line per view, the interfaces grouped by what
// stands in their way. Returns the cause for the first view that lacks one.
std::wstring CheckProxyStubs(const std::vector<REGSAM> &views) {
  std::wstring cause;
  for (REGSAM view : views) {
    const bool monitors = view == ViewOfMachine(OwnMachine());
    const std::wstring side = ViewText(view) + (monitors ? L" (the monitor's)" : L" (the server's)");
    std::vector<std::wstring> files, gaps, missing;
    std::vector<std::vector<std::wstring>> gapNames;
    for (const ProxiedInterface &entry : kInterfaces) {
      std::wstring file;
      const std::wstring gap = ProxyStubGap(entry, view, &file);
      if (gap.empty()) {
        if (std::find(files.begin(), files.end(), file) == files.end()) files.push_back(file);
        continue;
      }
      missing.push_back(entry.name);
      const size_t at = static_cast<size_t>(std::find(gaps.begin(), gaps.end(), gap) - gaps.begin());
      if (at == gaps.size()) {
        gaps.push_back(gap);
        gapNames.emplace_back();
      }
      gapNames[at].push_back(entry.name);
    }
    if (missing.empty()) {
      ReportLine(Check::kOk, "proxy/stub", side + L": the four interfaces through " + NamesText(files));
      continue;
    }
    std::wstring fact;
    for (size_t i = 0; i < gaps.size(); ++i)
      fact += (i == 0 ? L"" : L"; ") + gaps[i] + L" for " + NamesText(gapNames[i]);
    ReportLine(Check::kFail, "proxy/stub", side + L": " + fact,
               L"regsvr32 \"<the folder of the " + std::wstring(view == KEY_WOW64_32KEY ? L"win32" : L"win64") +
                   L" zip>\\opcmon-ps.dll\", or install the OPC runtime");
    if (cause.empty()) {
      cause = L"no proxy/stub for " + NamesText(missing) + L" in the " + ViewText(view).substr(0, 6) +
              L" registry view" + (monitors ? L" (the monitor's side)" : L" (the server's side)");
    }
  }
  return cause;
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
  if (IsEqualGUID(named, GUID_NULL)) return findings;
  // Once the monitor's own lookup fails, that is why it fails; the class
  // tells only which monitor would reach it.
  const bool explains = findings.resolved != 0;

  // A class the monitor cannot reach may still tell why: what is
  // registered in the other view says which monitor would.
  const std::wstring clsid = GuidText(named);
  const ClassFacts facts = ReadClass(clsid);
  if (facts.views.empty()) {
    ReportLine(Check::kFail, "class", clsid + L" is not registered in either view", L"register the server again");
    if (explains) findings.cause = L"its class " + clsid + L" is not registered in either registry view";
    return findings;
  }
  ReportLine(Check::kOk, "class", clsid + DescriptionText(facts) + L" (" + ViewsText(facts.views) + L")");
  if (!facts.remote.empty()) {
    ReportLine(
        Check::kInfo, "class",
        L"its AppID names the remote server " + Shown(facts.remote.c_str()) + L": activation goes there through DCOM");
  }
  if (!facts.service.empty()) {
    ReportLine(Check::kInfo, "class",
               L"its AppID names the Windows service " + Shown(facts.service.c_str()) +
                   L": COM starts that service for a local activation");
  }
  if (facts.servers.empty() && facts.remote.empty() && facts.service.empty()) {
    ReportLine(Check::kFail, "class", clsid + L" has no server key (InprocServer32 or LocalServer32) in either view",
               L"register the server again");
    if (explains) {
      findings.cause = L"its class has no server key (InprocServer32 or LocalServer32) in either registry view";
    }
    return findings;
  }

  const WORD own = OwnMachine();
  const REGSAM ownView = ViewOfMachine(own);
  bool inProcess = false;
  const ClassServer *otherArchitecture = nullptr;
  const ClassServer *gone = nullptr;
  std::vector<REGSAM> proxyViews;
  bool local = !facts.remote.empty() || !facts.service.empty();
  if (local) proxyViews.push_back(ownView);
  for (const ClassServer &server : facts.servers) {
    Check kind;
    std::wstring next;
    const std::wstring fact = ServerLine(server, &kind, &next);
    ReportLine(kind, "server file", fact, next);
    if (kind != Check::kOk) {
      if (gone == nullptr) gone = &server;
    } else if (server.local) {
      local = true;
      for (REGSAM view : {ownView, ViewOfMachine(server.file.machine)}) {
        if (std::find(proxyViews.begin(), proxyViews.end(), view) == proxyViews.end()) proxyViews.push_back(view);
      }
    } else if (server.view == ownView && server.file.machine == own) {
      inProcess = true;
    } else if (otherArchitecture == nullptr) {
      otherArchitecture = &server;
    }
  }
  const bool localKey = std::any_of(facts.servers.begin(), facts.servers.end(),
                                    [](const ClassServer &server) { return server.local != 0; });
  findings.outOfProcess = !inProcess && (local || localKey) ? 1 : 0;
  if (inProcess) {
    ReportLine(Check::kOk, "server", L"in process, " + MachineText(own) + L" like this program");
  } else if (local) {
    const std::wstring gap = CheckProxyStubs(proxyViews);
    if (!gap.empty() && explains) findings.cause = gap;
  } else if (otherArchitecture != nullptr && otherArchitecture->file.machine == own) {
    // A DLL of the right machine under the wrong view's key.
    ReportLine(Check::kFail, "server",
               L"in process only under " + ServerKeyText(*otherArchitecture) + L", which this program does not read",
               L"register it again with regsvr32 of its own architecture");
    if (explains) {
      findings.cause = L"the in-process server is registered only in the " + ViewText(otherArchitecture->view) +
                       L", which a " + MachineText(own) + L" program does not read";
    }
  } else if (otherArchitecture != nullptr) {
    const WORD machine = otherArchitecture->file.machine;
    ReportLine(Check::kFail, "server",
               L"in process only, " + MachineText(machine) + L" (" + ServerKeyText(*otherArchitecture) +
                   L"); this program is " + MachineText(own),
               L"take " + MonitorFor(machine));
    findings.cause = L"the only server is in process and " + MachineText(machine) + L" (" +
                     Shown(otherArchitecture->file.path.c_str()) + L"): take " + MonitorFor(machine);
  } else if (gone != nullptr) {
    if (explains) {
      findings.cause = L"its server file " +
                       (gone->file.path.empty()
                            ? std::wstring(L"is not named")
                            : Shown(gone->file.path.c_str()) + (gone->file.found ? L" is no program" : L" is gone")) +
                       L" (" + ServerKeyText(*gone) + L")";
    }
  }
  return findings;
}
