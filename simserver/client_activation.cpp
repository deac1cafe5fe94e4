// The class object's registration for one client (REGCLS_SINGLEUSE), and
// how the process of that client is learnt: by the activation's own call,
// in a multithreaded apartment, from the RPC runtime.
//
// Why it is learnt there: the factory lives in the server's single-threaded
// apartment, where COM runs an incoming call on the apartment's thread,
// away from the RPC thread whose call it is (I_RpcBindingInqLocalClientPID
// answers RPC_S_NO_CALL_ACTIVE there, CoGetCallContext RPC_E_CALL_COMPLETE;
// RpcServerInqCallAttributes is missing under Wine and aborts the process).
// In a multithreaded apartment COM runs the call on that RPC thread itself.
// So the class object registered is a gate in a multithreaded apartment of
// its own thread; it asks for the caller's process and then has the
// apartment's factory make the object, through the global interface table.
// The client's interface pointer leads to the single-threaded apartment
// directly: only the activation passes the gate, no later call does.
//
// Which process activates cannot be told from who started the server: any
// server EXE waiting with its class registered gets the next activation,
// also one from a client that started another server in the same moment.
#include "client_activation.h"

#include <rpc.h>

#include <new>

#include "factory_unknown.h"
#include "simserver_clsid.h"

namespace simserver {
namespace {

class ClientGate final : public FactoryUnknown {
 public:
  ClientGate(IGlobalInterfaceTable *table, DWORD factory) : table_(table), factory_(factory) { table_->AddRef(); }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    NoteClient();
    IClassFactory *factory = nullptr;
    HRESULT hr = ApartmentFactory(&factory);
    if (SUCCEEDED(hr)) {
      hr = factory->CreateInstance(outer, riid, ppv);
      factory->Release();
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    IClassFactory *factory = nullptr;
    HRESULT hr = ApartmentFactory(&factory);
    if (SUCCEEDED(hr)) {
      hr = factory->LockServer(lock);
      factory->Release();
    }
    return hr;
  }

  HANDLE Client() { return InterlockedCompareExchangePointer(&client_, nullptr, nullptr); }

 private:
  ~ClientGate() override {
    if (client_ != nullptr) CloseHandle(client_);
    table_->Release();
  }

  // The single-threaded apartment's factory, as a proxy for this thread.
  HRESULT ApartmentFactory(IClassFactory **factory) {
    return table_->GetInterfaceFromGlobal(factory_, IID_IClassFactory, reinterpret_cast<void **>(factory));
  }

  // The first activation's caller is the client; a process that cannot be
  // named or opened is watched by no one.
  void NoteClient() {
    if (InterlockedExchange(&asked_, 1) != 0) return;
    unsigned long id = 0;
    if (I_RpcBindingInqLocalClientPID(nullptr, &id) != RPC_S_OK || id == 0) return;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (process != nullptr) InterlockedExchangePointer(&client_, process);
  }

  IGlobalInterfaceTable *const table_;
  const DWORD factory_;
  LONG asked_ = 0;
  HANDLE volatile client_ = nullptr;
};

}  // namespace

struct ClassRegistration {
  DWORD cookie = 0;
  // Only where the client is learnt:
  IGlobalInterfaceTable *table = nullptr;
  DWORD factory = 0;  // in the table
  ClientGate *gate = nullptr;
  HANDLE registered = nullptr;
  HANDLE revoke = nullptr;
  HANDLE thread = nullptr;  // of the gate's apartment
  HRESULT result = E_FAIL;
};

namespace {

// The gate's apartment: registers the gate, keeps it registered until told
// to revoke it, and leaves.
DWORD WINAPI GateApartment(void *parameter) {
  auto *registration = static_cast<ClassRegistration *>(parameter);
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  HRESULT hr = joined;
  if (SUCCEEDED(joined)) {
    hr = CoRegisterClassObject(CLSID_BrenvickSimServer, registration->gate, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE,
                               &registration->cookie);
  }
  registration->result = hr;
  SetEvent(registration->registered);
  if (SUCCEEDED(hr)) {
    WaitForSingleObject(registration->revoke, INFINITE);
    CoRevokeClassObject(registration->cookie);
  }
  if (SUCCEEDED(joined)) CoUninitialize();
  return 0;
}

// After the gate's thread has ended, or before it started.
void Free(ClassRegistration *registration) {
  if (registration->thread != nullptr) CloseHandle(registration->thread);
  if (registration->revoke != nullptr) CloseHandle(registration->revoke);
  if (registration->registered != nullptr) CloseHandle(registration->registered);
  if (registration->gate != nullptr) registration->gate->Release();
  if (registration->factory != 0) registration->table->RevokeInterfaceFromGlobal(registration->factory);
  if (registration->table != nullptr) registration->table->Release();
  delete registration;
}

ClassRegistration *RegisterGate(IClassFactory *factory, ClassRegistration *registration) {
  HRESULT hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IGlobalInterfaceTable, reinterpret_cast<void **>(&registration->table));
  if (SUCCEEDED(hr)) hr = registration->table->RegisterInterfaceInGlobal(factory, IID_IClassFactory, &registration->factory);
  if (SUCCEEDED(hr)) {
    registration->gate = new (std::nothrow) ClientGate(registration->table, registration->factory);
    registration->registered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    registration->revoke = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (registration->gate != nullptr && registration->registered != nullptr && registration->revoke != nullptr) {
      registration->thread = CreateThread(nullptr, 0, GateApartment, registration, 0, nullptr);
    }
  }
  // The gate's apartment calls nothing in this one while registering.
  if (registration->thread != nullptr) WaitForSingleObject(registration->registered, INFINITE);
  if (registration->thread != nullptr && SUCCEEDED(registration->result)) return registration;
  if (registration->thread != nullptr) WaitForSingleObject(registration->thread, INFINITE);
  Free(registration);
  return nullptr;
}

}  // namespace

ClassRegistration *RegisterForOneClient(IClassFactory *factory, bool learn_client) {
  auto *registration = new (std::nothrow) ClassRegistration;
  if (registration == nullptr) return nullptr;
  if (learn_client) return RegisterGate(factory, registration);
  if (SUCCEEDED(CoRegisterClassObject(CLSID_BrenvickSimServer, factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE,
                                      &registration->cookie))) {
    return registration;
  }
  Free(registration);
  return nullptr;
}

HANDLE ClientProcess(ClassRegistration *registration) {
  return registration->gate != nullptr ? registration->gate->Client() : nullptr;
}

void Revoke(ClassRegistration *registration) {
  if (registration->thread != nullptr) {
    SetEvent(registration->revoke);
    // An activation still under way waits for this apartment to make its
    // object: its calls are dispatched meanwhile.
    DWORD index = 0;
    if (FAILED(CoWaitForMultipleHandles(0, INFINITE, 1, &registration->thread, &index))) {
      WaitForSingleObject(registration->thread, INFINITE);
    }
  } else {
    CoRevokeClassObject(registration->cookie);
  }
  Free(registration);
}

}  // namespace simserver
