// The class factory that creates server objects, and the counts of live
// objects and locks that decide when the DLL may unload or the EXE may end.
// In the EXE every object and lock also holds a reference on COM's count of
// the server process: its release to zero suspends the class objects in the
// same step, so an activation arriving while the process winds down starts
// a new process instead of reaching this one. (Wine keeps the count but
// suspends nothing; there the class object's single use alone keeps a
// second client away.)
#include "module.h"

#include <new>

#include "factory_unknown.h"
#include "journal.h"
#include "server_object.h"
#include "simserver_clsid.h"

namespace simserver {
namespace {

HMODULE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;
LONG g_excess_releases = 0;
void (*g_idle_handler)() = nullptr;

// Only a server process (one with an idle handler) counts with COM; the
// DLL must not touch the count of its client's process.
void Acquired() {
  if (g_idle_handler != nullptr) CoAddRefServerProcess();
}

void Released() {
  if (g_idle_handler != nullptr && CoReleaseServerProcess() == 0) g_idle_handler();
}

class ClassFactory final : public FactoryUnknown {
 public:
  // A factory the EXE has registered with COM must not keep the process
  // alive by itself.
  explicit ClassFactory(bool counted) : counted_(counted) {
    if (counted_) ObjectCreated();
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
  ~ClassFactory() override {
    if (counted_) ObjectDestroyed();
  }
  const bool counted_;
};

}  // namespace

HMODULE ModuleHandle() { return g_module; }
void SetModuleHandle(HMODULE module) { g_module = module; }
void SetIdleHandler(void (*handler)()) { g_idle_handler = handler; }
void ObjectCreated() {
  InterlockedIncrement(&g_objects);
  Acquired();
}
void ObjectDestroyed() {
  if (InterlockedDecrement(&g_objects) == 0) Journal("every object released");
  Released();
}
void LockModule() {
  InterlockedIncrement(&g_locks);
  Acquired();
}
void UnlockModule() {
  // An unbalanced unlock must not wrap the count and pin or free the DLL wrongly.
  LONG current = g_locks;
  while (current > 0) {
    const LONG seen = InterlockedCompareExchange(&g_locks, current - 1, current);
    if (seen == current) {
      Released();
      return;
    }
    current = seen;
  }
}
bool ModuleInUse() { return g_objects != 0 || g_locks != 0; }
ULONG ExcessRelease() {
  InterlockedIncrement(&g_excess_releases);
  return 0;
}
LONG TakeExcessReleases() { return InterlockedExchange(&g_excess_releases, 0); }

HRESULT CreateClassFactory(bool counted, REFIID riid, void **ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  auto *factory = new (std::nothrow) ClassFactory(counted);
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

}  // namespace simserver
