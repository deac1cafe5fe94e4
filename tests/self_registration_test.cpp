// Self-registration of opcmon-ps.dll, simserver.exe and simserver.dll beside
// it, in the registry of the machine: the tests' own prefix under Wine. Each
// writes what COM needs, never replaces a key that names another class, and
// removes only its own. A machine where the simulation server (or another
// server under its ProgID) is registered is not touched.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <olectl.h>
#include <sddl.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "../simserver/simserver_clsid.h"
#include "class_keys.h"
#include "com_test.h"
#include "opcda.h"
#include "registry_tree.h"

namespace {

using RegisterFn = HRESULT(STDAPICALLTYPE *)();

// {D0CD6F78-410B-4371-B619-43EF6A33B157}, the proxy's class.
constexpr wchar_t kProxyClass[] = L"{D0CD6F78-410B-4371-B619-43EF6A33B157}";
constexpr wchar_t kForeignClass[] = L"{11111111-2222-3333-4444-555555555555}";
const std::wstring kProxyClassKey = std::wstring(L"CLSID\\") + kProxyClass;
const std::wstring kForeignClassKey = std::wstring(L"CLSID\\") + kForeignClass;
// The interfaces with the name and method count our registration writes.
struct Interface {
  const IID *iid;
  const wchar_t *name;
  const wchar_t *methods;
};
const Interface kInterfaces[] = {{&IID_IOPCServer, L"IOPCServer", L"9"},
                                 {&IID_IOPCBrowseServerAddressSpace, L"IOPCBrowseServerAddressSpace", L"8"},
                                 {&IID_IOPCItemMgt, L"IOPCItemMgt", L"10"},
                                 {&IID_IOPCSyncIO, L"IOPCSyncIO", L"5"}};

std::wstring Environment(const wchar_t *name) {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
  return n > 0 && n < MAX_PATH * 2 ? buffer : L"";
}

std::wstring InterfaceKey(const IID &iid) { return L"Interface\\" + class_keys::GuidText(iid); }
std::wstring SimClassKey() { return L"CLSID\\" + class_keys::GuidText(CLSID_BrenvickSimServer); }
const std::wstring kCategoryKey = L"Component Categories\\" + class_keys::GuidText(CATID_OPCDAServer20);

std::wstring Value(const std::wstring &key, const wchar_t *name = nullptr, REGSAM view = 0) {
  std::wstring value;
  return class_keys::ReadString(key, name, &value, view) ? value : L"(absent)";
}

// The registry view of the other architecture's classes; 0 on a 32-bit system.
REGSAM OtherView() {
  if constexpr (sizeof(void *) == 8) {
    return KEY_WOW64_32KEY;
  } else {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
  }
}

// The other architecture's simserver.dll registered, or its class gone from
// that view: class_keys writes only this process's view.
bool StageOtherDll(bool registered) {
  HKEY key = nullptr;
  const std::wstring path = registered ? SimClassKey() + L"\\InprocServer32" : L"CLSID";
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | OtherView(), nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const wchar_t other[] = L"C:\\other\\simserver.dll";
  const LONG rc = registered
                      ? RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(other), sizeof other)
                      : RegDeleteTreeW(key, class_keys::GuidText(CLSID_BrenvickSimServer).c_str());
  RegCloseKey(key);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

std::string Narrow(const std::wstring &text) { return std::string(text.begin(), text.end()); }

// Anyone may do anything with the key but set its values.
bool DenyWriting(const std::wstring &key, REGSAM view) {
  PSECURITY_DESCRIPTOR security = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;0x2;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1,
                                                            &security, nullptr)) {
    return false;
  }
  HKEY handle = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, WRITE_DAC | view, &handle);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, security);
    RegCloseKey(handle);
  }
  LocalFree(security);
  return rc == ERROR_SUCCESS;
}

