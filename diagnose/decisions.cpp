// The decisions; see decisions.h. Each Decide function is the one place
// where its stage's line, verdict and status are made.
#include "decisions.h"

#include <cwchar>

#include "escaping.h"
#include "monitor_lines.h"

namespace {

constexpr Code Hr(uint32_t value) { return static_cast<Code>(value); }
constexpr Code kNoInterface = Hr(0x80004002), kAccessDenied = Hr(0x80070005), kClassNotRegistered = Hr(0x80040154),
               kClassNotAvailable = Hr(0x80040111);

#define NAMED(name, value) {Hr(value), L"" #name}
struct NamedCode {
  Code code;
  const wchar_t *name;
};
const NamedCode kNames[] = {
    NAMED(OPC_E_INVALIDHANDLE, 0xC0040001), NAMED(OPC_E_BADTYPE, 0xC0040004), NAMED(OPC_E_PUBLIC, 0xC0040005),
    NAMED(OPC_E_BADRIGHTS, 0xC0040006), NAMED(OPC_E_UNKNOWNITEMID, 0xC0040007), NAMED(OPC_E_INVALIDITEMID, 0xC0040008),
    NAMED(OPC_E_INVALIDFILTER, 0xC0040009), NAMED(OPC_E_UNKNOWNPATH, 0xC004000A), NAMED(OPC_E_RANGE, 0xC004000B),
    NAMED(OPC_E_DUPLICATENAME, 0xC004000C), NAMED(OPC_S_UNSUPPORTEDRATE, 0x0004000D), NAMED(OPC_S_CLAMP, 0x0004000E),
    NAMED(OPC_S_INUSE, 0x0004000F), NAMED(S_FALSE, 1), NAMED(E_FAIL, 0x80004005), NAMED(E_NOTIMPL, 0x80004001),
    NAMED(E_NOINTERFACE, 0x80004002), NAMED(E_POINTER, 0x80004003), NAMED(E_INVALIDARG, 0x80070057),
    NAMED(E_OUTOFMEMORY, 0x8007000E), NAMED(E_ACCESSDENIED, 0x80070005), NAMED(E_UNEXPECTED, 0x8000FFFF),
    NAMED(REGDB_E_CLASSNOTREG, 0x80040154), NAMED(REGDB_E_IIDNOTREG, 0x80040155), NAMED(CO_E_CLASSSTRING, 0x800401F3),
    NAMED(CO_E_SERVER_EXEC_FAILURE, 0x80080005), NAMED(CO_E_APPNOTFOUND, 0x800401F5),
    NAMED(CO_E_DLLNOTFOUND, 0x800401F8), NAMED(CO_E_ERRORINDLL, 0x800401F9),
    NAMED(CLASS_E_CLASSNOTAVAILABLE, 0x80040111), NAMED(CO_E_NOTINITIALIZED, 0x800401F0),
    NAMED(RPC_E_DISCONNECTED, 0x80010108), NAMED(RPC_E_SERVER_DIED, 0x80010007),
    NAMED(RPC_E_SERVER_DIED_DNE, 0x80010012), NAMED(RPC_E_CALL_REJECTED, 0x80010001),
    NAMED(RPC_S_SERVER_UNAVAILABLE, 0x800706BA), NAMED(RPC_S_CALL_FAILED, 0x800706BE),
    NAMED(RPC_S_CALL_FAILED_DNE, 0x800706BF), NAMED(ERROR_FILE_NOT_FOUND, 0x80070002),
    NAMED(ERROR_MOD_NOT_FOUND, 0x8007007E), NAMED(ERROR_BAD_EXE_FORMAT, 0x800700C1),
    NAMED(DISP_E_TYPEMISMATCH, 0x80020005), NAMED(DISP_E_OVERFLOW, 0x8002000A)};

bool Failed(Code code) { return code < 0; }
std::wstring Number(int64_t value) { return std::to_wstring(value); }

Decision Goes(Check kind, const char *stage, const std::wstring &fact, const std::wstring &next = L"") {
  return Decision{{Line{kind, stage, fact, next}}, L"", 0, 0};
}
Decision Ends(const Decision &decision, const std::wstring &verdict, Code asks = 0, int status = 1) {
  return Decision{decision.lines, verdict, status, asks};
}

std::wstring NotInstantiated(const WalkSeen &seen) {
  return seen.subject + L" prints \"" + seen.name + Widened(LINE_NOT_INSTANTIATED) + L"\": ";
}
std::wstring StopsAfterEnter(const WalkSeen &seen) {
  return seen.subject + L" stops right after ENTER (\"" + Widened(LINE_GROUP_RELEASED) + L"\", \"" +
         Widened(LINE_SERVER_RELEASED) + L"\"): ";
}

const wchar_t *const kContextNames[] = {L"in-process (CLSCTX_INPROC_SERVER)", L"local server (CLSCTX_LOCAL_SERVER)",
                                        L"remote server (CLSCTX_REMOTE_SERVER)"};
const wchar_t kProxyStubs[] =
    L"no proxy/stub for the OPC interfaces is registered (the proxy/stub lines above say "
    L"for which view), or the server refuses IOPCServer";

// What to do about a failed activation, from its code and the context it
// was asked in (-1 for all of them, 0 in process).
std::wstring NextStep(Code code, int context) {
  // In process no DCOM takes part: the DLL itself could not be loaded.
  if (code == kAccessDenied && context == 0)
    return L"the server's DLL cannot be loaded: its file is missing or not readable (see the registration lines)";
  if (code == kAccessDenied)
    return L"DCOM refuses access: the System event log (DistributedCOM) names the class; dcomcnfg";
  if (code == kNoInterface)
    return context == 0 ? L"the server refuses IOPCServer: it is no OPC DA 2.0 server" : kProxyStubs;
  if (code == kClassNotRegistered || code == kClassNotAvailable)
    return L"no server of this class is registered for this context";
  if (code == Hr(0x80080005) || code == Hr(0x800401F5)) {
    return L"the server EXE did not start or did not register its class in time: run its LocalServer32 "
           L"command with -Embedding by hand; the System event log";
  }
  if (code == Hr(0x80070002) || code == Hr(0x8007007E) || code == Hr(0x800401F8))
    return L"the server's file is missing or is no DLL: reinstall the server";
  if (code == Hr(0x800700C1))
    return L"the server is of the other architecture: take the other monitor (win32 or win64 zip)";
  // Under Wine a local server without a proxy/stub fails this way too when
  // asked in every context; the activation per context then says which.
  if (ServerGone(code)) {
    return L"the server's process ended, or its answer could not be unmarshalled: its own log, the Application "
           L"event log, and the activation per context below";
  }
  return L"the server's documentation; the System event log";
}

Code ActivationFailure(const WalkSeen &seen) {
  if (Failed(seen.activation.activation)) return seen.activation.activation;
  return Failed(seen.activation.entry) ? seen.activation.entry : kNoInterface;
}

const wchar_t kBrowseDocs[] =
    L"the server's documentation: some browse only hierarchically or need a configuration loaded";
const wchar_t kReadsDocs[] = L"the server's documentation on synchronous reads from its cache";

std::wstring SecondBrowse(const WalkSeen &seen) {
  if (Failed(seen.browse.secondBrowse))
    return L"the second flat browse fails with " + CodeText(seen, seen.browse.secondBrowse);
  return L"the second flat browse delivers only " + Number(seen.browse.filled) + L" of the " +
         Number(seen.browse.listed) + L" names";
}

std::wstring StateName(uint32_t state) {
  const wchar_t *const names[] = {L"unknown",
                                  L"running",
                                  L"failed",
                                  L"no configuration",
                                  L"suspended",
                                  L"test",
                                  L"communication fault"};  // 6: OPC_STATUS_COMM_FAULT, from the 3.0 interfaces
  return names[state < 7 ? state : 0];
}

}  // namespace

