// The walk as a table; see walk.h. A row holds its call as the watchdog
// names it (whether the monitor makes it, its limit), the code that runs it
// and the decision on what it saw: a label, a limit and a verdict stand in
// one place. The monitor's calls are its own (opcda/); opcdiag's own come
// after them, or where a failure needs telling apart. A stop request
// (Ctrl+C, Ctrl+Break) is taken between any two steps.
#include "walk.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "browse.h"
#include "class_facts.h"
#include "class_keys.h"
#include "connection.h"
#include "group.h"
#include "read.h"
#include "record_text.h"
#include "registration_facts.h"
#include "report.h"
#include "server_call.h"
#include "server_progid.h"
#include "stop_request.h"

namespace {

struct Walk {
  const wchar_t *name;
  WalkSeen seen;
  RegistrationFindings findings;
  IOPCServer *server;
  TagNameTable names;
  IOPCItemMgt *itemMgt;
  OPCHANDLE group;
  ItemHandleTable handles;
  bool decided;  // the monitor's outcome is known: its later stages are not walked
  std::wstring verdict;
  int status;
  const char *stoppedIn;
};

int Stopped(Walk &walk, const char *stage) {
  if (walk.stoppedIn == nullptr && StopRequested()) walk.stoppedIn = stage;
  return walk.stoppedIn != nullptr;
}

void Hold(const Walk &walk) { Holding(walk.server != nullptr, walk.itemMgt != nullptr, walk.handles.count); }

const ServerCall kErrorStringCall = {"error text", L"IOPCServer::GetErrorString", false, 60};
const ServerCall kContextCalls[] = {{"activation", L"CoCreateInstanceEx(CLSCTX_INPROC_SERVER)", false, 150},
                                    {"activation", L"CoCreateInstanceEx(CLSCTX_LOCAL_SERVER)", false, 150},
                                    {"activation", L"CoCreateInstanceEx(CLSCTX_REMOTE_SERVER)", false, 150}};
const DWORD kContexts[] = {CLSCTX_INPROC_SERVER, CLSCTX_LOCAL_SERVER, CLSCTX_REMOTE_SERVER};

void CheckRegistry(Walk &walk, const ServerCall &) {
  walk.findings = CheckRegistration(walk.name);
  walk.seen.cause = walk.findings.cause;
}

void Activate(Walk &walk, const ServerCall &) {
  walk.server = ConnectServer(walk.name, CLSCTX_ALL, &walk.seen.activation);
  Hold(walk);
}

// One activation per context tells which is registered and which fails.
void ActivatePerContext(Walk &walk, const ServerCall &) {
  for (int i = 0; i < 3 && !Stopped(walk, "activation"); ++i) {
    ActivationResult result;
    CallStarted(kContextCalls[i]);
    IOPCServer *created = ConnectServer(walk.name, kContexts[i], &result);
    if (created != nullptr) created->Release();
    CallEnded();
    const HRESULT failure = FAILED(result.activation) ? result.activation : result.entry;
    walk.seen.contexts[i] = created != nullptr ? S_OK : FAILED(failure) ? failure : E_NOINTERFACE;
    walk.seen.contextsTried = i + 1;
  }
}

const ServerCall kBrowseCall = {
    "browse", L"the flat browse (QueryInterface for IOPCBrowseServerAddressSpace, BrowseOPCItemIDs, IEnumString::Next)",
    true, 60};

// The browse's stop check, asked before each name and each enumeration,
// marks its calls for the watchdog.
int MarkBrowseCall() {
  CallStarted(kBrowseCall);
  return StopRequested();
}

void Browse(Walk &walk, const ServerCall &) {
  walk.names = BrowseTagNames(walk.server, MarkBrowseCall, &walk.seen.browse);
  WatchTagNames(&walk.names);
}

void CreateGroup(Walk &walk, const ServerCall &) {
  HRESULT hr = S_OK;
  walk.seen.groupCreated = CreateMonitorGroup(walk.server, &walk.itemMgt, &walk.group, &hr);
  walk.seen.group = hr;
  Hold(walk);
}

void RegisterTags(Walk &walk, const ServerCall &call) {
  const LONG count = walk.names.count;
  walk.seen.tags = count;
  // Never a null array, as the monitor's: RemoveItems gets a valid pointer.
  walk.handles.handles =
      static_cast<OPCHANDLE *>(calloc(count > 0 ? static_cast<size_t>(count) : 1, sizeof(OPCHANDLE)));
  walk.seen.handlesMissing = walk.handles.handles == nullptr;
  for (LONG i = 0; i < count && !walk.seen.handlesMissing && !Stopped(walk, "items"); ++i) {
    HRESULT hr = S_OK, itemError = S_OK;
    CallStarted(call, i);
    const int registered = RegisterItem(walk.itemMgt, walk.names.entries[i], &walk.handles.handles[i], &hr, &itemError);
    CallEnded();
    if (!registered) {
      walk.seen.call = hr;
      walk.seen.itemError = itemError;
      walk.seen.failedTag = TagText(walk.names, i);
      walk.seen.nameless = walk.names.entries[i] == nullptr;
      return;
    }
    walk.seen.registered = walk.handles.count = i + 1;
    Hold(walk);
  }
}

void Failure(ReadFailures &failures, const Walk &walk, LONG tag, HRESULT code) {
  if (failures.count++ > 0) return;
  failures.firstTag = TagText(walk.names, tag);
  failures.code = code;
}

void ReadItems(Walk &walk, const ServerCall &call) {
  WalkSeen &seen = walk.seen;
  char valueText[TEXT_BUFFER_SIZE], qualityText[TEXT_BUFFER_SIZE];
  ItemSample sample;
  for (LONG i = 0; i < walk.handles.count && !Stopped(walk, "reads"); ++i) {
    HRESULT syncQuery = S_OK, read = S_OK;
    VariantInit(&sample.value);
    CallStarted(call, i);
    const int filled = ReadItemSample(walk.itemMgt, walk.handles.handles[i], sample, &syncQuery, &read);
    CallEnded();
    if (FAILED(syncQuery)) {
      Failure(seen.syncRefused, walk, i, syncQuery);
    } else if (!filled) {
      Failure(seen.readsFailed, walk, i, read);
      // A server gone fails every read alike, each after a wait of its own.
      seen.gone = ServerGone(read);
      if (seen.gone) break;
    } else {
      ++seen.records;
      ValueText(sample.value, valueText);
      seen.unknownValues += strcmp(valueText, "?") == 0;
      seen.otherTypes += valueText[0] == '\0';
      QualityText(sample.quality, qualityText);
      const std::wstring word = Widened(qualityText);
      auto same = std::find_if(seen.qualities.begin(), seen.qualities.end(), [&](auto &q) { return q.word == word; });
      ++(same == seen.qualities.end() ? seen.qualities.insert(same, {word, 0}) : same)->count;
    }
    VariantClear(&sample.value);
  }
}

void CheckStatus(Walk &walk, const ServerCall &call) {
  OPCSERVERSTATUS *status = nullptr;
  const HRESULT hr = walk.server->GetStatus(&status);
  walk.seen.statusCode = FAILED(hr) ? hr : status == nullptr ? E_POINTER : S_OK;
  if (ServerGone(walk.seen.statusCode)) walk.seen.diedIn = call.name;
  if (SUCCEEDED(walk.seen.statusCode)) {
    walk.seen.state = static_cast<uint32_t>(status->dwServerState);
    walk.seen.groups = status->dwGroupCount;
    wchar_t version[48];
    swprintf(version, 48, L"\" version %u.%u.%u, ", status->wMajorVersion, status->wMinorVersion, status->wBuildNumber);
    walk.seen.statusFact = L"\"" + Shown(status->szVendorInfo != nullptr ? status->szVendorInfo : L"") + version;
  }
  if (status != nullptr) CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
}

void CheckOrganization(Walk &walk, const ServerCall &call) {
  IOPCBrowseServerAddressSpace *browse = nullptr;
  HRESULT hr = walk.server->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void **>(&browse));
  if (FAILED(hr) && browse != nullptr) browse->Release();
  if (FAILED(hr) || browse == nullptr) return;
  OPCNAMESPACETYPE organization = OPC_NS_FLAT;
  hr = browse->QueryOrganization(&organization);
  browse->Release();
  if (ServerGone(hr)) walk.seen.diedIn = call.name;
  ReportLine(Check::kInfo, "browse",
             FAILED(hr)                    ? L"QueryOrganization: " + CodeText(hr, L"")
             : organization == OPC_NS_FLAT ? L"address space flat"
                                           : L"address space hierarchical");
}

