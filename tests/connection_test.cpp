// ConnectServer through the real runtime: CLSIDFromString resolves the
// ProgID from the prefix registry, CoCreateInstanceEx finds the tests'
// class object registered with CoRegisterClassObject. Each test registers
// what it needs and the fixture removes it again, so the registry is left
// as it was found; on a machine where a server is registered under the
// ProgID they skip.
#include "connection.h"

#include "com_test.h"
#include "fake_class_factory.h"
#include "fake_server.h"

namespace {

using ::testing::DoAll;
using ::testing::Eq;
using ::testing::IsNull;
using ::testing::NotNull;
using ::testing::Return;
using ::testing::SetArgPointee;
using ::testing::StrictMock;

// A class identifier of the tests' own; nothing else registers it.
const CLSID CLSID_TestServer = {0x5D3E2C7B, 0x8F41, 0x4E8B, {0x9A, 0x10, 0x6F, 0x1B, 0x5D, 0x2A, 0x3C, 0x47}};

const std::wstring kProgIdKey = std::wstring(L"Software\\Classes\\") + SERVER_PROGID;

// Whether CLSIDFromString resolves SERVER_PROGID, and to what.
bool ProgIdResolves(CLSID *clsid) { return SUCCEEDED(CLSIDFromString(SERVER_PROGID, clsid)); }

class ConnectionTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    if (HasFatalFailure()) return;
    CLSID found;
    REQUIRE_PRECONDITION(!ProgIdResolves(&found), "a server is registered under SERVER_PROGID on this machine");
    const HRESULT hr = CoRegisterClassObject(CLSID_TestServer, static_cast<IClassFactory *>(&factory),
                                             CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
    ASSERT_HR(S_OK, hr) << " (CoRegisterClassObject)";
    classRegistered_ = true;
  }

  void TearDown() override {
    if (classRegistered_) {
      EXPECT_HR(S_OK, CoRevokeClassObject(cookie_)) << " (CoRevokeClassObject)";
    }
    if (progIdRoot_ != nullptr) {
      EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(progIdRoot_, kProgIdKey.c_str()));
      CLSID found;
      EXPECT_FALSE(ProgIdResolves(&found)) << "SERVER_PROGID still resolves after its removal";
    }
    ComTest::TearDown();
  }

  // Registers SERVER_PROGID for CLSID_TestServer: per user first; where
  // HKEY_CLASSES_ROOT does not see the per-user classes, per machine.
  void RegisterProgId() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      ASSERT_TRUE(WriteProgId(root));
      CLSID found = CLSID_NULL;
      if (ProgIdResolves(&found)) {
        ASSERT_EQ(CLSID_TestServer, found) << "SERVER_PROGID resolves to another class";
        return;
      }
      ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(root, kProgIdKey.c_str()));
      progIdRoot_ = nullptr;
    }
    FAIL() << "CLSIDFromString does not see SERVER_PROGID under HKCU or HKLM Software\\Classes";
  }

  StrictMock<FakeClassFactory> factory;
  StrictMock<FakeServer> server;

 private:
  bool WriteProgId(HKEY root) {
    HKEY progId = nullptr;
    DWORD disposition = 0;
    LONG rc = RegCreateKeyExW(root, kProgIdKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &progId,
                              &disposition);
    EXPECT_EQ(ERROR_SUCCESS, rc) << "creating the ProgID key";
    if (rc != ERROR_SUCCESS) return false;
    if (disposition != REG_CREATED_NEW_KEY) {
      RegCloseKey(progId);
      ADD_FAILURE() << "the ProgID key existed before the test";
      return false;
    }
    progIdRoot_ = root;
    wchar_t text[40];
    StringFromGUID2(CLSID_TestServer, text, 40);
    rc = RegSetKeyValueW(progId, L"CLSID", nullptr, REG_SZ, text,
                         static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(progId);
    EXPECT_EQ(ERROR_SUCCESS, rc) << "writing the ProgID's CLSID";
    return rc == ERROR_SUCCESS;
  }

  DWORD cookie_ = 0;
  bool classRegistered_ = false;
  HKEY progIdRoot_ = nullptr;
};