Decision DecideActivation(const WalkSeen &seen) {
  if (Failed(seen.activation.lookup)) {
    const std::wstring code = CodeText(seen.activation.lookup, L"");
    return Ends(Goes(Check::kFail, "activation", L"CLSIDFromString(" + seen.name + L"): " + code,
                     L"install or register the server, or name one that --list shows"),
                NotInstantiated(seen) +
                    (seen.cause.empty() ? L"nothing is registered under that name (" + code + L")" : seen.cause));
  }
  if (!Failed(seen.activation.activation) && !Failed(seen.activation.entry))
    return Goes(Check::kOk, "activation", L"CoCreateInstanceEx(CLSCTX_ALL) gives IOPCServer");
  const Code failure = ActivationFailure(seen);
  return Ends(
      Goes(Check::kFail, "activation", L"CoCreateInstanceEx(CLSCTX_ALL): " + CodeText(failure, L""),
           NextStep(failure, -1)),
      NotInstantiated(seen) + (seen.cause.empty() ? HexCode(failure) + L": " + NextStep(failure, -1) : seen.cause));
}

Decision DecideContexts(const WalkSeen &seen) {
  Decision decision{{}, L"", 1, 0};
  std::wstring explains;
  for (int i = 0; i < seen.contextsTried; ++i) {
    const Code code = seen.contexts[i];
    const std::wstring fact = Failed(code) ? L": " + CodeText(code, L"") : L": gives IOPCServer";
    decision.lines.push_back({Check::kInfo, "activation", kContextNames[i] + fact, L""});
    // The first context that has a server and fails is the one to explain.
    if (explains.empty() && Failed(code) && code != kClassNotRegistered && code != kClassNotAvailable) {
      explains =
          std::wstring(kContextNames[i]) + L" activation fails with " + HexCode(code) + L": " + NextStep(code, i);
    }
  }
  if (explains.empty()) {
    explains =
        L"the class has no server registered for any context (no InprocServer32 or LocalServer32 key in the "
        L"registry view of this process)";
  }
  decision.verdict = NotInstantiated(seen) + (seen.cause.empty() ? explains : seen.cause);
  return decision;
}