void RemoveItems(Walk &walk, const ServerCall &) {
  UnregisterItems(walk.itemMgt, walk.handles);
  ReportLine(Check::kInfo, "teardown", L"items removed");
}

void RemoveGroup(Walk &walk, const ServerCall &) {
  DeleteMonitorGroup(walk.server, walk.itemMgt, walk.group);
  walk.itemMgt = nullptr;
  walk.handles.count = 0;
  Hold(walk);
  ReportLine(Check::kInfo, "teardown", Widened(LINE_GROUP_RELEASED));
}

void ReleaseServer(Walk &walk, const ServerCall &) {
  walk.server->Release();
  walk.server = nullptr;
  Hold(walk);
  ReportLine(Check::kInfo, "teardown", Widened(LINE_SERVER_RELEASED));
}

struct Stage {
  ServerCall call;
  bool (*when)(const Walk &);
  void (*run)(Walk &, const ServerCall &);
  Decision (*decide)(const WalkSeen &);  // null: the row reports for itself
};

bool Always(const Walk &) { return true; }
bool Unreached(const Walk &walk) { return walk.server == nullptr && SUCCEEDED(walk.seen.activation.lookup); }
bool Connected(const Walk &walk) { return walk.server != nullptr; }
bool Walking(const Walk &walk) { return walk.server != nullptr && !walk.decided; }
bool Grouped(const Walk &walk) { return Walking(walk) && walk.itemMgt != nullptr; }
bool Asking(const Walk &walk) { return walk.server != nullptr && !walk.seen.gone && walk.seen.diedIn == nullptr; }
bool Polled(const Walk &walk) { return walk.itemMgt != nullptr && RemovesItems(walk.seen); }
bool Holds(const Walk &walk) { return walk.itemMgt != nullptr; }