const Interface &Find(const IID &iid) {
  for (const Interface &known : kInterfaces) {
    if (IsEqualIID(*known.iid, iid)) return known;
  }
  throw std::logic_error("not an interface of the proxy");
}
// An interface key of our shape, naming `clsid`.
std::vector<RegistryValue> InterfaceShape(const IID &iid, const std::wstring &clsid) {
  const std::wstring key = InterfaceKey(iid);
  return {{key, L"", Find(iid).name},
          {key + L"\\NumMethods", L"", Find(iid).methods},
          {key + L"\\ProxyStubClsid32", L"", clsid}};
}
// What a registration of ours writes for an interface, as RegistryTree shows it.
std::wstring OurInterface(const IID &iid) {
  return L"@=" + std::wstring(Find(iid).name) + L"\nNumMethods\\\nNumMethods\\@=" + Find(iid).methods +
         L"\nProxyStubClsid32\\\nProxyStubClsid32\\@=" + kProxyClass + L"\n";
}

std::wstring SystemDirectory() {
  wchar_t path[MAX_PATH] = L"";
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? path : L"";
}

// Whether the two paths name one file (the registry holds Windows paths,
// the environment may hold the build tree's own).
bool SameFile(const std::wstring &a, const std::wstring &b) {
  BY_HANDLE_FILE_INFORMATION info[2] = {};
  const std::wstring *paths[] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    HANDLE file = CreateFileW(paths[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL got = GetFileInformationByHandle(file, &info[i]);
    CloseHandle(file);
    if (!got) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

HRESULT CallExport(const std::wstring &dll, const char *name) {
  HMODULE module = LoadLibraryW(dll.c_str());
  if (module == nullptr) return E_FAIL;
  auto function = reinterpret_cast<RegisterFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  const HRESULT hr = function != nullptr ? function() : E_FAIL;
  FreeLibrary(module);
  return hr;
}

// simserver.exe with one switch; its exit status.
DWORD RunServerExe(const wchar_t *option) {
  std::wstring command = L"\"" + Environment(L"SIMSERVER_EXE") + L"\" " + option;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return 0xFFFFFFFF;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD status = 0xFFFFFFFF;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return status;
}

// What both server kinds share, present while either is registered.
void ExpectSharedKeys() {
  EXPECT_EQ(Narrow(class_keys::GuidText(CLSID_BrenvickSimServer)),
            Narrow(Value(std::wstring(kBrenvickSimProgId) + L"\\CLSID")));
  EXPECT_EQ(Narrow(kBrenvickSimProgId), Narrow(Value(SimClassKey() + L"\\ProgID")));
  EXPECT_TRUE(class_keys::Exists(SimClassKey() + L"\\Implemented Categories\\" +
                                 class_keys::GuidText(CATID_OPCDAServer20)));
}

// Through the ProgID, as the monitor does; the object is released at once.
HRESULT Activate(DWORD context) {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(kBrenvickSimProgId, &clsid);
  if (FAILED(hr)) return hr;
  IUnknown *server = nullptr;
  hr = CoCreateInstance(clsid, nullptr, context, IID_IUnknown, reinterpret_cast<void **>(&server));
  if (SUCCEEDED(hr)) server->Release();
  return hr;
}

class SelfRegistration : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    if (HasFatalFailure()) return;
    proxy_ = Environment(L"OPCPROXY_DLL");
    dll_ = Environment(L"SIMSERVER_DLL");
    ASSERT_FALSE(proxy_.empty() || dll_.empty()) << "OPCPROXY_DLL or SIMSERVER_DLL not set";
    REQUIRE_PRECONDITION(!class_keys::Exists(kBrenvickSimProgId) && !class_keys::Exists(SimClassKey()) &&
                             !class_keys::Exists(SimClassKey(), OtherView()),
                         "a server is registered under OPC.Brenvick.1 or the simulation server's class");
    REQUIRE_PRECONDITION(class_keys::SetString(SimClassKey(), nullptr, L"probe"),
                         "HKEY_CLASSES_ROOT is not writable here (not an administrator)");
    cleanUp_ = true;
    Clean();
    // Described by another server: ours must not replace the description.
    categoryDescribed_ = class_keys::Exists(kCategoryKey);
    if (!categoryDescribed_) {
      ASSERT_TRUE(class_keys::SetString(kCategoryKey, L"409", L"described by another server"));
    }
    category_ = Value(kCategoryKey, L"409");
  }
  void TearDown() override {
    for (const auto &key : staged_) class_keys::DeleteTree(key.first, key.second);
    if (cleanUp_) {
      EXPECT_EQ(Narrow(category_), Narrow(Value(kCategoryKey, L"409"))) << "the category every OPC server shares";
      Clean();
      StageOtherDll(false);
      if (!categoryDescribed_) class_keys::DeleteTree(kCategoryKey);
    }
    ComTest::TearDown();
  }
  void Clean() const {
    CallExport(proxy_, "DllUnregisterServer");
    CallExport(dll_, "DllUnregisterServer");
    class_keys::DeleteTree(SimClassKey());
    class_keys::DeleteTree(kBrenvickSimProgId);
  }

  // A user's real server under the ProgID.
  static void RegisterForeignProgId() {
    ASSERT_TRUE(class_keys::SetString(kBrenvickSimProgId, nullptr, L"A real server"));
    ASSERT_TRUE(class_keys::SetString(std::wstring(kBrenvickSimProgId) + L"\\CLSID", nullptr, kForeignClass));
  }
  static void ExpectForeignProgId() {
    EXPECT_EQ("A real server", Narrow(Value(kBrenvickSimProgId)));
    EXPECT_EQ(Narrow(kForeignClass), Narrow(Value(std::wstring(kBrenvickSimProgId) + L"\\CLSID")));
  }

  // A key of others with its values, in a view, removed after the test. A
  // key that exists already is not the test's to stage.
  void Stage(const std::wstring &key, const std::vector<RegistryValue> &values, REGSAM view) {
    ASSERT_FALSE(class_keys::Exists(key, view)) << Narrow(key) << " is registered already";
    staged_.emplace_back(key, view);
    ASSERT_TRUE(WriteRegistryValues(values, view)) << Narrow(key);
  }

  std::wstring proxy_;
  std::wstring dll_;

 private:
  std::vector<std::pair<std::wstring, REGSAM>> staged_;
  bool cleanUp_ = false;
  bool categoryDescribed_ = false;
  std::wstring category_;
};

// Twice: a second registration finds the keys of the first its own.
TEST_F(SelfRegistration, ProxyRegistersEveryInterfaceAndItsClassAndRemovesThemAgain) {
  for (int round = 1; round <= 2; ++round) {
    ASSERT_EQ(S_OK, CallExport(proxy_, "DllRegisterServer")) << "round " << round;
    EXPECT_EQ("Both", Narrow(Value(kProxyClassKey + L"\\InprocServer32", L"ThreadingModel")));
    EXPECT_TRUE(SameFile(proxy_, Value(kProxyClassKey + L"\\InprocServer32")));
    for (const Interface &known : kInterfaces) {
      EXPECT_EQ(OurInterface(*known.iid), RegistryTree(InterfaceKey(*known.iid), 0));
    }
  }

  ASSERT_EQ(S_OK, CallExport(proxy_, "DllUnregisterServer"));
  EXPECT_FALSE(class_keys::Exists(kProxyClassKey));
  for (const Interface &known : kInterfaces) EXPECT_EQ(L"(absent)", RegistryTree(InterfaceKey(*known.iid), 0));
}

// One interface key staged in either registry view, with the class it names
// where it names one: registering goes ahead only where every interface has
// a proxy COM can load in this process's view, and otherwise changes
// nothing. A key that is not of our exact shape is never changed, and our
// class stays while one names it; keys of our shape are written again and
// removed. One of ours that cannot be written again fails the registration
// part way (the last interface: all else is written by then), which then
// takes back what it created.
TEST_F(SelfRegistration, ProxyRegistersOnlyWhereEveryInterfaceHasAUsableProxy) {
  enum Outcome {
    kRefused,        // fails, nothing of ours written
    kServed,         // another's proxy serves it: we register beside it
    kOurs,           // written again, removed by unregistering
    kNamesOurClass,  // another's, naming our class: the class outlives unregistering
    kUnwritable,     // ours, fails part way
  };
  struct Row {
    const char *what;
    const IID *iid;
    std::vector<RegistryValue> key;
    Outcome outcome;              // in this process's view; in the other one all register beside it
    std::wstring server = L"";    // the InprocServer32 of kForeignClass; empty: no such class
    DWORD serverType = REG_SZ;
    bool serverInOtherView = false;
  };
  const IID &server = IID_IOPCServer, &itemMgt = IID_IOPCItemMgt, &syncIO = IID_IOPCSyncIO;
  std::vector<Row> rows = {
      {"without ProxyStubClsid32", &server, {{InterfaceKey(server), L"", L"ForeignServerName"}}, kRefused},
      {"ProxyStubClsid32 without a class", &itemMgt,
       {{InterfaceKey(itemMgt) + L"\\ProxyStubClsid32", L"Owner", L"foreign-runtime"}}, kRefused},
      {"our shape naming an unregistered class", &syncIO, InterfaceShape(syncIO, kForeignClass), kRefused},
      {"another proxy whose file is gone", &server, InterfaceShape(server, kForeignClass), kRefused,
       L"C:\\gone\\proxy.dll"},
      {"another proxy registered in the other view only", &server, InterfaceShape(server, kForeignClass), kRefused,
       L"oleaut32.dll", REG_SZ, true},
      {"another proxy by a bare file name", &server, InterfaceShape(server, kForeignClass), kServed, L"oleaut32.dll"},
      {"another proxy by a quoted path", &itemMgt, InterfaceShape(itemMgt, kForeignClass), kServed,
       L"\"" + SystemDirectory() + L"\\ole32.dll\""},
      {"another proxy by a path to expand", &server, InterfaceShape(server, kForeignClass), kServed,
       L"%SystemRoot%\\system32\\rpcrt4.dll", REG_EXPAND_SZ},
      {"ours from an earlier registration", &server, InterfaceShape(server, kProxyClass), kOurs},
      {"ours, the class in small letters", &itemMgt,
       InterfaceShape(itemMgt, L"{d0cd6f78-410b-4371-b619-43ef6a33b157}"), kOurs},
      {"ours and a foreign value", &server, InterfaceShape(server, kProxyClass), kNamesOurClass},
      {"ours and a foreign value in NumMethods", &server, InterfaceShape(server, kProxyClass), kNamesOurClass},
      {"ours and a foreign subkey", &itemMgt, InterfaceShape(itemMgt, kProxyClass), kNamesOurClass},
      {"ours, not writable", &syncIO, InterfaceShape(syncIO, kProxyClass), kUnwritable},
  };
  rows[10].key.push_back({InterfaceKey(server), L"Foo", L"bar"});
  rows[11].key.push_back({InterfaceKey(server) + L"\\NumMethods", L"Foo", L"bar"});
  rows[12].key.push_back({InterfaceKey(itemMgt) + L"\\TypeLib", L"", kForeignClass});

  std::vector<REGSAM> views = {0};
  if (OtherView() != 0) views.push_back(OtherView());
  for (const Row &row : rows) {
    if (row.serverInOtherView && OtherView() == 0) continue;
    for (const REGSAM view : views) {
      SCOPED_TRACE(std::string(row.what) + (view == 0 ? ", this view" : ", the other view"));
      const std::wstring key = InterfaceKey(*row.iid);
      const REGSAM classView = row.serverInOtherView ? (view == 0 ? OtherView() : 0) : view;
      const Outcome outcome = view == 0 ? row.outcome : kServed;
      ASSERT_NO_FATAL_FAILURE(Stage(key, row.key, view));
      if (!row.server.empty()) {
        ASSERT_NO_FATAL_FAILURE(Stage(
            kForeignClassKey, {{kForeignClassKey + L"\\InprocServer32", L"", row.server, row.serverType}}, classView));
      }
      if (row.outcome == kUnwritable) {
        ASSERT_TRUE(DenyWriting(key, view));
      }
      const std::wstring before = RegistryTree(key, view);
      const std::wstring foreignClass = RegistryTree(kForeignClassKey, classView);
      // Of ours in this process's view, but the staged key where it is another's.
      const auto expectNothingOfOurs = [&](bool stagedKeyToo) {
        EXPECT_FALSE(class_keys::Exists(kProxyClassKey));
        for (const Interface &known : kInterfaces) {
          if (stagedKeyToo || known.iid != row.iid) {
            EXPECT_EQ(L"(absent)", RegistryTree(InterfaceKey(*known.iid), 0));
          }
        }
      };

      const HRESULT registered = outcome == kRefused      ? HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)
                                 : outcome == kUnwritable ? SELFREG_E_CLASS
                                                          : S_OK;
      EXPECT_HR(registered, CallExport(proxy_, "DllRegisterServer"));
      // Ours is written again as we write it.
      EXPECT_EQ(outcome == kOurs ? OurInterface(*row.iid) : before, RegistryTree(key, view))
          << "registered";
      if (FAILED(registered)) {
        expectNothingOfOurs(view != 0);
      } else {
        EXPECT_TRUE(SameFile(proxy_, Value(kProxyClassKey + L"\\InprocServer32")));
      }

      EXPECT_EQ(S_OK, CallExport(proxy_, "DllUnregisterServer"));
      const bool ours = outcome == kOurs || outcome == kUnwritable;
      EXPECT_EQ(ours ? L"(absent)" : before, RegistryTree(key, view)) << "unregistered";
      if (outcome == kNamesOurClass) {
        EXPECT_TRUE(SameFile(proxy_, Value(kProxyClassKey + L"\\InprocServer32"))) << "the class is still named";
        EXPECT_TRUE(class_keys::DeleteTree(key, view));
        EXPECT_EQ(S_OK, CallExport(proxy_, "DllUnregisterServer"));
      }
      expectNothingOfOurs(ours || view != 0);
      EXPECT_EQ(foreignClass, RegistryTree(kForeignClassKey, classView));
      EXPECT_TRUE(class_keys::DeleteTree(key, view));
      EXPECT_TRUE(class_keys::DeleteTree(kForeignClassKey, classView));
      // Whatever a failing row left, the next one starts from nothing.
      class_keys::DeleteTree(kProxyClassKey);
      for (const Interface &known : kInterfaces) class_keys::DeleteTree(InterfaceKey(*known.iid));
    }
  }
}

