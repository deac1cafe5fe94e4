// The activation stage; see activation.h. Only the connection's own calls
// are made (opcda/connection), with the context as the one difference.
#include "activation.h"

#include "connection.h"
#include "report.h"
#include "result_codes.h"
#include "server_call.h"

namespace {

const ServerCall kActivationCall = {"activation", L"CoCreateInstanceEx", true};

constexpr HRESULT Code(unsigned long value) { return static_cast<HRESULT>(value); }

struct ContextTry {
  DWORD context;
  const wchar_t *name;
};

const ContextTry kContexts[] = {
    {CLSCTX_INPROC_SERVER, L"in-process (CLSCTX_INPROC_SERVER)"},
    {CLSCTX_LOCAL_SERVER, L"local server (CLSCTX_LOCAL_SERVER)"},
    {CLSCTX_REMOTE_SERVER, L"remote server (CLSCTX_REMOTE_SERVER)"},
};

// What to do about a failed activation, from its code and the context it
// was asked in (0 for all of them).
std::wstring NextStep(HRESULT code, DWORD context) {
  // In process no DCOM takes part: the DLL itself could not be loaded.
  if (code == E_ACCESSDENIED && context == CLSCTX_INPROC_SERVER) {
    return L"the server's DLL cannot be loaded: its file is missing or not readable (see the registration lines)";
  }
  if (code == E_ACCESSDENIED) {
    return L"DCOM refuses access: the System event log (DistributedCOM) names the class; dcomcnfg";
  }
  if (code == E_NOINTERFACE && context == CLSCTX_INPROC_SERVER) {
    return L"the server refuses IOPCServer: it is no OPC DA 2.0 server";
  }
  if (code == E_NOINTERFACE) {
    return L"no proxy/stub for the OPC interfaces is registered (regsvr32 \"<the zip's folder>\\opcmon-ps.dll\", "
           L"or the OPC runtime), or the server refuses IOPCServer";
  }
  if (code == REGDB_E_CLASSNOTREG || code == CLASS_E_CLASSNOTAVAILABLE) {
    return L"no server of this class is registered for this context";
  }
  if (code == CO_E_SERVER_EXEC_FAILURE || code == CO_E_APPNOTFOUND) {
    return L"the server EXE did not start or did not register its class in time: run its LocalServer32 "
           L"command with -Embedding by hand; the System event log";
  }
  if (code == Code(0x80070002) || code == Code(0x8007007E) || code == CO_E_DLLNOTFOUND) {
    return L"the server's file is missing: reinstall the server";
  }
  if (code == Code(0x800700C1)) {
    return L"the server is of the other architecture: take the other monitor (win32 or win64 zip)";
  }
  // Under Wine a local server without a proxy/stub fails this way too when
  // asked in every context; the activation per context then says which.
  if (ServerGone(code)) {
    return L"the server's process ended, or its answer could not be unmarshalled: its own log, the Application "
           L"event log, and the activation per context below";
  }
  return L"the server's documentation; the System event log";
}

HRESULT Failure(const ActivationResult &seen) {
  if (FAILED(seen.lookup)) return seen.lookup;
  if (FAILED(seen.activation)) return seen.activation;
  return FAILED(seen.entry) ? seen.entry : E_NOINTERFACE;
}

}  // namespace

IOPCServer *ActivateServer(const wchar_t *name, const RegistrationFindings &findings, std::wstring *verdict) {
  const std::wstring shownName = Shown(name);
  const std::wstring monitorSays = L"the monitor prints \"" + shownName + L" not instantiated\": ";
  ActivationResult seen;
  CallStarted(kActivationCall);
  IOPCServer *server = ConnectServer(name, CLSCTX_ALL, &seen);
  CallEnded();
  if (server != nullptr) {
    ReportLine(Check::kOk, "activation", L"CoCreateInstanceEx(CLSCTX_ALL) gives IOPCServer");
    return server;
  }

  if (FAILED(seen.lookup)) {
    const std::wstring code = CodeText(nullptr, seen.lookup);
    ReportLine(Check::kFail, "activation", L"CLSIDFromString(" + shownName + L"): " + code,
               L"install or register the server, or name one that --list shows");
    *verdict = monitorSays + (findings.cause.empty() ? L"nothing is registered under that name (" + code + L")"
                                                     : findings.cause);
    return nullptr;
  }

  const HRESULT failure = Failure(seen);
  ReportLine(Check::kFail, "activation", L"CoCreateInstanceEx(CLSCTX_ALL): " + CodeText(nullptr, failure),
             NextStep(failure, 0));
  // One activation per context tells which is registered and which fails.
  std::wstring contexts;
  for (const ContextTry &attempt : kContexts) {
    CallStarted(kActivationCall);
    IOPCServer *created = ConnectServer(name, attempt.context, &seen);
    CallEnded();
    if (created != nullptr) {
      created->Release();
      ReportLine(Check::kInfo, "activation", std::wstring(attempt.name) + L": gives IOPCServer");
      continue;
    }
    const HRESULT code = Failure(seen);
    ReportLine(Check::kInfo, "activation", std::wstring(attempt.name) + L": " + CodeText(nullptr, code));
    // The first context that has a server and fails is the one to explain.
    if (contexts.empty() && code != REGDB_E_CLASSNOTREG && code != CLASS_E_CLASSNOTAVAILABLE) {
      contexts = std::wstring(attempt.name) + L" activation fails with " + HexCode(code) + L": " +
                 NextStep(code, attempt.context);
    }
  }
  if (!findings.cause.empty()) {
    *verdict = monitorSays + findings.cause;
  } else if (!contexts.empty()) {
    *verdict = monitorSays + contexts;
  } else {
    // Every context said the class has no server there.
    *verdict = monitorSays + L"the class has no server registered for any context (no InprocServer32 or "
                             L"LocalServer32 key in the registry view of this process)";
  }
  return nullptr;
}
