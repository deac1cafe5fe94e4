// simserver.exe: the simulation server as a local server EXE. COM starts it
// with -Embedding; it registers its class object for one client and ends by
// itself once that client has released everything, once that client's
// process has ended (under Wine), or when no client came within a minute.
// /RegServer and /UnregServer write and remove its registration; the exit
// status is 0 on success.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include "journal.h"
#include "local_server.h"
#include "module.h"
#include "simserver_clsid.h"

namespace {

constexpr UINT kNoClientTimeoutMs = 60000;

DWORD g_main_thread = 0;

void QuitWhenIdle() { PostThreadMessageW(g_main_thread, WM_QUIT, 0, 0); }

bool RunningOnWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

DWORD ParentProcessId() {
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) {
      parent = entry.th32ParentProcessID;
      break;
    }
  }
  CloseHandle(snapshot);
  return parent;
}

ULONGLONG CreationTime(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (ULONGLONG{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

// The process of our one client, to wait on, or null. A client that dies
// never releases its objects, and Wine has no pinging that would release
// them for it, so without this the server would run on for good. Under Wine
// the activation's call carries no trace of its caller on the thread that
// runs it (I_RpcBindingInqLocalClientPID answers RPC_S_NO_CALL_ACTIVE there;
// RpcServerInqCallAttributes is missing and aborts the process), but COM
// starts the server from the activating process itself: with one client per
// process, the parent is the client. On Windows the parent is the system's
// COM launcher, and the pinging of dead clients releases their objects;
// there nothing is watched. A parent that ended before we could open it,
// whose id now names a younger process, is no client of ours.
HANDLE OpenClientProcess() {
  if (!RunningOnWine()) return nullptr;
  const DWORD parent = ParentProcessId();
  if (parent == 0) return nullptr;
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent);
  if (process == nullptr) return nullptr;
  const ULONGLONG started = CreationTime(process);
  if (started == 0 || started > CreationTime(GetCurrentProcess())) {
    CloseHandle(process);
    return nullptr;
  }
  return process;
}

// True when the last object and lock are gone; on Windows COM has then
// suspended the class object, so no activation can still reach this process.
bool Idle() {
  CoAddRefServerProcess();
  return CoReleaseServerProcess() == 0;
}

// Dispatches COM's calls until WM_QUIT, the client's process ends, or the
// timer finds the server still without objects. The client's process is
// waited on with the messages: nothing is spent per call.
void RunMessageLoop(HANDLE client) {
  for (;;) {
    const DWORD woke =
        MsgWaitForMultipleObjectsEx(client != nullptr ? 1 : 0, &client, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0 && client != nullptr) {
      simserver::Journal("client process ended");
      return;
    }
    // Better to serve on than to end under a live client.
    if (woke == WAIT_FAILED) client = nullptr;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return;
      if (message.message == WM_TIMER && message.hwnd == nullptr && Idle()) return;
      DispatchMessageW(&message);
    }
  }
}

int Serve() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  g_main_thread = GetCurrentThreadId();
  simserver::SetIdleHandler(QuitWhenIdle);
  int status = 1;
  IUnknown *factory = nullptr;
  if (SUCCEEDED(simserver::CreateClassFactory(false, IID_IUnknown, reinterpret_cast<void **>(&factory)))) {
    DWORD cookie = 0;
    // One client per process: each activation gets a server started for it,
    // with its own scenario.
    const HRESULT hr =
        CoRegisterClassObject(CLSID_BrenvickSimServer, factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookie);
    factory->Release();
    if (SUCCEEDED(hr)) {
      HANDLE client = OpenClientProcess();
      const UINT_PTR timer = SetTimer(nullptr, 0, kNoClientTimeoutMs, nullptr);
      RunMessageLoop(client);
      if (timer != 0) KillTimer(nullptr, timer);
      if (client != nullptr) CloseHandle(client);
      CoRevokeClassObject(cookie);
      status = 0;
    }
  }
  simserver::SetIdleHandler(nullptr);
  CoUninitialize();
  return status;
}

// "/RegServer", "-regserver" ...
bool IsSwitch(const wchar_t *argument, const wchar_t *name) {
  return (argument[0] == L'/' || argument[0] == L'-') && lstrcmpiW(argument + 1, name) == 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int count = 0;
  LPWSTR *arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  int status = 0;
  if (arguments != nullptr && count > 1 && IsSwitch(arguments[1], L"RegServer")) {
    status = SUCCEEDED(simserver::RegisterLocalServer()) ? 0 : 1;
  } else if (arguments != nullptr && count > 1 && IsSwitch(arguments[1], L"UnregServer")) {
    status = SUCCEEDED(simserver::UnregisterLocalServer()) ? 0 : 1;
  } else {
    status = Serve();
  }
  LocalFree(arguments);
  return status;
}
