// The simulation server DLL, loaded directly and driven through its class
// object, the way a client would use it after activation (its registration
// is in self_registration_test.cpp).
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "../simserver/simserver_clsid.h"
#include "com_test.h"
#include "opcda.h"

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, void **);
using NoArgumentFn = HRESULT(STDAPICALLTYPE *)();
using TakeExcessReleasesFn = LONG(STDAPICALLTYPE *)();
using DelayWaitFn = void(WINAPI *)(DWORD);
using SetDelayWaitFn = void(STDAPICALLTYPE *)(DelayWaitFn);

constexpr wchar_t kScenarioVariable[] = L"BRENVICK_SIM_SCENARIO";

struct SimServerDll {
  HMODULE module = nullptr;
  GetClassObjectFn get_class_object = nullptr;
  NoArgumentFn can_unload_now = nullptr;
  TakeExcessReleasesFn take_excess_releases = nullptr;
  SetDelayWaitFn set_delay_wait = nullptr;
};

// SIMSERVER_DLL if set, otherwise simserver.dll beside this program.
std::wstring DllPath() {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD n = GetEnvironmentVariableW(L"SIMSERVER_DLL", buffer, MAX_PATH * 2);
  if (n > 0 && n < MAX_PATH * 2) return buffer;
  std::wstring path(buffer, GetModuleFileNameW(nullptr, buffer, MAX_PATH * 2));
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"simserver.dll";
}

const SimServerDll &Dll() {
  static const SimServerDll dll = [] {
    SimServerDll d;
    HMODULE module = LoadLibraryW(DllPath().c_str());
    if (module != nullptr) {
      const auto entry = [module](const char *name) {
        return reinterpret_cast<void (*)()>(GetProcAddress(module, name));
      };
      d.module = module;
      d.get_class_object = reinterpret_cast<GetClassObjectFn>(entry("DllGetClassObject"));
      d.can_unload_now = reinterpret_cast<NoArgumentFn>(entry("DllCanUnloadNow"));
      d.take_excess_releases = reinterpret_cast<TakeExcessReleasesFn>(entry("SimServerTakeExcessReleases"));
      d.set_delay_wait = reinterpret_cast<SetDelayWaitFn>(entry("SimServerSetDelayWait"));
    }
    return d;
  }();
  return dll;
}

template <typename T>
class Ref {
 public:
  Ref() = default;
  Ref(const Ref &) = delete;
  Ref &operator=(const Ref &) = delete;
  Ref(Ref &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~Ref() { reset(); }
  void reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }
  T *get() const { return p_; }
  T *operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void **put() {
    reset();
    return reinterpret_cast<void **>(&p_);
  }

 private:
  T *p_ = nullptr;
};

ULONGLONG Ticks(const FILETIME &ft) { return (ULONGLONG{ft.dwHighDateTime} << 32) | ft.dwLowDateTime; }

struct Added {
  HRESULT hr = E_UNEXPECTED;
  std::vector<OPCITEMRESULT> results;
  std::vector<HRESULT> errors;
};