Decision DecideBrowse(const WalkSeen &seen) {
  const std::wstring noList = seen.subject + L" shows the prompt right after starting, with no tag list: ";
  if (Failed(seen.browse.query)) {
    const std::wstring code = CodeText(seen, seen.browse.query);
    return Ends(Goes(Check::kFail, "browse", L"no IOPCBrowseServerAddressSpace: " + code, kBrowseDocs),
                noList + L"the server offers no browsing, the request for IOPCBrowseServerAddressSpace gives " + code,
                seen.browse.query);
  }
  if (Failed(seen.browse.firstBrowse)) {
    const std::wstring code = CodeText(seen, seen.browse.firstBrowse);
    return Ends(Goes(Check::kFail, "browse", L"the flat browse fails: " + code, kBrowseDocs),
                noList + L"its flat browse fails with " + code, seen.browse.firstBrowse);
  }
  if (seen.browse.listed == 0) {
    return Ends(Goes(Check::kFail, "browse", L"the flat browse lists no tags",
                     L"the server's configuration: no tags defined, or its devices not loaded yet"),
                seen.subject + L" lists no tags (" + Widened(LINE_FOUND_TAGS) +
                    L" and no names): the server's address space is empty");
  }
  const std::wstring listed = Number(seen.browse.listed) + L" tags listed, then ";
  // An empty table after a listing: "Items OK" and screens without records.
  const std::wstring empty =
      seen.subject + L" lists " + Number(seen.browse.listed) + L" tags and polls screens without records: ";
  if (seen.browse.noMemory) {
    return Ends(Goes(Check::kFail, "browse", listed + L"no memory for the table of their names"),
                empty + L"it has no memory for the table of their names");
  }
  if (seen.browse.longerName) {
    return Ends(Goes(Check::kFail, "browse",
                     listed + L"the second flat browse delivers a name longer than any of the first", kBrowseDocs),
                empty + L"its second browse delivers a name longer than the first's longest");
  }
  // Fewer names than listed: the monitor goes on, and the first tag without
  // a name ends its registration (the items stage says so).
  if (Failed(seen.browse.secondBrowse) || seen.browse.filled < seen.browse.listed) {
    Decision decision = Goes(Check::kFail, "browse", listed + SecondBrowse(seen), kBrowseDocs);
    decision.asks = Failed(seen.browse.secondBrowse) ? seen.browse.secondBrowse : 0;
    return decision;
  }
  return Goes(Check::kOk, "browse", Number(seen.browse.listed) + L" tags (the flat browse, twice)");
}