// Activation waits longer than COM itself waits for a server to start
// (about two minutes on Windows), so that COM's own answer comes first.
const Stage kStages[] = {
    {{"registration", L"reading the registry and the server's files", false, 60}, Always, CheckRegistry, nullptr},
    {{"activation", L"CoCreateInstanceEx(CLSCTX_ALL)", true, 150}, Always, Activate, DecideActivation},
    {{"activation", L"CoCreateInstanceEx per class context", false, 150},
     Unreached,
     ActivatePerContext,
     DecideContexts},
    {kBrowseCall, Walking, Browse, DecideBrowse},
    {{"group", L"IOPCServer::AddGroup", true, 60}, Walking, CreateGroup, DecideGroup},
    {{"items", L"IOPCItemMgt::AddItems", true, 60}, Grouped, RegisterTags, DecideItems},
    {{"reads", L"IOPCSyncIO::Read", true, 60}, Grouped, ReadItems, DecideReads},
    {{"status", L"IOPCServer::GetStatus", false, 60}, Asking, CheckStatus, DecideStatus},
    {{"browse", L"IOPCBrowseServerAddressSpace::QueryOrganization", false, 60}, Asking, CheckOrganization, nullptr},
    {{"teardown", L"IOPCItemMgt::RemoveItems", true, 60}, Polled, RemoveItems, nullptr},
    {{"teardown", L"IOPCServer::RemoveGroup", true, 60}, Holds, RemoveGroup, nullptr},
    {{"teardown", L"IOPCServer::Release", true, 60}, Connected, ReleaseServer, nullptr},
};