struct ReadOutcome {
  HRESULT hr = E_UNEXPECTED;
  DWORD count = 0;
  OPCITEMSTATE *states = nullptr;
  HRESULT *errors = nullptr;
  ReadOutcome() = default;
  ReadOutcome(const ReadOutcome &) = delete;
  ReadOutcome &operator=(const ReadOutcome &) = delete;
  ~ReadOutcome() {
    for (DWORD i = 0; states != nullptr && i < count; ++i) VariantClear(&states[i].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
  }
};

// The common fixture opens COM and checks at the end that the test freed
// every block the server handed out and that the server kept none.
class SimServer : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    ASSERT_NE(Dll().get_class_object, nullptr) << "simserver.dll not loaded from the path in SIMSERVER_DLL or beside "
                                                  "the test";
  }
  void TearDown() override {
    SetEnvironmentVariableW(kScenarioVariable, nullptr);
    if (Dll().set_delay_wait != nullptr) Dll().set_delay_wait(nullptr);
    if (Dll().take_excess_releases != nullptr) {
      EXPECT_EQ(Dll().take_excess_releases(), 0) << "extra Releases of the server's objects during the test";
    }
    ComTest::TearDown();
  }

  static Ref<IOPCServer> Create(const wchar_t *scenario = nullptr) {
    SetEnvironmentVariableW(kScenarioVariable, scenario);
    Ref<IClassFactory> factory;
    Ref<IOPCServer> server;
    EXPECT_EQ(Dll().get_class_object(CLSID_BrenvickSimServer, IID_IClassFactory, factory.put()), S_OK);
    if (factory) {
      EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOPCServer, server.put()), S_OK);
    }
    return server;
  }

  static Ref<IOPCItemMgt> AddGroup(IOPCServer *server, const wchar_t *name = L"", OPCHANDLE *handle = nullptr) {
    Ref<IOPCItemMgt> group;
    OPCHANDLE h = 0;
    DWORD rate = 0;
    EXPECT_EQ(server->AddGroup(name, TRUE, 1000, 1, nullptr, nullptr, 0, &h, &rate, IID_IOPCItemMgt,
                               reinterpret_cast<LPUNKNOWN *>(group.put())),
              S_OK);
    EXPECT_EQ(rate, 1000u);
    if (handle != nullptr) *handle = h;
    return group;
  }

  // Every name of a flat browse, fetched celt at a time.
  static std::vector<std::wstring> Browse(IOPCServer *server, ULONG celt, HRESULT *browse_hr = nullptr,
                                          const wchar_t *filter = L"", VARTYPE type = VT_EMPTY) {
    Ref<IOPCBrowseServerAddressSpace> browse;
    EXPECT_EQ(server->QueryInterface(IID_IOPCBrowseServerAddressSpace, browse.put()), S_OK);
    Ref<IEnumString> names;
    const HRESULT hr = browse->BrowseOPCItemIDs(OPC_FLAT, filter, type, 0, reinterpret_cast<LPENUMSTRING *>(names.put()));
    if (browse_hr != nullptr) *browse_hr = hr;
    std::vector<std::wstring> out;
    EXPECT_TRUE(names) << "no enumerator, hr " << std::hex << hr;
    if (!names) return out;
    std::vector<LPOLESTR> batch(celt);
    for (;;) {
      ULONG fetched = 12345;
      const HRESULT next = names->Next(celt, batch.data(), celt == 1 ? nullptr : &fetched);
      if (celt == 1) fetched = next == S_OK ? 1 : 0;
      EXPECT_LE(fetched, celt);
      for (ULONG i = 0; i < fetched && i < celt; ++i) {
        out.emplace_back(batch[i]);
        CoTaskMemFree(batch[i]);
      }
      EXPECT_EQ(next, fetched == celt ? S_OK : S_FALSE);
      if (next != S_OK) break;
    }
    return out;
  }

  // Adds the items the way the monitor does: VT_I2 requested for every one
  // unless said otherwise.
  static Added AddItems(IOPCItemMgt *group, const std::vector<std::wstring> &ids, VARTYPE requested = VT_I2) {
    return AddItems(group, ids, std::vector<VARTYPE>(ids.size(), requested));
  }

  // Each item with the type of the same place in requested.
  static Added AddItems(IOPCItemMgt *group, const std::vector<std::wstring> &ids,
                        const std::vector<VARTYPE> &requested) {
    std::vector<std::wstring> copies = ids;
    std::vector<OPCITEMDEF> defs(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
      defs[i].szAccessPath = const_cast<LPWSTR>(L"");
      defs[i].szItemID = &copies[i][0];
      defs[i].bActive = TRUE;
      defs[i].hClient = static_cast<OPCHANDLE>(100 + i);
      defs[i].vtRequestedDataType = requested.at(i);
    }
    Added added;
    OPCITEMRESULT *results = nullptr;
    HRESULT *errors = nullptr;
    added.hr = group->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors);
    if (SUCCEEDED(added.hr)) {
      added.results.assign(results, results + defs.size());
      added.errors.assign(errors, errors + defs.size());
    } else {
      EXPECT_EQ(results, nullptr);
      EXPECT_EQ(errors, nullptr);
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return added;
  }

  static void Read(IOPCItemMgt *group, std::vector<OPCHANDLE> handles, ReadOutcome *out,
                   OPCDATASOURCE source = OPC_DS_DEVICE) {
    Ref<IOPCSyncIO> io;
    ASSERT_EQ(group->QueryInterface(IID_IOPCSyncIO, io.put()), S_OK);
    out->count = static_cast<DWORD>(handles.size());
    out->hr = io->Read(source, out->count, handles.data(), &out->states, &out->errors);
  }
};

