// Entry points of simserver.dll for activation and unloading.
#include "module.h"
#include "scenarios.h"
#include "simserver_clsid.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    simserver::SetModuleHandle(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(rclsid, CLSID_BrenvickSimServer)) return CLASS_E_CLASSNOTAVAILABLE;
  // A server slow to start: the activation in the client's process waits
  // here, as the EXE's makes COM wait for its class object.
  simserver::StagedStart();
  return simserver::CreateClassFactory(true, riid, ppv);
}

STDAPI DllCanUnloadNow() { return simserver::ModuleInUse() ? S_FALSE : S_OK; }

// The extra Releases since the last call; a client that releases correctly
// leaves it at 0.
STDAPI_(LONG) SimServerTakeExcessReleases() { return simserver::TakeExcessReleases(); }

// For the tests: `wait` is called for each staged delay instead of waiting
// it out; null restores the wait.
STDAPI_(void) SimServerSetDelayWait(void(WINAPI *wait)(DWORD)) { simserver::SetDelayWait(wait); }