Decision DecideGroup(const WalkSeen &seen) {
  const std::wstring call = L"AddGroup \"" + std::wstring(GROUP_NAME) + L"\"";
  if (!Failed(seen.group)) return Goes(Check::kOk, "group", call + L" gives IOPCItemMgt");
  const std::wstring code = CodeText(seen, seen.group);
  return Ends(Goes(Check::kFail, "group", call + L": " + code,
                   L"the server's own diagnostics: not running yet, a licence or group limit"),
              seen.subject + L" prints \"" + Widened(LINE_SERVER_RELEASED) +
                  L"\" right after ENTER: the server refuses the group with " + code,
              seen.group);
}

Decision DecideItems(const WalkSeen &seen) {
  if (seen.handlesMissing) {
    return Ends(Goes(Check::kFail, "items", L"no memory for " + Number(seen.tags) + L" item handles"),
                StopsAfterEnter(seen) + L"no memory for the item handles");
  }
  if (seen.registered == seen.tags) {
    return Goes(Check::kOk, "items",
                Number(seen.tags) + L" of " + Number(seen.tags) + L" tags registered as items (VT_I2)");
  }
  if (seen.nameless) {
    const std::wstring cause = SecondBrowse(seen);
    return Ends(Goes(Check::kFail, "items",
                     seen.failedTag + L" has no name (the browse line says why): AddItems is not "
                                      L"called for it",
                     kBrowseDocs),
                StopsAfterEnter(seen) + cause + L", so " + seen.failedTag + L" has no name and is not registered",
                Failed(seen.browse.secondBrowse) ? seen.browse.secondBrowse : 0);
  }
  const Code code = Failed(seen.call) ? seen.call : seen.itemError;
  const std::wstring rejects = seen.failedTag + L", with " + CodeText(seen, code);
  return Ends(Goes(Check::kFail, "items", L"AddItems (VT_I2) rejects " + rejects,
                   L"the server's log; a branch or a name that is no item ID"),
              StopsAfterEnter(seen) + L"the server rejects " + rejects, code);
}

Decision DecideReads(const WalkSeen &seen) {
  Decision decision{{}, L"", seen.records > 0 ? 0 : 1, 0};
  std::vector<std::wstring> failures;
  const ReadFailures &sync = seen.syncRefused, &reads = seen.readsFailed;
  if (sync.count > 0) {
    const std::wstring code = CodeText(seen, sync.code);
    const std::wstring fact = sync.count == seen.tags
                                  ? L"the group offers no IOPCSyncIO: " + code
                                  : L"the group refuses IOPCSyncIO for " + Number(sync.count) + L" of " +
                                        Number(seen.tags) + L" items, the first " + sync.firstTag + L", with " + code;
    decision.lines.push_back({Check::kFail, "reads", fact, kReadsDocs});
    failures.push_back(sync.count == seen.tags ? L"the group offers no IOPCSyncIO, its request gives " + code : fact);
    decision.asks = sync.code;
  }
  if (reads.count > 0 && seen.gone) {
    failures.push_back(L"the server's process ended during the check: the Read of " + reads.firstTag +
                       L", fails with " + CodeText(reads.code, L""));
    decision.lines.push_back(
        {Check::kFail, "reads", failures.back(), L"the server's own log; the Application event log"});
  } else if (reads.count > 0) {
    const std::wstring fact = Number(reads.count) + (reads.count == 1 ? L" Read fails" : L" Reads fail") +
                              L" as a whole, the first of " + reads.firstTag + L", with " + CodeText(seen, reads.code);
    decision.lines.push_back({Check::kFail, "reads", fact, kReadsDocs});
    failures.push_back(seen.records == 0 && sync.count == 0 ? L"every Read fails as a whole (" + fact + L")" : fact);
    if (decision.asks == 0) decision.asks = reads.code;
  }
  if (seen.records == 0) {
    decision.verdict = seen.subject + L" polls screens without records: " + failures.front();
    return decision;
  }
  std::wstring values = Number(seen.records) + (seen.records == 1 ? L" record a screen" : L" records a screen");
  if (seen.unknownValues > 0)
    values += L", " + Number(seen.unknownValues) + L" of them ? (the server cannot give them as 16-bit integers)";
  if (seen.otherTypes > 0) values += L", " + Number(seen.otherTypes) + L" empty (values of another type)";
  values += L", qualities";
  for (size_t k = 0; k < seen.qualities.size(); ++k) {
    values += (k == 0 ? L" " : L", ") + Number(seen.qualities[k].count) + L" " + seen.qualities[k].word;
  }
  decision.lines.push_back({Check::kOk, "reads", values, L""});
  decision.verdict = seen.subject + L" polls " + values;
  for (const std::wstring &failure : failures) decision.verdict += L"; " + failure;
  return decision;
}