// The class is ours whatever it holds, but not what others added to it.
TEST_F(SelfRegistration, ProxyUnregisteringLeavesWhatOthersAddedToItsClass) {
  ASSERT_NO_FATAL_FAILURE(Stage(kProxyClassKey,
                                {{kProxyClassKey, L"AppID", kForeignClass},
                                 {kProxyClassKey + L"\\InprocServer32", L"Foo", L"bar"}},
                                0));
  const std::wstring added = RegistryTree(kProxyClassKey, 0);
  ASSERT_EQ(S_OK, CallExport(proxy_, "DllRegisterServer"));
  ASSERT_EQ(S_OK, CallExport(proxy_, "DllUnregisterServer"));
  EXPECT_EQ(added, RegistryTree(kProxyClassKey, 0));
}

// Twice over: registering over our own keys and removing what is gone
// both succeed. The EXE, unregistered last, leaves nothing of ours.
TEST_F(SelfRegistration, ServersRegisterThemselvesAndRemoveTheirKeysTwice) {
  const std::wstring inproc = SimClassKey() + L"\\InprocServer32";
  for (int round = 1; round <= 2; ++round) {
    ASSERT_EQ(0u, RunServerExe(L"/RegServer")) << "round " << round;
    ASSERT_EQ(S_OK, CallExport(dll_, "DllRegisterServer")) << "round " << round;
    // Quoted: the path may hold spaces.
    const std::wstring server = Value(SimClassKey() + L"\\LocalServer32");
    ASSERT_TRUE(server.size() > 2 && server.front() == L'"' && server.back() == L'"') << Narrow(server);
    EXPECT_TRUE(SameFile(Environment(L"SIMSERVER_EXE"), server.substr(1, server.size() - 2))) << Narrow(server);
    EXPECT_TRUE(SameFile(dll_, Value(inproc))) << Narrow(Value(inproc));
    EXPECT_EQ("Apartment", Narrow(Value(inproc, L"ThreadingModel")));
    ExpectSharedKeys();
  }
  for (int round = 1; round <= 2; ++round) {
    EXPECT_EQ(S_OK, CallExport(dll_, "DllUnregisterServer")) << "round " << round;
    EXPECT_EQ(0u, RunServerExe(L"-UnregServer")) << "round " << round;
    EXPECT_FALSE(class_keys::Exists(SimClassKey()));
    EXPECT_FALSE(class_keys::Exists(kBrenvickSimProgId));
  }
}

