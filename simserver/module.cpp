// DLL entry points for activation and unloading, and the class factory that
// creates server objects.
#include "module.h"

#include <new>

#include "journal.h"
#include "server_object.h"
#include "simserver_clsid.h"

namespace simserver {
namespace {

HMODULE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;
LONG g_excess_releases = 0;

class ClassFactory final : public IClassFactory {
 public:
  ClassFactory() { ObjectCreated(); }
  ClassFactory(const ClassFactory &) = delete;
  ClassFactory &operator=(const ClassFactory &) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory *>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    IUnknown *server = nullptr;
    const HRESULT hr = CreateServerObject(&server);
    if (FAILED(hr)) return hr;
    const HRESULT qi = server->QueryInterface(riid, ppv);
    server->Release();
    return qi;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      LockModule();
    } else {
      UnlockModule();
    }
    return S_OK;
  }

 private:
  ~ClassFactory() { ObjectDestroyed(); }
  LONG refs_ = 1;
};

}  // namespace

HMODULE ModuleHandle() { return g_module; }
void ObjectCreated() { InterlockedIncrement(&g_objects); }
void ObjectDestroyed() {
  if (InterlockedDecrement(&g_objects) == 0) Journal("every object released");
}
void LockModule() { InterlockedIncrement(&g_locks); }
void UnlockModule() {
  // An unbalanced unlock must not wrap the count and pin or free the DLL wrongly.
  LONG current = g_locks;
  while (current > 0) {
    const LONG seen = InterlockedCompareExchange(&g_locks, current - 1, current);
    if (seen == current) return;
    current = seen;
  }
}
bool ModuleInUse() { return g_objects != 0 || g_locks != 0; }
ULONG ExcessRelease() {
  InterlockedIncrement(&g_excess_releases);
  return 0;
}

}  // namespace simserver

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    simserver::g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(rclsid, CLSID_BrenvickSimServer)) return CLASS_E_CLASSNOTAVAILABLE;
  auto *factory = new (std::nothrow) simserver::ClassFactory();
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow() { return simserver::ModuleInUse() ? S_FALSE : S_OK; }

// The extra Releases since the last call; a client that releases correctly
// leaves it at 0.
STDAPI_(LONG) SimServerTakeExcessReleases() { return InterlockedExchange(&simserver::g_excess_releases, 0); }
