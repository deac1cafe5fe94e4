// The walk; see walk.h. Every server call is the monitor's own (opcda/) or
// one the monitor does not make and only tells causes apart (GetStatus,
// QueryOrganization, GetErrorString); each is marked for the watchdog
// first. A stop request (Ctrl+C, Ctrl+Break) is taken between two calls,
// and the teardown is the monitor's: items, group, server.
#include "walk.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "activation.h"
#include "browse.h"
#include "group.h"
#include "output.h"
#include "read.h"
#include "record_text.h"
#include "registration_facts.h"
#include "report.h"
#include "result_codes.h"
#include "server_call.h"
#include "stop_request.h"

namespace {

const ServerCall kStatusCall = {"status", L"IOPCServer::GetStatus", false};
const ServerCall kOrganizationCall = {"browse", L"IOPCBrowseServerAddressSpace::QueryOrganization", false};
const ServerCall kBrowseCall = {"browse", L"the flat browse (BrowseOPCItemIDs, IEnumString::Next)", true};
const ServerCall kGroupCall = {"group", L"IOPCServer::AddGroup", true};
const ServerCall kItemCall = {"items", L"IOPCItemMgt::AddItems", true};
const ServerCall kReadCall = {"reads", L"IOPCSyncIO::Read", true};
const ServerCall kRemoveItemsCall = {"teardown", L"IOPCItemMgt::RemoveItems", true};
const ServerCall kRemoveGroupCall = {"teardown", L"IOPCServer::RemoveGroup", true};
const ServerCall kReleaseCall = {"teardown", L"IOPCServer::Release", true};

struct Walk {
  IOPCServer *server;
  TagNameTable names;
  IOPCItemMgt *itemMgt;
  OPCHANDLE group;
  ItemHandleTable handles;  // count: the tags registered so far
  // The first failure's outcome in the monitor's words; empty while none.
  std::wstring verdict;
  // The server's state, said beside the verdict when it is not running.
  std::wstring stateNote;
  LONG records;
  const char *stoppedIn;
};

// The browse's stop check marks each of its calls for the watchdog: it is
// asked right before each name and before the second enumeration.
int MarkBrowseCall() {
  CallStarted(kBrowseCall);
  return StopRequested();
}

void Discard(const wchar_t *, size_t) {}

int Stopped(Walk &walk, const char *stage) {
  if (walk.stoppedIn == nullptr && StopRequested()) walk.stoppedIn = stage;
  return walk.stoppedIn != nullptr;
}

void Fail(Walk &walk, const std::wstring &verdict) {
  if (walk.verdict.empty()) walk.verdict = verdict;
}

// The code's text, and what it means when the server is gone.
std::wstring Cause(Walk &walk, HRESULT code) {
  const std::wstring text = CodeText(walk.server, code);
  return ServerGone(code) ? L"the server's process ended during the check, " + text : text;
}

const wchar_t *StateName(DWORD state) {
  switch (state) {
    case OPC_STATUS_RUNNING:
      return L"running";
    case OPC_STATUS_FAILED:
      return L"failed";
    case OPC_STATUS_NOCONFIG:
      return L"no configuration";
    case OPC_STATUS_SUSPENDED:
      return L"suspended";
    case OPC_STATUS_TEST:
      return L"test";
    case 6:  // OPC_STATUS_COMM_FAULT, from the 3.0 interfaces
      return L"communication fault";
    default:
      return L"unknown";
  }
}

void CheckStatus(Walk &walk) {
  OPCSERVERSTATUS *status = nullptr;
  CallStarted(kStatusCall);
  const HRESULT hr = walk.server->GetStatus(&status);
  CallEnded();
  if (FAILED(hr) || status == nullptr) {
    ReportLine(Check::kInfo, "status", L"GetStatus: " + Cause(walk, FAILED(hr) ? hr : E_POINTER));
  } else {
    const std::wstring state = StateName(status->dwServerState);
    const std::wstring fact = L"\"" + Shown(status->szVendorInfo) + L"\" version " +
                              std::to_wstring(status->wMajorVersion) + L"." + std::to_wstring(status->wMinorVersion) +
                              L"." + std::to_wstring(status->wBuildNumber) + L", " + state + L", " +
                              std::to_wstring(status->dwGroupCount) + L" groups";
    if (status->dwServerState == OPC_STATUS_RUNNING) {
      ReportLine(Check::kOk, "status", fact);
    } else {
      ReportLine(Check::kFail, "status", fact, L"the server's own diagnostics: a configuration to load, its devices");
      walk.stateNote = L"; the server says it is " + state;
    }
  }
  if (status != nullptr) CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
}

void CheckOrganization(Walk &walk) {
  IOPCBrowseServerAddressSpace *browse = nullptr;
  CallStarted(kOrganizationCall);
  HRESULT hr = walk.server->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void **>(&browse));
  if (SUCCEEDED(hr) && browse != nullptr) {
    OPCNAMESPACETYPE organization = OPC_NS_FLAT;
    hr = browse->QueryOrganization(&organization);
    CallEnded();
    if (SUCCEEDED(hr)) {
      ReportLine(Check::kInfo, "browse", organization == OPC_NS_FLAT ? L"address space flat" : L"address space hierarchical");
    } else {
      ReportLine(Check::kInfo, "browse", L"QueryOrganization: " + Cause(walk, hr));
    }
  }
  CallEnded();
  if (browse != nullptr) browse->Release();
}