// The DLL and the EXE share the class and the ProgID: each one unregistered
// leaves the other registered and reachable, and the last one leaves nothing
// of ours, nor takes a ProgID a user gave another server in between.
TEST_F(SelfRegistration, ServerExeUnregisteringLeavesTheDllRegistration) {
  ASSERT_EQ(S_OK, CallExport(dll_, "DllRegisterServer"));
  ASSERT_EQ(0u, RunServerExe(L"/RegServer"));
  ASSERT_EQ(0u, RunServerExe(L"/UnregServer"));
  EXPECT_FALSE(class_keys::Exists(SimClassKey() + L"\\LocalServer32"));
  EXPECT_TRUE(class_keys::Exists(SimClassKey() + L"\\InprocServer32"));
  ExpectSharedKeys();
  EXPECT_EQ(S_OK, Activate(CLSCTX_INPROC_SERVER));

  ASSERT_EQ(S_OK, CallExport(dll_, "DllUnregisterServer"));
  EXPECT_FALSE(class_keys::Exists(SimClassKey()));
  EXPECT_FALSE(class_keys::Exists(kBrenvickSimProgId));
}

TEST_F(SelfRegistration, DllUnregisteringLeavesTheServerExeRegistration) {
  ASSERT_EQ(0u, RunServerExe(L"/RegServer"));
  ASSERT_EQ(S_OK, CallExport(dll_, "DllRegisterServer"));
  ASSERT_EQ(S_OK, CallExport(dll_, "DllUnregisterServer"));
  EXPECT_FALSE(class_keys::Exists(SimClassKey() + L"\\InprocServer32"));
  EXPECT_TRUE(class_keys::Exists(SimClassKey() + L"\\LocalServer32"));
  ExpectSharedKeys();
  EXPECT_EQ(S_OK, Activate(CLSCTX_LOCAL_SERVER));

  // A real server given the ProgID while ours were registered keeps it.
  ASSERT_EQ(S_OK, CallExport(dll_, "DllRegisterServer"));
  ASSERT_NO_FATAL_FAILURE(RegisterForeignProgId());
  ASSERT_EQ(0u, RunServerExe(L"/UnregServer"));
  ASSERT_EQ(S_OK, CallExport(dll_, "DllUnregisterServer"));
  EXPECT_FALSE(class_keys::Exists(SimClassKey()));
  ExpectForeignProgId();
}

