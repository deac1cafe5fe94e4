// Self-registration of opcproxy.dll, simserver.exe and simserver.dll beside
// it, in the test prefix's registry: each writes what COM needs, never replaces
// a key that names another class, and removes only its own.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>

#include "../simserver/simserver_clsid.h"
#include "class_keys.h"
#include "opcda.h"

namespace {

using RegisterFn = HRESULT(STDAPICALLTYPE *)();

// {D0CD6F78-410B-4371-B619-43EF6A33B157}, the proxy's class.
constexpr wchar_t kProxyClass[] = L"{D0CD6F78-410B-4371-B619-43EF6A33B157}";
constexpr wchar_t kForeignClass[] = L"{11111111-2222-3333-4444-555555555555}";
const IID *const kInterfaces[] = {&IID_IOPCServer, &IID_IOPCBrowseServerAddressSpace, &IID_IOPCItemMgt,
                                  &IID_IOPCSyncIO};

std::wstring Environment(const wchar_t *name) {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
  return n > 0 && n < MAX_PATH * 2 ? buffer : L"";
}

std::wstring InterfaceKey(const IID &iid) { return L"Interface\\" + class_keys::GuidText(iid); }
std::wstring SimClassKey() { return L"CLSID\\" + class_keys::GuidText(CLSID_BrenvickSimServer); }

std::wstring Value(const std::wstring &key, const wchar_t *name = nullptr) {
  std::wstring value;
  return class_keys::ReadString(key, name, &value) ? value : L"(absent)";
}

std::string Narrow(const std::wstring &text) { return std::string(text.begin(), text.end()); }

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

class SelfRegistration : public ::testing::Test {
 protected:
  void SetUp() override {
    proxy_ = Environment(L"OPCPROXY_DLL");
    ASSERT_FALSE(proxy_.empty()) << "OPCPROXY_DLL not set";
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    Clean();
  }
  void TearDown() override {
    Clean();
    CoUninitialize();
  }
  static void Clean() {
    CallExport(Environment(L"OPCPROXY_DLL"), "DllUnregisterServer");
    CallExport(Environment(L"SIMSERVER_DLL"), "DllUnregisterServer");
    for (const IID *iid : kInterfaces) {
      if (Value(InterfaceKey(*iid) + L"\\ProxyStubClsid32") == kForeignClass) class_keys::DeleteTree(InterfaceKey(*iid));
    }
    class_keys::DeleteTree(SimClassKey());
    class_keys::DeleteTree(kBrenvickSimProgId);
  }
  std::wstring proxy_;
};

TEST_F(SelfRegistration, ProxyRegistersEveryInterfaceAndItsClassAndRemovesThemAgain) {
  ASSERT_EQ(S_OK, CallExport(proxy_, "DllRegisterServer"));
  const std::wstring class_key = std::wstring(L"CLSID\\") + kProxyClass + L"\\InprocServer32";
  EXPECT_EQ("Both", Narrow(Value(class_key, L"ThreadingModel")));
  EXPECT_TRUE(SameFile(proxy_, Value(class_key))) << Narrow(Value(class_key));
  for (const IID *iid : kInterfaces) {
    EXPECT_EQ(Narrow(kProxyClass), Narrow(Value(InterfaceKey(*iid) + L"\\ProxyStubClsid32")))
        << Narrow(InterfaceKey(*iid));
  }
  EXPECT_EQ("9", Narrow(Value(InterfaceKey(IID_IOPCServer) + L"\\NumMethods")));

  ASSERT_EQ(S_OK, CallExport(proxy_, "DllUnregisterServer"));
  EXPECT_FALSE(class_keys::Exists(std::wstring(L"CLSID\\") + kProxyClass));
  for (const IID *iid : kInterfaces) EXPECT_FALSE(class_keys::Exists(InterfaceKey(*iid))) << Narrow(InterfaceKey(*iid));
}

TEST_F(SelfRegistration, ProxyLeavesAnotherProxyOfAnInterfaceAndWhatElseItsKeyHolds) {
  // Another runtime's proxy for the read interface, and a type library
  // entry beside nothing else for the item interface.
  ASSERT_TRUE(class_keys::SetString(InterfaceKey(IID_IOPCSyncIO) + L"\\ProxyStubClsid32", nullptr, kForeignClass));
  ASSERT_TRUE(class_keys::SetString(InterfaceKey(IID_IOPCItemMgt) + L"\\TypeLib", nullptr, kForeignClass));

  ASSERT_EQ(S_OK, CallExport(proxy_, "DllRegisterServer"));
  EXPECT_EQ(Narrow(kForeignClass), Narrow(Value(InterfaceKey(IID_IOPCSyncIO) + L"\\ProxyStubClsid32")));
  EXPECT_EQ(Narrow(kProxyClass), Narrow(Value(InterfaceKey(IID_IOPCItemMgt) + L"\\ProxyStubClsid32")));

  ASSERT_EQ(S_OK, CallExport(proxy_, "DllUnregisterServer"));
  EXPECT_EQ(Narrow(kForeignClass), Narrow(Value(InterfaceKey(IID_IOPCSyncIO) + L"\\ProxyStubClsid32")));
  EXPECT_EQ(Narrow(kForeignClass), Narrow(Value(InterfaceKey(IID_IOPCItemMgt) + L"\\TypeLib")));
  EXPECT_FALSE(class_keys::Exists(InterfaceKey(IID_IOPCItemMgt) + L"\\ProxyStubClsid32"));
  EXPECT_FALSE(class_keys::Exists(InterfaceKey(IID_IOPCServer)));
  class_keys::DeleteTree(InterfaceKey(IID_IOPCItemMgt));
}

TEST_F(SelfRegistration, ServerExeRegistersItselfAsLocalServerAndRemovesItsKeys) {
  ASSERT_EQ(0u, RunServerExe(L"/RegServer"));
  // Quoted: the path may hold spaces.
  const std::wstring server = Value(SimClassKey() + L"\\LocalServer32");
  ASSERT_TRUE(server.size() > 2 && server.front() == L'"' && server.back() == L'"') << Narrow(server);
  EXPECT_TRUE(SameFile(Environment(L"SIMSERVER_EXE"), server.substr(1, server.size() - 2))) << Narrow(server);
  EXPECT_EQ(Narrow(class_keys::GuidText(CLSID_BrenvickSimServer)),
            Narrow(Value(std::wstring(kBrenvickSimProgId) + L"\\CLSID")));

  ASSERT_EQ(0u, RunServerExe(L"-UnregServer"));
  EXPECT_FALSE(class_keys::Exists(SimClassKey()));
  EXPECT_FALSE(class_keys::Exists(kBrenvickSimProgId));
}

// The DLL and the EXE share the class and the ProgID: each one unregistered
// leaves the other registered and reachable, and the last one leaves nothing
// of ours, nor takes a ProgID a user gave another server in between.
TEST_F(SelfRegistration, ServerExeUnregisteringLeavesTheDllRegistration) {
  ASSERT_EQ(S_OK, CallExport(Environment(L"SIMSERVER_DLL"), "DllRegisterServer"));
  ASSERT_EQ(0u, RunServerExe(L"/RegServer"));
  ASSERT_EQ(0u, RunServerExe(L"/UnregServer"));
  EXPECT_FALSE(class_keys::Exists(SimClassKey() + L"\\LocalServer32"));
  EXPECT_TRUE(class_keys::Exists(SimClassKey() + L"\\InprocServer32"));
  ExpectSharedKeys();
  EXPECT_EQ(S_OK, Activate(CLSCTX_INPROC_SERVER));

  ASSERT_EQ(S_OK, CallExport(Environment(L"SIMSERVER_DLL"), "DllUnregisterServer"));
  EXPECT_FALSE(class_keys::Exists(SimClassKey()));
  EXPECT_FALSE(class_keys::Exists(kBrenvickSimProgId));
}

TEST_F(SelfRegistration, DllUnregisteringLeavesTheServerExeRegistration) {
  ASSERT_EQ(0u, RunServerExe(L"/RegServer"));
  ASSERT_EQ(S_OK, CallExport(Environment(L"SIMSERVER_DLL"), "DllRegisterServer"));
  ASSERT_EQ(S_OK, CallExport(Environment(L"SIMSERVER_DLL"), "DllUnregisterServer"));
  EXPECT_FALSE(class_keys::Exists(SimClassKey() + L"\\InprocServer32"));
  EXPECT_TRUE(class_keys::Exists(SimClassKey() + L"\\LocalServer32"));
  ExpectSharedKeys();
  EXPECT_EQ(S_OK, Activate(CLSCTX_LOCAL_SERVER));

  // A real server given the ProgID while ours were registered keeps it.
  ASSERT_EQ(S_OK, CallExport(Environment(L"SIMSERVER_DLL"), "DllRegisterServer"));
  ASSERT_TRUE(class_keys::SetString(std::wstring(kBrenvickSimProgId) + L"\\CLSID", nullptr, kForeignClass));
  ASSERT_EQ(0u, RunServerExe(L"/UnregServer"));
  ASSERT_EQ(S_OK, CallExport(Environment(L"SIMSERVER_DLL"), "DllUnregisterServer"));
  EXPECT_FALSE(class_keys::Exists(SimClassKey()));
  EXPECT_EQ(Narrow(kForeignClass), Narrow(Value(std::wstring(kBrenvickSimProgId) + L"\\CLSID")));
}

TEST_F(SelfRegistration, ServerExeRefusesAProgIdOfAnotherClassAndChangesNothing) {
  ASSERT_TRUE(class_keys::SetString(std::wstring(kBrenvickSimProgId) + L"\\CLSID", nullptr, kForeignClass));
  EXPECT_EQ(1u, RunServerExe(L"/RegServer"));
  EXPECT_EQ(Narrow(kForeignClass), Narrow(Value(std::wstring(kBrenvickSimProgId) + L"\\CLSID")));
  EXPECT_FALSE(class_keys::Exists(SimClassKey()));
  // Nor does unregistering take the other class's ProgID.
  EXPECT_EQ(0u, RunServerExe(L"/UnregServer"));
  EXPECT_EQ(Narrow(kForeignClass), Narrow(Value(std::wstring(kBrenvickSimProgId) + L"\\CLSID")));
}

}  // namespace