void Browse(Walk &walk) {
  BrowseResult seen;
  // The monitor lists every name; the report holds only their count.
  FlushStandardOutput();
  const TextWriter writer = SetStandardOutputWriter(Discard);
  CallStarted(kBrowseCall);
  walk.names = BrowseTagNames(walk.server, MarkBrowseCall, &seen);
  CallEnded();
  (void)SetStandardOutputWriter(writer);
  WatchTagNames(&walk.names);
  if (StopRequested()) return;
  const std::wstring noList = L"the monitor shows the prompt right after starting, with no tag list: ";
  if (FAILED(seen.query)) {
    const std::wstring cause = Cause(walk, seen.query);
    ReportLine(Check::kFail, "browse", L"no IOPCBrowseServerAddressSpace: " + cause,
               L"the server's documentation: some browse only hierarchically or need a configuration loaded");
    Fail(walk, noList + L"the server offers no browsing, the request for IOPCBrowseServerAddressSpace gives " + cause);
  } else if (FAILED(seen.firstBrowse)) {
    const std::wstring cause = Cause(walk, seen.firstBrowse);
    ReportLine(Check::kFail, "browse", L"the flat browse fails: " + cause,
               L"the server's documentation: some browse only hierarchically or need a configuration loaded");
    Fail(walk, noList + L"its flat browse fails with " + cause);
  } else if (seen.listed == 0) {
    ReportLine(Check::kFail, "browse", L"the flat browse lists no tags",
               L"the server's configuration: no tags defined, or its devices not loaded yet");
    Fail(walk, L"the monitor lists no tags (found the following tags: and no names): the server's address "
               L"space is empty");
  } else if (walk.names.count == 0 && !StopRequested()) {
    // Listed, yet no table: the second browse failed or a name outgrew the first's.
    ReportLine(Check::kFail, "browse",
               std::to_wstring(seen.listed) + L" tags listed, then the second browse differs: " +
                   (FAILED(seen.secondBrowse) ? Cause(walk, seen.secondBrowse) : std::wstring(L"a longer name")));
    Fail(walk, L"the monitor lists " + std::to_wstring(seen.listed) +
                   L" tags and polls screens without records: its second browse differs from the first");
  } else {
    ReportLine(Check::kOk, "browse", std::to_wstring(walk.names.count) + L" tags (the flat browse, twice)");
  }
}

int CreateGroup(Walk &walk) {
  HRESULT hr = S_OK;
  CallStarted(kGroupCall);
  const int created = CreateMonitorGroup(walk.server, &walk.itemMgt, &walk.group, &hr);
  CallEnded();
  if (created) {
    ReportLine(Check::kOk, "group", L"AddGroup \"grp 1\" gives IOPCItemMgt");
    return 1;
  }
  const std::wstring cause = Cause(walk, hr);
  ReportLine(Check::kFail, "group", L"AddGroup \"grp 1\": " + cause,
             L"the server's own diagnostics: not running yet, a licence or group limit");
  Fail(walk, L"the monitor prints \"server released\" right after ENTER: the server refuses the group with " + cause +
                 walk.stateNote);
  return 0;
}