Decision DecideStatus(const WalkSeen &seen) {
  if (Failed(seen.statusCode)) {
    const std::wstring code = CodeText(seen.statusCode, L"");
    if (!ServerGone(seen.statusCode)) return Goes(Check::kInfo, "status", L"IOPCServer::GetStatus: " + code);
    return Goes(
        Check::kFail, "status",
        L"IOPCServer::GetStatus: " + code + L": the server's process ended in this call, which only opcdiag makes",
        L"the server's own log; the Application event log");
  }
  const std::wstring fact = seen.statusFact + StateName(seen.state) + L", " + Number(seen.groups) +
                            (seen.groups == 1 ? L" group" : L" groups");
  if (seen.state == 1) return Goes(Check::kOk, "status", fact);
  return Goes(Check::kFail, "status", fact, L"the server's own diagnostics: a configuration to load, its devices");
}

std::wstring FinalVerdict(const WalkSeen &seen, const std::wstring &decided, int status) {
  std::wstring verdict = decided;
  if (status != 0 && seen.state > 1) verdict += L"; the server says it is " + StateName(seen.state);
  if (seen.diedIn != nullptr)
    verdict += L"; then the server's process ended in " + std::wstring(seen.diedIn) + L", a call only opcdiag makes";
  return verdict;
}

bool RemovesItems(const WalkSeen &seen) {
  // An empty table ends the walk at the browse, so the items stage ran.
  return seen.groupCreated && !seen.handlesMissing && seen.tags > 0 && seen.registered == seen.tags;
}

std::wstring LeftBehind(bool server, bool group, int32_t items) {
  const std::wstring ends = L"opcdiag ends without the teardown: ";
  if (group) {
    return ends + L"the group \"" + GROUP_NAME + L"\"" +
           (items > 0 ? L" and its " + Number(items) + L" items stay" : L" stays") +
           L" on the server until the server's own clean-up";
  }
  return server ? ends + L"its connection to the server stays until the server's own clean-up" : L"";
}

std::wstring HungVerdict(const ServerCall &call, const std::wstring &what, const std::wstring &subject,
                         const std::wstring &decided, const std::wstring &left) {
  const std::wstring within = L" within " + Number(call.limitSeconds) + L" s";
  const std::wstring verdict = call.monitorMakes ? subject + L" hangs in " + what + L": no answer" + within
                               : decided.empty() ? L"no verdict: " + what + L" gives no answer" + within
                                                 : decided + L"; then the server gives no answer to " + what + within +
                                                       L", a call the monitor does not make";
  return left.empty() ? verdict : verdict + L"; " + left;
}

std::wstring CodeText(Code code, const std::wstring &serverText) {
  std::wstring parts = CodeName(code);
  const std::wstring server = Normalised(serverText), system = Normalised(SystemText(code));
  if (!server.empty()) parts += (parts.empty() ? L"" : L": ") + Shown(server);
  if (!system.empty() && system != server) parts += (parts.empty() ? L"system: " : L"; system: ") + Shown(system);
  return HexCode(code) + (parts.empty() ? L"" : L" (" + parts + L")");
}

std::wstring CodeText(const WalkSeen &seen, Code code) {
  return CodeText(code, seen.textOf == code ? seen.serverText : std::wstring());
}

const wchar_t *CodeName(Code code) {
  for (const NamedCode &named : kNames) {
    if (named.code == code) return named.name;
  }
  return L"";
}

std::wstring HexCode(Code code) {
  wchar_t text[16];
  swprintf(text, sizeof text / sizeof text[0], L"0x%08lX", static_cast<unsigned long>(static_cast<uint32_t>(code)));
  return text;
}

bool ServerGone(Code code) {
  return code == Hr(0x80010108) || code == Hr(0x80010007) || code == Hr(0x80010012) || code == Hr(0x800706BA) ||
         code == Hr(0x800706BE) || code == Hr(0x800706BF);
}