TEST_F(SelfRegistration, NeitherServerTakesAProgIdOfAnotherClassNorChangesAnything) {
  ASSERT_NO_FATAL_FAILURE(RegisterForeignProgId());
  EXPECT_EQ(1u, RunServerExe(L"/RegServer"));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), CallExport(dll_, "DllRegisterServer"));
  ExpectForeignProgId();
  EXPECT_FALSE(class_keys::Exists(SimClassKey())) << "a refused registration writes nothing";
  // Nor does unregistering take the other class's ProgID.
  EXPECT_EQ(0u, RunServerExe(L"/UnregServer"));
  EXPECT_EQ(S_OK, CallExport(dll_, "DllUnregisterServer"));
  ExpectForeignProgId();
}

// Both architectures share the ProgID: it goes with the last class.
TEST_F(SelfRegistration, EachArchitectureRemovesOnlyItsOwnClass) {
  REQUIRE_PRECONDITION(OtherView() != 0, "a 32-bit system has no other architecture");
  ASSERT_TRUE(StageOtherDll(true));
  ASSERT_TRUE(class_keys::SetString(std::wstring(kBrenvickSimProgId) + L"\\CLSID", nullptr,
                                    class_keys::GuidText(CLSID_BrenvickSimServer)));

  ASSERT_EQ(S_OK, CallExport(dll_, "DllRegisterServer"));
  ASSERT_EQ(S_OK, CallExport(dll_, "DllUnregisterServer"));
  EXPECT_FALSE(class_keys::Exists(SimClassKey()));
  EXPECT_EQ("C:\\other\\simserver.dll", Narrow(Value(SimClassKey() + L"\\InprocServer32", nullptr, OtherView())));
  EXPECT_EQ(Narrow(class_keys::GuidText(CLSID_BrenvickSimServer)),
            Narrow(Value(std::wstring(kBrenvickSimProgId) + L"\\CLSID")))
      << "the other architecture still uses the ProgID";

  ASSERT_TRUE(StageOtherDll(false));
  ASSERT_EQ(S_OK, CallExport(dll_, "DllRegisterServer"));
  ASSERT_EQ(S_OK, CallExport(dll_, "DllUnregisterServer"));
  EXPECT_FALSE(class_keys::Exists(kBrenvickSimProgId));
}

}  // namespace
