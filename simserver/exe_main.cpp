// simserver.exe: the simulation server as a local server EXE. COM starts it
// with -Embedding; it registers its class object for one client and ends by
// itself once that client has released everything, once that client's
// process has ended (under Wine), or when no client came within a minute.
// /RegServer and /UnregServer write and remove its registration; the exit
// status is 0 on success.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "client_activation.h"
#include "journal.h"
#include "local_server.h"
#include "module.h"
#include "scenarios.h"

namespace {

constexpr UINT kNoClientTimeoutMs = 60000;

DWORD g_main_thread = 0;

void QuitWhenIdle() { PostThreadMessageW(g_main_thread, WM_QUIT, 0, 0); }

bool RunningOnWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// True when the last object and lock are gone; on Windows COM has then
// suspended the class object, so no activation can still reach this process.
bool Idle() {
  CoAddRefServerProcess();
  return CoReleaseServerProcess() == 0;
}

// Dispatches COM's calls until WM_QUIT, the client's process ends, or the
// timer finds the server still without objects. A client that dies never
// releases its objects, and Wine has no pinging that would release them for
// it, so under Wine the client's process is waited on, with the messages:
// nothing is spent per call. On Windows the pinging of dead clients
// releases their objects, and nothing is watched.
void RunMessageLoop(simserver::ClassRegistration *registration) {
  HANDLE client = nullptr;
  bool watching = true;
  for (;;) {
    // Known once the activation's call has come; that call reaches this
    // thread as a message, after which this looks again.
    if (watching && client == nullptr) client = simserver::ClientProcess(registration);
    const DWORD woke =
        MsgWaitForMultipleObjectsEx(client != nullptr ? 1 : 0, &client, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0 && client != nullptr) {
      simserver::Journal("client process ended");
      return;
    }
    // Better to serve on than to end under a live client.
    if (woke == WAIT_FAILED) {
      client = nullptr;
      watching = false;
    }
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
  // A server slow to start: COM's activation waits until the class object
  // is registered.
  simserver::StagedStart();
  IClassFactory *factory = nullptr;
  if (SUCCEEDED(simserver::CreateClassFactory(false, IID_IClassFactory, reinterpret_cast<void **>(&factory)))) {
    // One client per process, each with the scenario of the process that
    // started its server: under Wine not always its own (see
    // client_activation.cpp).
    simserver::ClassRegistration *registration = simserver::RegisterForOneClient(factory, RunningOnWine());
    factory->Release();
    if (registration != nullptr) {
      const UINT_PTR timer = SetTimer(nullptr, 0, kNoClientTimeoutMs, nullptr);
      RunMessageLoop(registration);
      if (timer != 0) KillTimer(nullptr, timer);
      simserver::Revoke(registration);
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