const std::vector<std::wstring> kDefaultNames = {
    L"Sim.Ramp.Int16",    L"Sim.Ramp.Fast.Int16", L"Sim.Ramp.Int32",       L"Sim.Sine.Int16",
    L"Sim.Sine.Int32",    L"Sim.Sine.Real",       L"Sim.Random.Int16",     L"Sim.Random.Int32",
    L"Sim.Counter.Int32", L"Sim.Square.Bool",     L"Sim.Clock.Text",       L"Sim.Text.Static",
    L"Sim.Text.Empty",    L"Sim.Real.Pi",         L"Sim.Bool.True",        L"Limits.Int16.Min",
    L"Limits.Int16.Max",  L"Limits.Int32.Min",    L"Limits.Int32.Max",     L"Quality.Good",
    L"Quality.Bad",       L"Quality.NotConnected", L"Quality.CommFailure", L"Quality.Uncertain",
    L"Time.Old",          L"Temp_\u00B0C",        L"Druck_bar_\u00FC",     L"\u540D\u524D"};

const std::vector<std::wstring> kFixedNames = {L"Int16.Fixed", L"Int32.Fixed", L"Temp_\u00B0C", L"\u540D\u524D",
                                               L"Text.Fixed",  L"Empty.Fixed", L"Stamp.Bad"};

TEST_F(SimServer, FlatBrowseListsEveryTagInOrderWhateverTheBatchSize) {
  Ref<IOPCServer> server = Create();
  for (ULONG celt : {1u, 5u, 100u}) EXPECT_EQ(Browse(server.get(), celt), kDefaultNames) << "celt " << celt;

  HRESULT hr = E_UNEXPECTED;
  EXPECT_EQ(Browse(server.get(), 3, &hr, L"Sim.Sine.*"),
            (std::vector<std::wstring>{L"Sim.Sine.Int16", L"Sim.Sine.Int32", L"Sim.Sine.Real"}));
  EXPECT_EQ(Browse(server.get(), 3, &hr, L"?emp_*"), std::vector<std::wstring>{L"Temp_\u00B0C"});
  EXPECT_EQ(Browse(server.get(), 3, &hr, nullptr, VT_BOOL),
            (std::vector<std::wstring>{L"Sim.Square.Bool", L"Sim.Bool.True"}));
  EXPECT_TRUE(Browse(server.get(), 3, &hr, L"Nothing*").empty());
  EXPECT_EQ(hr, S_FALSE);

  Ref<IOPCBrowseServerAddressSpace> browse;
  ASSERT_EQ(server->QueryInterface(IID_IOPCBrowseServerAddressSpace, browse.put()), S_OK);
  OPCNAMESPACETYPE organization = OPC_NS_HIERARCHIAL;
  EXPECT_EQ(browse->QueryOrganization(&organization), S_OK);
  EXPECT_EQ(organization, OPC_NS_FLAT);
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"Sim"), E_FAIL);
  EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, nullptr), E_INVALIDARG);

  // Skip, Clone and Reset keep their places.
  Ref<IEnumString> names;
  ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, reinterpret_cast<LPENUMSTRING *>(names.put())),
            S_OK);
  EXPECT_EQ(names->Skip(2), S_OK);
  Ref<IEnumString> clone;
  ASSERT_EQ(names->Clone(reinterpret_cast<IEnumString **>(clone.put())), S_OK);
  LPOLESTR name = nullptr;
  ASSERT_EQ(clone->Next(1, &name, nullptr), S_OK);
  EXPECT_EQ(std::wstring(name), kDefaultNames[2]);
  CoTaskMemFree(name);
  EXPECT_EQ(names->Skip(1000), S_FALSE);
  ULONG fetched = 7;
  EXPECT_EQ(names->Next(1, &name, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(names->Reset(), S_OK);
  ASSERT_EQ(names->Next(1, &name, &fetched), S_OK);
  EXPECT_EQ(std::wstring(name), kDefaultNames[0]);
  CoTaskMemFree(name);

  names.reset();
  EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_BRANCH, L"", VT_EMPTY, 0, reinterpret_cast<LPENUMSTRING *>(names.put())),
            S_FALSE);
  ASSERT_TRUE(names);
  EXPECT_EQ(names->Next(1, &name, &fetched), S_FALSE);
}

