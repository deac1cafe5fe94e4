// The monitor's calls through the proxy/stub of opcmon-ps.dll to fakes in
// another apartment of this process, as to a server in a process of its
// own: a failing call still brings back what the server handed out (the
// stub marshals out-parameters whatever the result), and the monitor frees
// and releases all of it; the server's texts arrive whole. The proxy/stub is registered for this process
// only; nothing is written to the registry.
#include <windows.h>
#include <objbase.h>

#include <string>

#include "com_test.h"
#include "fake_group.h"
#include "fake_server.h"
#include "group.h"
#include "read.h"

namespace {

using ::testing::_;
using ::testing::Invoke;
using ::testing::NotNull;
using ::testing::Pointee;
using ::testing::StrictMock;
using ::testing::WithArg;

// {D0CD6F78-410B-4371-B619-43EF6A33B157}, the proxy's class.
constexpr wchar_t kProxyClass[] = L"{D0CD6F78-410B-4371-B619-43EF6A33B157}";
const IID *const kMarshalled[] = {&IID_IOPCServer, &IID_IOPCBrowseServerAddressSpace, &IID_IOPCItemMgt,
                                  &IID_IOPCSyncIO};

using GetClassObjectFn = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, void **);

// Makes opcmon-ps.dll the proxy/stub of the OPC interfaces for the calling
// thread's apartment; CoRevokeClassObject with the cookie, or the
// apartment's end, undoes it. 0 when it could not.
DWORD UseProxyStub() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"OPCPROXY_DLL", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 0;
  static HMODULE module = LoadLibraryW(path);  // kept to the end of the process, as COM may use it until then
  if (module == nullptr) return 0;
  const auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
  CLSID clsid;
  if (getClassObject == nullptr || FAILED(CLSIDFromString(kProxyClass, &clsid))) return 0;
  IUnknown *factory = nullptr;
  if (FAILED(getClassObject(clsid, IID_IUnknown, reinterpret_cast<void **>(&factory)))) return 0;
  DWORD cookie = 0;
  const HRESULT hr = CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  factory->Release();
  if (FAILED(hr)) return 0;
  for (const IID *iid : kMarshalled) {
    if (FAILED(CoRegisterPSClsid(*iid, clsid))) {
      CoRevokeClassObject(cookie);
      return 0;
    }
  }
  return cookie;
}

// A fake in an apartment of its own: a thread of the process's
// multithreaded apartment marshals it for the test's apartment and stays
// until the end of the scope, while COM's own threads serve the calls.
class OtherApartment {
 public:
  OtherApartment(IUnknown *object, REFIID iid) : object_(object), iid_(iid) {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    if (thread_ != nullptr) WaitForSingleObject(ready_, INFINITE);
  }
  ~OtherApartment() {
    SetEvent(done_);
    if (thread_ != nullptr) {
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
    }
    CloseHandle(ready_);
    CloseHandle(done_);
  }
  OtherApartment(const OtherApartment &) = delete;
  OtherApartment &operator=(const OtherApartment &) = delete;

  // The object as the test's apartment sees it (a proxy), once; null when
  // it could not be marshalled.
  template <typename Interface>
  Interface *Proxy() {
    void *proxy = nullptr;
    if (stream_ == nullptr || FAILED(CoGetInterfaceAndReleaseStream(stream_, iid_, &proxy))) proxy = nullptr;
    stream_ = nullptr;
    return static_cast<Interface *>(proxy);
  }

 private:
  static DWORD WINAPI Run(void *context) {
    auto *self = static_cast<OtherApartment *>(context);
    const bool open = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    const DWORD cookie = open ? UseProxyStub() : 0;
    if (cookie != 0 && FAILED(CoMarshalInterThreadInterfaceInStream(self->iid_, self->object_, &self->stream_))) {
      self->stream_ = nullptr;
    }
    SetEvent(self->ready_);
    WaitForSingleObject(self->done_, INFINITE);
    if (cookie != 0) CoRevokeClassObject(cookie);
    if (open) CoUninitialize();
    return 0;
  }

  IUnknown *object_;
  IID iid_;
  IStream *stream_ = nullptr;
  HANDLE ready_ = nullptr;
  HANDLE done_ = nullptr;
  HANDLE thread_ = nullptr;
};

class MarshalledTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    if (HasFatalFailure()) return;
    cookie_ = UseProxyStub();
    ASSERT_NE(0u, cookie_) << "opcmon-ps.dll (OPCPROXY_DLL) not usable as the proxy/stub";
  }
  void TearDown() override {
    if (cookie_ != 0) CoRevokeClassObject(cookie_);
    ComTest::TearDown();
  }

  DWORD cookie_ = 0;
};

ItemSample EmptySample() {
  ItemSample sample = {};
  VariantInit(&sample.value);
  return sample;
}