// The server's own text for the code a decision names, asked once the
// monitor's calls of the stage are made; then the stage decided again.
void AskServerText(Walk &walk, const Stage &stage, Decision &decision) {
  if (decision.asks == 0 || decision.asks == walk.seen.textOf || walk.server == nullptr || ServerGone(decision.asks))
    return;
  if (!decision.verdict.empty()) Decided(walk.seen.subject, decision.verdict, decision.status);
  LPWSTR text = nullptr;
  CallStarted(kErrorStringCall);
  const HRESULT hr = walk.server->GetErrorString(decision.asks, LOCALE_SYSTEM_DEFAULT, &text);
  CallEnded();
  if (ServerGone(hr)) walk.seen.diedIn = kErrorStringCall.name;
  walk.seen.textOf = decision.asks;
  walk.seen.serverText = SUCCEEDED(hr) && text != nullptr ? text : L"";
  CoTaskMemFree(text);
  decision = stage.decide(walk.seen);
}

// For a server the shipped monitor does not reach: the line that gives it
// the monitor's ProgID, and the build for its own.
void ReportAlias(const Walk &walk) {
  // Windows merges per-user classes into HKCR; Wine does not.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  const std::wstring key = std::wstring(wine ? L"HKLM" : L"HKCU") + L"\\Software\\Classes\\" + SERVER_PROGID;
  const std::wstring view = OwnMachine() == IMAGE_FILE_MACHINE_I386 ? L" /reg:32" : L"";
  const std::wstring who = wine ? L" (from an administrator's prompt: Wine reads no per-user classes)"
                                : L", for you alone, no administrator's prompt needed";
  ReportLine(Check::kInfo, "alias",
             L"the shipped monitor connects to " + std::wstring(SERVER_PROGID) +
                 L" only; this line gives that ProgID to this server" + who + L":");
  ReportText(L"  reg add \"" + key + L"\\CLSID\" /ve /d \"" + class_keys::GuidText(walk.findings.clsid) + L"\" /f" +
             view + L"\n");
  ReportLine(Check::kInfo, "alias",
             L"reg delete \"" + key + L"\" /f" + view + L" takes it back; or build a monitor " +
                 L"for it: -DOPCMON_SERVER_PROGID=" + walk.seen.name + L" (docs/windows.md)");
}

bool IsMonitorsServer(const wchar_t *name) {
  CLSID asked, monitors;
  return class_keys::SameName(name, SERVER_PROGID) ||
         (SUCCEEDED(CLSIDFromString(name, &asked)) && SUCCEEDED(CLSIDFromString(SERVER_PROGID, &monitors)) &&
          IsEqualCLSID(asked, monitors));
}

}  // namespace

int WalkStages(const wchar_t *name) {
  Walk walk = {};
  walk.name = name;
  walk.status = 1;
  const bool monitors = IsMonitorsServer(name);
  walk.seen.name = Shown(name);
  walk.seen.subject = monitors ? L"the monitor" : L"a monitor built for " + walk.seen.name;
  Decided(walk.seen.subject, L"", 1);
  for (const Stage &stage : kStages) {
    const bool teardown = std::strcmp(stage.call.stage, "teardown") == 0;
    if ((!teardown && Stopped(walk, stage.call.stage)) || !stage.when(walk)) continue;
    CallStarted(stage.call);
    stage.run(walk, stage.call);
    CallEnded();
    // A stop during the row leaves it undecided: what it saw is cut short.
    if (stage.decide == nullptr || (!teardown && Stopped(walk, stage.call.stage))) continue;
    Decision decision = stage.decide(walk.seen);
    AskServerText(walk, stage, decision);
    ReportLines(decision);
    if (decision.verdict.empty()) continue;
    walk.decided = true;
    walk.verdict = decision.verdict;
    walk.status = decision.status;
    Decided(walk.seen.subject, walk.verdict, walk.status);
  }
  free(walk.handles.handles);
  WatchTagNames(nullptr);
  FreeTagNameTable(walk.names);
  if (walk.stoppedIn != nullptr) {
    ReportVerdict(L"stopped (Ctrl+C or Ctrl+Break) during the " + Widened(walk.stoppedIn) +
                  L" stage, before a verdict; the teardown was the monitor's");
    return 1;
  }
  if (walk.status == 0 && !monitors) ReportAlias(walk);
  ReportVerdict(FinalVerdict(walk.seen, walk.verdict, walk.status));
  return walk.status;
}