TEST_F(SimServer, AddItemsReportsEachItemAndReadsDeliverCanonicalTypes) {
  Ref<IOPCServer> server = Create();
  Ref<IOPCItemMgt> group = AddGroup(server.get());
  ASSERT_TRUE(group);

  // VT_EMPTY asks for each tag's own type.
  Added all = AddItems(group.get(), {L"Sim.Ramp.Int16", L"Limits.Int32.Min", L"Sim.Clock.Text", L"Sim.Sine.Real",
                                     L"Sim.Square.Bool", L"Quality.CommFailure", L"Time.Old"},
                       VT_EMPTY);
  ASSERT_EQ(all.hr, S_OK);
  std::set<OPCHANDLE> distinct;
  std::vector<OPCHANDLE> handles;
  for (const OPCITEMRESULT &r : all.results) {
    distinct.insert(r.hServer);
    handles.push_back(r.hServer);
    EXPECT_EQ(r.dwAccessRights, OPC_READABLE);
    EXPECT_EQ(r.pBlob, nullptr);
  }
  EXPECT_EQ(distinct.size(), handles.size());
  EXPECT_EQ(all.results[1].vtCanonicalDataType, VT_I4);
  EXPECT_EQ(all.results[2].vtCanonicalDataType, VT_BSTR);

  Added some = AddItems(group.get(), {L"Sim.Ramp.Int16", L"No.Such.Tag", L""});
  ASSERT_EQ(some.hr, S_FALSE);
  EXPECT_EQ(some.errors, (std::vector<HRESULT>{S_OK, OPC_E_UNKNOWNITEMID, OPC_E_INVALIDITEMID}));
  EXPECT_EQ(distinct.count(some.results[0].hServer), 0u) << "the same tag added twice gets its own handle";

  handles.push_back(0xDEADBEEF);
  ReadOutcome read;
  Read(group.get(), handles, &read);
  ASSERT_EQ(read.hr, S_FALSE);
  const VARTYPE expected[] = {VT_I2, VT_I4, VT_BSTR, VT_R8, VT_BOOL, VT_I2, VT_I2, VT_EMPTY};
  for (DWORD i = 0; i < read.count; ++i) EXPECT_EQ(V_VT(&read.states[i].vDataValue), expected[i]) << "item " << i;
  EXPECT_EQ(V_I4(&read.states[1].vDataValue), INT32_MIN);
  EXPECT_EQ(read.states[1].hClient, 101u);
  EXPECT_EQ(read.states[0].wQuality, OPC_QUALITY_GOOD);
  EXPECT_EQ(read.states[5].wQuality, OPC_QUALITY_COMM_FAILURE);
  EXPECT_EQ(Ticks(read.states[6].ftTimeStamp), 126444736000000000ULL);  // 2001-09-09 01:46:40 UTC
  EXPECT_EQ(read.errors[6], S_OK);
  EXPECT_EQ(read.errors[7], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(read.states[7].wQuality & 0xC0, OPC_QUALITY_BAD);

  HRESULT *errors = nullptr;
  OPCHANDLE removed[] = {handles[0], 0xDEADBEEF};
  EXPECT_EQ(group->RemoveItems(2, removed, &errors), S_FALSE);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
  CoTaskMemFree(errors);
  errors = reinterpret_cast<HRESULT *>(1);
  EXPECT_EQ(group->RemoveItems(0, nullptr, &errors), S_OK);
  CoTaskMemFree(errors);
  ReadOutcome after;
  Read(group.get(), {handles[0]}, &after);
  EXPECT_EQ(after.hr, S_FALSE) << "a removed item's handle is no longer valid";
}

TEST_F(SimServer, GroupsAndModuleLifetime) {
  EXPECT_EQ(Dll().can_unload_now(), S_OK);
  {
    Ref<IOPCServer> server = Create();
    EXPECT_EQ(Dll().can_unload_now(), S_FALSE);
    OPCHANDLE handle = 0, other = 0;
    Ref<IOPCItemMgt> group = AddGroup(server.get(), L"", &handle);
    Ref<IOPCItemMgt> second = AddGroup(server.get(), L"", &other);
    ASSERT_TRUE(group && second);
    EXPECT_NE(handle, other);
    OPCHANDLE h = 5;
    DWORD rate = 5;
    LPUNKNOWN unk = nullptr;
    EXPECT_EQ(server->AddGroup(L"Dup", TRUE, 0, 0, nullptr, nullptr, 0, &h, &rate, IID_IOPCItemMgt, &unk),
              OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(rate, 10u) << "the fastest rate for 0";
    unk->Release();
    EXPECT_EQ(server->AddGroup(L"Dup", TRUE, 0, 0, nullptr, nullptr, 0, &h, &rate, IID_IOPCItemMgt, &unk),
              OPC_E_DUPLICATENAME);
    EXPECT_EQ(unk, nullptr);
    EXPECT_EQ(server->AddGroup(L"X", TRUE, 0, 0, nullptr, nullptr, 0, nullptr, &rate, IID_IOPCItemMgt, &unk),
              E_INVALIDARG);
    EXPECT_EQ(server->GetGroupByName(L"Dup", IID_IOPCItemMgt, &unk), S_OK) << "kept by the server after release";
    unk->Release();

    Ref<IUnknown> state;
    EXPECT_EQ(group->QueryInterface(IID_IOPCGroupStateMgt, state.put()), E_NOINTERFACE);
    EXPECT_EQ(server->RemoveGroup(handle, FALSE), OPC_S_INUSE);
    EXPECT_EQ(server->RemoveGroup(handle, FALSE), E_INVALIDARG) << "already removed";
    EXPECT_EQ(AddItems(group.get(), {L"Quality.Good"}).hr, S_OK) << "still usable until released";
    EXPECT_EQ(server->RemoveGroup(0xDEADBEEF, FALSE), E_INVALIDARG);

    // A client may release the server before its groups.
    server.reset();
    EXPECT_EQ(Dll().can_unload_now(), S_FALSE);
    group.reset();
    EXPECT_EQ(Dll().can_unload_now(), S_FALSE);
  }
  EXPECT_EQ(Dll().can_unload_now(), S_OK);

  Ref<IClassFactory> factory;
  ASSERT_EQ(Dll().get_class_object(CLSID_BrenvickSimServer, IID_IClassFactory, factory.put()), S_OK);
  EXPECT_EQ(Dll().can_unload_now(), S_FALSE);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  EXPECT_EQ(Dll().can_unload_now(), S_FALSE);
  ASSERT_EQ(Dll().get_class_object(CLSID_BrenvickSimServer, IID_IClassFactory, factory.put()), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory.reset();
  EXPECT_EQ(Dll().can_unload_now(), S_OK);
  EXPECT_EQ(Dll().get_class_object(IID_IOPCServer, IID_IClassFactory, factory.put()), CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(SimServer, ExtraReleaseOfAGroupIsCountedNotApplied) {
  Ref<IOPCServer> server = Create();
  IOPCItemMgt *group = AddGroup(server.get(), L"Kept").get();
  ASSERT_NE(group, nullptr);
  // The server still owns the group, so it is there to be released again.
  EXPECT_EQ(group->Release(), 0u);
  EXPECT_EQ(Dll().take_excess_releases(), 1);
  LPUNKNOWN again = nullptr;
  ASSERT_EQ(server->GetGroupByName(L"Kept", IID_IOPCItemMgt, &again), S_OK);
  EXPECT_EQ(again->Release(), 0u);
  EXPECT_EQ(Dll().take_excess_releases(), 0);
}

TEST_F(SimServer, FixedScenarioServesConstantTags) {
  Ref<IOPCServer> server = Create(L"fixed");
  EXPECT_EQ(Browse(server.get(), 4), kFixedNames);
  Ref<IOPCItemMgt> group = AddGroup(server.get());
  Added added = AddItems(group.get(), kFixedNames);
  ASSERT_EQ(added.hr, S_OK);
  std::vector<OPCHANDLE> handles;
  for (const OPCITEMRESULT &r : added.results) handles.push_back(r.hServer);
  ReadOutcome read;
  Read(group.get(), handles, &read, OPC_DS_CACHE);
  // Values come as VT_I2, as asked; those that are no 16-bit number fail.
  ASSERT_EQ(read.hr, S_FALSE);
  const HRESULT errors[] = {S_OK, DISP_E_OVERFLOW, S_OK, DISP_E_OVERFLOW, DISP_E_TYPEMISMATCH, S_OK, S_OK};
  const VARTYPE types[] = {VT_I2, VT_EMPTY, VT_I2, VT_EMPTY, VT_EMPTY, VT_EMPTY, VT_I2};
  const WORD qualities[] = {OPC_QUALITY_GOOD, OPC_QUALITY_BAD,     OPC_QUALITY_GOOD,     OPC_QUALITY_BAD,
                            OPC_QUALITY_BAD,  OPC_QUALITY_BAD,     OPC_QUALITY_UNCERTAIN};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(read.errors[i], errors[i]) << "item " << i;
    EXPECT_EQ(V_VT(&read.states[i].vDataValue), types[i]) << "item " << i;
    EXPECT_EQ(read.states[i].wQuality, qualities[i]) << "item " << i;
  }
  EXPECT_EQ(V_I2(&read.states[0].vDataValue), -5);
  EXPECT_EQ(V_I2(&read.states[2].vDataValue), 215);
  EXPECT_EQ(V_I2(&read.states[6].vDataValue), 1);
  EXPECT_EQ(Ticks(read.states[6].ftTimeStamp), 0x8000000000000000ULL);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(Ticks(read.states[i].ftTimeStamp), 134118327090000000ULL) << "2026-01-02 13:05:09 UTC, item " << i;
  }

  // The same tags unconverted: each in its own type.
  Ref<IOPCServer> unconverted = Create(L"unconverted");
  Ref<IOPCItemMgt> unconverted_group = AddGroup(unconverted.get());
  Added own = AddItems(unconverted_group.get(), kFixedNames);
  handles.clear();
  for (const OPCITEMRESULT &r : own.results) handles.push_back(r.hServer);
  ReadOutcome as_is;
  Read(unconverted_group.get(), handles, &as_is, OPC_DS_CACHE);
  ASSERT_EQ(as_is.hr, S_OK);
  EXPECT_EQ(V_VT(&as_is.states[1].vDataValue), VT_I4);
  EXPECT_EQ(V_I4(&as_is.states[1].vDataValue), 100000);
  EXPECT_EQ(V_I4(&as_is.states[3].vDataValue), -70000);
  ASSERT_EQ(V_VT(&as_is.states[4].vDataValue), VT_BSTR);
  EXPECT_EQ(std::wstring(V_BSTR(&as_is.states[4].vDataValue)), L"hello");
  EXPECT_EQ(as_is.states[4].wQuality, OPC_QUALITY_GOOD);
}

TEST_F(SimServer, ValuesConvertToTheRequestedType) {
  Ref<IOPCServer> server = Create();
  Ref<IOPCItemMgt> group = AddGroup(server.get());
  Added added = AddItems(group.get(), {L"Sim.Real.Pi", L"Sim.Bool.True", L"Limits.Int16.Min", L"Sim.Text.Static"},
                         VT_R8);
  std::vector<OPCHANDLE> handles;
  for (const OPCITEMRESULT &r : added.results) handles.push_back(r.hServer);
  ReadOutcome read;
  Read(group.get(), handles, &read);
  ASSERT_EQ(read.hr, S_FALSE);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(V_VT(&read.states[i].vDataValue), VT_R8) << "item " << i;
  EXPECT_DOUBLE_EQ(V_R8(&read.states[0].vDataValue), 3.14159265358979323846);
  EXPECT_DOUBLE_EQ(V_R8(&read.states[1].vDataValue), -1.0);
  EXPECT_DOUBLE_EQ(V_R8(&read.states[2].vDataValue), -32768.0);
  EXPECT_EQ(read.errors[3], DISP_E_TYPEMISMATCH);
  EXPECT_EQ(V_VT(&read.states[3].vDataValue), VT_EMPTY);

  // Pi as VT_I2 is rounded, as the platform's conversion does.
  handles.resize(1);
  HRESULT *errors = nullptr;
  VARTYPE to_i2 = VT_I2;
  ASSERT_EQ(group->SetDatatypes(1, handles.data(), &to_i2, &errors), S_OK);
  CoTaskMemFree(errors);
  ReadOutcome rounded;
  Read(group.get(), handles, &rounded);
  ASSERT_EQ(rounded.hr, S_OK);
  EXPECT_EQ(V_VT(&rounded.states[0].vDataValue), VT_I2);
  EXPECT_EQ(V_I2(&rounded.states[0].vDataValue), 3);
}

TEST_F(SimServer, TypesNoReadCouldDeliverAreRefusedPerItem) {
  Ref<IOPCServer> server = Create();
  Ref<IOPCItemMgt> group = AddGroup(server.get());
  ASSERT_TRUE(group);
  const std::vector<VARTYPE> types = {VT_I2, VT_DISPATCH, VT_EMPTY, VT_ARRAY | VT_I2, VT_BSTR, VT_UNKNOWN,
                                      VT_R8, VT_BYREF | VT_I2, VT_VARIANT, VT_NULL};
  const std::vector<std::wstring> ids(types.size(), L"Quality.Uncertain");
  const std::vector<HRESULT> expected = {S_OK, OPC_E_BADTYPE, S_OK, OPC_E_BADTYPE, S_OK, OPC_E_BADTYPE,
                                         S_OK, OPC_E_BADTYPE, OPC_E_BADTYPE, OPC_E_BADTYPE};
  Added added = AddItems(group.get(), ids, types);
  ASSERT_EQ(added.hr, S_FALSE);
  EXPECT_EQ(added.errors, expected);
  std::vector<OPCHANDLE> handles;
  for (size_t i = 0; i < types.size(); ++i) {
    if (expected[i] == S_OK) {
      handles.push_back(added.results[i].hServer);
    } else {
      EXPECT_EQ(added.results[i].hServer, 0u) << "refused item " << i << " added";
    }
  }
  Added text = AddItems(group.get(), {L"Sim.Clock.Text"}, VT_DISPATCH);
  EXPECT_EQ(text.hr, S_FALSE);
  EXPECT_EQ(text.errors, std::vector<HRESULT>{OPC_E_BADTYPE});

  // Every type accepted is one a read delivers.
  const VARTYPE accepted[] = {VT_I1,  VT_UI1, VT_I2, VT_UI2, VT_I4,   VT_UI4, VT_I8,   VT_UI8, VT_INT,
                              VT_UINT, VT_R4, VT_R8, VT_CY,  VT_DATE, VT_BSTR, VT_BOOL, VT_DECIMAL};
  for (VARTYPE type : accepted) {
    Added one = AddItems(group.get(), {L"Quality.Uncertain"}, type);
    ASSERT_EQ(one.hr, S_OK) << "type " << type;
    ReadOutcome read;
    Read(group.get(), {one.results[0].hServer}, &read);
    EXPECT_EQ(read.hr, S_OK) << "type " << type;
    EXPECT_EQ(V_VT(&read.states[0].vDataValue), type);
  }

  // A refused change of type keeps the item's own.
  VARTYPE changes[] = {VT_DISPATCH, VT_R8};
  HRESULT *errors = nullptr;
  EXPECT_EQ(group->SetDatatypes(2, handles.data(), changes, &errors), S_FALSE);
  ASSERT_NE(errors, nullptr);
  EXPECT_EQ(errors[0], OPC_E_BADTYPE);
  EXPECT_EQ(errors[1], S_OK);
  CoTaskMemFree(errors);
  ReadOutcome read;
  Read(group.get(), {handles[0], handles[1]}, &read);
  ASSERT_EQ(read.hr, S_OK);
  EXPECT_EQ(V_VT(&read.states[0].vDataValue), VT_I2);
  EXPECT_EQ(V_VT(&read.states[1].vDataValue), VT_R8);
}

TEST_F(SimServer, FaultScenarios) {
  {
    Ref<IOPCServer> server = Create(L"tag-rejected");
    Ref<IOPCItemMgt> group = AddGroup(server.get());
    Added added = AddItems(group.get(), kFixedNames);
    EXPECT_EQ(added.hr, S_FALSE);
    for (size_t i = 0; i < added.errors.size(); ++i) EXPECT_EQ(added.errors[i], i == 1 ? OPC_E_UNKNOWNITEMID : S_OK);
  }
  for (const wchar_t *scenario : {L"group-refused", L"texts-crlf"}) {
    Ref<IOPCServer> server = Create(scenario);
    OPCHANDLE h = 7;
    DWORD rate = 7;
    LPUNKNOWN unk = reinterpret_cast<LPUNKNOWN>(1);
    EXPECT_EQ(server->AddGroup(L"", TRUE, 500, 0, nullptr, nullptr, 0, &h, &rate, IID_IOPCItemMgt, &unk), E_FAIL)
        << scenario;
    EXPECT_EQ(unk, nullptr);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(Browse(server.get(), 10), kFixedNames);
  }
  {
    Ref<IOPCServer> server = Create(L"no-sync-io");
    Ref<IOPCItemMgt> group = AddGroup(server.get());
    Ref<IOPCSyncIO> io;
    EXPECT_EQ(group->QueryInterface(IID_IOPCSyncIO, io.put()), E_NOINTERFACE);
    EXPECT_FALSE(io);
  }
  {
    Ref<IOPCServer> server = Create(L"read-fails");
    Ref<IOPCItemMgt> group = AddGroup(server.get());
    Added added = AddItems(group.get(), kFixedNames);
    ASSERT_EQ(added.hr, S_OK);
    ReadOutcome failing, fine;
    Read(group.get(), {added.results[0].hServer, added.results[1].hServer}, &failing);
    EXPECT_EQ(failing.hr, E_FAIL);
    EXPECT_EQ(failing.states, nullptr);
    EXPECT_EQ(failing.errors, nullptr);
    Read(group.get(), {added.results[0].hServer, added.results[2].hServer}, &fine);
    EXPECT_EQ(fine.hr, S_OK);
  }
  {
    Ref<IOPCServer> server = Create(L"no-tags");
    HRESULT hr = E_UNEXPECTED;
    EXPECT_TRUE(Browse(server.get(), 10, &hr).empty());
    EXPECT_TRUE(SUCCEEDED(hr));
  }
  EXPECT_EQ(Browse(Create(L"no-such-scenario").get(), 50), kDefaultNames);
}

TEST_F(SimServer, SecondBrowseFailsEveryFlatBrowseOfAServerObjectAfterItsFirst) {
  for (int object = 0; object < 2; ++object) {
    Ref<IOPCServer> server = Create(L"second-browse-fails");
    EXPECT_EQ(Browse(server.get(), 10), kFixedNames) << "server object " << object;
    Ref<IOPCBrowseServerAddressSpace> browse;
    ASSERT_EQ(server->QueryInterface(IID_IOPCBrowseServerAddressSpace, browse.put()), S_OK);
    for (int later = 0; later < 2; ++later) {
      LPENUMSTRING names = reinterpret_cast<LPENUMSTRING>(1);
      EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, &names), E_FAIL) << "server object " << object;
      EXPECT_EQ(names, nullptr);
    }
  }
}

TEST_F(SimServer, TextsEndInCrLfInTextsCrlfAndNowhereElse) {
  Ref<IOPCServer> trimmed = Create();
  Ref<IOPCServer> crlf = Create(L"texts-crlf");
  // The server's own texts and the system's.
  for (HRESULT code : {OPC_E_UNKNOWNITEMID, OPC_S_CLAMP, E_FAIL, E_OUTOFMEMORY}) {
    LPWSTR text[2] = {};
    ASSERT_EQ(trimmed->GetErrorString(code, 0, &text[0]), S_OK) << "code 0x" << std::hex << code;
    ASSERT_EQ(crlf->GetErrorString(code, 0, &text[1]), S_OK) << "code 0x" << std::hex << code;
    const std::wstring plain = text[0];
    EXPECT_EQ(plain.find_last_not_of(L"\r\n") + 1, plain.size()) << "code 0x" << std::hex << code;
    EXPECT_EQ(std::wstring(text[1]), plain + L"\r\n");
    for (LPWSTR one : text) CoTaskMemFree(one);
  }
}

std::vector<DWORD> g_delays;
void WINAPI RecordDelay(DWORD milliseconds) { g_delays.push_back(milliseconds); }

// Recorded, not waited: the activation stages the start's 15 s, and nothing
// after it waits.
TEST_F(SimServer, SlowStartWaitsFifteenSecondsInTheActivation) {
  ASSERT_NE(Dll().set_delay_wait, nullptr);
  Dll().set_delay_wait(RecordDelay);
  for (const auto &row : {std::make_pair(L"fixed", std::vector<DWORD>{}),
                          std::make_pair(L"slow-start", std::vector<DWORD>{15000})}) {
    g_delays.clear();
    Ref<IOPCServer> server = Create(row.first);
    EXPECT_EQ(g_delays, row.second) << row.first;
    EXPECT_EQ(Browse(server.get(), 10), kFixedNames) << row.first;
    EXPECT_EQ(g_delays, row.second) << row.first << ": a delay after the activation";
  }
}

TEST_F(SimServer, LargeScenarioHasTenThousandTags) {
  Ref<IOPCServer> server = Create(L"large");
  const std::vector<std::wstring> names = Browse(server.get(), 1000);
  ASSERT_EQ(names.size(), 10000u);
  EXPECT_EQ(names.front(), L"Large.Tag.00000");
  EXPECT_EQ(names.back(), L"Large.Tag.09999");
  Ref<IOPCItemMgt> group = AddGroup(server.get());
  Added added = AddItems(group.get(), names);
  ASSERT_EQ(added.hr, S_OK);
  EXPECT_EQ(added.results.back().vtCanonicalDataType, VT_I2);
}

}  // namespace