void RegisterTags(Walk &walk) {
  const LONG count = walk.names.count;
  for (LONG i = 0; i < count; ++i) {
    if (Stopped(walk, "items")) return;
    HRESULT call = S_OK;
    HRESULT itemError = S_OK;
    CallStarted(kItemCall, i);
    const int registered = RegisterItem(walk.itemMgt, walk.names.entries[i], &walk.handles.handles[i], &call,
                                        &itemError);
    CallEnded();
    if (registered) {
      walk.handles.count = i + 1;
      continue;
    }
    const std::wstring tag = TagText(walk.names, i);
    std::wstring cause;
    if (walk.names.entries[i] == nullptr) {
      cause = L": it has no name, the second browse delivered fewer names than the first";
    } else {
      cause = L", with " + Cause(walk, FAILED(call) ? call : itemError);
    }
    ReportLine(Check::kFail, "items", L"AddItems (VT_I2) rejects " + tag + cause,
               L"the server's log; a branch or a name that is no item ID");
    Fail(walk, L"the monitor stops right after ENTER (\"group released\", \"server released\"): the server rejects " +
                   tag + cause + walk.stateNote);
    return;
  }
  ReportLine(Check::kOk, "items", std::to_wstring(count) + L" of " + std::to_wstring(count) +
                                      L" tags registered as items (VT_I2)");
}

struct QualityCount {
  char word[TEXT_BUFFER_SIZE];
  LONG count;
};

void ReadItems(Walk &walk) {
  const LONG count = walk.handles.count;
  if (count == 0) return;
  // The monitor's quality words come from a handful of texts.
  QualityCount qualities[8] = {};
  size_t kinds = 0;
  LONG unknownValues = 0;
  LONG otherTypes = 0;
  LONG failed = 0;
  LONG firstFailed = -1;
  HRESULT firstCode = S_OK;
  char valueText[TEXT_BUFFER_SIZE];
  char qualityText[TEXT_BUFFER_SIZE];
  ItemSample sample;
  for (LONG i = 0; i < count; ++i) {
    if (Stopped(walk, "reads")) return;
    HRESULT syncQuery = S_OK;
    HRESULT read = S_OK;
    VariantInit(&sample.value);
    CallStarted(kReadCall, i);
    const int filled = ReadItemSample(walk.itemMgt, walk.handles.handles[i], sample, &syncQuery, &read);
    CallEnded();
    if (FAILED(syncQuery)) {
      const std::wstring cause = Cause(walk, syncQuery);
      ReportLine(Check::kFail, "reads", L"the group offers no IOPCSyncIO: " + cause,
                 L"the server's documentation on synchronous reads from its cache");
      Fail(walk, L"the monitor polls screens without records: the group offers no IOPCSyncIO, its request gives " +
                     cause + walk.stateNote);
      return;
    }
    if (!filled) {
      if (failed++ == 0) {
        firstFailed = i;
        firstCode = read;
      }
      // A server gone fails every read alike, each after a wait of its own.
      if (ServerGone(read)) break;
      continue;
    }
    ++walk.records;
    ValueText(sample.value, valueText);
    if (strcmp(valueText, "?") == 0) ++unknownValues;
    if (valueText[0] == '\0') ++otherTypes;
    QualityText(sample.quality, qualityText);
    size_t k = 0;
    while (k < kinds && strcmp(qualities[k].word, qualityText) != 0) ++k;
    if (k == kinds && kinds < sizeof qualities / sizeof qualities[0]) {
      memcpy(qualities[kinds].word, qualityText, sizeof qualityText);
      ++kinds;
    }
    if (k < kinds) ++qualities[k].count;
    VariantClear(&sample.value);
  }

  std::wstring failures;
  const bool gone = failed > 0 && ServerGone(firstCode);
  if (gone) {
    failures = L"the server's process ended during the check: the Read of " + TagText(walk.names, firstFailed) +
               L", fails with " + CodeText(nullptr, firstCode);
    ReportLine(Check::kFail, "reads", failures, L"the server's own log; the Application event log");
  } else if (failed > 0) {
    failures = std::to_wstring(failed) + (failed == 1 ? L" Read fails" : L" Reads fail") + L" as a whole, the first of " +
               TagText(walk.names, firstFailed) + L", with " + Cause(walk, firstCode);
    ReportLine(Check::kFail, "reads", failures, L"the server's documentation on synchronous reads from its cache");
  }
  if (walk.records == 0) {
    Fail(walk, L"the monitor polls screens without records: " +
                   (gone ? failures : L"every Read fails as a whole (" + failures + L")") + walk.stateNote);
    return;
  }
  std::wstring values = std::to_wstring(walk.records) + L" records a screen";
  if (unknownValues > 0) {
    values += L", " + std::to_wstring(unknownValues) + L" of them ? (the server cannot give them as 16-bit integers)";
  }
  if (otherTypes > 0) values += L", " + std::to_wstring(otherTypes) + L" empty (values of another type)";
  values += L", qualities";
  for (size_t k = 0; k < kinds; ++k) {
    values += (k == 0 ? L" " : L", ") + std::to_wstring(qualities[k].count) + L" ";
    for (const char *c = qualities[k].word; *c != '\0'; ++c) values += static_cast<wchar_t>(*c);
  }
  ReportLine(Check::kOk, "reads", values);
  Fail(walk, L"the monitor polls " + values + (failures.empty() ? L"" : L"; " + failures) + walk.stateNote);
}