TEST_F(ConnectionTest, UnregisteredProgIdGivesNullWithoutCreation) {
  // The strict factory fails the test on any CreateInstance.
  EXPECT_EQ(nullptr, ConnectServer());
  EXPECT_REFS(&server, 0u);
}

TEST_F(ConnectionTest, RefusedCreationGivesNull) {
  ASSERT_NO_FATAL_FAILURE(RegisterProgId());
  EXPECT_CALL(factory, CreateInstance(IsNull(), Eq(IID_IOPCServer), NotNull())).WillOnce(Return(E_OUTOFMEMORY));

  EXPECT_EQ(nullptr, ConnectServer());
}

TEST_F(ConnectionTest, ServerRefusingIOPCServerGivesNullAndKeepsNoReference) {
  ASSERT_NO_FATAL_FAILURE(RegisterProgId());
  factory.product = static_cast<IOPCServer *>(&server);
  server.SetAnswer(IID_IOPCServer, Answer::Refuse);
  EXPECT_CALL(factory, CreateInstance(IsNull(), Eq(IID_IOPCServer), NotNull()));

  EXPECT_EQ(nullptr, ConnectServer());
  EXPECT_EQ(1u, server.Queries(IID_IOPCServer));
  EXPECT_REFS(&server, 0u);
}

TEST_F(ConnectionTest, CreationSucceedingWithoutObjectGivesNull) {
  ASSERT_NO_FATAL_FAILURE(RegisterProgId());
  EXPECT_CALL(factory, CreateInstance(IsNull(), Eq(IID_IOPCServer), NotNull()))
      .WillOnce(DoAll(SetArgPointee<2>(nullptr), Return(S_OK)));

  EXPECT_EQ(nullptr, ConnectServer());
}

TEST_F(ConnectionTest, CreatedServerComesWithOneReferenceForTheCaller) {
  ASSERT_NO_FATAL_FAILURE(RegisterProgId());
  factory.product = static_cast<IOPCServer *>(&server);
  EXPECT_CALL(factory, CreateInstance(IsNull(), Eq(IID_IOPCServer), NotNull()));

  IOPCServer *connected = ConnectServer();
  EXPECT_EQ(static_cast<IOPCServer *>(&server), connected);
  EXPECT_REFS(&server, 1u);
  if (connected != nullptr) connected->Release();
  EXPECT_REFS(&server, 0u);
}

// With a single MULTI_QI entry, Wine's CoCreateInstanceEx fails as a whole
// whenever the entry fails, so "the call succeeded but the entry did not"
// cannot be produced through the runtime; the decision is checked here
// directly. The entries hold a pointer although their hr failed, to show
// that the hr, not the pointer, decides.
TEST_F(ConnectionTest, ActivationResultDecidesOnCallAndEntry) {
  IUnknown *object = static_cast<IOPCServer *>(&server);
  const struct {
    HRESULT call;
    HRESULT entry;
    IUnknown *pointer;
    IOPCServer *expected;
  } cases[] = {
      {S_OK, S_OK, object, &server},
      {CO_S_NOTALLINTERFACES, E_NOINTERFACE, object, nullptr},
      {CO_S_NOTALLINTERFACES, E_NOINTERFACE, nullptr, nullptr},
      {E_NOINTERFACE, S_OK, object, nullptr},
      {S_OK, S_OK, nullptr, nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE("call " + HrText(c.call) + ", entry " + HrText(c.entry));
    const MULTI_QI entry = {&IID_IOPCServer, c.pointer, c.entry};
    EXPECT_EQ(c.expected, ServerFromActivation(c.call, entry));
  }
  EXPECT_REFS(&server, 0u);
}

}  // namespace