TEST_F(MarshalledTest, FailingReadBringsTheArraysBackAndTheMonitorFreesThem) {
  StrictMock<FakeGroup> group;
  group.initial.value = TestVariant::Bstr(L"left behind");
  const OPCHANDLE handle = group.AddItem(L"A");
  EXPECT_CALL(group, Read(OPC_DS_CACHE, 1u, Pointee(handle), NotNull(), NotNull())).Times(3);
  OtherApartment apartment(static_cast<IOPCItemMgt *>(&group), IID_IOPCItemMgt);
  IOPCItemMgt *itemMgt = apartment.Proxy<IOPCItemMgt>();
  ASSERT_NE(nullptr, itemMgt);
  ASSERT_NE(static_cast<IOPCItemMgt *>(&group), itemMgt) << "the group itself, not a proxy";

  // A read that succeeds, so that the connection has everything in place.
  ItemSample sample = EmptySample();
  EXPECT_EQ(1, ReadItemSample(itemMgt, handle, sample));
  EXPECT_EQ(VT_BSTR, sample.value.vt);
  VariantClear(&sample.value);

  // What a failing Read brings back through the proxy: both arrays, the
  // string inside, all the caller's.
  group.handOutThenFail = E_FAIL;
  IOPCSyncIO *syncIO = nullptr;
  ASSERT_HR(S_OK, itemMgt->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void **>(&syncIO)));
  OPCHANDLE asked = handle;
  OPCITEMSTATE *states = nullptr;
  HRESULT *errors = nullptr;
  EXPECT_HR(E_FAIL, syncIO->Read(OPC_DS_CACHE, 1, &asked, &states, &errors));
  EXPECT_TRUE(states != nullptr && errors != nullptr) << "the failed call brought no arrays back";
  if (states != nullptr) {
    EXPECT_TRUE(Ledger().IsLive(states));
    EXPECT_EQ(VT_BSTR, states[0].vDataValue.vt);
    VariantClear(&states[0].vDataValue);
  }
  CoTaskMemFree(states);
  CoTaskMemFree(errors);
  syncIO->Release();

  const size_t live = Ledger().Live();
  sample = EmptySample();
  EXPECT_EQ(0, ReadItemSample(itemMgt, handle, sample));
  EXPECT_EQ(VT_EMPTY, sample.value.vt);
  EXPECT_EQ(live, Ledger().Live()) << "what the failing read brought back is freed";
  itemMgt->Release();
}

TEST_F(MarshalledTest, FailingAddGroupBringsTheGroupBackAndTheMonitorReleasesIt) {
  StrictMock<FakeGroup> group;
  StrictMock<FakeServer> server;
  server.group = &group;
  server.handOutThenFail = E_FAIL;
  EXPECT_CALL(server, AddGroup(_, _, _, _, _, _, _, _, _, _, _));
  OtherApartment apartment(static_cast<IOPCServer *>(&server), IID_IOPCServer);
  IOPCServer *proxy = apartment.Proxy<IOPCServer>();
  ASSERT_NE(nullptr, proxy);
  IOPCItemMgt *itemMgt = nullptr;
  OPCHANDLE handle = 0;

  EXPECT_EQ(0, CreateMonitorGroup(proxy, &itemMgt, &handle));
  EXPECT_EQ(nullptr, itemMgt);
  EXPECT_REFS(&group, 0u) << "the group's stub is still held from the monitor's side";
  proxy->Release();
}

// The server's texts through the proxy (GetErrorString, GetItemID and the
// vendor text in GetStatus' record): whole, in a block the caller frees,
// and nothing of the server's left in task memory.
TEST_F(MarshalledTest, ServerTextsArriveWholeAndTheCallerFreesThem) {
  StrictMock<FakeServer> server;
  const wchar_t *text = nullptr;
  const auto handOut = [&text](LPWSTR *out) { return (*out = TaskString(text)) != nullptr ? S_OK : E_OUTOFMEMORY; };
  EXPECT_CALL(server, GetErrorString(E_FAIL, LOCALE_SYSTEM_DEFAULT, NotNull()))
      .Times(3).WillRepeatedly(WithArg<2>(Invoke(handOut)));
  EXPECT_CALL(server, GetItemID(NotNull(), NotNull())).Times(3).WillRepeatedly(WithArg<1>(Invoke(handOut)));
  EXPECT_CALL(server, GetStatus(NotNull())).Times(3).WillRepeatedly(Invoke([&](OPCSERVERSTATUS **out) {
    return (*out = TaskArray<OPCSERVERSTATUS>(1)) != nullptr ? handOut(&(*out)->szVendorInfo) : E_OUTOFMEMORY;
  }));
  {
    OtherApartment apartment(static_cast<IOPCServer *>(&server), IID_IOPCServer);
    IOPCServer *proxy = apartment.Proxy<IOPCServer>();
    ASSERT_NE(nullptr, proxy);
    IOPCBrowseServerAddressSpace *browse = nullptr;
    ASSERT_HR(S_OK, proxy->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void **>(&browse)));
    const char *const calls[] = {"GetErrorString", "GetItemID", "GetStatus"};
    for (const wchar_t *sent : {L"the device does not answer", L"", L"Druck \u00fc \u540d\u524d\x1B[2J"}) {
      text = sent;
      const size_t live = Ledger().Live();
      LPWSTR got[3] = {};
      OPCSERVERSTATUS *status = nullptr;
      EXPECT_HR(S_OK, proxy->GetErrorString(E_FAIL, LOCALE_SYSTEM_DEFAULT, &got[0]));
      EXPECT_HR(S_OK, browse->GetItemID(const_cast<LPWSTR>(L"Sim.Ramp.Int16"), &got[1]));
      EXPECT_HR(S_OK, proxy->GetStatus(&status));
      if (status != nullptr) got[2] = status->szVendorInfo;
      CoTaskMemFree(status);
      for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(got[i] == nullptr || Ledger().IsLive(got[i])) << calls[i] << ": not the caller's block";
        EXPECT_EQ(std::wstring(sent), got[i] ? std::wstring(got[i]) : L"(null)") << calls[i];
        CoTaskMemFree(got[i]);
      }
      EXPECT_EQ(live, Ledger().Live()) << "left in task memory: " << Ledger().DescribeLive();
    }
    browse->Release();
    proxy->Release();
  }
  EXPECT_REFS(&server, 0u);
}

}  // namespace