// The monitor's teardown, in its order, each step said as it is done.
void TearDown(Walk &walk) {
  if (walk.itemMgt != nullptr) {
    if (walk.handles.count > 0) {
      CallStarted(kRemoveItemsCall);
      UnregisterItems(walk.itemMgt, walk.handles);
      CallEnded();
      ReportLine(Check::kInfo, "teardown", L"items removed");
    }
    FlushStandardOutput();
    const TextWriter writer = SetStandardOutputWriter(Discard);
    CallStarted(kRemoveGroupCall);
    DeleteMonitorGroup(walk.server, walk.itemMgt, walk.group);
    CallEnded();
    (void)SetStandardOutputWriter(writer);
    walk.itemMgt = nullptr;
    ReportLine(Check::kInfo, "teardown", L"group released");
  }
  CallStarted(kReleaseCall);
  walk.server->Release();
  CallEnded();
  walk.server = nullptr;
  ReportLine(Check::kInfo, "teardown", L"server released");
}

void RunServerStages(Walk &walk) {
  CheckStatus(walk);
  CheckOrganization(walk);
  if (Stopped(walk, "status")) return;
  Browse(walk);
  if (Stopped(walk, "browse")) return;
  if (!CreateGroup(walk)) return;
  walk.handles.handles =
      static_cast<OPCHANDLE *>(calloc(walk.names.count > 0 ? static_cast<size_t>(walk.names.count) : 1, sizeof(OPCHANDLE)));
  if (walk.handles.handles == nullptr) {
    ReportLine(Check::kFail, "items", L"no memory for " + std::to_wstring(walk.names.count) + L" item handles");
    Fail(walk, L"the monitor stops right after ENTER (\"group released\", \"server released\"): no memory for the "
               L"item handles");
    return;
  }
  RegisterTags(walk);
  if (walk.stoppedIn != nullptr || walk.handles.count < walk.names.count) return;
  if (walk.names.count > 0) ReadItems(walk);
}

}  // namespace

int WalkStages(const wchar_t *name) {
  const RegistrationFindings findings = CheckRegistration(name);
  Walk walk = {};
  walk.server = ActivateServer(name, findings, &walk.verdict);
  if (walk.server == nullptr) {
    ReportVerdict(walk.verdict);
    return 1;
  }
  RunServerStages(walk);
  TearDown(walk);
  free(walk.handles.handles);
  WatchTagNames(nullptr);
  FreeTagNameTable(walk.names);
  if (walk.stoppedIn != nullptr) {
    std::wstring stage;
    for (const char *c = walk.stoppedIn; *c != '\0'; ++c) stage += static_cast<wchar_t>(*c);
    ReportVerdict(L"stopped (Ctrl+C or Ctrl+Break) during the " + stage +
                  L" stage, before a verdict; the teardown was the monitor's");
    return 1;
  }
  ReportVerdict(walk.verdict);
  return walk.records > 0 ? 0 : 1;
}
