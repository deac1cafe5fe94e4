// simserver.exe: the simulation server as a local server EXE. COM starts it
// with -Embedding; it registers its class object for one client and ends by
// itself once that client has released everything (or when no client came
// within a minute). /RegServer and /UnregServer write and remove its
// registration; the exit status is 0 on success.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "local_server.h"
#include "module.h"
#include "simserver_clsid.h"

namespace {

constexpr UINT kNoClientTimeoutMs = 60000;

DWORD g_main_thread = 0;

void QuitWhenIdle() { PostThreadMessageW(g_main_thread, WM_QUIT, 0, 0); }

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
      const UINT_PTR timer = SetTimer(nullptr, 0, kNoClientTimeoutMs, nullptr);
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr && !simserver::ModuleInUse()) break;
        DispatchMessageW(&message);
      }
      if (timer != 0) KillTimer(nullptr, timer);
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
